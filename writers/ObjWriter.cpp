// Wavefront OBJ output with its materials in an .mtl file beside it, written in one pass, mesh by mesh.
#include "model/GroupWalk.h"
#include "writers/CornerNumbering.h"
#include "writers/FileSink.h"
#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"
#include "writers/PartRunner.h"

#include <array>
#include <charconv>
#include <cstring>
#include <map>

namespace
{

// Object and group names end at white space in OBJ readers, and a line break would end the statement.
void AppendObjName(std::string& path, const std::string& name)
{
    for (const char c : name)
    {
        const auto u = static_cast<unsigned char>(c);
        path += (u <= 0x20 || u == 0x7F) ? '_' : c;
    }
}

// Paths deeper than a reader would show are cut to their last part, so that a deep tree with meshes at
// every level still gives output linear in the model's size; readers (assimp among them) drop names of
// 1,024 bytes or more.
constexpr size_t MaxPathBytes = 1023;

std::string ShownPath(const std::string& path)
{
    if (path.size() <= MaxPathBytes)
        return path;
    size_t nStart = path.size() - (MaxPathBytes - 3);
    while (nStart < path.size() && (static_cast<unsigned char>(path[nStart]) & 0xC0) == 0x80)
        ++nStart; // start on a whole UTF-8 character
    return "..." + path.substr(nStart);
}

std::string FileName(const std::string& path)
{
    return path.substr(FileNameStart(path));
}

// A mesh of this many vertices or faces and more has their lines formatted on the export's threads.
constexpr size_t ThreadedTextLines = 8192;

// The "v" and "vn" lines of a vertex, put at pOut (room for VertexTextBytes); their length.
constexpr size_t VertexTextBytes = 256;
size_t VertexText(const CVertexRecord& vertex, char* pOut)
{
    char* p = pOut;
    for (int i = 0; i < 6; ++i)
    {
        if (i % 3 == 0)
        {
            std::memcpy(p, i == 0 ? "v " : "vn ", i == 0 ? 2 : 3);
            p += i == 0 ? 2 : 3;
        }
        p += CFileSink::FloatText(vertex.m_aValues[i], p);
        *p++ = i % 3 == 2 ? '\n' : ' ';
    }
    return static_cast<size_t>(p - pOut);
}

// The "f" line of a triangle whose corners have the numbers pIds (from nBase on in the file), put at
// pOut (room for FaceTextBytes); its length.
constexpr size_t FaceTextBytes = 160;
size_t FaceText(unsigned long long nBase, const std::uint32_t* pIds, char* pOut)
{
    char* p = pOut;
    *p++ = 'f';
    for (int k = 0; k < 3; ++k)
    {
        *p++ = ' ';
        char* const pNumber = p;
        p = std::to_chars(p, pOut + FaceTextBytes, nBase + pIds[k]).ptr;
        const size_t nLength = static_cast<size_t>(p - pNumber);
        *p++ = '/';
        *p++ = '/';
        std::memcpy(p, pNumber, nLength);
        p += nLength;
    }
    *p++ = '\n';
    return static_cast<size_t>(p - pOut);
}

class CObjWriter
{
public:
    CObjWriter(CFileSink& obj, CFileSink& mtl, CExportReport& report, CExportProgress& progress,
               CPartRunner& runner)
        : m_Obj(obj), m_Mtl(mtl), m_Report(report), m_Progress(progress), m_Runner(runner)
    {
    }

    // Writes a mesh, whose group's path of names is given: after "o" and "g" lines for the first mesh of
    // the group, its material, vertices and faces.
    void WriteMesh(const CNumberedMesh& mesh, const std::string& path, bool bFirstOfGroup);

private:
    int MaterialNumber(const vemoChroma& diffuse);

