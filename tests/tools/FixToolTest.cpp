// slp fix and the SLP writer through the real program: every fixture and every file of the fuzz corpus
// fixed and loaded again, the model of a file that loads kept bit for bit, the repairs of what a load
// drops, and the same safe writes as convert.
#include "checker/SLPChecker.h"
#include "model/GroupWalk.h"
#include "tests/slp/WorldChecker.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

ToolRun RunSlp(const std::string& arguments, const std::string& input = std::string())
{
    return RunProgram(SLP_TOOL_FILE, arguments, SLP_TEST_DATA_DIR, input);
}

std::string Quote(const std::string& path)
{
    return "\"" + path + "\"";
}

void Bits(std::string& out, float f)
{
    std::uint32_t n = 0;
    std::memcpy(&n, &f, sizeof(n));
    out += std::to_string(n) + ' ';
}

// Everything a load makes, floats as their bits: the group tree with the names' code units, each mesh's
// triangles, vertices, normals, colour and material.
std::string ModelBits(const vemoBaseGroup& world)
{
    std::string out;
    for (CGroupWalk walk(world, true); walk.Next();)
    {
        if (!walk.IsEntering())
        {
            out += "end\n";
            continue;
        }
        const vemoBaseGroup& group = walk.GetGroup();
        out += "group";
        for (const WideChar* p = group.GetGroupName().GetText(); p != nullptr && *p != 0; ++p)
            out += ' ' + std::to_string(static_cast<unsigned>(*p));
        out += '\n';
        for (int i = 0; i < group.GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i));
            const vemoMatProps* pMaterial = group.GetObjectMaterial(i);
            if (pMesh == nullptr || pMaterial == nullptr)
            {
                out += "not a mesh\n";
                continue;
            }
            const vemoChroma& c = pMaterial->m_Front.GetDiffuse();
            out += "mesh " + std::to_string(pMesh->m_nTriangleCount) + ' ';
            for (const float f : {c.red, c.green, c.blue, c.alpha, pMaterial->m_Front.GetShininess()})
                Bits(out, f);
            for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
                for (int k = 0; k < 3; ++k)
                {
                    const vemoFloatPoint& v = pMesh->m_pTriangles[t].m_Vertex[k];
                    const vemoVector& n = pMesh->m_pTriangles[t].m_Normal[k];
                    for (const float f : {v.x, v.y, v.z, n.x, n.y, n.z})
                        Bits(out, f);
                }
            out += '\n';
        }
    }
    return out;
}

struct Loaded
{
    std::unique_ptr<CKarnWorld> pWorld = std::make_unique<CKarnWorld>();
    SLPLoadResultTypes eResult = SLPLoadFailure;
    long long nDropped = 0;
};

// Loads as the program does, refusing binary input at its first block.
Loaded Load(const std::string& path)
{
    Loaded loaded;
    CSLPParser parser;
    CBinaryInputGuard guard;
    parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&guard);
    loaded.eResult = LoadFile(parser, *loaded.pWorld, path);
    loaded.nDropped = parser.GetDiscardedPointCount();
    return loaded;
}

