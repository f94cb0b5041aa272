// The convert subcommand of the slp program: formats, batches, standard output, and that no file is
// ever lost, through the real program (also stopped by a real signal).
#include "ExportFixtures.h"
#include "tests/support/ProgramRun.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <thread>

#if !defined(_WIN32)
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace
{

// A path quoted for the shell, sh or cmd.exe: double quotes, the only kind cmd.exe takes.
std::string Quote(const std::string& path)
{
    return "\"" + path + "\"";
}

#if !defined(_WIN32)
// Runs a shell script (without single quotes) from a folder; $SLP names the program.
ToolRun RunScript(const std::string& script, const std::string& folder)
{
    return RunProgram("/bin/sh", "-c 'SLP=\"" SLP_TOOL_FILE "\"; " + script + "'", folder);
}
#endif

// Runs "slp convert" with the given arguments (already quoted for the shell), from the fixture folder.
ToolRun RunConvert(const std::string& arguments)
{
    return RunProgram(SLP_TOOL_FILE, "convert " + arguments, SLP_TEST_DATA_DIR);
}

// A folder of the test's own, emptied first and removed at the end.
struct TempFolder
{
    const fs::path path = TestTempPath("slp_convert_");
    TempFolder()
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // The names in the folder, sorted, one a line.
    std::string Listing() const { return ListingOf(path); }
    static std::string ListingOf(const fs::path& folder)
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string text;
        for (const std::string& name : names)
            text += name + "\n";
        return text;
    }
};

} // namespace

TEST(ConvertToolTest, FormatFromExtensionOrOption)
{
    const std::string out = OutputPath("tool.obj");
    ToolRun run = RunConvert("nested_solids.slp " + Quote(out));
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, out + ": obj, 4 groups, 5 meshes, 6 triangles, 18 vertices (with " +
                           OutputPath("tool.mtl") + ")\n");

    // -f wins over the extension; plural forms agree; vertices the load dropped are reported.
    const std::string data = OutputPath("tool.data");
    run = RunConvert("-f STL geometry_before_solid.slp " + Quote(data));
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out, data + ": stl, 1 group, 1 mesh, 1 triangle, 3 vertices\n");
    EXPECT_NE(run.err.find("geometry_before_solid.slp: warning: 3 vertices were dropped"), std::string::npos);
    EXPECT_EQ(ReadBytes(data).size(), 84u + 50u);

    // Clamped colours are reported once for the file, with the count of meshes.
    run = RunConvert("colour_across_solids.slp -o " + Quote(OutputPath("tool.ply")));
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.err,
              "slp: " + OutputPath("tool.ply") + ": 2 mesh colours outside 0..1 clamped into 0..1\n");
}

TEST(ConvertToolTest, FailuresGiveOneLineAndNoFile)
{
    ToolRun run = RunConvert("one_facet.slp " + Quote(OutputPath("tool.dae")));
    EXPECT_EQ(run.nExit, 2);
    EXPECT_EQ(run.err.rfind("slp convert: " + OutputPath("tool.dae") + ": unknown output format", 0), 0u)
        << run.err;
    EXPECT_FALSE(FileExists(OutputPath("tool.dae")));
    EXPECT_EQ(RunConvert("--format dae one_facet.slp x.glb").nExit, 2);
    EXPECT_EQ(RunConvert("one_facet.slp").nExit, 2);
    EXPECT_EQ(RunConvert("-f obj one_facet.slp -").nExit, 2); // a second file cannot go to a stream

    run = RunConvert("missing.slp " + Quote(OutputPath("tool_missing.glb")));
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: missing.slp: file missing\n");
    EXPECT_FALSE(FileExists(OutputPath("tool_missing.glb")));

    const std::string unwritable = OutputPath("no_such_dir/tool.gltf");
    run = RunConvert("one_facet.slp " + Quote(unwritable));
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: cannot create " + unwritable + ": No such file or directory\n");
    EXPECT_EQ(run.out, "");
}

