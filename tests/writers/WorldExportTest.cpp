#include "ExportFixtures.h"
#include "writers/FileSink.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace
{

using Json = nlohmann::json;

std::uint32_t U32At(const std::string& bytes, size_t nOffset)
{
    std::uint32_t n = 0;
    for (int i = 3; i >= 0; --i)
        n = (n << 8) | static_cast<unsigned char>(bytes[nOffset + static_cast<size_t>(i)]);
    return n;
}

float F32At(const std::string& bytes, size_t nOffset)
{
    const std::uint32_t n = U32At(bytes, nOffset);
    float f;
    std::memcpy(&f, &n, 4);
    return f;
}

// The JSON chunk of a .glb file. The container's layout is checked by the glTF validator and by
// assimp reading the files back; here only that the length field covers the file.
Json GlbJson(const std::string& bytes)
{
    EXPECT_EQ(U32At(bytes, 8), bytes.size());
    return Json::parse(bytes.substr(20, U32At(bytes, 12)));
}

CExportReport Export(const vemoBaseGroup& world, const std::string& name,
                     const CExportOptions& options = CExportOptions())
{
    const std::string path = OutputPath(name);
    return ExportWorld(world, path, ExportFormatFromPath(path), options);
}

// The names of a process's temporary files in a folder (this process's by default), one a line. Tests
// that run at the same time write into the same folder, each in its own process.
std::string Temporaries(const std::string& folder, int nProcess = ProcessId())
{
    const std::string prefix = ".slp-" + std::to_string(nProcess) + "-";
    std::string names;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            names += entry.path().filename().string() + "\n";
    return names;
}

} // namespace

TEST(WorldExportTest, FormatNamesAndCompanionFiles)
{
    EXPECT_EQ(ExportFormatFromPath("a/b.GLB"), ExportFormatGlb);
    EXPECT_EQ(ExportFormatFromPath("model.tar.ply"), ExportFormatPly);
    EXPECT_EQ(ExportFormatFromPath("model.stl.txt"), ExportFormatUnknown);
    EXPECT_EQ(ExportFormatFromPath("dir.obj/model"), ExportFormatUnknown);
    EXPECT_EQ(ExportFormatFromPath("obj"), ExportFormatUnknown);
    EXPECT_EQ(ExportFormatFromName("Gltf"), ExportFormatGltf);
    EXPECT_EQ(ExportCompanionPath("out/model.obj", ExportFormatObj), "out/model.mtl");
    EXPECT_EQ(ExportCompanionPath("dir.v2/model", ExportFormatGltf), "dir.v2/model.bin");
    EXPECT_EQ(ExportCompanionPath("model.mtl", ExportFormatObj), "model.mtl.mtl");
    EXPECT_EQ(ExportCompanionPath("model.glb", ExportFormatGlb), "");
#if defined(_WIN32)
    EXPECT_EQ(ExportCompanionPath("dir.v2\\model", ExportFormatGltf), "dir.v2\\model.bin");
    EXPECT_EQ(ExportFormatFromPath("c:model.stl"), ExportFormatStl);
#endif
    // A .gltf names its .bin by the file name alone, whatever separators the path has (the temporary
    // folder's are backslashes on Windows).
    auto pWorld = LoadFixture("one_facet.slp");
    ASSERT_EQ(Export(*pWorld, "uri.gltf").m_eResult, ExportSuccess);
    EXPECT_EQ(Json::parse(ReadBytes(OutputPath("uri.gltf")))["buffers"][0]["uri"], "slp_writers_uri.bin");

    CKarnWorld empty;
    const CExportReport report = ExportWorld(empty, OutputPath("never.xyz"), ExportFormatUnknown);
    EXPECT_EQ(report.m_eResult, ExportUnknownFormat);
    EXPECT_FALSE(FileExists(OutputPath("never.xyz")));
}

