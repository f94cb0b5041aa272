// The slp program's info, tokens and check subcommands and its usage errors, through the real program.
#include "tests/support/ProgramRun.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace
{

ToolRun RunSlp(const std::string& arguments, const std::string& input = std::string())
{
    return RunProgram(SLP_TOOL_FILE, arguments, SLP_TEST_DATA_DIR, input);
}

using Json = nlohmann::ordered_json; // compares objects key by key in order

#if !defined(_WIN32)
// Runs a shell script (without single quotes) from the fixture folder; $SLP names the program.
ToolRun RunSlpScript(const std::string& script)
{
    return RunProgram("/bin/sh", "-c 'SLP=\"" SLP_TOOL_FILE "\"; " + script + "'", SLP_TEST_DATA_DIR);
}
#endif

} // namespace

TEST(SlpToolTest, UsageErrorsNameTheSubcommandAndExitWith2)
{
    const struct
    {
        const char* pszArguments;
        int nExit;
        const char* pszError; // the start of standard error
    } cases[] = {{"", 2, "slp: "},
                 {"frobnicate", 2, "slp: unknown subcommand \"frobnicate\""},
                 {"--bogus", 2, "slp: unknown option \"--bogus\""},
                 {"info --bogus one_facet.slp", 2, "slp info: unknown option \"--bogus\""},
                 {"info --depth -1 one_facet.slp", 2, "slp info: --depth "},
                 {"info --depth", 2, "slp info: --depth "},
                 {"info --geometry one_facet.slp", 2, "slp info: --geometry "},
                 {"info", 2, "slp info: "},
                 {"info -- --bogus", 1, "slp: --bogus: file missing"}, // "--" ends the options
                 {"tokens a b", 2, "slp tokens: "},
                 {"tokens --limit x one_facet.slp", 2, "slp tokens: --limit "},
                 {"check -q=1 one_facet.slp", 2, "slp check: unknown option \"-q=1\""},
                 {"info --threads -1 one_facet.slp", 2, "slp info: --threads takes a whole number"},
                 {"convert --threads 1025 one_facet.slp x/x.stl", 2, "slp convert: --threads "},
                 {"convert -j x one_facet.slp x/x.stl", 2, "slp convert: --jobs "},
                 {"convert --jobs=-2 one_facet.slp x/x.stl", 2, "slp convert: --jobs "},
                 {"info --threads 1024 one_facet.slp", 0, ""},
                 {"--version", 0, ""},
                 {"info --help", 0, ""}};
    for (const auto& c : cases)
    {
        const ToolRun run = RunSlp(c.pszArguments);
        EXPECT_EQ(run.nExit, c.nExit) << c.pszArguments;
        EXPECT_EQ(run.err.substr(0, std::string(c.pszError).size()), c.pszError)
            << c.pszArguments << ": " << run.err;
    }
    EXPECT_NE(RunSlp("info --help").out.find("--geometry"), std::string::npos);
}

TEST(SlpToolTest, InfoTellsEveryFailureOnStandardErrorWithItsCause)
{
    // A program's first bytes: NULs and no solid.
    const TempFile binary(std::string("\x7F"
                                      "ELF\x02\x01\x01\0\0\0part",
                                      14));
    const ToolRun run = RunSlp("info --depth 1 one_facet.slp missing.slp empty.slp . \"" + binary.path +
                               "\" geometry_before_solid.slp nested_solids.slp");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err,
              "slp: missing.slp: file missing\nslp: empty.slp: empty file\n"
              "slp: .: unreadable: Is a directory\nslp: " +
                  binary.path +
                  ": binary data, not SLP text\n"
                  "slp: geometry_before_solid.slp: warning: 3 vertices were dropped by the load (slp check "
                  "geometry_before_solid.slp shows where and why)\n");
    // Only the files that loaded are described, each with its load time, down to the depth asked for;
    // plural forms agree.
    EXPECT_EQ(run.out.find("missing"), std::string::npos);
    EXPECT_NE(run.out.find("one_facet.slp: loaded\n  group \"cube\"\n    mesh: 1 triangle, colour 1 1 1 1"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("totals: 1 group, 1 mesh, 1 triangle, 3 vertices\n"), std::string::npos);
    EXPECT_TRUE(run.out.find("\"lid\"") != std::string::npos && run.out.find("wheel") == std::string::npos);
    size_t nTimes = 0;
    for (size_t n = run.out.find("\ntime: "); n != std::string::npos; n = run.out.find("\ntime: ", n + 1))
        ++nTimes;
    EXPECT_EQ(nTimes, 3u);
}

