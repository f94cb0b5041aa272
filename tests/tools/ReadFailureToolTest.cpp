// The slp program on input that cannot be read to its end: a read that fails part way (made to fail by
// a shim loaded into the program) and endless binary input.
#include "tests/support/ProgramRun.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#if defined(__linux__)
namespace
{

// Runs the program with its reads of the named file failing from the offset on.
ToolRun RunWithFailingReads(const std::string& arguments, const std::string& name, long long nFailAt)
{
    const std::string environment = "LD_PRELOAD=\"" SLP_FAILING_READ_SHIM "\" SLP_TEST_FAIL_READS_OF=\"" +
                                    name + "\" SLP_TEST_FAIL_READS_AT=" + std::to_string(nFailAt) + " \"";
    return RunProgram(SLP_TOOL_FILE, arguments, testing::TempDir(), std::string(), environment);
}

} // namespace

TEST(ReadFailureToolTest, AReadErrorPartWayFailsEveryCommandAndWritesNothing)
{
    // A file of 1 MiB and more: the first blocks read, the read at 700,000 fails.
    std::string strContents = "solid big\n";
    while (strContents.size() < (1u << 20))
        strContents += "normal 0 0 1 vertex 1 2 3\nnormal 0 0 1 vertex 4 5 6\nnormal 0 0 1 vertex 7 8 9\n";
    strContents += "endsolid\n";
    const std::string name = "slp_read_fail_" + std::to_string(ProcessId()) + ".slp";
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << strContents;
    const std::string output = testing::TempDir() + "slp_read_fail_" + std::to_string(ProcessId()) + ".stl";
    std::remove(output.c_str());
    const std::string unreadable =
        "slp: " + name + ": unreadable: " + std::generic_category().message(EIO) + "\n";

    ToolRun run = RunWithFailingReads("info " + name, name, 700000);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, unreadable);
    run = RunWithFailingReads("info --json " + name, name, 700000);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_NE(run.out.find("\"result_name\": \"SLPLoadResult2\""), std::string::npos) << run.out;
    run = RunWithFailingReads("check " + name, name, 700000);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, unreadable);
    run = RunWithFailingReads("tokens " + name, name, 700000);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, unreadable);
    run = RunWithFailingReads("convert " + name + " " + output, name, 700000);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, unreadable);
    EXPECT_FALSE(std::filesystem::exists(output));
    // The same file read whole converts.
    run = RunWithFailingReads("convert " + name + " " + output, name, 1LL << 40);
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(output));
    std::remove(output.c_str());
    std::remove(path.c_str());
}

TEST(ReadFailureToolTest, EndlessBinaryInputIsRefusedAtOnce)
{
    // /dev/zero never ends: what its first block shows is enough.
    const std::string binary = "slp: /dev/zero: binary data, not SLP text\n";
    ToolRun run =
        RunProgram(SLP_TOOL_FILE, "info /dev/zero", testing::TempDir(), std::string(), "timeout 60 \"");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, binary);
    run = RunProgram(SLP_TOOL_FILE, "tokens /dev/zero", testing::TempDir(), std::string(), "timeout 60 \"");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, binary);
    run = RunProgram(SLP_TOOL_FILE, "check /dev/zero", testing::TempDir(), std::string(), "timeout 60 \"");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.out, "/dev/zero:1:1: error: binary data, not SLP text, so a load of it fails [no-solid]\n"
                       "/dev/zero: 1 error, 0 warnings; 0 groups, 0 meshes, 0 triangles\n");
    run = RunProgram(SLP_TOOL_FILE, "convert -f stl - -", testing::TempDir(), "/dev/zero", "timeout 60 \"");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: <stdin>: binary data, not SLP text\n");
}
#endif
