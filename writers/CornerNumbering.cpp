#include "writers/CornerNumbering.h"

#include "writers/NoInitAllocator.h"
#include "writers/PartRunner.h"

#include <algorithm>
#include <cstring>

namespace
{

// Triangles whose records are filled per part of the work.
constexpr size_t PartTriangles = 8192;
// A mesh of this many triangles and more is numbered on every thread, by shards of its records' hashes;
// a smaller one, whose index stays in the processor's caches, gains less than sharing it costs.
constexpr int ShardedTriangles = 32768;

// Numbers the corners of one mesh after another, each into the same arrays.
class CMeshNumbering
{
public:
    CMeshNumbering(CPartRunner& runner, const CornerFill& fill) : m_Runner(runner), m_Fill(fill) {}

    // Numbers the mesh's corners into GetIds and its vertices into GetVertices; the number of vertices.
    std::uint32_t Number(const vemoSTL& mesh);
    const std::uint32_t* GetIds() const { return m_Ids.data(); }
    const CVertexRecord* GetVertices() const { return m_pVertices; }

private:
    std::uint32_t NumberOnThisThread(const vemoSTL& mesh);
    std::uint32_t NumberInShards(const vemoSTL& mesh);

    CPartRunner& m_Runner;
    const CornerFill& m_Fill;
    CVertexIndex m_Index;
    CBufferVector<std::uint32_t> m_Ids;
    CBufferVector<CVertexRecord> m_Vertices;
    // Per corner of a mesh numbered in shards: its record, the hash of it and its shard. The records of
    // the first corners end up at the front, in the order of their numbers: the mesh's vertices.
    CBufferVector<CVertexRecord> m_Records;
    CBufferVector<std::uint64_t> m_Hashes;
    CBufferVector<unsigned char> m_Shards;
    const CVertexRecord* m_pVertices = nullptr;
};

std::uint32_t CMeshNumbering::Number(const vemoSTL& mesh)
{
    m_Ids.resize(3 * static_cast<size_t>(mesh.m_nTriangleCount));
    return m_Runner.GetThreads() > 1 && mesh.m_nTriangleCount >= ShardedTriangles ? NumberInShards(mesh)
                                                                                  : NumberOnThisThread(mesh);
}

std::uint32_t CMeshNumbering::NumberOnThisThread(const vemoSTL& mesh)
{
    m_Index.Clear();
    CVertexRecord aCorners[3];
    std::uint32_t* pIds = m_Ids.data();
    for (int t = 0; t < mesh.m_nTriangleCount; ++t, pIds += 3)
    {
        const bool bKept = m_Fill(mesh.m_pTriangles[t], aCorners);
        for (int k = 0; k < 3; ++k)
            pIds[k] = bKept ? m_Index.Add(aCorners[k]) : NotNumbered;
    }
    m_Vertices.resize(m_Index.GetCount());
    for (size_t v = 0; v < m_Index.GetCount(); ++v)
        m_Vertices[v] = m_Index.GetRecord(v);
    m_pVertices = m_Vertices.data();
    return static_cast<std::uint32_t>(m_Index.GetCount());
}

std::uint32_t CMeshNumbering::NumberInShards(const vemoSTL& mesh)
{
    // Each thread owns the records whose hash falls in its shard and finds, for each of its corners in
    // order, the first corner with the same record. Numbering the corners in order then gives each first
    // corner the next number and every other corner its first corner's: the numbers of one index given
    // the corners one by one.
    std::uint32_t* const pIds = m_Ids.data();
    const size_t nTriangles = static_cast<size_t>(mesh.m_nTriangleCount);
    const size_t nCorners = 3 * nTriangles;
    m_Records.resize(nCorners);
    m_Hashes.resize(nCorners);
    m_Shards.resize(nCorners);
    const size_t nShards = m_Runner.GetThreads();
    // Each corner's shard (from its hash's high half; its slot comes from the low bits), or LeftOut. The
    // threads read the shards of every corner and write the numbers of their own corners only.
    constexpr unsigned char LeftOut = 0xFF;
    m_Runner.Run((nTriangles + PartTriangles - 1) / PartTriangles,
                 [&](size_t nPart)
                 {
                     const size_t nEnd = std::min(nTriangles, (nPart + 1) * PartTriangles);
                     for (size_t t = nPart * PartTriangles; t < nEnd; ++t)
                     {
                         const bool bKept = m_Fill(mesh.m_pTriangles[t], &m_Records[3 * t]);
                         for (size_t c = 3 * t; c < 3 * t + 3; ++c)
                         {
                             pIds[c] = bKept ? 0 : NotNumbered;
                             m_Hashes[c] = bKept ? CVertexIndex::Hash(m_Records[c]) : 0;
                             m_Shards[c] =
                                 bKept ? static_cast<unsigned char>((m_Hashes[c] >> 32) % nShards) : LeftOut;
                         }
                     }
                 });
    const CVertexRecord* const pRecords = m_Records.data();
    m_Runner.Run(
        nShards,
        [&](size_t nShard)
        {
            const auto nOwn = static_cast<unsigned char>(nShard);
            const size_t nCount = static_cast<size_t>(std::count(m_Shards.begin(), m_Shards.end(), nOwn));
            size_t nSlots = 64;
            while (nSlots < 2 * nCount)
                nSlots *= 2;
            std::vector<std::uint32_t> slots(nSlots, 0u); // first corner + 1; 0 marks a free slot
            const size_t nMask = nSlots - 1;
            for (size_t c = 0; c < nCorners; ++c)
            {
                if (m_Shards[c] != nOwn)
                    continue;
                for (size_t nSlot = static_cast<size_t>(m_Hashes[c]) & nMask;; nSlot = (nSlot + 1) & nMask)
                {
                    const std::uint32_t nEntry = slots[nSlot];
                    if (nEntry == 0)
                    {
                        slots[nSlot] = static_cast<std::uint32_t>(c + 1);
                        pIds[c] = static_cast<std::uint32_t>(c);
                        break;
                    }
                    if (std::memcmp(pRecords[nEntry - 1].m_aValues, pRecords[c].m_aValues,
                                    sizeof(CVertexRecord::m_aValues)) == 0)
                    {
                        pIds[c] = nEntry - 1;
                        break;
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
    m_pVertices = pVertices;
    return nNext;
}

} // namespace

bool NumberMeshes(const std::vector<const vemoBaseGroup*>& groups, CPartRunner& runner,
                  const CornerFill& fill, const std::function<bool(const CNumberedMesh&)>& visit,
                  CExportProgress& progress)
{
    CMeshNumbering numbering(runner, fill);
    for (size_t nGroup = 0; nGroup < groups.size(); ++nGroup)
    {
        const auto numberMesh = [&](int nObject, const vemoSTL& mesh)
        {
            if (3ull * static_cast<unsigned long long>(mesh.m_nTriangleCount) > MaxIndexedVertices)
                return false;
            const std::uint32_t nVertices = numbering.Number(mesh);
            progress.Advance(static_cast<unsigned long long>(mesh.m_nTriangleCount));
            return visit(CNumberedMesh{nGroup, groups[nGroup], nObject, &mesh, numbering.GetIds(),
                                       numbering.GetVertices(), nVertices});
        };
        if (!ForEachExportedMesh(*groups[nGroup], numberMesh))
            return false;
    }
    return true;
}
