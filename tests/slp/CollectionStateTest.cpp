// What a load collects and keeps: runs over many chunks of the collection array, the lists a host reads
// from the progress callback, copies of a parser during and between loads, and the stack of open solids.
// Vertex v is (v, 2, 3) and its normal (0, v, 1) throughout, so that a point taken from the wrong place
// shows in its coordinates.
#include "GeometryText.h"
#include "WorldChecker.h"
#include "slp/SLPParser.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using CPoints = CSLPCollectedArray<vemoFloatPoint>;

// Whether the array holds exactly the points (v, 2, 3) for v = nFirst .. nFirst + nCount - 1, in order,
// in chunks of the sizes the array promises when nothing was dropped from its front.
testing::AssertionResult HoldsRange(const CPoints& items, size_t nFirst, size_t nCount, bool bWholeChunks)
{
    if (items.GetCount() != nCount)
        return testing::AssertionFailure() << "count " << items.GetCount() << " for " << nCount;
    size_t n = 0;
    for (size_t k = 0; k < items.ChunkCount(); ++k)
    {
        const size_t nCapacity = CPoints::kFirstChunk << std::min(k, CPoints::kDoublings);
        if (bWholeChunks && k + 1 < items.ChunkCount() && items.ChunkSize(k) != nCapacity)
            return testing::AssertionFailure() << "chunk " << k << " holds " << items.ChunkSize(k);
        for (size_t i = 0; i < items.ChunkSize(k); ++i, ++n)
            if (n >= nCount || items.ChunkData(k)[i].x != static_cast<float>(nFirst + n) ||
                items.ChunkData(k)[i].z != 3.0f)
                return testing::AssertionFailure() << "item " << n << " (chunk " << k << ") is wrong";
    }
    if (n != nCount)
        return testing::AssertionFailure() << n << " items in the chunks for " << nCount;
    return testing::AssertionSuccess();
}

vemoFloatPoint Point(size_t v)
{
    return vemoFloatPoint(static_cast<float>(v), 2.0f, 3.0f);
}

// The lines of vertices nFirst .. nFirst + nCount - 1, each with its normal.
std::string Facets(int nFirst, int nCount)
{
    std::string text;
    for (int v = nFirst; v < nFirst + nCount; ++v)
        text += "normal 0 " + std::to_string(v) + " 1 vertex " + std::to_string(v) + " 2 3\n";
    return text;
}

// Whether the list holds exactly the run's first nCount points (bNormals: normals) from vertex nFirst.
testing::AssertionResult ListHolds(CKarnList* pList, int nFirst, int nCount, bool bNormals)
{
    if (pList->GetCount() != nCount)
        return testing::AssertionFailure() << (bNormals ? "normals " : "points ") << pList->GetCount()
                                           << " for " << nCount << " from " << nFirst;
    CBasicListIterator it(pList);
    for (int i = 0; i < nCount; ++i, it++)
    {
        const auto* p = static_cast<const vemoFloatPoint*>(it.GetData());
        const float v = static_cast<float>(nFirst + i);
        if (p == nullptr ||
            !(bNormals ? p->x == 0 && p->y == v && p->z == 1 : p->x == v && p->y == 2 && p->z == 3))
            return testing::AssertionFailure()
                   << (bNormals ? "normal " : "point ") << i << " from " << nFirst;
    }
    return testing::AssertionSuccess();
}

// Whether the mesh holds vertices nFirst .. nFirst + 3 * triangles - 1 with their normals, in order.
testing::AssertionResult MeshHolds(const vemoBaseObject* pObject, int nFirst, int nTriangles)
{
    const auto* pMesh = dynamic_cast<const vemoSTL*>(pObject);
    if (pMesh == nullptr || pMesh->m_nTriangleCount != nTriangles)
        return testing::AssertionFailure() << "not a mesh of " << nTriangles << " triangles";
    for (int i = 0; i < 3 * nTriangles; ++i)
    {
        const vemoFloatPoint& p = pMesh->m_pTriangles[i / 3].m_Vertex[i % 3];
        const vemoVector& n = pMesh->m_pTriangles[i / 3].m_Normal[i % 3];
        const float v = static_cast<float>(nFirst + i);
        if (p.x != v || p.y != 2 || p.z != 3 || n.x != 0 || n.y != v || n.z != 1)
            return testing::AssertionFailure() << "vertex " << i << " is " << p.x << " with normal " << n.y;
    }
    return testing::AssertionSuccess();
}

