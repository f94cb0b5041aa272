#include "foundation/BasicList.h"
#include "foundation/BasicString.h"

#include <gtest/gtest.h>

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

// Integer items whose copy step fails on request, counting creations and destructions.
int g_nLive = 0;
bool g_bFailCopy = false;
bool CountingHandler(int nOperation, void** ppItem, void* pOther)
{
    g_nLive += nOperation == ListDataCreate ? 1 : (nOperation == ListDataDestroy ? -1 : 0);
    if (nOperation == ListDataCopy && g_bFailCopy)
        return false;
    return IntegerDataHandler(nOperation, ppItem, pOther);
}

} // namespace

TEST(BasicListTest, AddRemoveCursorAndPositions)
{
    int a = 1, b = 2, c = 3, d = 4, missing = 5;
    CBasicList list;
    EXPECT_FALSE(list.AddTail(nullptr) || list.AddHead(nullptr) || list.RemoveAll());
    EXPECT_FALSE(list.RemoveHead() || list.GetFirstElement());
    ASSERT_TRUE(list.AddTail(&b) && list.AddHead(&a) && list.AddTail(&d));
    EXPECT_FALSE(list.InsertAfter(nullptr, &c) || list.InsertAfter(list.GetLastElement(), nullptr));
    ASSERT_TRUE(list.InsertAfter(list.GetLastElement()->m_pPrev, &c));
    EXPECT_EQ(Items(list), (std::vector<void*>{&a, &b, &c, &d}));
    EXPECT_EQ(list.GetCurrentElement(), nullptr); // adding never moves the cursor
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_TRUE(list.InsertAfter(list.GetLastElement(), &a)); // after the tail: the new tail
    EXPECT_EQ(list.GetTail(), &a);
    EXPECT_EQ(list.GetCount(), 4);

    // Past the head the cursor stands on no element and takes no step from there; a failed search
    // leaves it on none; removing its element moves it back one element.
    EXPECT_EQ(list.GetFirstElement()->m_pData, &b);
    EXPECT_FALSE(list.GetPrevElement() || list.GetNextElement());
    list.GetFirstElement();
    EXPECT_FALSE(list.FindElement(&missing) || list.GetCurrentElement());
    EXPECT_TRUE(list.Remove(&d));
    EXPECT_EQ(list.GetCurrentElement()->m_pData, &c);

    // Positions come from an index array, built on demand (walking the cursor off the end) and
    // discarded by adding and removing.
    EXPECT_FALSE(list.GetElementAt(-1) || list.GetElementAt(3));
    EXPECT_EQ(list.GetElementAt(2), list.GetLastElement());
    EXPECT_EQ(list.GetCurrentElement(), nullptr);
    EXPECT_EQ(list.GetAt(1), &c);
    EXPECT_EQ(list.GetNextElement()->m_pData, &a);
    list.AddHead(&d);
    EXPECT_EQ(list.GetAt(0), &d);
    EXPECT_TRUE(list.Remove(&c));
    EXPECT_EQ(list.GetAt(2), &a);
    EXPECT_EQ(list.GetAt(3), nullptr);
    EXPECT_TRUE(list.RemoveAll());
    EXPECT_FALSE(list.GetCurrentElement() || list.GetTail());
}

TEST(BasicListTest, StorageIsReusedWithoutSharing)
{
    // Slots freed one by one and the storage RemoveAll keeps are reused, never handed out twice, over
    // several storage chunks.
    std::vector<int> values(3000);
    CBasicList list;
    for (int round = 0; round < 3; ++round)
    {
        for (int& value : values)
            ASSERT_TRUE(list.AddTail(&value));
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(list.RemoveHead(), &values[i]);
        ASSERT_TRUE(list.Remove(&values.back()));
        std::vector<void*> expected;
        for (size_t i = 5; i + 1 < values.size(); ++i)
            expected.push_back(&values[i]);
        ASSERT_EQ(Items(list), expected);
        EXPECT_TRUE(list.RemoveAll());
    }
}

TEST(BasicListTest, ItemHandlers)
{
    int value = 5, same = 5;
    CBasicList list;
    EXPECT_FALSE(list.AddTailCopy(&value));
    EXPECT_TRUE(list.Append(&value)); // no handler: the pointer itself
    EXPECT_EQ(list.GetHead(), &value);
    EXPECT_FALSE(list.DeleteAll()); // no handler: refused, nothing unlinked
    EXPECT_EQ(list.GetCount(), 1);
    list.SetDataHandler(CountingHandler); // without a handler before: unlinked only
    EXPECT_EQ(list.GetCount(), 0);

    ASSERT_TRUE(list.Append(&value));
    ASSERT_TRUE(list.AddHeadCopy(&same));
    value = 6;
    EXPECT_EQ(*static_cast<int*>(list.GetTail()), 5);           // a copy, unaffected by the source
    EXPECT_EQ(list.FindElement(&same), list.GetFirstElement()); // equal values match
    // A failed copy destroys the item it created instead of leaking it.
    g_bFailCopy = true;
    EXPECT_FALSE(list.AddTailCopy(&value) || list.AddHeadCopy(&value));
    g_bFailCopy = false;
    EXPECT_EQ(g_nLive, 2);
    EXPECT_TRUE(list.DeleteData(&same));
    EXPECT_EQ(g_nLive, 1);
    list.UseDoubleData(); // the old handler destroys the items
    EXPECT_EQ(g_nLive, 0);
    EXPECT_EQ(list.GetCount(), 0);

    // A NaN equals nothing, not even its own copy; text items compare with case.
    double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(list.AddTailCopy(&nan));
    EXPECT_EQ(list.FindElement(&nan), nullptr);
    list.UseStringData();
    CBasicString text("Abc"), lower("abc");
    ASSERT_TRUE(list.AddTailCopy(&text));
    EXPECT_TRUE(list.FindElement(&text) && !list.FindElement(&lower));
    EXPECT_TRUE(list.DeleteAll());

    // The handler protocol's refusals: no item slot, an unknown operation, a missing other item.
    void* pItem = nullptr;
    EXPECT_FALSE(IntegerDataHandler(ListDataCreate, nullptr, nullptr) ||
                 IntegerDataHandler(7, &pItem, &value));
    ASSERT_TRUE(IntegerDataHandler(ListDataCreate, &pItem, nullptr) && *static_cast<int*>(pItem) == 0);
    EXPECT_FALSE(IntegerDataHandler(ListDataCopy, &pItem, nullptr) ||
                 IntegerDataHandler(ListDataEqual, &pItem, nullptr));
    EXPECT_TRUE(IntegerDataHandler(ListDataDestroy, &pItem, nullptr) && pItem == nullptr);
}

