#include "slp/SLPParser.h"
#include "WorldChecker.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const vemoSTL* MeshAt(const vemoBaseGroup* pGroup, int nIndex)
{
    return dynamic_cast<const vemoSTL*>(pGroup->GetObject(nIndex));
}

template <class TPoint> std::string Text(const TPoint& p)
{
    std::ostringstream out;
    out.precision(9); // enough for every float to read back the same
    out << p.x << ' ' << p.y << ' ' << p.z;
    return out.str();
}

std::string Corners(const vemoBBox& box)
{
    return Text(box.GetMin()) + " / " + Text(box.GetMax());
}

// The vertices of the group's mesh objects: ", " between the vertices of a triangle, "; " between
// triangles, " | " between objects.
std::string Vertices(const vemoBaseGroup* pGroup)
{
    std::string text;
    for (int i = 0; i < pGroup->GetNumObjects(); ++i)
        for (int t = 0; t < MeshAt(pGroup, i)->m_nTriangleCount; ++t)
        {
            const vemoFloatPoint* v = MeshAt(pGroup, i)->m_pTriangles[t].m_Vertex;
            text += (t > 0 ? "; " : i > 0 ? " | " : "") + Text(v[0]) + ", " + Text(v[1]) + ", " + Text(v[2]);
        }
    return text;
}

std::vector<int> g_reports;
void SLP_STDCALL RecordProgress(int nPercentage)
{
    g_reports.push_back(nPercentage);
}

// The percentages the parser reports during one load.
std::vector<int> ReportsOfLoad(CSLPParser& parser, CKarnWorld& world, const std::string& path)
{
    g_reports.clear();
    parser.SetLoaderPtr(&RecordProgress);
    LoadFile(parser, world, path);
    return g_reports;
}

} // namespace

