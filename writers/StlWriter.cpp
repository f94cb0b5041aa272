// Binary STL output: geometry only, one facet normal per triangle.
#include "writers/FileSink.h"
#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"

#include <cstring>

namespace
{

// The mean direction of the three vertex normals, of unit length; zero where they cancel or are not
// finite (STL readers then compute the normal from the vertices).
vemoVector FacetNormal(const vemoTRex& triangle)
{
    double a[3] = {0.0, 0.0, 0.0};
    for (const vemoVector& n : triangle.m_Normal)
    {
        a[0] += n.x;
        a[1] += n.y;
        a[2] += n.z;
    }
    float aUnit[3] = {0.0f, 0.0f, 0.0f};
    Normalise(a[0], a[1], a[2], aUnit);
    return vemoVector(aUnit[0], aUnit[1], aUnit[2]);
}

} // namespace

bool WriteStl(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report)
{
    const std::vector<const vemoBaseGroup*> groups = ListGroupsBreadthFirst(root);
    report.m_nGroups = static_cast<long long>(groups.size()) - 1;
    const unsigned long long nTriangles = CountExportedTriangles(groups);
    if (nTriangles > 0xFFFFFFFFull)
    {
        SetTooLarge(report, path, "more than 4294967295 triangles");
        return false;
    }

    CFileSink out;
    if (!OpenOutputs(options, report, out, path))
        return false;
    CExportProgress progress(options, nTriangles);
    // The header must not begin with "solid", which would make readers take the file for text STL.
    char szHeader[80];
    std::memset(szHeader, ' ', sizeof(szHeader));
    static const char szTitle[] = "binary STL written by slp convert";
    std::memcpy(szHeader, szTitle, sizeof(szTitle) - 1);
    out.Write(szHeader, sizeof(szHeader));
    out.U32(static_cast<std::uint32_t>(nTriangles));
    const auto writeMesh = [&](const vemoBaseGroup&, int, const vemoSTL& mesh)
    {
        for (int t = 0; t < mesh.m_nTriangleCount; ++t, progress.Advance())
        {
            const vemoTRex& triangle = mesh.m_pTriangles[t];
            const vemoVector normal = FacetNormal(triangle);
            out.F32(normal.x);
            out.F32(normal.y);
            out.F32(normal.z);
            for (const vemoFloatPoint& p : triangle.m_Vertex)
            {
                out.F32(p.x);
                out.F32(p.y);
                out.F32(p.z);
            }
            out.U16(0);
        }
        report.m_nMeshes += 1;
        return true;
    };
    ForEachExportedMesh(groups, writeMesh);
    report.m_nTriangles = static_cast<long long>(nTriangles);
    report.m_nVertices = static_cast<long long>(3 * nTriangles);
    if (!FinishOutputs(report, out))
        return false;
    progress.Finish();
    return true;
}
