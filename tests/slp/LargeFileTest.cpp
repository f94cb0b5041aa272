// A file beyond 4 GiB loads to its end. The file is sparse (4.5 GiB of NUL bytes, which are white
// space, then one solid), so it costs no disk; reading it still scans every byte, which takes seconds
// in a release build and minutes under the sanitizers. Labelled "long": `ctest -L long` runs it and
// `ctest -LE long` leaves it out.

#include "WorldChecker.h"
#include "slp/SLPParser.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#if !defined(_WIN32)
namespace
{
std::vector<int> g_reports;
void SLP_STDCALL RecordProgress(int nPercentage)
{
    g_reports.push_back(nPercentage);
}
} // namespace
#endif

TEST(LargeFileTest, SolidAfterFourAndAHalfGigabytesLoadsWithProgressTo99)
{
#if defined(_WIN32)
    GTEST_SKIP() << "files are not sparse by default here, so the test would write 4.5 GiB";
#else
    const std::string strPath = TestTempPath("slp_large_", ".slp");
    const std::string strTail = "solid big\nnormal 0 0 1 vertex 0 0 0\nnormal 0 0 1 vertex 1 0 0\n"
                                "normal 0 0 1 vertex 0 1 0\nendsolid big\n";
    const long long nZeros = 9LL << 29; // 4.5 GiB
    std::ofstream(strPath, std::ios::binary).close();
    std::error_code error;
    fs::resize_file(strPath, static_cast<std::uintmax_t>(nZeros), error);
    if (error)
    {
        fs::remove(strPath);
        GTEST_SKIP() << "cannot make a sparse 4.5 GiB file here: " << error.message();
    }
    std::ofstream(strPath, std::ios::binary | std::ios::app) << strTail;
    ASSERT_EQ(fs::file_size(strPath), static_cast<std::uintmax_t>(nZeros) + strTail.size());

    CKarnWorld world;
    CSLPParser parser;
    parser.SetFileName(CBasicString(strPath.c_str()));
    parser.SetLoaderPtr(&RecordProgress);
    g_reports.clear();
    const SLPLoadResultTypes eResult = parser.Parse(&world);
    fs::remove(strPath);

    ASSERT_EQ(eResult, SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(world), "group big\n  mesh 1 colour 1 1 1 1\n");
    EXPECT_TRUE(WorldIsConsistent(world, true));
    // The first token ends past 4 GiB, so the first report is already 99 and the only one.
    EXPECT_EQ(g_reports, std::vector<int>{99});
    EXPECT_EQ(parser.GetLastPercentage(), 99);
#endif
}