TEST(SLPParseTest, FixturesLoadIntoTheirTrees)
{
    const char* const pszPlain = "0 0 0, 1 0 0, 0 1 0";
    const struct
    {
        const char* pszFile;
        SLPLoadResultTypes eResult;
        const char* pszTree;     // as DescribeWorld gives it
        const char* pszVertices; // of the first group's meshes
        const char* pszBox;      // of the world, when it holds geometry
        int nOpenGroup;          // the top-level group left open, or -1
    } cases[] = {
        {"one_facet.slp", SLPLoadSuccess, "group cube\n  mesh 1 colour 1 1 1 1\n", "0 0 0, 1 0 0, 1 1 0",
         "0 0 0 / 1 1 0", -1},
        // The assembly's facets before and after the wheel are two runs, split by the wheel's flushes.
        {"nested_solids.slp", SLPLoadSuccess,
         "group assembly\n  mesh 1 colour 1 1 1 1\n  mesh 1 colour 1 1 1 1\n  group wheel\n"
         "    mesh 2 colour 1 1 1 1\n    group hub\n      mesh 1 colour 1 1 1 1\ngroup lid\n"
         "  mesh 1 colour 1 1 1 1\n",
         "0 0 0, 1 0 0, 0 1 0 | 0 4 0, 1 4 0, 0 4 1", "-2 -2 -2 / 5 4 7", -1},
        // A colour starts a new run; components are taken as written, and a solid without a "color"
        // line keeps the colour in force.
        {"colour_runs.slp", SLPLoadSuccess,
         "group painted\n  mesh 2 colour 1 1 1 1\n  mesh 1 colour 0.5 1 0.25 1\n",
         "0 0 0, 1 0 0, 0 1 0; 1 1 0, 2 1 0, 1 2 0 | 3 3 3, 4 3 3, 3 4 3", "0 0 0 / 4 4 3", -1},
        {"colour_across_solids.slp", SLPLoadSuccess,
         "group first\n  mesh 1 colour 255 128 0 1\ngroup second\n  mesh 1 colour 255 128 0 1\n", pszPlain,
         "0 0 0 / 1 1 5", -1},
        // A "color" without numbers still ends the run (and passes over the token after it).
        {"bare_colour.slp", SLPLoadSuccess, "group s\n  mesh 1 colour 1 1 1 1\n  mesh 1 colour 1 1 1 1\n",
         "0 0 0, 1 0 0, 0 1 0 | 0 0 2, 1 0 2, 0 1 2", "0 0 0 / 1 1 2", -1},
        // A cut-short triple keeps the previous component and loses the next keyword.
        {"cut_short_triple.slp", SLPLoadSuccess, "group cut\n  mesh 1 colour 1 1 1 1\n",
         "7 8 9, 1 2 9, 10 11 12", "1 2 9 / 10 11 12", -1},
        // Geometry outside solids is discarded.
        {"geometry_before_solid.slp", SLPLoadSuccess, "group after\n  mesh 1 colour 1 1 1 1\n",
         "0 0 2, 1 0 2, 0 1 2", "0 0 2 / 1 1 2", -1},
        {"endsolid_without_solid.slp", SLPLoadSuccess, "group real\n  mesh 1 colour 1 1 1 1\n",
         "0 0 2, 1 0 2, 0 1 2", "0 0 2 / 1 1 2", -1},
        {"upper_case.slp", SLPLoadSuccess, "group UPPER\n  mesh 1 colour 1 1 1 1\n", pszPlain,
         "0 0 0 / 1 1 0", -1},
        {"crlf_line_ends.slp", SLPLoadSuccess, "group mixed\n  mesh 1 colour 1 1 1 1\n", pszPlain,
         "0 0 0 / 1 1 0", -1},
        // The token after "SOLID" names the group whatever it is: "ENDSOLID" (the group stays open), the
        // end of the input (the group is left open), a quoted text (the quotes stay: RemoveQuotes is the
        // host's to call).
        {"solid_then_endsolid.slp", SLPLoadSuccess, "group ENDSOLID\n  group inner\n", "", "", 0},
        {"ends_after_solid.slp", SLPLoadSuccess, "group named\ngroup \n", "", "", 1},
        {"quoted_name.slp", SLPLoadSuccess, "group \"Front Panel\"\n", "", "", -1},
        {"empty.slp", SLPLoadFailure, "", "", "", -1},
        {"no_keywords.slp", SLPLoadFailure, "", "", "", -1}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszFile);
        CKarnWorld world;
        CSLPParser parser;
        parser.SetDecimationMagnitude(0.25);
        ASSERT_EQ(LoadFile(parser, world, DataPath(c.pszFile)), c.eResult);
        EXPECT_EQ(DescribeWorld(world), c.pszTree);
        EXPECT_TRUE(WorldIsConsistent(world, true));
        EXPECT_EQ(world.GetNumGroups() > 0 ? Vertices(world.GetGroup(0)) : "", c.pszVertices);
        EXPECT_EQ(*c.pszBox != '\0' ? Corners(world.GetBBox()) : "", c.pszBox);
        EXPECT_EQ(parser.GetCurrentGroup(), c.nOpenGroup < 0 ? nullptr : world.GetGroup(c.nOpenGroup));
        // The last flush emptied the lists. A mesh carries the parser's decimation magnitude, and a
        // normal for each vertex (every fixture's first facet faces up).
        EXPECT_EQ(parser.GetPointList()->GetCount() + parser.GetNormalList()->GetCount(), 0);
        if (*c.pszVertices != '\0')
        {
            const vemoSTL* pMesh = MeshAt(world.GetGroup(0), 0);
            EXPECT_EQ(pMesh->GetDecimationMagnitude(), 0.25);
            for (const vemoVector& n : pMesh->m_pTriangles[0].m_Normal)
                EXPECT_EQ(Text(n), "0 0 1");
        }
    }
}

TEST(SLPParseTest, ResultsOfLoadsThatAddNothing)
{
    // The count of discarded vertices starts again with each load.
    CKarnWorld world;
    CSLPParser parser;
    ASSERT_EQ(LoadFile(parser, world, DataPath("geometry_before_solid.slp")), SLPLoadSuccess);
    EXPECT_EQ(parser.GetDiscardedPointCount(), 3);
    // A file that adds nothing to a world that already holds a group succeeds, and the world takes the
    // parser's estimated box.
    vemoBBox box;
    box.Update(vemoFloatPoint(-3, 4, 5));
    parser.SetEstimatedBoundingBox(box);
    EXPECT_EQ(LoadFile(parser, world, DataPath("no_keywords.slp")), SLPLoadSuccess);
    EXPECT_EQ(parser.GetDiscardedPointCount(), 0);
    EXPECT_EQ(Corners(world.GetBBox()), "-3 0 2 / 1 4 5");

    // A missing file, an empty name or a null world fail without touching the world; a file that opens
    // but cannot be read gives the tokenizer's outcome 2.
    CKarnWorld untouched;
    EXPECT_EQ(LoadFile(parser, untouched, DataPath("does_not_exist.slp")), SLPLoadFailure);
#if defined(__linux__)
    EXPECT_EQ(LoadFile(parser, untouched, "/proc/self/mem"), SLPLoadResult2); // reading offset 0 fails
#endif
    EXPECT_EQ(untouched.GetNumGroups(), 0);
    EXPECT_TRUE(untouched.GetBBox().IsEmpty());
    EXPECT_EQ(LoadFile(parser, untouched, ""), SLPLoadFailure);
    parser.SetFileName(CBasicString(DataPath("one_facet.slp").c_str()));
    EXPECT_EQ(parser.Parse(nullptr), SLPLoadFailure);
    EXPECT_EQ(parser.GetWorld(), nullptr);
}

