// Loads of files that no exporter writes: cut short, empty, binary, huge tokens, extreme numbers,
// millions of lines, and names that do not lead to a readable file. Every load must end with the result
// the grammar gives and a consistent model. How single numbers and words are spelled is the tokenizer's
// and tested with it; here they are taken through the loader.

#include "WorldChecker.h"
#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "slp/SLPParser.h"
#include "tests/support/FailingReads.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace
{

struct LoadOutcome
{
    SLPLoadResultTypes eResult = SLPLoadFailure;
    std::unique_ptr<CKarnWorld> pWorld = std::make_unique<CKarnWorld>();
};

LoadOutcome LoadPath(const std::string& strPath)
{
    LoadOutcome outcome;
    CSLPParser parser;
    outcome.eResult = LoadFile(parser, *outcome.pWorld, strPath);
    return outcome;
}

LoadOutcome LoadText(const std::string& strContents)
{
    return LoadPath(TempFile(strContents).path);
}

// What a load of any file must satisfy: success exactly when the world holds something, and a
// consistent model.
testing::AssertionResult LoadedSoundly(const LoadOutcome& outcome)
{
    const CKarnWorld& world = *outcome.pWorld;
    const bool bFilled = world.GetNumGroups() > 0 || world.GetNumObjects() > 0;
    if (outcome.eResult != (bFilled ? SLPLoadSuccess : SLPLoadFailure))
        return testing::AssertionFailure()
               << "result " << outcome.eResult << " for a world that is " << (bFilled ? "filled" : "empty");
    return WorldIsConsistent(world, outcome.eResult == SLPLoadSuccess);
}

int CountGroups(const vemoBaseGroup& world)
{
    int nCount = 0;
    std::vector<const vemoBaseGroup*> pending(1, &world);
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back();
        pending.pop_back();
        nCount += pGroup->GetNumGroups();
        for (int i = 0; i < pGroup->GetNumGroups(); ++i)
            pending.push_back(pGroup->GetGroup(i));
    }
    return nCount;
}

// One solid "s" with one facet whose first vertex has the given x.
std::string FacetWithX(const std::string& strX)
{
    return "solid s\nnormal 0 0 1 vertex " + strX +
           " 0 0\nnormal 0 0 1 vertex 1 0 0\nnormal 0 0 1 vertex 0 1 0\nendsolid\n";
}

// The x of the first vertex of FacetWithX(strX) as loaded; a failure when there is no such vertex.
testing::AssertionResult LoadsX(const std::string& strX, float fExpected)
{
    const LoadOutcome outcome = LoadText(FacetWithX(strX));
    if (!LoadedSoundly(outcome) || outcome.pWorld->GetNumGroups() != 1 ||
        outcome.pWorld->GetGroup(0)->GetNumObjects() != 1)
        return testing::AssertionFailure() << "no sound mesh for x = " << strX.substr(0, 40);
    const float fX = dynamic_cast<const vemoSTL*>(outcome.pWorld->GetGroup(0)->GetObject(0))
                         ->m_pTriangles[0]
                         .m_Vertex[0]
                         .x;
    if ((fX == fExpected || (std::isnan(fX) && std::isnan(fExpected))) &&
        std::signbit(fX) == std::signbit(fExpected))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << strX.substr(0, 40) << " loads as " << fX;
}

std::function<void(int)> g_onProgress;
void SLP_STDCALL ForwardProgress(int nPercentage)
{
    g_onProgress(nPercentage);
}

} // namespace

TEST(HostileInputTest, EveryPrefixOfValidFilesLoadsConsistently)
{
    TempFile file;
    for (const char* pszName :
         {"nested_solids.slp", "colour_runs.slp", "quoted_name.slp", "awkward_names.slp"})
    {
        std::ifstream in(DataPath(pszName), std::ios::binary);
        const std::string strWhole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(strWhole.empty()) << pszName;
        const std::string strExpected = DescribeWorld(*LoadPath(DataPath(pszName)).pWorld);
        int nLastGroups = 0;
        for (size_t nLength = 0; nLength <= strWhole.size(); ++nLength)
        {
            file.Write(strWhole.substr(0, nLength));
            const LoadOutcome outcome = LoadPath(file.path);
            ASSERT_TRUE(LoadedSoundly(outcome)) << pszName << " cut to " << nLength << " bytes";
            // A longer prefix never loses a solid: cutting only shortens the last token.
            const int nGroups = CountGroups(*outcome.pWorld);
            ASSERT_GE(nGroups, nLastGroups) << pszName << " cut to " << nLength << " bytes";
            nLastGroups = nGroups;
        }
        EXPECT_EQ(DescribeWorld(*LoadPath(file.path).pWorld), strExpected) << pszName;
    }
}

