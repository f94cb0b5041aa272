#include "model/VemoTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace
{

// A box's minimum and maximum, x, y and z each.
std::vector<float> Corners(const vemoBBox& box)
{
    const vemoFloatPoint &min = box.GetMin(), &max = box.GetMax();
    return {min.x, min.y, min.z, max.x, max.y, max.z};
}

} // namespace

TEST(VemoBBoxTest, BoxesEncloseWhatTheyAreUpdatedWith)
{
    const float inf = std::numeric_limits<float>::infinity();
    vemoBBox box;
    box.Update(vemoFloatPoint(std::nanf(""), 1.0f, 1.0f)); // a point with a NaN is ignored
    EXPECT_TRUE(box.IsEmpty());
    EXPECT_EQ(Corners(box), std::vector<float>(6, 0.0f));
    box.Update(vemoFloatPoint(-1.5f, -2.0f, -3.0f));
    EXPECT_EQ(Corners(box), (std::vector<float>{-1.5f, -2.0f, -3.0f, -1.5f, -2.0f, -3.0f}));
    box.Update(vemoFloatPoint(-4.0f, 5.0f, -0.5f));
    box.Update(vemoFloatPoint(std::nanf(""), 100.0f, 100.0f));
    box.Update(vemoBBox()); // an empty box changes nothing
    EXPECT_EQ(Corners(box), (std::vector<float>{-4.0f, -2.0f, -3.0f, -1.5f, 5.0f, -0.5f}));

    // An empty box updated with a full one takes it over; a disjoint one widens it on every axis, and
    // infinite coordinates are taken as they are.
    vemoBBox merged, far;
    merged.Update(box);
    far.Update(vemoFloatPoint(10.0f, -inf, inf));
    merged.Update(far);
    EXPECT_EQ(Corners(merged), (std::vector<float>{-4.0f, -inf, -3.0f, 10.0f, 5.0f, inf}));
    merged.Reset();
    EXPECT_TRUE(merged.IsEmpty());
    EXPECT_EQ(Corners(merged), std::vector<float>(6, 0.0f));
}
