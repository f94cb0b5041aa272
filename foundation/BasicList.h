// CBasicList: a doubly linked list of untyped item pointers with a cursor, positional access through an
// index array built on demand, an optional item handler that creates, copies, compares and destroys
// items, and attached iterators (CBasicListIterator) that are put back on the first element whenever
// an element is removed.
//
// Every public operation is virtual and declared in a fixed slot order: lists created by one component
// are driven by another through this table (the model library's CKarnList derives from CBasicList, and
// CBasicMap adds its own operations after the last slot). Do not reorder, insert or remove virtual
// members.
//
// Elements, the iterator registry and the items of the built-in handlers are allocated with the
// throwing allocation (std::bad_alloc); the index array with a plain allocation whose failure makes
// positional access return null. Items belong to the caller, except that a list with a handler
// destroys them in DeleteData, DeleteAll and SetDataHandler. A list is used by one thread at a time;
// even read-only walks move its cursor.
#pragma once

#include "foundation/Export.h"

class CBasicList;
class CBasicListIterator;

// Operation codes passed to a ListDataHandler.
enum ListDataOperationTypes
{
    ListDataCreate = 0,  // allocate a new zero-valued item and store its pointer in *ppItem
    ListDataDestroy = 1, // free *ppItem and store null
    ListDataCopy = 2,    // copy pOther's value into *ppItem; false for a null pOther
    ListDataEqual = 3    // whether *ppItem's value equals pOther's; false for a null pOther
};

// An item handler: false for a null ppItem or an unknown operation code.
typedef bool (*ListDataHandler)(int nOperation, void** ppItem, void* pOther);

// Items that are signed 32-bit integers.
BASIC_API bool IntegerDataHandler(int nOperation, void** ppItem, void* pOther);
// Items that are doubles; a NaN equals nothing.
BASIC_API bool DoubleDataHandler(int nOperation, void** ppItem, void* pOther);
// Items that are CBasicString objects, compared case-sensitively.
BASIC_API bool StringDataHandler(int nOperation, void** ppItem, void* pOther);

// One link of a list. Destroying an element never touches its item.
class BASIC_API CBasicListElement
{
public:
    CBasicListElement();
    virtual ~CBasicListElement();

    CBasicListElement* m_pPrev; // null at the head
    CBasicListElement* m_pNext; // null at the tail
    void* m_pData;              // the item; never null while the element is linked
};

class CBasicListElementPool;

class BASIC_API CBasicList
{
public:
    CBasicList();
    // Unlinks every element (resetting attached iterators), detaches the iterators that are still
    // attached (their list becomes null), and frees the registry and the index array. Items are not
    // destroyed, even with a handler: call DeleteAll first for that.
    virtual ~CBasicList();                                                // slot 0
    virtual void* GetAt(int nIndex);                                      // slot 1
    virtual int GetCount() const;                                         // slot 2
    virtual CBasicListElement* GetFirstElement();                         // slot 3
    virtual CBasicListElement* GetLastElement() const;                    // slot 4
    virtual CBasicListElement* GetNextElement();                          // slot 5
    virtual CBasicListElement* GetPrevElement();                          // slot 6
    virtual CBasicListElement* FindElement(void* pItem);                  // slot 7
    virtual bool AddTail(void* pItem);                                    // slot 8
    virtual bool AddHead(void* pItem);                                    // slot 9
    virtual bool InsertAfter(CBasicListElement* pElement, void* pItem);   // slot 10
    virtual bool Remove(void* pItem);                                     // slot 11
    virtual void* RemoveHead();                                           // slot 12
    virtual bool RemoveAll();                                             // slot 13
    virtual void* GetHead() const;                                        // slot 14
    virtual void* GetTail() const;                                        // slot 15
    virtual CBasicListElement* GetCurrentElement() const;                 // slot 16
    virtual CBasicListElement* GetElementAt(int nIndex);                  // slot 17
    virtual int GetIteratorCount() const;                                 // slot 18
    virtual ListDataHandler GetDataHandler() const;                       // slot 19
    virtual void SetDataHandler(ListDataHandler pHandler);                // slot 20
    virtual bool AddTailCopy(void* pSource);                              // slot 21
    virtual bool AddHeadCopy(void* pSource);                              // slot 22
    virtual bool DeleteData(void* pItem);                                 // slot 23
    virtual bool DeleteAll();                                             // slot 24
    virtual bool Append(void* pItem);                                     // slot 25
    virtual bool Delete(void* pItem);                                     // slot 26
    virtual void UseIntegerData();                                        // slot 27
    virtual void UseDoubleData();                                         // slot 28
    virtual void UseStringData();                                         // slot 29
    virtual bool AttachIterator(CBasicListIterator* pIterator);           // slot 30
    virtual bool DetachIterator(CBasicListIterator* pIterator);           // slot 31
    virtual bool DetachAllIterators();                                    // slot 32
    virtual void SetCurrentElement(CBasicListElement* pElement);          // slot 33

