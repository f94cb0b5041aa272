/// \file
/// CBasicList: a doubly linked list of untyped item pointers with a cursor, positional access through an
/// index array built on demand, an optional item handler that creates, copies, compares and destroys
/// items, and attached iterators (CBasicListIterator) that are put back on the first element whenever
/// an element is removed.
///
/// Every public operation is virtual and declared in a fixed slot order: lists created by one component
/// are driven by another through this table (the model library's CKarnList derives from CBasicList, and
/// CBasicMap adds its own operations after the last slot). Do not reorder, insert or remove virtual
/// members.
///
/// Elements, the iterator registry and the items of the built-in handlers are allocated with the
/// throwing allocation (std::bad_alloc); the index array with a plain allocation whose failure makes
/// positional access return null. Items belong to the caller, except that a list with a handler
/// destroys them in DeleteData, DeleteAll and SetDataHandler. A list is used by one thread at a time;
/// even read-only walks move its cursor.
#pragma once

#include "foundation/Export.h"

class CBasicList;
class CBasicListIterator;

/// Operation codes passed to a ListDataHandler.
enum ListDataOperationTypes
{
    ListDataCreate = 0,  ///< allocate a new zero-valued item and store its pointer in *ppItem
    ListDataDestroy = 1, ///< free *ppItem and store null
    ListDataCopy = 2,    ///< copy pOther's value into *ppItem; false for a null pOther
    ListDataEqual = 3    ///< whether *ppItem's value equals pOther's; false for a null pOther
};

/// An item handler: false for a null ppItem or an unknown operation code.
typedef bool (*ListDataHandler)(int nOperation, void** ppItem, void* pOther);

/// Items that are signed 32-bit integers.
BASIC_API bool IntegerDataHandler(int nOperation, void** ppItem, void* pOther);
/// Items that are doubles; a NaN equals nothing.
BASIC_API bool DoubleDataHandler(int nOperation, void** ppItem, void* pOther);
/// Items that are CBasicString objects, compared case-sensitively.
BASIC_API bool StringDataHandler(int nOperation, void** ppItem, void* pOther);

/// One link of a list. Destroying an element never touches its item. A list creates its elements in
/// storage it owns and destroys them itself; never delete an element.
class BASIC_API CBasicListElement
{
public:
    CBasicListElement();
    virtual ~CBasicListElement();

    CBasicListElement* m_pPrev; ///< null at the head
    CBasicListElement* m_pNext; ///< null at the tail
    void* m_pData;              ///< the item; never null while the element is linked
};

class CBasicListElementPool;