TEST(WorldExportTest, StlHoldsEveryTriangleWithAFacetNormal)
{
    auto pWorld = LoadFixture("nested_solids.slp");
    const CExportReport report = Export(*pWorld, "nested.stl");
    ASSERT_EQ(report.m_eResult, ExportSuccess) << report.m_strMessage;
    const std::string bytes = ReadBytes(OutputPath("nested.stl"));
    ASSERT_EQ(bytes.size(), 84u + 50u * 6u);
    EXPECT_NE(bytes.substr(0, 5), "solid"); // a binary header must not look like a text file
    EXPECT_EQ(U32At(bytes, 80), 6u);
    // The vertices are read back by assimp; the facet normal of the lid's triangle (the third, breadth
    // first) is computed from them: +Z.
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(F32At(bytes, 84 + 2 * 50 + 4 * i), i == 2 ? 1.0f : 0.0f) << i;
}

TEST(WorldExportTest, PlyMergesSharedVerticesAndClampsColours)
{
    CKarnWorld world;
    CKarnGroup* pGroup = AddGroup(world, u"plate");
    AddMesh(*pGroup, Grid(40), vemoChroma(2.0f, -1.0f, 0.5f, 1.0f));
    // The same corner with another normal is another vertex.
    AddMesh(
        *pGroup,
        {Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1})},
        vemoChroma(0.2f, 0.4f, 0.6f, 1.0f));
    const CExportReport report = Export(world, "grid.ply");
    ASSERT_EQ(report.m_eResult, ExportSuccess) << report.m_strMessage;
    EXPECT_EQ(report.m_nVertices, 41 * 41 + 6);
    EXPECT_EQ(report.m_nClampedColours, 1);

    const std::string bytes = ReadBytes(OutputPath("grid.ply"));
    const size_t nBody = bytes.find("end_header\n") + 11;
    EXPECT_NE(bytes.find("element vertex 1687\n"), std::string::npos);
    EXPECT_NE(bytes.find("element face 3202\n"), std::string::npos);
    ASSERT_EQ(bytes.size(), nBody + 1687 * 27 + 3202 * 13);
    // First vertex: grid corner (0, 0, 0), normal +Z, colour clamped to (255, 0, 128).
    EXPECT_EQ(F32At(bytes, nBody + 20), 1.0f);
    EXPECT_EQ(bytes.substr(nBody + 24, 3), std::string("\xFF\x00\x80", 3));
    // The last face: the second mesh's faces index its own vertices, after the grid's.
    const size_t nLastFace = nBody + 1687 * 27 + 3201 * 13;
    EXPECT_EQ(bytes[nLastFace], 3);
    EXPECT_EQ(U32At(bytes, nLastFace + 1), 1684u);
}

TEST(WorldExportTest, ObjNamesPathsAndFloatsReadBackInAnyLocale)
{
    auto pWorld = LoadFixture("nested_solids.slp");
    ASSERT_EQ(Export(*pWorld, "nested.obj").m_eResult, ExportSuccess);
    const std::string obj = ReadBytes(OutputPath("nested.obj"));
    EXPECT_EQ(obj.find("mtllib slp_writers_nested.mtl\n"), obj.find('\n') + 1);
    // Group paths and colours are read back by assimp; here the lines' form, and that the faces of the
    // second mesh number its own vertices.
    for (const char* pszLine : {"\no assembly\ng assembly\nusemtl colour_0\n", "\nf 1//1 2//2 3//3\n",
                                "\nf 4//4 5//5 6//6\n", "\no lid\n"})
        EXPECT_NE(obj.find(pszLine), std::string::npos) << pszLine;
    EXPECT_EQ(ReadBytes(OutputPath("nested.mtl")),
              "# written by slp convert\nnewmtl colour_0\nKd 1 1 1\nd 1\nillum 1\n");

    // Shortest round-trip floats, the same under a comma-decimal locale.
    auto pFloats = LoadFixture("float_round_trip.slp");
    // "de_DE" is the name the Windows C runtime knows.
    const bool bCommaLocale =
        std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr || std::setlocale(LC_ALL, "de_DE") != nullptr;
    const CExportReport report = Export(*pFloats, "floats.obj");
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(report.m_eResult, ExportSuccess);
    const std::string floats = ReadBytes(OutputPath("floats.obj"));
    EXPECT_NE(floats.find("\nv 0.1 1e-07 123456.79\nvn 0.1 -0.2 0.3\n"), std::string::npos) << floats;
    EXPECT_NE(floats.find("\nv -3.4028235e+38 16777216 0.33333334\n"), std::string::npos) << floats;
    // The smallest normal float, then a negative zero.
    EXPECT_NE(floats.find("\nv 1.1754944e-38 "), std::string::npos) << floats;
    EXPECT_NE(floats.find(" -0\nvn 0 0 1\n"), std::string::npos);
    if (!bCommaLocale)
        GTEST_SKIP() << "no de_DE locale: only the C locale was checked";
}

