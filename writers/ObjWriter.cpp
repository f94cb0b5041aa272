// Wavefront OBJ output with its materials in an .mtl file beside it, written in one pass, mesh by mesh.
#include "model/GroupWalk.h"
#include "writers/FileSink.h"
#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"

#include <array>
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

class CObjWriter
{
public:
    CObjWriter(CFileSink& obj, CFileSink& mtl, CExportReport& report, CExportProgress& progress)
        : m_Obj(obj), m_Mtl(mtl), m_Report(report), m_Progress(progress)
    {
    }

    // Writes the group's meshes under the given path of names; nothing for a group without meshes.
    void WriteGroup(const vemoBaseGroup& group, const std::string& path);

private:
    int MaterialNumber(const vemoChroma& diffuse);

    CFileSink& m_Obj;
    CFileSink& m_Mtl;
    CExportReport& m_Report;
    CExportProgress& m_Progress;
    CVertexIndex m_Index;
    std::vector<std::uint32_t> m_Corners;
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

void CObjWriter::WriteGroup(const vemoBaseGroup& group, const std::string& path)
{
    bool bNamed = false;
    const auto writeMesh = [&](int nObject, const vemoSTL& mesh)
    {
        if (!bNamed)
        {
            const std::string shown = ShownPath(path);
            m_Obj << "o " << shown << "\ng " << shown << '\n';
            bNamed = true;
        }
        m_Obj << "usemtl colour_" << MaterialNumber(group.GetObjectMaterial(nObject)->m_Front.GetDiffuse())
              << '\n';

        m_Index.Clear();
        m_Corners.clear();
        for (int t = 0; t < mesh.m_nTriangleCount; ++t, m_Progress.Advance())
            for (int k = 0; k < 3; ++k)
                m_Corners.push_back(m_Index.Add(RawCorner(mesh.m_pTriangles[t], k)));
        for (size_t v = 0; v < m_Index.GetCount(); ++v)
        {
            const float* p = m_Index.GetRecord(v).m_aValues;
            m_Obj << "v ";
            m_Obj.Float(p[0]) << ' ';
            m_Obj.Float(p[1]) << ' ';
            m_Obj.Float(p[2]) << "\nvn ";
            m_Obj.Float(p[3]) << ' ';
            m_Obj.Float(p[4]) << ' ';
            m_Obj.Float(p[5]) << '\n';
        }
        for (size_t c = 0; c < m_Corners.size(); c += 3)
        {
            m_Obj << 'f';
            for (size_t k = 0; k < 3; ++k)
            {
                const unsigned long long n = m_nBase + m_Corners[c + k];
                m_Obj << ' ' << n << "//" << n;
            }
            m_Obj << '\n';
            m_Progress.Advance();
        }
        m_nBase += m_Index.GetCount();
        m_Report.m_nMeshes += 1;
        m_Report.m_nTriangles += mesh.m_nTriangleCount;
        m_Report.m_nVertices += static_cast<long long>(m_Index.GetCount());
        return true;
    };
    ForEachExportedMesh(group, writeMesh);
}

} // namespace

bool WriteObj(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report)
{
    CFileSink obj;
    CFileSink mtl;
    if (!OpenOutputs(options, report, obj, path, &mtl, ExportFormatObj))
        return false;
    // Two passes over the triangles: merging, and the faces.
    CExportProgress progress(options, 2 * CountExportedTriangles(ListGroupsBreadthFirst(root)));
    obj << "# written by slp convert\nmtllib " << FileName(mtl.GetPath()) << '\n';
    mtl << "# written by slp convert\n";

    CObjWriter writer(obj, mtl, report, progress);
    // The root by its name (or "root"), every other group by the path of names below the root; the
    // path grows as the walk enters a group and shrinks back as it leaves.
    std::string groupPath;
    std::vector<size_t> pathLengths;
    for (CGroupWalk walk(root, true); walk.Next();)
    {
        if (walk.GetDepth() == 0)
        {
            if (walk.IsEntering())
            {
                const std::string rootName = GroupNameUtf8(root);
                writer.WriteGroup(root, rootName.empty() ? std::string("root") : rootName);
            }
            continue;
        }
        if (!walk.IsEntering())
        {
            groupPath.resize(pathLengths.back());
            pathLengths.pop_back();
            continue;
        }
        ++report.m_nGroups;
        pathLengths.push_back(groupPath.size());
        if (!groupPath.empty())
            groupPath += '/';
        AppendObjName(groupPath, GroupNameUtf8(walk.GetGroup()));
        writer.WriteGroup(walk.GetGroup(), groupPath);
    }

    if (!FinishOutputs(report, obj, &mtl))
        return false;
    progress.Finish();
    return true;
}
