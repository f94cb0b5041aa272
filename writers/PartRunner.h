// Threads for the parts of a writer's work. Internal to the writers library.
#pragma once

#include "writers/WorldExport.h"

class CFileSink;

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
    // Runs own() on the calling thread while the other threads run help() beside it, each once it
    // wakes (none, when none wakes before own returns); returns when own and every help begun have
    // returned. help must return once own has nothing more for it. An exception that own throws is
    // thrown here (after the help begun has returned), else the first that a help throws.
    void RunBeside(const std::function<void()>& own, const std::function<void()>& help);
    // The threads the runner may use, the calling thread among them.
    size_t GetThreads() const { return m_nWanted + 1; }

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
    // Posts nParts parts of work to the threads; the calling thread takes parts too, or runs *pOwn and
    // leaves the parts not taken by then.
    void Share(size_t nParts, const std::function<void(size_t)>& work, const std::function<void()>* pOwn);
    void Serve();

    const size_t m_nWanted;
    std::vector<std::thread> m_Threads;
    std::mutex m_Lock;
    std::condition_variable m_Wake;     // a new job, or the end
    std::condition_variable m_Finished; // the last part of the job is done
    std::shared_ptr<CJob> m_pJob;
    bool m_bStop = false;
};

// Writes nParts parts to the sink in order, formatted on the runner's threads while the calling thread
// writes the parts before. format(nPart, pOut) puts a part's bytes at pOut, which has room for
// nMostBytes, and returns their count; it must not throw. written(nPart, nBytes) is called on the
// calling thread after each part is written. One part, or a runner of one thread, is formatted and
// written on the calling thread alone. Throws std::bad_alloc only (before anything is written).
void WritePartsInOrder(CPartRunner& runner, CFileSink& out, size_t nParts, size_t nMostBytes,
                       const std::function<size_t(size_t, char*)>& format,
                       const std::function<void(size_t, size_t)>& written);

// Writes the text of nItems items to the sink in order, formatted in parts on the runner's threads while
// the calling thread writes the parts before. format(nItem, pOut) puts an item's text at pOut, which has
// room for nMostBytes, and returns its length; it must not throw. written(nCount) is called on the
// calling thread after each part is written, with its count of items. The bytes are those of the items
// formatted one after the other. Throws std::bad_alloc only (before anything is written).
void WriteInParts(CPartRunner& runner, CFileSink& out, size_t nItems, size_t nMostBytes,
                  const std::function<size_t(size_t, char*)>& format,
                  const std::function<void(size_t)>& written);
