#include "foundation/BasicList.h"
#include "foundation/BasicString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace
{

// The items of a list in order, read through the element links (which leave the cursor alone).
std::vector<void*> Items(const CBasicList& list)
{
    std::vector<void*> items;
    for (CBasicListElement* p = list.GetLastElement(); p; p = p->m_pPrev)
        items.insert(items.begin(), p->m_pData);
    return items;
}

// A list of the given items in order, handler-free.
void Fill(CBasicList& list, std::initializer_list<int*> items)
{
    for (int* pItem : items)
        ASSERT_TRUE(list.AddTail(pItem));
}

// Integer items whose copy step fails on request, counting creations and destructions.
int g_nLive = 0;
bool g_bFailCopy = false;
bool CountingHandler(int nOperation, void** ppItem, void* pOther)
{
    if (ppItem && nOperation == ListDataCreate)
        ++g_nLive;
    if (ppItem && nOperation == ListDataDestroy && *ppItem)
        --g_nLive;
    if (nOperation == ListDataCopy && g_bFailCopy)
        return false;
    return IntegerDataHandler(nOperation, ppItem, pOther);
}

} // namespace

TEST(BasicListTest, AddsAndRemovesAtBothEnds)
{
    int a = 1, b = 2, c = 3, d = 4;
    CBasicList list;
    EXPECT_FALSE(list.AddTail(nullptr));
    EXPECT_FALSE(list.AddHead(nullptr));
    EXPECT_FALSE(list.RemoveAll());
    EXPECT_EQ(list.RemoveHead(), nullptr);
    EXPECT_EQ(list.GetCount(), 0);

    ASSERT_TRUE(list.AddTail(&b));
    ASSERT_TRUE(list.AddHead(&a));
    ASSERT_TRUE(list.AddTail(&d));
    EXPECT_FALSE(list.InsertAfter(nullptr, &c));
    EXPECT_FALSE(list.InsertAfter(list.GetLastElement(), nullptr));
    ASSERT_TRUE(list.InsertAfter(list.GetLastElement()->m_pPrev, &c));
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &b, &c, &d}));
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.GetCurrentElement(), nullptr); // adding never moves the cursor

    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_TRUE(list.InsertAfter(list.GetLastElement(), &a)); // after the tail: the new tail
    EXPECT_EQ(list.GetTail(), &a);
    EXPECT_EQ(Items(list), (std::vector<void*>{&b, &c, &d, &a}));
    EXPECT_TRUE(list.RemoveAll());
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHead(), nullptr);
    EXPECT_EQ(list.GetTail(), nullptr);
}

TEST(BasicListTest, ElementStorageIsReusedInOrder)
{
    // Enough elements for several storage chunks, with releases and reuse interleaved.
    const int kCount = 200000;
    std::vector<int> values(kCount);
    CBasicList list;
    for (int round = 0; round < 2; ++round)
    {
        for (int i = 0; i < kCount; ++i)
            ASSERT_TRUE(list.AddTail(&values[i]));
        for (int i = 0; i < kCount / 2; ++i)
            ASSERT_EQ(list.RemoveHead(), &values[i]);
        for (int i = 0; i < kCount / 2; ++i)
            ASSERT_TRUE(list.AddHead(&values[kCount / 2 - 1 - i]));
        ASSERT_EQ(list.GetCount(), kCount);
        int i = 0;
        for (CBasicListElement* p = list.GetFirstElement(); p; p = list.GetNextElement(), ++i)
            ASSERT_EQ(p->m_pData, &values[i]);
        EXPECT_EQ(i, kCount);
        EXPECT_TRUE(list.RemoveAll());
    }
}

TEST(BasicListTest, CursorMoves)
{
    int a = 1, b = 2, c = 3, missing = 4;
    CBasicList list;
    EXPECT_EQ(list.GetFirstElement(), nullptr);
    EXPECT_EQ(list.GetNextElement(), nullptr);
    Fill(list, {&a, &b, &c});

    EXPECT_EQ(list.GetFirstElement()->m_pData, &a);
    EXPECT_EQ(list.GetPrevElement(), nullptr); // past the head: on no element
    EXPECT_EQ(list.GetCurrentElement(), nullptr);
    EXPECT_EQ(list.GetNextElement(), nullptr); // and no step from there

    EXPECT_EQ(list.FindElement(&b)->m_pData, &b);
    EXPECT_EQ(list.GetCurrentElement()->m_pData, &b);
    EXPECT_EQ(list.FindElement(&missing), nullptr);
    EXPECT_EQ(list.GetCurrentElement(), nullptr);

    // Without iterators, removing the cursor's element moves the cursor back one element.
    EXPECT_TRUE(list.Remove(&c));
    EXPECT_EQ(list.GetCurrentElement()->m_pData, &b);
    // With an iterator attached, its reset puts the cursor on the head.
    list.AddTail(&c);
    CBasicListIterator it(&list);
    EXPECT_TRUE(list.Remove(&c));
    EXPECT_EQ(list.GetCurrentElement()->m_pData, &a);
}

