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

    // A removed item is the caller's: it outlives the list, and either delete or its handler frees it.
    void* pRemoved = list.RemoveHead();
    ASSERT_TRUE(list.AddTailCopy(&probe));
    delete static_cast<vemoFloatPoint*>(list.RemoveHead());
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

TEST(KarnListTest, ItemsOfAnyMakerMixAndAreFreedByEither)
{
    // Items the host made with new, items the handler made and copies the list made, interleaved over
    // many storage chunks; the list frees the host's items, the host deletes the list's, in any order,
    // and freed slots are reused without disturbing the values of the others (leak-checked under the
    // sanitizers).
    CKarnList list;
    list.SetListTypeVector();
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        std::vector<void*> items;
        for (int i = 0; i < 60000; ++i)
        {
            vemoVector normal(static_cast<float>(i), 1.0f, 2.0f);
            void* pItem = nullptr;
            if (i % 3 == 0)
                ASSERT_TRUE(list.AddTail(new vemoVector(normal)));
            else if (i % 3 == 1 && VectorDataHandler(ListDataCreate, &pItem, nullptr))
            {
                EXPECT_EQ(VectorAt(pItem).y, 0.0f);
                *static_cast<vemoVector*>(pItem) = normal;
                ASSERT_TRUE(list.AddTail(pItem));
            }
            else
                ASSERT_TRUE(list.AddTailCopy(&normal));
            items.push_back(list.GetTail());
        }
        // Every item leaves the list; the host deletes every other one and hands the rest back.
        ASSERT_TRUE(list.RemoveAll());
        for (size_t i = 0; i < items.size(); ++i)
        {
            if (i % 2 == 0)
                delete static_cast<vemoVector*>(items[i]);
            else
                ASSERT_TRUE(list.AddTail(items[i]));
        }
        for (int i = 0; i < 30000; ++i)
            ASSERT_TRUE(list.AddHead(new vemoVector(-1.0f, -1.0f, -1.0f)));
        ASSERT_EQ(list.GetCount(), 60000);
        CBasicListIterator it(&list);
        for (int i = 0; i < 30000; ++i, it++)
            ASSERT_EQ(VectorAt(it.GetData()).x, -1.0f);
        for (int i = 1; i < 60000; i += 2, it++)
            ASSERT_EQ(VectorAt(it.GetData()).x, static_cast<float>(i));
        EXPECT_EQ(it.GetData(), nullptr);
        it.SetList(nullptr);
        EXPECT_TRUE(list.DeleteAll());
        EXPECT_EQ(list.GetCount(), 0);
    }
    // A point list takes host points the same way.
    CKarnList points;
    points.SetListTypePoint();
    ASSERT_TRUE(points.AddTail(new vemoFloatPoint(1.0f, 2.0f, 3.0f)));
    EXPECT_TRUE(points.DeleteAll());
}