    CFileSink& m_Obj;
    CFileSink& m_Mtl;
    CExportReport& m_Report;
    CExportProgress& m_Progress;
    CPartRunner& m_Runner;
    std::map<std::array<std::uint32_t, 4>, int> m_Materials;
    unsigned long long m_nBase = 1; // OBJ numbers vertices from 1 across the whole file
};

int CObjWriter::MaterialNumber(const vemoChroma& diffuse)
{
    const CClampedColour colour = ClampColour(diffuse);
    if (colour.m_bChanged)
        ++m_Report.m_nClampedColours;
    std::array<std::uint32_t, 4> key;
    std::memcpy(key.data(), colour.m_aValues, sizeof(key));
    const auto found = m_Materials.emplace(key, static_cast<int>(m_Materials.size()));
    if (found.second)
    {
        m_Mtl << "newmtl colour_" << found.first->second << "\nKd ";
        m_Mtl.Float(colour.m_aValues[0]) << ' ';
        m_Mtl.Float(colour.m_aValues[1]) << ' ';
        m_Mtl.Float(colour.m_aValues[2]) << "\nd ";
        m_Mtl.Float(colour.m_aValues[3]) << "\nillum 1\n";
    }
    return found.first->second;
}

void CObjWriter::WriteMesh(const CNumberedMesh& mesh, const std::string& path, bool bFirstOfGroup)
{
    if (bFirstOfGroup)
    {
        const std::string shown = ShownPath(path);
        m_Obj << "o " << shown << "\ng " << shown << '\n';
    }
    m_Obj << "usemtl colour_"
          << MaterialNumber(mesh.m_pGroup->GetObjectMaterial(mesh.m_nObject)->m_Front.GetDiffuse()) << '\n';

    // The lines of a large mesh are formatted on the threads.
    const bool bThreads = m_Runner.GetThreads() > 1;
    char szText[VertexTextBytes];
    if (bThreads && mesh.m_nVertices >= ThreadedTextLines)
        WriteInParts(
            m_Runner, m_Obj, mesh.m_nVertices, VertexTextBytes,
            [&](size_t v, char* pOut) { return VertexText(mesh.m_pVertices[v], pOut); }, [](size_t) {});
    else
        for (std::uint32_t v = 0; v < mesh.m_nVertices; ++v)
            m_Obj.Write(szText, VertexText(mesh.m_pVertices[v], szText));
    const size_t nTriangles = static_cast<size_t>(mesh.m_pMesh->m_nTriangleCount);
    const unsigned long long nBase = m_nBase;
    if (bThreads && nTriangles >= ThreadedTextLines)
        WriteInParts(
            m_Runner, m_Obj, nTriangles, FaceTextBytes,
            [&](size_t t, char* pOut) { return FaceText(nBase, mesh.m_pIds + 3 * t, pOut); },
            [&](size_t nCount) { m_Progress.Advance(nCount); });
    else
        for (size_t t = 0; t < nTriangles; ++t, m_Progress.Advance())
            m_Obj.Write(szText, FaceText(nBase, mesh.m_pIds + 3 * t, szText));
    m_nBase += mesh.m_nVertices;
    m_Report.m_nMeshes += 1;
    m_Report.m_nTriangles += mesh.m_pMesh->m_nTriangleCount;
    m_Report.m_nVertices += static_cast<long long>(mesh.m_nVertices);
}

} // namespace

bool WriteObj(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report)
{
    CFileSink obj;
    CFileSink mtl;
    if (!OpenOutputs(options, report, obj, path, &mtl, ExportFormatObj))
        return false;
    // The groups in the order of a walk down the tree, whose meshes are written in that order.
    std::vector<const vemoBaseGroup*> groups;
    for (CGroupWalk walk(root); walk.Next();)
        groups.push_back(&walk.GetGroup());
    // Two passes over the triangles: merging, and the faces.
    const unsigned long long nTriangles = CountExportedTriangles(groups);
    CExportProgress progress(options, 2 * nTriangles);
    obj << "# written by slp convert\nmtllib " << FileName(mtl.GetPath()) << '\n';
    mtl << "# written by slp convert\n";

    CPartRunner runner(ExportThreadCount(options));
    CObjWriter writer(obj, mtl, report, progress, runner);
    // The root by its name (or "root"), every other group by the path of names below the root; the
    // path grows as a second walk, kept in step with the meshes written, enters a group and shrinks back
    // as it leaves.
    const std::string rootName = GroupNameUtf8(root).empty() ? std::string("root") : GroupNameUtf8(root);
    std::string groupPath;
    std::vector<size_t> pathLengths;
    CGroupWalk pathWalk(root, true);
    size_t nEntered = 0; // groups the second walk has entered
    const auto reachGroup = [&](size_t nGroup)
    {
        while (nEntered <= nGroup && pathWalk.Next())
        {
            if (pathWalk.GetDepth() == 0)
            {
                nEntered += pathWalk.IsEntering() ? 1 : 0;
                continue;
            }
            if (!pathWalk.IsEntering())
            {
                groupPath.resize(pathLengths.back());
                pathLengths.pop_back();
                continue;
            }
            ++report.m_nGroups;
            ++nEntered;
            pathLengths.push_back(groupPath.size());
            if (!groupPath.empty())
                groupPath += '/';
            AppendObjName(groupPath, GroupNameUtf8(pathWalk.GetGroup()));
        }
    };
    size_t nLastGroup = ~size_t(0);
    const auto writeMesh = [&](const CNumberedMesh& mesh)
    {
        reachGroup(mesh.m_nGroup);
        writer.WriteMesh(mesh, mesh.m_nGroup > 0 ? groupPath : rootName, mesh.m_nGroup != nLastGroup);
        nLastGroup = mesh.m_nGroup;
        return true;
    };
    const auto fill = [](const vemoTRex& triangle, CVertexRecord* pCorners)
    {
        for (int k = 0; k < 3; ++k)
            pCorners[k] = RawCorner(triangle, k);
        return true;
    };
    if (!NumberMeshes(groups, runner, fill, writeMesh, progress))
    {
        obj.Discard();
        mtl.Discard();
        SetTooLarge(report, path, "a mesh with more than 4294967294 vertices");
        return false;
    }
    reachGroup(groups.size());

    if (!FinishOutputs(report, obj, &mtl))
        return false;
    progress.Finish();
    return true;
}
