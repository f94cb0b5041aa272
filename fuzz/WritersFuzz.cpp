// The writers harness: a loaded file exported to every format, each output read back here byte by byte
// and checked against its format's framing and against counts taken from the model itself.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "slp/SLPParser.h"
#include "writers/WorldExport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace
{

using Json = nlohmann::json;
using U64 = std::uint64_t;

// A report's counts: groups, meshes, triangles, vertices, clamped colours, skipped triangles and
// replaced normals.
using CCounts = std::array<long long, 7>;

CCounts CountsOf(const CExportReport& r)
{
    return {r.m_nGroups,         r.m_nMeshes,           r.m_nTriangles,      r.m_nVertices,
            r.m_nClampedColours, r.m_nSkippedTriangles, r.m_nReplacedNormals};
}

// What the model holds, counted here from the model rather than by the writers.
struct CModelFacts
{
    long long m_nGroups = 0; // below the root
    long long m_nMeshes = 0;
    long long m_nDistinct = 0;                // per mesh, corners that differ in a bit of position or normal
    long long m_nClamped = 0;                 // meshes with a colour channel outside 0..1
    long long m_nFiniteMeshes = 0;            // meshes with a triangle whose vertices are all finite
    long long m_nFiniteClamped = 0;           // ... of which have a colour outside 0..1
    long long m_nNonFinite = 0;               // triangles with an infinite or NaN vertex coordinate
    long long m_nBadNormals = 0;              // corners of finite triangles whose normal has no direction
    std::vector<const vemoTRex*> m_Triangles; // groups breadth first, meshes in order
};

CModelFacts Survey(const vemoBaseGroup& root)
{
    CModelFacts facts;
    std::vector<const vemoBaseGroup*> groups(1, &root);
    for (size_t g = 0; g < groups.size(); ++g)
    {
        const vemoBaseGroup& group = *groups[g];
        for (int i = 0; i < group.GetNumGroups(); ++i)
            groups.push_back(group.GetGroup(i));
        for (int i = 0; i < group.GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i));
            if (pMesh == nullptr || pMesh->m_nTriangleCount <= 0 || pMesh->m_pTriangles == nullptr)
                continue;
            const vemoChroma& colour = group.GetObjectMaterial(i)->m_Front.GetDiffuse();
            bool bClamped = false;
            for (const float f : {colour.red, colour.green, colour.blue, colour.alpha})
                bClamped = bClamped || !(f >= 0.0f && f <= 1.0f);
            std::vector<std::array<std::uint32_t, 6>> corners;
            bool bAnyFinite = false;
            for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
            {
                const vemoTRex& triangle = pMesh->m_pTriangles[t];
                facts.m_Triangles.push_back(&triangle);
                bool bFinite = true;
                for (int k = 0; k < 3; ++k)
                {
                    const vemoFloatPoint& p = triangle.m_Vertex[k];
                    const vemoVector& n = triangle.m_Normal[k];
                    const float aValues[6] = {p.x, p.y, p.z, n.x, n.y, n.z};
                    corners.emplace_back();
                    std::memcpy(corners.back().data(), aValues, sizeof(aValues));
                    bFinite = bFinite && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
                }
                facts.m_nNonFinite += !bFinite;
                bAnyFinite = bAnyFinite || bFinite;
                for (const vemoVector& n : triangle.m_Normal)
                {
                    const double d = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
                    facts.m_nBadNormals += bFinite && !(d > 0.0 && std::isfinite(d));
                }
            }
            std::sort(corners.begin(), corners.end());
            facts.m_nDistinct += std::unique(corners.begin(), corners.end()) - corners.begin();
            ++facts.m_nMeshes;
            facts.m_nClamped += bClamped;
            facts.m_nFiniteMeshes += bAnyFinite;
            facts.m_nFiniteClamped += bAnyFinite && bClamped;
        }
    }
    facts.m_nGroups = static_cast<long long>(groups.size()) - 1;
    return facts;
}

// A little-endian unsigned number of nSize bytes; aborts when it lies beyond the bytes.
U64 UnsignedAt(const std::string& bytes, U64 nOffset, U64 nSize)
{
    FUZZ_CHECK(nOffset <= bytes.size() && nSize <= bytes.size() - nOffset);
    U64 n = 0;
    for (U64 i = nSize; i-- > 0;)
        n = n << 8 | static_cast<unsigned char>(bytes[nOffset + i]);
    return n;
}

