#include "foundation/BasicList.h"

#include "foundation/BasicListElementPool.h"
#include "foundation/BasicListItems.h"

#include "foundation/BasicString.h"
#include "foundation/Platform.h"

#include <cstddef>
#include <cstdint>
#include <new>

// ---------------------------------------------------------------------------------------------------
// Item handlers

namespace
{

// Calls the handler's destroy operation on an item unless released: used so that an item created for a
// copying add is not leaked when linking it in fails or throws.
class CCreatedItemGuard
{
public:
    CCreatedItemGuard(ListDataHandler pHandler, void* pItem) : m_pHandler(pHandler), m_pItem(pItem) {}
    ~CCreatedItemGuard()
    {
        if (m_pItem)
            m_pHandler(ListDataDestroy, &m_pItem, nullptr);
    }
    CCreatedItemGuard(const CCreatedItemGuard&) = delete;
    CCreatedItemGuard& operator=(const CCreatedItemGuard&) = delete;
    void Release() { m_pItem = nullptr; }

private:
    ListDataHandler m_pHandler;
    void* m_pItem;
};

} // namespace

bool IntegerDataHandler(int nOperation, void** ppItem, void* pOther)
{
    return BasicHandleItem<int>(nOperation, ppItem, pOther);
}

bool DoubleDataHandler(int nOperation, void** ppItem, void* pOther)
{
    // Plain == already makes a NaN unequal to everything, itself included.
    return BasicHandleItem<double>(nOperation, ppItem, pOther);
}

bool StringDataHandler(int nOperation, void** ppItem, void* pOther)
{
    return BasicHandleItem<CBasicString>(nOperation, ppItem, pOther);
}

// ---------------------------------------------------------------------------------------------------
// CBasicListElement

CBasicListElement::CBasicListElement() : m_pPrev(nullptr), m_pNext(nullptr), m_pData(nullptr) {}

CBasicListElement::~CBasicListElement() = default;

// ---------------------------------------------------------------------------------------------------
// CBasicList

CBasicList::CBasicList()
    : m_pHead(nullptr), m_pTail(nullptr), m_pCurrent(nullptr), m_nCount(0), m_pDataHandler(nullptr),
      m_pIterators(nullptr), m_ppIndex(nullptr), m_pElementPool(nullptr)
{
}

CBasicList::~CBasicList()
{
    // Not the virtual RemoveAll: a derived class is already gone at this point.
    CBasicList::RemoveAll();
    if (m_pIterators)
    {
        ForgetIterators();
        delete m_pIterators;
        m_pIterators = nullptr;
    }
    DiscardIndex();
    delete m_pElementPool;
}

void* CBasicList::GetAt(int nIndex)
{
    CBasicListElement* pElement = GetElementAt(nIndex);
    if (!pElement)
        return nullptr;
    m_pCurrent = pElement;
    return pElement->m_pData;
}

int CBasicList::GetCount() const
{
    return m_nCount;
}

CBasicListElement* CBasicList::GetFirstElement()
{
    if (m_nCount <= 0 || !m_pHead)
        return nullptr;
    m_pCurrent = m_pHead;
    return m_pHead;
}

CBasicListElement* CBasicList::GetLastElement() const
{
    return m_pTail;
}

CBasicListElement* CBasicList::GetNextElement()
{
    if (!m_pCurrent)
        return nullptr;
    m_pCurrent = m_pCurrent->m_pNext;
    return m_pCurrent;
}

CBasicListElement* CBasicList::GetPrevElement()
{
    if (!m_pCurrent)
        return nullptr;
    m_pCurrent = m_pCurrent->m_pPrev;
    return m_pCurrent;
}

CBasicListElement* CBasicList::FindElement(void* pItem)
{
    if (!pItem || GetCount() <= 0)
        return nullptr;
    for (CBasicListElement* pElement = GetFirstElement(); pElement; pElement = GetNextElement())
    {
        if (m_pDataHandler)
        {
            void* pData = pElement->m_pData;
            if (m_pDataHandler(ListDataEqual, &pData, pItem))
                return pElement;
        }
        else if (pElement->m_pData == pItem)
        {
            return pElement;
        }
    }
    return nullptr;
}

bool CBasicList::AddTail(void* pItem)
{
    if (!pItem)
        return false;
    DiscardIndex();
    CBasicListElement* pElement = NewElement(pItem);
    pElement->m_pPrev = m_pTail;
    if (m_pTail)
        m_pTail->m_pNext = pElement;
    else
        m_pHead = pElement;
    m_pTail = pElement;
    m_nCount = GetCount() + 1;
    return true;
}