TEST(BasicListTest, PositionalAccessAndIndexArray)
{
    int a = 1, b = 2, c = 3, d = 4;
    CBasicList list;
    EXPECT_EQ(list.GetElementAt(0), nullptr);
    Fill(list, {&a, &b, &c});
    list.SetCurrentElement(list.GetLastElement());
    EXPECT_EQ(list.GetElementAt(-1), nullptr);
    EXPECT_EQ(list.GetElementAt(3), nullptr);
    EXPECT_EQ(list.GetElementAt(2), list.GetLastElement());
    EXPECT_EQ(list.GetCurrentElement(), nullptr); // building the index walked the cursor off the end

    EXPECT_EQ(list.GetAt(1), &b);
    EXPECT_EQ(list.GetNextElement()->m_pData, &c);

    // Adding and removing discard the index, so positions follow the change.
    list.AddHead(&d);
    EXPECT_EQ(list.GetAt(0), &d);
    EXPECT_EQ(list.GetAt(3), &c);
    list.Remove(&b);
    EXPECT_EQ(list.GetAt(2), &c);
    EXPECT_EQ(list.GetAt(3), nullptr);
}

TEST(BasicListTest, ListsWithHandlers)
{
    int value = 5, same = 5;
    CBasicList list;
    EXPECT_FALSE(list.AddTailCopy(&value));
    EXPECT_TRUE(list.Append(&value)); // no handler: the pointer itself
    EXPECT_EQ(list.GetHead(), &value);
    EXPECT_FALSE(list.DeleteAll()); // no handler: refused, nothing unlinked
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_TRUE(list.Delete(&value)); // falls back to Remove
    EXPECT_EQ(list.GetCount(), 0);

    list.UseIntegerData();
    ASSERT_TRUE(list.Append(&value));
    ASSERT_TRUE(list.AddHeadCopy(&same));
    value = 6;
    EXPECT_EQ(*static_cast<int*>(list.GetTail()), 5);           // a copy, unaffected by the source
    EXPECT_EQ(list.FindElement(&same), list.GetFirstElement()); // equal values match
    EXPECT_TRUE(list.DeleteData(&same));
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_TRUE(list.DeleteAll());
    EXPECT_EQ(list.GetCount(), 0);

    // A NaN equals nothing, not even its own copy.
    list.UseDoubleData();
    double nan = std::numeric_limits<double>::quiet_NaN(), one = 1.0;
    list.AddTailCopy(&nan);
    list.AddTailCopy(&one);
    EXPECT_TRUE(std::isnan(*static_cast<double*>(list.GetHead())));
    EXPECT_EQ(list.FindElement(&nan), nullptr);
    EXPECT_FALSE(list.DeleteData(&nan));
    EXPECT_NE(list.FindElement(&one), nullptr);
    list.UseStringData(); // destroys the doubles through the old handler (leak-checked)
    EXPECT_EQ(list.GetCount(), 0);
    CBasicString text("Abc"), lower("abc"); // text items compare with case
    ASSERT_TRUE(list.AddTailCopy(&text));
    EXPECT_NE(list.FindElement(&text), nullptr);
    EXPECT_EQ(list.FindElement(&lower), nullptr);
    EXPECT_TRUE(list.DeleteAll());

    // The handler protocol's refusals: no item slot, an unknown operation, a missing other item.
    void* pItem = nullptr;
    EXPECT_FALSE(IntegerDataHandler(ListDataCreate, nullptr, nullptr));
    EXPECT_FALSE(IntegerDataHandler(7, &pItem, &value));
    ASSERT_TRUE(IntegerDataHandler(ListDataCreate, &pItem, nullptr));
    EXPECT_EQ(*static_cast<int*>(pItem), 0);
    EXPECT_FALSE(IntegerDataHandler(ListDataCopy, &pItem, nullptr));
    EXPECT_FALSE(IntegerDataHandler(ListDataEqual, &pItem, nullptr));
    EXPECT_TRUE(IntegerDataHandler(ListDataDestroy, &pItem, nullptr));
    EXPECT_EQ(pItem, nullptr);
}