TEST(HostileInputTest, FilesThatAreNotSlp)
{
    // Empty, white space and NULs load nothing.
    for (const std::string& strContents :
         {std::string(), std::string(" \t\r\n\v\f \n\n", 10), std::string(4096, '\0')})
    {
        const LoadOutcome outcome = LoadText(strContents);
        EXPECT_EQ(outcome.eResult, SLPLoadFailure) << strContents.size() << " bytes";
        EXPECT_TRUE(outcome.pWorld->GetNumGroups() == 0 && outcome.pWorld->GetBBox().IsEmpty());
    }
    // A binary STL whose header starts with "solid": one group named by the next word, and nothing in
    // the binary body (no keyword, no number between white space).
    std::string strStl = "solid binary-part exported";
    strStl.resize(80, ' ');
    strStl += std::string("\x04\0\0\0", 4);
    for (int t = 0; t < 4; ++t)
    {
        const float aValues[12] = {0.0f, 0.0f, 1.0f, 2.5f, -1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f};
        strStl.append(reinterpret_cast<const char*>(aValues), sizeof aValues).append(2, '\0');
    }
    const LoadOutcome stl = LoadText(strStl);
    EXPECT_EQ(DescribeWorld(*stl.pWorld), "group binary-part\n");
    EXPECT_TRUE(LoadedSoundly(stl));

    // The check, and a load guarded as the program's, refuse binary input at its first block: one
    // error that says what the file holds. Text whose NUL bytes come after its first solid is no binary.
    const std::pair<std::string, const char*> checks[] = {
        {std::string(4096, '\0') + "solid late\n", "binary data, not SLP text, so a load of it fails"},
        {std::string(), "empty file, so a load of it fails"},
        {"plain prose and nothing else",
         "no solid in the file, so a load of it fails (SLP text starts with \"solid NAME\")"},
        {FacetWithX("1") + std::string(100, '\0'), nullptr}};
    for (const auto& [strContents, pszMessage] : checks)
    {
        const TempFile checked(strContents);
        const CCheckReport report = CheckSLPFile(CBasicString(checked.path.c_str()));
        EXPECT_EQ(report.m_eOpen, SLPLoadSuccess);
        EXPECT_EQ(report.m_nErrors, pszMessage != nullptr ? 1 : 0);
        if (pszMessage != nullptr && report.m_Findings.size() == 1)
        {
            EXPECT_EQ(report.m_Findings[0].m_strMessage, pszMessage);
        }
        CBinaryInputGuard guard;
        CKarnWorld world;
        CSLPParser parser;
        parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&guard);
        const SLPLoadResultTypes eResult = LoadFile(parser, world, checked.path);
        EXPECT_EQ(eResult == SLPLoadSuccess, pszMessage == nullptr);
        if (pszMessage != nullptr)
        {
            EXPECT_EQ(DescribeLoadFailure(parser, eResult) + ", so a load of it fails",
                      std::string(pszMessage).substr(0, std::string(pszMessage).find(" (")));
        }
    }
}

