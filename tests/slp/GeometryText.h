// Texts of what a host sees of a load, for exact comparisons: the model with every vertex (and normal),
// and the point and normal lists. Both read without recursion.
#pragma once

#include "WorldChecker.h"
#include "slp/SLPParser.h"

#include <sstream>
#include <string>
#include <utility>
#include <vector>

// The items of a point or normal list (both hold three floats), "x y z" each, separated by ", ".
inline std::string ListText(CKarnList* pList)
{
    std::ostringstream out;
    out.precision(9);
    CBasicListIterator it(pList);
    for (bool bFirst = true; it.GetData() != nullptr; it++, bFirst = false)
    {
        const auto* p = static_cast<const vemoFloatPoint*>(it.GetData());
        out << (bFirst ? "" : ", ") << p->x << ' ' << p->y << ' ' << p->z;
    }
    return out.str();
}

// One line per group ("group NAME", indented by depth) and per mesh: "mesh" and the vertices' x
// coordinates, "; " between triangles. With bFull, the colour and decimation magnitude and every
// vertex and normal in full ("x y z/nx ny nz"). A group lists its meshes before its child groups.
inline std::string GeometryText(const vemoBaseGroup& world, bool bFull)
{
    std::ostringstream out;
    out.precision(9);
    std::vector<std::pair<const vemoBaseGroup*, int>> pending(1, std::make_pair(&world, -1));
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back().first;
        const int nDepth = pending.back().second;
        pending.pop_back();
        const std::string strIndent(2 * static_cast<size_t>(nDepth + 1), ' ');
        if (nDepth >= 0)
            out << std::string(2 * static_cast<size_t>(nDepth), ' ') << "group "
                << NarrowName(pGroup->GetGroupName()) << '\n';
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(pGroup->GetObject(i));
            out << strIndent << "mesh";
            if (pMesh == nullptr)
            {
                out << " of another kind\n";
                continue;
            }
            if (bFull)
                out << " colour " << DescribeColor(pGroup->GetObjectMaterial(i)->m_Front.GetDiffuse())
                    << " decimation " << pMesh->GetDecimationMagnitude() << ':';
            for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
                for (int c = 0; c < 3; ++c)
                {
                    const vemoFloatPoint& v = pMesh->m_pTriangles[t].m_Vertex[c];
                    const vemoVector& n = pMesh->m_pTriangles[t].m_Normal[c];
                    out << (c == 0 && t > 0 ? "; " : " ") << v.x;
                    if (bFull)
                        out << ' ' << v.y << ' ' << v.z << '/' << n.x << ' ' << n.y << ' ' << n.z;
                }
            out << '\n';
        }
        for (int i = pGroup->GetNumGroups() - 1; i >= 0; --i)
            pending.emplace_back(pGroup->GetGroup(i), nDepth + 1);
    }
    return out.str();
}
