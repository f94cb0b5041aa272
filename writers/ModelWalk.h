// What the writers share: the walk over the model's groups and meshes, colours clamped into 0..1,
// the vertex records of triangle corners, and group names as UTF-8. Internal to the writers library.
#pragma once

#include "model/VemoGroup.h"
#include "model/VemoObject.h"
#include "writers/VertexIndex.h"
#include "writers/WorldExport.h"

#include <cstdint>
#include <string>
#include <vector>

// Every group from the root down, breadth first: the root, its children in order, their children in
// order, ... A group's children therefore stand side by side. Iterative; one pointer per group.
std::vector<const vemoBaseGroup*> ListGroupsBreadthFirst(const vemoBaseGroup& root);

// The group's mesh object at an index, or null when the object is not a vemoSTL with triangles.
const vemoSTL* GetExportedMesh(const vemoBaseGroup& group, int nObject);

// Calls visit(nObject, mesh) for each exported mesh of the group, in the group's order; stops early
// when visit returns false, and then returns false.
template <class Visit> bool ForEachExportedMesh(const vemoBaseGroup& group, Visit visit)
{
    for (int nObject = 0; nObject < group.GetNumObjects(); ++nObject)
        if (const vemoSTL* pMesh = GetExportedMesh(group, nObject))
            if (!visit(nObject, *pMesh))
                return false;
    return true;
}

// Calls visit(group, nObject, mesh) for each exported mesh of the groups, in order; stops early as
// above.
template <class Visit> bool ForEachExportedMesh(const std::vector<const vemoBaseGroup*>& groups, Visit visit)
{
    for (const vemoBaseGroup* pGroup : groups)
        if (!ForEachExportedMesh(*pGroup, [&](int nObject, const vemoSTL& mesh)
                                 { return visit(*pGroup, nObject, mesh); }))
            return false;
    return true;
}

// The group's name as UTF-8 (unpaired surrogates become U+FFFD).
std::string GroupNameUtf8(const vemoBaseGroup& group);

// A colour with each channel clamped into 0..1 (not-a-number becomes 0, -0 becomes 0).
struct CClampedColour
{
    float m_aValues[4];
    bool m_bChanged; // a channel was outside 0..1 or not a number
};
CClampedColour ClampColour(const vemoChroma& colour);

// The corner's position and its normal as they stand in the model.
CVertexRecord RawCorner(const vemoTRex& triangle, int nCorner);

// Whether every vertex coordinate of the triangle is finite.
bool IsFiniteTriangle(const vemoTRex& triangle);

// The direction (x, y, z) as a unit vector in pOut, computed in double where squaring a float cannot
// overflow; false (pOut unchanged) where it has no length or is not finite.
bool Normalise(double x, double y, double z, float* pOut);

// The corner's position and a unit normal: the corner's normal normalised; where it has no length or
// is not finite, the triangle's geometric normal (counted in nReplaced), or +Z where that has none.
CVertexRecord UnitCorner(const vemoTRex& triangle, int nCorner, long long& nReplaced);

// The most vertices one mesh may index with 32-bit numbers.
constexpr std::uint64_t MaxIndexedVertices = 0xFFFFFFFEull;

// Where a path's file name starts: after its last folder separator ('/', and on Windows also '\\' and
// a drive's ':'), or 0.
size_t FileNameStart(const std::string& path);

// The failure report for a model beyond a limit of the format.
void SetTooLarge(CExportReport& report, const std::string& path, const char* pszLimit);

// The triangles of every exported mesh of the groups.
unsigned long long CountExportedTriangles(const std::vector<const vemoBaseGroup*>& groups);

// The share of an export's work done, reported through the options' callback each time its percentage
// grows. The work is counted in steps (a writer's passes over the triangles); Advance is cheap enough
// for every triangle.
class CExportProgress
{
public:
    CExportProgress(const CExportOptions& options, unsigned long long nSteps);
    void Advance(unsigned long long nSteps = 1)
    {
        m_nDone += nSteps;
        if (m_nDone >= m_nNextReport)
            Report();
    }
    // 100 percent, once the files are in place.
    void Finish();

private:
    void Report();

    const CExportOptions& m_Options;
    unsigned long long m_nSteps;
    unsigned long long m_nDone = 0;
    unsigned long long m_nNextReport;
    int m_nLast = -1;
};
