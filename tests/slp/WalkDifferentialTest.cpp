// A load takes its tokens in batches where no host can watch; a token-by-token walk (line tracking on)
// is the reference. For generated files, whatever the block size and however often the host reads the
// lists, a load must show the host what the reference shows: at every progress report the percentage,
// the current token (offset and text), the current group, the discarded count and the lists' contents,
// and at the end the model, the box and the parser's state.
#include "GeometryText.h"
#include "WorldChecker.h"
#include "slp/SLPParser.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

// A random SLP text of about nSize bytes (runs may go beyond): solids nested three deep and more,
// colours with three numbers or fewer, runs of facets short and long (over several chunks of the
// collection), triples cut short, stray tokens, quoted names and words, CR LF, tabs and blank lines.
// Numbers count up through the file, so that a number taken from the wrong place shows.
std::string RandomFile(unsigned nSeed, size_t nSize)
{
    std::mt19937 rng(nSeed);
    const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    int nNumber = 0;
    const auto number = [&]()
    {
        const char* const aForms[] = {"", ".5", "e-1", ".25"};
        std::string strValue = pick(5) == 0 ? "-" : "";
        strValue += std::to_string(++nNumber % 10000);
        return strValue + aForms[pick(4)];
    };
    const auto space = [&]() -> std::string
    {
        const char* const aSpaces[] = {"\r\n", "\t", "\n", "\n\n", " ", " ", " ", " "};
        return aSpaces[pick(8)];
    };
    const char* const aStrays[] = {"{",    "]",    "(",       ")",    "facet", "outer", "loop",    "endloop",
                                   "true", "word", "\"a b\"", "\"\"", "FACET", "x1e3",  "\"open\n"};
    std::string text;
    int nDepth = 0;
    // Two runs are long, at places of their own.
    const size_t aLongAt[] = {nSize / 8 + static_cast<size_t>(pick(static_cast<int>(nSize / 4))),
                              nSize / 2 + static_cast<size_t>(pick(static_cast<int>(nSize / 4)))};
    size_t nLong = 0;
    while (text.size() < nSize)
    {
        const int nChoice = pick(16);
        if (nChoice < 4 || (nChoice < 7 && nDepth < 3))
        {
            text += pick(3) == 0 ? "SOLID" : "solid";
            text += space();
            const int nName = pick(10) == 0 ? 3 : pick(3);
            text += nName == 0   ? "s" + std::to_string(nNumber)
                    : nName == 1 ? "\"part " + std::to_string(nNumber) + "\""
                    : nName == 2 ? number()
                                 : std::string("endsolid");
            ++nDepth;
        }
        else if (nChoice < 7)
        {
            text += pick(4) == 0 ? "endsolid name" : "endsolid";
            nDepth = nDepth > 0 ? nDepth - 1 : 0;
        }
        else if (nChoice == 7)
        {
            text += "color";
            for (int i = pick(5) == 0 ? pick(3) : 3; i > 0; --i)
            {
                text += space();
                text += number();
            }
        }
        else if (nChoice == 8)
            text += aStrays[pick(15)];
        else
        {
            // A run, mostly of a normal before each vertex.
            const bool bLong = nLong < 2 && text.size() >= aLongAt[nLong];
            const int nVertices = bLong ? 770 + pick(800) : 1 + pick(12);
            nLong += bLong ? 1 : 0;
            for (int v = 0; v < nVertices; ++v)
            {
                const int nShape = pick(200);
                if (nShape != 0 && (nShape > 3 || v % 3 == 0))
                {
                    text += "normal";
                    for (int i = 0; i < 3; ++i)
                        text += " " + number();
                    text += space();
                }
                // Now and then a triple cut short: the token after it is passed over.
                text += "vertex";
                for (int i = nShape == 1 ? 1 + pick(2) : 3; i > 0; --i)
                    text += " " + number();
                text += space();
            }
        }
        text += space();
    }
    return text;
}

// A point or normal list in short: the count, the first and last items and a hash of every coordinate
// in order (a full copy at every report would make the test slow).
std::string ListDigest(CKarnList* pList)
{
    unsigned long long nHash = 14695981039346656037ull;
    const vemoFloatPoint* pFirst = nullptr;
    const vemoFloatPoint* pLast = nullptr;
    for (CBasicListIterator it(pList); it.GetData() != nullptr; it++)
    {
        pLast = static_cast<const vemoFloatPoint*>(it.GetData());
        pFirst = pFirst != nullptr ? pFirst : pLast;
        for (const float f : {pLast->x, pLast->y, pLast->z})
        {
            unsigned nBits;
            std::memcpy(&nBits, &f, sizeof nBits);
            nHash = (nHash ^ nBits) * 1099511628211ull;
        }
    }
    std::ostringstream out;
    out << pList->GetCount();
    if (pFirst != nullptr)
        out << " from " << pFirst->x << " to " << pLast->x << " #" << nHash;
    return out.str();
}

// What the host notes at a progress report: the percentage, the current token, group and discarded count
// (first) and, when it reads them, the lists (second).
typedef std::pair<std::string, std::string> CReport;

// The host: notes every report, and reads the lists at every nListsEvery-th report (never when 0).
struct CTracer
{
    CSLPParser* m_pParser = nullptr;
    int m_nListsEvery = 0;
    std::vector<CReport> m_Reports;
};
CTracer g_tracer;