// A file of one solid per run with what a host finds in the lists while each token is current: the
// points and normals collected of the run so far (a vertex or normal is taken when its last number
// was current), and the run's first vertex.
struct CRunFile
{
    struct CToken
    {
        long long nEnd;
        int nFirst, nPoints, nNormals;
    };
    std::string text;
    std::vector<CToken> tokens;

    void Add(const std::string& strToken, int nFirst, int nPoints, int nNormals, char cAfter = ' ')
    {
        text += strToken;
        tokens.push_back({static_cast<long long>(text.size()), nFirst, nPoints, nNormals});
        text += cAfter;
    }
    // Vertices nFirst .. nFirst + nCount - 1 with their normals, a line each.
    void AddFacets(int nFirst, int nCount)
    {
        for (int j = 0; j < nCount; ++j)
        {
            const std::string v = std::to_string(nFirst + j);
            const std::string aLine[] = {"normal", "0", v, "1", "vertex", v, "2", "3"};
            for (int t = 0; t < 8; ++t)
                Add(aLine[t], nFirst, j, t < 4 ? j : j + 1, t == 7 ? '\n' : ' ');
        }
    }
    void AddRun(int nFirst, int nCount)
    {
        Add("solid", 0, 0, 0);
        Add("r" + std::to_string(nFirst), 0, 0, 0, '\n');
        AddFacets(nFirst, nCount);
        Add("endsolid", nFirst, nCount, nCount, '\n');
    }
    const CToken* At(long long nOffset) const
    {
        const auto it = std::lower_bound(tokens.begin(), tokens.end(), nOffset,
                                         [](const CToken& t, long long n) { return t.nEnd < n; });
        return it != tokens.end() && it->nEnd == nOffset ? &*it : nullptr;
    }
};

// The host of the list tests: reads the point list at reports whose percentage p has p % m_nPointsEvery
// == m_nPointsAt (never when 0), the normal list likewise, and checks them against the file.
struct CListHost
{
    int m_nPointsEvery = 0, m_nPointsAt = 0, m_nNormalsEvery = 0, m_nNormalsAt = 0;
    CSLPParser* m_pParser = nullptr;
    const CRunFile* m_pFile = nullptr;
    int m_nReads = 0;
    std::vector<std::string> m_Problems;
};
CListHost g_host;

void SLP_STDCALL ReadListsAtReport(int nPercentage)
{
    const auto reads = [nPercentage](int nEvery, int nAt)
    { return nEvery > 0 && nPercentage % nEvery == nAt; };
    const bool bPoints = reads(g_host.m_nPointsEvery, g_host.m_nPointsAt);
    const bool bNormals = reads(g_host.m_nNormalsEvery, g_host.m_nNormalsAt);
    if (!bPoints && !bNormals)
        return;
    const CRunFile::CToken* pToken =
        g_host.m_pFile->At(g_host.m_pParser->GetIOManager()->GetCurrentFileOffset64());
    if (pToken == nullptr)
    {
        g_host.m_Problems.push_back("report at no token's end, " + std::to_string(nPercentage) + "%");
        return;
    }
    ++g_host.m_nReads;
    testing::AssertionResult ok = testing::AssertionSuccess();
    if (bPoints &&
        !(ok = ListHolds(g_host.m_pParser->GetPointList(), pToken->nFirst, pToken->nPoints, false)))
        g_host.m_Problems.push_back(std::to_string(nPercentage) + "%: " + ok.message());
    if (bNormals &&
        !(ok = ListHolds(g_host.m_pParser->GetNormalList(), pToken->nFirst, pToken->nNormals, true)))
        g_host.m_Problems.push_back(std::to_string(nPercentage) + "%: " + ok.message());
}

// A file of the test's own, named apart from the test's other files, removed at the end.
struct CTestFile
{
    const std::string path;
    CTestFile(const std::string& strName, const std::string& strContents)
        : path(TestTempPath("slp_" + strName + "_", ".slp"))
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << strContents;
    }
    ~CTestFile() { std::remove(path.c_str()); }
};

std::string GroupName(const CKarnGroup* pGroup)
{
    return pGroup != nullptr ? NarrowName(pGroup->GetGroupName()) : "-";
}