// Fixes the input and converts it to SLP: both outputs load whole, the fix's exactly when it succeeds,
// and where the input loads with nothing dropped both hold the input's model bit for bit.
void CheckFixAndSlpRoundTrip(const std::string& input)
{
    SCOPED_TRACE(input);
    const std::string fixed = TestTempPath("slp_fixed_", ".slp");
    const std::string converted = TestTempPath("slp_converted_", ".slp");
    fs::remove(fixed);
    const Loaded before = Load(input);
    const bool bWhole = before.eResult == SLPLoadSuccess && before.nDropped == 0;
    const ToolRun run = RunSlp("fix -q " + Quote(input) + " " + Quote(fixed));
    if (run.nExit == 0)
    {
        const Loaded after = Load(fixed);
        EXPECT_EQ(after.eResult, SLPLoadSuccess);
        EXPECT_EQ(after.nDropped, 0);
        EXPECT_TRUE(WorldIsConsistent(*after.pWorld, true));
        if (bWhole)
        {
            EXPECT_EQ(ModelBits(*after.pWorld), ModelBits(*before.pWorld));
        }
    }
    else
    {
        // Only a file with nothing a load could keep, or one that cannot be read, gives no output.
        EXPECT_EQ(run.nExit, 1) << run.err;
        EXPECT_NE(before.eResult, SLPLoadSuccess) << run.err;
        EXPECT_FALSE(fs::exists(fixed));
    }
    if (before.eResult == SLPLoadSuccess)
    {
        ASSERT_EQ(RunSlp("convert -q " + Quote(input) + " " + Quote(converted)).nExit, 0);
        const Loaded again = Load(converted);
        EXPECT_EQ(again.eResult, SLPLoadSuccess);
        EXPECT_EQ(again.nDropped, 0);
        EXPECT_EQ(ModelBits(*again.pWorld), ModelBits(*before.pWorld));
    }
    fs::remove(fixed);
    fs::remove(converted);
}

} // namespace

TEST(FixToolTest, EveryFixtureAndCorpusFileLoadsWholeAfterFixAndKeepsAModelThatLoaded)
{
    std::vector<fs::path> inputs;
    for (const char* pszFolder : {SLP_TEST_DATA_DIR, SLP_FUZZ_CORPUS_DIR})
        for (const fs::directory_entry& entry : fs::directory_iterator(pszFolder))
            inputs.push_back(entry.path());
    ASSERT_GT(inputs.size(), 100u);
    for (const fs::path& input : inputs)
        CheckFixAndSlpRoundTrip(input.string());
}

TEST(FixToolTest, NamesNumbersAndRunsThatAreHardToWriteReadBackTheSame)
{
    // Names that are keywords, numbers, brackets, quoted texts (one cut short at its line end, one with
    // a NUL byte) and bytes that are not UTF-8; an empty solid; runs that only a colour line (of the same
    // colour, or without numbers) separates; triples cut short in runs that load; CRLF; NaN of both
    // signs, -0, infinities and the one float whose shortest text (7.038531e-26) a load reads back as its
    // neighbour; and the unnamed solid of a file that ends with "solid".
    const std::string text =
        "solid endsolid\r\n solid 12.5e1 solid ( solid \"two words\"\r\nsolid \"cut short\r\n" +
        std::string("solid \"nul\0inside\" solid caf\xE9 endsolid\r\n", 40) +
        "color 0.5 0.25\n facet outer loop normal 1 0 0 vertex 0 0 0 normal 0 1 0 vertex 1 0 0 normal 0 0 1 "
        "vertex 0 1 0 endloop endfacet\ncolor 0.5 0.25 0\n"
        "normal nan -nan -0 vertex inf -inf 7.0385307e-26 normal 1 x vertex 2 y normal 1 2 3 vertex 4 5 6\n"
        "color x\nnormal 1 0 0 vertex 1 1 1 normal 1 0 0 vertex 2 2 2 normal 1 0 0 vertex 3 3 4\n"
        "endsolid endsolid endsolid solid";
    const TempFile file(text);
    CheckFixAndSlpRoundTrip(file.path);
    const Loaded loaded = Load(file.path);
    EXPECT_EQ(loaded.nDropped, 0);
    // The names as a load makes them, to be sure the file says what this test means. The byte E9 is read
    // as U+00E9, which narrow text gives in UTF-8, or in the ANSI code page on Windows.
#ifdef _WIN32
    const char* const pszCafe = "caf\xE9";
#else
    const char* const pszCafe = "caf\xC3\xA9";
#endif
    EXPECT_EQ(DescribeWorld(*loaded.pWorld), "group endsolid\n"
                                             "  group 12.5e1\n"
                                             "    group (\n"
                                             "      group \"two words\"\n"
                                             "        group \"cut short\n"
                                             "          group \"nul\n"
                                             "            mesh 1 colour 0.5 0.25 0 1\n"
                                             "            mesh 1 colour 0.5 0.25 0 1\n"
                                             "            mesh 1 colour 0.5 0.25 0 1\n"
                                             "            group " +
                                                 std::string(pszCafe) +
                                                 "\n"
                                                 "      group \n");
}