TEST(SlpToolTest, JsonDocumentShapeAndEscapedNames)
{
    // Several files give an array, a failed load with its reason included.
    ToolRun run = RunSlp("info --json one_facet.slp missing.slp");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(Json::parse(run.out), Json::parse(R"([
        {"file": "one_facet.slp", "result": 0, "result_name": "SLPLoadSuccess", "status": "loaded",
         "totals": {"groups": 1, "objects": 1, "triangles": 1}, "discarded_vertices": 0,
         "bbox": {"min": [0, 0, 0], "max": [1, 1, 0]},
         "groups": [{"name": "cube", "groups": [], "objects": [{"triangles": 1, "color": [1, 1, 1, 1],
             "shininess": 64, "bbox": {"min": [0, 0, 0], "max": [1, 1, 0]}, "decimation": 0}]}],
         "objects": []},
        {"file": "missing.slp", "result": 1, "result_name": "SLPLoadFailure", "status": "file missing",
         "reason": "file missing",
         "totals": {"groups": 0, "objects": 0, "triangles": 0}, "discarded_vertices": 0, "bbox": null,
         "groups": [], "objects": []}])"));

    run = RunSlp("info --json nested_solids.slp geometry_before_solid.slp awkward_names.slp");
    ASSERT_EQ(run.nExit, 0) << run.err;
    const Json docs = Json::parse(run.out);
    EXPECT_EQ(docs.at(0).at("totals"), Json::parse(R"({"groups": 4, "objects": 5, "triangles": 6})"));
    const Json& wheel = docs.at(0).at("groups").at(0).at("groups").at(0);
    EXPECT_EQ(wheel.at("name"), "wheel");
    EXPECT_EQ(wheel.at("groups").at(0).at("name"), "hub");
    EXPECT_EQ(wheel.at("objects").at(0).at("triangles"), 2);
    EXPECT_EQ(docs.at(1).at("discarded_vertices"), 3);

    const Json& groups = docs.at(2).at("groups");
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(groups[0]["name"], "back\\slash");
    // The quoted token ends at its second quote; its text keeps the quotes.
    EXPECT_EQ(groups[1]["name"], "\"say \\\"");
#if !defined(_WIN32)
    EXPECT_EQ(groups[2]["name"], "caf\xC3\xA9");
#else
    // Names are ANSI code page text on Windows (Windows-1252 under Wine): UTF-8 bytes are two characters.
    EXPECT_EQ(groups[2]["name"], "caf\xC3\x83\xC2\xA9");
#endif
    EXPECT_EQ(groups[3]["name"], "\"tab\there\x01\"");
    // A name that is not UTF-8 is read as Windows-1252.
    EXPECT_EQ(groups[4]["name"], "caf\xC3\xA9");
}