float FloatAt(const std::string& bytes, U64 nOffset)
{
    const auto nBits = static_cast<std::uint32_t>(UnsignedAt(bytes, nOffset, 4));
    float f;
    std::memcpy(&f, &nBits, sizeof f);
    return f;
}

// A whole word as a number of the given type; aborts when it is anything else.
template <typename T> T Parse(const std::string& word)
{
    T value{};
    const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
    FUZZ_CHECK(!word.empty() && result.ec == std::errc() && result.ptr == word.data() + word.size());
    return value;
}

// The parts of a text between separators; the lines of a text that ends with a line break.
std::vector<std::string> Split(const std::string& text, char cSeparator)
{
    std::vector<std::string> parts(1);
    for (const char c : text)
        if (c == cSeparator)
            parts.emplace_back();
        else
            parts.back().push_back(c);
    return parts;
}

std::vector<std::string> Lines(const std::string& text)
{
    FUZZ_CHECK(!text.empty() && text.back() == '\n');
    std::vector<std::string> lines = Split(text, '\n');
    lines.pop_back();
    return lines;
}

// An OBJ or MTL name: one word that readers cannot cut short.
bool IsName(const std::string& name)
{
    return !name.empty() &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7F; });
}

void CheckStl(const std::string& bytes, const CModelFacts& facts, const CExportReport& report)
{
    // Readers take a file that begins with "solid" for text STL.
    FUZZ_CHECK(bytes.size() >= 84 && bytes.compare(0, 5, "solid") != 0);
    const U64 nCount = UnsignedAt(bytes, 80, 4);
    FUZZ_CHECK(bytes.size() == 84 + 50 * nCount && nCount == facts.m_Triangles.size());
    const auto n = static_cast<long long>(nCount);
    FUZZ_CHECK(CountsOf(report) == (CCounts{facts.m_nGroups, facts.m_nMeshes, n, 3 * n, 0, 0, 0}));
    for (U64 t = 0; t < nCount; ++t)
    {
        const U64 nAt = 84 + 50 * t;
        double dSquare = 0.0;
        for (int i = 0; i < 3; ++i)
            dSquare += double(FloatAt(bytes, nAt + 4 * i)) * FloatAt(bytes, nAt + 4 * i);
        FUZZ_CHECK(dSquare == 0.0 || std::fabs(dSquare - 1.0) < 1e-5);
        // The corners are the model's, bit for bit, in the model's order.
        for (int k = 0; k < 3; ++k)
        {
            const vemoFloatPoint& p = facts.m_Triangles[t]->m_Vertex[k];
            const float aCorner[3] = {p.x, p.y, p.z};
            FUZZ_CHECK(std::memcmp(bytes.data() + nAt + 12 + 12 * k, aCorner, sizeof(aCorner)) == 0);
        }
    }
}

U64 PlyTypeSize(const std::string& type)
{
    static const char* const apTypes[] = {"char",  "uchar",   "int8",   "uint8",  "short", "ushort",
                                          "int16", "uint16",  "int",    "uint",   "int32", "uint32",
                                          "float", "float32", "double", "float64"};
    const size_t i = std::find(std::begin(apTypes), std::end(apTypes), type) - std::begin(apTypes);
    return i < 4 ? 1 : i < 8 ? 2 : i < 14 ? 4 : i < 16 ? 8 : 0;
}