// What a host can ask a parser between loads (the lists read through the parser, so moved into them).
std::string StateText(CSLPParser& parser)
{
    std::ostringstream out;
    out << "current " << GroupName(parser.GetCurrentGroup()) << ", stack";
    for (CBasicListIterator it(parser.GetGroupStack()); it.GetData() != nullptr; it++)
        out << ' ' << GroupName(static_cast<const CKarnGroup*>(it.GetData()));
    const vemoBBox& box = parser.GetEstimatedBoundingBox();
    out << ", colour " << DescribeColor(parser.GetCurrentColor()) << ", box ";
    if (box.IsEmpty())
        out << "empty";
    else
        out << box.GetMin().x << ' ' << box.GetMin().y << ' ' << box.GetMin().z << " / " << box.GetMax().x
            << ' ' << box.GetMax().y << ' ' << box.GetMax().z;
    out << ", last " << parser.GetLastPercentage() << ", discarded " << parser.GetDiscardedPointCount()
        << ", decimation " << parser.GetDecimationMagnitude() << ", points "
        << ListText(parser.GetPointList()) << ", normals " << ListText(parser.GetNormalList());
    return out.str();
}

} // namespace

TEST(SLPCollectionTest, ChunksHoldEveryItemOnceInOrderWhateverIsDroppedOrCopied)
{
    // Items dropped from the front, in two steps, at and beside the first chunk boundaries; the rest
    // keep their order, take more items after them, and copy (or assign) as they are.
    CPoints items;
    for (size_t v = 0; v < 5000; ++v)
    {
        items.Add(Point(v));
        if (v == 766 || v == 767 || v == 768 || v == 2303 || v == 2304)
        {
            ASSERT_TRUE(HoldsRange(items, 0, v + 1, true)) << "after " << v + 1 << " items";
        }
    }
    for (const size_t nDrop : {size_t(1), size_t(767), size_t(768), size_t(769), size_t(2303), size_t(2305),
                               size_t(4999), size_t(5000), size_t(5005)})
    {
        SCOPED_TRACE(nDrop);
        CPoints dropped(items);
        dropped.RemoveFront(nDrop / 3);
        dropped.RemoveFront(nDrop - nDrop / 3);
        const size_t nFirst = std::min<size_t>(nDrop, 5000);
        EXPECT_TRUE(HoldsRange(dropped, nFirst, 5000 - nFirst, false));
        CPoints copy(dropped);
        EXPECT_TRUE(HoldsRange(copy, nFirst, 5000 - nFirst, true));
        CPoints assigned;
        assigned.Add(Point(99));
        assigned = dropped;
        EXPECT_TRUE(HoldsRange(assigned, nFirst, 5000 - nFirst, true));
        dropped.Add(Point(5000));
        EXPECT_TRUE(HoldsRange(dropped, nFirst, 5001 - nFirst, false));
    }

    // Past the chunks that double (768 << 8 is the largest) into several of the largest size, then
    // dropped from the front up to and past the chunk boundaries there.
    const size_t nBeforeLargest = CPoints::kFirstChunk * ((size_t(1) << CPoints::kDoublings) - 1);
    const size_t nLargest = CPoints::kFirstChunk << CPoints::kDoublings;
    const size_t nTotal = nBeforeLargest + 2 * nLargest + 7;
    for (size_t v = 5000; v < nTotal; ++v)
        items.Add(Point(v));
    ASSERT_TRUE(HoldsRange(items, 0, nTotal, true));
    for (const size_t nDropped :
         {nBeforeLargest - 1, nBeforeLargest, nBeforeLargest + nLargest + 1, nTotal - 1})
    {
        items.RemoveFront(nDropped - (nTotal - items.GetCount()));
        ASSERT_TRUE(HoldsRange(items, nDropped, nTotal - nDropped, false)) << nDropped << " dropped";
        if (nDropped == nBeforeLargest + nLargest + 1)
        {
            CPoints copy(items);
            EXPECT_TRUE(HoldsRange(copy, nDropped, nTotal - nDropped, true));
        }
    }
    items.RemoveFront(2);
    items.Add(Point(nTotal));
    EXPECT_TRUE(HoldsRange(items, nTotal, 1, false));

    // Emptied, with some chunks kept or none, the array starts again from its first item.
    for (const size_t nKept : {size_t(0), size_t(1) << 20, ~size_t(0)})
    {
        CPoints reused(items);
        for (size_t v = 0; v < 100000; ++v)
            reused.Add(Point(v));
        reused.RemoveFront(5);
        reused.Clear(nKept);
        EXPECT_TRUE(HoldsRange(reused, 0, 0, true));
        for (size_t v = 0; v < 3000; ++v)
            reused.Add(Point(v));
        EXPECT_TRUE(HoldsRange(reused, 0, 3000, true)) << nKept << " bytes kept";
    }
}