TEST(SlpToolTest, JsonHoldsTheWholeModelOfAFixture)
{
    // nested_solids.slp: "assembly" holds a facet, the solid "wheel" (two facets, and "hub" with one)
    // and another facet, so its two facets are two meshes; "lid" follows. Colours are the default white.
    ToolRun run = RunSlp("info --json nested_solids.slp");
    ASSERT_EQ(run.nExit, 0) << run.err;
    const auto mesh = [](int nTriangles, const char* pszMin, const char* pszMax)
    {
        return Json::parse(std::string("{\"triangles\": ") + std::to_string(nTriangles) +
                           ", \"color\": [1, 1, 1, 1], \"shininess\": 64, \"bbox\": {\"min\": " + pszMin +
                           ", \"max\": " + pszMax + "}, \"decimation\": 0}");
    };
    Json hub = {{"name", "hub"}, {"groups", Json::array()}, {"objects", {mesh(1, "[5, 0, 0]", "[5, 1, 1]")}}};
    Json wheel = {{"name", "wheel"}, {"groups", {hub}}, {"objects", {mesh(2, "[0, 0, -2]", "[3, 3, -1]")}}};
    Json assembly = {{"name", "assembly"},
                     {"groups", {wheel}},
                     {"objects", {mesh(1, "[0, 0, 0]", "[1, 1, 0]"), mesh(1, "[0, 4, 0]", "[1, 4, 1]")}}};
    Json lid = {
        {"name", "lid"}, {"groups", Json::array()}, {"objects", {mesh(1, "[-2, -2, 7]", "[-1, -1, 7]")}}};
    Json expected = {{"file", "nested_solids.slp"},
                     {"result", 0},
                     {"result_name", "SLPLoadSuccess"},
                     {"status", "loaded"},
                     {"totals", {{"groups", 4}, {"objects", 5}, {"triangles", 6}}},
                     {"discarded_vertices", 0},
                     {"bbox", {{"min", {-2, -2, -2}}, {"max", {5, 4, 7}}}},
                     {"groups", {assembly, lid}},
                     {"objects", Json::array()}};
    EXPECT_EQ(Json::parse(run.out), expected);

    // colour_runs.slp: a white mesh of two facets, then one in the colour 0.5 1 0.25, every corner with
    // its position and normal.
    run = RunSlp("info --json --geometry colour_runs.slp");
    ASSERT_EQ(run.nExit, 0) << run.err;
    const Json painted = Json::parse(run.out).at("groups").at(0);
    EXPECT_EQ(painted.at("objects").size(), 2u);
    EXPECT_EQ(painted.at("objects").at(0).at("vertices"),
              Json::parse("[[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, 1, 0], [2, 1, 0], [1, 2, 0]]"));
    const Json& second = painted.at("objects").at(1);
    EXPECT_EQ(second.at("color"), Json::parse("[0.5, 1, 0.25, 1]"));
    EXPECT_EQ(second.at("bbox"), Json::parse(R"({"min": [3, 3, 3], "max": [4, 4, 3]})"));
    EXPECT_EQ(second.at("vertices"), Json::parse("[[3, 3, 3], [4, 3, 3], [3, 4, 3]]"));
    EXPECT_EQ(second.at("normals"), Json::parse("[[0, 0, 1], [0, 0, 1], [0, 0, 1]]"));

    // check --json: a finding with its place, the counts, and a file that cannot be read.
    run = RunSlp("check --json geometry_before_solid.slp missing.slp one_facet.slp");
    EXPECT_EQ(run.nExit, 1);
    const Json checks = Json::parse(run.out);
    ASSERT_EQ(checks.size(), 3u);
    const auto counts = [](int nErrors, int nTriangles, int nLost, const char* pszFixture)
    {
        return Json{
            {"readable", true},
            {"errors", nErrors},
            {"warnings", 0},
            {"solids", 1},
            {"groups", 1},
            {"meshes", 1},
            {"triangles", nTriangles},
            {"lost_vertices", nLost},
            {"lost_triangles", nLost / 3},
            {"bytes", static_cast<long long>(
                          std::ifstream(DataPath(pszFixture), std::ios::binary | std::ios::ate).tellg())}};
    };
    Json before = checks[0];
    EXPECT_EQ(before.at("file"), "geometry_before_solid.slp");
    const Json finding = before.at("findings").at(0);
    EXPECT_EQ(before.at("findings").size(), 1u);
    EXPECT_EQ(finding.at("line"), 3);
    EXPECT_EQ(finding.at("column"), 5);
    EXPECT_EQ(finding.at("severity"), "error");
    EXPECT_EQ(finding.at("code"), "outside-solid");
    before.erase("file");
    before.erase("findings");
    EXPECT_EQ(before, counts(1, 1, 3, "geometry_before_solid.slp"));
    EXPECT_EQ(checks[1], Json::parse(R"({"file": "missing.slp", "findings": [], "readable": false,
                                         "reason": "file missing"})"));
    Json clean = checks[2];
    EXPECT_EQ(clean.at("findings"), Json::array());
    clean.erase("file");
    clean.erase("findings");
    EXPECT_EQ(clean, counts(0, 1, 0, "one_facet.slp"));
}

