/// \file
/// The model library's list: a CBasicList that can hold copies of points or vectors.
#pragma once

#include "external/model/VemoTypes.h"
#include "foundation/BasicList.h"
#include "foundation/Export.h"

/// Item handlers for lists of vemoFloatPoint and of vemoVector items (see ListDataHandler). Create
/// allocates a zero item with the throwing allocation; Copy and Equal take any item of the type (Equal
/// compares the three coordinates, a NaN equals nothing). Items of these handlers live in pooled storage
/// that records, per chunk, where they were allocated, so Destroy accepts only items that the same
/// handler's Create or a CKarnList of that type created.
KARN_API bool PointDataHandler(int nOperation, void** ppItem, void* pOther);
KARN_API bool VectorDataHandler(int nOperation, void** ppItem, void* pOther);

class CKarnItemPool;

/// A CBasicList with two list types: point (items are vemoFloatPoint, handler PointDataHandler) and
/// vector (items are vemoVector, handler VectorDataHandler). Without a list type it is a plain
/// CBasicList (the group stack of the loader holds group pointers that way).
///
/// While the handler is one of these two, AddTailCopy and AddHeadCopy take the new items from storage
/// owned by the list, in chunks, so that a list of millions of points does not cost one heap allocation
/// per item; DeleteData, DeleteAll, SetDataHandler and a direct call of the handler's Destroy return an
/// item to that storage. Every operation gives the same results and the same cursor and iterator
/// effects as with plainly allocated items. Items that leave the list without being destroyed (Remove,
/// RemoveHead, RemoveAll) stay valid, also after the list is destroyed, until they are destroyed through
/// the handler. As for any CBasicList, destroying the list does not destroy its items: call DeleteAll
/// first.
///
/// Copy construction and assignment copy the handler and then the items in order: with a handler each
/// item is copied into a new item of the target (AddTailCopy); without one the item pointers themselves
/// are copied. A copy never shares elements or copied items with its source. Allocation uses the
/// throwing allocation (std::bad_alloc); a copy interrupted by it holds the items copied so far.
class KARN_API CKarnList : public CBasicList
{
public:
    /// An empty list without handler.
    CKarnList();
    CKarnList(const CKarnList& other);
    /// Empties this list (destroying its items when it has a handler), installs the other's handler and
    /// copies the other's items. Attached iterators are put on no element. Self-assignment does nothing.
    CKarnList& operator=(const CKarnList& other);
    ~CKarnList() override;

    /// Makes the list a list of vemoFloatPoint items, emptying it first (as SetDataHandler) unless it
    /// already is one, in which case nothing changes.
    void SetListTypePoint();
    /// The same for vemoVector items.
    void SetListTypeVector();

    bool AddTailCopy(void* pSource) override;
    bool AddHeadCopy(void* pSource) override;
    /// As CBasicList::DeleteAll, with the same results; when every item of the list's own storage is in
    /// the list, that storage is emptied at once instead of item by item.
    bool DeleteAll() override;

private:
    /// A pooled copy of the source added at the tail or the head; the handler's own copy when the
    /// source cannot be pooled.
    bool AddPooledCopy(void* pSource, bool bAtHead);
    /// Creates a pooled copy of the source for the current point or vector handler; null for a null
    /// source.
    void* CreatePooledCopy(const void* pSource);
    /// Appends the other list's items to this one, as the copy operations describe.
    void CopyItemsFrom(const CKarnList& other);

    CKarnItemPool* m_pItemPool; ///< created on the first pooled item; shared with items that outlive us
};