TEST(SLPCollectionTest, ARunOfOverAMillionVerticesFillsItsMeshInOrder)
{
    // The points collected in the array to the end while the normals go to their list early on, or
    // both taken over by the lists part way (the points at a chunk boundary); two vertices after the
    // last triangle.
    for (const int nListAt : {-1, 392448})
    {
        const int nVertices = nListAt < 0 ? 1050000 : 399999;
        CKarnWorld world;
        CSLPParser parser;
        parser.SetWorld(&world);
        parser.PushGroup(new CKarnGroup());
        for (int v = 0; v < nVertices + 2; ++v)
        {
            vemoFloatPoint point = Point(static_cast<size_t>(v));
            vemoVector normal(0.0f, static_cast<float>(v), 1.0f);
            parser.AddPointToList(point);
            parser.AddNormalToList(normal);
            if (v == nListAt)
            {
                EXPECT_EQ(parser.GetPointList()->GetCount(), v + 1);
            }
            if (v == nListAt + 3001)
            {
                EXPECT_EQ(parser.GetNormalList()->GetCount(), v + 1);
            }
        }
        ASSERT_TRUE(parser.FlushGeometryToWorld());
        EXPECT_EQ(parser.GetDiscardedPointCount(), 2);
        EXPECT_TRUE(MeshHolds(parser.GetCurrentGroup()->GetObject(0), 0, nVertices / 3));
        EXPECT_EQ(parser.GetPointList()->GetCount() + parser.GetNormalList()->GetCount(), 0);
    }
}

TEST(SLPCollectionTest, HostsReadingTheListsFindExactlyTheRunSoFar)
{
    // Runs around the first chunk boundaries and over four chunks, one of them too short for a
    // second triangle; the lengths not multiples of three lose their last one or two vertices.
    const int aRuns[] = {767, 4, 768, 769, 2305, 7000, 3};
    CRunFile file;
    int nFirst = 0;
    for (const int nCount : aRuns)
    {
        file.AddRun(nFirst, nCount);
        nFirst += nCount + 1000;
    }
    const TempFile saved(file.text);
    // Never; at every report; points and normals at alternate reports; both now and then; points only.
    const int aModes[][4] = {{0, 0, 0, 0}, {1, 0, 1, 0}, {2, 0, 2, 1}, {23, 11, 23, 11}, {31, 7, 0, 0}};
    for (const auto& mode : aModes)
    {
        SCOPED_TRACE(testing::Message()
                     << "points " << mode[0] << "/" << mode[1] << ", normals " << mode[2] << "/" << mode[3]);
        CKarnWorld world;
        CSLPParser parser;
        g_host = CListHost{mode[0], mode[1], mode[2], mode[3], &parser, &file, 0, {}};
        parser.SetLoaderPtr(&ReadListsAtReport);
        ASSERT_EQ(LoadFile(parser, world, saved.path), SLPLoadSuccess);
        EXPECT_EQ(g_host.m_Problems, std::vector<std::string>());
        EXPECT_GE(g_host.m_nReads, mode[0] == 0 ? 0 : 3);
        nFirst = 0;
        int nDiscarded = 0;
        ASSERT_EQ(world.GetNumGroups(), static_cast<int>(std::size(aRuns)));
        for (int r = 0; r < world.GetNumGroups(); ++r)
        {
            ASSERT_EQ(world.GetGroup(r)->GetNumObjects(), 1);
            EXPECT_TRUE(MeshHolds(world.GetGroup(r)->GetObject(0), nFirst, aRuns[r] / 3)) << "run " << r;
            nDiscarded += aRuns[r] % 3;
            nFirst += aRuns[r] + 1000;
        }
        EXPECT_EQ(parser.GetDiscardedPointCount(), nDiscarded);
    }
}