TEST(BasicListTest, HandlerSwitchAndFailedCopies)
{
    int value = 3;
    CBasicList list;
    list.AddTail(&value);
    list.SetDataHandler(CountingHandler); // without a handler: unlinked only
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(value, 3);

    list.AddTailCopy(&value);
    list.AddTailCopy(&value);
    EXPECT_EQ(g_nLive, 2);
    // A failed copy destroys the item it created instead of leaking it.
    g_bFailCopy = true;
    EXPECT_FALSE(list.AddTailCopy(&value));
    EXPECT_FALSE(list.AddHeadCopy(&value));
    g_bFailCopy = false;
    EXPECT_EQ(g_nLive, 2);
    EXPECT_EQ(list.GetCount(), 2);
    list.SetDataHandler(nullptr); // the old handler destroys the items
    EXPECT_EQ(g_nLive, 0);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(BasicListTest, IteratorWalksAndStepsPastEitherEnd)
{
    int a = 1, b = 2, c = 3;
    CBasicList list;
    CBasicListIterator empty(&list);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_FALSE(empty.InsertAfterCurrent(&a));
    Fill(list, {&a, &b, &c});

    CBasicListIterator it(&list);
    EXPECT_EQ(list.GetIteratorCount(), 2);
    EXPECT_EQ(it.GetCount(), 3);
    std::vector<void*> seen;
    for (; it.GetData(); it++)
        seen.push_back(it.GetData());
    EXPECT_EQ(seen, (std::vector<void*>{&a, &b, &c}));
    EXPECT_EQ((++it).GetData(), &a); // from no element, forwards starts over at the first
    EXPECT_EQ((--it).GetData(), nullptr);
    EXPECT_EQ((it--).GetData(), &c); // from no element, backwards starts at the last
    EXPECT_EQ(it.MoveTo(1), &b);
    EXPECT_EQ(it.MoveTo(3), nullptr);
    EXPECT_EQ(it.GetData(), &b);

    CBasicListIterator copy(it);
    EXPECT_EQ(copy.GetData(), &b);
    const CBasicListIterator& self = copy;
    copy = self; // self-assignment keeps list and position
    EXPECT_EQ(copy.GetList(), &list);
    EXPECT_EQ(copy.GetData(), &b);
    CBasicListIterator other;
    EXPECT_EQ(other.GetData(), nullptr);
    (other++)--;
    EXPECT_FALSE(other.First());
    other = it;
    EXPECT_EQ(other.GetData(), &b);
    EXPECT_EQ(list.GetIteratorCount(), 4);
}

TEST(BasicListTest, IteratorsResetOnRemove)
{
    int a = 1, b = 2, c = 3, missing = 4;
    CBasicList list;
    Fill(list, {&a, &b, &c});
    CBasicListIterator first(&list), last(&list);
    last.Last();
    EXPECT_TRUE(first.Remove(&b)); // through an iterator: it is reset as well
    EXPECT_EQ(last.GetData(), &a);
    last.Last();
    EXPECT_FALSE(list.Remove(&missing)); // no match still resets
    EXPECT_EQ(last.GetData(), &a);
    last.Last();
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(last.GetData(), &c);
    EXPECT_TRUE(first.InsertAfterCurrent(&b));
    EXPECT_EQ(Items(list), (std::vector<void*>{&c, &b}));
    EXPECT_TRUE(list.RemoveAll());
    EXPECT_EQ(first.GetData(), nullptr);
    EXPECT_EQ(last.GetCurrentElement(), nullptr);
}

TEST(BasicListTest, IteratorsDetachAndOutliveTheirList)
{
    int a = 1;
    auto pList = std::make_unique<CBasicList>();
    pList->AddTail(&a);
    CBasicListIterator kept(pList.get()), detached(pList.get()), moved(pList.get());
    auto pOther = std::make_unique<CBasicList>();
    moved.SetList(pOther.get());
    EXPECT_EQ(pList->GetIteratorCount(), 2);
    EXPECT_EQ(pOther->GetIteratorCount(), 1);

    // A detached iterator is no longer reset, so it gives up the list.
    EXPECT_TRUE(pList->DetachIterator(&detached));
    EXPECT_FALSE(pList->DetachIterator(&detached));
    EXPECT_EQ(detached.GetList(), nullptr);
    EXPECT_EQ(detached.GetData(), nullptr);
    EXPECT_EQ(pList->GetIteratorCount(), 1);

    // The list goes first: its iterators are left without a list, and using or destroying them later
    // touches no freed memory.
    EXPECT_EQ(kept.GetData(), &a);
    pList.reset();
    EXPECT_EQ(kept.GetList(), nullptr);
    EXPECT_EQ(kept.GetData(), nullptr);
    kept++;
    EXPECT_EQ(kept.GetCount(), 0);
    EXPECT_FALSE(kept.AddTail(&a));

    EXPECT_TRUE(pOther->DetachAllIterators());
    EXPECT_EQ(moved.GetList(), nullptr);
    EXPECT_EQ(pOther->GetIteratorCount(), 0);
}
