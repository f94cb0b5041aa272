#include "external/model/KarnList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace
{

const vemoVector& VectorAt(const void* pItem)
{
    return *static_cast<const vemoVector*>(pItem);
}

} // namespace

TEST(KarnListTest, PointItemsAreCopiesFreedThroughTheirHandler)
{
    auto pList = std::make_unique<CKarnList>();
    CKarnList& list = *pList;
    list.SetListTypePoint();
    vemoFloatPoint point(1.0f, -2.0f, 3.5f);
    ASSERT_TRUE(list.AddTailCopy(&point));
    point.x = 9.0f;
    ASSERT_TRUE(list.AddHeadCopy(&point));
    EXPECT_FALSE(list.AddTailCopy(nullptr));
    ASSERT_EQ(list.GetCount(), 2);
    const auto* pTail = static_cast<const vemoFloatPoint*>(list.GetTail());
    EXPECT_EQ(static_cast<const vemoFloatPoint*>(list.GetHead())->x, 9.0f);
    EXPECT_TRUE(pTail->x == 1.0f && pTail->z == 3.5f);

    // Finding compares values; a NaN equals nothing. DeleteData frees one item.
    vemoFloatPoint probe(9.0f, -2.0f, 3.5f);
    EXPECT_TRUE(list.DeleteData(&probe));
    EXPECT_EQ(list.GetHead(), pTail);
    vemoFloatPoint nan(std::nanf(""), 0.0f, 0.0f);
    ASSERT_TRUE(list.AddTailCopy(&nan));
    EXPECT_EQ(list.FindElement(&nan), nullptr);

    // A removed item is the caller's: it outlives the list and its storage, and its handler frees it.
    void* pRemoved = list.RemoveHead();
    // Changing the list type frees the items through the old handler (leak-checked).
    list.SetListTypeVector();
    EXPECT_EQ(list.GetCount(), 0);
    vemoVector normal(0.0f, 0.0f, -1.0f);
    ASSERT_TRUE(list.Append(&normal));
    EXPECT_EQ(VectorAt(list.GetTail()).z, -1.0f);
    list.DeleteAll(); // a list frees its items only when told to
    pList.reset();
    ASSERT_EQ(pRemoved, pTail);
    EXPECT_EQ(static_cast<const vemoFloatPoint*>(pRemoved)->y, -2.0f);
    EXPECT_TRUE(PointDataHandler(ListDataDestroy, &pRemoved, nullptr));
    EXPECT_EQ(pRemoved, nullptr);
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
            EXPECT_EQ(VectorAt(pList->GetAt(i)).x, static_cast<float>(i));
    }
    copy.DeleteAll();
    EXPECT_EQ(VectorAt(assigned.GetTail()).x, 2.0f);
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
}

TEST(KarnListTest, HandlerItemsAndListItemsMixAcrossStorageChunks)
{
    // Items made by the handler itself (shared storage) and copies made by a list (the list's own
    // storage), interleaved in one list over several chunks; freeing every other one and refilling
    // reuses freed slots without disturbing the values of the others. A second round refills the
    // storage that DeleteAll emptied.
    CKarnList list;
    list.SetListTypeVector();
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        std::vector<void*> items;
        for (int i = 0; i < 6000; ++i)
        {
            void* pItem = nullptr;
            vemoVector normal(static_cast<float>(i), 1.0f, 2.0f);
            if (i % 2 == 0)
            {
                ASSERT_TRUE(VectorDataHandler(ListDataCreate, &pItem, nullptr));
                EXPECT_EQ(VectorAt(pItem).y, 0.0f);
                static_cast<vemoVector*>(pItem)->x = normal.x;
                ASSERT_TRUE(list.AddTail(pItem));
            }
            else
                ASSERT_TRUE(list.AddTailCopy(&normal));
            items.push_back(list.GetTail());
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
            ASSERT_EQ(VectorAt(it.GetData()).x, -1.0f);
        for (int i = 1; i < 6000; i += 2, it++)
            ASSERT_EQ(VectorAt(it.GetData()).x, static_cast<float>(i));
        EXPECT_EQ(it.GetData(), nullptr);
        it.SetList(nullptr);
        EXPECT_TRUE(list.DeleteAll());
        EXPECT_EQ(list.GetCount(), 0);
    }
}
