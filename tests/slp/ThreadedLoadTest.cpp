// Loads on several threads against loads on one: whatever the pieces the file is read ahead in, the
// blocks it is read in, and whatever happens on the way (a read that fails, a file that changes, a host
// that moves the parser from its callback), everything a host sees is the same: the result, the model bit
// for bit, what was dropped, every report with the token the parser stood at and the lists it held.

#include "WorldChecker.h"
#include "model/GroupWalk.h"
#include "slp/SLPParser.h"
#include "tests/support/FailingReads.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

namespace
{

// Mesh lines as exporters write them, and everything else a file may hold between them: nested solids,
// colours, facets in other shapes, triples cut short, stray words and brackets, quoted names, CR LF
// line ends, long numbers, exponents and non-finite spellings.
std::string MixedFile(unsigned nSeed, int nFacets)
{
    std::mt19937 random(nSeed);
    const auto number = [&random]() -> std::string
    {
        const int nKind = static_cast<int>(random() % 40);
        const double d = static_cast<double>(static_cast<int>(random() % 2000000) - 1000000) / 1000.0;
        char sz[64];
        if (nKind == 0)
            std::snprintf(sz, sizeof sz, "%.17g", d / 7.0);
        else if (nKind == 1)
            std::snprintf(sz, sizeof sz, "%ge%d", d, static_cast<int>(random() % 20) - 10);
        else if (nKind == 2)
            return random() % 2 == 0 ? "nan" : "-INF";
        else if (nKind == 3)
            return "+" + std::to_string(random() % 100);
        else
            std::snprintf(sz, sizeof sz, "%.6f", d);
        return sz;
    };
    std::string text = "solid top\n";
    int nDepth = 1;
    for (int i = 0; i < nFacets; ++i)
    {
        const unsigned nRoll = static_cast<unsigned>(random() % 100);
        if (nRoll < 3)
        {
            text += (random() % 2 == 0 ? "  solid part_" : "  SOLID \"part ") + std::to_string(i) +
                    (nRoll == 0 ? "\"\r\n" : "\n");
            ++nDepth;
        }
        else if (nRoll < 5 && nDepth > 1)
        {
            text += "  endsolid\n";
            --nDepth;
        }
        else if (nRoll < 7)
            text += "  color " + number() + " " + number() + " " + number() + "\n";
        else if (nRoll == 7)
            text += "  vertex " + number() + " " + number() + "\n"; // cut short
        else if (nRoll == 8)
            text += "  stray words ( here ] \"quoted\n";
        else if (nRoll == 9)
            text += "  facet normal " + number() + " " + number() + " " + number() +
                    "\n    outer loop\n      vertex 1 2 3\n      vertex 4 5 6\n      vertex 7 8 9\n    "
                    "endloop\n  "
                    "endfacet\n";
        const char* const pszEnd = random() % 10 == 0 ? "\r\n" : "\n";
        text += std::string("  facet") + pszEnd + "    outer loop" + pszEnd;
        for (int k = 0; k < 3; ++k)
            text += "      normal " + number() + " " + number() + " " + number() + pszEnd + "      vertex " +
                    number() + " " + number() + " " + number() + pszEnd;
        text += std::string("    endloop") + pszEnd + "  endfacet" + pszEnd;
    }
    return text + "endsolid\n";
}

// What a host sees of a load, as text: the result, what was dropped, the model bit for bit, and each
// report with the token the parser stood at and the sizes of the lists it holds.
struct CSeen
{
    std::string strReports;
    std::function<void(CSLPParser&, int)> onReport; // what the host does at each report
    CSLPParser* pParser = nullptr;
};
CSeen* g_pSeen = nullptr;

void SLP_STDCALL Record(int nPercentage)
{
    CSLPParser& parser = *g_pSeen->pParser;
    CGenericToken& token = parser.GetIOManager()->GetCurrentToken();
    g_pSeen->strReports += std::to_string(nPercentage) + "@" + std::to_string(token.GetEndOffset()) + ":" +
                           std::string(token.GetString(), token.GetLength()) + " " +
                           std::to_string(parser.GetPointList()->GetCount()) + "/" +
                           std::to_string(parser.GetNormalList()->GetCount()) + "\n";
    if (g_pSeen->onReport)
        g_pSeen->onReport(parser, nPercentage);
}

std::string Bits(float f)
{
    unsigned nBits = 0;
    std::memcpy(&nBits, &f, sizeof nBits);
    return std::to_string(nBits);
}

std::string LoadSeen(const std::string& path, int nThreads, size_t nBlockSize,
                     CKarnReadWatcher* pWatcher = nullptr,
                     std::function<void(CSLPParser&, int)> onReport = nullptr, bool bFromMemory = false)
{
    CSeen seen;
    seen.onReport = std::move(onReport);
    CKarnWorld world;
    CSLPParser parser;
    seen.pParser = &parser;
    g_pSeen = &seen;
    parser.SetThreadCount(nThreads);
    parser.SetLoaderPtr(&Record);
    parser.GetIOManager()->SetBlockSize(nBlockSize);
    parser.GetIOManager()->GetFileInterface()->SetReadWatcher(pWatcher);
    std::string strBytes;
    if (bFromMemory)
        strBytes.assign(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
    const SLPLoadResultTypes eResult = bFromMemory
                                           ? parser.ParseBuffer(&world, strBytes.data(), strBytes.size())
                                           : LoadFile(parser, world, path);
    g_pSeen = nullptr;
    std::string text = std::to_string(eResult) + " dropped " +
                       std::to_string(parser.GetDiscardedPointCount()) + "\n" + DescribeWorld(world);
    for (CGroupWalk walk(world); walk.Next();)
    {
        const vemoBaseGroup* pGroup = &walk.GetGroup();
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(pGroup->GetObject(i));
            for (int t = 0; pMesh != nullptr && t < pMesh->m_nTriangleCount; ++t)
                for (int k = 0; k < 3; ++k)
                {
                    const vemoTRex& triangle = pMesh->m_pTriangles[t];
                    text += Bits(triangle.m_Vertex[k].x) + "," + Bits(triangle.m_Vertex[k].y) + "," +
                            Bits(triangle.m_Vertex[k].z) + "," + Bits(triangle.m_Normal[k].x) + "," +
                            Bits(triangle.m_Normal[k].y) + "," + Bits(triangle.m_Normal[k].z) + " ";
                }
            text += "\n";
        }
    }
    return text + seen.strReports;
}

// Forces the read-ahead's pieces for a scope.
struct CForcedPieces
{
    explicit CForcedPieces(size_t nBytes) { GenericForceReadAheadPieces(nBytes); }
    ~CForcedPieces() { GenericForceReadAheadPieces(0); }
};

} // namespace