TEST(SLPCopyTest, CopiesBetweenLoadsKeepTheStateAndLoadOnTheirOwn)
{
    // The world is destroyed at the end and another takes its storage, as a host's next world may.
    alignas(CKarnWorld) unsigned char storage[sizeof(CKarnWorld)];
    CKarnWorld& world = *new (storage) CKarnWorld();
    CSLPParser parser;
    parser.SetDecimationMagnitude(0.75);
    const CTestFile first("first", "solid a\ncolor 0.5 0.25 1\nsolid b\n" + Facets(0, 4) + "solid c\n" +
                                       Facets(10, 3) + "endsolid\n");
    ASSERT_EQ(LoadFile(parser, world, first.path), SLPLoadSuccess);
    parser.SetLastPercentage(42);
    vemoFloatPoint point(7, 8, 9);
    vemoVector normal(1, 0, 0);
    parser.AddPointToList(point);
    parser.AddNormalToList(normal);
    const std::string strState = "current b, stack b a, colour 0.5 0.25 1 1, box 0 2 3 / 12 2 3, last 42, "
                                 "discarded 1, decimation 0.75, points 7 8 9, normals 1 0 0";
    ASSERT_EQ(StateText(parser), strState);

    // A copy, and a parser with a load and points of its own assigned over, hold the same state in the
    // same world, with lists of their own.
    CSLPParser copy(parser);
    CKarnWorld other;
    CSLPParser assigned;
    const CTestFile open("open", "solid x\nsolid y\n" + Facets(500, 2) + "color 1 1 0\n");
    ASSERT_EQ(LoadFile(assigned, other, open.path), SLPLoadSuccess);
    assigned.SetDecimationMagnitude(2);
    assigned.AddPointToList(point);
    assigned = parser;
    for (CSLPParser* pCopy : {&copy, &assigned})
    {
        EXPECT_EQ(pCopy->GetWorld(), &world);
        EXPECT_EQ(pCopy->GetCurrentGroup(), parser.GetCurrentGroup());
        EXPECT_EQ(StateText(*pCopy), strState);
        pCopy->ClearPointList();
        pCopy->ClearNormalList();
    }
    EXPECT_EQ(StateText(parser), strState);
    parser.ClearPointList();
    parser.ClearNormalList();

    // The copy continues inside b: its "endsolid"s pop its own stack, its colour changes alone.
    const CTestFile second("second", Facets(20, 3) + "endsolid\nsolid d\n" + Facets(30, 3) +
                                         "endsolid\nendsolid\nendsolid\ncolor 1 0 0\nsolid e\n" +
                                         Facets(40, 3));
    ASSERT_EQ(LoadFile(copy, world, second.path), SLPLoadSuccess);
    const std::string strAfter =
        "current e, stack e, colour 1 0 0 1, box 0 2 3 / 42 2 3, last 99, discarded 0, "
        "decimation 0.75, points , normals ";
    EXPECT_EQ(StateText(copy), strAfter);
    EXPECT_EQ(StateText(parser), "current b, stack b a, colour 0.5 0.25 1 1, box 0 2 3 / 12 2 3, last 42, "
                                 "discarded 1, decimation 0.75, points , normals ");
    // ... and so does the original after it.
    ASSERT_EQ(LoadFile(parser, world, second.path), SLPLoadSuccess);
    EXPECT_EQ(StateText(parser), strAfter);
    const std::string strTree = "group a\n  group b\n    mesh 0 1 2\n    mesh 20 21 22\n    mesh 20 21 22\n"
                                "    group c\n      mesh 10 11 12\n  group d\n    mesh 30 31 32\n  group d\n"
                                "    mesh 30 31 32\ngroup e\n  mesh 40 41 42\ngroup e\n  mesh 40 41 42\n";
    EXPECT_EQ(GeometryText(world, false), strTree);
    const vemoBaseGroup* pB = world.GetGroup(0)->GetGroup(0);
    for (int i = 1; i <= 2; ++i)
    {
        EXPECT_EQ(DescribeColor(pB->GetObjectMaterial(i)->m_Front.GetDiffuse()), "0.5 0.25 1 1");
        EXPECT_EQ(dynamic_cast<const vemoSTL*>(pB->GetObject(i))->GetDecimationMagnitude(), 0.75);
    }

    // In a world of its own, the assigned parser's stack does not hold: no geometry outside a solid.
    CKarnWorld third;
    ASSERT_EQ(LoadFile(assigned, third, second.path), SLPLoadSuccess);
    EXPECT_EQ(GeometryText(third, false), "group d\n  mesh 30 31 32\ngroup e\n  mesh 40 41 42\n");
    EXPECT_EQ(assigned.GetDiscardedPointCount(), 3);
    EXPECT_EQ(GeometryText(world, false), strTree);

    // Once the world is gone, a copy drops the stack it took (e) as the original does.
    CSLPParser later(parser);
    world.~CKarnWorld();
    CKarnWorld& next = *new (storage) CKarnWorld();
    for (CSLPParser* pParser : {&later, &parser})
    {
        ASSERT_EQ(LoadFile(*pParser, next, second.path), SLPLoadSuccess);
        EXPECT_EQ(pParser->GetDiscardedPointCount(), 3);
    }
    EXPECT_EQ(GeometryText(next, false),
              "group d\n  mesh 30 31 32\ngroup e\n  mesh 40 41 42\ngroup d\n  mesh 30 31 32\n"
              "group e\n  mesh 40 41 42\n");
    next.~CKarnWorld();
}

