#include "external/model/KarnList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

const vemoFloatPoint& PointAt(CKarnList& list, int nIndex)
{
    return *static_cast<const vemoFloatPoint*>(list.GetAt(nIndex));
}

} // namespace

TEST(KarnListTest, PointItemsAreCopiesFreedByDeleteAll)
{
    CKarnList list;
    list.SetListTypePoint();
    EXPECT_EQ(list.GetDataHandler(), &PointDataHandler);
    vemoFloatPoint point(1.0f, -2.0f, 3.5f);
    ASSERT_TRUE(list.AddTailCopy(&point));
    point.x = 9.0f;
    ASSERT_TRUE(list.AddHeadCopy(&point));
    EXPECT_FALSE(list.AddTailCopy(nullptr));
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(PointAt(list, 0).x, 9.0f);
    EXPECT_EQ(PointAt(list, 1).x, 1.0f);
    EXPECT_EQ(PointAt(list, 1).z, 3.5f);
    EXPECT_NE(list.GetHead(), static_cast<void*>(&point));

    // Enough items for several storage chunks, walked in order with an iterator, freed, and refilled.
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        for (int i = 0; i < 20000; ++i)
        {
            const vemoFloatPoint item(static_cast<float>(i), 0.0f, -static_cast<float>(i));
            ASSERT_TRUE(list.AddTailCopy(const_cast<vemoFloatPoint*>(&item)));
        }
        CBasicListIterator it(&list);
        it++;
        it++; // past the two items added first
        for (int i = 0; i < 20000; ++i, it++)
            ASSERT_EQ(static_cast<const vemoFloatPoint*>(it.GetData())->z, -static_cast<float>(i));
        EXPECT_EQ(it.GetData(), nullptr);
        it.SetList(nullptr);
        EXPECT_TRUE(list.DeleteAll());
        EXPECT_EQ(list.GetCount(), 0);
        ASSERT_TRUE(list.AddTailCopy(&point));
        ASSERT_TRUE(list.AddTailCopy(&point));
    }

    // Finding compares values; a NaN equals nothing. DeleteData frees one pooled item.
    vemoFloatPoint probe(9.0f, -2.0f, 3.5f);
    ASSERT_NE(list.FindElement(&probe), nullptr);
    EXPECT_TRUE(list.DeleteData(&probe));
    EXPECT_EQ(list.GetCount(), 1);
    vemoFloatPoint nan(std::nanf(""), 0.0f, 0.0f);
    ASSERT_TRUE(list.AddTailCopy(&nan));
    EXPECT_EQ(list.FindElement(&nan), nullptr);

    // Changing the list type frees the items through the old handler.
    list.SetListTypeVector();
    EXPECT_EQ(list.GetCount(), 0);
    vemoVector normal(0.0f, 0.0f, -1.0f);
    ASSERT_TRUE(list.Append(&normal));
    EXPECT_EQ(static_cast<const vemoVector*>(list.GetTail())->z, -1.0f);
    list.UseIntegerData();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(KarnListTest, CopiesNeverShareStorageWithTheirSource)
{
    CKarnList source;
    source.SetListTypeVector();
    for (int i = 0; i < 3; ++i)
    {
        vemoVector normal(static_cast<float>(i), 1.0f, 2.0f);
        ASSERT_TRUE(source.AddTailCopy(&normal));
    }
    CKarnList copy(source);
    CKarnList assigned;
    assigned.SetListTypePoint();
    vemoFloatPoint point;
    ASSERT_TRUE(assigned.AddTailCopy(&point));
    assigned = copy;
    CKarnList& alias = assigned;
    assigned = alias; // self-assignment keeps the items
    source.DeleteAll();

    for (CKarnList* pList : {&copy, &assigned})
    {
        EXPECT_EQ(pList->GetDataHandler(), &VectorDataHandler);
        ASSERT_EQ(pList->GetCount(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(static_cast<const vemoVector*>(pList->GetAt(i))->x, static_cast<float>(i));
    }
    EXPECT_NE(copy.GetHead(), assigned.GetHead());
    copy.DeleteAll();
    EXPECT_EQ(assigned.GetCount(), 3);
    assigned.DeleteAll();

    // Without a handler the list holds borrowed pointers (a stack of groups): a copy holds the same ones.
    int a = 1, b = 2;
    CKarnList stack;
    stack.AddHead(&a);
    stack.AddHead(&b);
    CKarnList stackCopy(stack);
    EXPECT_EQ(stackCopy.RemoveHead(), &b);
    EXPECT_EQ(stackCopy.GetHead(), &a);
    EXPECT_EQ(stack.GetCount(), 2);
    EXPECT_EQ(stack.GetHead(), &b);
    EXPECT_TRUE(stack.RemoveAll());
    EXPECT_EQ(stack.RemoveHead(), nullptr);
}

TEST(KarnListTest, RemovedItemsOutliveTheirList)
{
    void* pItem = nullptr;
    {
        CKarnList list;
        list.SetListTypePoint();
        vemoFloatPoint point(4.0f, 5.0f, 6.0f);
        ASSERT_TRUE(list.AddTailCopy(&point));
        ASSERT_TRUE(list.AddTailCopy(&point));
        pItem = list.RemoveHead();
        list.DeleteAll();
    }
    ASSERT_NE(pItem, nullptr);
    EXPECT_EQ(static_cast<const vemoFloatPoint*>(pItem)->y, 5.0f);
    EXPECT_TRUE(PointDataHandler(ListDataDestroy, &pItem, nullptr)); // frees the item and its storage
    EXPECT_EQ(pItem, nullptr);
}

TEST(KarnListTest, HandlerItemsAndListItemsMixAcrossStorageChunks)
{
    // Items made by the handler itself (shared storage) and copies made by a list (the list's own
    // storage), interleaved in one list over several chunks; freeing every other one and refilling
    // reuses freed slots without disturbing the values of the others.
    CKarnList list;
    list.SetListTypeVector();
    std::vector<void*> items;
    for (int i = 0; i < 6000; ++i)
    {
        void* pItem = nullptr;
        if (i % 2 == 0)
        {
            ASSERT_TRUE(VectorDataHandler(ListDataCreate, &pItem, nullptr));
            EXPECT_EQ(static_cast<vemoVector*>(pItem)->y, 0.0f);
            static_cast<vemoVector*>(pItem)->x = static_cast<float>(i);
            ASSERT_TRUE(list.AddTail(pItem));
        }
        else
        {
            vemoVector normal(static_cast<float>(i), 1.0f, 2.0f);
            ASSERT_TRUE(list.AddTailCopy(&normal));
            pItem = list.GetTail();
        }
        items.push_back(pItem);
    }
    for (size_t i = 0; i < items.size(); i += 2)
        ASSERT_TRUE(list.DeleteData(items[i]));
    for (int i = 0; i < 3000; ++i)
    {
        vemoVector normal(-1.0f, -1.0f, -1.0f);
        ASSERT_TRUE(list.AddHeadCopy(&normal));
    }
    ASSERT_EQ(list.GetCount(), 6000);
    CBasicListIterator it(&list);
    for (int i = 0; i < 3000; ++i, it++)
        ASSERT_EQ(static_cast<const vemoVector*>(it.GetData())->x, -1.0f);
    for (int i = 1; i < 6000; i += 2, it++)
        ASSERT_EQ(static_cast<const vemoVector*>(it.GetData())->x, static_cast<float>(i));
    it.SetList(nullptr);
    EXPECT_TRUE(list.DeleteAll());
}
