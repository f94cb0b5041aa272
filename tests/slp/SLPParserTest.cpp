#include "slp/SLPParser.h"
#include "WorldChecker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace
{

std::string DataPath(const char* pszName)
{
    return std::string(SLP_TEST_DATA_DIR) + "/" + pszName;
}

SLPLoadResultTypes Load(CSLPParser& parser, CKarnWorld& world, const std::string& path)
{
    parser.SetFileName(CBasicString(path.c_str()));
    return parser.Parse(&world);
}

const vemoSTL* MeshAt(const vemoBaseGroup* pGroup, int nIndex)
{
    return dynamic_cast<const vemoSTL*>(pGroup->GetObject(nIndex));
}

void ExpectPoint(const vemoFloatPoint& p, float x, float y, float z)
{
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.z, z);
}

std::vector<int> g_reports;
void SLP_STDCALL RecordProgress(int nPercentage)
{
    g_reports.push_back(nPercentage);
}

// A file in the test's temporary folder, removed at the end of the test.
struct TempFile
{
    explicit TempFile(const std::string& contents)
        : path(testing::TempDir() + "slp_parser_" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".slp")
    {
        std::ofstream(path, std::ios::binary) << contents;
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

} // namespace

TEST(SLPParseTest, RoadOfOneLoad)
{
    CKarnWorld world;
    CSLPParser parser;
    ASSERT_EQ(Load(parser, world, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(world), "group cube\n  mesh 1 colour 1 1 1 1\n");
    EXPECT_TRUE(WorldIsConsistent(world, true));

    const vemoSTL* pMesh = MeshAt(world.GetGroup(0), 0);
    ASSERT_NE(pMesh, nullptr);
    ExpectPoint(pMesh->m_pTriangles[0].m_Vertex[0], 0, 0, 0);
    ExpectPoint(pMesh->m_pTriangles[0].m_Vertex[1], 1, 0, 0);
    ExpectPoint(pMesh->m_pTriangles[0].m_Vertex[2], 1, 1, 0);
    for (const vemoVector& n : pMesh->m_pTriangles[0].m_Normal)
        EXPECT_TRUE(n.x == 0 && n.y == 0 && n.z == 1);
    ExpectPoint(world.GetBBox().GetMin(), 0, 0, 0);
    ExpectPoint(world.GetBBox().GetMax(), 1, 1, 0);
    // The solid was closed, and the lists were emptied by the last flush.
    EXPECT_EQ(parser.GetCurrentGroup(), nullptr);
    EXPECT_EQ(parser.GetPointList()->GetCount(), 0);
    EXPECT_EQ(parser.GetNormalList()->GetCount(), 0);
}

TEST(SLPParseTest, NestedSolidsBecomeNestedGroups)
{
    CKarnWorld world;
    CSLPParser parser;
    parser.SetDecimationMagnitude(0.25);
    ASSERT_EQ(Load(parser, world, DataPath("nested_solids.slp")), SLPLoadSuccess);
    // The assembly's facets before and after the wheel are two runs, split by the wheel's flushes.
    EXPECT_EQ(DescribeWorld(world), "group assembly\n"
                                    "  mesh 1 colour 1 1 1 1\n"
                                    "  mesh 1 colour 1 1 1 1\n"
                                    "  group wheel\n"
                                    "    mesh 2 colour 1 1 1 1\n"
                                    "    group hub\n"
                                    "      mesh 1 colour 1 1 1 1\n"
                                    "group lid\n"
                                    "  mesh 1 colour 1 1 1 1\n");
    EXPECT_TRUE(WorldIsConsistent(world, true));
    EXPECT_EQ(MeshAt(world.GetGroup(0), 0)->GetDecimationMagnitude(), 0.25);
    ExpectPoint(world.GetBBox().GetMin(), -2, -2, -2);
    ExpectPoint(world.GetBBox().GetMax(), 5, 4, 7);
}

TEST(SLPParseTest, ColourRunsAndColourCarriedAcrossSolids)
{
    CKarnWorld world;
    CSLPParser parser;
    ASSERT_EQ(Load(parser, world, DataPath("colour_runs.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(world), "group painted\n  mesh 2 colour 1 1 1 1\n  mesh 1 colour 0.5 1 0.25 1\n");
    const vemoSTL* pSecond = MeshAt(world.GetGroup(0), 1);
    ExpectPoint(pSecond->m_pTriangles[0].m_Vertex[0], 3, 3, 3);

    // Components are taken as written, and a solid without a "color" line keeps the colour in force.
    CKarnWorld other;
    ASSERT_EQ(Load(parser, other, DataPath("colour_across_solids.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(other), "group first\n  mesh 1 colour 255 128 0 1\n"
                                    "group second\n  mesh 1 colour 255 128 0 1\n");
}

TEST(SLPParseTest, CutShortTripleKeepsPreviousComponentAndLosesTheNextKeyword)
{
    CKarnWorld world;
    CSLPParser parser;
    ASSERT_EQ(Load(parser, world, DataPath("cut_short_triple.slp")), SLPLoadSuccess);
    ASSERT_EQ(DescribeWorld(world), "group cut\n  mesh 1 colour 1 1 1 1\n");
    const vemoTRex& triangle = MeshAt(world.GetGroup(0), 0)->m_pTriangles[0];
    ExpectPoint(triangle.m_Vertex[0], 7, 8, 9);
    ExpectPoint(triangle.m_Vertex[1], 1, 2, 9);
    ExpectPoint(triangle.m_Vertex[2], 10, 11, 12);
}

TEST(SLPParseTest, GeometryOutsideSolidsIsDiscarded)
{
    for (const char* pszName : {"geometry_before_solid.slp", "endsolid_without_solid.slp"})
    {
        SCOPED_TRACE(pszName);
        CKarnWorld world;
        CSLPParser parser;
        ASSERT_EQ(Load(parser, world, DataPath(pszName)), SLPLoadSuccess);
        EXPECT_EQ(world.GetNumObjects(), 0);
        ASSERT_EQ(world.GetNumGroups(), 1);
        const vemoSTL* pMesh = MeshAt(world.GetGroup(0), 0);
        ASSERT_NE(pMesh, nullptr);
        EXPECT_EQ(pMesh->m_nTriangleCount, 1);
        EXPECT_EQ(pMesh->m_pTriangles[0].m_Vertex[0].z, 2.0f);
        EXPECT_EQ(parser.GetCurrentGroup(), nullptr);
    }
}

TEST(SLPParseTest, NameTokenIsTakenWhateverItIs)
{
    // "SOLID" directly followed by "ENDSOLID": the keyword names the group, which stays open.
    CKarnWorld world;
    CSLPParser parser;
    ASSERT_EQ(Load(parser, world, DataPath("solid_then_endsolid.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(world), "group ENDSOLID\n  group inner\n");
    EXPECT_EQ(parser.GetCurrentGroup(), world.GetGroup(0));

    // A file ending right after "SOLID": the group is named by the end of the input and left open.
    CKarnWorld second;
    CSLPParser other;
    ASSERT_EQ(Load(other, second, DataPath("ends_after_solid.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(second), "group named\ngroup \n");
    EXPECT_EQ(other.GetCurrentGroup(), second.GetGroup(1));

    // Quotes stay in the name; RemoveQuotes is the host's to call.
    CKarnWorld third;
    ASSERT_EQ(Load(other, third, DataPath("quoted_name.slp")), SLPLoadSuccess);
    ASSERT_EQ(third.GetNumGroups(), 1);
    EXPECT_EQ(NarrowName(third.GetGroup(0)->GetGroupName()), "\"Front Panel\"");
}

TEST(SLPParseTest, KeywordCaseAndLineEnds)
{
    for (const char* pszName : {"upper_case.slp", "crlf_line_ends.slp"})
    {
        SCOPED_TRACE(pszName);
        CKarnWorld world;
        CSLPParser parser;
        ASSERT_EQ(Load(parser, world, DataPath(pszName)), SLPLoadSuccess);
        ASSERT_EQ(world.GetNumGroups(), 1);
        EXPECT_EQ(world.GetGroup(0)->GetNumObjects(), 1);
        EXPECT_EQ(MeshAt(world.GetGroup(0), 0)->m_pTriangles[0].m_Vertex[1].x, 1.0f);
        EXPECT_EQ(parser.GetCurrentGroup(), nullptr);
    }
}

TEST(SLPParseTest, ResultsOfLoadsThatAddNothing)
{
    for (const char* pszName : {"empty.slp", "no_keywords.slp"})
    {
        CKarnWorld world;
        CSLPParser parser;
        EXPECT_EQ(Load(parser, world, DataPath(pszName)), SLPLoadFailure) << pszName;
    }

    // A world that already holds a group succeeds, and takes the parser's estimated box.
    CKarnWorld world;
    world.AddGroup(new CKarnGroup(), 1);
    CSLPParser parser;
    vemoBBox box;
    box.Update(vemoFloatPoint(-3, 4, 5));
    parser.SetEstimatedBoundingBox(box);
    EXPECT_EQ(Load(parser, world, DataPath("no_keywords.slp")), SLPLoadSuccess);
    ExpectPoint(world.GetBBox().GetMin(), -3, 4, 5);

    // A missing file, an empty name or a null world fail without touching the world.
    CKarnWorld untouched;
    EXPECT_EQ(Load(parser, untouched, DataPath("does_not_exist.slp")), SLPLoadFailure);
    EXPECT_EQ(untouched.GetNumGroups(), 0);
    EXPECT_TRUE(untouched.GetBBox().IsEmpty());
    parser.SetFileName(CBasicString(""));
    EXPECT_EQ(parser.Parse(&untouched), SLPLoadFailure);
    parser.SetFileName(CBasicString(DataPath("one_facet.slp").c_str()));
    EXPECT_EQ(parser.Parse(nullptr), SLPLoadFailure);
    EXPECT_EQ(parser.GetWorld(), nullptr);
}

TEST(SLPParseTest, SecondLoadContinuesInsideAnOpenSolidOnlyInTheSameWorld)
{
    CSLPParser parser;
    auto first = std::make_unique<CKarnWorld>();
    ASSERT_EQ(Load(parser, *first, DataPath("solid_then_endsolid.slp")), SLPLoadSuccess);
    ASSERT_NE(parser.GetCurrentGroup(), nullptr);

    // Into the same world, the next solid becomes a child of the open one.
    ASSERT_EQ(Load(parser, *first, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(*first),
              "group ENDSOLID\n  group inner\n  group cube\n    mesh 1 colour 1 1 1 1\n");

    // Once that world is gone, the stale stack is dropped instead of being followed.
    first.reset();
    CKarnWorld second;
    ASSERT_EQ(Load(parser, second, DataPath("one_facet.slp")), SLPLoadSuccess);
    EXPECT_EQ(DescribeWorld(second), "group cube\n  mesh 1 colour 1 1 1 1\n");
}

TEST(SLPProgressTest, PercentagesFollowTheTokenOffsets)
{
    // Tokens end at offsets 29, 57, 58 and 100 of 100 bytes.
    TempFile file(std::string(29, 'a') + " " + std::string(27, 'b') + "{ " + std::string(41, 'c'));
    CKarnWorld world;
    CSLPParser parser;
    parser.SetLoaderPtr(&RecordProgress);
    g_reports.clear();
    Load(parser, world, file.path);
    EXPECT_EQ(g_reports, (std::vector<int>{28, 56, 57, 99}));

    // A second load reports only above the highest percentage of the first, until the host resets it.
    g_reports.clear();
    Load(parser, world, file.path);
    EXPECT_TRUE(g_reports.empty());
    parser.SetLastPercentage(56);
    Load(parser, world, file.path);
    EXPECT_EQ(g_reports, (std::vector<int>{57, 99}));

    // An empty file has no size to measure progress against.
    g_reports.clear();
    CSLPParser fresh;
    fresh.SetLoaderPtr(&RecordProgress);
    Load(fresh, world, DataPath("empty.slp"));
    EXPECT_TRUE(g_reports.empty());
    EXPECT_EQ(fresh.GetLastPercentage(), 0);
}

TEST(SLPProgressTest, ReportsEqualThePercentageFormulaAtEveryToken)
{
    // Tokens of every length from 1 to 37 bytes, so that every percentage is crossed at a different
    // place; the host lowers, raises and negates the last percentage on the way. Each report must be
    // exactly what the formula gives at that token's end offset.
    std::string text;
    for (int i = 0; text.size() < 12345; ++i)
        text += std::string(static_cast<size_t>(1 + i % 37), 'w') + (i % 5 == 0 ? "\n" : " ");
    TempFile file(text);
    CSLPParser parser;
    parser.SetLoaderPtr(&RecordProgress);
    parser.GetIOManager()->SetFilename(CBasicString(file.path.c_str()));
    ASSERT_EQ(parser.GetIOManager()->OpenInputFile(), SLPLoadSuccess);
    const double dTotal = static_cast<double>(text.size());
    int nLast = 0;
    std::vector<int> expected;
    g_reports.clear();
    for (int nToken = 0; parser.Tokenize(); ++nToken)
    {
        const double dOffset = static_cast<double>(parser.GetIOManager()->GetCurrentFileOffset64());
        const int nPercentage = std::min(static_cast<int>(dOffset / dTotal * 100.0), 99);
        if (nPercentage > nLast)
        {
            expected.push_back(nPercentage);
            nLast = nPercentage;
        }
        ASSERT_EQ(parser.GetLastPercentage(), nLast) << "token " << nToken;
        if (nToken == 200 || nToken == 350 || nToken == 500)
        {
            nLast = nToken == 200 ? 20 : (nToken == 350 ? -3 : 99);
            parser.SetLastPercentage(nLast);
        }
    }
    EXPECT_EQ(g_reports, expected);
    EXPECT_GT(expected.size(), 60u);
}

TEST(SLPTokenTest, QueriesSeeTheSLPMeaningOfTokens)
{
    TempFile file("{ ] ( solid 1.5 \"q t\" TRUE word endloop");
    CSLPParser parser;
    parser.SetFileName(CBasicString(file.path.c_str()));
    parser.GetIOManager()->SetFilename(parser.GetFileName());
    ASSERT_EQ(parser.GetIOManager()->OpenInputFile(), SLPLoadSuccess);
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentTokenType(), SLPTokenOpenBrace);
    EXPECT_TRUE(parser.GetCurrentTokenBeginType());
    EXPECT_EQ(parser.GetNextTokenType(), SLPTokenCloseBracket);
    EXPECT_TRUE(parser.GetNextTokenEndType());
    EXPECT_EQ(parser.GetCurrentTokenType(), SLPTokenOpenBrace);

    const SLPTokenTypes expected[] = {SLPTokenCloseBracket, SLPTokenOpenParen,    SLPTokenSolid,
                                      SLPTokenNumber,       SLPTokenGenericType8, SLPTokenGenericType9,
                                      SLPTokenNone,         SLPTokenEndLoop,      SLPTokenEndOfFile};
    for (SLPTokenTypes type : expected)
    {
        parser.Tokenize();
        EXPECT_EQ(parser.GetCurrentTokenType(), type) << parser.GetCurrentTokenString();
        EXPECT_FALSE(parser.GetCurrentTokenBeginType() && parser.GetCurrentTokenEndType());
        if (type == SLPTokenNumber)
        {
            EXPECT_EQ(parser.GetCurrentTokenNumericValue(), 1.5);
        }
        if (type == SLPTokenGenericType9)
        {
            EXPECT_TRUE(parser.GetCurrentTokenBooleanValue());
        }
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
    auto collect = [&parser](int nPoints, int nNormals)
    {
        for (int i = 0; i < nPoints; ++i)
        {
            vemoFloatPoint p(static_cast<float>(i), 0, 0);
            parser.AddPointToList(p);
        }
        for (int i = 0; i < nNormals; ++i)
        {
            vemoVector n(0, 0, 1);
            parser.AddNormalToList(n);
        }
    };

    collect(6, 6); // no current group
    EXPECT_FALSE(parser.FlushGeometryToWorld());
    EXPECT_EQ(parser.GetPointList()->GetCount(), 0);
    EXPECT_EQ(parser.GetNormalList()->GetCount(), 0);

    auto* pGroup = new CKarnGroup();
    parser.PushGroup(pGroup);
    collect(3, 1); // one normal per facet
    EXPECT_FALSE(parser.FlushGeometryToWorld());
    collect(2, 2); // too few points for a facet
    EXPECT_FALSE(parser.FlushGeometryToWorld());
    EXPECT_EQ(pGroup->GetNumObjects(), 0);
    EXPECT_TRUE(parser.GetEstimatedBoundingBox().IsEmpty());
    EXPECT_EQ(parser.GetNormalList()->GetCount(), 0);

    // Four points: one triangle, the fourth pair dropped; the colour in force at the flush is used.
    collect(4, 4);
    parser.GetCurrentColor().green = 0.5f;
    EXPECT_TRUE(parser.FlushGeometryToWorld());
    EXPECT_FALSE(parser.FlushGeometryToWorld());
    ASSERT_EQ(pGroup->GetNumObjects(), 1);
    EXPECT_EQ(MeshAt(pGroup, 0)->m_nTriangleCount, 1);
    ExpectPoint(MeshAt(pGroup, 0)->m_pTriangles[0].m_Vertex[2], 2, 0, 0);
    EXPECT_EQ(pGroup->GetObjectMaterial(0)->m_Back.GetDiffuse().green, 0.5f);
    ExpectPoint(parser.GetEstimatedBoundingBox().GetMax(), 2, 0, 0);
    EXPECT_TRUE(WorldIsConsistent(world, false));
}

TEST(SLPStateTest, DefaultsGroupStackAndCopies)
{
    CSLPParser parser;
    EXPECT_EQ(parser.GetWorld(), nullptr);
    EXPECT_EQ(parser.GetParentGroup(), nullptr);
    EXPECT_EQ(DescribeColor(parser.GetCurrentColor()), "1 1 1 1");
    EXPECT_EQ(parser.GetFileName().GetLength(), 0);

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
    text = "it's \xE2\x80\x9C"
           "fine\xE2\x80\x9D";
    const char* pszNarrow = text.GetNarrowString();
    EXPECT_FALSE(parser.RemoveQuotes(text));
    EXPECT_STREQ(pszNarrow, "it's \xE2\x80\x9C"
                            "fine\xE2\x80\x9D");
}