TEST(HostileInputTest, HugeTokensAndExtremeNumbers)
{
    // A 16 MB word names a group in full; 16 MB of leading zeros are one number.
    const size_t nHuge = 16u << 20;
    const LoadOutcome named = LoadText("solid " + std::string(nHuge, 'w') + "x\nendsolid\n");
    ASSERT_EQ(named.pWorld->GetNumGroups(), 1);
    const vemoWRope& name = named.pWorld->GetGroup(0)->GetGroupName();
    ASSERT_EQ(static_cast<size_t>(name.GetLength()), nHuge + 1);
    EXPECT_EQ(name.GetText()[nHuge], 'x');
    EXPECT_TRUE(LoadsX(std::string(nHuge, '0') + "1.5", 1.5f));
    // Doubles beyond the float range load as the infinity of their sign (boxes then reach it too),
    // numbers too small for a double as zero of their sign, and a NaN as a NaN.
    EXPECT_TRUE(LoadsX("1e39", HUGE_VALF));
    EXPECT_TRUE(LoadsX("-1e39", -HUGE_VALF));
    EXPECT_TRUE(LoadsX("1" + std::string(9999, '0'), HUGE_VALF));
    EXPECT_TRUE(LoadsX("-1e-400", -0.0f));
    EXPECT_TRUE(LoadsX("nan", NAN));
    // A malformed number is a word: the vertex is not read and the facet, with two vertices for three
    // normals, is dropped.
    for (const char* pszWord : {"1e+", "1.5abc"})
        EXPECT_EQ(DescribeWorld(*LoadText(FacetWithX(pszWord)).pWorld), "group s\n") << pszWord;
    // A degenerate facet whose exporter wrote its normal as NaNs costs nothing else of its run.
    const LoadOutcome outcome =
        LoadText("solid s\nfacet\nnormal -nan -nan -nan vertex 0 0 0\nnormal 1.#QNAN0 1.#QNAN0 1.#QNAN0 "
                 "vertex 0 0 0\nnormal nan nan nan vertex 0 0 0\nendfacet\n" +
                 FacetWithX("1").substr(8));
    EXPECT_EQ(DescribeWorld(*outcome.pWorld), "group s\n  mesh 2 colour 1 1 1 1\n");
}

TEST(HostileInputTest, FilesEndingMidwayKeepWhatWasRead)
{
    const std::string strFacets =
        "normal 0 0 1 vertex 0 0 5\nnormal 0 0 1 vertex 1 0 7\nnormal 0 0 1 vertex 0 1";
    const std::pair<std::string, const char*> cases[] = {
        {"solid par", "group par\n"},                                                   // inside a word
        {"solid \"Front Pa", "group \"Front Pa\n"},                                     // inside a quote
        {"solid", "group \n"},                                                          // after a keyword
        {"solid s\n" + strFacets + " 0\nnormal", "group s\n  mesh 1 colour 1 1 1 1\n"}, // ditto
        {"solid s\n" + strFacets, "group s\n  mesh 1 colour 1 1 1 1\n"},                // inside a triple
        {"solid s\n" + strFacets + " 0\nnormal 0 0", "group s\n"},                      // a normal too many
        // An unterminated quote ends at the end of its line; the facet after it loads.
        {"solid \"abc\n" + strFacets + " 0\nendsolid\n", "group \"abc\n  mesh 1 colour 1 1 1 1\n"},
    };
    for (const auto& [strContents, pszExpected] : cases)
    {
        const LoadOutcome outcome = LoadText(strContents);
        EXPECT_EQ(DescribeWorld(*outcome.pWorld), pszExpected) << strContents;
        EXPECT_TRUE(LoadedSoundly(outcome)) << strContents;
    }
    // The third vertex of a cut triple keeps the previous vertex's z.
    const LoadOutcome cut = LoadText("solid s\n" + strFacets);
    const auto* pMesh = dynamic_cast<const vemoSTL*>(cut.pWorld->GetGroup(0)->GetObject(0));
    ASSERT_NE(pMesh, nullptr);
    EXPECT_EQ(pMesh->m_pTriangles[0].m_Vertex[2].z, 7.0f);
}

TEST(HostileInputTest, MillionsOfLines)
{
    // A million nested solids load, are walked and are freed without recursion (a quadratic step would
    // exceed the test's time limit).
    std::string strNested;
    for (int i = 0; i < 1000000; ++i)
        strNested += "solid a\n";
    {
        const LoadOutcome nested = LoadText(strNested);
        EXPECT_EQ(CountGroups(*nested.pWorld), 1000000);
        EXPECT_TRUE(LoadedSoundly(nested));
    }
    // A million "endsolid" lines close nothing more than the one solid.
    std::string strEnds = "solid a\n";
    for (int i = 0; i < 1000000; ++i)
        strEnds += "endsolid\n";
    EXPECT_EQ(DescribeWorld(*LoadText(strEnds).pWorld), "group a\n");
    // A bare "color" passes over the keyword after it, so a million bare lines cancel out in pairs; of
    // the million colour lines after them the last sets the colour.
    std::string strColours = "solid s\n";
    for (int i = 0; i < 1000000; ++i)
        strColours += "color\n";
    for (int i = 0; i < 1000000; ++i)
        strColours += i % 2 == 0 ? "color 1 0 0\n" : "color 0.5 0.25 1\n";
    const LoadOutcome colours = LoadText(strColours + FacetWithX("0").substr(8));
    EXPECT_EQ(DescribeWorld(*colours.pWorld), "group s\n  mesh 1 colour 0.5 0.25 1 1\n");
}