    CBasicList(const CBasicList&) = delete;
    CBasicList& operator=(const CBasicList&) = delete;

protected:
    // Fills the index array by walking the list (leaving the cursor null); false if it cannot be had.
    bool BuildIndex();
    // Unlinks and destroys one element (not its item); the cursor moves to its previous element if it
    // stood on it.
    void UnlinkElement(CBasicListElement* pElement);
    // Puts every attached iterator back on the first element, in the order of attachment.
    void ResetIterators();

    CBasicListElement* m_pHead;
    CBasicListElement* m_pTail;
    CBasicListElement* m_pCurrent;
    int m_nCount;
    ListDataHandler m_pDataHandler;
    CBasicList* m_pIterators;
    CBasicListElement** m_ppIndex;

private:
    // Storage of the elements, owned by the list, so that adding and removing costs no general heap
    // allocation per element.
    CBasicListElementPool* m_pElementPool;
};

// An external cursor over a list. It attaches itself to its list from construction (or SetList) to
// destruction (or the next SetList), and is put back on the first element whenever the list removes an
// element. A list that is destroyed first detaches its iterators, which then have no list.
class BASIC_API CBasicListIterator
{
public:
    // Attaches to pList (may be null) and stands on its first element.
    explicit CBasicListIterator(CBasicList* pList = nullptr);
    // Attaches to the other's list and stands on the other's current element.
    CBasicListIterator(const CBasicListIterator& other);
    virtual ~CBasicListIterator();                                        // slot 0
    virtual CBasicList* GetList() const;                                  // slot 1
    virtual void SetList(CBasicList* pList);                              // slot 2
    virtual void* MoveTo(int nIndex);                                     // slot 3
    virtual CBasicListIterator& operator++(int);                          // slot 4
    virtual CBasicListIterator& operator++();                             // slot 5
    virtual CBasicListIterator& operator--(int);                          // slot 6
    virtual CBasicListIterator& operator--();                             // slot 7
    virtual void* GetData() const;                                        // slot 8
    virtual CBasicListIterator& operator=(const CBasicListIterator& other); // slot 9
    virtual int GetCount() const;                                         // slot 10
    virtual bool First();                                                 // slot 11
    virtual bool Last();                                                  // slot 12
    virtual bool AddTail(void* pItem);                                    // slot 13
    virtual bool AddHead(void* pItem);                                    // slot 14
    virtual bool InsertAfterCurrent(void* pItem);                         // slot 15
    virtual bool Remove(void* pItem);                                     // slot 16
    virtual void* RemoveHead();                                           // slot 17
    virtual bool RemoveAll();                                             // slot 18
    virtual bool AddTailCopy(void* pSource);                              // slot 19
    virtual bool AddHeadCopy(void* pSource);                              // slot 20
    virtual bool DeleteData(void* pItem);                                 // slot 21
    virtual bool DeleteAll();                                             // slot 22
    virtual CBasicListElement* GetCurrentElement() const;                 // slot 23

private:
    friend class CBasicList;

    CBasicList* m_pList;
    CBasicListElement* m_pCurrent;
};
