#include "writers/CornerNumbering.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{

// Triangles whose records are filled per part of the work.
constexpr size_t PartTriangles = 8192;
// A mesh of this many triangles and more is numbered on every thread, by shards of its records' hashes;
// a smaller one, whose index stays in the processor's caches, gains less than sharing it costs.
constexpr int ShardedTriangles = 32768;

// Threads kept for the parts of one export. The calling thread takes parts too, and waits only for the
// parts that other threads took: a thread that wakes late finds the parts gone and sleeps again, so
// the work never waits for a thread to be scheduled.
class CPartRunner
{
public:
    explicit CPartRunner(int nThreads) : m_nWanted(nThreads > 1 ? nThreads - 1 : 0) {}
    ~CPartRunner()
    {
        {
            const std::lock_guard<std::mutex> lock(m_Lock);
            m_bStop = true;
        }
        m_Wake.notify_all();
        for (std::thread& thread : m_Threads)
            thread.join();
    }
    CPartRunner(const CPartRunner&) = delete;
    CPartRunner& operator=(const CPartRunner&) = delete;

    // Runs work(nPart) for each part in [0, nParts), parts started in order, and returns when every
    // part is done. The first exception that work throws is thrown here once the parts taken are done
    // (parts not taken by then are left).
    void Run(size_t nParts, const std::function<void(size_t)>& work);

private:
    struct CJob
    {
        const std::function<void(size_t)>* pWork;
        size_t nParts;
        std::atomic<size_t> nNext{0};
        std::atomic<size_t> nDone{0}; // parts done, or left after a failure
        std::atomic<bool> bFailed{false};
        std::exception_ptr error;
        std::mutex errorLock;
    };
    // Takes and does parts of the job until none is left; true when it did the last one.
    static bool Work(CJob& job);
    void Serve();

    const size_t m_nWanted;
    std::vector<std::thread> m_Threads;
    std::mutex m_Lock;
    std::condition_variable m_Wake;     // a new job, or the end
    std::condition_variable m_Finished; // the last part of the job is done
    std::shared_ptr<CJob> m_pJob;
    bool m_bStop = false;
};

bool CPartRunner::Work(CJob& job)
{
    bool bLast = false;
    for (size_t i = 0; (i = job.nNext.fetch_add(1)) < job.nParts;)
    {
        if (!job.bFailed.load())
        {
            try
            {
                (*job.pWork)(i);
            }
            catch (...)
            {
                const std::lock_guard<std::mutex> lock(job.errorLock);
                if (!job.error)
                    job.error = std::current_exception();
                job.bFailed.store(true);
            }
        }
        bLast = job.nDone.fetch_add(1) + 1 == job.nParts;
    }
    return bLast;
}

void CPartRunner::Serve()
{
    std::shared_ptr<CJob> pLast;
    for (;;)
    {
        std::shared_ptr<CJob> pJob;
        {
            std::unique_lock<std::mutex> lock(m_Lock);
            m_Wake.wait(lock, [&]() { return m_bStop || (m_pJob && m_pJob != pLast); });
            if (m_bStop)
                return;
            pJob = m_pJob;
        }
        pLast = pJob;
        if (Work(*pJob))
        {
            const std::lock_guard<std::mutex> lock(m_Lock);
            m_Finished.notify_all();
        }
    }
}

void CPartRunner::Run(size_t nParts, const std::function<void(size_t)>& work)
{
    if (m_nWanted == 0 || nParts <= 1)
    {
        for (size_t i = 0; i < nParts; ++i)
            work(i);
        return;
    }
    if (m_Threads.empty())
    {
        // Started at the first work to share; fewer when the system gives fewer.
        m_Threads.reserve(m_nWanted);
        try
        {
            for (size_t i = 0; i < m_nWanted; ++i)
                m_Threads.emplace_back([this]() { Serve(); });
        }
        catch (const std::system_error&)
        {
        }
    }
    auto pJob = std::make_shared<CJob>();
    pJob->pWork = &work;
    pJob->nParts = nParts;
    {
        const std::lock_guard<std::mutex> lock(m_Lock);
        m_pJob = pJob;
    }
    m_Wake.notify_all();
    Work(*pJob);
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Finished.wait(lock, [&]() { return pJob->nDone.load() == nParts; });
        m_pJob.reset();
    }
    if (pJob->error)
        std::rethrow_exception(pJob->error);
}

// Numbers the corners of one mesh after another, each into the same arrays.
class CMeshNumbering
{
public:
    CMeshNumbering(int nThreads, const CornerFill& fill)
        : m_nThreads(nThreads), m_Fill(fill), m_Runner(nThreads)
    {
    }

    // Numbers the mesh's corners into GetIds and its vertices into GetVertices; the number of vertices.
    std::uint32_t Number(const vemoSTL& mesh);
    const std::uint32_t* GetIds() const { return m_Ids.data(); }
    const CVertexRecord* GetVertices() const { return m_Vertices.data(); }

private:
    std::uint32_t NumberOnThisThread(const vemoSTL& mesh);
    std::uint32_t NumberInShards(const vemoSTL& mesh);

    const int m_nThreads;
    const CornerFill& m_Fill;
    CPartRunner m_Runner;
    CVertexIndex m_Index;
    std::vector<std::uint32_t> m_Ids;
    std::vector<CVertexRecord> m_Vertices;
    // Per corner of a mesh numbered in shards: its record and the hash of it.
    std::vector<CVertexRecord> m_Records;
    std::vector<std::uint64_t> m_Hashes;
};

std::uint32_t CMeshNumbering::Number(const vemoSTL& mesh)
{
    m_Ids.resize(3 * static_cast<size_t>(mesh.m_nTriangleCount));
    return m_nThreads > 1 && mesh.m_nTriangleCount >= ShardedTriangles ? NumberInShards(mesh)
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
                         }
                     }
                 });
    const CVertexRecord* const pRecords = m_Records.data();
    const size_t nShards = static_cast<size_t>(m_nThreads);
    // The shard from the hash's high half, the slot from its low bits.
    const auto shardOf = [nShards](std::uint64_t nHash)
    { return static_cast<size_t>(nHash >> 32) % nShards; };
    m_Runner.Run(nShards,
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
    m_Vertices.resize(nCorners);
    for (size_t c = 0; c < nCorners; ++c)
    {
        const std::uint32_t nFirst = pIds[c];
        if (nFirst == NotNumbered)
            continue;
        if (nFirst == c)
        {
            m_Vertices[nNext] = pRecords[c];
            pIds[c] = nNext++;
        }
        else
            pIds[c] = pIds[nFirst];
    }
    return nNext;
}

} // namespace

int ExportThreadCount(const CExportOptions& options)
{
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    (void)options;
    return 1; // a build without threads
#else
    int nThreads = options.m_nThreads;
    if (nThreads == 0)
    {
        const unsigned nCores = std::thread::hardware_concurrency();
        nThreads = nCores > 1 ? static_cast<int>(std::min(nCores, 64u)) : 1;
    }
    return std::max(1, std::min(nThreads, 64));
#endif
}

bool NumberMeshes(const std::vector<const vemoBaseGroup*>& groups, int nThreads, const CornerFill& fill,
                  const std::function<bool(const CNumberedMesh&)>& visit, CExportProgress& progress)
{
    CMeshNumbering numbering(nThreads, fill);
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