TEST(ConvertToolTest, BatchesStandardStreamsAndTheInputItself)
{
    TempFolder folder;
    const std::string input = folder / "part.slp";
    fs::copy_file(SLP_TEST_DATA_DIR "/nested_solids.slp", input);
    const std::string original = ReadBytes(input);
    // An output that is the input, by its name, another path or a hard link, or whose companion file is
    // the input through a symbolic link, is refused before anything is written.
    std::vector<std::string> sameFiles = {"-f stl " + Quote(input), "-f stl " + Quote(folder / "./part.slp")};
#if !defined(_WIN32)
    fs::create_hard_link(input, folder / "hard.stl");
    fs::create_symlink(input, folder / "link.mtl");
    sameFiles.push_back("-f stl " + Quote(folder / "hard.stl"));
    sameFiles.push_back(Quote(folder / "link.obj"));
#endif
    for (const std::string& same : sameFiles)
    {
        const ToolRun run = RunConvert(Quote(input) + " " + same);
        EXPECT_EQ(run.nExit, 1) << same;
        EXPECT_NE(run.err.find("is the input file"), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(input), original);
    }

    // Several inputs into a folder (made when missing): one line each, and a failure among them, such as
    // a second input for the same output.
    const std::string out = folder / "out";
    ToolRun run =
        RunConvert("-f glb -o " + Quote(out) + " one_facet.slp missing.slp colour_runs.slp ./one_facet.slp");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.out, out + "/one_facet.glb: glb, 1 group, 1 mesh, 1 triangle, 3 vertices\n" + out +
                           "/colour_runs.glb: glb, 1 group, 2 meshes, 3 triangles, 9 vertices\n");
    EXPECT_EQ(run.err.rfind("slp: missing.slp: file missing\nslp: ./one_facet.slp: ", 0), 0u) << run.err;
    EXPECT_EQ(RunConvert("-o " + Quote(out) + " one_facet.slp colour_runs.slp").nExit, 2); // no format

    // Standard input and output: the same bytes as a file, the summary on standard error.
    ASSERT_EQ(RunConvert("nested_solids.slp " + Quote(folder / "file.stl")).nExit, 0);
    run = RunProgram(SLP_TOOL_FILE, "convert -f stl - -", SLP_TEST_DATA_DIR, input);
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out, ReadBytes(folder / "file.stl"));
    EXPECT_EQ(run.err.rfind("<stdout>: stl, 4 groups", 0), 0u) << run.err;
}

TEST(ConvertToolTest, BatchesExitWith1WhenAnyFileFailsAndDoTheRest)
{
    TempFolder folder;
    const std::string out = folder / "out";
    // Each input's output in the folder (a triangle is 50 bytes of binary STL after 84), or none.
    const struct
    {
        const char* pszInputs;
        int nExit;
        const char* pszWritten; // the folder's listing afterwards
    } cases[] = {{"one_facet.slp colour_runs.slp nested_solids.slp", 0,
                  "colour_runs.stl\nnested_solids.stl\none_facet.stl\n"},
                 {"one_facet.slp missing.slp nested_solids.slp", 1, "nested_solids.stl\none_facet.stl\n"},
                 {"empty.slp one_facet.slp", 1, "one_facet.stl\n"},
                 {"colour_runs.slp missing.slp", 1, "colour_runs.stl\n"}};
    for (const auto& c : cases)
    {
        fs::remove_all(out);
        const ToolRun run = RunConvert("-q -f stl -o " + Quote(out) + " " + c.pszInputs);
        EXPECT_EQ(run.nExit, c.nExit) << c.pszInputs << ": " << run.err;
        EXPECT_EQ(fs::exists(out) ? TempFolder::ListingOf(out) : std::string(), c.pszWritten) << c.pszInputs;
    }
    EXPECT_EQ(ReadBytes(out + "/colour_runs.stl").size(), 84u + 3u * 50u);

    // info and check: every file is done, and one that fails makes the status 1.
    for (const char* pszCommand : {"info", "info --json", "check", "check --json"})
    {
        for (const char* pszFiles :
             {"one_facet.slp nested_solids.slp", "missing.slp one_facet.slp", "one_facet.slp missing.slp"})
        {
            const ToolRun run =
                RunProgram(SLP_TOOL_FILE, std::string(pszCommand) + " -q " + pszFiles, SLP_TEST_DATA_DIR);
            EXPECT_EQ(run.nExit, std::string(pszFiles).find("missing") == std::string::npos ? 0 : 1)
                << pszCommand << " " << pszFiles;
            EXPECT_NE(run.out.find("one_facet.slp"), std::string::npos) << pszCommand << " " << pszFiles;
        }
    }
}