void CheckPly(const std::string& bytes, const CModelFacts& facts, const CExportReport& report)
{
    const size_t nHeaderEnd = bytes.find("\nend_header\n");
    FUZZ_CHECK(nHeaderEnd != std::string::npos);
    const std::vector<std::string> lines = Lines(bytes.substr(0, nHeaderEnd + 1));
    FUZZ_CHECK(lines.size() >= 2 && lines[0] == "ply" && lines[1] == "format binary_little_endian 1.0");
    // Per element: its row of scalar properties, or one list property's count and index sizes.
    struct CElement
    {
        std::string m_strName;
        U64 m_nCount, m_nRow, m_nListCount, m_nListIndex;
        std::string m_strProperties;
    };
    std::vector<CElement> elements;
    for (size_t i = 2; i < lines.size(); ++i)
    {
        const std::vector<std::string> w = Split(lines[i], ' ');
        if (w[0] == "element" && w.size() == 3)
            elements.push_back(CElement{w[1], Parse<U64>(w[2]), 0, 0, 0, ""});
        else if (w[0] != "comment")
        {
            FUZZ_CHECK(w[0] == "property" && !elements.empty() && elements.back().m_nListCount == 0);
            CElement& e = elements.back();
            const bool bList = w.size() == 5 && w[1] == "list";
            const U64 nSize = PlyTypeSize(w[bList ? 3 : 1]);
            FUZZ_CHECK((bList ? e.m_nRow == 0 && PlyTypeSize(w[2]) > 0 : w.size() == 3) && nSize > 0);
            (bList ? e.m_nListIndex : e.m_nRow) += nSize;
            e.m_nListCount = bList ? PlyTypeSize(w[2]) : 0;
            e.m_strProperties += w.back() + (bList ? " " : ":" + w[1] + " ");
        }
    }
    FUZZ_CHECK(elements.size() == 2 && elements[0].m_strName == "vertex" && elements[1].m_strName == "face");
    const CElement& vertices = elements[0];
    const CElement& faces = elements[1];
    FUZZ_CHECK(vertices.m_strProperties.compare(0, 24, "x:float y:float z:float ") == 0);
    FUZZ_CHECK(faces.m_strProperties == "vertex_indices " && faces.m_nListCount > 0);

    U64 nAt = nHeaderEnd + 12;
    FUZZ_CHECK(vertices.m_nCount <= (bytes.size() - nAt) / vertices.m_nRow);
    nAt += vertices.m_nCount * vertices.m_nRow;
    std::vector<bool> used(vertices.m_nCount);
    for (U64 f = 0; f < faces.m_nCount; ++f)
    {
        FUZZ_CHECK(UnsignedAt(bytes, nAt, faces.m_nListCount) == 3);
        nAt += faces.m_nListCount;
        for (int k = 0; k < 3; ++k, nAt += faces.m_nListIndex)
        {
            const U64 nIndex = UnsignedAt(bytes, nAt, faces.m_nListIndex);
            FUZZ_CHECK(nIndex < vertices.m_nCount);
            used[nIndex] = true;
        }
    }
    // The data ends with the last face, and every vertex is used.
    FUZZ_CHECK(nAt == bytes.size() && std::find(used.begin(), used.end(), false) == used.end());
    const auto nTriangles = static_cast<long long>(facts.m_Triangles.size());
    FUZZ_CHECK(faces.m_nCount == facts.m_Triangles.size() && vertices.m_nCount == U64(facts.m_nDistinct));
    FUZZ_CHECK(CountsOf(report) == (CCounts{facts.m_nGroups, facts.m_nMeshes, nTriangles, facts.m_nDistinct,
                                            facts.m_nClamped, 0, 0}));
}

void CheckObj(const std::string& obj, const std::string& mtl, const std::string& strMtlName,
              const CModelFacts& facts, const CExportReport& report)
{
    std::set<std::string> materials;
    for (const std::string& line : Lines(mtl))
    {
        const std::vector<std::string> w = Split(line, ' ');
        if (w[0] == "newmtl")
            FUZZ_CHECK(w.size() == 2 && IsName(w[1]) && materials.insert(w[1]).second);
        else
            FUZZ_CHECK(!materials.empty() || line[0] == '#');
    }

    long long nV = 0, nVn = 0, nF = 0, nUse = 0;
    bool bLibrary = false;
    for (const std::string& line : Lines(obj))
    {
        const std::vector<std::string> w = Split(line, ' ');
        if (w[0] == "mtllib")
        {
            FUZZ_CHECK(!bLibrary && nUse == 0 && w.size() == 2 && w[1] == strMtlName);
            bLibrary = true;
        }
        else if (w[0] == "o" || w[0] == "g")
            FUZZ_CHECK(w.size() == 2 && IsName(w[1]));
        else if (w[0] == "usemtl")
        {
            FUZZ_CHECK(bLibrary && w.size() == 2 && materials.count(w[1]) == 1);
            ++nUse;
        }
        else if (w[0] == "v" || w[0] == "vn")
        {
            FUZZ_CHECK(w.size() == 4);
            for (size_t i = 1; i < 4; ++i)
                Parse<double>(w[i]);
            ++(w[0] == "v" ? nV : nVn);
        }
        else if (w[0] == "f")
        {
            // Each corner is "v//vn", both numbered from 1 among the lines so far.
            FUZZ_CHECK(w.size() == 4);
            ++nF;
            for (size_t i = 1; i < 4; ++i)
            {
                const size_t nSlashes = w[i].find("//");
                FUZZ_CHECK(nSlashes != std::string::npos);
                const U64 nVertex = Parse<U64>(w[i].substr(0, nSlashes));
                const U64 nNormal = Parse<U64>(w[i].substr(nSlashes + 2));
                FUZZ_CHECK(nVertex >= 1 && nVertex <= U64(nV) && nNormal >= 1 && nNormal <= U64(nVn));
            }
        }
        else
            FUZZ_CHECK(line[0] == '#');
    }
    FUZZ_CHECK(bLibrary && nF == static_cast<long long>(facts.m_Triangles.size()) && nV == nVn &&
               nV == facts.m_nDistinct && nUse == facts.m_nMeshes);
    FUZZ_CHECK(CountsOf(report) == (CCounts{facts.m_nGroups, nUse, nF, nV, facts.m_nClamped, 0, 0}));
}