TEST(WorldExportTest, GltfTreeNamesMaterialsAndUnitNormals)
{
    // A group name written as UTF-8 also where narrow text is the ANSI code page (Windows), which lacks
    // the Delta.
    CKarnWorld world;
    CKarnGroup* pBody = AddGroup(world, u"caf\u00E9\u0394");
    CKarnGroup* pLeft = AddGroup(*pBody, u"left");
    AddGroup(*pBody, u"right");
    const vemoChroma red(1, 0, 0, 1);
    AddMesh(*pBody, {Triangle({0, 0, 0}, {2, 0, 0}, {0, 3, 0}, {0, 0, 5})}, red);
    AddMesh(*pLeft, {Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0})}, vemoChroma(0, 0.5f, 1.5f, 0.5f));
    const float fNan = std::nanf("");
    AddMesh(*pLeft,
            {Triangle({fNan, 0, 0}, {1, 0, 0}, {0, 1, 0}), Triangle({-1, -2, -3}, {1, 0, 0}, {0, 1, 0})},
            red);

    ASSERT_EQ(Export(world, "tree.obj").m_eResult, ExportSuccess);
    EXPECT_NE(ReadBytes(OutputPath("tree.obj")).find("\no caf\xC3\xA9\xCE\x94\n"), std::string::npos);
    const CExportReport report = Export(world, "tree.glb");
    ASSERT_EQ(report.m_eResult, ExportSuccess) << report.m_strMessage;
    EXPECT_EQ(report.m_nSkippedTriangles, 1);
    EXPECT_EQ(report.m_nReplacedNormals, 3);
    EXPECT_EQ(report.m_nClampedColours, 1);
    const std::string bytes = ReadBytes(OutputPath("tree.glb"));
    const Json doc = GlbJson(bytes);

    // Groups breadth first, then mesh nodes named after their group (the tree's shape is read back by
    // assimp from the fixtures).
    const Json& nodes = doc["nodes"];
    ASSERT_EQ(nodes.size(), 4u + 3u);
    EXPECT_EQ(nodes[1]["name"], "caf\xC3\xA9\xCE\x94");
    EXPECT_EQ(nodes[2]["children"], Json::parse("[5, 6]"));
    EXPECT_EQ(nodes[6]["name"], "left mesh 1");
    EXPECT_EQ(nodes[6]["mesh"], 2);

    // Two distinct colours, two materials; the second clamped and blended, the first opaque.
    ASSERT_EQ(doc["materials"].size(), 2u);
    EXPECT_EQ(doc["meshes"][2]["primitives"][0]["material"], 0);
    EXPECT_EQ(doc["materials"][1]["pbrMetallicRoughness"]["baseColorFactor"],
              Json::parse("[0, 0.5, 1, 0.5]"));
    EXPECT_EQ(doc["materials"][1]["alphaMode"], "BLEND");
    EXPECT_FALSE(doc["materials"][0].contains("alphaMode"));
    EXPECT_EQ(doc["materials"][0]["pbrMetallicRoughness"]["roughnessFactor"], 0.5);

    // The first mesh: normal (0, 0, 5) written as (0, 0, 1); box from the kept vertices only.
    const Json& position = doc["accessors"][0];
    EXPECT_EQ(position["min"], Json::parse("[0, 0, 0]"));
    EXPECT_EQ(position["max"], Json::parse("[2, 3, 0]"));
    const size_t nBin = 28 + U32At(bytes, 12);
    EXPECT_EQ(F32At(bytes, nBin + 20), 1.0f);
    // The zero normal of the second mesh became the face normal, +Z.
    const auto viewAt = [&](int nView)
    { return nBin + doc["bufferViews"][nView]["byteOffset"].get<size_t>(); };
    EXPECT_EQ(F32At(bytes, viewAt(2) + 20), 1.0f);
    // The third mesh keeps one triangle, its first vertex (-1, -2, -3).
    EXPECT_EQ(doc["accessors"][6]["min"], Json::parse("[-1, -2, -3]"));
    EXPECT_EQ(doc["accessors"][8]["count"], 3);
    EXPECT_EQ(F32At(bytes, viewAt(4)), -1.0f);
}

