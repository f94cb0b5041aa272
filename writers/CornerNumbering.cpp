#include "writers/CornerNumbering.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{

// The corners of a window: numbers and vertices of about 28 MiB. A mesh larger than that is a window of
// its own.
constexpr size_t WindowCorners = size_t(1) << 20;
// Triangles filled, or of small meshes numbered, per part of the work.
constexpr size_t PartTriangles = 8192;
// A mesh of this many corners and more is numbered on every thread, by shards of its records' hashes;
// smaller ones are numbered each on one thread, several meshes at once.
constexpr size_t ShardedCorners = 3 * PartTriangles;
// Below this many triangles an export with the thread count 0 runs on one thread.
constexpr unsigned long long AutoThreadTriangles = 65536;

struct CWindowMesh
{
    size_t m_nGroup;
    const vemoBaseGroup* m_pGroup;
    int m_nObject;
    const vemoSTL* m_pMesh;
    size_t m_nFirst; // its first corner in the window
    std::uint32_t m_nVertices;
};

class CWindow
{
public:
    CWindow(int nThreads, const CornerFill& fill) : m_nThreads(nThreads), m_Fill(fill) {}

    bool IsEmpty() const { return m_Meshes.empty(); }
    size_t GetCorners() const { return m_nCorners; }
    void Add(size_t nGroup, const vemoBaseGroup& group, int nObject, const vemoSTL& mesh)
    {
        m_Meshes.push_back(CWindowMesh{nGroup, &group, nObject, &mesh, m_nCorners, 0});
        m_nCorners += 3 * static_cast<size_t>(mesh.m_nTriangleCount);
    }
    // Numbers the window's meshes, visits them in order and empties the window.
    bool Flush(const std::function<bool(const CNumberedMesh&)>& visit, CExportProgress& progress);

private:
    // Numbers the meshes [nFirst, nEnd) one after the other with one index.
    void NumberMeshes(size_t nFirst, size_t nEnd);
    // Numbers one mesh on every thread.
    void NumberSharded(CWindowMesh& mesh);

    const int m_nThreads;
    const CornerFill& m_Fill;
    std::vector<CWindowMesh> m_Meshes;
    size_t m_nCorners = 0;
    // Per corner of the window: its number, and (from each mesh's first corner on) the mesh's vertices.
    std::vector<std::uint32_t> m_Ids;
    std::vector<CVertexRecord> m_Vertices;
    // Per corner of a mesh numbered on every thread: its record and the hash of it.
    std::vector<CVertexRecord> m_Records;
    std::vector<std::uint64_t> m_Hashes;
};

bool CWindow::Flush(const std::function<bool(const CNumberedMesh&)>& visit, CExportProgress& progress)
{
    m_Ids.resize(m_nCorners);
    m_Vertices.resize(m_nCorners);
    // Meshes too small to share among the threads go whole to one, in runs of about a part's triangles;
    // each large one is shared after them.
    std::vector<size_t> runStarts;
    std::vector<size_t> sharded;
    size_t nRunCorners = 0;
    for (size_t i = 0; i < m_Meshes.size(); ++i)
    {
        const size_t nCorners = 3 * static_cast<size_t>(m_Meshes[i].m_pMesh->m_nTriangleCount);
        if (m_nThreads > 1 && nCorners >= ShardedCorners)
        {
            sharded.push_back(i);
            continue;
        }
        if (runStarts.empty() || nRunCorners >= 3 * PartTriangles)
        {
            runStarts.push_back(i);
            nRunCorners = 0;
        }
        nRunCorners += nCorners;
    }
    if (!runStarts.empty())
        runStarts.push_back(m_Meshes.size());
    RunParts(m_nThreads, runStarts.empty() ? 0 : runStarts.size() - 1,
             [&](size_t nRun) { NumberMeshes(runStarts[nRun], runStarts[nRun + 1]); });
    for (const size_t i : sharded)
        NumberSharded(m_Meshes[i]);

    for (const CWindowMesh& mesh : m_Meshes)
    {
        progress.Advance(static_cast<unsigned long long>(mesh.m_pMesh->m_nTriangleCount));
        if (!visit(CNumberedMesh{mesh.m_nGroup, mesh.m_pGroup, mesh.m_nObject, mesh.m_pMesh,
                                 m_Ids.data() + mesh.m_nFirst, m_Vertices.data() + mesh.m_nFirst,
                                 mesh.m_nVertices}))
            return false;
    }
    m_Meshes.clear();
    m_nCorners = 0;
    return true;
}