const Json& Member(const Json& object, const char* pszKey)
{
    FUZZ_CHECK(object.is_object() && object.contains(pszKey));
    return object[pszKey];
}

// glTF forbids empty arrays.
const Json& ArrayMember(const Json& object, const char* pszKey)
{
    const Json& array = Member(object, pszKey);
    FUZZ_CHECK(array.is_array() && !array.empty());
    return array;
}

U64 Whole(const Json& value)
{
    FUZZ_CHECK(value.is_number_unsigned());
    return value.get<U64>();
}

U64 WholeOr(const Json& object, const char* pszKey, U64 nDefault)
{
    return object.contains(pszKey) ? Whole(object[pszKey]) : nDefault;
}

struct CAccessor
{
    U64 m_nOffset; // in the buffer
    U64 m_nStride, m_nCount, m_nComponentType, m_nComponentSize, m_nComponents;
    bool m_bStrided; // its view has a byteStride (vertex data)
};

// The accessors, once every view is checked to lie in the buffer and every accessor in its view.
std::vector<CAccessor> ReadAccessors(const Json& doc, U64 nBufferLength)
{
    std::vector<std::array<U64, 3>> views; // offset, length, stride
    for (const Json& view : ArrayMember(doc, "bufferViews"))
    {
        views.push_back({WholeOr(view, "byteOffset", 0), Whole(Member(view, "byteLength")),
                         WholeOr(view, "byteStride", 0)});
        const U64 nOffset = views.back()[0], nLength = views.back()[1], nStride = views.back()[2];
        FUZZ_CHECK(Whole(Member(view, "buffer")) == 0 && nLength > 0 && nOffset <= nBufferLength &&
                   nLength <= nBufferLength - nOffset);
        FUZZ_CHECK(nStride == 0 || (nStride >= 4 && nStride <= 252 && nStride % 4 == 0));
    }
    static const std::string aTypes[] = {"SCALAR", "VEC2", "VEC3", "VEC4"};
    std::vector<CAccessor> accessors;
    for (const Json& accessor : ArrayMember(doc, "accessors"))
    {
        const U64 nView = Whole(Member(accessor, "bufferView"));
        const Json& type = Member(accessor, "type");
        FUZZ_CHECK(nView < views.size() && type.is_string());
        const U64 nViewLength = views[nView][1], nViewStride = views[nView][2];
        const U64 nType = Whole(Member(accessor, "componentType"));
        const U64 nSize = nType == 5120 || nType == 5121 ? 1 : nType == 5122 || nType == 5123 ? 2 : 4;
        const U64 nComponents =
            std::find(std::begin(aTypes), std::end(aTypes), type) - std::begin(aTypes) + 1;
        FUZZ_CHECK(nType >= 5120 && nType <= 5126 && nType != 5124 && nComponents <= std::size(aTypes));
        const U64 nElement = nSize * nComponents;
        const U64 nStride = nViewStride > 0 ? nViewStride : nElement;
        const U64 nOffset = WholeOr(accessor, "byteOffset", 0);
        const U64 nCount = Whole(Member(accessor, "count"));
        // Every element lies inside the view, aligned to its component size.
        FUZZ_CHECK(nCount >= 1 && nElement <= nStride && nOffset % nSize == 0 && nOffset <= nViewLength &&
                   nElement <= nViewLength - nOffset &&
                   nCount - 1 <= (nViewLength - nOffset - nElement) / nStride);
        accessors.push_back(CAccessor{views[nView][0] + nOffset, nStride, nCount, nType, nSize, nComponents,
                                      nViewStride > 0});
    }
    return accessors;
}