TEST(WorldExportTest, GltfBufferHoldsEveryKeptCornerOfLargeAndSmallMeshes)
{
    // A mesh whose vertices and indices fill several parts of the buffer (with a triangle left out) and
    // whose box is found in parts, then small meshes that share parts; on one thread and on several.
    // Its first corner's -0 is the first of the zeros, so the box's low and high z.
    std::vector<std::vector<vemoTRex>> meshes{Grid(256), Grid(1), Grid(3), Grid(2)};
    meshes[0][7000].m_Vertex[2].x = std::numeric_limits<float>::quiet_NaN();
    meshes[0][0].m_Vertex[0].z = -0.0f;
    CKarnWorld world;
    for (const std::vector<vemoTRex>& mesh : meshes)
        AddMesh(*AddGroup(world, u"part"), mesh, vemoChroma(1, 1, 1, 1));
    for (const int nThreads : {1, 3})
    {
        CExportOptions options;
        options.m_nThreads = nThreads;
        ASSERT_EQ(Export(world, "buffer.glb", options).m_eResult, ExportSuccess);
        const std::string bytes = ReadBytes(OutputPath("buffer.glb"));
        const Json doc = GlbJson(bytes);
        const size_t nBin = 28 + U32At(bytes, 12);
        EXPECT_NE(bytes.find("\"min\":[0,0,-0],\"max\":[256,256,-0]"), std::string::npos);
        for (size_t m = 0; m < meshes.size(); ++m)
        {
            const size_t nVertices = doc["accessors"][3 * m]["count"];
            const size_t nVertexView = nBin + doc["bufferViews"][2 * m]["byteOffset"].get<size_t>();
            size_t nIndex = nBin + doc["bufferViews"][2 * m + 1]["byteOffset"].get<size_t>();
            size_t nWrong = 0;
            for (const vemoTRex& triangle : meshes[m])
                for (int k = 0; k < 3 && std::isfinite(triangle.m_Vertex[2].x); ++k, nIndex += 4)
                {
                    const std::uint32_t nVertex = U32At(bytes, nIndex);
                    ASSERT_LT(nVertex, nVertices) << m;
                    const size_t nAt = nVertexView + 24 * nVertex;
                    nWrong += F32At(bytes, nAt) != triangle.m_Vertex[k].x ||
                              F32At(bytes, nAt + 4) != triangle.m_Vertex[k].y ||
                              F32At(bytes, nAt + 8) != triangle.m_Vertex[k].z ||
                              F32At(bytes, nAt + 20) != 1.0f;
                }
            EXPECT_EQ(nWrong, 0u) << "mesh " << m << " on " << nThreads << " threads";
            EXPECT_EQ(nIndex - nBin, doc["bufferViews"][2 * m + 1]["byteOffset"].get<size_t>() +
                                         doc["bufferViews"][2 * m + 1]["byteLength"].get<size_t>());
        }
    }
}

