// The container harness: operation sequences on CBasicList, its iterators and CBasicMap, each checked
// against a standard container after every step.

#include "FuzzTargets.h"

#include "foundation/BasicList.h"
#include "foundation/BasicMap.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <memory>
#include <vector>

namespace
{

// Reads the operation stream; past its end every read gives 0.
class CByteReader
{
public:
    CByteReader(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize), m_nPos(0) {}
    bool AtEnd() const { return m_nPos >= m_nSize; }
    unsigned Byte() { return m_nPos < m_nSize ? m_pData[m_nPos++] : 0u; }
    // A small signed value, so that equal values and out-of-range indexes are common.
    int Small() { return static_cast<int>(Byte() % 12) - 2; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos;
};

void* NewItem(int nValue)
{
    void* pItem = nullptr;
    FUZZ_CHECK(IntegerDataHandler(ListDataCreate, &pItem, nullptr) && pItem != nullptr);
    FUZZ_CHECK(IntegerDataHandler(ListDataCopy, &pItem, &nValue));
    return pItem;
}

void FreeItem(void* pItem)
{
    FUZZ_CHECK(IntegerDataHandler(ListDataDestroy, &pItem, nullptr) && pItem == nullptr);
}

int ValueOf(const void* pItem)
{
    return *static_cast<const int*>(pItem);
}

// The list's order, read forward with the cursor, backward through the links and by position.
void CheckList(CBasicList& list, const std::vector<int>& model)
{
    FUZZ_CHECK(list.GetCount() == static_cast<int>(model.size()));
    size_t i = 0;
    for (CBasicListElement* p = list.GetFirstElement(); p != nullptr; p = list.GetNextElement(), ++i)
        FUZZ_CHECK(i < model.size() && ValueOf(p->m_pData) == model[i]);
    FUZZ_CHECK(i == model.size());
    for (CBasicListElement* p = list.GetLastElement(); p != nullptr; p = p->m_pPrev)
        FUZZ_CHECK(i > 0 && ValueOf(p->m_pData) == model[--i]);
    FUZZ_CHECK(i == 0);
    if (!model.empty())
    {
        FUZZ_CHECK(ValueOf(list.GetHead()) == model.front() && ValueOf(list.GetTail()) == model.back());
        const int nIndex = static_cast<int>(model.size() / 2);
        FUZZ_CHECK(ValueOf(list.GetAt(nIndex)) == model[static_cast<size_t>(nIndex)]);
    }
    else
    {
        FUZZ_CHECK(list.GetHead() == nullptr && list.GetTail() == nullptr);
    }
    FUZZ_CHECK(list.GetAt(-1) == nullptr && list.GetAt(static_cast<int>(model.size())) == nullptr);
}

int IndexOfElement(CBasicList& list, const CBasicListElement* pElement)
{
    int nIndex = 0;
    for (const CBasicListElement* p = list.GetFirstElement(); p != nullptr; p = p->m_pNext, ++nIndex)
        if (p == pElement)
            return nIndex;
    return -1;
}

void RunList(CByteReader& in)
{
    CBasicList list;
    list.UseIntegerData();
    std::vector<int> model;
    std::unique_ptr<CBasicListIterator> apIterators[2];
    int aModelIndex[2] = {-1, -1}; // -1: the iterator stands on no element
    auto resetIterators = [&]()
    {
        for (int& n : aModelIndex)
            n = model.empty() ? -1 : 0;
    };
    while (!in.AtEnd())
    {
        const unsigned nOp = in.Byte() % 16;
        const int nValue = in.Small();
        const int nIndex = in.Small();
        const int nWhich = static_cast<int>(in.Byte() & 1u);
        CBasicListIterator* pIt = apIterators[nWhich].get();
        switch (nOp)
        {
        case 0:
            FUZZ_CHECK(list.AddTailCopy(const_cast<int*>(&nValue)));
            model.push_back(nValue);
            break;
        case 1:
            FUZZ_CHECK(list.AddHeadCopy(const_cast<int*>(&nValue)));
            model.insert(model.begin(), nValue);
            for (int& n : aModelIndex)
                if (n >= 0)
                    ++n;
            break;
        case 2:
        {
            CBasicListElement* pElement = list.GetElementAt(nIndex);
            FUZZ_CHECK((pElement != nullptr) == (nIndex >= 0 && nIndex < static_cast<int>(model.size())));
            if (pElement == nullptr)
                break;
            void* pItem = NewItem(nValue);
            FUZZ_CHECK(list.InsertAfter(pElement, pItem));
            model.insert(model.begin() + nIndex + 1, nValue);
            for (int& n : aModelIndex)
                if (n > nIndex)
                    ++n;
            break;
        }
        case 3:
        {
            auto found = std::find(model.begin(), model.end(), nValue);
            FUZZ_CHECK(list.DeleteData(const_cast<int*>(&nValue)) == (found != model.end()));
            if (found != model.end())
            {
                model.erase(found);
                resetIterators();
            }
            break;
        }
        case 4:
        {
            void* pItem = list.RemoveHead();
            FUZZ_CHECK((pItem == nullptr) == model.empty());
            if (pItem == nullptr)
                break;
            FUZZ_CHECK(ValueOf(pItem) == model.front());
            FreeItem(pItem);
            model.erase(model.begin());
            resetIterators();
            break;
        }
        case 5:
        {
            // Remove unlinks the first equal item; the harness frees that very item afterwards.
            CBasicListElement* pElement = list.FindElement(const_cast<int*>(&nValue));
            auto found = std::find(model.begin(), model.end(), nValue);
            FUZZ_CHECK((pElement != nullptr) == (found != model.end()));
            FUZZ_CHECK(list.GetCurrentElement() == pElement);
            if (pElement == nullptr)
                break;
            void* pItem = pElement->m_pData;
            FUZZ_CHECK(list.Remove(pItem));
            FreeItem(pItem);
            model.erase(found);
            resetIterators();
            break;
        }
        case 6:
            FUZZ_CHECK(list.DeleteAll() == !model.empty());
            model.clear();
            resetIterators();
            break;
        case 7:
            if (nIndex < 0)
            {
                apIterators[nWhich].reset();
                aModelIndex[nWhich] = -1;
            }
            else if (nIndex < 4 || apIterators[nWhich ^ 1] == nullptr)
            {
                apIterators[nWhich] = std::make_unique<CBasicListIterator>(&list);
                aModelIndex[nWhich] = model.empty() ? -1 : 0;
            }
            else
            {
                apIterators[nWhich] = std::make_unique<CBasicListIterator>(*apIterators[nWhich ^ 1]);
                aModelIndex[nWhich] = aModelIndex[nWhich ^ 1];
            }
            break;
        case 8:
            if (pIt == nullptr)
                break;
            ++*pIt;
            if (aModelIndex[nWhich] < 0)
                aModelIndex[nWhich] = model.empty() ? -1 : 0;
            else if (++aModelIndex[nWhich] >= static_cast<int>(model.size()))
                aModelIndex[nWhich] = -1;
            break;
        case 9:
            if (pIt == nullptr)
                break;
            (*pIt)--;
            if (aModelIndex[nWhich] < 0)
                aModelIndex[nWhich] = static_cast<int>(model.size()) - 1;
            else
                --aModelIndex[nWhich];
            break;
        case 10:
            if (pIt == nullptr)
                break;
            {
                void* pItem = pIt->MoveTo(nIndex);
                const bool bInside = nIndex >= 0 && nIndex < static_cast<int>(model.size());
                FUZZ_CHECK((pItem != nullptr) == bInside);
                if (bInside)
                {
                    FUZZ_CHECK(ValueOf(pItem) == model[static_cast<size_t>(nIndex)]);
                    aModelIndex[nWhich] = nIndex;
                }
            }
            break;
        case 11:
            if (pIt == nullptr)
                break;
            if (nValue & 1)
            {
                FUZZ_CHECK(pIt->First() == !model.empty());
                aModelIndex[nWhich] = model.empty() ? -1 : 0;
            }
            else
            {
                FUZZ_CHECK(pIt->Last() == !model.empty());
                aModelIndex[nWhich] = static_cast<int>(model.size()) - 1;
            }
            break;
        case 12:
        {
            if (pIt == nullptr)
                break;
            void* pItem = NewItem(nValue);
            const bool bInserted = pIt->InsertAfterCurrent(pItem);
            FUZZ_CHECK(bInserted == !model.empty());
            if (!bInserted)
            {
                FreeItem(pItem);
                break;
            }
            if (aModelIndex[nWhich] < 0)
                aModelIndex[nWhich] = 0;
            model.insert(model.begin() + aModelIndex[nWhich] + 1, nValue);
            for (int k = 0; k < 2; ++k)
                if (k != nWhich && aModelIndex[k] > aModelIndex[nWhich])
                    ++aModelIndex[k];
            break;
        }
        case 13:
        {
            // Walks from a found element to both ends with the cursor.
            CBasicListElement* pElement = list.FindElement(const_cast<int*>(&nValue));
            if (pElement == nullptr)
                break;
            int n = IndexOfElement(list, pElement);
            list.SetCurrentElement(pElement);
            while (list.GetPrevElement() != nullptr)
                --n;
            FUZZ_CHECK(n == 0);
            break;
        }
        case 14:
            if (pIt != nullptr && pIt->GetList() != nullptr)
            {
                // Detached iterators have no list, so every operation is neutral.
                FUZZ_CHECK(list.DetachIterator(pIt));
                FUZZ_CHECK(pIt->GetList() == nullptr && pIt->GetData() == nullptr && !pIt->First());
                pIt->SetList(&list);
                aModelIndex[nWhich] = model.empty() ? -1 : 0;
            }
            break;
        default:
            CheckList(list, model);
            break;
        }
        for (int k = 0; k < 2; ++k)
        {
            if (apIterators[k] == nullptr)
                continue;
            void* pData = apIterators[k]->GetData();
            if (aModelIndex[k] < 0)
                FUZZ_CHECK(pData == nullptr);
            else
                FUZZ_CHECK(pData != nullptr && ValueOf(pData) == model[static_cast<size_t>(aModelIndex[k])]);
            FUZZ_CHECK(apIterators[k]->GetCount() == static_cast<int>(model.size()));
        }
        FUZZ_CHECK(list.GetCount() == static_cast<int>(model.size()));
    }
    CheckList(list, model);
    list.DeleteAll();
}

struct MapEntry
{
    bool bKeyed; // false once DeleteAll has dropped the entries
    int nKey;
    int* pItem;
};

void* Lookup(const std::vector<MapEntry>& model, int nKey)
{
    for (auto it = model.rbegin(); it != model.rend(); ++it)
        if (it->bKeyed && it->nKey == nKey)
            return it->pItem;
    return nullptr;
}

void RunMap(CByteReader& in)
{
    CBasicMap map;
    map.SetBucketCount(1 + static_cast<int>(in.Byte() % 7));
    std::deque<int> items; // stable addresses for the items, which the map only points to
    std::vector<MapEntry> model;
    while (!in.AtEnd())
    {
        const unsigned nOp = in.Byte() % 8;
        const unsigned nKeyByte = in.Byte();
        // Keys from a small range, with the extremes, collide often in few buckets.
        int nKey = static_cast<int>(nKeyByte % 9) - 4;
        if (nKeyByte == 255)
            nKey = INT_MIN;
        else if (nKeyByte == 254)
            nKey = INT_MAX;
        switch (nOp)
        {
        case 0:
        case 1:
            items.push_back(static_cast<int>(items.size()));
            FUZZ_CHECK(map.AddWithKey(nKey, &items.back()));
            model.push_back({true, nKey, &items.back()});
            break;
        case 2:
        {
            // A text key files the item under the CRC-32 of the (upper-cased) text.
            const char aText[2] = {static_cast<char>('a' + nKeyByte % 4), 0};
            const bool bUpper = (nKeyByte & 16u) != 0;
            CBasicString strKey(aText);
            if (bUpper)
                strKey.MakeUpper();
            items.push_back(static_cast<int>(items.size()));
            FUZZ_CHECK(map.AddWithKey(CBasicString(aText), &items.back(), bUpper));
            model.push_back({true, static_cast<int>(strKey.GetHashValue()), &items.back()});
            FUZZ_CHECK(map.LookupKey(CBasicString(aText), bUpper) == &items.back());
            break;
        }
        case 3:
        {
            void* pExpected = Lookup(model, nKey);
            FUZZ_CHECK(map.RemoveKey(nKey) == (pExpected != nullptr));
            for (auto it = model.rbegin(); pExpected != nullptr && it != model.rend(); ++it)
                if (it->pItem == pExpected)
                {
                    model.erase(std::next(it).base());
                    break;
                }
            break;
        }
        case 4:
            if (!model.empty())
            {
                // Removing through the list's operation also drops the entries of that element.
                const size_t nAt = nKeyByte % model.size();
                FUZZ_CHECK(map.Remove(model[nAt].pItem));
                model.erase(model.begin() + static_cast<long>(nAt));
            }
            break;
        case 5:
        {
            void* pItem = map.RemoveHead();
            FUZZ_CHECK((pItem == nullptr) == model.empty());
            if (pItem != nullptr)
            {
                FUZZ_CHECK(pItem == model.front().pItem);
                model.erase(model.begin());
            }
            break;
        }
        case 6:
            if ((nKeyByte & 7u) == 0)
            {
                // Without a handler the elements stay but are no longer found by key.
                FUZZ_CHECK(!map.DeleteAll());
                for (MapEntry& entry : model)
                    entry.bKeyed = false;
            }
            else if ((nKeyByte & 7u) == 1)
            {
                FUZZ_CHECK(map.RemoveAll() == !model.empty());
                model.clear();
            }
            break;
        default:
            FUZZ_CHECK(map.LookupKey(nKey) == Lookup(model, nKey));
            break;
        }
        FUZZ_CHECK(map.GetCount() == static_cast<int>(model.size()));
    }
    size_t i = 0;
    for (CBasicListElement* p = map.GetFirstElement(); p != nullptr; p = map.GetNextElement(), ++i)
        FUZZ_CHECK(i < model.size() && p->m_pData == model[i].pItem);
    FUZZ_CHECK(i == model.size());
    for (int nKey = -4; nKey <= 4; ++nKey)
        FUZZ_CHECK(map.LookupKey(nKey) == Lookup(model, nKey));
}

} // namespace

int FuzzContainers(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    CByteReader in(pData + 1, nSize - 1);
    if (pData[0] & 1u)
        RunMap(in);
    else
        RunList(in);
    return 0;
}
