#include "external/model/VemoTypes.h"
#include "external/model/KarnStl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{

void ExpectPoint(const vemoFloatPoint& point, float x, float y, float z)
{
    EXPECT_EQ(point.x, x);
    EXPECT_EQ(point.y, y);
    EXPECT_EQ(point.z, z);
}

std::basic_string<WideChar> Wide(const char* pszAscii)
{
    return std::basic_string<WideChar>(pszAscii, pszAscii + std::char_traits<char>::length(pszAscii));
}

} // namespace

TEST(VemoBBoxTest, EmptyBoxesSinglePointsAndNegativeCoordinates)
{
    vemoBBox box;
    EXPECT_TRUE(box.IsEmpty());
    ExpectPoint(box.GetMin(), 0, 0, 0);

    box.Update(vemoFloatPoint(-1.5f, -2.0f, -3.0f));
    EXPECT_FALSE(box.IsEmpty());
    ExpectPoint(box.GetMin(), -1.5f, -2.0f, -3.0f);
    ExpectPoint(box.GetMax(), -1.5f, -2.0f, -3.0f);

    box.Update(vemoFloatPoint(-4.0f, 5.0f, -0.5f));
    box.Update(vemoFloatPoint(std::nanf(""), 100.0f, 100.0f)); // a point with a NaN is ignored

    vemoBBox empty;
    box.Update(empty); // changes nothing, checked through the copy below

    // An empty box updated with a full one takes it over; a disjoint one widens it on every axis.
    empty.Update(box);
    ExpectPoint(empty.GetMin(), -4.0f, -2.0f, -3.0f);
    ExpectPoint(empty.GetMax(), -1.5f, 5.0f, -0.5f);
    vemoBBox far;
    far.Update(vemoFloatPoint(10.0f, -10.0f, 0.0f));
    empty.Update(far);
    ExpectPoint(empty.GetMin(), -4.0f, -10.0f, -3.0f);
    ExpectPoint(empty.GetMax(), 10.0f, 5.0f, 0.0f);

    empty.Reset();
    EXPECT_TRUE(empty.IsEmpty());
    ExpectPoint(empty.GetMax(), 0, 0, 0);
}

TEST(VemoValueTest, RopesOwnTheirText)
{
    EXPECT_EQ(vemoWRope(nullptr).GetText()[0], 0);
    WideChar text[] = {'a', 'b', 0};
    vemoWRope rope(text);
    vemoWRope copy(rope);
    text[0] = 'x';
    rope = vemoWRope(text);
    EXPECT_EQ(std::basic_string<WideChar>(copy.GetText()), Wide("ab"));
    EXPECT_EQ(std::basic_string<WideChar>(rope.GetText()), Wide("xb"));
    EXPECT_EQ(copy.GetLength(), 2);
}

TEST(VemoStlTest, BoxCoversEveryVertexOfEveryTriangle)
{
    CKarnStl mesh;
    mesh.ComputeBBoxFromPoints();
    EXPECT_TRUE(mesh.GetBBox().IsEmpty());

    mesh.m_nTriangleCount = 2;
    mesh.m_pTriangles = new vemoTRex[2];
    mesh.m_pTriangles[0].m_Vertex[1] = vemoFloatPoint(-1.0f, 2.0f, 3.0f);
    mesh.m_pTriangles[1].m_Vertex[2] = vemoFloatPoint(4.0f, -5.0f, 6.0f);
    mesh.m_pTriangles[1].m_Normal[0] = vemoVector(100.0f, 100.0f, 100.0f); // normals are not positions
    mesh.ComputeBBoxFromPoints();
    ExpectPoint(mesh.GetBBox().GetMin(), -1.0f, -5.0f, 0.0f);
    ExpectPoint(mesh.GetBBox().GetMax(), 4.0f, 2.0f, 6.0f);

    // Only the counted triangles take part.
    mesh.m_nTriangleCount = 1;
    mesh.ComputeBBoxFromPoints();
    ExpectPoint(mesh.GetBBox().GetMax(), 0.0f, 2.0f, 3.0f);
}