TEST(WorldExportTest, FailuresLeaveNothingBehind)
{
    auto pWorld = LoadFixture("colour_runs.slp");
    const std::string missingDir = OutputPath("no_such_dir/out.glb");
    CExportReport report = ExportWorld(*pWorld, missingDir, ExportFormatGlb);
    EXPECT_EQ(report.m_eResult, ExportCannotOpen);
    EXPECT_NE(report.m_strMessage.find("no_such_dir/out.glb: No such file or directory"), std::string::npos)
        << report.m_strMessage;

    // A disk that is full: the write fails, and the device itself is left alone (a Linux device; Wine
    // shows the path too, as something else).
#if !defined(_WIN32)
    if (FileExists("/dev/full"))
    {
        report = ExportWorld(*pWorld, "/dev/full", ExportFormatPly);
        EXPECT_EQ(report.m_eResult, ExportWriteFailed);
        EXPECT_NE(report.m_strMessage.find("No space left on device"), std::string::npos)
            << report.m_strMessage;
        EXPECT_TRUE(FileExists("/dev/full"));
    }
#endif

    // The .mtl cannot be created (a directory has its name): the .obj written first, and its temporary
    // file, are removed.
    namespace fs = std::filesystem;
    const std::string objPath = OutputPath("blocked.obj");
    const std::string mtlDir = OutputPath("blocked.mtl");
    std::remove(objPath.c_str());
    std::error_code error;
    fs::remove(mtlDir, error); // a file left by an earlier run would block the directory
    ASSERT_TRUE(fs::create_directories(mtlDir));
    report = ExportWorld(*pWorld, objPath, ExportFormatObj);
    EXPECT_EQ(report.m_eResult, ExportCannotOpen);
    EXPECT_FALSE(FileExists(objPath));
    EXPECT_EQ(Temporaries(testing::TempDir()), "");

#if !defined(_WIN32)
    // A symbolic link keeps pointing where it did; its target takes the output.
    const std::string link = OutputPath("link.stl"), target = OutputPath("link_target.stl");
    std::remove(link.c_str());
    std::ofstream(target) << "old";
    fs::create_symlink(target, link);
    ASSERT_EQ(ExportWorld(*pWorld, link, ExportFormatStl).m_eResult, ExportSuccess);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(target).size(), 84u + 3u * 50u);

    // A pipe made at the target while the output was written stays a pipe, and the output goes.
    const std::string pipe = OutputPath("became_pipe.stl");
    std::remove(pipe.c_str());
    CFileSink sink;
    ASSERT_TRUE(sink.Open(pipe));
    sink << "partial";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(sink.Commit());
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(Temporaries(testing::TempDir()), "");
    std::remove(pipe.c_str());
#endif
}

