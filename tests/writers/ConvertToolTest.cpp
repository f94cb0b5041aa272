// The convert subcommand of the slp program: format choice, reports and exit codes.
#include "ExportFixtures.h"

#include <cstdlib>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace
{

struct ToolRun
{
    int nExit = -1;
    std::string out;
    std::string err;
};

// A path quoted for the shell, sh or cmd.exe: double quotes, the only kind cmd.exe takes.
std::string Quote(const std::string& path)
{
    return "\"" + path + "\"";
}

// The program's text output; on Windows its line ends are CR LF, read here as LF.
std::string ReadText(const std::string& path)
{
    std::string text = ReadBytes(path);
#if defined(_WIN32)
    std::string::size_type nPos = 0;
    while ((nPos = text.find("\r\n", nPos)) != std::string::npos)
        text.erase(nPos, 1);
#endif
    return text;
}

// Runs "slp convert" with the given arguments (already quoted for the shell), from the fixture folder.
ToolRun RunConvert(const std::string& arguments)
{
    // Named after the test, since CTest runs the tests of this program in parallel.
    const std::string stem =
        OutputPath(std::string("convert_") + testing::UnitTest::GetInstance()->current_test_info()->name());
    const std::string outPath = stem + "_out.txt";
    const std::string errPath = stem + "_err.txt";
#if defined(_WIN32)
    const char* const pszNullDevice = "NUL";
#else
    const char* const pszNullDevice = "/dev/null";
#endif
    const std::string command = "cd \"" SLP_TEST_DATA_DIR "\" && \"" SLP_TOOL_FILE "\" convert " + arguments +
                                " >\"" + outPath + "\" 2>\"" + errPath + "\" <" + pszNullDevice;
    const int nStatus = std::system(command.c_str());
#if defined(_WIN32)
    const int nExit = nStatus;
#else
    const int nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
#endif
    return ToolRun{nExit, ReadText(outPath), ReadText(errPath)};
}

} // namespace

TEST(ConvertToolTest, FormatFromExtensionOrOption)
{
    const std::string out = OutputPath("tool.obj");
    ToolRun run = RunConvert("nested_solids.slp " + Quote(out));
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, out + ": obj, 4 groups, 5 meshes, 6 triangles, 18 vertices (with " +
                           OutputPath("tool.mtl") + ")\n");

    // --format wins over the extension.
    const std::string data = OutputPath("tool.data");
    run = RunConvert("--format STL one_facet.slp " + Quote(data));
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(ReadBytes(data).size(), 84u + 50u);

    // Clamped colours are reported once for the file, with the count of meshes.
    run = RunConvert("colour_across_solids.slp " + Quote(OutputPath("tool.ply")));
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.err,
              "slp: " + OutputPath("tool.ply") + ": 2 mesh colours outside 0..1 clamped into 0..1\n");
}

TEST(ConvertToolTest, FailuresGiveOneLineAndNoFile)
{
    ToolRun run = RunConvert("one_facet.slp " + Quote(OutputPath("tool.dae")));
    EXPECT_EQ(run.nExit, 2);
    EXPECT_EQ(
        run.err,
        "slp: " + OutputPath("tool.dae") +
            ": unknown output format; name it with .glb, .gltf, .obj, .ply or .stl, or give --format\n");
    EXPECT_FALSE(FileExists(OutputPath("tool.dae")));
    EXPECT_EQ(RunConvert("--format dae one_facet.slp x.glb").nExit, 2);

    run = RunConvert("missing.slp " + Quote(OutputPath("tool_missing.glb")));
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: missing.slp: file missing\n");
    EXPECT_FALSE(FileExists(OutputPath("tool_missing.glb")));

    const std::string unwritable = OutputPath("no_such_dir/tool.gltf");
    run = RunConvert("one_facet.slp " + Quote(unwritable));
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: cannot create " + unwritable + ": No such file or directory\n");
    EXPECT_EQ(run.out, "");

    EXPECT_EQ(RunConvert("one_facet.slp").nExit, 2);
}