std::string CurrentGroup(CSLPParser& parser)
{
    CKarnGroup* pGroup = parser.GetCurrentGroup();
    return (pGroup != nullptr ? NarrowName(pGroup->GetGroupName()) : "-") + " in " +
           std::to_string(parser.GetGroupStack()->GetCount());
}

void SLP_STDCALL Trace(int nPercentage)
{
    CSLPParser& parser = *g_tracer.m_pParser;
    const char* pszToken = parser.GetCurrentTokenString();
    CReport report(std::to_string(nPercentage) + "% at " +
                       std::to_string(parser.GetIOManager()->GetCurrentFileOffset64()) + " \"" +
                       (pszToken != nullptr ? pszToken : "(null)") + "\" in " + CurrentGroup(parser) +
                       ", discarded " + std::to_string(parser.GetDiscardedPointCount()),
                   "");
    const int nEvery = g_tracer.m_nListsEvery;
    if (nEvery > 0 && g_tracer.m_Reports.size() % static_cast<size_t>(nEvery) == 0)
        report.second =
            "points " + ListDigest(parser.GetPointList()) + ", normals " + ListDigest(parser.GetNormalList());
    g_tracer.m_Reports.push_back(report);
}

struct CWalk
{
    std::string strEnd; // the result, the model, the box and the parser's state at the end
    std::vector<CReport> reports;
};

CWalk Walk(const std::string& strPath, bool bTokenByToken, size_t nBlockSize, int nListsEvery)
{
    CKarnWorld world;
    CSLPParser parser;
    parser.GetIOManager()->SetLineTracking(bTokenByToken);
    parser.GetIOManager()->SetBlockSize(nBlockSize);
    parser.SetLoaderPtr(&Trace);
    g_tracer = CTracer{&parser, nListsEvery, {}};
    const SLPLoadResultTypes eResult = LoadFile(parser, world, strPath);
    CWalk walk;
    walk.reports.swap(g_tracer.m_Reports);
    const vemoBBox& box = world.GetBBox();
    std::ostringstream end;
    end << "result " << eResult << ", discarded " << parser.GetDiscardedPointCount() << ", last "
        << parser.GetLastPercentage() << ", current " << CurrentGroup(parser) << ", colour "
        << DescribeColor(parser.GetCurrentColor()) << ", box " << box.GetMin().x << ' ' << box.GetMin().y
        << ' ' << box.GetMin().z << " / " << box.GetMax().x << ' ' << box.GetMax().y << ' ' << box.GetMax().z
        << '\n'
        << GeometryText(world, true);
    walk.strEnd = end.str();
    return walk;
}

// Whether the walk shows what the reference shows (lists only where the walk read them); names the
// first difference.
testing::AssertionResult SameAsReference(const CWalk& walk, const CWalk& reference)
{
    if (walk.strEnd != reference.strEnd)
    {
        size_t n = 0;
        while (n < walk.strEnd.size() && walk.strEnd[n] == reference.strEnd[n])
            ++n;
        return testing::AssertionFailure()
               << "the end differs at character " << n << ": " << walk.strEnd.substr(n > 40 ? n - 40 : 0, 120)
               << "\ninstead of " << reference.strEnd.substr(n > 40 ? n - 40 : 0, 120);
    }
    for (size_t i = 0; i < reference.reports.size() && i < walk.reports.size(); ++i)
    {
        const CReport &a = walk.reports[i], &b = reference.reports[i];
        if (a.first != b.first || (!a.second.empty() && a.second != b.second))
            return testing::AssertionFailure() << "report " << i << ": " << a.first << ", " << a.second
                                               << "\ninstead of " << b.first << ", " << b.second;
    }
    if (walk.reports.size() != reference.reports.size())
        return testing::AssertionFailure()
               << walk.reports.size() << " reports instead of " << reference.reports.size();
    return testing::AssertionSuccess();
}

} // namespace

TEST(SLPWalkDifferentialTest, BatchedLoadsShowWhatATokenByTokenWalkShows)
{
    for (unsigned nSeed = 1; nSeed <= 4; ++nSeed)
    {
        SCOPED_TRACE(testing::Message() << "seed " << nSeed);
        const TempFile file(RandomFile(nSeed, 16000 + 6000 * nSeed));
        // The reference reads the lists at every report.
        const CWalk reference = Walk(file.path, true, 0, 1);
        // The file has what it should: many reports, solids three deep, meshes, lost vertices.
        ASSERT_GT(reference.reports.size(), 90u);
        EXPECT_NE(reference.strEnd.find("\n    group "), std::string::npos);
        ASSERT_NE(reference.strEnd.find("mesh colour"), std::string::npos);
        ASSERT_EQ(reference.strEnd.find("discarded 0,"), std::string::npos);
        // The loads read the lists at every report, at every third one, or never, so that the lists
        // take over a run at different places.
        const int aListsEvery[] = {1, 3, 0};
        unsigned nLoad = nSeed;
        for (const size_t nBlockSize :
             {size_t(1), size_t(2), size_t(7), size_t(100), size_t(4096), size_t(0)})
        {
            const int nListsEvery = aListsEvery[nLoad++ % 3];
            EXPECT_TRUE(SameAsReference(Walk(file.path, false, nBlockSize, nListsEvery), reference))
                << "blocks of " << nBlockSize << ", lists at every " << nListsEvery << "th report";
        }
        // The token-by-token walk itself does not depend on the block size.
        EXPECT_TRUE(SameAsReference(Walk(file.path, true, 7, 3), reference));
    }
}