namespace
{
// The host of the copy tests: at the first report from 60% on, copies the parser and assigns it over
// another, noting what the parser held then.
struct CCopyingHost
{
    CSLPParser* m_pSource = nullptr;
    const CRunFile* m_pFile = nullptr;
    bool m_bReadSource = false;
    std::unique_ptr<CSLPParser> m_pCopy;
    CSLPParser* m_pAssigned = nullptr;
    CRunFile::CToken m_At{};
    int m_nLast = -1;
    std::string m_strSourceLists;
};
CCopyingHost g_copying;

void SLP_STDCALL CopyAtReport(int nPercentage)
{
    if (nPercentage < 60 || g_copying.m_pCopy != nullptr)
        return;
    CSLPParser& source = *g_copying.m_pSource;
    g_copying.m_pCopy = std::make_unique<CSLPParser>(source);
    *g_copying.m_pAssigned = source;
    const CRunFile::CToken* pToken = g_copying.m_pFile->At(source.GetIOManager()->GetCurrentFileOffset64());
    g_copying.m_At = pToken != nullptr ? *pToken : CRunFile::CToken{-1, 0, 0, 0};
    g_copying.m_nLast = source.GetLastPercentage();
    if (g_copying.m_bReadSource)
        g_copying.m_strSourceLists =
            ListText(source.GetPointList()) + " | " + ListText(source.GetNormalList());
}

// Solids a, b and c, one inside the other, with the colour set in a, five vertices in b and a run of
// 3,000 in c; a and b stay open.
CRunFile NestedRuns()
{
    CRunFile file;
    for (const char* psz : {"solid", "a", "color", "0.5", "0.25", "1", "solid", "b"})
        file.Add(psz, 0, 0, 0);
    file.AddFacets(0, 5);
    file.Add("solid", 0, 0, 0);
    file.Add("c", 0, 0, 0);
    file.AddFacets(100, 3000);
    file.Add("endsolid", 100, 3000, 3000);
    file.Add("endsolid", 0, 0, 0);
    return file;
}
} // namespace

