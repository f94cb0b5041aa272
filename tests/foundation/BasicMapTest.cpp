#include "foundation/BasicMap.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

TEST(BasicMapTest, EqualKeysMostRecentFirst)
{
    int a = 1, b = 2;
    CBasicMap map;
    EXPECT_EQ(map.LookupKey(5), nullptr);
    EXPECT_FALSE(map.RemoveKey(5));
    EXPECT_FALSE(map.AddWithKey(5, nullptr)); // no handler: a null item is refused
    EXPECT_EQ(map.GetCount(), 0);

    ASSERT_TRUE(map.AddWithKey(5, &a));
    ASSERT_TRUE(map.AddWithKey(5, &b));
    EXPECT_EQ(map.LookupKey(5), &b);
    EXPECT_EQ(map.LookupKey(6), nullptr);
    EXPECT_TRUE(map.RemoveKey(5));
    EXPECT_EQ(map.LookupKey(5), &a);
    EXPECT_EQ(map.GetCount(), 1);
    EXPECT_EQ(map.GetHead(), &a);
}

TEST(BasicMapTest, RemoveKeyUnlinksItsOwnElement)
{
    // Two keys whose items are equal under the handler: removing the second key must take the second
    // element, leaving the first key's entry on a live element.
    int seven = 7;
    CBasicMap map;
    map.UseIntegerData();
    ASSERT_TRUE(map.AddWithKey(1, &seven));
    ASSERT_TRUE(map.AddWithKey(2, &seven));
    void* pFirst = map.GetHead();
    EXPECT_TRUE(map.RemoveKey(2));
    EXPECT_EQ(map.GetCount(), 1);
    EXPECT_EQ(map.GetHead(), pFirst);
    EXPECT_EQ(map.LookupKey(1), pFirst);
    EXPECT_EQ(*static_cast<int*>(map.LookupKey(1)), 7);
    EXPECT_EQ(map.LookupKey(2), nullptr);
    EXPECT_TRUE(map.RemoveKey(1));
    EXPECT_EQ(map.GetCount(), 0);
}

TEST(BasicMapTest, TextKeys)
{
    int a = 1, b = 2, c = 3;
    CBasicMap map;
    ASSERT_TRUE(map.AddWithKey("Name", &a, true));
    EXPECT_EQ(map.LookupKey("NAME", false), &a); // upper-cased before hashing
    EXPECT_EQ(map.LookupKey("name", true), &a);
    EXPECT_EQ(map.LookupKey("name", false), nullptr);
    ASSERT_TRUE(map.AddWithKey("name", &b, false));
    EXPECT_EQ(map.LookupKey("name", false), &b);
    EXPECT_EQ(map.LookupKey("NAME", false), &a);

    // Only the CRC-32 of the UTF-16 text is kept: "123456789" is the same key as that number (computed
    // independently), and the empty text is the key 0.
    ASSERT_TRUE(map.AddWithKey(-1567561609, &c)); // 0xA290E877
    EXPECT_EQ(map.LookupKey("123456789", false), &c);
    ASSERT_TRUE(map.AddWithKey(0, &c));
    EXPECT_EQ(map.LookupKey("", true), &c);
    EXPECT_TRUE(map.RemoveKey("", false));
    EXPECT_EQ(map.LookupKey(0), nullptr);
    EXPECT_TRUE(map.RemoveKey("NaMe", true));
    EXPECT_EQ(map.LookupKey("NAME", false), nullptr);
    EXPECT_EQ(map.GetCount(), 2);
}

TEST(BasicMapTest, KeysSharingBuckets)
{
    // INT_MIN has a bucket of its own magnitude; keys of equal magnitude stay apart.
    const int keys[] = {INT_MIN, 7, -7, INT_MAX};
    int items[4] = {};
    CBasicMap map;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(map.AddWithKey(keys[i], &items[i]));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(map.LookupKey(keys[i]), &items[i]) << keys[i];
    EXPECT_TRUE(map.RemoveKey(INT_MIN));
    EXPECT_EQ(map.LookupKey(INT_MIN), nullptr);
    EXPECT_TRUE(map.RemoveKey(7));
    EXPECT_EQ(map.LookupKey(-7), &items[2]);

    // A single bucket: every key shares one chain and stays distinct.
    CBasicMap one;
    one.SetBucketCount(1);
    for (int key : {INT_MIN, -1, 0, 1, INT_MAX})
        ASSERT_TRUE(one.AddWithKey(key, &items[0]));
    EXPECT_TRUE(one.RemoveKey(0));
    EXPECT_EQ(one.LookupKey(0), nullptr);
    EXPECT_EQ(one.LookupKey(INT_MIN), &items[0]);
    EXPECT_EQ(one.GetCount(), 4);
}

