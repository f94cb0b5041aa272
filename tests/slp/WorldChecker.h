// A shared reader of loaded worlds for the tests: a textual description of the group tree and its mesh
// objects, and a consistency check of everything a load builds. Both walk the tree without recursion.
#pragma once

#include "slp/SLPParser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Loads the file at the path into the world.
inline SLPLoadResultTypes LoadFile(CSLPParser& parser, CKarnWorld& world, const std::string& path)
{
    parser.SetFileName(CBasicString(path.c_str()));
    return parser.Parse(&world);
}

inline std::string NarrowName(const vemoWRope& name)
{
    CBasicString text(name.GetText());
    const char* psz = text.GetNarrowString();
    return psz != nullptr ? std::string(psz) : std::string();
}

inline std::string DescribeColor(const vemoChroma& c)
{
    std::ostringstream out;
    out << c.red << ' ' << c.green << ' ' << c.blue << ' ' << c.alpha;
    return out.str();
}

// One line per group ("group NAME") and per mesh object ("mesh N colour R G B A"), indented by depth;
// a group lists its objects before its child groups. The world itself is not printed.
inline std::string DescribeWorld(const vemoBaseGroup& world)
{
    std::ostringstream out;
    std::vector<std::pair<const vemoBaseGroup*, int>> pending;
    for (int i = world.GetNumGroups() - 1; i >= 0; --i)
        pending.emplace_back(world.GetGroup(i), 0);
    auto describeObjects = [&out](const vemoBaseGroup& group, int depth)
    {
        for (int i = 0; i < group.GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i));
            out << std::string(2 * static_cast<size_t>(depth), ' ') << "mesh "
                << (pMesh != nullptr ? pMesh->m_nTriangleCount : -1) << " colour "
                << DescribeColor(group.GetObjectMaterial(i)->m_Front.GetDiffuse()) << '\n';
        }
    };
    describeObjects(world, 0);
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back().first;
        const int depth = pending.back().second;
        pending.pop_back();
        out << std::string(2 * static_cast<size_t>(depth), ' ') << "group "
            << NarrowName(pGroup->GetGroupName()) << '\n';
        describeObjects(*pGroup, depth + 1);
        for (int i = pGroup->GetNumGroups() - 1; i >= 0; --i)
            pending.emplace_back(pGroup->GetGroup(i), depth + 1);
    }
    return out.str();
}

// Whether the box encloses the point; a point with a NaN coordinate (which no box takes) passes.
inline bool BoxEncloses(const vemoBBox& box, const vemoFloatPoint& p)
{
    const vemoFloatPoint &lo = box.GetMin(), &hi = box.GetMax();
    return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z) ||
           (!box.IsEmpty() && lo.x <= p.x && lo.y <= p.y && lo.z <= p.z && hi.x >= p.x && hi.y >= p.y &&
            hi.z >= p.z);
}

// What every load must leave behind, whatever the file: parents that point back, mesh objects with
// triangles and the flush's material record, boxes that enclose their vertices, and a world box that
// encloses every mesh (when the world's box was set by a successful load).
inline testing::AssertionResult WorldIsConsistent(const vemoBaseGroup& world, bool bWorldBoxSet)
{
    std::vector<const vemoBaseGroup*> pending(1, &world);
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back();
        pending.pop_back();
        for (int i = 0; i < pGroup->GetNumGroups(); ++i)
        {
            if (pGroup->GetGroup(i)->GetParent() != pGroup)
                return testing::AssertionFailure() << "child " << i << " does not point back to its parent";
            pending.push_back(pGroup->GetGroup(i));
        }
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(pGroup->GetObject(i));
            const vemoMatProps* pProps = pGroup->GetObjectMaterial(i);
            if (pMesh == nullptr || pProps == nullptr)
                return testing::AssertionFailure() << "object " << i << " is not a mesh with a material";
            if (pMesh->m_nTriangleCount < 1 || pMesh->m_pTriangles == nullptr)
                return testing::AssertionFailure() << "mesh without triangles";
            if (pProps->m_nMode != 2 || pProps->m_Front.GetShininess() != 64.0f ||
                pProps->m_Back.GetShininess() != 64.0f ||
                DescribeColor(pProps->m_Front.GetDiffuse()) != DescribeColor(pProps->m_Back.GetDiffuse()))
                return testing::AssertionFailure() << "material record differs from the flush's";
            for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
                for (const vemoFloatPoint& v : pMesh->m_pTriangles[t].m_Vertex)
                    if (!BoxEncloses(pMesh->GetBBox(), v) ||
                        (bWorldBoxSet && !BoxEncloses(world.GetBBox(), v)))
                        return testing::AssertionFailure()
                               << "a box does not enclose vertex " << v.x << ' ' << v.y << ' ' << v.z;
        }
    }
    return testing::AssertionSuccess();
}
