// Memory under a load: every allocation a load makes may fail, and what a load keeps is the model plus
// a constant (or, for a huge token, memory in proportion to the token). This program replaces the global
// operator new and delete to count live bytes and to make a chosen allocation throw; the other forms of
// new and delete (array, nothrow) call these.

#include "WorldChecker.h"
#include "slp/SLPParser.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

namespace
{

// Counters of the replaced allocation functions. The test runs on one thread.
size_t g_nLiveBytes = 0;
size_t g_nPeakBytes = 0;
// When not 0, the allocation that brings it to 0 fails.
size_t g_nFailCountdown = 0;

// Each block carries its size in front, so that delete can count it off.
const size_t kHeader = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t)
                                                                  : sizeof(size_t);

} // namespace

void* operator new(size_t nSize)
{
    const bool bFail = g_nFailCountdown != 0 && --g_nFailCountdown == 0;
    void* pBlock = bFail ? nullptr : std::malloc(nSize + kHeader);
    if (pBlock == nullptr)
        throw std::bad_alloc();
    *static_cast<size_t*>(pBlock) = nSize;
    g_nLiveBytes += nSize;
    g_nPeakBytes = g_nLiveBytes > g_nPeakBytes ? g_nLiveBytes : g_nPeakBytes;
    return static_cast<char*>(pBlock) + kHeader;
}

void operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    void* pBlock = static_cast<char*>(p) - kHeader;
    g_nLiveBytes -= *static_cast<size_t*>(pBlock);
    std::free(pBlock);
}

void operator delete(void* p, size_t) noexcept
{
    operator delete(p);
}

namespace
{

// The bytes a load holds at its peak beyond what it leaves behind (the model), and the model's bytes.
struct LoadMemory
{
    size_t nModel;
    size_t nOverModel;
};

LoadMemory MeasureLoad(const std::string& strContents)
{
    const TempFile file(strContents);
    CKarnWorld world;
    const size_t nBefore = g_nLiveBytes;
    g_nPeakBytes = g_nLiveBytes;
    {
        CSLPParser parser;
        EXPECT_EQ(LoadFile(parser, world, file.path), SLPLoadSuccess);
    }
    const size_t nModel = g_nLiveBytes - nBefore;
    return LoadMemory{nModel, g_nPeakBytes - nBefore - nModel};
}

std::string ManySmallSolids(int nCount)
{
    std::string strContents;
    for (int i = 0; i < nCount; ++i)
        strContents += "solid part" + std::to_string(i) +
                       "\ncolor 0.5 0.5 1\nfacet normal 0 0 1 outer loop\nvertex 0 0 " + std::to_string(i) +
                       "\nnormal 0 0 1 vertex 1 0 0\nnormal 0 0 1 vertex 0 1 0\nendloop endfacet\nendsolid\n";
    return strContents;
}

} // namespace

TEST(AllocationFailureTest, EveryAllocationOfALoadMayFail)
{
    for (const char* pszName : {"nested_solids.slp", "colour_runs.slp", "awkward_names.slp"})
    {
        const std::string strPath = DataPath(pszName);
        std::string strExpected;
        {
            CKarnWorld world;
            CSLPParser parser;
            ASSERT_EQ(LoadFile(parser, world, strPath), SLPLoadSuccess);
            strExpected = DescribeWorld(world);
        }
        size_t nFailures = 0;
        for (size_t n = 1;; ++n)
        {
            SCOPED_TRACE(std::string(pszName) + ", allocation " + std::to_string(n));
            const size_t nLiveBefore = g_nLiveBytes;
            bool bThrew = false;
            {
                // The world already holds a group of the host's, which must stay attached whatever happens.
                CKarnWorld world;
                auto* pHostGroup = new CKarnGroup();
                world.AddGroup(pHostGroup, 1);
                CSLPParser parser;
                parser.SetFileName(CBasicString(strPath.c_str()));
                g_nFailCountdown = n;
                try
                {
                    parser.Parse(&world);
                }
                catch (const std::bad_alloc&)
                {
                    bThrew = true;
                }
                g_nFailCountdown = 0;
                ASSERT_EQ(world.GetGroup(0), pHostGroup);
                ASSERT_TRUE(WorldIsConsistent(world, false));
                if (!bThrew)
                {
                    // The countdown outlived the load: every allocation of it has had its turn to fail.
                    EXPECT_EQ(DescribeWorld(world), "group \n" + strExpected);
                    break;
                }
                ++nFailures;
                // The same parser loads the file again into a new world, as if nothing had happened (the
                // colour in force carries over between loads by design, so it is set back first).
                parser.SetCurrentColor(vemoChroma(1.0f, 1.0f, 1.0f, 1.0f));
                CKarnWorld again;
                ASSERT_EQ(parser.Parse(&again), SLPLoadSuccess);
                EXPECT_EQ(DescribeWorld(again), strExpected);
            }
            // Parser and worlds are gone: every byte they held was given back.
            ASSERT_EQ(g_nLiveBytes, nLiveBefore);
        }
        // Failures were injected and reached the caller (the count differs between builds and standard
        // libraries; a replacement of new that the load does not use would give none).
        EXPECT_GT(nFailures, 10u) << pszName;
    }
}

