#include "writers/PartRunner.h"

#include "writers/FileSink.h"

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
    Share(nParts, work, nullptr);
}

void CPartRunner::RunBeside(const std::function<void()>& own, const std::function<void()>& help)
{
    if (m_nWanted == 0)
    {
        own();
        return;
    }
    const std::function<void(size_t)> helper = [&help](size_t) { help(); };
    Share(m_nWanted, helper, &own);
}

void CPartRunner::Share(size_t nParts, const std::function<void(size_t)>& work,
                        const std::function<void()>* pOwn)
{
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
    std::exception_ptr ownError;
    if (pOwn == nullptr)
        Work(*pJob);
    else
    {
        try
        {
            (*pOwn)();
        }
        catch (...)
        {
            ownError = std::current_exception();
        }
        // Parts that no thread took by now are left; those taken are waited for.
        const size_t nTaken = std::min(pJob->nNext.exchange(nParts), nParts);
        pJob->nDone += nParts - nTaken;
    }
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Finished.wait(lock, [&]() { return pJob->nDone.load() == nParts; });
        m_pJob.reset();
    }
    if (ownError)
        std::rethrow_exception(ownError);
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

void WritePartsInOrder(CPartRunner& runner, CFileSink& out, size_t nParts, size_t nMostBytes,
                       const std::function<size_t(size_t, char*)>& format,
                       const std::function<void(size_t, size_t)>& written)
{
    if (nParts <= 1 || runner.GetThreads() == 1)
    {
        std::vector<char> text(nMostBytes);
        for (size_t nPart = 0; nPart < nParts; ++nPart)
        {
            const size_t nBytes = format(nPart, text.data());
            out.Write(text.data(), nBytes);
            written(nPart, nBytes);
        }
        return;
    }
    // A ring of buffers: the threads format the parts in order as buffers come free, and the calling
    // thread writes each part once it is ready, formatting parts itself while the next to write is not.
    const size_t nSlots = std::min(nParts, 4 * runner.GetThreads());
    std::vector<std::vector<char>> texts(nSlots, std::vector<char>(nMostBytes));
    std::vector<size_t> lengths(nSlots, 0);
    std::vector<char> ready(nSlots, 0);
    std::mutex lock;
    std::condition_variable changed;
    size_t nNext = 0;    // the next part to format
    size_t nWritten = 0; // the parts written
    const auto formatPart = [&](size_t nPart)
    {
        const size_t nBytes = format(nPart, texts[nPart % nSlots].data());
        const std::lock_guard<std::mutex> guard(lock);
        lengths[nPart % nSlots] = nBytes;
        ready[nPart % nSlots] = 1;
        changed.notify_all();
    };
    // A part may be formatted once the part a ring ahead of it is written.
    const auto canTake = [&]() { return nNext < nParts && nNext < nWritten + nSlots; };
    const auto help = [&]()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;)
        {
            changed.wait(guard, [&]() { return nNext >= nParts || canTake(); });
            if (nNext >= nParts)
                return;
            const size_t nPart = nNext++;
            guard.unlock();
            formatPart(nPart);
            guard.lock();
        }
    };
    const auto own = [&]()
    {
        std::unique_lock<std::mutex> guard(lock);
        while (nWritten < nParts)
        {
            const size_t nSlot = nWritten % nSlots;
            if (ready[nSlot])
            {
                guard.unlock();
                out.Write(texts[nSlot].data(), lengths[nSlot]);
                written(nWritten, lengths[nSlot]);
                guard.lock();
                ready[nSlot] = 0;
                ++nWritten;
                changed.notify_all();
            }
            else if (canTake())
            {
                const size_t nPart = nNext++;
                guard.unlock();
                formatPart(nPart);
                guard.lock();
            }
            else
                changed.wait(guard);
        }
    };
    runner.RunBeside(own, help);
}

void WriteInParts(CPartRunner& runner, CFileSink& out, size_t nItems, size_t nMostBytes,
                  const std::function<size_t(size_t, char*)>& format,
                  const std::function<void(size_t)>& written)
{
    // Parts of about 256 KiB of text.
    const size_t nPartItems = std::max<size_t>(1, (size_t(1) << 18) / nMostBytes);
    const size_t nParts = (nItems + nPartItems - 1) / nPartItems;
    WritePartsInOrder(
        runner, out, nParts, nPartItems * nMostBytes,
        [&](size_t nPart, char* pOut)
        {
            const size_t nEnd = std::min(nItems, (nPart + 1) * nPartItems);
            char* p = pOut;
            for (size_t i = nPart * nPartItems; i < nEnd; ++i)
                p += format(i, p);
            return static_cast<size_t>(p - pOut);
        },
        [&](size_t nPart, size_t) { written(std::min(nPartItems, nItems - nPart * nPartItems)); });
}