bool CBasicList::AddHead(void* pItem)
{
    if (!pItem)
        return false;
    DiscardIndex();
    CBasicListElement* pElement = NewElement(pItem);
    pElement->m_pNext = m_pHead;
    if (m_pHead)
        m_pHead->m_pPrev = pElement;
    else
        m_pTail = pElement;
    m_pHead = pElement;
    m_nCount = GetCount() + 1;
    return true;
}

bool CBasicList::InsertAfter(CBasicListElement* pElement, void* pItem)
{
    if (!pElement || !pItem)
        return false;
    DiscardIndex();
    CBasicListElement* pNew = NewElement(pItem);
    pNew->m_pPrev = pElement;
    pNew->m_pNext = pElement->m_pNext;
    if (pElement->m_pNext)
        pElement->m_pNext->m_pPrev = pNew;
    else
        m_pTail = pNew;
    pElement->m_pNext = pNew;
    m_nCount = GetCount() + 1;
    return true;
}

bool CBasicList::Remove(void* pItem)
{
    if (!pItem)
        return false;
    CBasicListElement* pElement = FindElement(pItem);
    if (pElement)
        UnlinkElement(pElement);
    // Also without a match: every iterator is told that the list may have changed.
    ResetIterators();
    return pElement != nullptr;
}

void* CBasicList::RemoveHead()
{
    if (!m_pHead)
        return nullptr;
    void* pItem = m_pHead->m_pData;
    UnlinkElement(m_pHead);
    ResetIterators();
    return pItem;
}

bool CBasicList::RemoveAll()
{
    if (!m_pHead)
        return false;
    DiscardIndex();
    // Every element is a plain CBasicListElement made by NewElement, whose destructor does nothing, so
    // the elements end with their storage: the whole pool is made free at once, without a walk over
    // millions of elements.
    m_pElementPool->Reset();
    m_pHead = nullptr;
    m_pTail = nullptr;
    m_pCurrent = nullptr;
    m_nCount = 0;
    ResetIterators();
    return true;
}

void* CBasicList::GetHead() const
{
    return m_pHead ? m_pHead->m_pData : nullptr;
}

void* CBasicList::GetTail() const
{
    return m_pTail ? m_pTail->m_pData : nullptr;
}

CBasicListElement* CBasicList::GetCurrentElement() const
{
    return m_pCurrent;
}

CBasicListElement* CBasicList::GetElementAt(int nIndex)
{
    if (nIndex < 0 || nIndex >= m_nCount)
        return nullptr;
    if (!m_ppIndex && !BuildIndex())
        return nullptr;
    return m_ppIndex[nIndex];
}

int CBasicList::GetIteratorCount() const
{
    return m_pIterators ? m_pIterators->GetCount() : 0;
}

ListDataHandler CBasicList::GetDataHandler() const
{
    return m_pDataHandler;
}

void CBasicList::SetDataHandler(ListDataHandler pHandler)
{
    if (m_pDataHandler)
        DeleteAll();
    else
        RemoveAll();
    m_pDataHandler = pHandler;
}

bool CBasicList::AddCopy(void* pSource, bool bAtHead)
{
    if (!m_pDataHandler)
        return false;
    void* pItem = nullptr;
    if (!m_pDataHandler(ListDataCreate, &pItem, nullptr) || !pItem)
        return false;
    CCreatedItemGuard guard(m_pDataHandler, pItem);
    if (!m_pDataHandler(ListDataCopy, &pItem, pSource))
        return false;
    if (!(bAtHead ? AddHead(pItem) : AddTail(pItem)))
        return false;
    guard.Release();
    return true;
}

bool CBasicList::AddTailCopy(void* pSource)
{
    return AddCopy(pSource, false);
}

bool CBasicList::AddHeadCopy(void* pSource)
{
    return AddCopy(pSource, true);
}

bool CBasicList::DeleteData(void* pItem)
{
    if (!m_pDataHandler)
        return false;
    CBasicListElement* pElement = FindElement(pItem);
    if (!pElement)
        return false;
    void* pData = pElement->m_pData;
    if (!m_pDataHandler(ListDataDestroy, &pData, nullptr))
        return false;
    UnlinkElement(pElement);
    ResetIterators();
    return true;
}

bool CBasicList::DeleteAll()
{
    DiscardIndex();
    if (!m_pHead || !m_pDataHandler)
        return false;
    bool bDestroyed = false;
    for (CBasicListElement* pElement = m_pHead; pElement; pElement = pElement->m_pNext)
    {
        if (m_pDataHandler(ListDataDestroy, &pElement->m_pData, nullptr))
            bDestroyed = true;
        pElement->m_pData = nullptr;
    }
    m_pCurrent = nullptr;
    RemoveAll();
    return bDestroyed;
}