TEST(FixToolTest, RepairsWhatALoadDropsAndSaysWhatItChanged)
{
    // As ASCII STL writes facets (one normal each), a run without normals with a flat facet, facets
    // before any solid, a facet with a vertex cut short, a vertex after the last whole facet, and a
    // solid left open.
    const TempFile file(
        "vertex 0 0 0 vertex 0 0 1 vertex 0 1 0\n"
        "solid part\n"
        "facet normal 0 0 1\n outer loop\n vertex 0 0 0\n vertex 1 0 0\n vertex 0 1 0\n endloop\n"
        "endfacet\nfacet normal 0 0 -1\n outer loop\n vertex 0 0 0\n vertex 0 1 0\n vertex 1 0 0\n"
        " endloop\nendfacet\n"
        "color 1 0 0\nvertex 0 0 0 vertex 2 0 0 vertex 4 0 0\nvertex 0 0 0 vertex 2 0 0 vertex 0 3 0\n"
        "vertex 9 9 x vertex 1 1 1 vertex 1 1 1\n"
        "vertex 5 5 5\n");
    const std::string fixed = TestTempPath("slp_fixed_", ".slp");
    const ToolRun run = RunSlp("fix --json " + Quote(file.path) + " " + Quote(fixed));
    ASSERT_EQ(run.nExit, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out);
    std::map<std::string, std::pair<long long, std::vector<long long>>> changes;
    for (const nlohmann::json& change : report.at("changes"))
        changes[change.at("code")] = {change.at("count"), change.at("lines")};
    const std::string stem = fs::path(file.path).stem().string();
    EXPECT_EQ(changes["normal-per-facet"], std::make_pair(2LL, std::vector<long long>{5, 12}));
    EXPECT_EQ(changes["normals-from-winding"], std::make_pair(3LL, std::vector<long long>{1, 18, 19}));
    EXPECT_EQ(changes["outside-solid"], std::make_pair(1LL, std::vector<long long>{1}));
    EXPECT_EQ(changes["short-triple"], std::make_pair(1LL, std::vector<long long>{20}));
    EXPECT_EQ(changes["leftover-vertices"], std::make_pair(1LL, std::vector<long long>{21}));
    EXPECT_EQ(changes["solid-left-open"], std::make_pair(1LL, std::vector<long long>{2}));
    EXPECT_EQ(report.at("before").at("triangles"), 0);
    EXPECT_EQ(report.at("after").at("triangles"), 5);
    EXPECT_EQ(report.at("left_out_vertices"), 4);

    const Loaded after = Load(fixed);
    ASSERT_EQ(after.eResult, SLPLoadSuccess);
    EXPECT_EQ(after.nDropped, 0);
    EXPECT_EQ(DescribeWorld(*after.pWorld),
              "group " + stem +
                  "\n  mesh 1 colour 1 1 1 1\n"
                  "group part\n  mesh 2 colour 1 1 1 1\n  mesh 2 colour 1 0 0 1\n");
    const auto normals = [](const vemoBaseGroup& group, int nMesh)
    {
        const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(nMesh));
        std::vector<std::vector<float>> all;
        for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
            for (const vemoVector& n : pMesh->m_pTriangles[t].m_Normal)
                all.push_back({n.x, n.y, n.z});
        return all;
    };
    using N = std::vector<std::vector<float>>;
    // The winding of (0 0 0) (0 0 1) (0 1 0) points along -x.
    EXPECT_EQ(normals(*after.pWorld->GetGroup(0), 0), (N{{-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}}));
    const vemoBaseGroup& part = *after.pWorld->GetGroup(1);
    EXPECT_EQ(normals(part, 0), (N{{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, -1}, {0, 0, -1}, {0, 0, -1}}));
    // A facet without area gets 0 0 0; the next one's winding points along +z.
    EXPECT_EQ(normals(part, 1), (N{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}}));

    // The text names each kind with its count and first lines; an input that loads has nothing to repair.
    const ToolRun text = RunSlp("fix " + Quote(file.path) + " " + Quote(fixed));
    EXPECT_NE(text.out.find(": 2 facets with one normal: the normal now stands on each of its 3 vertices "
                            "(lines 5, 12)\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("5 triangles (a load of " + file.path + " keeps 0 triangles)\n"),
              std::string::npos);
    EXPECT_EQ(RunSlp("fix --strict " + Quote(file.path) + " " + Quote(fixed)).nExit,
              1); // 4 vertices left out
    const ToolRun again = RunSlp("fix " + Quote(fixed) + " -");
    EXPECT_EQ(again.nExit, 0);
    EXPECT_EQ(again.err,
              fixed + ": nothing to repair\n<stdout>: slp, 2 groups, 3 meshes, 5 triangles (a load of " +
                  fixed + " keeps 5 triangles)\n");
    EXPECT_EQ(again.out, ReadProgramText(fixed)); // a fixed file is written again as it is
    fs::remove(fixed);
}

