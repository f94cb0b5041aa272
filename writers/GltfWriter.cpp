// glTF 2.0 output, binary (.glb) or JSON with a .bin beside it.
//
// Node numbering: the groups first, breadth first (so a group's child groups have consecutive
// numbers), then one node per exported mesh in the same group order (so a group's mesh nodes are
// consecutive too). Every "children" array is therefore a range known while walking the group list,
// and the whole document is written in one loop without recursion.
#include "writers/CornerNumbering.h"
#include "writers/FileSink.h"
#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"
#include "writers/PartRunner.h"

#include <array>
#include <atomic>
#include <cstring>
#include <map>

namespace
{

struct CMeshSummary
{
    size_t m_nGroup;             // position in the breadth-first group list
    int m_nObject;               // object index in that group
    std::uint32_t m_nVertices;   // distinct vertices
    unsigned long long m_nFirst; // first index of the mesh in the output's index
    unsigned long long m_nIndices;
    float m_aMin[3];
    float m_aMax[3];
    int m_nMaterial;
};

struct CMaterial
{
    float m_aColour[4];
    float m_fRoughness;
};

// glTF roughness from the model's specular exponent, nominally 0..128: a sharper highlight is smoother.
float Roughness(float fShininess)
{
    const float f = 1.0f - fShininess / 128.0f;
    return f > 0.0f ? (f < 1.0f ? f : 1.0f) : 0.0f;
}

void JsonFloats(CFileSink& out, const float* p, int n)
{
    out << '[';
    for (int i = 0; i < n; ++i)
        (i > 0 ? out << ',' : out).Float(p[i]);
    out << ']';
}

// A URI reference to a file beside the document: its name with every byte outside the unreserved
// characters percent-encoded.
std::string RelativeUri(const std::string& path)
{
    const std::string name = path.substr(FileNameStart(path));
    static const char szHex[] = "0123456789ABCDEF";
    std::string uri;
    for (const char c : name)
    {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~')
            uri += c;
        else
        {
            uri += '%';
            uri += szHex[u >> 4];
            uri += szHex[u & 15];
        }
    }
    return uri;
}

std::string MeshName(const vemoBaseGroup& group, int nObject)
{
    std::string name = GroupNameUtf8(group);
    return (name.empty() ? std::string() : name + " ") + "mesh " + std::to_string(nObject);
}

class CGltfDocument
{
public:
    explicit CGltfDocument(const vemoBaseGroup& root) : m_Groups(ListGroupsBreadthFirst(root)) {}