bool CBasicList::Append(void* pItem)
{
    if (AddTailCopy(pItem))
        return true;
    return AddTail(pItem);
}

bool CBasicList::Delete(void* pItem)
{
    if (DeleteData(pItem))
        return true;
    return Remove(pItem);
}

void CBasicList::UseIntegerData()
{
    SetDataHandler(IntegerDataHandler);
}

void CBasicList::UseDoubleData()
{
    SetDataHandler(DoubleDataHandler);
}

void CBasicList::UseStringData()
{
    SetDataHandler(StringDataHandler);
}

bool CBasicList::AttachIterator(CBasicListIterator* pIterator)
{
    if (!pIterator)
        return false;
    if (!m_pIterators)
        m_pIterators = new CBasicList();
    return m_pIterators->AddTail(pIterator);
}

bool CBasicList::DetachIterator(CBasicListIterator* pIterator)
{
    if (!pIterator || !m_pIterators)
        return false;
    if (!m_pIterators->Remove(pIterator))
        return false;
    // A detached iterator would no longer be reset on removals, so it must not keep walking this list.
    if (pIterator->m_pList == this)
    {
        pIterator->m_pList = nullptr;
        pIterator->m_pCurrent = nullptr;
    }
    return true;
}

bool CBasicList::DetachAllIterators()
{
    if (!m_pIterators)
        return false;
    ForgetIterators();
    return true;
}

void CBasicList::SetCurrentElement(CBasicListElement* pElement)
{
    m_pCurrent = pElement;
}

bool CBasicList::BuildIndex()
{
    DiscardIndex();
    if (m_nCount <= 0)
        return false;
    CBasicListElement** ppIndex = new (std::nothrow) CBasicListElement*[static_cast<std::size_t>(m_nCount)];
    if (!ppIndex)
        return false;
    int nFilled = 0;
    for (CBasicListElement* pElement = GetFirstElement(); pElement; pElement = GetNextElement())
    {
        if (nFilled < m_nCount)
            ppIndex[nFilled++] = pElement;
    }
    while (nFilled < m_nCount)
        ppIndex[nFilled++] = nullptr;
    m_ppIndex = ppIndex;
    return true;
}

void CBasicList::UnlinkElement(CBasicListElement* pElement)
{
    DiscardIndex();
    if (pElement->m_pPrev)
        pElement->m_pPrev->m_pNext = pElement->m_pNext;
    else
        m_pHead = pElement->m_pNext;
    if (pElement->m_pNext)
        pElement->m_pNext->m_pPrev = pElement->m_pPrev;
    else
        m_pTail = pElement->m_pPrev;
    if (m_pCurrent == pElement)
        m_pCurrent = pElement->m_pPrev;
    --m_nCount;
    DestroyElement(pElement);
}

void CBasicList::ResetIterators()
{
    if (!m_pIterators)
        return;
    CBasicListElement* pEntry = m_pIterators->m_pHead;
    while (pEntry)
    {
        // Read the successor first: First may be overridden and is no business of this walk.
        CBasicListElement* pNext = pEntry->m_pNext;
        static_cast<CBasicListIterator*>(pEntry->m_pData)->First();
        pEntry = pNext;
    }
}

CBasicListElement* CBasicList::NewElement(void* pItem)
{
    if (!m_pElementPool)
        m_pElementPool = new CBasicListElementPool();
    CBasicListElement* pElement = new (m_pElementPool->Allocate()) CBasicListElement();
    pElement->m_pData = pItem;
    return pElement;
}

void CBasicList::DestroyElement(CBasicListElement* pElement)
{
    pElement->CBasicListElement::~CBasicListElement();
    m_pElementPool->Release(pElement);
}

void CBasicList::DiscardIndex()
{
    delete[] m_ppIndex;
    m_ppIndex = nullptr;
}

void CBasicList::ForgetIterators()
{
    for (CBasicListElement* pEntry = m_pIterators->m_pHead; pEntry; pEntry = pEntry->m_pNext)
    {
        CBasicListIterator* pIterator = static_cast<CBasicListIterator*>(pEntry->m_pData);
        if (pIterator->m_pList == this)
        {
            pIterator->m_pList = nullptr;
            pIterator->m_pCurrent = nullptr;
        }
    }
    m_pIterators->RemoveAll();
}
