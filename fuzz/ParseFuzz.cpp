// The loader harness: Parse over arbitrary file contents, with three block sizes and both scans.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "checker/SLPChecker.h"
#include "model/GroupWalk.h"
#include "slp/SLPParser.h"
#include "tokenizer/ByteScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace
{

int g_nLastProgress = 0;
// The parser of the load under way, and what its callback saw: each percentage with the token the parser
// stood at then (its end offset and text) and the collected points and normals.
CSLPParser* g_pReporting = nullptr;
std::string g_strReports;

void SLP_STDCALL OnProgress(int nPercentage)
{
    FUZZ_CHECK(nPercentage > g_nLastProgress && nPercentage >= 1 && nPercentage <= 99);
    g_nLastProgress = nPercentage;
    CGenericToken& token = g_pReporting->GetIOManager()->GetCurrentToken();
    g_strReports += std::to_string(nPercentage) + "@" + std::to_string(token.GetEndOffset()) + ":" +
                    std::string(token.GetString(), token.GetLength()) + " " +
                    std::to_string(g_pReporting->GetPointList()->GetCount()) + "/" +
                    std::to_string(g_pReporting->GetNormalList()->GetCount()) + "\n";
}

void AppendBits(std::string& out, float f)
{
    char aBytes[sizeof f];
    std::memcpy(aBytes, &f, sizeof f);
    out.append(aBytes, sizeof aBytes);
}

bool Encloses(const vemoBBox& box, const vemoFloatPoint& p)
{
    return !box.IsEmpty() && box.GetMin().x <= p.x && box.GetMin().y <= p.y && box.GetMin().z <= p.z &&
           box.GetMax().x >= p.x && box.GetMax().y >= p.y && box.GetMax().z >= p.z;
}

// Checks the model's structure (without recursion) and returns an exact description of it: the tree,
// names, colours and every vertex and normal bit for bit.
std::string CheckAndDescribe(const CKarnWorld& world)
{
    std::string description;
    for (CGroupWalk walk(world); walk.Next();)
    {
        const vemoBaseGroup* pGroup = &walk.GetGroup();
        description += "group " + std::to_string(walk.GetDepth()) + " ";
        for (const WideChar* p = pGroup->GetGroupName().GetText(); p != nullptr && *p != 0; ++p)
            description += std::to_string(static_cast<unsigned>(*p)) + ",";
        description += "\n";
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
        {
            const auto* pMesh = dynamic_cast<const vemoSTL*>(pGroup->GetObject(i));
            const vemoMatProps* pProps = pGroup->GetObjectMaterial(i);
            FUZZ_CHECK(pMesh != nullptr && pProps != nullptr);
            FUZZ_CHECK(pMesh->m_nTriangleCount >= 1 && pMesh->m_pTriangles != nullptr);
            const vemoChroma& colour = pProps->m_Front.GetDiffuse();
            description += "mesh " + std::to_string(pMesh->m_nTriangleCount) + " ";
            for (float f : {colour.red, colour.green, colour.blue, colour.alpha})
                AppendBits(description, f);
            for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
            {
                const vemoTRex& triangle = pMesh->m_pTriangles[t];
                for (int k = 0; k < 3; ++k)
                {
                    const vemoFloatPoint& v = triangle.m_Vertex[k];
                    const vemoVector& n = triangle.m_Normal[k];
                    // A vertex with a NaN coordinate ("nan" in the file) has no place in a box.
                    if (!std::isnan(v.x) && !std::isnan(v.y) && !std::isnan(v.z))
                        FUZZ_CHECK(Encloses(pMesh->GetBBox(), v) && Encloses(world.GetBBox(), v));
                    for (float f : {v.x, v.y, v.z, n.x, n.y, n.z})
                        AppendBits(description, f);
                }
            }
            description += "\n";
        }
        for (int i = 0; i < pGroup->GetNumGroups(); ++i)
            FUZZ_CHECK(pGroup->GetGroup(i)->GetParent() == pGroup);
    }
    return description;
}

// The checker walks the file as the loader does: it must count the solids, meshes and triangles the
// load built and the vertices it dropped, and call the load lossless exactly when it was.
void CheckAgreesWithLoad(const std::string& strPath, const CKarnWorld& world, long long nDiscarded,
                         const std::string& strFirstBlock)
{
    const CCheckReport report = CheckSLPFile(CBasicString(strPath.c_str()));
    // Binary input is refused at its first block, before any walk: a file that does not load.
    if (CBinaryInputGuard().AfterRead(0, strFirstBlock.data(), strFirstBlock.size()) != 0)
    {
        FUZZ_CHECK(report.m_eOpen == SLPLoadSuccess && report.m_nSolids == 0 && report.m_nErrors == 1 &&
                   report.m_Findings.size() == 1 && report.m_Findings[0].m_strCode == "no-solid");
        return;
    }
    long long nGroups = 0, nMeshes = 0, nTriangles = 0;
    for (CGroupWalk walk(world); walk.Next();)
    {
        const vemoBaseGroup* pGroup = &walk.GetGroup();
        nGroups += pGroup->GetNumGroups();
        nMeshes += pGroup->GetNumObjects();
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
            nTriangles += static_cast<const vemoSTL*>(pGroup->GetObject(i))->m_nTriangleCount;
    }
    FUZZ_CHECK(report.m_eOpen == SLPLoadSuccess);
    FUZZ_CHECK(report.m_nSolids == nGroups && report.m_nMeshes == nMeshes &&
               report.m_nTriangles == nTriangles);
    FUZZ_CHECK(report.m_nLostVertices == nDiscarded);
    // A file that does not load is an error of its own.
    FUZZ_CHECK((report.m_nErrors == 0) == (nDiscarded == 0 && nGroups > 0));
}

// Loads the file with the block size and threads given (or its bytes held in memory, from pInMemory)
// and returns the result and the model's description; g_strReports then holds the reports with what the
// callback saw at each.
std::string Load(const std::string& strPath, size_t nBlockSize, const std::string& strFirstBlock,
                 int nThreads = 1, const std::string* pInMemory = nullptr)
{
    CKarnWorld world;
    CSLPParser parser;
    parser.SetFileName(CBasicString(strPath.c_str()));
    parser.SetLoaderPtr(&OnProgress);
    parser.SetThreadCount(nThreads);
    parser.GetIOManager()->SetBlockSize(nBlockSize);
    g_nLastProgress = 0;
    g_pReporting = &parser;
    g_strReports.clear();
    const SLPLoadResultTypes eResult = pInMemory != nullptr
                                           ? parser.ParseBuffer(&world, pInMemory->data(), pInMemory->size())
                                           : parser.Parse(&world);
    const bool bFilled = world.GetNumGroups() > 0 || world.GetNumObjects() > 0;
    FUZZ_CHECK(eResult == (bFilled ? SLPLoadSuccess : SLPLoadFailure));
    // Whatever the file, the load ends with the lists emptied by the last flush.
    FUZZ_CHECK(parser.GetPointList()->GetCount() == 0 && parser.GetNormalList()->GetCount() == 0);
    if (nBlockSize == 0)
        CheckAgreesWithLoad(strPath, world, parser.GetDiscardedPointCount(), strFirstBlock);
    return std::to_string(eResult) + "\n" + CheckAndDescribe(world) + "dropped " +
           std::to_string(parser.GetDiscardedPointCount()) + "\n";
}

// One parser loads the file twice into one world (solids left open carry over into the second load),
// then, once that world is gone, into a new world, where it must build what a fresh parser builds.
void CheckReuse(const std::string& strPath, const std::string& strFresh)
{
    CSLPParser parser;
    parser.SetFileName(CBasicString(strPath.c_str()));
    {
        auto pWorld = std::make_unique<CKarnWorld>();
        parser.Parse(pWorld.get());
        const SLPLoadResultTypes eResult = parser.Parse(pWorld.get());
        FUZZ_CHECK(eResult == (pWorld->GetNumGroups() > 0 || pWorld->GetNumObjects() > 0 ? SLPLoadSuccess
                                                                                         : SLPLoadFailure));
        CheckAndDescribe(*pWorld);
    }
    // The colour in force carries over by design; everything else of the old world must be forgotten.
    parser.SetCurrentColor(vemoChroma(1.0f, 1.0f, 1.0f, 1.0f));
    CKarnWorld world;
    const SLPLoadResultTypes eResult = parser.Parse(&world);
    FUZZ_CHECK(std::to_string(eResult) + "\n" + CheckAndDescribe(world) == strFresh);
}

} // namespace