TEST(FixToolTest, WritesAsSafelyAsConvertAndSaysWhatToDoWithSeveralInputs)
{
    const fs::path folder = TestTempPath("slp_fix_folder_");
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(DataPath("geometry_before_solid.slp"), folder / "in.slp");
    const std::string input = (folder / "in.slp").string();
    const std::string original = ReadProgramText(input);
    const struct
    {
        std::string arguments;
        int nExit;
        std::string error;
    } cases[] = {
        {"fix " + Quote(input) + " " + Quote((folder / "." / "in.slp").string()), 1,
         "slp: " + (folder / "." / "in.slp").string() + ": is the input file " + input +
             "; it is left as it is\n"},
        {"fix -o " + Quote(folder.string()) + " " + Quote(input), 1,
         "slp: " + folder.string() + "/in.slp: is the input file " + input + "; it is left as it is\n"},
        {"fix one_facet.slp nested_solids.slp out.slp", 2,
         "slp fix: several inputs need -o FOLDER (slp fix -o OUTDIR a.slp b.slp ...)\n"},
        {"fix -o " + Quote(input) + " one_facet.slp nested_solids.slp", 2,
         "slp fix: " + input + " is a file; -o takes a folder for several inputs\n"},
        {"convert one_facet.slp nested_solids.slp out.glb", 2,
         "slp convert: several inputs need -o FOLDER and -f FORMAT (slp convert -f glb -o OUTDIR a.slp b.slp "
         "...)\n"},
        {"fix empty.slp " + Quote((folder / "empty.slp").string()), 1,
         "slp: empty.slp: empty file; nothing to write\n"},
    };
    for (const auto& c : cases)
    {
        const ToolRun run = RunSlp(c.arguments);
        EXPECT_EQ(run.nExit, c.nExit) << c.arguments;
        EXPECT_EQ(run.err, c.error) << c.arguments;
    }
    EXPECT_EQ(ReadProgramText(input), original);
    EXPECT_FALSE(fs::exists(folder / "empty.slp"));

    // A batch into a folder, standard input to standard output.
    const fs::path out = folder / "out";
    ToolRun run = RunSlp("fix -q -o " + Quote(out.string()) + " one_facet.slp nested_solids.slp");
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(fs::exists(out / "one_facet.slp") && fs::exists(out / "nested_solids.slp"));
    run = RunSlp("fix -q - -", DataPath("one_facet.slp"));
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.out, ReadProgramText((out / "one_facet.slp").string()));
    fs::remove_all(folder);
}