TEST(WorldExportTest, DeepTreeIsWalkedWithoutRecursion)
{
    // Deep enough that a recursive walk would overflow the stack.
    const int nDepth = 100000;
    CKarnWorld world;
    CKarnGroup* pGroup = &world;
    const std::vector<vemoTRex> one = {Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0})};
    for (int i = 0; i < nDepth; ++i)
    {
        pGroup = AddGroup(*pGroup, u"level");
        if (i % 1000 == 999)
            AddMesh(*pGroup, one, vemoChroma(0.5f, 0.5f, 0.5f, 1));
    }
    // Progress grows, and reaches 100 once, at the end.
    std::vector<int> reports;
    CExportOptions options;
    options.m_pfnProgress = [](void* pReports, int n)
    { static_cast<std::vector<int>*>(pReports)->push_back(n); };
    options.m_pProgressContext = &reports;
    for (const char* pszName : {"deep.glb", "deep.obj", "deep.ply", "deep.stl"})
    {
        reports.clear();
        const CExportReport report = Export(world, pszName, options);
        ASSERT_EQ(report.m_eResult, ExportSuccess) << pszName << ": " << report.m_strMessage;
        EXPECT_EQ(report.m_nGroups, nDepth) << pszName;
        EXPECT_EQ(report.m_nTriangles, nDepth / 1000) << pszName;
        EXPECT_TRUE(std::adjacent_find(reports.begin(), reports.end(), std::greater_equal<int>()) ==
                    reports.end())
            << pszName;
        EXPECT_EQ(reports.empty() ? 0 : reports.back(), 100) << pszName;
    }
    const Json doc = GlbJson(ReadBytes(OutputPath("deep.glb")));
    ASSERT_EQ(doc["nodes"].size(), static_cast<size_t>(nDepth + 1 + nDepth / 1000));
    EXPECT_EQ(doc["nodes"][nDepth - 1]["children"], Json::parse("[" + std::to_string(nDepth) + "]"));
    EXPECT_EQ(doc["nodes"][nDepth]["children"],
              Json::parse("[" + std::to_string(nDepth + 1 + nDepth / 1000 - 1) + "]"));
    // OBJ paths keep their last part only: the deepest one ends the way the tree does.
    const std::string obj = ReadBytes(OutputPath("deep.obj"));
    const size_t nLastO = obj.rfind("\no ...");
    ASSERT_NE(nLastO, std::string::npos);
    const std::string line = obj.substr(nLastO + 1, obj.find('\n', nLastO + 1) - nLastO - 1);
    EXPECT_LE(line.size(), 2u + 1023u); // readers drop names of 1,024 bytes or more
    EXPECT_EQ(line.substr(line.size() - 12), "/level/level");
}

#if !defined(_WIN32)
TEST(WorldExportTest, AnyNameThatCanBeCreatedIsWritten)
{
    // A name of 250 bytes, and its .mtl: the temporary files' names do not grow with it. (Windows
    // limits whole paths to 260 characters.)
    auto pWorld = LoadFixture("colour_runs.slp");
    const std::string name = std::string(246 - std::strlen("slp_writers_"), 'n') + ".obj";
    const std::string mtl = OutputPath(name.substr(0, name.size() - 4) + ".mtl");
    const CExportReport report = Export(*pWorld, name);
    EXPECT_EQ(report.m_eResult, ExportSuccess) << report.m_strMessage;
    EXPECT_NE(ReadBytes(mtl).find("Kd 0.5 1 0.25"), std::string::npos);
    std::remove(OutputPath(name).c_str());
    std::remove(mtl.c_str());
    EXPECT_EQ(Temporaries(testing::TempDir()), "");

    // A process that ends through exit() while it writes leaves no temporary file.
    const pid_t nChild = ::fork();
    if (nChild == 0)
    {
        auto* pSink = new CFileSink; // never destroyed
        std::exit(pSink->Open(OutputPath("exit.stl")) ? 0 : 1);
    }
    int nStatus = -1;
    ::waitpid(nChild, &nStatus, 0);
    EXPECT_EQ(nStatus, 0);
    EXPECT_EQ(Temporaries(testing::TempDir(), nChild), "");
}
#endif

