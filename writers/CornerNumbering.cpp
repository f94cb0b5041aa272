#include "writers/CornerNumbering.h"

#include "writers/NoInitAllocator.h"
#include "writers/PartRunner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace
{

// Triangles whose records are filled per part of the work.
constexpr size_t PartTriangles = 1024;
// A mesh of this many triangles and more is numbered on every thread, by buckets of its records'
// hashes; a smaller one, whose index stays in the processor's caches, gains less than sharing it costs.
constexpr int SharedTriangles = 32768;
// The buckets, by the top bits of the hashes: many, so that each bucket's table stays in a processor's
// cache and the threads share them out evenly.
constexpr int BucketBits = 8;
constexpr size_t Buckets = size_t(1) << BucketBits;

// A box (min x y z, max x y z) that takes in any finite position.
constexpr float EmptyBox[6] = {HUGE_VALF, HUGE_VALF, HUGE_VALF, -HUGE_VALF, -HUGE_VALF, -HUGE_VALF};

// Widens the box to take in another box, given by its low and its high corner: of equal values (-0
// and 0) the box keeps the one it has, so positions, and boxes of runs of them, taken in order give
// the box of one pass over the positions.
void TakeIn(float* pBox, const float* pLow, const float* pHigh)
{
    for (int k = 0; k < 3; ++k)
    {
        pBox[k] = pLow[k] < pBox[k] ? pLow[k] : pBox[k];
        pBox[k + 3] = pHigh[k] > pBox[k + 3] ? pHigh[k] : pBox[k + 3];
    }
}

// Numbers the corners of one mesh after another, each into the same arrays.
class CMeshNumbering
{
public:
    CMeshNumbering(CPartRunner& runner, const CornerFill& fill) : m_Runner(runner), m_Fill(fill) {}

    // Numbers the mesh's corners into pIds (3 per triangle; null for GetIds) and its vertices into
    // GetVertices; the number of vertices.
    std::uint32_t Number(const vemoSTL& mesh, std::uint32_t* pIds);
    const std::uint32_t* GetIds() const { return m_pIds; }
    const CVertexRecord* GetVertices() const { return m_pVertices; }
    // The box of the vertices' finite positions, min x y z then max x y z.
    const float* GetBox() const { return m_aBox; }

private:
    std::uint32_t NumberOnThisThread(const vemoSTL& mesh, std::uint32_t* pIds);
    std::uint32_t NumberInBuckets(const vemoSTL& mesh, std::uint32_t* pIds);

    CPartRunner& m_Runner;
    const CornerFill& m_Fill;
    CVertexIndex m_Index;
    CBufferVector<std::uint32_t> m_Ids;
    std::uint32_t* m_pIds = nullptr;
    CBufferVector<CVertexRecord> m_Vertices;
    // Per corner of a mesh numbered in buckets: its record (the records of the first corners end up at
    // the front, in the order of their numbers: the mesh's vertices); per part, its kept corners in the
    // order of their buckets, each as the low half of its hash above the corner; per part, where each
    // bucket starts among them, and their end.
    CBufferVector<CVertexRecord> m_Records;
    CBufferVector<std::uint64_t> m_Entries;
    CBufferVector<std::uint32_t> m_BucketStarts;
    std::vector<std::array<float, 6>> m_PartBoxes; // per part, the box of its kept corners' positions
    const CVertexRecord* m_pVertices = nullptr;
    float m_aBox[6] = {};
};

std::uint32_t CMeshNumbering::Number(const vemoSTL& mesh, std::uint32_t* pIds)
{
    if (pIds == nullptr)
    {
        m_Ids.resize(3 * static_cast<size_t>(mesh.m_nTriangleCount));
        pIds = m_Ids.data();
    }
    m_pIds = pIds;
    return m_Runner.GetThreads() > 1 && mesh.m_nTriangleCount >= SharedTriangles
               ? NumberInBuckets(mesh, pIds)
               : NumberOnThisThread(mesh, pIds);
}

std::uint32_t CMeshNumbering::NumberOnThisThread(const vemoSTL& mesh, std::uint32_t* pIds)
{
    m_Index.Clear();
    CVertexRecord aCorners[3];
    for (int t = 0; t < mesh.m_nTriangleCount; ++t, pIds += 3)
    {
        const bool bKept = m_Fill(mesh.m_pTriangles[t], aCorners);
        for (int k = 0; k < 3; ++k)
            pIds[k] = bKept ? m_Index.Add(aCorners[k]) : NotNumbered;
    }
    m_Vertices.resize(m_Index.GetCount());
    // The box grows in a local, which stays in registers.
    float aBox[6] = {EmptyBox[0], EmptyBox[1], EmptyBox[2], EmptyBox[3], EmptyBox[4], EmptyBox[5]};
    for (size_t v = 0; v < m_Index.GetCount(); ++v)
    {
        m_Vertices[v] = m_Index.GetRecord(v);
        TakeIn(aBox, m_Index.GetRecord(v).m_aValues, m_Index.GetRecord(v).m_aValues);
    }
    std::copy(aBox, aBox + 6, m_aBox);
    m_pVertices = m_Vertices.data();
    return static_cast<std::uint32_t>(m_Index.GetCount());
}

std::uint32_t CMeshNumbering::NumberInBuckets(const vemoSTL& mesh, std::uint32_t* const pIds)
{
    // The records fall into buckets by their hashes, and equal records into the same one. The threads
    // take the buckets in turn and find, for each corner of a bucket in order, the first corner with the
    // same record. Numbering the corners in order then gives each first corner the next number and every
    // other corner its first corner's: the numbers of one index given the corners one by one.
    const size_t nTriangles = static_cast<size_t>(mesh.m_nTriangleCount);
    const size_t nCorners = 3 * nTriangles;
    const size_t nParts = (nTriangles + PartTriangles - 1) / PartTriangles;
    m_Records.resize(nCorners);
    m_Entries.resize(nCorners);
    m_BucketStarts.resize(nParts * (Buckets + 1));
    m_PartBoxes.resize(nParts);
    constexpr std::uint64_t HighHalf = 0xFFFFFFFF00000000ull;
    m_Runner.Run(nParts,
                 [&](size_t nPart)
                 {
                     const size_t nFirst = 3 * nPart * PartTriangles;
                     const size_t nEnd = 3 * std::min(nTriangles, (nPart + 1) * PartTriangles);
                     std::uint64_t aHashes[3 * PartTriangles];
                     std::uint32_t aNext[Buckets] = {};
                     float aBox[6] = {EmptyBox[0], EmptyBox[1], EmptyBox[2],
                                      EmptyBox[3], EmptyBox[4], EmptyBox[5]};
                     for (size_t c = nFirst; c < nEnd; c += 3)
                     {
                         const bool bKept = m_Fill(mesh.m_pTriangles[c / 3], &m_Records[c]);
                         for (size_t k = c; k < c + 3; ++k)
                         {
                             pIds[k] = bKept ? 0 : NotNumbered;
                             if (!bKept)
                                 continue;
                             TakeIn(aBox, m_Records[k].m_aValues, m_Records[k].m_aValues);
                             aHashes[k - nFirst] = CVertexIndex::Hash(m_Records[k]);
                             ++aNext[aHashes[k - nFirst] >> (64 - BucketBits)];
                         }
                     }
                     std::copy(aBox, aBox + 6, m_PartBoxes[nPart].begin());
                     std::uint32_t* const pStarts = &m_BucketStarts[nPart * (Buckets + 1)];
                     size_t nAt = nFirst;
                     for (size_t b = 0; b < Buckets; ++b)
                     {
                         pStarts[b] = static_cast<std::uint32_t>(nAt);
                         nAt += aNext[b];
                         aNext[b] = pStarts[b];
                     }
                     pStarts[Buckets] = static_cast<std::uint32_t>(nAt);
                     for (size_t c = nFirst; c < nEnd; ++c)
                         if (pIds[c] != NotNumbered)
                         {
                             const std::uint64_t nHash = aHashes[c - nFirst];
                             m_Entries[aNext[nHash >> (64 - BucketBits)]++] = (nHash << 32) | c;
                         }
                 });
    const CVertexRecord* const pRecords = m_Records.data();
    m_Runner.Run(Buckets,
                 [&](size_t nBucket)
                 {
                     size_t nCount = 0;
                     for (size_t nPart = 0; nPart < nParts; ++nPart)
                         nCount += m_BucketStarts[nPart * (Buckets + 1) + nBucket + 1] -
                                   m_BucketStarts[nPart * (Buckets + 1) + nBucket];
                     size_t nSlots = 16;
                     while (nSlots < 2 * nCount)
                         nSlots *= 2;
                     // A slot holds the low half of a first corner's hash above the corner + 1, which tells
                     // most other records apart without reading them; 0 marks a free slot.
                     std::vector<std::uint64_t> slots(nSlots, 0u);
                     const size_t nMask = nSlots - 1;
                     for (size_t nPart = 0; nPart < nParts; ++nPart)
                     {
                         const std::uint32_t* const pStarts =
                             &m_BucketStarts[nPart * (Buckets + 1) + nBucket];
                         for (size_t i = pStarts[0]; i < pStarts[1]; ++i)
                         {
                             const std::uint64_t nEntry = m_Entries[i];
                             const auto c = static_cast<std::uint32_t>(nEntry);
                             for (size_t nSlot = static_cast<size_t>(nEntry >> 32) & nMask;;
                                  nSlot = (nSlot + 1) & nMask)
                             {
                                 const std::uint64_t nTaken = slots[nSlot];
                                 if (nTaken == 0)
                                 {
                                     slots[nSlot] = (nEntry & HighHalf) | (std::uint64_t(c) + 1);
                                     pIds[c] = c;
                                     break;
                                 }
                                 const auto nFirst = static_cast<std::uint32_t>(nTaken - 1);
                                 if ((nTaken & HighHalf) == (nEntry & HighHalf) &&
                                     std::memcmp(pRecords[nFirst].m_aValues, pRecords[c].m_aValues,
                                                 sizeof(CVertexRecord::m_aValues)) == 0)
                                 {
                                     pIds[c] = nFirst;
                                     break;
                                 }
                             }
                         }
                     }
                 });
    // The first corners' records move to the front in corner order: each lands at or before its own
    // place, on a record no longer needed.
    CVertexRecord* const pVertices = m_Records.data();
    std::uint32_t nNext = 0;
    for (size_t c = 0; c < nCorners; ++c)
    {
        const std::uint32_t nFirst = pIds[c];
        if (nFirst == NotNumbered)
            continue;
        if (nFirst == c)
        {
            if (nNext != c)
                pVertices[nNext] = pVertices[c];
            pIds[c] = nNext++;
        }
        else
            pIds[c] = pIds[nFirst];
    }
    // The box of the kept corners' positions, taken in corner order, is the vertices' (each vertex's
    // position stands first at its first corner, and the first corners are in vertex order).
    std::copy(EmptyBox, EmptyBox + 6, m_aBox);
    for (const std::array<float, 6>& box : m_PartBoxes)
        TakeIn(m_aBox, box.data(), box.data() + 3);
    m_pVertices = pVertices;
    return nNext;
}

} // namespace

