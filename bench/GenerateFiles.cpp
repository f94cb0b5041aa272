// slp_bench_gen: writes the benchmark's input files, deterministically, into one folder.
//
//   slp_bench_gen FOLDER [--large]
//
// For every case it writes CASE.slp, as exporters write SLP (lower-case keywords, indentation, six
// decimals, one "normal" line before each of the three "vertex" lines of a facet, "color" lines), and
// for the peer loaders the same triangles with the same six-decimal numbers as CASE.stl, an ASCII STL
// file (one "facet normal" per facet), and as CASE.obj, a triangle soup in OBJ: an "o" line per solid,
// then per facet its three "v x y z" lines, one "vn" line (the facet normal) and "f a//n b//n c//n"
// (1-based indices of those three vertices and that normal; no vertex is shared).
// The cases:
//   one_solid_30000, one_solid_300000   one solid with one colour (and one_solid_3000000, about
//                                       0.9 GB, only with --large)
//   assembly_300000                     20,000 solids of 15 facets, each with its own colour and a
//                                       second colour after its eighth facet
// A case whose three files already exist is left alone: they are written under temporary names and
// renamed when complete, and their contents follow from the case's name alone.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

// A small deterministic generator (64-bit LCG, upper bits), so the files are the same on every machine.
class CRandom
{
public:
    explicit CRandom(std::uint64_t nSeed) : m_nState(nSeed) {}
    // A value in [0, 1).
    double Next()
    {
        m_nState = m_nState * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(m_nState >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    std::uint64_t m_nState;
};

struct CTriangle
{
    std::array<double, 3> m_Normal;
    std::array<std::array<double, 3>, 3> m_Vertex;
};

// Small triangles scattered through a box of 2000 units, as a tessellated part looks to a loader:
// coordinates with up to four integer digits, unit normals.
CTriangle MakeTriangle(CRandom& random)
{
    CTriangle triangle;
    std::array<double, 3> base;
    for (double& c : base)
        c = random.Next() * 2000.0 - 1000.0;
    for (auto& vertex : triangle.m_Vertex)
        for (int i = 0; i < 3; ++i)
            vertex[i] = base[i] + random.Next() * 20.0 - 10.0;
    const auto& a = triangle.m_Vertex[0];
    const auto& b = triangle.m_Vertex[1];
    const auto& c = triangle.m_Vertex[2];
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length == 0.0)
    {
        n[2] = 1.0;
        length = 1.0;
    }
    for (int i = 0; i < 3; ++i)
        triangle.m_Normal[i] = n[i] / length;
    return triangle;
}

// Buffered output of text, with numbers written in fixed notation with six decimals (locale-free).
class CTextWriter
{
public:
    explicit CTextWriter(std::FILE* pFile) : m_pFile(pFile) { m_Buffer.reserve(kFlushSize + 4096); }
    ~CTextWriter() { Flush(); }
    CTextWriter(const CTextWriter&) = delete;
    CTextWriter& operator=(const CTextWriter&) = delete;