TEST(ThreadedLoadTest, SameAsOneThreadWhateverThePiecesAndBlocks)
{
    for (const unsigned nSeed : {1u, 2u})
    {
        const TempFile file(MixedFile(nSeed, 700));
        const std::string strOne = LoadSeen(file.path, 1, 0);
        ASSERT_NE(strOne.find("\n99@"), std::string::npos);
        for (const size_t nPiece : {size_t(1), size_t(97), size_t(4096), size_t(100000)})
            for (const size_t nBlock : {size_t(7), size_t(1000), size_t(0)})
                for (const int nThreads : {2, 4})
                {
                    const CForcedPieces pieces(nPiece);
                    EXPECT_EQ(LoadSeen(file.path, nThreads, nBlock), strOne)
                        << "seed " << nSeed << ", pieces of " << nPiece << ", blocks of " << nBlock << ", "
                        << nThreads << " threads";
                }
        // Held in memory: read ahead from the buffer.
        const std::string strInMemory = LoadSeen(file.path, 1, 0, nullptr, nullptr, true);
        for (const size_t nPiece : {size_t(1), size_t(4096)})
        {
            const CForcedPieces pieces(nPiece);
            EXPECT_EQ(LoadSeen(file.path, 2, 0, nullptr, nullptr, true), strInMemory) << nPiece;
        }
    }
}