TEST(ConvertToolTest, ThreadsAndJobsChangeNoByteOfWhatIsWrittenOrPrinted)
{
    // A group with a grid large enough for several threads to merge its shared vertices in shards and
    // format its text in parts (with a triangle that glTF leaves out), and groups of small ones.
    TempFolder folder;
    CKarnWorld world;
    for (int i = 0; i < 5; ++i)
    {
        std::vector<vemoTRex> grid = Grid(i == 1 ? 129 : 3);
        if (i == 1)
            grid[4000].m_Vertex[1].z = std::numeric_limits<float>::infinity();
        AddMesh(*AddGroup(world, u"part"), grid, vemoChroma(0.1f * static_cast<float>(i), 0.5f, 1.0f, 1.0f));
    }
    const std::string model = folder / "grids.slp";
    ASSERT_EQ(ExportWorld(world, model, ExportFormatSlp).m_eResult, ExportSuccess);
    for (const char* pszFormat : {"glb", "obj", "ply", "slp"})
    {
        std::string first;
        for (const char* pszThreads : {"1", "2", "3"})
        {
            const std::string out = folder / (std::string("threads.") + pszFormat);
            const ToolRun run =
                RunConvert("--threads " + std::string(pszThreads) + " " + Quote(model) + " " + Quote(out));
            ASSERT_EQ(run.nExit, 0) << run.err;
            if (first.empty())
                first = ReadBytes(out);
            else
                EXPECT_TRUE(ReadBytes(out) == first) << pszFormat << " on " << pszThreads << " threads";
        }
    }

    // A batch on two jobs prints, writes and exits as on one: the large model first finishes last, and a
    // missing file, a second input for one output and a load that drops vertices stand between.
    const std::string inputs =
        Quote(model) + " one_facet.slp missing.slp colour_runs.slp ./one_facet.slp geometry_before_solid.slp "
                       "colour_across_solids.slp nested_solids.slp";
    std::string printed[2], written[2];
    for (int nJobs = 1; nJobs <= 2; ++nJobs)
    {
        const std::string out = folder / "batch";
        fs::remove_all(out);
        const ToolRun run =
            RunConvert("-f obj -j " + std::to_string(nJobs) + " -o " + Quote(out) + " " + inputs);
        printed[nJobs - 1] = std::to_string(run.nExit) + "\n" + run.out + run.err;
        written[nJobs - 1] = TempFolder::ListingOf(out);
        for (const std::string name : {"grids.obj", "nested_solids.obj", "nested_solids.mtl"})
            written[nJobs - 1] += ReadBytes(out + "/" + name);
    }
    EXPECT_EQ(printed[0], printed[1]);
    EXPECT_EQ(printed[0].substr(0, 2), "1\n");
    EXPECT_TRUE(written[0] == written[1]);
    EXPECT_EQ(RunConvert("-f stl -j 2 -o " + Quote(folder / "two") + " one_facet.slp missing.slp").nExit, 1);
}