TEST(SLPCopyTest, CopiesMadeDuringALoadTakeItsStateThere)
{
    const CRunFile file = NestedRuns();
    const CTestFile saved("saved", file.text);
    const CTestFile more("more",
                         Facets(5000, 3) + "endsolid\nsolid x\nendsolid\nendsolid\nendsolid\nsolid z\n");
    // The host leaves the loading parser's lists alone, or reads them after copying.
    for (const bool bReadSource : {false, true})
    {
        SCOPED_TRACE(bReadSource);
        CKarnWorld world;
        CSLPParser parser;
        CSLPParser assigned;
        CKarnWorld before;
        ASSERT_EQ(LoadFile(assigned, before, DataPath("nested_solids.slp")), SLPLoadSuccess);
        parser.SetDecimationMagnitude(0.5);
        parser.SetLoaderPtr(&CopyAtReport);
        g_copying = CCopyingHost{&parser, &file, bReadSource, nullptr, &assigned, {}, -1, ""};
        ASSERT_EQ(LoadFile(parser, world, saved.path), SLPLoadSuccess);
        ASSERT_NE(g_copying.m_pCopy, nullptr);
        const CRunFile::CToken at = g_copying.m_At;
        ASSERT_EQ(at.nFirst, 100) << "copied outside the long run";
        // The load itself lost nothing to the copies.
        const std::string strLoaded = "group a\n  group b\n    mesh 1 colour 0.5 0.25 1 1\n    group c\n"
                                      "      mesh 1000 colour 0.5 0.25 1 1\n";
        EXPECT_EQ(DescribeWorld(world), strLoaded);
        EXPECT_TRUE(MeshHolds(world.GetGroup(0)->GetGroup(0)->GetGroup(0)->GetObject(0), 100, 1000));
        EXPECT_EQ(parser.GetDiscardedPointCount(), 2);

        const std::string strState = "current c, stack c b a, colour 0.5 0.25 1 1, box 0 2 3 / 2 2 3, last " +
                                     std::to_string(g_copying.m_nLast) +
                                     ", discarded 2, decimation 0.5, points ";
        for (CSLPParser* pCopy : {g_copying.m_pCopy.get(), &assigned})
        {
            EXPECT_EQ(pCopy->GetWorld(), &world);
            EXPECT_EQ(StateText(*pCopy).substr(0, strState.size()), strState);
            EXPECT_TRUE(ListHolds(pCopy->GetPointList(), 100, at.nPoints, false));
            EXPECT_TRUE(ListHolds(pCopy->GetNormalList(), 100, at.nNormals, true));
            if (bReadSource)
            {
                EXPECT_EQ(ListText(pCopy->GetPointList()) + " | " + ListText(pCopy->GetNormalList()),
                          g_copying.m_strSourceLists);
            }
            pCopy->ClearPointList();
            pCopy->ClearNormalList();
        }
        EXPECT_GT(at.nPoints, 1000);

        // The copy goes on from inside c on its own stack; the assigned parser, in another world, drops
        // its stack.
        ASSERT_EQ(LoadFile(*g_copying.m_pCopy, world, more.path), SLPLoadSuccess);
        EXPECT_EQ(StateText(*g_copying.m_pCopy).substr(0, 20), "current z, stack z, ");
        const vemoBaseGroup* pB = world.GetGroup(0)->GetGroup(0);
        EXPECT_EQ(DescribeWorld(world),
                  strLoaded + "      mesh 1 colour 0.5 0.25 1 1\n    group x\ngroup z\n");
        EXPECT_TRUE(MeshHolds(pB->GetGroup(0)->GetObject(1), 5000, 1));
        EXPECT_EQ(StateText(parser).substr(0, 30), "current a, stack a, colour 0.5");
        CKarnWorld fresh;
        ASSERT_EQ(LoadFile(assigned, fresh, more.path), SLPLoadSuccess);
        EXPECT_EQ(GeometryText(fresh, false), "group x\ngroup z\n");
        EXPECT_EQ(world.GetNumGroups(), 2);
        g_copying.m_pCopy.reset();
    }
}