TEST(LoadMemoryTest, ManySmallSolidsCostTheModelPlusAConstant)
{
    const LoadMemory small = MeasureLoad(ManySmallSolids(2000));
    const LoadMemory large = MeasureLoad(ManySmallSolids(8000));
    // Four times the solids, about four times the model ...
    EXPECT_GT(large.nModel, 3 * small.nModel);
    // ... but the same working memory beyond it: the file block and the token buffers.
    EXPECT_LT(large.nOverModel, CKarnFileInterface::DefaultBlockSize + 64 * 1024);
    EXPECT_LT(large.nOverModel, small.nOverModel + 4096) << small.nOverModel << " for 2,000 solids";
}

TEST(LoadMemoryTest, AHugeWordCostsMemoryInProportionToIt)
{
    // The word names a group, so the model keeps it (as 16-bit units). Beyond the model the load holds
    // the token's text, its conversion and the copies on the way into the group: a fixed multiple of
    // the word, so twice the word costs twice the memory.
    size_t aOverModel[2] = {0, 0};
    for (int i = 0; i < 2; ++i)
    {
        const size_t nWord = size_t(4) << (20 + i);
        const LoadMemory memory = MeasureLoad("solid " + std::string(nWord, 'w') + "\n");
        EXPECT_GE(memory.nModel, 2 * nWord);
        EXPECT_LT(memory.nModel, 2 * nWord + 64 * 1024);
        EXPECT_LT(memory.nOverModel, 8 * nWord) << nWord << "-byte word";
        aOverModel[i] = memory.nOverModel;
    }
    EXPECT_LT(aOverModel[1], 2 * aOverModel[0] + 64 * 1024) << aOverModel[0] << " beyond the model for 4 MiB";
}

TEST(AllocationFailureTest, ListsTakingOverPartWayLoseAndRepeatNothing)
{
    // A host asks for the lists of a run of 9,000 vertices (four chunks of the collection) while memory
    // runs out at each allocation in turn (a list's storage grows after 16, 48, 112 ... 8,176 items):
    // the items moved into a list before the failure stay there and the others wait in the collection,
    // so the run goes on, and asking again gives every item once, in order, as does the mesh.
    const int nVertices = 9000;
    size_t nFailures = 0;
    for (size_t n = 1;; ++n)
    {
        SCOPED_TRACE(n);
        CKarnWorld world;
        CSLPParser parser;
        parser.SetWorld(&world);
        parser.PushGroup(new CKarnGroup());
        auto add = [&parser](int v)
        {
            vemoFloatPoint point(static_cast<float>(v), 2.0f, 3.0f);
            vemoVector normal(0.0f, static_cast<float>(v), 1.0f);
            parser.AddPointToList(point);
            parser.AddNormalToList(normal);
        };
        for (int v = 0; v < nVertices; ++v)
            add(v);
        int nThrew = 0;
        for (const bool bNormals : {false, true})
        {
            g_nFailCountdown = n;
            try
            {
                if (bNormals)
                    parser.GetNormalList();
                else
                    parser.GetPointList();
            }
            catch (const std::bad_alloc&)
            {
                ++nThrew;
            }
            g_nFailCountdown = 0;
        }
        for (int v = nVertices; v < nVertices + 4; ++v)
            add(v);
        // Every other time the flush comes without the host asking again.
        for (int nList = 0; nList < 2 && n % 2 == 1; ++nList)
        {
            CKarnList* pList = nList == 0 ? parser.GetPointList() : parser.GetNormalList();
            ASSERT_EQ(pList->GetCount(), nVertices + 4);
            CBasicListIterator it(pList);
            for (int v = 0; v < nVertices + 4; ++v, it++)
            {
                const auto* p = static_cast<const vemoFloatPoint*>(it.GetData());
                ASSERT_EQ(nList == 0 ? p->x : p->y, static_cast<float>(v));
            }
        }
        ASSERT_TRUE(parser.FlushGeometryToWorld());
        const auto* pMesh = dynamic_cast<const vemoSTL*>(parser.GetCurrentGroup()->GetObject(0));
        ASSERT_EQ(pMesh->m_nTriangleCount, (nVertices + 4) / 3);
        for (int v = 0; v < nVertices + 3; ++v)
        {
            const vemoTRex& triangle = pMesh->m_pTriangles[v / 3];
            ASSERT_TRUE(triangle.m_Vertex[v % 3].x == static_cast<float>(v) &&
                        triangle.m_Normal[v % 3].y == static_cast<float>(v));
        }
        if (nThrew == 0)
            break;
        nFailures += static_cast<size_t>(nThrew);
    }
    EXPECT_GE(nFailures, 20u);
}