TEST(SlpToolTest, GeometryFloatsReadBackExactly)
{
    ToolRun run = RunSlp("info --json --geometry float_round_trip.slp");
    ASSERT_EQ(run.nExit, 0) << run.err;
    // Not const: a missing key then reads as null instead of being undefined behaviour.
    Json mesh = Json::parse(run.out)["groups"][0]["objects"][0];
    const char* const aVertices[] = {"0.1",      "1e-7",           "123456.789",     "-3.4028235e38",
                                     "16777217", "0.333333333333", "1.17549435e-38", "7e-46",
                                     "-0"};
    for (int i = 0; i < 9; ++i) // each written number read as the loader reads it: a double made a float
        EXPECT_EQ(static_cast<float>(mesh["vertices"][i / 3][i % 3].get<double>()),
                  static_cast<float>(std::strtod(aVertices[i], nullptr)))
            << aVertices[i];
    // The JSON reader takes -0 as the integer 0, so the sign is checked in the text.
    EXPECT_NE(run.out.find(", -0]]"), std::string::npos);
    EXPECT_EQ(static_cast<float>(mesh["normals"][0][2].get<double>()), 0.30000001f);
    EXPECT_EQ(mesh["normals"].size(), 3u);
}

TEST(SlpToolTest, TokensWithLineColumnAndEscapedBytes)
{
    const TempFile file("solid \"a\tb\"\r\n  caf\xC3\xA9 x\xFF\\ 1.5\n");
    const ToolRun run = RunSlp("tokens \"" + file.path + "\"");
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out, "1:1\tSLPTokenSolid\tkeyword\t\"solid\"\n"
                       "1:7\tSLPTokenGenericType8\tquoted\t\"\\\"a\\tb\\\"\"\n"
                       "2:3\tSLPTokenNone\tword\t\"caf\xC3\xA9\"\n"
                       "2:9\tSLPTokenNone\tword\t\"x\\xFF\\\\\"\n"
                       "2:13\tSLPTokenNumber\tnumber\t\"1.5\"\t1.5\n"
                       "3:1\tSLPTokenEndOfFile\tend\t\"\"\n");
    EXPECT_EQ(RunSlp("tokens --limit 2 - ", file.path).out,
              "1:1\tSLPTokenSolid\tkeyword\t\"solid\"\n"
              "1:7\tSLPTokenGenericType8\tquoted\t\"\\\"a\\tb\\\"\"\n");
    EXPECT_EQ(RunSlp("tokens missing.slp").err, "slp: missing.slp: file missing\n");
}