void CWindow::NumberMeshes(size_t nFirst, size_t nEnd)
{
    CVertexIndex index;
    CVertexRecord aCorners[3];
    for (size_t i = nFirst; i < nEnd; ++i)
    {
        CWindowMesh& mesh = m_Meshes[i];
        index.Clear();
        std::uint32_t* pIds = m_Ids.data() + mesh.m_nFirst;
        for (int t = 0; t < mesh.m_pMesh->m_nTriangleCount; ++t, pIds += 3)
        {
            const bool bKept = m_Fill(mesh.m_pMesh->m_pTriangles[t], aCorners);
            for (int k = 0; k < 3; ++k)
                pIds[k] = bKept ? index.Add(aCorners[k]) : NotNumbered;
        }
        mesh.m_nVertices = static_cast<std::uint32_t>(index.GetCount());
        for (size_t v = 0; v < index.GetCount(); ++v)
            m_Vertices[mesh.m_nFirst + v] = index.GetRecord(v);
    }
}

void CWindow::NumberSharded(CWindowMesh& mesh)
{
    // Each thread owns the records whose hash falls in its shard and finds, for each of its corners in
    // order, the first corner with the same record. Numbering the corners in order then gives each first
    // corner the next number and every other corner its first corner's: the numbers of one index given
    // the corners one by one.
    std::uint32_t* const pIds = m_Ids.data() + mesh.m_nFirst;
    const size_t nTriangles = static_cast<size_t>(mesh.m_pMesh->m_nTriangleCount);
    const size_t nCorners = 3 * nTriangles;
    m_Records.resize(nCorners);
    m_Hashes.resize(nCorners);
    RunParts(m_nThreads, (nTriangles + PartTriangles - 1) / PartTriangles,
             [&](size_t nPart)
             {
                 const size_t nEnd = std::min(nTriangles, (nPart + 1) * PartTriangles);
                 for (size_t t = nPart * PartTriangles; t < nEnd; ++t)
                 {
                     const bool bKept = m_Fill(mesh.m_pMesh->m_pTriangles[t], &m_Records[3 * t]);
                     for (size_t c = 3 * t; c < 3 * t + 3; ++c)
                     {
                         pIds[c] = bKept ? 0 : NotNumbered;
                         m_Hashes[c] = bKept ? CVertexIndex::Hash(m_Records[c]) : 0;
                     }
                 }
             });
    const CVertexRecord* const pRecords = m_Records.data();
    const size_t nShards = static_cast<size_t>(m_nThreads);
    // The shard from the hash's high half, the slot from its low bits.
    const auto shardOf = [nShards](std::uint64_t nHash)
    { return static_cast<size_t>(nHash >> 32) % nShards; };
    RunParts(m_nThreads, nShards,
             [&](size_t nShard)
             {
                 size_t nCount = 0;
                 for (size_t c = 0; c < nCorners; ++c)
                     if (pIds[c] != NotNumbered && shardOf(m_Hashes[c]) == nShard)
                         ++nCount;
                 size_t nSlots = 64;
                 while (nSlots < 2 * nCount)
                     nSlots *= 2;
                 std::vector<std::uint32_t> slots(nSlots, 0u); // first corner + 1; 0 marks a free slot
                 const size_t nMask = nSlots - 1;
                 for (size_t c = 0; c < nCorners; ++c)
                 {
                     if (pIds[c] == NotNumbered || shardOf(m_Hashes[c]) != nShard)
                         continue;
                     for (size_t nSlot = static_cast<size_t>(m_Hashes[c]) & nMask;;
                          nSlot = (nSlot + 1) & nMask)
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
    std::uint32_t nNext = 0;
    CVertexRecord* const pVertices = m_Vertices.data() + mesh.m_nFirst;
    for (size_t c = 0; c < nCorners; ++c)
    {
        const std::uint32_t nFirst = pIds[c];
        if (nFirst == NotNumbered)
            continue;
        if (nFirst == c)
        {
            pVertices[nNext] = pRecords[c];
            pIds[c] = nNext++;
        }
        else
            pIds[c] = pIds[nFirst];
    }
    mesh.m_nVertices = nNext;
}

} // namespace

void RunParts(int nThreads, size_t nParts, const std::function<void(size_t)>& work)
{
    const size_t nExtra = std::min(nParts, static_cast<size_t>(nThreads > 1 ? nThreads : 1)) - (nParts > 0);
    if (nExtra == 0)
    {
        for (size_t i = 0; i < nParts; ++i)
            work(i);
        return;
    }
    std::atomic<size_t> nNext(0);
    std::atomic<bool> bFailed(false);
    std::exception_ptr error;
    std::mutex errorLock;
    const auto run = [&]()
    {
        for (size_t i = 0; !bFailed.load() && (i = nNext.fetch_add(1)) < nParts;)
        {
            try
            {
                work(i);
            }
            catch (...)
            {
                const std::lock_guard<std::mutex> lock(errorLock);
                if (!error)
                    error = std::current_exception();
                bFailed.store(true);
            }
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(nExtra);
    try
    {
        for (size_t i = 0; i < nExtra; ++i)
            threads.emplace_back(run);
    }
    catch (const std::system_error&)
    {
        // Fewer threads: those started and this one do every part.
    }
    run();
    for (std::thread& thread : threads)
        thread.join();
    if (error)
        std::rethrow_exception(error);
}

int ExportThreadCount(const CExportOptions& options, unsigned long long nTriangles)
{
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    (void)options;
    (void)nTriangles;
    return 1; // a build without threads
#else
    int nThreads = options.m_nThreads;
    if (nThreads == 0)
    {
        const unsigned nCores = std::thread::hardware_concurrency();
        nThreads =
            nTriangles >= AutoThreadTriangles && nCores > 1 ? static_cast<int>(std::min(nCores, 64u)) : 1;
    }
    return std::max(1, std::min(nThreads, 64));
#endif
}

bool NumberMeshes(const std::vector<const vemoBaseGroup*>& groups, int nThreads, const CornerFill& fill,
                  const std::function<bool(const CNumberedMesh&)>& visit, CExportProgress& progress,
                  bool* pTooLarge)
{
    CWindow window(nThreads, fill);
    bool bTooLarge = false;
    bool bWalked = true;
    for (size_t nGroup = 0; nGroup < groups.size() && bWalked; ++nGroup)
        bWalked = ForEachExportedMesh(
            *groups[nGroup],
            [&](int nObject, const vemoSTL& mesh)
            {
                if (3ull * static_cast<unsigned long long>(mesh.m_nTriangleCount) > MaxIndexedVertices)
                {
                    // What comes before it is visited first, as one index mesh by mesh would have.
                    bTooLarge = window.IsEmpty() || window.Flush(visit, progress);
                    return false;
                }
                const size_t nCorners = 3 * static_cast<size_t>(mesh.m_nTriangleCount);
                if (!window.IsEmpty() && window.GetCorners() + nCorners > WindowCorners &&
                    !window.Flush(visit, progress))
                    return false;
                window.Add(nGroup, *groups[nGroup], nObject, mesh);
                return true;
            });
    if (pTooLarge != nullptr)
        *pTooLarge = bTooLarge;
    return bWalked && (window.IsEmpty() || window.Flush(visit, progress));
}
