#include "foundation/BasicMap.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

namespace
{
// A prime, so that keys that are multiples of small numbers still spread over all buckets.
constexpr int kDefaultBucketCount = 10009;

// The entries this map makes also know the link that points at them (the bucket's head or the previous
// entry's next pointer), so that an entry leaves its chain without a walk of the chain.
class CLinkedEntry : public CBasicMapElement
{
public:
    CBasicMapElement** m_ppLink = nullptr;
};

CLinkedEntry* Linked(CBasicMapElement* pEntry)
{
    return static_cast<CLinkedEntry*>(pEntry);
}
} // namespace

class CBasicMap::CEntryIndex
{
public:
    std::unordered_map<const CBasicListElement*, CBasicMapElement*> m_Entries;
};

CBasicMapElement::CBasicMapElement() : m_pNext(nullptr), m_pElement(nullptr), m_nKey(0) {}

CBasicMapElement::~CBasicMapElement() = default;

CBasicMap::CBasicMap()
    : m_ppBuckets(nullptr), m_nBucketArraySize(0), m_nBucketCount(kDefaultBucketCount), m_pEntryIndex(nullptr)
{
}

CBasicMap::~CBasicMap()
{
    ClearBuckets();
    CBasicList::RemoveAll();
    delete[] m_ppBuckets;
    m_ppBuckets = nullptr;
    m_nBucketArraySize = 0;
    delete m_pEntryIndex;
}

bool CBasicMap::Remove(void* pItem)
{
    if (!pItem)
        return false;
    // The list's Remove finds the same element again; its entries must go before it is destroyed.
    CBasicListElement* pElement = FindElement(pItem);
    if (pElement)
        ForgetElement(pElement);
    return CBasicList::Remove(pItem);
}

void* CBasicMap::RemoveHead()
{
    if (m_pHead)
        ForgetElement(m_pHead);
    return CBasicList::RemoveHead();
}

bool CBasicMap::RemoveAll()
{
    ClearBuckets();
    return CBasicList::RemoveAll();
}

bool CBasicMap::DeleteData(void* pItem)
{
    if (!m_pDataHandler)
        return false;
    CBasicListElement* pElement = FindElement(pItem);
    if (!pElement)
        return false;
    void* pData = pElement->m_pData;
    if (!m_pDataHandler(ListDataDestroy, &pData, nullptr))
        return false;
    ForgetElement(pElement);
    UnlinkElement(pElement);
    ResetIterators();
    return true;
}

bool CBasicMap::DeleteAll()
{
    ClearBuckets();
    return CBasicList::DeleteAll();
}

bool CBasicMap::AddWithKey(CBasicString strKey, void* pItem, bool bUpperCase)
{
    return AddWithKey(KeyOf(strKey, bUpperCase), pItem);
}

bool CBasicMap::AddWithKey(int nKey, void* pItem)
{
    if (!m_ppBuckets && !AllocateBuckets())
        return false;
    const int nBucket = BucketOf(nKey);
    // The entry and its room in the index are made before the item is appended, so that a failed
    // allocation leaves no item without a key behind.
    std::unique_ptr<CLinkedEntry> pEntry(new CLinkedEntry());
    auto& entries = m_pEntryIndex->m_Entries;
    entries.reserve(entries.size() + 1);
    if (!Append(pItem))
        return false;
    try
    {
        entries.emplace(m_pTail, pEntry.get());
    }
    catch (...)
    {
        // The index could not take the element after all: take the appended item back out.
        CBasicListElement* pElement = m_pTail;
        if (m_pDataHandler)
            m_pDataHandler(ListDataDestroy, &pElement->m_pData, nullptr);
        UnlinkElement(pElement);
        throw;
    }
    pEntry->m_nKey = nKey;
    pEntry->m_pElement = m_pTail;
    pEntry->m_pNext = m_ppBuckets[nBucket];
    pEntry->m_ppLink = &m_ppBuckets[nBucket];
    if (pEntry->m_pNext)
        Linked(pEntry->m_pNext)->m_ppLink = &pEntry->m_pNext;
    m_ppBuckets[nBucket] = pEntry.release();
    return true;
}

bool CBasicMap::RemoveKey(CBasicString strKey, bool bUpperCase)
{
    return RemoveKey(KeyOf(strKey, bUpperCase));
}