TEST(HostileInputTest, NamesThatLeadToNoReadableFile)
{
    const fs::path folder =
        fs::path(testing::TempDir()) / ("slp_hostile_names_" + std::to_string(ProcessId()));
    fs::create_directories(folder);
    const LoadOutcome directory = LoadPath(folder.string());
    EXPECT_EQ(directory.eResult, SLPLoadFailure);
    EXPECT_EQ(directory.pWorld->GetNumGroups(), 0);

    // A name that is not UTF-8, made with CBasicString::FromPath, opens that very file and not the one
    // whose name is its Windows-1252 reading in UTF-8 ("café"), which the narrow constructor names.
    const std::string strRaw = (folder / "caf\xE9.slp").string();
    std::ofstream(folder / "caf\xC3\xA9.slp") << "solid utf8\n";
    const bool bRawMade = static_cast<bool>(std::ofstream(strRaw) << "solid raw\n");
    CKarnWorld world;
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(strRaw.c_str()));
    EXPECT_EQ(parser.Parse(&world), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(world), "group raw\n");
#if !defined(_WIN32)
    EXPECT_EQ(DescribeWorld(*LoadPath(strRaw).pWorld), "group utf8\n");
#endif
    fs::remove_all(folder);
    if (!bRawMade)
        GTEST_SKIP() << "this file system refuses names that are not UTF-8";
}

#if !defined(_WIN32)
TEST(HostileInputTest, PipesAreReadToTheirEnd)
{
    // A pipe whose writer sends a file in pieces, read in small blocks as "/dev/fd/N" (what a shell's
    // <(zcat part.slp.gz) gives): the same model as the file itself, and progress only at the end,
    // since a pipe has no size to measure against.
    std::string strContents;
    for (int i = 0; i < 3000; ++i)
        strContents += "solid s" + std::to_string(i) + "\n" + FacetWithX(std::to_string(i)).substr(8);
    int aPipe[2];
    ASSERT_EQ(::pipe(aPipe), 0);
    std::thread writer(
        [&strContents, nWrite = aPipe[1]]()
        {
            for (size_t n = 0; n < strContents.size(); n += 4000)
                if (::write(nWrite, strContents.data() + n, std::min<size_t>(4000, strContents.size() - n)) <
                    0)
                    break;
            ::close(nWrite);
        });
    std::vector<int> reports;
    g_onProgress = [&reports](int nPercentage) { reports.push_back(nPercentage); };
    CKarnWorld world;
    CSLPParser parser;
    parser.SetLoaderPtr(&ForwardProgress);
    parser.GetIOManager()->SetBlockSize(1000);
    const SLPLoadResultTypes eResult = LoadFile(parser, world, "/dev/fd/" + std::to_string(aPipe[0]));
    writer.join();
    ::close(aPipe[0]);
    g_onProgress = nullptr;
    ASSERT_EQ(eResult, SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(world), DescribeWorld(*LoadText(strContents).pWorld));
    EXPECT_EQ(reports, std::vector<int>{99});
    EXPECT_EQ(parser.GetIOManager()->GetTotalFileSize64(), static_cast<long long>(strContents.size()));
}

