// Threads for the parts of a writer's work. Internal to the writers library.
#pragma once

#include "writers/WorldExport.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The threads an export may use: the options' count, or for 0 the processor's cores; at most 64 (1 in a
// build without threads).
int ExportThreadCount(const CExportOptions& options);

// Threads kept for the parts of one export, up to nThreads with the calling thread, started at the first
// work that has several parts. The calling thread takes parts too, and waits only for the
// parts that other threads took: a thread that wakes late finds the parts gone and sleeps again, so
// the work never waits for a thread to be scheduled.
class CPartRunner
{
public:
    explicit CPartRunner(int nThreads) : m_nWanted(nThreads > 1 ? nThreads - 1 : 0) {}
    ~CPartRunner();
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