#if !defined(_WIN32)
TEST(ConvertToolTest, NeverLosesTheFileItReplaces)
{
    // A large model, so that a conversion lasts long enough to be caught while it writes, into a folder
    // whose path is longer than 1,024 bytes.
    TempFolder folder;
    fs::path deep = folder.path;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(200, 'd');
    fs::create_directories(deep);
    const std::string input = (deep / "big.slp").string();
    {
        std::ofstream text(input, std::ios::binary);
        for (int i = 0; i < 200000; ++i)
            text << "solid s\nnormal 0 0 1 vertex " << i << " 0 0\nnormal 0 0 1 vertex 1 " << i
                 << " 0\nnormal 0 0 1 vertex 0 1 " << i << "\n";
    }
    const std::string target = (deep / "big.obj").string(), companion = (deep / "big.mtl").string();
    const std::string before = "the previous good file\n";
    const auto listing = [&deep]()
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(deep))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string text;
        for (const std::string& name : names)
            text += name + " ";
        return text;
    };

    // A file size limit stops the writing half-way: the old file stays, no temporary file is left.
    std::ofstream(target, std::ios::binary) << before;
    std::ofstream(companion, std::ios::binary) << before;
    ToolRun run = RunProgram(
        "/bin/sh", "-c 'ulimit -f 200; exec \"" SLP_TOOL_FILE "\" convert big.slp big.obj'", deep.string());
    EXPECT_EQ(run.nExit, 1);
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_EQ(ReadBytes(companion), before);
    EXPECT_EQ(listing(), "big.mtl big.obj big.slp ");

    // A signal while the temporary files are being written: the same.
    for (const int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    {
        std::string program = SLP_TOOL_FILE, command = "convert", in = input, out = target;
        char* const argv[] = {&program[0], &command[0], &in[0], &out[0], nullptr};
        pid_t nChild = 0;
        ASSERT_EQ(::posix_spawn(&nChild, program.c_str(), nullptr, nullptr, argv, environ), 0);
        bool bCaught = false;
        for (int nPoll = 0; !bCaught && nPoll < 200000; ++nPoll)
        {
            bCaught = listing().find(".slp-") != std::string::npos;
            if (!bCaught)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ::kill(nChild, nSignal);
        int nStatus = 0;
        ::waitpid(nChild, &nStatus, 0);
        ASSERT_TRUE(bCaught) << "the conversion never showed its temporary file";
        EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == nSignal) << nStatus;
        EXPECT_EQ(ReadBytes(target), before);
        EXPECT_EQ(listing(), "big.mtl big.obj big.slp ") << nSignal;
    }
}
#endif

#if !defined(_WIN32)
TEST(ConvertToolTest, WrittenFilesKeepTheirPermissionsOrFollowTheUmask)
{
    TempFolder folder;
    const auto mode = [](const std::string& path)
    {
        struct stat status = {};
        ::stat(path.c_str(), &status);
        return status.st_mode & 07777;
    };
    const auto convert = [&folder](const std::string& umask, const std::string& arguments)
    {
        return RunProgram("/bin/sh",
                          "-c 'umask " + umask + "; exec \"" SLP_TOOL_FILE "\" convert -q " + arguments + "'",
                          folder.path.string());
    };
    fs::copy_file(SLP_TEST_DATA_DIR "/nested_solids.slp", folder / "in.slp");

    // Replaced files keep their modes (and owner and group, where the process may set them), each file
    // of a pair its own, whatever the umask.
    for (const char* pszName : {"private.stl", "shared.gltf", "shared.bin", "grouped.obj", "grouped.mtl"})
        std::ofstream(folder / pszName) << "old";
    ::chmod((folder / "private.stl").c_str(), 0600);
    ::chmod((folder / "shared.gltf").c_str(), 0644);
    ::chmod((folder / "shared.bin").c_str(), 0604);
    ::chmod((folder / "grouped.obj").c_str(), 0660);
    ::chmod((folder / "grouped.mtl").c_str(), 0640);
    const bool bRoot = ::geteuid() == 0;
    if (bRoot)
    {
        EXPECT_EQ(::chown((folder / "grouped.obj").c_str(), 4321, 4322), 0);
    }
    for (const char* pszName : {"private.stl", "shared.gltf", "grouped.obj"})
        EXPECT_EQ(convert("000", std::string("in.slp ") + pszName).nExit, 0) << pszName;
    EXPECT_EQ(mode(folder / "private.stl"), 0600u);
    EXPECT_EQ(mode(folder / "shared.gltf"), 0644u);
    EXPECT_EQ(mode(folder / "shared.bin"), 0604u);
    EXPECT_EQ(mode(folder / "grouped.obj"), 0660u);
    EXPECT_EQ(mode(folder / "grouped.mtl"), 0640u);
    EXPECT_NE(ReadBytes(folder / "grouped.mtl"), "old");
    struct stat owner = {};
    ::stat((folder / "grouped.obj").c_str(), &owner);
    if (bRoot)
    {
        EXPECT_TRUE(owner.st_uid == 4321 && owner.st_gid == 4322) << owner.st_uid << ":" << owner.st_gid;
    }

    // New files, one by one or into a folder, get what the umask leaves of 0666.
    EXPECT_EQ(convert("077", "in.slp new.gltf").nExit, 0);
    EXPECT_EQ(mode(folder / "new.gltf"), 0600u);
    EXPECT_EQ(mode(folder / "new.bin"), 0600u);
    fs::create_directory(folder / "out");
    EXPECT_EQ(convert("002", "-f obj -o out in.slp").nExit, 0);
    EXPECT_EQ(mode(folder / "out/in.obj"), 0664u);
    EXPECT_EQ(mode(folder / "out/in.mtl"), 0664u);
}
#endif