// The reports of a load of the text through a pipe, each with the offset of the current token then;
// bTokenByToken walks the tokens one at a time (line tracking turns the batches off).
std::vector<std::pair<int, long long>> ReportsThroughPipe(const std::string& strContents, bool bTokenByToken,
                                                          size_t nBlockSize)
{
    int aPipe[2];
    if (::pipe(aPipe) != 0)
        return {};
    std::thread writer(
        [&strContents, nWrite = aPipe[1]]()
        {
            if (::write(nWrite, strContents.data(), strContents.size()) < 0)
                ADD_FAILURE() << "pipe write failed";
            ::close(nWrite);
        });
    std::vector<std::pair<int, long long>> reports;
    CKarnWorld world;
    CSLPParser parser;
    g_onProgress = [&](int nPercentage)
    { reports.emplace_back(nPercentage, parser.GetIOManager()->GetCurrentFileOffset64()); };
    parser.SetLoaderPtr(&ForwardProgress);
    parser.GetIOManager()->SetBlockSize(nBlockSize);
    parser.GetIOManager()->SetLineTracking(bTokenByToken);
    LoadFile(parser, world, "/dev/fd/" + std::to_string(aPipe[0]));
    writer.join();
    ::close(aPipe[0]);
    g_onProgress = nullptr;
    return reports;
}

TEST(HostileInputTest, ProgressFromAPipeIsThatOfATokenByTokenWalk)
{
    // A stream's size becomes known where its end is read: the report there comes at the same token
    // whether the load takes its tokens in batches or one at a time.
    std::string strSolids;
    for (int i = 0; i < 300; ++i)
        strSolids += "solid s" + std::to_string(i) + "\n" + FacetWithX(std::to_string(i)).substr(8);
    for (const std::string& strContents :
         {std::string("solid a\nendsolid\n"), std::string("solid a\n"), strSolids})
        for (const size_t nBlockSize : {size_t(7), size_t(4096), size_t(0)})
        {
            const auto walked = ReportsThroughPipe(strContents, true, nBlockSize);
            EXPECT_EQ(ReportsThroughPipe(strContents, false, nBlockSize), walked)
                << strContents.size() << " bytes in blocks of " << nBlockSize;
            EXPECT_FALSE(walked.empty());
        }
}

TEST(HostileInputTest, ProgressOfAGzippedFileFollowsItsCompressedBytes)
{
    std::string strSolids;
    for (int i = 0; i < 20000; ++i)
        strSolids +=
            "solid s" + std::to_string(i) + "\n" + FacetWithX(std::to_string(i * 7919 % 100003)).substr(8);
    const TempFile text(strSolids);
    const std::string strGzip = text.path + ".gz";
    if (std::system(("gzip -c \"" + text.path + "\" > \"" + strGzip + "\"").c_str()) != 0)
        GTEST_SKIP() << "no gzip program here";
    // Reports with the token at each, in batches and runs, and token by token.
    std::vector<std::pair<int, long long>> reports[2];
    for (const bool bTokenByToken : {false, true})
    {
        CKarnWorld world;
        CSLPParser parser;
        g_onProgress = [&](int nPercentage) {
            reports[bTokenByToken].emplace_back(nPercentage, parser.GetIOManager()->GetCurrentFileOffset64());
        };
        parser.SetLoaderPtr(&ForwardProgress);
        parser.GetIOManager()->SetBlockSize(4096);
        parser.GetIOManager()->SetLineTracking(bTokenByToken);
        const SLPLoadResultTypes eResult = LoadFile(parser, world, strGzip);
        g_onProgress = nullptr;
        if (eResult != SLPLoadSuccess && !parser.GetIOManager()->GetFileInterface()->GetIsGzip())
            GTEST_SKIP() << "this build reads no gzip";
        ASSERT_EQ(eResult, SLPLoadSuccess);
        EXPECT_EQ(DescribeWorld(world), DescribeWorld(*LoadText(strSolids).pWorld));
    }
    std::remove(strGzip.c_str());
    EXPECT_EQ(reports[0], reports[1]);
    // The compressed file is read a block at a time, so reports come all along the load.
    EXPECT_GT(reports[0].size(), 5u);
}