TEST(SlpToolTest, CheckListsWhatALoadLosesWithLineAndColumn)
{
    const TempFile file("solid Box Lid Two\n"
                        "facet normal 0 0 1 vertex 0 0 0 normal 0 0 1 vertex 1 0 0\n"
                        "normal 0 0 1 vertex 0 1 0 vertex 5 5 5\nendfacet\n"
                        "color 1 0\nnormal 0 0 1 vertex 0 0 0\n"
                        "endsolid\nendsolid\nsolid open\n");
    // For scripts: each finding's place, severity and code, and its message (here up to the
    // explanation that follows a colon or semicolon).
    ToolRun run = RunSlp("check --json - ", file.path);
    EXPECT_EQ(run.nExit, 1);
    const Json doc = Json::parse(run.out);
    std::string findings;
    for (const Json& finding : doc.at("findings"))
    {
        const std::string message = finding.at("message");
        findings += finding.at("line").dump() + ":" + finding.at("column").dump() + " " +
                    finding.at("severity").get<std::string>() + " " + finding.at("code").get<std::string>() +
                    ": " + message.substr(0, message.find_first_of(":;")) + "\n";
    }
    EXPECT_EQ(findings, "1:11 warning name-has-more-words: the solid is named \"Box\"\n"
                        "2:1 warning facet-vertex-count: facet has 4 vertices\n"
                        "2:7 error run-discarded: a run of 4 vertices and 3 normals is dropped whole\n"
                        "5:1 warning number-expected: color takes three numbers but has 2\n"
                        "6:14 error run-discarded: a run of 1 vertex and 0 normals is dropped whole\n"
                        "8:1 warning endsolid-without-solid: \"endsolid\" without an open solid\n"
                        "9:1 warning solid-left-open: solid \"open\" is never closed with \"endsolid\" (slp "
                        "fix repairs this)\n");
    EXPECT_EQ(doc.at("lost_vertices"), 5);
    EXPECT_EQ(doc.at("lost_triangles"), 1);

    // For people: a line per finding, then a summary per file; quiet keeps the summaries.
    run = RunSlp("check - one_facet.slp", file.path);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 9);
    EXPECT_NE(run.out.find("\n<stdin>:2:7: error: a run of 4 vertices and 3 normals is dropped whole: "),
              std::string::npos)
        << run.out;
    const std::string summaries =
        "<stdin>: 2 errors, 5 warnings; 2 groups, 0 meshes, 0 triangles, 5 vertices "
        "lost\none_facet.slp: no problems; 1 group, 1 mesh, 1 triangle\n";
    EXPECT_EQ(run.out.substr(run.out.find("<stdin>: ")), summaries);
    EXPECT_EQ(RunSlp("check -q - one_facet.slp", file.path).out, summaries);

    // Warnings alone do not fail a check, a file that does not load does; several files give an array,
    // each file's findings in order of line and column.
    EXPECT_EQ(RunSlp("check solid_then_endsolid.slp").nExit, 0);
    run = RunSlp("check --json solid_then_endsolid.slp no_keywords.slp");
    EXPECT_EQ(run.nExit, 1);
    const Json both = Json::parse(run.out);
    EXPECT_EQ(both.at(0).at("findings").at(0).at("code"), "solid-left-open");
    EXPECT_EQ(both.at(0).at("findings").at(1).at("code"), "keyword-as-name");
    EXPECT_EQ(both.at(1).at("findings").at(0).at("code"), "no-solid");
    EXPECT_EQ(both.at(1).at("findings").at(0).at("severity"), "error");
    EXPECT_EQ(RunSlp("check missing.slp").err, "slp: missing.slp: file missing\n");
}

#if !defined(_WIN32)
TEST(SlpToolTest, ANameThatIsNotUtf8OpensThatVeryFile)
{
    // "lat" E9 ".slp" is a name of bytes that are not UTF-8; "laté.slp" in UTF-8 stands beside it and
    // must not be loaded in its place.
    const std::string folder = testing::TempDir();
    const std::string bytes = "lat\xE9.slp", utf8 = "lat\xC3\xA9.slp";
    std::ofstream(folder + bytes) << "solid bytes\nendsolid\n";
    std::ofstream(folder + utf8) << "solid utf8\nendsolid\n";
    const ToolRun run = RunProgram(SLP_TOOL_FILE, "info --json \"" + bytes + "\"", folder);
    std::remove((folder + bytes).c_str());
    std::remove((folder + utf8).c_str());
    ASSERT_EQ(run.nExit, 0) << run.err;
    const Json doc = Json::parse(run.out);
    EXPECT_EQ(doc.at("groups").at(0).at("name"), "bytes");
    EXPECT_EQ(doc.at("file"), "lat\xEF\xBF\xBD.slp"); // shown with U+FFFD for the byte
}
#endif