bool NumberMeshes(const std::vector<const vemoBaseGroup*>& groups, CPartRunner& runner,
                  const CornerFill& fill, const std::function<bool(const CNumberedMesh&)>& visit,
                  CExportProgress& progress, const CornerIdPlace& place)
{
    CMeshNumbering numbering(runner, fill);
    for (size_t nGroup = 0; nGroup < groups.size(); ++nGroup)
    {
        const auto numberMesh = [&](int nObject, const vemoSTL& mesh)
        {
            if (3ull * static_cast<unsigned long long>(mesh.m_nTriangleCount) > MaxIndexedVertices)
                return false;
            const std::uint32_t nVertices = numbering.Number(mesh, place ? place(mesh) : nullptr);
            progress.Advance(static_cast<unsigned long long>(mesh.m_nTriangleCount));
            const float* const pBox = numbering.GetBox();
            return visit(CNumberedMesh{nGroup,
                                       groups[nGroup],
                                       nObject,
                                       &mesh,
                                       numbering.GetIds(),
                                       numbering.GetVertices(),
                                       nVertices,
                                       {pBox[0], pBox[1], pBox[2]},
                                       {pBox[3], pBox[4], pBox[5]}});
        };
        if (!ForEachExportedMesh(*groups[nGroup], numberMesh))
            return false;
    }
    return true;
}