    // Indexes every mesh, merging vertices on up to nThreads threads: distinct vertices, the output's
    // index, boxes, materials. False when a mesh exceeds 32-bit indexing.
    bool Analyse(CExportReport& report, CExportProgress& progress, int nThreads);
    // The number of the material of a mesh: a new one for a colour and roughness not seen before.
    int MaterialNumber(const vemoMaterial& material, std::map<std::array<std::uint32_t, 5>, int>& numbers,
                       CExportReport& report);
    void WriteJson(CFileSink& out, const std::string& binUri) const;
    void WriteBinary(CFileSink& out, CExportProgress& progress) const;
    const std::vector<const vemoBaseGroup*>& GetGroups() const { return m_Groups; }
    unsigned long long GetBinaryLength() const { return m_nBinaryLength; }

private:
    std::vector<const vemoBaseGroup*> m_Groups;
    std::vector<size_t> m_MeshStart; // per group, its first mesh summary; one extra entry at the end
    std::vector<CMeshSummary> m_Meshes;
    std::vector<std::uint32_t> m_Indices;
    std::vector<CMaterial> m_Materials;
    unsigned long long m_nBinaryLength = 0;
};

bool CGltfDocument::Analyse(CExportReport& report, CExportProgress& progress, int nThreads)
{
    std::map<std::array<std::uint32_t, 5>, int> materialNumbers;
    std::atomic<long long> nReplacedNormals(0);
    const auto fill = [&](const vemoTRex& triangle, CVertexRecord* pCorners)
    {
        if (!IsFiniteTriangle(triangle))
            return false;
        long long nReplaced = 0;
        for (int k = 0; k < 3; ++k)
            pCorners[k] = UnitCorner(triangle, k, nReplaced);
        if (nReplaced > 0)
            nReplacedNormals += nReplaced;
        return true;
    };
    // Groups before the first with meshes, and between two with meshes, are counted as the walk passes.
    size_t nGroup = 0;
    const auto reachGroup = [&](size_t nEnd)
    {
        for (; nGroup < nEnd; ++nGroup)
        {
            m_MeshStart.push_back(m_Meshes.size());
            if (nGroup > 0)
                ++report.m_nGroups;
        }
    };
    const auto addMesh = [&](const CNumberedMesh& mesh)
    {
        reachGroup(mesh.m_nGroup + 1);
        CMeshSummary summary{mesh.m_nGroup, mesh.m_nObject, mesh.m_nVertices, m_Indices.size(), 0, {}, {}, 0};
        const size_t nCorners = 3 * static_cast<size_t>(mesh.m_pMesh->m_nTriangleCount);
        for (size_t c = 0; c < nCorners; ++c)
            if (mesh.m_pIds[c] != NotNumbered)
                m_Indices.push_back(mesh.m_pIds[c]);
        for (std::uint32_t v = 0; v < mesh.m_nVertices; ++v)
            for (int k = 0; k < 3; ++k)
            {
                const float f = mesh.m_pVertices[v].m_aValues[k];
                if (v == 0 || f < summary.m_aMin[k])
                    summary.m_aMin[k] = f;
                if (v == 0 || f > summary.m_aMax[k])
                    summary.m_aMax[k] = f;
            }
        summary.m_nIndices = m_Indices.size() - summary.m_nFirst;
        report.m_nSkippedTriangles += static_cast<long long>((nCorners - summary.m_nIndices) / 3);
        if (summary.m_nIndices == 0)
            return true;
        summary.m_nMaterial = MaterialNumber(mesh.m_pGroup->GetObjectMaterial(mesh.m_nObject)->m_Front,
                                             materialNumbers, report);
        m_nBinaryLength += 24ull * summary.m_nVertices + 4ull * summary.m_nIndices;
        report.m_nMeshes += 1;
        report.m_nVertices += summary.m_nVertices;
        report.m_nTriangles += static_cast<long long>(summary.m_nIndices / 3);
        m_Meshes.push_back(summary);
        return true;
    };
    m_MeshStart.reserve(m_Groups.size() + 1);
    CPartRunner runner(nThreads);
    const bool bNumbered = NumberMeshes(m_Groups, runner, fill, addMesh, progress);
    report.m_nReplacedNormals += nReplacedNormals.load();
    if (!bNumbered)
        return false;
    reachGroup(m_Groups.size());
    m_MeshStart.push_back(m_Meshes.size());
    return true;
}

int CGltfDocument::MaterialNumber(const vemoMaterial& material,
                                  std::map<std::array<std::uint32_t, 5>, int>& numbers, CExportReport& report)
{
    const CClampedColour colour = ClampColour(material.GetDiffuse());
    if (colour.m_bChanged)
        ++report.m_nClampedColours;
    const CMaterial entry{
        {colour.m_aValues[0], colour.m_aValues[1], colour.m_aValues[2], colour.m_aValues[3]},
        Roughness(material.GetShininess())};
    std::array<std::uint32_t, 5> key;
    std::memcpy(key.data(), &entry, sizeof(key));
    const auto found = numbers.emplace(key, static_cast<int>(m_Materials.size()));
    if (found.second)
        m_Materials.push_back(entry);
    return found.first->second;
}

void CGltfDocument::WriteJson(CFileSink& out, const std::string& binUri) const
{
    const size_t nGroups = m_Groups.size();
    out << "{\"asset\":{\"version\":\"2.0\",\"generator\":\"slp convert\"},\"scene\":0,"
           "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[";
    size_t nNextChild = 1;
    for (size_t nGroup = 0; nGroup < nGroups; ++nGroup)
    {
        const vemoBaseGroup& group = *m_Groups[nGroup];
        out << (nGroup > 0 ? ",{" : "{");
        const std::string name = GroupNameUtf8(group);
        if (!name.empty())
        {
            out << "\"name\":";
            out.JsonString(name);
        }
        const size_t nFirstMesh = m_MeshStart[nGroup];
        const size_t nMeshes = m_MeshStart[nGroup + 1] - nFirstMesh;
        const size_t nChildren = static_cast<size_t>(group.GetNumGroups());
        if (nMeshes + nChildren > 0)
        {
            out << (name.empty() ? "\"children\":[" : ",\"children\":[");
            for (size_t i = 0; i < nMeshes; ++i)
                out << (i > 0 ? "," : "") << static_cast<unsigned long long>(nGroups + nFirstMesh + i);
            for (size_t i = 0; i < nChildren; ++i)
                out << (i + nMeshes > 0 ? "," : "") << static_cast<unsigned long long>(nNextChild + i);
            out << ']';
        }
        nNextChild += nChildren;
        out << '}';
    }
    for (size_t m = 0; m < m_Meshes.size(); ++m)
    {
        out << ",{\"name\":";
        out.JsonString(MeshName(*m_Groups[m_Meshes[m].m_nGroup], m_Meshes[m].m_nObject));
        out << ",\"mesh\":" << static_cast<unsigned long long>(m) << '}';
    }
    out << ']';
    if (m_Meshes.empty())
    {
        // glTF forbids empty arrays and empty buffers: a model without meshes is a tree of nodes only.
        out << "}";
        return;
    }

    out << ",\"meshes\":[";
    for (size_t m = 0; m < m_Meshes.size(); ++m)
    {
        const unsigned long long n = m;
        out << (m > 0 ? ",{\"name\":" : "{\"name\":");
        out.JsonString(MeshName(*m_Groups[m_Meshes[m].m_nGroup], m_Meshes[m].m_nObject));
        out << ",\"primitives\":[{\"attributes\":{\"POSITION\":" << 3 * n << ",\"NORMAL\":" << 3 * n + 1
            << "},\"indices\":" << 3 * n + 2 << ",\"material\":" << m_Meshes[m].m_nMaterial
            << ",\"mode\":4}]}";
    }
    out << "],\"materials\":[";
    for (size_t i = 0; i < m_Materials.size(); ++i)
    {
        const CMaterial& material = m_Materials[i];
        out << (i > 0 ? ",{\"name\":\"colour " : "{\"name\":\"colour ") << static_cast<unsigned long long>(i)
            << "\",\"pbrMetallicRoughness\":{\"baseColorFactor\":";
        JsonFloats(out, material.m_aColour, 4);
        out << ",\"metallicFactor\":0,\"roughnessFactor\":";
        out.Float(material.m_fRoughness) << "},\"doubleSided\":true";
        if (material.m_aColour[3] < 1.0f)
            out << ",\"alphaMode\":\"BLEND\"";
        out << '}';
    }
    out << "],\"accessors\":[";
    for (size_t m = 0; m < m_Meshes.size(); ++m)
    {
        const CMeshSummary& mesh = m_Meshes[m];
        const unsigned long long n = m;
        out << (m > 0 ? "," : "") << "{\"bufferView\":" << 2 * n
            << ",\"componentType\":5126,\"count\":" << mesh.m_nVertices << ",\"type\":\"VEC3\",\"min\":";
        JsonFloats(out, mesh.m_aMin, 3);
        out << ",\"max\":";
        JsonFloats(out, mesh.m_aMax, 3);
        out << "},{\"bufferView\":" << 2 * n
            << ",\"byteOffset\":12,\"componentType\":5126,\"count\":" << mesh.m_nVertices
            << ",\"type\":\"VEC3\"},{\"bufferView\":" << 2 * n + 1
            << ",\"componentType\":5125,\"count\":" << mesh.m_nIndices << ",\"type\":\"SCALAR\"}";
    }
    out << "],\"bufferViews\":[";
    unsigned long long nOffset = 0;
    for (size_t m = 0; m < m_Meshes.size(); ++m)
    {
        const unsigned long long nVertexBytes = 24ull * m_Meshes[m].m_nVertices;
        const unsigned long long nIndexBytes = 4ull * m_Meshes[m].m_nIndices;
        out << (m > 0 ? "," : "") << "{\"buffer\":0,\"byteOffset\":" << nOffset
            << ",\"byteLength\":" << nVertexBytes << ",\"byteStride\":24,\"target\":34962},"
            << "{\"buffer\":0,\"byteOffset\":" << nOffset + nVertexBytes << ",\"byteLength\":" << nIndexBytes
            << ",\"target\":34963}";
        nOffset += nVertexBytes + nIndexBytes;
    }
    out << "],\"buffers\":[{\"byteLength\":" << m_nBinaryLength;
    if (!binUri.empty())
    {
        out << ",\"uri\":";
        out.JsonString(binUri);
    }
    out << "}]}";
}

void CGltfDocument::WriteBinary(CFileSink& out, CExportProgress& progress) const
{
    long long nIgnored = 0;
    for (const CMeshSummary& summary : m_Meshes)
    {
        const auto* pMesh =
            static_cast<const vemoSTL*>(m_Groups[summary.m_nGroup]->GetObject(summary.m_nObject));
        // Vertices were numbered in order of first appearance, so walking the corners again and
        // writing each corner whose number is the next unwritten one reproduces the vertex list.
        const std::uint32_t* pIndex = m_Indices.data() + summary.m_nFirst;
        std::uint32_t nNext = 0;
        for (int t = 0; t < pMesh->m_nTriangleCount && nNext < summary.m_nVertices; ++t, progress.Advance())
        {
            const vemoTRex& triangle = pMesh->m_pTriangles[t];
            if (!IsFiniteTriangle(triangle))
                continue;
            for (int k = 0; k < 3; ++k, ++pIndex)
                if (*pIndex == nNext)
                {
                    const CVertexRecord record = UnitCorner(triangle, k, nIgnored);
                    for (const float f : record.m_aValues)
                        out.F32(f);
                    ++nNext;
                }
        }
        for (unsigned long long i = 0; i < summary.m_nIndices; ++i)
            out.U32(m_Indices[summary.m_nFirst + i]);
    }
}

} // namespace

