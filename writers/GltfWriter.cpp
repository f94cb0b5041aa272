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
#include "writers/NoInitAllocator.h"
#include "writers/PartRunner.h"

#include <algorithm>
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
    unsigned long long m_nFirstVertex; // the first of the mesh's entries in the first corners
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

// Puts the n 32-bit words at p as little-endian bytes, whatever the host's order; past them. A
// little-endian host copies them as they are.
char* PutWords(char* p, const void* pWords, size_t n)
{
    const std::uint32_t nOne = 1;
    unsigned char nFirstByte;
    std::memcpy(&nFirstByte, &nOne, 1);
    if (nFirstByte == 1)
    {
        std::memcpy(p, pWords, 4 * n);
        return p + 4 * n;
    }
    for (size_t i = 0; i < n; ++i, p += 4)
    {
        std::uint32_t w;
        std::memcpy(&w, static_cast<const char*>(pWords) + 4 * i, 4);
        p[0] = static_cast<char>(w & 0xFF);
        p[1] = static_cast<char>((w >> 8) & 0xFF);
        p[2] = static_cast<char>((w >> 16) & 0xFF);
        p[3] = static_cast<char>(w >> 24);
    }
    return p;
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

std::string MeshName(const std::string& name, int nObject)
{
    return (name.empty() ? std::string() : name + " ") + "mesh " + std::to_string(nObject);
}

class CGltfDocument
{
public:
    explicit CGltfDocument(const vemoBaseGroup& root) : m_Groups(ListGroupsBreadthFirst(root)) {}

    // Indexes every mesh of the nTriangles, merging vertices on the runner's threads: distinct
    // vertices, the output's index, boxes, materials. False when a mesh exceeds 32-bit indexing.
    bool Analyse(CExportReport& report, CExportProgress& progress, CPartRunner& runner,
                 unsigned long long nTriangles);
    // The number of the material of a mesh: a new one for a colour and roughness not seen before.
    int MaterialNumber(const vemoMaterial& material, std::map<std::array<std::uint32_t, 5>, int>& numbers,
                       CExportReport& report);
    void WriteJson(CFileSink& out, const std::string& binUri) const;
    // The buffer, made in parts on the runner's threads; the progress advances by nSteps in all.
    void WriteBinary(CFileSink& out, CExportProgress& progress, unsigned long long nSteps,
                     CPartRunner& runner) const;
    const std::vector<const vemoBaseGroup*>& GetGroups() const { return m_Groups; }
    unsigned long long GetBinaryLength() const { return m_nBinaryLength; }

private:
    std::vector<const vemoBaseGroup*> m_Groups;
    std::vector<size_t> m_MeshStart; // per group, its first mesh summary; one extra entry at the end
    std::vector<CMeshSummary> m_Meshes;
    CBufferVector<std::uint32_t> m_Indices;
    // Per mesh, the corner (3 per triangle, in order) where each vertex first appears: its record is
    // made again from there when the buffer is written.
    CBufferVector<std::uint32_t> m_FirstCorners;
    std::vector<CMaterial> m_Materials;
    unsigned long long m_nBinaryLength = 0;
};

bool CGltfDocument::Analyse(CExportReport& report, CExportProgress& progress, CPartRunner& runner,
                            unsigned long long nTriangles)
{
    // Sized for every corner at once: the pages of the part left unused are never touched.
    m_Indices.resize(3 * nTriangles);
    m_FirstCorners.resize(3 * nTriangles);
    size_t nIndices = 0;
    size_t nFirstCorners = 0;
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
        CMeshSummary summary{
            mesh.m_nGroup, mesh.m_nObject, mesh.m_nVertices, nIndices, 0, nFirstCorners, {}, {}, 0};
        const size_t nCorners = 3 * static_cast<size_t>(mesh.m_pMesh->m_nTriangleCount);
        // The numbers stand in the output's index already (placeIds), where the corners left out close
        // up.
        std::uint32_t* const pIndices = m_Indices.data();
        std::uint32_t* const pFirstCorners = m_FirstCorners.data() + nFirstCorners;
        std::uint32_t nNext = 0;
        for (size_t c = 0; c < nCorners; ++c)
        {
            const std::uint32_t nId = mesh.m_pIds[c];
            if (nId == NotNumbered)
                continue;
            pIndices[nIndices++] = nId;
            // Numbers go in order of first appearance: a corner with the next number is its first.
            if (nId == nNext)
                pFirstCorners[nNext++] = static_cast<std::uint32_t>(c);
        }
        summary.m_nIndices = nIndices - summary.m_nFirst;
        report.m_nSkippedTriangles += static_cast<long long>((nCorners - summary.m_nIndices) / 3);
        if (summary.m_nIndices == 0)
            return true;
        std::copy(mesh.m_aMin, mesh.m_aMin + 3, summary.m_aMin);
        std::copy(mesh.m_aMax, mesh.m_aMax + 3, summary.m_aMax);
        summary.m_nMaterial = MaterialNumber(mesh.m_pGroup->GetObjectMaterial(mesh.m_nObject)->m_Front,
                                             materialNumbers, report);
        nFirstCorners += summary.m_nVertices;
        m_nBinaryLength += 24ull * summary.m_nVertices + 4ull * summary.m_nIndices;
        report.m_nMeshes += 1;
        report.m_nVertices += summary.m_nVertices;
        report.m_nTriangles += static_cast<long long>(summary.m_nIndices / 3);
        m_Meshes.push_back(summary);
        return true;
    };
    m_MeshStart.reserve(m_Groups.size() + 1);
    const auto placeIds = [&](const vemoSTL&) { return m_Indices.data() + nIndices; };
    const bool bNumbered = NumberMeshes(m_Groups, runner, fill, addMesh, progress, placeIds);
    report.m_nReplacedNormals += nReplacedNormals.load();
    if (!bNumbered)
        return false;
    reachGroup(m_Groups.size());
    m_MeshStart.push_back(m_Meshes.size());
    m_Indices.resize(nIndices);
    m_FirstCorners.resize(nFirstCorners);
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
    std::vector<std::string> groupNames(nGroups);
    out << "{\"asset\":{\"version\":\"2.0\",\"generator\":\"slp convert\"},\"scene\":0,"
           "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[";
    size_t nNextChild = 1;
    for (size_t nGroup = 0; nGroup < nGroups; ++nGroup)
    {
        const vemoBaseGroup& group = *m_Groups[nGroup];
        out << (nGroup > 0 ? ",{" : "{");
        // Kept for the names of the group's meshes.
        groupNames[nGroup] = GroupNameUtf8(group);
        const std::string& name = groupNames[nGroup];
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
        out.JsonString(MeshName(groupNames[m_Meshes[m].m_nGroup], m_Meshes[m].m_nObject));
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
        out.JsonString(MeshName(groupNames[m_Meshes[m].m_nGroup], m_Meshes[m].m_nObject));
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

void CGltfDocument::WriteBinary(CFileSink& out, CExportProgress& progress, unsigned long long nSteps,
                                CPartRunner& runner) const
{
    // Each mesh's vertices, then its indices, cut into parts of at most PartBytes; a part may span
    // several small meshes. A part starts at a cursor and ends where the next one starts.
    struct CCursor
    {
        size_t m_nMesh;
        bool m_bIndices;
        unsigned long long m_nItem;
    };
    constexpr size_t PartBytes = size_t(1) << 18;
    const auto count = [&](const CCursor& at)
    { return at.m_bIndices ? m_Meshes[at.m_nMesh].m_nIndices : m_Meshes[at.m_nMesh].m_nVertices; };
    std::vector<CCursor> starts{{0, false, 0}};
    size_t nFree = PartBytes;
    for (size_t m = 0; m < m_Meshes.size(); ++m)
        for (const bool bIndices : {false, true})
        {
            const CCursor section{m, bIndices, 0};
            const size_t nItemBytes = bIndices ? 4 : 24;
            for (unsigned long long i = 0, n = count(section); i < n;)
            {
                if (nFree < nItemBytes)
                {
                    starts.push_back({m, bIndices, i});
                    nFree = PartBytes;
                }
                const unsigned long long nTake = std::min<unsigned long long>(n - i, nFree / nItemBytes);
                i += nTake;
                nFree -= static_cast<size_t>(nTake) * nItemBytes;
            }
        }
    starts.push_back({m_Meshes.size(), false, 0});

    const auto format = [&](size_t nPart, char* pOut)
    {
        const CCursor& end = starts[nPart + 1];
        char* p = pOut;
        long long nIgnored = 0;
        for (CCursor at = starts[nPart];;
             at = at.m_bIndices ? CCursor{at.m_nMesh + 1, false, 0} : CCursor{at.m_nMesh, true, 0})
        {
            const bool bLast = at.m_nMesh == end.m_nMesh && at.m_bIndices == end.m_bIndices;
            const unsigned long long nStop = bLast ? end.m_nItem : count(at);
            if (at.m_nItem < nStop)
            {
                const CMeshSummary& summary = m_Meshes[at.m_nMesh];
                if (at.m_bIndices)
                    p = PutWords(p, m_Indices.data() + summary.m_nFirst + at.m_nItem,
                                 static_cast<size_t>(nStop - at.m_nItem));
                else
                {
                    const vemoTRex* const pTriangles =
                        static_cast<const vemoSTL*>(m_Groups[summary.m_nGroup]->GetObject(summary.m_nObject))
                            ->m_pTriangles;
                    for (unsigned long long v = at.m_nItem; v < nStop; ++v)
                    {
                        const std::uint32_t nCorner = m_FirstCorners[summary.m_nFirstVertex + v];
                        const CVertexRecord record =
                            UnitCorner(pTriangles[nCorner / 3], static_cast<int>(nCorner % 3), nIgnored);
                        p = PutWords(p, record.m_aValues, 6);
                    }
                }
            }
            if (bLast)
                break;
        }
        return static_cast<size_t>(p - pOut);
    };
    // The progress advances with the bytes written.
    unsigned long long nWrittenBytes = 0;
    unsigned long long nAdvanced = 0;
    const auto written = [&](size_t, size_t nBytes)
    {
        nWrittenBytes += nBytes;
        const auto nDone =
            static_cast<unsigned long long>(static_cast<double>(nSteps) * static_cast<double>(nWrittenBytes) /
                                            static_cast<double>(m_nBinaryLength));
        if (nDone > nAdvanced)
        {
            progress.Advance(nDone - nAdvanced);
            nAdvanced = nDone;
        }
    };
    WritePartsInOrder(runner, out, starts.size() - 1, PartBytes, format, written);
}

} // namespace

bool WriteGltf(const vemoBaseGroup& root, const std::string& path, bool bBinary,
               const CExportOptions& options, CExportReport& report)
{
    CGltfDocument document(root);
    // Two passes over the triangles: merging, and the buffer.
    const unsigned long long nTriangles = CountExportedTriangles(document.GetGroups());
    CExportProgress progress(options, 2 * nTriangles);
    CPartRunner runner(ExportThreadCount(options));
    if (!document.Analyse(report, progress, runner, nTriangles))
    {
        SetTooLarge(report, path, "a mesh with more than 4294967294 vertices");
        return false;
    }

    if (bBinary)
    {
        CFileSink out;
        if (!OpenOutputs(options, report, out, path))
            return false;
        // The header holds the lengths of the file and of the JSON chunk: a file has them put in once the
        // JSON is written, a stream has the JSON counted first.
        unsigned long long nJson = 0;
        const unsigned long long nBinary = document.GetBinaryLength();
        const auto total = [&]() { return 12 + 8 + nJson + (nBinary > 0 ? 8 + nBinary : 0); };
        const char* const pszTooLarge = "a .glb file holds at most 4 GiB; write .gltf instead";
        if (!out.CanRewrite())
        {
            CFileSink counter;
            counter.OpenCounter();
            document.WriteJson(counter, std::string());
            nJson = (counter.GetCount() + 3) & ~3ull;
            if (total() > 0xFFFFFFFFull)
            {
                SetTooLarge(report, path, pszTooLarge);
                return false;
            }
        }
        out.U32(0x46546C67); // "glTF"
        out.U32(2);
        out.U32(static_cast<std::uint32_t>(total()));
        out.U32(static_cast<std::uint32_t>(nJson));
        out.U32(0x4E4F534A); // "JSON"
        document.WriteJson(out, std::string());
        while (out.GetCount() % 4 != 0)
            out << ' ';
        if (out.CanRewrite())
        {
            nJson = out.GetCount() - 20;
            if (total() > 0xFFFFFFFFull)
            {
                SetTooLarge(report, path, pszTooLarge);
                return false;
            }
            const std::uint32_t aLengths[2] = {static_cast<std::uint32_t>(total()),
                                               static_cast<std::uint32_t>(nJson)};
            char aBytes[8];
            PutWords(aBytes, aLengths, 2);
            out.Rewrite(8, aBytes, 8);
        }
        if (nBinary > 0)
        {
            out.U32(static_cast<std::uint32_t>(nBinary));
            out.U32(0x004E4942); // "BIN\0"
            document.WriteBinary(out, progress, nTriangles, runner);
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
        document.WriteBinary(bin, progress, nTriangles, runner);
    if (!FinishOutputs(report, out, bHasBinary ? &bin : nullptr))
        return false;
    progress.Finish();
    return true;
}
