// Shared helpers of the writer tests: fixture loading, hand-built models and output files.
#pragma once

#include "slp/SLPParser.h"
#include "tests/support/TestFiles.h"
#include "writers/WorldExport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// A file of the test data folder, loaded into a new world.
inline std::unique_ptr<CKarnWorld> LoadFixture(const std::string& name)
{
    auto pWorld = std::make_unique<CKarnWorld>();
    CSLPParser parser;
    parser.SetFileName(CBasicString(DataPath(name).c_str()));
    EXPECT_EQ(parser.Parse(pWorld.get()), SLPLoadSuccess) << name;
    return pWorld;
}

inline std::string OutputPath(const std::string& name)
{
    return testing::TempDir() + "slp_writers_" + name;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline bool FileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

// A new child group of the parent, owned by it.
inline CKarnGroup* AddGroup(CKarnGroup& parent, const char16_t* pszName)
{
    auto* pGroup = new CKarnGroup;
    pGroup->SetGroupName(vemoWRope(reinterpret_cast<const WideChar*>(pszName))); // same units on Windows
    parent.AddGroup(pGroup, 1);
    return pGroup;
}

// A mesh of the given triangles with the loader's material record in the given colour.
inline void AddMesh(CKarnGroup& group, const std::vector<vemoTRex>& triangles, const vemoChroma& colour)
{
    auto* pMesh = new CKarnStl;
    pMesh->m_nTriangleCount = static_cast<int>(triangles.size());
    pMesh->m_pTriangles = new vemoTRex[triangles.size()];
    std::copy(triangles.begin(), triangles.end(), pMesh->m_pTriangles);
    pMesh->ComputeBBoxFromPoints();
    vemoMatProps props;
    props.m_nMode = 2;
    props.m_Front.SetDiffuse(colour);
    props.m_Back.SetDiffuse(colour);
    props.m_Front.SetShininess(64.0f);
    props.m_Back.SetShininess(64.0f);
    group.AddObject(pMesh, props, 1);
}

inline vemoTRex Triangle(const vemoFloatPoint& a, const vemoFloatPoint& b, const vemoFloatPoint& c,
                         const vemoVector& normal = vemoVector(0, 0, 1))
{
    vemoTRex triangle;
    triangle.m_Vertex[0] = a;
    triangle.m_Vertex[1] = b;
    triangle.m_Vertex[2] = c;
    triangle.m_Normal[0] = triangle.m_Normal[1] = triangle.m_Normal[2] = normal;
    return triangle;
}

// An n-by-n grid of unit squares in the z = 0 plane, two triangles each: (n + 1)^2 distinct vertices.
inline std::vector<vemoTRex> Grid(int n)
{
    std::vector<vemoTRex> triangles;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
        {
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            triangles.push_back(Triangle({fx, fy, 0}, {fx + 1, fy, 0}, {fx + 1, fy + 1, 0}));
            triangles.push_back(Triangle({fx, fy, 0}, {fx + 1, fy + 1, 0}, {fx, fy + 1, 0}));
        }
    return triangles;
}