TEST(SLPParseTest, SecondLoadContinuesInsideAnOpenSolidOnlyInTheSameWorld)
{
    CSLPParser parser;
    // The worlds take turns in the same storage, so a group left open in a world that is gone cannot be
    // told from a live one by the address of its world.
    alignas(CKarnWorld) unsigned char storage[sizeof(CKarnWorld)];
    auto* pWorld = new (storage) CKarnWorld();
    // The colour and the estimated box of a load carry over into the next one.
    ASSERT_EQ(LoadFile(parser, *pWorld, DataPath("colour_runs.slp")), SLPLoadSuccess);
    ASSERT_EQ(LoadFile(parser, *pWorld, DataPath("solid_then_endsolid.slp")), SLPLoadSuccess);
    ASSERT_NE(parser.GetCurrentGroup(), nullptr);

    // Into the same world, the next solid becomes a child of the open one.
    ASSERT_EQ(LoadFile(parser, *pWorld, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(*pWorld),
              "group painted\n  mesh 2 colour 1 1 1 1\n  mesh 1 colour 0.5 1 0.25 1\n"
              "group ENDSOLID\n  group inner\n  group cube\n    mesh 1 colour 0.5 1 0.25 1\n");

    // Once that world is gone, the stale stack is dropped instead of being followed.
    pWorld->~CKarnWorld();
    pWorld = new (storage) CKarnWorld();
    ASSERT_EQ(LoadFile(parser, *pWorld, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(*pWorld), "group cube\n  mesh 1 colour 0.5 1 0.25 1\n");
    EXPECT_EQ(Corners(pWorld->GetBBox()), "0 0 0 / 4 4 3");

    // A live group the host makes current takes the next load's solids.
    auto* pHost = new CKarnGroup();
    ASSERT_TRUE(pWorld->AddGroup(pHost, 1));
    parser.SetCurrentGroup(pHost);
    ASSERT_EQ(LoadFile(parser, *pWorld, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(pHost->GetNumGroups(), 1);
    pWorld->~CKarnWorld();

    // A group destroyed after the parser kept it is dropped even when another group of the same world
    // has taken its address since.
    alignas(CKarnGroup) unsigned char groupStorage[sizeof(CKarnGroup)];
    CKarnWorld third;
    auto* pGone = new (groupStorage) CKarnGroup();
    ASSERT_TRUE(third.AddGroup(pGone, 0));
    parser.SetCurrentGroup(pGone);
    pGone->~CKarnGroup();
    auto* pOther = new (groupStorage) CKarnGroup();
    ASSERT_TRUE(third.AddGroup(pOther, 0));
    ASSERT_EQ(LoadFile(parser, third, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(pOther->GetNumGroups(), 0);
    EXPECT_EQ(third.GetNumGroups(), 2);
    pOther->~CKarnGroup();
}

TEST(SLPProgressTest, ReportsAreThePercentageAtATokensEndWhenItGrows)
{
    // Tokens end at offsets 29, 57, 58 and 100 of 100 bytes (29 of 100 is 28.999... in double precision).
    TempFile file(std::string(29, 'a') + " " + std::string(27, 'b') + "{ " + std::string(41, 'c'));
    CKarnWorld world;
    CSLPParser parser;
    EXPECT_EQ(ReportsOfLoad(parser, world, file.path), (std::vector<int>{28, 56, 57, 99}));

    // A second load reports only above the highest percentage of the first, until the host resets it.
    EXPECT_EQ(ReportsOfLoad(parser, world, file.path), std::vector<int>());
    parser.SetLastPercentage(56);
    EXPECT_EQ(ReportsOfLoad(parser, world, file.path), (std::vector<int>{57, 99}));

    // An empty file has no size to measure progress against.
    CSLPParser fresh;
    EXPECT_EQ(ReportsOfLoad(fresh, world, DataPath("empty.slp")), std::vector<int>());
    EXPECT_EQ(fresh.GetLastPercentage(), 0);

    // Without a callback the percentage still advances, so a callback set later hears only what is new.
    CSLPParser silent;
    LoadFile(silent, world, file.path);
    EXPECT_EQ(silent.GetLastPercentage(), 99);
    EXPECT_EQ(ReportsOfLoad(silent, world, file.path), std::vector<int>());

    // Words of every length from 1 to 37 bytes, so that every percentage is crossed at a different place.
    std::string text;
    std::vector<size_t> ends;
    for (int i = 0; text.size() < 12345; ++i)
    {
        text += std::string(static_cast<size_t>(1 + i % 37), 'w');
        ends.push_back(text.size());
        text += i % 5 == 0 ? "\n" : " ";
    }
    ends.push_back(text.size()); // the end of the input
    std::vector<int> expected;
    for (const size_t nEnd : ends)
    {
        const int nPercentage = std::min(
            static_cast<int>(static_cast<double>(nEnd) / static_cast<double>(text.size()) * 100.0), 99);
        if (nPercentage > (expected.empty() ? 0 : expected.back()))
            expected.push_back(nPercentage);
    }
    file.Write(text);
    CSLPParser wordy;
    EXPECT_EQ(ReportsOfLoad(wordy, world, file.path), expected);
    EXPECT_GT(expected.size(), 60u);
}

CSLPParser* g_pWatched = nullptr;
std::vector<std::string> g_listProblems;
int g_nListChecks = 0;
int g_nMostPoints = 0;
int g_nListFrom = 0; // the percentage from which the callback looks at the lists
void SLP_STDCALL CheckListsDuringLoad(int nPercentage)
{
    if (nPercentage < g_nListFrom)
        return;
    // Vertex i of the file lies at x = i: the list must hold exactly the vertices read so far, in order,
    // and at most one normal more (a facet's normal comes before its vertex).
    CKarnList* pPoints = g_pWatched->GetPointList();
    const int nNormals = g_pWatched->GetNormalList()->GetCount();
    ++g_nListChecks;
    g_nMostPoints = std::max(g_nMostPoints, pPoints->GetCount());
    if (nNormals != pPoints->GetCount() && nNormals != pPoints->GetCount() + 1)
        g_listProblems.push_back("normals " + std::to_string(nNormals));
    CBasicListIterator it(pPoints);
    for (int i = 0; it.GetData() != nullptr; ++i, it++)
        if (static_cast<const vemoFloatPoint*>(it.GetData())->x != static_cast<float>(i))
            g_listProblems.push_back("vertex " + std::to_string(i));
}

TEST(SLPParseTest, HostsSeeTheCollectedGeometryInTheListsDuringALoad)
{
    // The host asks for the lists from the first report on, first when more than half of 6,000
    // vertices were collected (which then move to the lists at once), or never.
    const std::pair<int, int> cases[] = {{300, 0}, {2000, 60}, {2000, 101}};
    for (const auto& [nFacets, nListFrom] : cases)
    {
        // Vertex i is (i, 0, i), so that a coordinate taken from the wrong token shows.
        std::string text = "solid s\n";
        for (int i = 0; i < 3 * nFacets; ++i)
            text += "normal 0 0 1 vertex " + std::to_string(i) + " 0 " + std::to_string(i) + "\n";
        TempFile file(text + "endsolid\n");
        CKarnWorld world;
        CSLPParser parser;
        g_pWatched = &parser;
        g_listProblems.clear();
        g_nListChecks = 0;
        g_nMostPoints = 0;
        g_nListFrom = nListFrom;
        parser.SetLoaderPtr(&CheckListsDuringLoad);
        ASSERT_EQ(LoadFile(parser, world, file.path), SLPLoadSuccess);
        EXPECT_EQ(g_nListChecks > 35, nListFrom <= 100);
        EXPECT_EQ(g_nMostPoints > 3 * nFacets * 97 / 100, nListFrom <= 100);
        EXPECT_EQ(g_listProblems, std::vector<std::string>());
        // What the lists took during the load reaches the mesh, in file order.
        const vemoSTL* pMesh = MeshAt(world.GetGroup(0), 0);
        ASSERT_EQ(pMesh->m_nTriangleCount, nFacets);
        for (int i = 0; i < 3 * nFacets; ++i)
        {
            const vemoFloatPoint& v = pMesh->m_pTriangles[i / 3].m_Vertex[i % 3];
            ASSERT_TRUE(v.x == static_cast<float>(i) && v.y == 0.0f && v.z == v.x) << "vertex " << i;
        }
        EXPECT_EQ(pMesh->m_pTriangles[nFacets / 2].m_Normal[1].z, 1.0f);
    }
    g_nListFrom = 0;
}

TEST(SLPTokenTest, QueriesSeeTheSLPMeaningOfTokens)
{
    TempFile file("{ ] ( solid 1.5 \"q t\" TRUE word endloop ) } [ ENDSOLID facet Endfacet outer loop "
                  "normal vertex color");
    CSLPParser parser;
    parser.GetIOManager()->SetFilename(CBasicString(file.path.c_str()));
    ASSERT_EQ(parser.GetIOManager()->OpenInputFile(), SLPLoadSuccess);
    const SLPTokenTypes expected[] = {
        SLPTokenOpenBrace,    SLPTokenCloseBracket, SLPTokenOpenParen, SLPTokenSolid,   SLPTokenNumber,
        SLPTokenGenericType8, SLPTokenGenericType9, SLPTokenNone,      SLPTokenEndLoop, SLPTokenCloseParen,
        SLPTokenCloseBrace,   SLPTokenOpenBracket,  SLPTokenEndSolid,  SLPTokenFacet,   SLPTokenEndFacet,
        SLPTokenOuter,        SLPTokenLoop,         SLPTokenNormal,    SLPTokenVertex,  SLPTokenColor,
        SLPTokenEndOfFile};
    for (size_t i = 0; i < sizeof(expected) / sizeof(expected[0]); ++i)
    {
        // The lookahead sees the token the next Tokenize makes current: "{ ] (" begin, end, begin.
        const SLPTokenTypes type = expected[i];
        const bool bBegin = i == 0 || i == 2 || i == 11;
        const bool bEnd = i == 1 || i == 9 || i == 10;
        EXPECT_EQ(parser.GetNextTokenType(), type);
        EXPECT_EQ(parser.GetNextTokenEndType(), bEnd);
        EXPECT_EQ(parser.GetNextTokenBeginType(), bBegin);
        parser.Tokenize();
        EXPECT_EQ(parser.GetCurrentTokenType(), type) << parser.GetCurrentTokenString();
        EXPECT_EQ(parser.GetCurrentTokenBeginType(), bBegin);
        EXPECT_EQ(parser.GetCurrentTokenEndType(), bEnd);
        EXPECT_EQ(parser.GetCurrentTokenNumericValue(), type == SLPTokenNumber ? 1.5 : 0.0);
        EXPECT_EQ(parser.GetCurrentTokenBooleanValue(), type == SLPTokenGenericType9);
    }
    // The walk helper stops at once on a token with a meaning, and at the latest at the end.
    parser.MoveUpToInterestingToken();
    EXPECT_EQ(parser.GetCurrentTokenType(), SLPTokenEndOfFile);
}

TEST(SLPFlushTest, RunsThatCannotBecomeMeshesAreDropped)
{
    CKarnWorld world;
    CSLPParser parser;
    parser.SetWorld(&world);
    // Collects points (i, 0, 0) and normals, flushes, and tells whether a mesh was made and how many
    // points and normals are left in the lists.
    auto flush = [&parser](int nPoints, int nNormals)
    {
        for (int i = 0; i < std::max(nPoints, nNormals); ++i)
        {
            vemoFloatPoint p(static_cast<float>(i), 0, 0);
            vemoVector n(0, 0, 1);
            if (i < nPoints)
                parser.AddPointToList(p);
            if (i < nNormals)
                parser.AddNormalToList(n);
        }
        const bool bMade = parser.FlushGeometryToWorld();
        return std::to_string(bMade) + " " + std::to_string(parser.GetPointList()->GetCount()) + " " +
               std::to_string(parser.GetNormalList()->GetCount());
    };
    EXPECT_EQ(flush(6, 6), "0 0 0"); // no current group
    auto* pGroup = new CKarnGroup();
    parser.PushGroup(pGroup);
    EXPECT_EQ(flush(3, 1), "0 0 0"); // one normal per facet
    EXPECT_EQ(flush(2, 2), "0 0 0"); // too few points for a facet
    EXPECT_EQ(pGroup->GetNumObjects(), 0);
    EXPECT_TRUE(parser.GetEstimatedBoundingBox().IsEmpty());

    // Four points: one triangle, the fourth pair dropped; the colour in force at the flush is used.
    parser.GetCurrentColor().green = 0.5f;
    EXPECT_EQ(flush(4, 4), "1 0 0");
    EXPECT_EQ(flush(0, 0), "0 0 0");
    EXPECT_EQ(parser.GetDiscardedPointCount(), 6 + 3 + 2 + 1);
    ASSERT_EQ(pGroup->GetNumObjects(), 1);
    EXPECT_EQ(Vertices(pGroup), "0 0 0, 1 0 0, 2 0 0");
    EXPECT_EQ(DescribeColor(pGroup->GetObjectMaterial(0)->m_Back.GetDiffuse()), "1 0.5 1 1");
    EXPECT_EQ(Corners(parser.GetEstimatedBoundingBox()), "0 0 0 / 2 0 0");
    EXPECT_TRUE(WorldIsConsistent(world, false));
}

TEST(SLPStateTest, GroupStackCopiesAndReinitialising)
{
    CSLPParser parser;
    // Without a current group or a world, a pushed group stays the caller's.
    CKarnGroup orphan;
    parser.PushGroup(&orphan);
    EXPECT_EQ(parser.GetCurrentGroup(), nullptr);
    EXPECT_EQ(parser.GetGroupStack()->GetCount(), 0);

    CKarnWorld world;
    parser.SetWorld(&world);
    auto* pFirst = new CKarnGroup();
    auto* pSecond = new CKarnGroup();
    parser.PushGroup(pFirst);
    parser.PushGroup(pSecond);
    EXPECT_EQ(pSecond->GetParent(), pFirst);
    parser.PopGroup();
    EXPECT_EQ(parser.GetCurrentGroup(), pFirst);
    parser.PopGroup();
    EXPECT_EQ(parser.GetParentGroup(), &world);
    parser.SetCurrentGroup(pSecond);
    parser.PopGroup();
    EXPECT_EQ(parser.GetCurrentGroup(), nullptr);
    // Clearing the stack leaves the current group (and the model) as they are.
    parser.PushGroup(new CKarnGroup());
    parser.PushGroup(pSecond = new CKarnGroup());
    parser.ClearGroupStack();
    EXPECT_EQ(parser.GetGroupStack()->GetCount(), 0);
    EXPECT_EQ(parser.GetCurrentGroup(), pSecond);
    EXPECT_EQ(world.GetNumGroups(), 2);

    // A stored point is a copy; a copied parser shares the world but owns its lists.
    vemoFloatPoint point(1, 2, 3);
    parser.AddPointToList(point);
    point.x = 9;
    CSLPParser copy(parser);
    EXPECT_EQ(copy.GetWorld(), &world);
    copy.ClearPointList();
    ASSERT_EQ(parser.GetPointList()->GetCount(), 1);
    EXPECT_EQ(static_cast<vemoFloatPoint*>(parser.GetPointList()->GetHead())->x, 1.0f);

    // InitializeVariables keeps the file name and the collected points, and resets the rest.
    parser.SetFileName(CBasicString("kept.slp"));
    parser.SetDecimationMagnitude(3.0);
    parser.InitializeVariables();
    EXPECT_TRUE(parser.GetFileName() == "kept.slp");
    EXPECT_EQ(parser.GetWorld(), nullptr);
    EXPECT_EQ(parser.GetDecimationMagnitude(), 0.0);
    EXPECT_EQ(parser.GetPointList()->GetCount(), 1);
}

TEST(SLPQuotesTest, RemovesEveryDoubleQuoteOnly)
{
    CSLPParser parser;
    CBasicString text;
    EXPECT_FALSE(parser.RemoveQuotes(text));
    const std::pair<const char*, const char*> cases[] = {
        {"\"abc\"", "abc"}, {"a\"b\"c\"", "abc"}, {"\"\"\"", ""}, {"\"x", "x"}, {"x\"", "x"}};
    for (const auto& c : cases)
    {
        text = c.first;
        EXPECT_TRUE(parser.RemoveQuotes(text)) << c.first;
        EXPECT_TRUE(text == c.second) << c.first;
    }
    // Without a double quote the text is not reassigned, so its narrow copy stays valid.
    text = "it's \xE2\x80\x9Cgood\xE2\x80\x9D";
    const char* pszNarrow = text.GetNarrowString();
    EXPECT_FALSE(parser.RemoveQuotes(text));
    EXPECT_STREQ(pszNarrow, "it's \xE2\x80\x9Cgood\xE2\x80\x9D");
}
