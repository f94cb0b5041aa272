/// \file
/// The model library's list: a CBasicList that can hold copies of points or vectors.
#pragma once

#include "foundation/BasicList.h"
#include "model/Export.h"
#include "model/VemoTypes.h"

/// Item handlers for lists of vemoFloatPoint and of vemoVector items (see ListDataHandler). Create
/// makes a zero item with new (std::bad_alloc when memory runs out), Destroy frees it with delete;
/// Copy and Equal take any item of the type (Equal compares the three coordinates, a NaN equals
/// nothing). Destroy accepts any item of the type made with new, by a list or by the host.
KARN_API bool PointDataHandler(int nOperation, void** ppItem, void* pOther);
KARN_API bool VectorDataHandler(int nOperation, void** ppItem, void* pOther);

/// A CBasicList with two list types: point (items are vemoFloatPoint, handler PointDataHandler) and
/// vector (items are vemoVector, handler VectorDataHandler). Without a list type it is a plain
/// CBasicList (the group stack of the loader holds group pointers that way).
///
/// The items of both types are made with new from the item types' own storage (see vemoFloatPoint),
/// which holds millions of them without a heap allocation each. Items that leave the list without being
/// destroyed (Remove, RemoveHead, RemoveAll) belong to the caller, who frees them with delete or through
/// the handler; items the host made with new may be added and are then freed by the list like its own.
/// As for any CBasicList, destroying the list does not destroy its items: call DeleteAll first.
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

private:
    /// Appends the other list's items to this one, as the copy operations describe.
    void CopyItemsFrom(const CKarnList& other);
};