TEST(ThreadedLoadTest, FailuresChangesAndHostsAsOnOneThread)
{
    const std::string strText = MixedFile(3, 900);
    const TempFile file(strText);
    const long long nSize = static_cast<long long>(strText.size());
    const CForcedPieces pieces(4096);
    // A read that fails part way, wherever it is: the same load up to it, and the same failure.
    for (const long long nFailAt : {nSize / 3, nSize - 10, nSize})
    {
        CFailingReads one(nFailAt);
        CFailingReads several(nFailAt);
        EXPECT_EQ(LoadSeen(file.path, 3, 1000, &several), LoadSeen(file.path, 1, 1000, &one)) << nFailAt;
    }
    // A host that shrinks or grows the file at its first report reads what the file holds then; one that
    // moves the parser itself (a token ahead, and back to where it stood) is followed where it goes.
    bool bChanged = false;
    const std::function<void(CSLPParser&, int)> hosts[] = {
        [&](CSLPParser&, int)
        {
            if (!std::exchange(bChanged, true))
                std::filesystem::resize_file(file.path, static_cast<std::uintmax_t>(nSize / 20));
        },
        [&](CSLPParser&, int)
        {
            if (!std::exchange(bChanged, true))
                std::ofstream(file.path, std::ios::binary | std::ios::app) << strText;
        },
        [](CSLPParser& parser, int nPercentage)
        {
            if (nPercentage % 7 == 0)
                parser.GetIOManager()->Tokenize();
        },
        [](CSLPParser& parser, int nPercentage)
        {
            CGenericIOState state;
            parser.SaveIOState(state);
            for (int i = 0; i < nPercentage * 50; ++i)
                parser.GetIOManager()->Tokenize();
            parser.RestoreIOState(state);
        }};
    for (const auto& host : hosts)
    {
        file.Write(strText);
        bChanged = false;
        const std::string strOne = LoadSeen(file.path, 1, 1000, nullptr, host);
        file.Write(strText);
        bChanged = false;
        EXPECT_EQ(LoadSeen(file.path, 3, 1000, nullptr, host), strOne);
    }
}

TEST(ThreadedLoadTest, AHostsExceptionStopsTheThreadsBeforeItReachesTheHost)
{
    // The host may free its buffer as soon as the exception reaches it: no thread reads it any more.
    const auto threads = []()
    {
        const std::filesystem::directory_iterator tasks("/proc/self/task");
        return std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks));
    };
    if (!std::filesystem::exists("/proc/self/task"))
        GTEST_SKIP() << "no /proc to count the threads in";
    const CForcedPieces pieces(4096);
    auto pBytes = std::make_unique<std::string>(MixedFile(4, 3000));
    {
        // A load that ends well first, so that threads a runtime starts once with the first thread
        // it sees (the thread sanitizer's own) are counted before.
        CKarnWorld warm;
        CSLPParser parser;
        parser.SetThreadCount(3);
        parser.ParseBuffer(&warm, pBytes->data(), pBytes->size());
    }
    const long nBefore = static_cast<long>(threads());
    CKarnWorld world;
    CSLPParser parser;
    parser.SetThreadCount(3);
    parser.SetLoaderPtr([](int) { throw std::runtime_error("stop"); });
    EXPECT_THROW(parser.ParseBuffer(&world, pBytes->data(), pBytes->size()), std::runtime_error);
    EXPECT_EQ(static_cast<long>(threads()), nBefore);
}

TEST(ThreadedLoadTest, ALongRunsMeshAndBoxAreThoseOfOneThread)
{
    // One run long enough to be copied and measured in parts on the threads; the least and greatest
    // coordinates are zeros of both signs, whose first one seen is the box's.
    std::string strText = "solid long\n";
    for (int i = 0; i < 70000; ++i)
    {
        const char* const pszZero = (i % 3 == 0) ? "-0.0" : "0.0";
        strText += "normal 0 0 1 vertex " + std::to_string(i % 97) + " " + pszZero + " " +
                   std::to_string(i % 89) + "\nnormal 0 1 0 vertex " + pszZero + " " +
                   std::to_string(i % 83) + " 1.5\nnormal 1 0 0 vertex " + std::to_string(i % 7) + " 2.25 " +
                   pszZero + "\n";
    }
    const TempFile file(strText + "endsolid\n");
    std::string strBoxes[2];
    for (const int nThreads : {1, 2})
    {
        CKarnWorld world;
        CSLPParser parser;
        parser.SetThreadCount(nThreads);
        ASSERT_EQ(LoadFile(parser, world, file.path), SLPLoadSuccess);
        auto* pMesh = dynamic_cast<vemoSTL*>(world.GetGroup(0)->GetObject(0));
        ASSERT_NE(pMesh, nullptr);
        // The box made in parts is the one made of the vertices in order.
        const auto corners = [](const vemoBBox& box)
        {
            std::string text;
            for (const vemoFloatPoint& corner : {box.GetMin(), box.GetMax()})
                text += Bits(corner.x) + " " + Bits(corner.y) + " " + Bits(corner.z) + " ";
            return text;
        };
        strBoxes[nThreads - 1] = corners(pMesh->GetBBox());
        pMesh->ComputeBBoxFromPoints();
        EXPECT_EQ(strBoxes[nThreads - 1], corners(pMesh->GetBBox()));
        strBoxes[nThreads - 1] += LoadSeen(file.path, nThreads, 0).substr(0, 200);
    }
    EXPECT_EQ(strBoxes[1], strBoxes[0]);
}