// A glTF document with its buffer, from a .glb or from a .gltf and its .bin.
void CheckGltf(const Json& doc, const std::string& bin, const CModelFacts& facts, const CExportReport& report)
{
    FUZZ_CHECK(Member(Member(doc, "asset"), "version") == "2.0");
    // A node per group and per mesh, in one scene.
    FUZZ_CHECK(ArrayMember(doc, "scenes").size() == 1 && Whole(Member(doc, "scene")) == 0);
    FUZZ_CHECK(ArrayMember(doc, "nodes").size() == U64(facts.m_nGroups + 1 + report.m_nMeshes));
    if (report.m_nMeshes == 0)
    {
        FUZZ_CHECK(!doc.contains("meshes") && !doc.contains("buffers") && bin.empty());
        FUZZ_CHECK(CountsOf(report) == (CCounts{facts.m_nGroups, 0, 0, 0, 0, facts.m_nNonFinite, 0}));
        return;
    }

    const Json& buffers = ArrayMember(doc, "buffers");
    FUZZ_CHECK(buffers.size() == 1 && Whole(Member(buffers[0], "byteLength")) == bin.size());
    const std::vector<CAccessor> accessors = ReadAccessors(doc, bin.size());
    const Json& meshes = ArrayMember(doc, "meshes");
    const size_t nMaterials = ArrayMember(doc, "materials").size();
    long long nTriangles = 0, nVertices = 0;
    for (const Json& mesh : meshes)
        for (const Json& primitive : ArrayMember(mesh, "primitives"))
        {
            FUZZ_CHECK(WholeOr(primitive, "mode", 4) == 4 && WholeOr(primitive, "material", 0) < nMaterials);
            const Json& attributes = Member(primitive, "attributes");
            const U64 nPosition = Whole(Member(attributes, "POSITION"));
            const U64 nNormal = Whole(Member(attributes, "NORMAL"));
            const U64 nIndices = Whole(Member(primitive, "indices"));
            FUZZ_CHECK(nPosition < accessors.size() && nNormal < accessors.size() &&
                       nIndices < accessors.size());
            const CAccessor& positions = accessors[nPosition];
            const CAccessor& normals = accessors[nNormal];
            const CAccessor& indices = accessors[nIndices];
            FUZZ_CHECK(positions.m_nComponentType == 5126 && positions.m_nComponents == 3 &&
                       normals.m_nComponentType == 5126 && normals.m_nComponents == 3 &&
                       normals.m_nCount == positions.m_nCount);
            FUZZ_CHECK(indices.m_nComponents == 1 && !indices.m_bStrided && indices.m_nCount % 3 == 0 &&
                       (indices.m_nComponentType == 5121 || indices.m_nComponentType == 5123 ||
                        indices.m_nComponentType == 5125));
            // Every index names a vertex, and every vertex is named.
            std::vector<bool> used(positions.m_nCount);
            for (U64 i = 0; i < indices.m_nCount; ++i)
            {
                const U64 nIndex = UnsignedAt(bin, indices.m_nOffset + i * indices.m_nComponentSize,
                                              indices.m_nComponentSize);
                FUZZ_CHECK(nIndex < positions.m_nCount);
                used[nIndex] = true;
            }
            FUZZ_CHECK(std::find(used.begin(), used.end(), false) == used.end());
            nTriangles += static_cast<long long>(indices.m_nCount / 3);
            nVertices += static_cast<long long>(positions.m_nCount);
        }
    FUZZ_CHECK(meshes.size() == U64(facts.m_nFiniteMeshes) &&
               nTriangles + facts.m_nNonFinite == static_cast<long long>(facts.m_Triangles.size()));
    FUZZ_CHECK(CountsOf(report) ==
               (CCounts{facts.m_nGroups, facts.m_nFiniteMeshes, nTriangles, nVertices, facts.m_nFiniteClamped,
                        facts.m_nNonFinite, facts.m_nBadNormals}));
}