int FuzzParse(const uint8_t* pData, size_t nSize)
{
    static CFuzzTempFile file("parse");
    file.Write(pData, nSize);
    const std::string strFirstBlock(reinterpret_cast<const char*>(pData),
                                    std::min(nSize, size_t{CKarnFileInterface::DefaultBlockSize}));
    const std::string strWhole = Load(file.GetPath(), 0, strFirstBlock);
    const std::string strReports = g_strReports;
    // Tiny blocks, and blocks of 64 bytes to 16 KiB that cut words and batches anywhere, each load with
    // one of the three scans (no vector instruction, SSE2, AVX2) by turns. Each builds the same model.
    GenericLimitScan(static_cast<GenericScanLevels>(nSize % 3));
    const std::string strSmallBlocks = Load(file.GetPath(), 1 + nSize % 5, strFirstBlock);
    GenericLimitScan(static_cast<GenericScanLevels>((nSize + 1) % 3));
    const std::string strMediumBlocks = Load(file.GetPath(), size_t(64) << (nSize / 2 % 9), strFirstBlock);
    FUZZ_CHECK(strWhole == strSmallBlocks && strWhole == strMediumBlocks && g_strReports == strReports);
    // Read ahead on other threads in pieces cut anywhere (down to a piece a byte), with blocks that lie
    // across the pieces' ends or within them: everything the host sees is the same.
    GenericForceReadAheadPieces(1 + nSize % 97);
    GenericLimitScan(static_cast<GenericScanLevels>((nSize + 2) % 3));
    const std::string strThreaded = Load(file.GetPath(), 1 + nSize % 7, strFirstBlock, 2);
    FUZZ_CHECK(strWhole == strThreaded && g_strReports == strReports);
    GenericForceReadAheadPieces(size_t(64) << (nSize % 6));
    const std::string strThreadedMedium = Load(file.GetPath(), size_t(16) << (nSize % 4), strFirstBlock, 3);
    FUZZ_CHECK(strWhole == strThreadedMedium && g_strReports == strReports);
    // The same bytes held in memory, read ahead from there.
    const std::string strBytes(reinterpret_cast<const char*>(pData), nSize);
    GenericForceReadAheadPieces(1 + nSize % 89);
    const std::string strInMemory = Load(file.GetPath(), 0, strFirstBlock, 2, &strBytes);
    FUZZ_CHECK(strWhole == strInMemory && g_strReports == strReports);
    GenericForceReadAheadPieces(0);
    GenericLimitScan(GenericScanAvx2);
    CheckReuse(file.GetPath(), strWhole.substr(0, strWhole.rfind("dropped ")));
    return 0;
}