#if !defined(_WIN32)
TEST(ConvertToolTest, StandardStreamsAndDescriptorNamesAreComparedWithTheInputAndWrittenInPlace)
{
    TempFolder folder;
    fs::copy_file(SLP_TEST_DATA_DIR "/nested_solids.slp", folder / "part.slp");
    const std::string original = ReadBytes(folder / "part.slp");
    fs::create_symlink("/dev/stdout", folder / "to_stdout.stl");
    fs::create_symlink("part.slp", folder / "twin.mtl");
    ASSERT_EQ(RunScript("$SLP convert -q part.slp reference.stl", folder.path.string()).nExit, 0);
    const std::string stl = ReadBytes(folder / "reference.stl");

    // "-", and the names that lead to the standard output, are the files that the shell opened: the
    // input, here, which is left as it is.
    for (const char* pszScript :
         {"$SLP convert -f stl - part.slp < part.slp", "$SLP convert -f stl part.slp - >> part.slp",
          "$SLP convert -f stl - - < part.slp >> part.slp",
          "$SLP convert -f stl part.slp /dev/stdout >> part.slp",
          "$SLP convert -f stl - /dev/fd/1 < part.slp 1<> part.slp",
          "$SLP convert part.slp to_stdout.stl >> part.slp", "$SLP convert -f obj - twin.obj < part.slp"})
    {
        const ToolRun run = RunScript(pszScript, folder.path.string());
        EXPECT_EQ(run.nExit, 1) << pszScript;
        EXPECT_NE(run.err.find("is the input file"), std::string::npos) << pszScript << ": " << run.err;
        EXPECT_EQ(ReadBytes(folder / "part.slp"), original) << pszScript;
    }

    // Written where the descriptor stands, after what the file held, with the summary apart.
    std::vector<std::string> names = {"/dev/stdout", "/dev/fd/1", "to_stdout.stl"};
#if defined(__linux__)
    names.push_back("/proc/self/fd/1");
#endif
    for (const std::string& name : names)
    {
        std::ofstream(folder / "log") << "previous\n";
        const ToolRun run =
            RunScript("$SLP convert -f stl part.slp " + name + " >> log", folder.path.string());
        EXPECT_EQ(run.nExit, 0) << name << ": " << run.err;
        EXPECT_EQ(run.err, name + ": stl, 4 groups, 5 meshes, 6 triangles, 18 vertices\n");
        EXPECT_EQ(ReadBytes(folder / "log"), "previous\n" + stl) << name;
        EXPECT_TRUE(fs::is_symlink(folder / "to_stdout.stl"));
    }
    // A format with a second file cannot go there.
    const ToolRun run = RunScript("$SLP convert -f obj part.slp /dev/stdout > log", folder.path.string());
    EXPECT_EQ(run.nExit, 1);
    EXPECT_NE(run.err.find("the format needs a second file"), std::string::npos) << run.err;
}
#endif

#if defined(SLP_FAILING_ALLOCATION)
TEST(ConvertToolTest, OutOfMemoryIsOneLineAndLeavesNoTemporaryFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#endif
#endif
    TempFolder folder;
    const ToolRun run = RunScript("LD_PRELOAD=\"" SLP_FAILING_ALLOCATION "\" exec $SLP convert \"" +
                                      DataPath("nested_solids.slp") + "\" out.obj",
                                  folder.path.string());
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: out of memory\n");
    EXPECT_EQ(folder.Listing(), "");
}
#endif