// The GLB's JSON chunk, parsed, and the first byteLength bytes of its BIN chunk.
void ReadGlb(const std::string& bytes, Json& doc, std::string& bin)
{
    FUZZ_CHECK(bytes.size() >= 20 && UnsignedAt(bytes, 0, 4) == 0x46546C67 && UnsignedAt(bytes, 4, 4) == 2 &&
               UnsignedAt(bytes, 8, 4) == bytes.size());
    const U64 nJson = UnsignedAt(bytes, 12, 4);
    FUZZ_CHECK(UnsignedAt(bytes, 16, 4) == 0x4E4F534A && nJson % 4 == 0 && nJson <= bytes.size() - 20);
    const std::string text = bytes.substr(20, nJson);
    const size_t nLast = text.find_last_not_of(' ');
    FUZZ_CHECK(nLast != std::string::npos && nJson - nLast - 1 < 4);
    doc = Json::parse(text, nullptr, false);
    FUZZ_CHECK(!doc.is_discarded());
    const U64 nRest = 20 + nJson;
    bin.clear();
    if (!doc.contains("buffers"))
    {
        FUZZ_CHECK(nRest == bytes.size());
        return;
    }
    const U64 nLength = Whole(Member(ArrayMember(doc, "buffers")[0], "byteLength"));
    const U64 nChunk = UnsignedAt(bytes, nRest, 4);
    FUZZ_CHECK(UnsignedAt(bytes, nRest + 4, 4) == 0x004E4942 && nChunk == ((nLength + 3) & ~3ull) &&
               nChunk == bytes.size() - nRest - 8);
    bin = bytes.substr(nRest + 8, nLength);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    FUZZ_CHECK(in.is_open());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Exports the world into the folder as the named file; the report must name exactly the files that
// appeared: that one, then the companion if there is one. Returns their contents and removes them.
CExportReport Export(const vemoBaseGroup& world, const std::string& strFolder, const char* pszName,
                     const char* pszCompanion, std::vector<std::string>& contents)
{
    const std::string path = strFolder + "/" + pszName;
    const CExportReport report = ExportWorld(world, path, ExportFormatFromPath(path));
    FUZZ_CHECK(report.m_eResult == ExportSuccess && report.m_strMessage.empty());
    FUZZ_CHECK(!report.m_Files.empty() && report.m_Files[0] == path && report.m_Files.size() <= 2);
    FUZZ_CHECK(report.m_Files.size() == 1 || report.m_Files[1] == strFolder + "/" + pszCompanion);
    for (const std::string& file : report.m_Files)
    {
        contents.push_back(ReadFile(file));
        std::error_code error;
        FUZZ_CHECK(std::filesystem::remove(file, error));
    }
    std::error_code error;
    FUZZ_CHECK(std::filesystem::is_empty(strFolder, error));
    return report;
}

} // namespace

int FuzzWriters(const uint8_t* pData, size_t nSize)
{
    static CFuzzTempFile input("writers");
    static CFuzzTempFolder output("writers_out");
    input.Write(pData, nSize);
    CKarnWorld world;
    CSLPParser parser;
    parser.SetFileName(CBasicString(input.GetPath().c_str()));
    parser.Parse(&world);
    const CModelFacts facts = Survey(world);
    const std::string& folder = output.GetPath();

    std::vector<std::string> stl, ply, obj, glb, gltf;
    const CExportReport stlReport = Export(world, folder, "model.stl", "", stl);
    CheckStl(stl[0], facts, stlReport);
    const CExportReport plyReport = Export(world, folder, "model.ply", "", ply);
    CheckPly(ply[0], facts, plyReport);
    const CExportReport objReport = Export(world, folder, "model.obj", "model.mtl", obj);
    FUZZ_CHECK(obj.size() == 2);
    CheckObj(obj[0], obj[1], "model.mtl", facts, objReport);

    const CExportReport glbReport = Export(world, folder, "model.glb", "", glb);
    Json glbDoc;
    std::string glbBin;
    ReadGlb(glb[0], glbDoc, glbBin);
    CheckGltf(glbDoc, glbBin, facts, glbReport);
    // The text form holds the same document, apart from the URI of its .bin, and the same binary data.
    const CExportReport gltfReport = Export(world, folder, "model 1.gltf", "model 1.bin", gltf);
    Json gltfDoc = Json::parse(gltf[0], nullptr, false);
    FUZZ_CHECK(!gltfDoc.is_discarded() && gltf.size() == (glbReport.m_nMeshes > 0 ? 2u : 1u));
    if (gltf.size() == 2)
    {
        FUZZ_CHECK(Member(ArrayMember(gltfDoc, "buffers")[0], "uri") == "model%201.bin");
        gltfDoc["buffers"][0].erase("uri");
    }
    FUZZ_CHECK(gltfDoc == glbDoc && (gltf.size() == 2 ? gltf[1] : std::string()) == glbBin);
    FUZZ_CHECK(CountsOf(gltfReport) == CountsOf(glbReport));
    return 0;
}
