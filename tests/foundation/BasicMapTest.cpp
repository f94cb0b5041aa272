#include "foundation/BasicMap.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace
{

// Integer items, counting creations and destructions.
int g_nItems = 0;
bool CountingInts(int nOperation, void** ppItem, void* pOther)
{
    g_nItems += nOperation == ListDataCreate ? 1 : (nOperation == ListDataDestroy ? -1 : 0);
    return IntegerDataHandler(nOperation, ppItem, pOther);
}

} // namespace

TEST(BasicMapTest, KeysFindTheirMostRecentItem)
{
    // -2147483648 has a bucket of its own magnitude; keys of equal magnitude stay apart; of equal keys
    // the most recent is found first.
    int items[5] = {};
    CBasicMap map;
    EXPECT_FALSE(map.LookupKey(5) || map.RemoveKey(5) || map.AddWithKey(5, nullptr)); // null: refused
    const int keys[] = {INT_MIN, 7, -7, INT_MAX, 7};
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(map.AddWithKey(keys[i], &items[i]));
    for (int i : {0, 2, 3, 4})
        EXPECT_EQ(map.LookupKey(keys[i]), &items[i]) << keys[i];
    EXPECT_EQ(map.LookupKey(6), nullptr);
    EXPECT_TRUE(map.RemoveKey(7));
    EXPECT_EQ(map.LookupKey(7), &items[1]);
    EXPECT_TRUE(map.RemoveKey(INT_MIN));
    EXPECT_EQ(map.LookupKey(INT_MIN), nullptr);
    EXPECT_EQ(map.GetHead(), &items[1]);

    // A single bucket: every key shares one chain, stays distinct and leaves it from any place.
    CBasicMap one;
    one.SetBucketCount(1);
    for (int key : {INT_MIN, -1, 0, 1, INT_MAX})
        ASSERT_TRUE(one.AddWithKey(key, &items[0]));
    for (int key : {0, -1, INT_MAX}) // the middle, the entry after it, the head
        EXPECT_TRUE(one.RemoveKey(key));
    for (int key : {INT_MIN, -1, 0, 1, INT_MAX})
        EXPECT_EQ(one.LookupKey(key), key == INT_MIN || key == 1 ? &items[0] : nullptr) << key;
    EXPECT_EQ(one.GetCount(), 2);

    // Text keys: upper-cased before hashing when asked; only the CRC-32 of the UTF-16 text is kept, so
    // "123456789" is the same key as that number (computed independently), and "" is the key 0.
    CBasicMap text;
    ASSERT_TRUE(text.AddWithKey("Name", &items[0], true));
    EXPECT_EQ(text.LookupKey("name", true), &items[0]);
    EXPECT_EQ(text.LookupKey("name", false), nullptr);
    ASSERT_TRUE(text.AddWithKey(-1567561609, &items[1])); // 0xA290E877
    EXPECT_EQ(text.LookupKey("123456789", false), &items[1]);
    ASSERT_TRUE(text.AddWithKey(0, &items[2]));
    EXPECT_TRUE(text.RemoveKey("", false) && text.RemoveKey("NaMe", true));
    EXPECT_EQ(text.LookupKey(0), nullptr);
    EXPECT_EQ(text.GetCount(), 1);
}

TEST(BasicMapTest, RemovalsThroughTheListDropTheirKeys)
{
    int a = 1, b = 2;
    CBasicMap map;
    map.AddWithKey(1, &a);
    map.AddWithKey(2, &b);
    EXPECT_FALSE(map.DeleteAll()); // no handler: the key index goes, the elements stay
    EXPECT_EQ(map.GetCount(), 2);
    EXPECT_EQ(map.LookupKey(1), nullptr);

    map.AddWithKey(3, &a);
    map.AddWithKey(4, &b);
    EXPECT_TRUE(map.Remove(&b)); // the first element holding b has no key; key 4's stays
    EXPECT_EQ(map.LookupKey(4), &b);
    EXPECT_TRUE(map.Remove(&b));
    EXPECT_EQ(map.LookupKey(4), nullptr);
    EXPECT_EQ(map.RemoveHead(), &a);
    EXPECT_EQ(map.RemoveHead(), &a);
    EXPECT_EQ(map.LookupKey(3), nullptr);
    map.AddWithKey(5, &a);
    EXPECT_TRUE(map.RemoveAll());
    EXPECT_EQ(map.LookupKey(5), nullptr);

    // Items equal under the handler: a key removes (and destroys) its own element, never another
    // holding an equal item; DeleteData takes the first equal one and its key.
    int value = 5;
    map.SetDataHandler(CountingInts);
    for (int key : {1, 2, 3})
        map.AddWithKey(key, &value);
    void* pFirst = map.GetHead();
    EXPECT_TRUE(map.RemoveKey(2));
    EXPECT_EQ(g_nItems, 2);
    EXPECT_EQ(map.GetHead(), pFirst);
    EXPECT_TRUE(map.DeleteData(&value));
    EXPECT_EQ(map.LookupKey(1), nullptr);
    EXPECT_EQ(*static_cast<int*>(map.LookupKey(3)), 5);
    map.UseDoubleData(); // the items go through the old handler, the keys with them
    EXPECT_EQ(g_nItems, 0);
    EXPECT_EQ(map.LookupKey(3), nullptr);

    // Emptying a map from its head must not visit every bucket per removal: with four million buckets
    // that would take minutes (the test's time limit), against milliseconds for the adds.
    std::vector<int> items(30000);
    CBasicMap large;
    large.SetBucketCount(4000037);
    for (int i = 0; i < static_cast<int>(items.size()); ++i)
        ASSERT_TRUE(large.AddWithKey(i * 7919, &items[static_cast<size_t>(i)]));
    for (size_t i = 0; i < items.size(); ++i)
        ASSERT_EQ(large.RemoveHead(), &items[i]);
    EXPECT_EQ(large.LookupKey(29999 * 7919), nullptr);
}

TEST(BasicMapTest, BucketCountRules)
{
    int a = 1;
    CBasicMap map;
    map.SetBucketCount(0);
    EXPECT_EQ(map.GetBucketCount(), 10009);
    map.SetBucketCount(17);
    ASSERT_TRUE(map.AddWithKey(40, &a));
    map.SetBucketCount(31); // the array exists: ignored, so the key stays where it was filed
    EXPECT_EQ(map.GetBucketCount(), 17);
    EXPECT_EQ(map.LookupKey(40), &a);

    // An array that would not fit the recorded 32-bit size is refused and nothing is added.
    CBasicMap huge;
    huge.SetBucketCount(INT_MAX);
    EXPECT_FALSE(huge.AddWithKey(1, &a));
    EXPECT_EQ(huge.GetCount(), 0);
}
