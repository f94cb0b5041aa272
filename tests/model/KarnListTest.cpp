#include "model/KarnList.h"

#include <gtest/gtest.h>

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
    CKarnList list;
    list.SetListTypePoint();
    vemoFloatPoint point(1.0f, -2.0f, 3.5f);
    ASSERT_TRUE(list.AddTailCopy(&point));
    point.x = 9.0f;
    ASSERT_TRUE(list.AddHeadCopy(&point));
    EXPECT_FALSE(list.AddTailCopy(nullptr));
    list.SetListTypePoint(); // restating the type keeps the items
    ASSERT_EQ(list.GetCount(), 2);
    const auto* pTail = static_cast<const vemoFloatPoint*>(list.GetTail());
    EXPECT_TRUE(pTail->x == 1.0f && pTail->z == 3.5f);

    // Finding compares all three coordinates. DeleteData frees one item.
    vemoFloatPoint otherZ(9.0f, -2.0f, 0.0f);
    EXPECT_EQ(list.FindElement(&otherZ), nullptr);
    EXPECT_TRUE(list.DeleteData(&point));
    EXPECT_EQ(list.GetHead(), pTail);

    // A removed item is the caller's: it outlives the list's change of type (which frees the others
    // through the old handler), and the handler frees it.
    ASSERT_TRUE(list.AddTailCopy(&otherZ));
    void* pRemoved = list.RemoveHead();
    list.SetListTypeVector();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(static_cast<const vemoFloatPoint*>(pRemoved)->y, -2.0f);
    EXPECT_TRUE(PointDataHandler(ListDataDestroy, &pRemoved, nullptr));
    EXPECT_EQ(pRemoved, nullptr);
}

TEST(KarnListTest, CopiesNeverShareItemsWithTheirSource)
{
    CKarnList source;
    source.SetListTypeVector();
    for (vemoVector normal :
         {vemoVector(0.0f, 1.0f, 2.0f), vemoVector(1.0f, 1.0f, 2.0f), vemoVector(2.0f, 1.0f, 2.0f)})
        ASSERT_TRUE(source.AddTailCopy(&normal));
    CKarnList copy(source), assigned;
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
    assigned.DeleteAll();

    // Without a handler the list holds borrowed pointers (a stack of groups): a copy holds the same ones.
    int a = 1, b = 2;
    CKarnList stack;
    stack.AddHead(&a);
    stack.AddHead(&b);
    CKarnList stackCopy(stack);
    EXPECT_EQ(stackCopy.RemoveHead(), &b);
    EXPECT_EQ(stackCopy.GetHead(), &a);
}

TEST(KarnListTest, ItemsOfAnyMakerMixAndAreFreedByEither)
{
    // Items the host made with new, items the handler made and copies the list made, interleaved over
    // many storage chunks; the list frees the host's items, the host deletes the list's, and freed slots
    // are reused without disturbing the values of the others.
    CKarnList list;
    list.SetListTypeVector();
    std::vector<void*> items;
    for (int i = 0; i < 60000; ++i)
    {
        vemoVector normal(static_cast<float>(i), 1.0f, 2.0f);
        void* pItem = i % 3 == 0 ? new vemoVector(normal) : nullptr;
        if (i % 3 == 1)
        {
            ASSERT_TRUE(VectorDataHandler(ListDataCreate, &pItem, nullptr));
            EXPECT_EQ(VectorAt(pItem).y, 0.0f);
            *static_cast<vemoVector*>(pItem) = normal;
        }
        ASSERT_TRUE(pItem ? list.AddTail(pItem) : list.AddTailCopy(&normal));
        items.push_back(list.GetTail());
    }
    // Every item leaves the list; the host deletes every other one, hands the rest back and adds new
    // ones of its own.
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
    CBasicListIterator it(&list);
    for (int i = 0; i < 60000; ++i, it++)
        ASSERT_EQ(VectorAt(it.GetData()).x, i < 30000 ? -1.0f : static_cast<float>(2 * i - 59999));
    it.SetList(nullptr);
    EXPECT_TRUE(list.DeleteAll());
}