    void Text(const char* psz)
    {
        m_Buffer.append(psz);
        if (m_Buffer.size() >= kFlushSize)
            Flush();
    }
    void Numbers(const std::array<double, 3>& values)
    {
        for (double value : values)
        {
            char sz[64];
            sz[0] = ' ';
            // -0.0000001 prints as "-0.000000" otherwise; exporters write 0.000000.
            const double rounded = std::fabs(value) < 5e-7 ? 0.0 : value;
            const std::to_chars_result result =
                std::to_chars(sz + 1, sz + sizeof(sz), rounded, std::chars_format::fixed, 6);
            m_Buffer.append(sz, static_cast<std::size_t>(result.ptr - sz));
        }
        m_Buffer.push_back('\n');
    }
    // An OBJ face of three vertices that share one normal: "f a//n b//n c//n".
    void Face(long long nFirstVertex, long long nNormal)
    {
        char sz[128];
        const int n = std::snprintf(sz, sizeof(sz), "f %lld//%lld %lld//%lld %lld//%lld\n", nFirstVertex,
                                    nNormal, nFirstVertex + 1, nNormal, nFirstVertex + 2, nNormal);
        m_Buffer.append(sz, static_cast<std::size_t>(n));
        if (m_Buffer.size() >= kFlushSize)
            Flush();
    }
    void Flush()
    {
        if (!m_Buffer.empty() && std::fwrite(m_Buffer.data(), 1, m_Buffer.size(), m_pFile) != m_Buffer.size())
            m_bFailed = true;
        m_Buffer.clear();
    }
    bool Failed() const { return m_bFailed; }

private:
    static constexpr std::size_t kFlushSize = 1 << 20;
    std::FILE* m_pFile;
    std::string m_Buffer;
    bool m_bFailed = false;
};

struct CCase
{
    const char* m_pszName;
    int m_nSolids;
    int m_nFacetsPerSolid;
    bool m_bAssembly; // a colour per solid and a second one inside it
};

std::array<double, 3> ColourOf(int nSolid, int nRun)
{
    CRandom random(static_cast<std::uint64_t>(nSolid) * 2 + static_cast<std::uint64_t>(nRun) + 77);
    return {random.Next(), random.Next(), random.Next()};
}

// Writes the three files of a case in one pass over the same triangles.
bool WriteCase(const CCase& kase, std::FILE* pSlp, std::FILE* pStl, std::FILE* pObj)
{
    CTextWriter slp(pSlp);
    CTextWriter stl(pStl);
    CTextWriter obj(pObj);
    long long nFacets = 0;
    CRandom random(12345);
    const int nColourChange = 8;
    for (int s = 0; s < kase.m_nSolids; ++s)
    {
        const std::string name = "part_" + std::to_string(s);
        slp.Text(("solid " + name + "\n").c_str());
        stl.Text(("solid " + name + "\n").c_str());
        obj.Text(("o " + name + "\n").c_str());
        if (kase.m_bAssembly || s == 0)
        {
            slp.Text("  color");
            slp.Numbers(kase.m_bAssembly ? ColourOf(s, 0) : std::array<double, 3>{0.8, 0.8, 0.8});
        }
        for (int f = 0; f < kase.m_nFacetsPerSolid; ++f)
        {
            if (kase.m_bAssembly && f == nColourChange)
            {
                slp.Text("  color");
                slp.Numbers(ColourOf(s, 1));
            }
            const CTriangle triangle = MakeTriangle(random);
            slp.Text("  facet\n    outer loop\n");
            stl.Text("  facet normal");
            stl.Numbers(triangle.m_Normal);
            stl.Text("    outer loop\n");
            for (const auto& vertex : triangle.m_Vertex)
            {
                slp.Text("      normal");
                slp.Numbers(triangle.m_Normal);
                slp.Text("      vertex");
                slp.Numbers(vertex);
                stl.Text("      vertex");
                stl.Numbers(vertex);
            }
            slp.Text("    endloop\n  endfacet\n");
            stl.Text("    endloop\n  endfacet\n");
            for (const auto& vertex : triangle.m_Vertex)
            {
                obj.Text("v");
                obj.Numbers(vertex);
            }
            obj.Text("vn");
            obj.Numbers(triangle.m_Normal);
            ++nFacets;
            obj.Face(3 * nFacets - 2, nFacets);
        }
        slp.Text(("endsolid " + name + "\n").c_str());
        stl.Text(("endsolid " + name + "\n").c_str());
    }
    slp.Flush();
    stl.Flush();
    obj.Flush();
    return !slp.Failed() && !stl.Failed() && !obj.Failed();
}

bool FileExistsWithContent(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0)
    {
        std::fprintf(stderr, "usage: %s FOLDER [--large]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const bool bLarge = argc > 2 && std::strcmp(argv[2], "--large") == 0;
    ::mkdir(folder.c_str(), 0777);

    std::vector<CCase> cases = {{"one_solid_30000", 1, 30000, false},
                                {"one_solid_300000", 1, 300000, false},
                                {"assembly_300000", 20000, 15, true}};
    if (bLarge)
        cases.push_back({"one_solid_3000000", 1, 3000000, false});

    for (const CCase& kase : cases)
    {
        const std::string base = folder + "/" + kase.m_pszName;
        const char* const apszExtensions[3] = {".slp", ".stl", ".obj"};
        bool bComplete = true;
        for (const char* pszExtension : apszExtensions)
            bComplete = bComplete && FileExistsWithContent(base + pszExtension);
        if (bComplete)
            continue;
        std::printf("writing %s.slp, .stl and .obj\n", base.c_str());
        std::fflush(stdout);
        std::FILE* apFiles[3] = {nullptr, nullptr, nullptr};
        bool bOk = true;
        for (int i = 0; i < 3; ++i)
        {
            apFiles[i] = std::fopen((base + apszExtensions[i] + ".part").c_str(), "wb");
            bOk = bOk && apFiles[i] != nullptr;
        }
        bOk = bOk && WriteCase(kase, apFiles[0], apFiles[1], apFiles[2]);
        for (std::FILE* pFile : apFiles)
            if (pFile != nullptr && std::fclose(pFile) != 0)
                bOk = false;
        // Written under a temporary name and renamed, so an interrupted run never leaves a short file
        // that a later run would take as complete.
        for (const char* pszExtension : apszExtensions)
            if (bOk &&
                std::rename((base + pszExtension + ".part").c_str(), (base + pszExtension).c_str()) != 0)
                bOk = false;
        if (!bOk)
        {
            std::fprintf(stderr, "cannot write %s\n", base.c_str());
            return 1;
        }
    }
    return 0;
}
