// Binary little-endian PLY output: merged vertices with normals and the mesh colour, then the faces.
#include "writers/CornerNumbering.h"
#include "writers/FileSink.h"
#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"
#include "writers/NoInitAllocator.h"
#include "writers/PartRunner.h"

namespace
{

struct CPlyMesh
{
    const vemoSTL* m_pMesh;
    std::uint32_t m_nVertices;
    unsigned char m_aColour[3];
};

unsigned char ColourByte(float f)
{
    return static_cast<unsigned char>(f * 255.0f + 0.5f);
}

} // namespace

bool WritePly(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report)
{
    // The header states the vertex and face counts, and every vertex precedes every face: the first
    // pass merges each mesh's vertices into the output's index, the second writes.
    const std::vector<const vemoBaseGroup*> groups = ListGroupsBreadthFirst(root);
    report.m_nGroups = static_cast<long long>(groups.size()) - 1;
    std::vector<CPlyMesh> meshes;
    unsigned long long nVertices = 0;
    // Three passes over the triangles: merging, the vertices, the faces.
    const unsigned long long nTriangles = CountExportedTriangles(groups);
    // Every corner's number, each mesh's numbered where they stay.
    CBufferVector<std::uint32_t> corners(static_cast<size_t>(3 * nTriangles));
    size_t nNumbered = 0;
    CExportProgress progress(options, 3 * nTriangles);
    const auto fill = [](const vemoTRex& triangle, CVertexRecord* pCorners)
    {
        for (int k = 0; k < 3; ++k)
            pCorners[k] = RawCorner(triangle, k);
        return true;
    };
    const auto mergeMesh = [&](const CNumberedMesh& mesh)
    {
        nNumbered += 3 * static_cast<size_t>(mesh.m_pMesh->m_nTriangleCount);
        const CClampedColour colour =
            ClampColour(mesh.m_pGroup->GetObjectMaterial(mesh.m_nObject)->m_Front.GetDiffuse());
        if (colour.m_bChanged)
            ++report.m_nClampedColours;
        meshes.push_back(CPlyMesh{mesh.m_pMesh,
                                  mesh.m_nVertices,
                                  {ColourByte(colour.m_aValues[0]), ColourByte(colour.m_aValues[1]),
                                   ColourByte(colour.m_aValues[2])}});
        nVertices += mesh.m_nVertices;
        report.m_nMeshes += 1;
        report.m_nTriangles += mesh.m_pMesh->m_nTriangleCount;
        return nVertices <= MaxIndexedVertices;
    };
    CPartRunner runner(ExportThreadCount(options));
    const auto placeIds = [&](const vemoSTL&) { return corners.data() + nNumbered; };
    if (!NumberMeshes(groups, runner, fill, mergeMesh, progress, placeIds))
    {
        SetTooLarge(report, path, "more than 4294967294 vertices");
        return false;
    }
    report.m_nVertices = static_cast<long long>(nVertices);

    CFileSink out;
    if (!OpenOutputs(options, report, out, path))
        return false;
    out << "ply\nformat binary_little_endian 1.0\ncomment written by slp convert\nelement vertex "
        << nVertices
        << "\nproperty float x\nproperty float y\nproperty float z\n"
           "property float nx\nproperty float ny\nproperty float nz\n"
           "property uchar red\nproperty uchar green\nproperty uchar blue\nelement face "
        << static_cast<unsigned long long>(corners.size() / 3)
        << "\nproperty list uchar uint vertex_indices\nend_header\n";

    // Vertices were numbered in order of first appearance: writing each corner whose number is the next
    // unwritten one reproduces every mesh's vertex list without keeping it.
    const std::uint32_t* pCorner = corners.data();
    for (const CPlyMesh& mesh : meshes)
    {
        std::uint32_t nNext = 0;
        for (int t = 0; t < mesh.m_pMesh->m_nTriangleCount; ++t, progress.Advance())
            for (int k = 0; k < 3; ++k, ++pCorner)
                if (*pCorner == nNext)
                {
                    for (const float f : RawCorner(mesh.m_pMesh->m_pTriangles[t], k).m_aValues)
                        out.F32(f);
                    out.Write(mesh.m_aColour, 3);
                    ++nNext;
                }
    }
    pCorner = corners.data();
    std::uint32_t nBase = 0;
    for (const CPlyMesh& mesh : meshes)
    {
        for (int t = 0; t < mesh.m_pMesh->m_nTriangleCount; ++t, pCorner += 3, progress.Advance())
        {
            out.U8(3);
            out.U32(nBase + pCorner[0]);
            out.U32(nBase + pCorner[1]);
            out.U32(nBase + pCorner[2]);
        }
        nBase += mesh.m_nVertices;
    }
    if (!FinishOutputs(report, out))
        return false;
    progress.Finish();
    return true;
}