#if !defined(_WIN32)
TEST(WorldExportTest, LinksAreWrittenThroughToTheFileTheyLeadTo)
{
    namespace fs = std::filesystem;
    auto pWorld = LoadFixture("colour_runs.slp");
    const fs::path folder = TestTempPath("slp_links_");
    fs::remove_all(folder);
    fs::create_directories(folder / "real");
    const auto exportTo = [&](const char* pszName)
    {
        const std::string path = (folder / pszName).string();
        return ExportWorld(*pWorld, path, ExportFormatFromPath(path));
    };

    // A chain of links, relative and absolute, that ends at no file: the file is made at its end.
    fs::create_symlink("chain2.stl", folder / "chain1.stl");
    fs::create_symlink(folder / "real/made.stl", folder / "chain2.stl");
    EXPECT_EQ(exportTo("chain1.stl").m_eResult, ExportSuccess);
    EXPECT_TRUE(fs::is_symlink(folder / "chain1.stl") && fs::is_symlink(folder / "chain2.stl"));
    EXPECT_EQ(ReadBytes((folder / "real/made.stl").string()).size(), 84u + 3u * 50u);

    // A .gltf through a link: its .bin beside the file written, where the buffer's URI leads.
    fs::create_symlink("real/model.gltf", folder / "link.gltf");
    CExportReport report = exportTo("link.gltf");
    ASSERT_EQ(report.m_eResult, ExportSuccess) << report.m_strMessage;
    const std::string bin = (folder / "real/model.bin").string();
    EXPECT_EQ(report.m_Files.at(1), bin);
    EXPECT_EQ(ExportCompanionTarget((folder / "link.gltf").string(), ExportFormatGltf), bin);
    EXPECT_EQ(Json::parse(ReadBytes((folder / "real/model.gltf").string()))["buffers"][0]["uri"],
              "model.bin");
    EXPECT_EQ(ReadBytes(bin).size(), 24u * (6u + 3u) + 4u * 9u); // 9 vertices and 9 indices
    EXPECT_FALSE(fs::exists(folder / "link.bin"));

    // Links that lead round in a circle are an error.
    fs::create_symlink("loop_b.ply", folder / "loop_a.ply");
    fs::create_symlink("loop_a.ply", folder / "loop_b.ply");
    report = exportTo("loop_a.ply");
    EXPECT_EQ(report.m_eResult, ExportCannotOpen);
    EXPECT_NE(report.m_strMessage.find("Too many levels of symbolic links"), std::string::npos)
        << report.m_strMessage;
    EXPECT_EQ(Temporaries(folder.string()) + Temporaries((folder / "real").string()), "");
    fs::remove_all(folder);
}
#endif

TEST(WorldExportTest, APairIsReplacedWholeOrNotAtAll)
{
    namespace fs = std::filesystem;
    const fs::path folder = TestTempPath("slp_pair_");
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string gltf = (folder / "pair.gltf").string(), bin = (folder / "pair.bin").string();
    // One of the two files cannot be moved into place (a folder that is not empty took its name while
    // the pair was written): the other name holds what it held, or nothing if it held nothing.
    const struct
    {
        std::string blocked;
        const char* pszOldGltf; // null: no such file before
    } cases[] = {{gltf, "old gltf"}, {bin, "old gltf"}, {bin, nullptr}, {std::string(), "old gltf"}};
    for (const auto& c : cases)
    {
        fs::remove_all(gltf);
        fs::remove_all(bin);
        if (c.pszOldGltf != nullptr)
            std::ofstream(gltf) << c.pszOldGltf;
        std::ofstream(bin) << "old bin";
        CFileSink out, companion;
        CExportReport report;
        ASSERT_TRUE(OpenOutputs(CExportOptions(), report, out, gltf, &companion, ExportFormatGltf));
        out << "new gltf";
        companion << "new bin";
        if (!c.blocked.empty())
        {
            fs::remove(c.blocked);
            fs::create_directories(fs::path(c.blocked) / "full");
        }
        EXPECT_EQ(FinishOutputs(report, out, &companion), c.blocked.empty()) << c.blocked;
        const std::string oldGltf = c.pszOldGltf != nullptr ? c.pszOldGltf : "";
        if (c.blocked != gltf)
        {
            EXPECT_EQ(ReadBytes(gltf), c.blocked.empty() ? "new gltf" : oldGltf);
            EXPECT_EQ(fs::exists(gltf), c.pszOldGltf != nullptr || c.blocked.empty());
        }
        if (c.blocked != bin)
        {
            EXPECT_EQ(ReadBytes(bin), c.blocked.empty() ? "new bin" : "old bin");
        }
        EXPECT_EQ(Temporaries(folder.string()), "");
    }
    fs::remove_all(folder);
}