TEST(SLPGroupStackTest, SolidsThreeDeepNestPopAndContinueInTheSameWorldOnly)
{
    // Geometry before any solid and after the last one closed is dropped; "endsolid" with no solid open
    // closes nothing; a word after "endsolid" is passed over.
    const CTestFile first("first", "endsolid\n" + Facets(100, 3) + "solid a\n" + Facets(0, 3) + "solid b\n" +
                                       Facets(3, 3) + "solid c\n" + Facets(6, 3) + "endsolid c\n" +
                                       Facets(9, 3) + "color 0.5 0.5 0.5\n" + Facets(12, 3) + "endsolid\n" +
                                       Facets(15, 3) + "solid d\n" + Facets(18, 3) + "endsolid\nendsolid\n" +
                                       Facets(21, 3) + "endsolid\nsolid e\nsolid f\nsolid g\n" +
                                       Facets(24, 3) + "endsolid\n" + Facets(27, 2));
    CKarnWorld world;
    CSLPParser parser;
    ASSERT_EQ(LoadFile(parser, world, first.path), SLPLoadSuccess);
    std::string strTree =
        "group a\n  mesh 0 1 2\n  mesh 15 16 17\n  group b\n    mesh 3 4 5\n    mesh 9 10 11\n"
        "    mesh 12 13 14\n    group c\n      mesh 6 7 8\n  group d\n    mesh 18 19 20\n"
        "group e\n  group f\n    group g\n      mesh 24 25 26\n";
    ASSERT_EQ(GeometryText(world, false), strTree);
    EXPECT_EQ(DescribeColor(world.GetGroup(0)->GetGroup(0)->GetObjectMaterial(2)->m_Front.GetDiffuse()),
              "0.5 0.5 0.5 1");
    EXPECT_EQ(DescribeColor(world.GetGroup(0)->GetGroup(0)->GetObjectMaterial(1)->m_Front.GetDiffuse()),
              "1 1 1 1");
    EXPECT_EQ(parser.GetDiscardedPointCount(), 3 + 3 + 2);
    EXPECT_EQ(StateText(parser).substr(0, 26), "current f, stack f e, colo");

    // The next load into the same world goes on inside f, and pops back through e to the world.
    const CTestFile second("second", Facets(30, 3) + "endsolid\nsolid h\n" + Facets(33, 3) + "endsolid\n" +
                                         Facets(36, 3) +
                                         "endsolid\nendsolid\nsolid i\nendsolid\nsolid j\nsolid k\n");
    ASSERT_EQ(LoadFile(parser, world, second.path), SLPLoadSuccess);
    strTree.replace(
        strTree.find("group e\n"), std::string::npos,
        "group e\n  mesh 36 37 38\n  group f\n    mesh 30 31 32\n    group g\n      mesh 24 25 26\n"
        "  group h\n    mesh 33 34 35\ngroup i\ngroup j\n  group k\n");
    EXPECT_EQ(GeometryText(world, false), strTree);
    EXPECT_EQ(parser.GetDiscardedPointCount(), 0);
    EXPECT_EQ(StateText(parser).substr(0, 26), "current k, stack k j, colo");

    // Into another world, neither the stack (k, j) nor a current group of that world that the host set
    // over it is kept: the load starts at the world's top.
    CKarnWorld other;
    auto* pHost = new CKarnGroup();
    ASSERT_TRUE(other.AddGroup(pHost, 1));
    parser.SetCurrentGroup(pHost);
    const CTestFile third("third",
                          Facets(40, 3) + "solid m\n" + Facets(43, 3) + "endsolid\nendsolid\nsolid n\n");
    ASSERT_EQ(LoadFile(parser, other, third.path), SLPLoadSuccess);
    EXPECT_EQ(GeometryText(other, false), "group \ngroup m\n  mesh 43 44 45\ngroup n\n");
    EXPECT_EQ(parser.GetDiscardedPointCount(), 3);
    EXPECT_EQ(GeometryText(world, false), strTree);
}

TEST(SLPCopyTest, ACopyMadeDuringALoadDropsItsStackOnceThatWorldIsGone)
{
    const CRunFile file = NestedRuns();
    const CTestFile saved("saved", file.text);
    const CTestFile more("more", Facets(5000, 3) + "solid x\nendsolid\nendsolid\nsolid z\n");
    // The new world takes the storage of the one that is gone, as a host's next world well may.
    alignas(CKarnWorld) unsigned char storage[sizeof(CKarnWorld)];
    auto* pWorld = new (storage) CKarnWorld();
    CSLPParser parser;
    CSLPParser assigned;
    parser.SetLoaderPtr(&CopyAtReport);
    g_copying = CCopyingHost{&parser, &file, false, nullptr, &assigned, {}, -1, ""};
    ASSERT_EQ(LoadFile(parser, *pWorld, saved.path), SLPLoadSuccess);
    ASSERT_NE(g_copying.m_pCopy, nullptr);
    pWorld->~CKarnWorld();
    pWorld = new (storage) CKarnWorld();
    for (CSLPParser* pCopy : {g_copying.m_pCopy.get(), &assigned})
    {
        pCopy->ClearPointList();
        pCopy->ClearNormalList();
        ASSERT_EQ(LoadFile(*pCopy, *pWorld, more.path), SLPLoadSuccess);
        EXPECT_EQ(pCopy->GetDiscardedPointCount(), 3);
    }
    EXPECT_EQ(GeometryText(*pWorld, false), "group x\ngroup z\ngroup x\ngroup z\n");
    g_copying.m_pCopy.reset();
    pWorld->~CKarnWorld();
}