bool CBasicMap::RemoveKey(int nKey)
{
    if (!m_ppBuckets)
        return false;
    CBasicMapElement* pEntry = m_ppBuckets[BucketOf(nKey)];
    while (pEntry && pEntry->m_nKey != nKey)
        pEntry = pEntry->m_pNext;
    if (!pEntry)
        return false;
    CBasicListElement* pElement = pEntry->m_pElement;
    DropEntry(pEntry);

    // The entry's own element goes, never another element with an equal item. A handler that refuses to
    // destroy the item still has its element unlinked, as a removal by item would do.
    if (m_pDataHandler)
    {
        void* pData = pElement->m_pData;
        m_pDataHandler(ListDataDestroy, &pData, nullptr);
    }
    // Stand on the element first, so that the cursor ends where a removal found by item leaves it.
    m_pCurrent = pElement;
    UnlinkElement(pElement);
    ResetIterators();
    return true;
}

void* CBasicMap::LookupKey(CBasicString strKey, bool bUpperCase)
{
    return LookupKey(KeyOf(strKey, bUpperCase));
}

void* CBasicMap::LookupKey(int nKey)
{
    if (!m_ppBuckets)
        return nullptr;
    for (CBasicMapElement* pEntry = m_ppBuckets[BucketOf(nKey)]; pEntry; pEntry = pEntry->m_pNext)
    {
        if (pEntry->m_nKey == nKey)
            return pEntry->m_pElement->m_pData;
    }
    return nullptr;
}

int CBasicMap::GetBucketCount() const
{
    return m_nBucketCount;
}

void CBasicMap::SetBucketCount(int nCount)
{
    // Entries are filed by the count in force when they were added; changing it under them would lose
    // them.
    if (nCount < 1 || m_ppBuckets)
        return;
    m_nBucketCount = nCount;
}

bool CBasicMap::AllocateBuckets()
{
    ClearBuckets();
    delete[] m_ppBuckets;
    m_ppBuckets = nullptr;
    m_nBucketArraySize = 0;

    // The size in bytes is kept as a signed 32-bit number, so larger arrays are refused.
    const std::size_t nBytes = static_cast<std::size_t>(m_nBucketCount) * sizeof(CBasicMapElement*);
    if (m_nBucketCount < 1 || nBytes > static_cast<std::size_t>(INT_MAX))
        return false;
    if (!m_pEntryIndex)
        m_pEntryIndex = new (std::nothrow) CEntryIndex();
    CBasicMapElement** ppBuckets =
        m_pEntryIndex ? new (std::nothrow) CBasicMapElement*[static_cast<std::size_t>(m_nBucketCount)]
                      : nullptr;
    if (!ppBuckets)
        return false;
    for (int i = 0; i < m_nBucketCount; ++i)
        ppBuckets[i] = nullptr;
    m_ppBuckets = ppBuckets;
    m_nBucketArraySize = static_cast<int>(nBytes);
    return true;
}

bool CBasicMap::ClearBuckets()
{
    if (!m_ppBuckets)
        return false;
    for (int i = 0; i < m_nBucketCount; ++i)
    {
        CBasicMapElement* pEntry = m_ppBuckets[i];
        while (pEntry)
        {
            CBasicMapElement* pNext = pEntry->m_pNext;
            delete pEntry;
            pEntry = pNext;
        }
        m_ppBuckets[i] = nullptr;
    }
    m_pEntryIndex->m_Entries.clear();
    return true;
}

int CBasicMap::BucketOf(int nKey) const
{
    // Negating in unsigned arithmetic is defined for every key, -2147483648 included (2147483648).
    const unsigned int nMagnitude =
        nKey < 0 ? 0u - static_cast<unsigned int>(nKey) : static_cast<unsigned int>(nKey);
    return static_cast<int>(nMagnitude % static_cast<unsigned int>(m_nBucketCount));
}

int CBasicMap::KeyOf(CBasicString& strKey, bool bUpperCase)
{
    if (bUpperCase)
        strKey.MakeUpper();
    // The CRC-32 read as a signed number; the conversion is done bit for bit on every compiler.
    const unsigned int nHash = strKey.GetHashValue();
    int nKey = 0;
    static_assert(sizeof(nKey) == sizeof(nHash), "keys are 32-bit");
    std::memcpy(&nKey, &nHash, sizeof(nKey));
    return nKey;
}

void CBasicMap::ForgetElement(CBasicListElement* pElement)
{
    if (!m_ppBuckets)
        return;
    const auto found = m_pEntryIndex->m_Entries.find(pElement);
    if (found != m_pEntryIndex->m_Entries.end())
        DropEntry(found->second);
}

void CBasicMap::DropEntry(CBasicMapElement* pEntry)
{
    *Linked(pEntry)->m_ppLink = pEntry->m_pNext;
    if (pEntry->m_pNext)
        Linked(pEntry->m_pNext)->m_ppLink = Linked(pEntry)->m_ppLink;
    m_pEntryIndex->m_Entries.erase(pEntry->m_pElement);
    delete pEntry;
}