TEST(BasicListTest, IteratorsWalkStepPastEitherEndAndResetOnRemovals)
{
    int a = 1, b = 2, c = 3;
    CBasicList list;
    CBasicListIterator empty(&list);
    EXPECT_FALSE(empty.GetData() || empty.InsertAfterCurrent(&a));
    ASSERT_TRUE(list.AddTail(&a) && list.AddTail(&b) && list.AddTail(&c));

    CBasicListIterator it(&list);
    EXPECT_EQ(it.GetCount(), 3);
    std::vector<void*> seen;
    for (; it.GetData(); it++)
        seen.push_back(it.GetData());
    EXPECT_EQ(seen, Items(list));
    EXPECT_EQ((++it).GetData(), &a); // from no element, forwards starts over at the first
    EXPECT_EQ((--it).GetData(), nullptr);
    EXPECT_EQ((it--).GetData(), &c); // from no element, backwards starts at the last
    EXPECT_EQ(it.MoveTo(1), &b);
    EXPECT_EQ(it.MoveTo(3), nullptr);
    EXPECT_EQ(it.GetData(), &b);

    // Copies and assignments, self-assignment included, keep list and position.
    CBasicListIterator copy(it);
    EXPECT_EQ(copy.GetData(), &b);
    const CBasicListIterator& self = copy;
    copy = self;
    EXPECT_EQ(copy.GetData(), &b);
    CBasicListIterator other;
    (other++)--;
    EXPECT_FALSE(other.First());
    other = it;
    EXPECT_EQ(other.GetData(), &b);
    EXPECT_EQ(list.GetIteratorCount(), 4);

    // Every removal puts the iterators back on the first element: through an iterator, without a
    // match, from the head, of everything, and of a destroyed item.
    int missing = 4;
    it.Last();
    EXPECT_TRUE(copy.Remove(&b));
    EXPECT_EQ(it.GetData(), &a);
    it.Last();
    EXPECT_FALSE(list.Remove(&missing));
    EXPECT_EQ(it.GetData(), &a);
    it.Last();
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(it.GetData(), &c);
    EXPECT_TRUE(copy.InsertAfterCurrent(&b));
    EXPECT_EQ(Items(list), (std::vector<void*>{&c, &b}));
    EXPECT_TRUE(list.RemoveAll());
    EXPECT_EQ(copy.GetData(), nullptr);
    EXPECT_EQ(it.GetCurrentElement(), nullptr);

    list.UseIntegerData();
    ASSERT_TRUE(list.AddTailCopy(&a) && list.AddTailCopy(&b) && list.AddTailCopy(&c));
    it.Last();
    EXPECT_TRUE(list.DeleteData(&a));
    EXPECT_EQ(*static_cast<int*>(it.GetData()), 2);
    EXPECT_TRUE(list.DeleteAll());
}

TEST(BasicListTest, IteratorsDetachAndOutliveTheirList)
{
    int a = 1;
    auto pList = std::make_unique<CBasicList>();
    pList->AddTail(&a);
    CBasicListIterator kept(pList.get()), detached(pList.get()), moved(pList.get());
    CBasicList other;
    moved.SetList(&other);
    EXPECT_EQ(pList->GetIteratorCount(), 2);

    // A detached iterator is no longer reset, so it gives up the list.
    EXPECT_TRUE(pList->DetachIterator(&detached));
    EXPECT_FALSE(pList->DetachIterator(&detached));
    EXPECT_EQ(detached.GetList(), nullptr);
    EXPECT_EQ(detached.GetData(), nullptr);

    // The list goes first: its iterators are left without a list, and using or destroying them later
    // touches no freed memory.
    EXPECT_EQ(kept.GetData(), &a);
    pList.reset();
    EXPECT_EQ(kept.GetList(), nullptr);
    kept++;
    EXPECT_EQ(kept.GetCount(), 0);
    EXPECT_FALSE(kept.AddTail(&a));

    EXPECT_TRUE(other.DetachAllIterators());
    EXPECT_EQ(moved.GetList(), nullptr);
    EXPECT_EQ(other.GetIteratorCount(), 0);
}