class BASIC_API CBasicList
{
public:
    /// An empty list without a handler; allocates nothing.
    CBasicList();
    /// Unlinks every element (resetting attached iterators), detaches the iterators that are still
    /// attached (their list becomes null, so an iterator may outlive its list), and frees the elements'
    /// storage, the registry and the index array. Items are not destroyed, even with a handler: call
    /// DeleteAll first for that.
    virtual ~CBasicList(); ///< slot 0
    /// The item at nIndex (null outside 0..count-1 or when the index array cannot be allocated); a found
    /// element becomes the cursor.
    virtual void* GetAt(int nIndex); ///< slot 1
    virtual int GetCount() const;    ///< slot 2
    /// Cursor walk: GetFirstElement puts the cursor on the head (null and no move for an empty list);
    /// GetNextElement/GetPrevElement step it, returning null (and standing on none) past an end, and
    /// null without a cursor. GetLastElement returns the tail without moving the cursor.
    virtual CBasicListElement* GetFirstElement();      ///< slot 3
    virtual CBasicListElement* GetLastElement() const; ///< slot 4
    virtual CBasicListElement* GetNextElement();       ///< slot 5
    virtual CBasicListElement* GetPrevElement();       ///< slot 6
    /// The first element whose item equals pItem (by the handler's equality, or by pointer without a
    /// handler); it becomes the cursor. Null for a null item or no match (the cursor is then null).
    virtual CBasicListElement* FindElement(void* pItem); ///< slot 7
    /// Link a new element holding pItem; false for a null item (or element). pElement of InsertAfter must
    /// belong to this list. Raise std::bad_alloc when no element can be had; the cursor does not move.
    virtual bool AddTail(void* pItem);                                  ///< slot 8
    virtual bool AddHead(void* pItem);                                  ///< slot 9
    virtual bool InsertAfter(CBasicListElement* pElement, void* pItem); ///< slot 10
    /// Unlinks the element FindElement finds (item kept) and resets the iterators, also without a match;
    /// false for a null item or no match.
    virtual bool Remove(void* pItem); ///< slot 11
    /// Unlinks the head and returns its item; null for an empty list.
    virtual void* RemoveHead(); ///< slot 12
    /// Unlinks every element (items kept), leaves the cursor null and resets the iterators; false for an
    /// empty list.
    virtual bool RemoveAll();                             ///< slot 13
    virtual void* GetHead() const;                        ///< slot 14
    virtual void* GetTail() const;                        ///< slot 15
    virtual CBasicListElement* GetCurrentElement() const; ///< slot 16
    /// The element at nIndex, through the index array (built here if missing, which leaves the cursor
    /// null); null outside 0..count-1 or when the array cannot be allocated.
    virtual CBasicListElement* GetElementAt(int nIndex); ///< slot 17
    virtual int GetIteratorCount() const;                ///< slot 18
    virtual ListDataHandler GetDataHandler() const;      ///< slot 19
    /// Empties the list (destroying the items through the old handler if there is one), then installs
    /// pHandler (may be null).
    virtual void SetDataHandler(ListDataHandler pHandler); ///< slot 20
    /// Adds a copy of pSource made through the handler; false without a handler or when creating or
    /// copying fails (the new item is then destroyed again).
    virtual bool AddTailCopy(void* pSource); ///< slot 21
    virtual bool AddHeadCopy(void* pSource); ///< slot 22
    /// Destroys the item of FindElement's match through the handler and unlinks it; false without a
    /// handler, without a match, or when the handler refuses to destroy (nothing unlinked then).
    virtual bool DeleteData(void* pItem); ///< slot 23
    /// Destroys every item through the handler and empties the list; true if any destroy succeeded.
    /// False, and nothing changes, for an empty list or without a handler.
    virtual bool DeleteAll(); ///< slot 24
    /// AddTailCopy, or AddTail of the pointer itself when that fails.
    virtual bool Append(void* pItem); ///< slot 25
    /// DeleteData, or Remove when that fails.
    virtual bool Delete(void* pItem); ///< slot 26
    /// SetDataHandler with IntegerDataHandler, DoubleDataHandler, StringDataHandler.
    virtual void UseIntegerData(); ///< slot 27
    virtual void UseDoubleData();  ///< slot 28
    virtual void UseStringData();  ///< slot 29
    /// Registers an iterator to be reset on removals (CBasicListIterator does this itself); false for
    /// null. Raises std::bad_alloc when the registry cannot grow.
    virtual bool AttachIterator(CBasicListIterator* pIterator); ///< slot 30
    /// Unregisters an iterator; it is left with no list and no element, since it would no longer be
    /// reset. False for null, no registry, or an iterator not attached.
    virtual bool DetachIterator(CBasicListIterator* pIterator); ///< slot 31
    /// Unregisters every iterator as DetachIterator does; false without a registry.
    virtual bool DetachAllIterators(); ///< slot 32
    /// Sets the cursor; the element must belong to this list or be null.
    virtual void SetCurrentElement(CBasicListElement* pElement); ///< slot 33

    CBasicList(const CBasicList&) = delete;
    CBasicList& operator=(const CBasicList&) = delete;

protected:
    /// Fills the index array by walking the list (leaving the cursor null); false if it cannot be had.
    bool BuildIndex();
    /// Unlinks and destroys one element (not its item); the cursor moves to its previous element if it
    /// stood on it.
    void UnlinkElement(CBasicListElement* pElement);
    /// Puts every attached iterator back on the first element, in the order of attachment.
    void ResetIterators();