TEST(HostileInputTest, ReadErrorsPartWayAreLoadsOfAnUnreadableFile)
{
    // 300 solids; the read that reaches the chosen offset, and every read after it, fails as a failing
    // disk's would. The load and the check both end as for a file that cannot be read, with the
    // system's error, and what was loaded before stays sound.
    std::string strContents;
    for (int i = 0; i < 300; ++i)
        strContents += "solid s" + std::to_string(i) + "\n" + FacetWithX(std::to_string(i)).substr(8);
    const TempFile file(strContents);
    const long long nSize = static_cast<long long>(strContents.size());
    for (const long long nFailAt : {nSize / 2, nSize - 1, nSize})
        for (const size_t nBlockSize : {size_t(64), size_t(4096), size_t(0)})
        {
            CFailingReads failing(nFailAt);
            CKarnWorld world;
            CSLPParser parser;
            parser.GetIOManager()->SetBlockSize(nBlockSize);
            parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&failing);
            const SLPLoadResultTypes eResult = LoadFile(parser, world, file.path);
            if (nBlockSize == 0 && nFailAt < nSize)
            {
                // The whole file is one block: the open's read fails.
                EXPECT_EQ(eResult, SLPLoadResult2);
                continue;
            }
            EXPECT_EQ(eResult, SLPLoadResult2) << nFailAt << " in blocks of " << nBlockSize;
            EXPECT_EQ(DescribeLoadFailure(parser, eResult),
                      "unreadable: " + std::generic_category().message(EIO));
            EXPECT_TRUE(WorldIsConsistent(world, false));
            EXPECT_LE(world.GetNumGroups(), nFailAt * 300 / nSize + 3);
            EXPECT_TRUE(world.GetBBox().IsEmpty());
            // What was collected when the reading stopped is dropped, not made a mesh.
            for (int i = 0; i < world.GetNumGroups(); ++i)
                EXPECT_LE(world.GetGroup(i)->GetNumObjects(), 1);

            CFailingReads checked(nFailAt);
            CCheckOptions options;
            options.m_pReadWatcher = &checked;
            const CCheckReport report = CheckSLPFile(CBasicString(file.path.c_str()), options);
            EXPECT_EQ(report.m_eOpen, SLPLoadResult2);
            EXPECT_EQ(report.m_nSystemError, EIO);
        }
}

TEST(HostileInputTest, NamedPipeWithoutWriterFailsAtOnceInsteadOfHanging)
{
    const std::string strPath = testing::TempDir() + "slp_hostile_fifo_" + std::to_string(ProcessId());
    std::remove(strPath.c_str());
    ASSERT_EQ(::mkfifo(strPath.c_str(), 0600), 0);
    auto load = std::async(std::launch::async, [&strPath]() { return LoadPath(strPath).eResult; });
    const bool bFinished = load.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!bFinished)
    {
        // The open is waiting for a writer: give it one, so that the test ends and reports the hang.
        const int nWriter = ::open(strPath.c_str(), O_WRONLY);
        if (nWriter >= 0)
            ::close(nWriter);
    }
    const SLPLoadResultTypes eResult = load.get();
    std::remove(strPath.c_str());
    EXPECT_TRUE(bFinished) << "opening a pipe waited for a writer";
    EXPECT_EQ(eResult, SLPLoadFailure);
}
#endif

TEST(HostileInputTest, FileChangingWhileItIsRead)
{
    // 200 solids of the same size ("solid sNNN" and one facet).
    std::string strContents;
    for (int i = 100; i < 300; ++i)
        strContents += "solid s" + std::to_string(i) + "\n" + FacetWithX("0").substr(8);
    TempFile file;
    const size_t nShortSize = strContents.size() / 200 * 3;
    for (const bool bShrink : {true, false})
    {
        file.Write(strContents);
        bool bChanged = false;
        int nLast = 0;
        g_onProgress = [&](int nPercentage)
        {
            EXPECT_GT(nPercentage, nLast);
            EXPECT_LE(nPercentage, 99);
            nLast = nPercentage;
            if (bChanged)
                return;
            bChanged = true;
            if (bShrink)
                fs::resize_file(file.path, nShortSize);
            else
                std::ofstream(file.path, std::ios::binary | std::ios::app) << strContents;
        };
        CKarnWorld world;
        CSLPParser parser;
        parser.SetLoaderPtr(&ForwardProgress);
        parser.GetIOManager()->SetBlockSize(64);
        const SLPLoadResultTypes eResult = LoadFile(parser, world, file.path);
        g_onProgress = nullptr;
        ASSERT_TRUE(bChanged);
        EXPECT_EQ(eResult, SLPLoadSuccess);
        EXPECT_TRUE(WorldIsConsistent(world, true));
        // The reader stops where the file now ends: a shrunk file gives only the solids it still holds;
        // a grown file is read past its size at opening, with the progress held at 99.
        EXPECT_EQ(world.GetNumGroups(), bShrink ? 3 : 400);
    }
}