bool WriteGltf(const vemoBaseGroup& root, const std::string& path, bool bBinary,
               const CExportOptions& options, CExportReport& report)
{
    CGltfDocument document(root);
    // Two passes over the triangles: merging, and the vertices.
    const unsigned long long nTriangles = CountExportedTriangles(document.GetGroups());
    CExportProgress progress(options, 2 * nTriangles);
    if (!document.Analyse(report, progress, ExportThreadCount(options)))
    {
        SetTooLarge(report, path, "a mesh with more than 4294967294 vertices");
        return false;
    }

    if (bBinary)
    {
        CFileSink counter;
        counter.OpenCounter();
        document.WriteJson(counter, std::string());
        const unsigned long long nJson = (counter.GetCount() + 3) & ~3ull;
        const unsigned long long nBinary = document.GetBinaryLength();
        const unsigned long long nTotal = 12 + 8 + nJson + (nBinary > 0 ? 8 + nBinary : 0);
        if (nTotal > 0xFFFFFFFFull)
        {
            SetTooLarge(report, path, "a .glb file holds at most 4 GiB; write .gltf instead");
            return false;
        }
        CFileSink out;
        if (!OpenOutputs(options, report, out, path))
            return false;
        out.U32(0x46546C67); // "glTF"
        out.U32(2);
        out.U32(static_cast<std::uint32_t>(nTotal));
        out.U32(static_cast<std::uint32_t>(nJson));
        out.U32(0x4E4F534A); // "JSON"
        document.WriteJson(out, std::string());
        while (out.GetCount() % 4 != 0)
            out << ' ';
        if (nBinary > 0)
        {
            out.U32(static_cast<std::uint32_t>(nBinary));
            out.U32(0x004E4942); // "BIN\0"
            document.WriteBinary(out, progress);
        }
        if (!FinishOutputs(report, out))
            return false;
        progress.Finish();
        return true;
    }

    const bool bHasBinary = document.GetBinaryLength() > 0;
    CFileSink out;
    CFileSink bin;
    if (!OpenOutputs(options, report, out, path, bHasBinary ? &bin : nullptr, ExportFormatGltf))
        return false;
    document.WriteJson(out, bHasBinary ? RelativeUri(bin.GetPath()) : std::string());
    out << '\n';
    if (bHasBinary)
        document.WriteBinary(bin, progress);
    if (!FinishOutputs(report, out, bHasBinary ? &bin : nullptr))
        return false;
    progress.Finish();
    return true;
}