    CBasicListElement* m_pHead;
    CBasicListElement* m_pTail;
    CBasicListElement* m_pCurrent;
    int m_nCount;
    ListDataHandler m_pDataHandler;
    CBasicList* m_pIterators;
    CBasicListElement** m_ppIndex;

private:
    /// AddTailCopy and AddHeadCopy: a new item made by the handler, a copy of the source, added at the
    /// tail or the head; the item is destroyed again when any step fails.
    bool AddCopy(void* pSource, bool bAtHead);
    /// A new element holding pItem, from the pool; raises std::bad_alloc.
    CBasicListElement* NewElement(void* pItem);
    /// Runs the element's destructor and gives its storage back to the pool.
    void DestroyElement(CBasicListElement* pElement);
    void DiscardIndex();
    /// Empties the registry, leaving each iterator that still named this list with no list.
    void ForgetIterators();

    /// Storage of the elements, owned by the list and created with its first element, so that adding and
    /// removing costs no general heap allocation per element. RemoveAll keeps its largest chunk for reuse
    /// and frees the rest; the destructor frees it all.
    CBasicListElementPool* m_pElementPool;
};

/// An external cursor over a list. It attaches itself to its list from construction (or SetList) to
/// destruction (or the next SetList), and is put back on the first element whenever the list removes an
/// element. A list that is destroyed first detaches its iterators, which then have no list. Operations
/// on an iterator without a list return false, null or 0. Attaching may raise std::bad_alloc.
class BASIC_API CBasicListIterator
{
public:
    /// Attaches to pList (may be null) and stands on its first element.
    explicit CBasicListIterator(CBasicList* pList = nullptr);
    /// Attaches to the other's list and stands on the other's current element.
    CBasicListIterator(const CBasicListIterator& other);
    virtual ~CBasicListIterator();       ///< slot 0
    virtual CBasicList* GetList() const; ///< slot 1
    /// Detaches from the current list, attaches to pList (may be null) and calls First.
    virtual void SetList(CBasicList* pList); ///< slot 2
    /// Stands on the element at nIndex and returns its item; null, and no move, when there is none.
    virtual void* MoveTo(int nIndex); ///< slot 3
    /// Steps to the next (++) or previous (--) element, to none past an end; from none, ++ starts at
    /// the first element and -- at the last. Prefix and postfix do the same and return this iterator.
    virtual CBasicListIterator& operator++(int); ///< slot 4
    virtual CBasicListIterator& operator++();    ///< slot 5
    virtual CBasicListIterator& operator--(int); ///< slot 6
    virtual CBasicListIterator& operator--();    ///< slot 7
    /// The current element's item; null on no element.
    virtual void* GetData() const; ///< slot 8
    /// Walks the other's list and stands on the other's current element.
    virtual CBasicListIterator& operator=(const CBasicListIterator& other); ///< slot 9
    virtual int GetCount() const;                                           ///< slot 10
    /// Stand on the list's first (which moves the list's cursor there) or last element; false on none.
    virtual bool First(); ///< slot 11
    virtual bool Last();  ///< slot 12
    /// The list's operations of the same names.
    virtual bool AddTail(void* pItem); ///< slot 13
    virtual bool AddHead(void* pItem); ///< slot 14
    /// Inserts after the current element (after First when there is none); false on an empty list.
    virtual bool InsertAfterCurrent(void* pItem);         ///< slot 15
    virtual bool Remove(void* pItem);                     ///< slot 16
    virtual void* RemoveHead();                           ///< slot 17
    virtual bool RemoveAll();                             ///< slot 18
    virtual bool AddTailCopy(void* pSource);              ///< slot 19
    virtual bool AddHeadCopy(void* pSource);              ///< slot 20
    virtual bool DeleteData(void* pItem);                 ///< slot 21
    virtual bool DeleteAll();                             ///< slot 22
    virtual CBasicListElement* GetCurrentElement() const; ///< slot 23

private:
    friend class CBasicList;

    CBasicList* m_pList;
    CBasicListElement* m_pCurrent;
};
