// The convert subcommand of the slp program: format choice, reports and exit codes.
#include "ExportFixtures.h"
#include "tests/support/ProgramRun.h"

namespace
{

// A path quoted for the shell, sh or cmd.exe: double quotes, the only kind cmd.exe takes.
std::string Quote(const std::string& path)
{
    return "\"" + path + "\"";
}

// Runs "slp convert" with the given arguments (already quoted for the shell), from the fixture folder.
ToolRun RunConvert(const std::string& arguments)
{
    return RunProgram(SLP_TOOL_FILE, "convert " + arguments, SLP_TEST_DATA_DIR);
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