#if !defined(_WIN32)
TEST(SlpToolTest, OutputThatCannotBeWrittenFailsEverySubcommand)
{
    if (!std::ifstream("/dev/full").good())
        GTEST_SKIP() << "no /dev/full";
    const std::string converted = "\"" + TestTempPath("slp_full_", ".stl") + "\"";
    // A disk that is full, and a standard output that is not open at all: the last line names the
    // standard output and the reason (after a failed load's own line).
    for (const char* pszRedirection : {"> /dev/full", ">&-"})
        for (const std::string& arguments : std::vector<std::string>{
                 "info one_facet.slp", "info --json nested_solids.slp missing.slp", "check one_facet.slp",
                 "check --json -q one_facet.slp", "tokens one_facet.slp", "convert -f stl one_facet.slp -",
                 "convert one_facet.slp " + converted, "--version", "info --help"})
        {
            const ToolRun run = RunSlpScript("$SLP " + arguments + " " + pszRedirection);
            EXPECT_EQ(run.nExit, 1) << arguments << pszRedirection;
            const std::string reason = pszRedirection[0] == '>' && pszRedirection[1] == '&'
                                           ? "Bad file descriptor"
                                           : "No space left on device";
            const std::string line = "slp: cannot write standard output: " + reason + "\n";
            EXPECT_TRUE(run.err.size() >= line.size() && run.err.substr(run.err.size() - line.size()) == line)
                << arguments << pszRedirection << ": " << run.err;
        }
    std::remove(converted.substr(1, converted.size() - 2).c_str());
}
#endif

TEST(SlpToolTest, StrictFailsALoadThatDroppedVertices)
{
    const struct
    {
        const char* pszArguments;
        int nExit;
    } cases[] = {{"info geometry_before_solid.slp", 0},
                 {"info --strict geometry_before_solid.slp", 1},
                 {"info --strict --json one_facet.slp", 0},
                 {"convert -q geometry_before_solid.slp - -f stl", 0},
                 {"convert -q --strict geometry_before_solid.slp - -f stl", 1}};
    for (const auto& c : cases)
    {
        const ToolRun run = RunSlp(c.pszArguments);
        EXPECT_EQ(run.nExit, c.nExit) << c.pszArguments << ": " << run.err;
    }
    EXPECT_EQ(RunSlp("info --strict geometry_before_solid.slp").err,
              "slp: geometry_before_solid.slp: error: 3 vertices were dropped by the load (slp check "
              "geometry_before_solid.slp shows where and why)\n");
}

#if !defined(_WIN32)
TEST(SlpToolTest, GzippedInputIsReadAsTheTextItHolds)
{
    const std::string gz = TestTempPath("slp_gz_", ".slp.gz");
    // A file and standard input, both found gzipped by their first bytes; the same model as the text.
    const ToolRun run = RunSlpScript("gzip -c nested_solids.slp > " + gz + " && $SLP info -q --json " + gz +
                                     " > " + gz + ".json && gzip -c one_facet.slp | $SLP info -q -");
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "<stdin>: loaded");
    Json doc = Json::parse(ReadProgramText(gz + ".json"));
    Json text = Json::parse(RunSlp("info -q --json nested_solids.slp").out);
    doc.erase("file");
    text.erase("file");
    EXPECT_EQ(doc, text);
    // Cut data is a read failure, said as such.
    const ToolRun cut = RunSlpScript("head -c 100 " + gz + " | $SLP info -; head -c 100 " + gz + " > " + gz +
                                     ".cut; $SLP check " + gz + ".cut");
    EXPECT_EQ(cut.err, "slp: <stdin>: unreadable: corrupt gzip data\nslp: " + gz +
                           ".cut: unreadable: corrupt gzip data\n");
    for (const char* pszExtension : {"", ".json", ".cut"})
        std::remove((gz + pszExtension).c_str());
}
#endif
