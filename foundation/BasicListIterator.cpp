#include "foundation/BasicList.h"

// ---------------------------------------------------------------------------------------------------
// CBasicListIterator

CBasicListIterator::CBasicListIterator(CBasicList* pList) : m_pList(nullptr), m_pCurrent(nullptr)
{
    if (pList)
    {
        pList->AttachIterator(this);
        m_pList = pList;
    }
    First();
}

CBasicListIterator::CBasicListIterator(const CBasicListIterator& other)
    : m_pList(nullptr), m_pCurrent(nullptr)
{
    if (other.m_pList)
    {
        other.m_pList->AttachIterator(this);
        m_pList = other.m_pList;
        m_pCurrent = other.m_pCurrent;
    }
}

CBasicListIterator::~CBasicListIterator()
{
    if (m_pList)
        m_pList->DetachIterator(this);
}

CBasicList* CBasicListIterator::GetList() const
{
    return m_pList;
}

void CBasicListIterator::SetList(CBasicList* pList)
{
    if (m_pList)
        m_pList->DetachIterator(this);
    m_pList = nullptr;
    m_pCurrent = nullptr;
    // Attach before storing, so that an allocation failure leaves an iterator without a list rather than
    // one that walks a list which will not reset it.
    if (pList)
    {
        pList->AttachIterator(this);
        m_pList = pList;
    }
    First();
}

void* CBasicListIterator::MoveTo(int nIndex)
{
    if (!m_pList)
        return nullptr;
    CBasicListElement* pElement = m_pList->GetElementAt(nIndex);
    if (!pElement)
        return nullptr;
    m_pCurrent = pElement;
    return pElement->m_pData;
}

CBasicListIterator& CBasicListIterator::operator++(int)
{
    return ++*this;
}

CBasicListIterator& CBasicListIterator::operator++()
{
    if (!m_pList)
        return *this;
    if (m_pCurrent)
        m_pCurrent = m_pCurrent->m_pNext;
    else
        First();
    return *this;
}

CBasicListIterator& CBasicListIterator::operator--(int)
{
    return --*this;
}

CBasicListIterator& CBasicListIterator::operator--()
{
    if (!m_pList)
        return *this;
    if (m_pCurrent)
        m_pCurrent = m_pCurrent->m_pPrev;
    else
        Last();
    return *this;
}

void* CBasicListIterator::GetData() const
{
    if (!m_pList || !m_pCurrent)
        return nullptr;
    return m_pCurrent->m_pData;
}

CBasicListIterator& CBasicListIterator::operator=(const CBasicListIterator& other)
{
    // Read the other first: for self-assignment the first SetList clears it.
    CBasicList* pList = other.m_pList;
    CBasicListElement* pCurrent = other.m_pCurrent;
    SetList(nullptr);
    SetList(pList);
    if (m_pList)
        m_pCurrent = pCurrent;
    return *this;
}

int CBasicListIterator::GetCount() const
{
    return m_pList ? m_pList->GetCount() : 0;
}

bool CBasicListIterator::First()
{
    m_pCurrent = m_pList ? m_pList->GetFirstElement() : nullptr;
    return m_pCurrent != nullptr;
}

bool CBasicListIterator::Last()
{
    m_pCurrent = m_pList ? m_pList->GetLastElement() : nullptr;
    return m_pCurrent != nullptr;
}

bool CBasicListIterator::AddTail(void* pItem)
{
    return m_pList ? m_pList->AddTail(pItem) : false;
}

bool CBasicListIterator::AddHead(void* pItem)
{
    return m_pList ? m_pList->AddHead(pItem) : false;
}

bool CBasicListIterator::InsertAfterCurrent(void* pItem)
{
    if (!m_pList)
        return false;
    if (!m_pCurrent)
        First();
    return m_pList->InsertAfter(m_pCurrent, pItem);
}

bool CBasicListIterator::Remove(void* pItem)
{
    return m_pList ? m_pList->Remove(pItem) : false;
}

void* CBasicListIterator::RemoveHead()
{
    return m_pList ? m_pList->RemoveHead() : nullptr;
}

bool CBasicListIterator::RemoveAll()
{
    return m_pList ? m_pList->RemoveAll() : false;
}

bool CBasicListIterator::AddTailCopy(void* pSource)
{
    return m_pList ? m_pList->AddTailCopy(pSource) : false;
}

bool CBasicListIterator::AddHeadCopy(void* pSource)
{
    return m_pList ? m_pList->AddHeadCopy(pSource) : false;
}

bool CBasicListIterator::DeleteData(void* pItem)
{
    return m_pList ? m_pList->DeleteData(pItem) : false;
}

bool CBasicListIterator::DeleteAll()
{
    return m_pList ? m_pList->DeleteAll() : false;
}

CBasicListElement* CBasicListIterator::GetCurrentElement() const
{
    return m_pCurrent;
}