TEST(BasicMapTest, EmptyingTheMap)
{
    int a = 1, b = 2;
    CBasicMap map;
    map.AddWithKey(1, &a);
    map.AddWithKey(2, &b);
    EXPECT_FALSE(map.DeleteAll()); // no handler: the key index goes, the elements stay
    EXPECT_EQ(map.GetCount(), 2);
    EXPECT_EQ(map.LookupKey(1), nullptr);
    EXPECT_EQ(map.GetHead(), &a);
    EXPECT_FALSE(map.RemoveKey(2));

    // Single removals through the list drop the removed element's entries too.
    map.AddWithKey(3, &a);
    map.AddWithKey(4, &b);
    EXPECT_TRUE(map.Remove(&b)); // the first element holding b has no key; key 4's stays
    EXPECT_EQ(map.LookupKey(4), &b);
    EXPECT_TRUE(map.Remove(&b));
    EXPECT_EQ(map.LookupKey(4), nullptr);
    EXPECT_EQ(map.RemoveHead(), &a);
    EXPECT_EQ(map.RemoveHead(), &a);
    EXPECT_EQ(map.LookupKey(3), nullptr);
    EXPECT_EQ(map.GetCount(), 0);

    int value = 5;
    map.UseIntegerData();
    map.AddWithKey(1, &value);
    map.AddWithKey(2, &value);
    EXPECT_TRUE(map.DeleteData(&value));
    EXPECT_EQ(map.LookupKey(1), nullptr);
    EXPECT_EQ(*static_cast<int*>(map.LookupKey(2)), 5);
    map.UseDoubleData(); // the items go through the old handler, the keys with them
    EXPECT_EQ(map.LookupKey(2), nullptr);
    EXPECT_EQ(map.GetCount(), 0);
}

TEST(BasicMapTest, RemovalsThroughTheListDoNotCostTheBucketCount)
{
    // Emptying a map from its head must not visit every bucket per removal: with four million buckets
    // that would take minutes (the test's time limit), against milliseconds for the adds.
    std::vector<int> items(30000);
    CBasicMap map;
    map.SetBucketCount(4000037);
    for (int i = 0; i < static_cast<int>(items.size()); ++i)
        ASSERT_TRUE(map.AddWithKey(i * 7919, &items[static_cast<size_t>(i)]));
    for (size_t i = 0; i < items.size(); ++i)
    {
        ASSERT_EQ(map.RemoveHead(), &items[i]);
        if (i % 1000 == 0)
        {
            ASSERT_EQ(map.LookupKey(static_cast<int>(i) * 7919), nullptr);
        }
    }
    EXPECT_EQ(map.LookupKey(29999 * 7919), nullptr);
}

TEST(BasicMapTest, BucketCountRules)
{
    int a = 1;
    CBasicMap map;
    EXPECT_EQ(map.GetBucketCount(), 10009);
    map.SetBucketCount(0);
    map.SetBucketCount(-5);
    EXPECT_EQ(map.GetBucketCount(), 10009);
    map.SetBucketCount(17);
    EXPECT_EQ(map.GetBucketCount(), 17);
    ASSERT_TRUE(map.AddWithKey(40, &a));
    map.SetBucketCount(31); // the array exists: ignored, so the key stays where it was filed
    EXPECT_EQ(map.GetBucketCount(), 17);
    EXPECT_EQ(map.LookupKey(40), &a);
    map.RemoveAll();
    map.SetBucketCount(31);
    EXPECT_EQ(map.GetBucketCount(), 17);

    // An array that would not fit the recorded 32-bit size is refused and nothing is added.
    CBasicMap huge;
    huge.SetBucketCount(INT_MAX);
    EXPECT_FALSE(huge.AddWithKey(1, &a));
    EXPECT_EQ(huge.GetCount(), 0);
    EXPECT_EQ(huge.LookupKey(1), nullptr);
}
