#include "tests/support/ProgramRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>

namespace
{

ToolRun RunSlp(const std::string& arguments)
{
    return RunProgram(SLP_TOOL_FILE, arguments, SLP_TEST_DATA_DIR);
}

using Json = nlohmann::ordered_json; // compares objects key by key in order

} // namespace

TEST(SlpToolTest, ExitCodesAndAMissingFileAmongSeveral)
{
    ToolRun run = RunSlp("info one_facet.slp missing.slp colour_runs.slp");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.err, "slp: missing.slp: file missing\n");
    EXPECT_NE(run.out.find("one_facet.slp: SLPLoadSuccess"), std::string::npos);
    EXPECT_NE(run.out.find("colour_runs.slp: SLPLoadSuccess"), std::string::npos);
    EXPECT_NE(run.out.find("mesh: 1 triangles, colour 0.5 1 0.25 1 (#80ff40)"), std::string::npos) << run.out;

    EXPECT_EQ(RunSlp("info .").err, "slp: .: unreadable: not a regular file\n");
    EXPECT_EQ(RunSlp("info one_facet.slp nested_solids.slp").nExit, 0);
    EXPECT_EQ(RunSlp("info no_keywords.slp").nExit, 1);
    EXPECT_EQ(RunSlp("tokens missing.slp").nExit, 1);
    for (const char* pszArguments : {"", "info", "info --no-such-flag one_facet.slp"})
        EXPECT_EQ(RunSlp(pszArguments).nExit, 2) << pszArguments;
    EXPECT_EQ(RunSlp("--version").nExit, 0);
    ToolRun help = RunSlp("info --help");
    EXPECT_EQ(help.nExit, 0);
    EXPECT_NE(help.out.find("--json"), std::string::npos);
}

TEST(SlpToolTest, JsonDocumentShape)
{
    // Several files give an array, a failed load included.
    ToolRun run = RunSlp("info --json one_facet.slp missing.slp");
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(Json::parse(run.out), Json::parse(R"([
        {"file": "one_facet.slp", "result": 0, "result_name": "SLPLoadSuccess",
         "totals": {"groups": 1, "objects": 1, "triangles": 1}, "bbox": {"min": [0, 0, 0], "max": [1, 1, 0]},
         "groups": [{"name": "cube", "groups": [], "objects": [{"triangles": 1, "color": [1, 1, 1, 1],
             "shininess": 64, "bbox": {"min": [0, 0, 0], "max": [1, 1, 0]}, "decimation": 0}]}],
         "objects": []},
        {"file": "missing.slp", "result": 1, "result_name": "SLPLoadFailure",
         "totals": {"groups": 0, "objects": 0, "triangles": 0}, "bbox": null, "groups": [], "objects": []}])"));

    const Json doc = Json::parse(RunSlp("info --json nested_solids.slp").out);
    EXPECT_EQ(doc.at("totals"), Json::parse(R"({"groups": 4, "objects": 5, "triangles": 6})"));
    EXPECT_EQ(doc.at("bbox"), Json::parse(R"({"min": [-2, -2, -2], "max": [5, 4, 7]})"));
    const Json& wheel = doc.at("groups").at(0).at("groups").at(0);
    EXPECT_EQ(wheel.at("name"), "wheel");
    EXPECT_EQ(wheel.at("groups").at(0).at("name"), "hub");
    EXPECT_EQ(wheel.at("objects").at(0).at("triangles"), 2);
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

TEST(SlpToolTest, NamesAreEscaped)
{
    ToolRun run = RunSlp("info --json awkward_names.slp");
    ASSERT_EQ(run.nExit, 0) << run.err;
    const Json groups = Json::parse(run.out)["groups"];
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

TEST(SlpToolTest, TokensListing)
{
    ToolRun run = RunSlp("tokens one_facet.slp --limit 4");
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(run.out, "SLPTokenSolid\t11\t\"SOLID\"\n"
                       "SLPTokenNone\t12\t\"cube\"\n"
                       "SLPTokenFacet\t11\t\"FACET\"\n"
                       "SLPTokenOuter\t11\t\"OUTER\"\n");
    ToolRun all = RunSlp("tokens one_facet.slp");
    EXPECT_NE(all.out.find("SLPTokenNumber\t10\t\"1\"\t1\n"), std::string::npos);
    EXPECT_NE(all.out.find("SLPTokenEndOfFile\t1\t\"\"\n"), std::string::npos);
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
