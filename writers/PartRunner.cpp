#include "writers/PartRunner.h"

#include <algorithm>
#include <system_error>

CPartRunner::~CPartRunner()
{
    {
        const std::lock_guard<std::mutex> lock(m_Lock);
        m_bStop = true;
    }
    m_Wake.notify_all();
    for (std::thread& thread : m_Threads)
        thread.join();
}

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
