/// \file
/// CReadAhead: a regular file or a buffer in memory read and scanned ahead of its reader on other
/// threads, internal to the tokenizer (CGenericParser::EnableReadAhead). The input is cut into pieces of
/// whole blocks; each piece is read with a positional read and its keyword runs are read from it (RunScan.h),
/// starting at its first line end, after which no token goes on (a quoted text ends at a line end too). The
/// parser then takes the runs instead of reading them itself, and borrows the pieces' bytes as its blocks
/// instead of reading them again. Nothing the reader shows differs: a run found ahead is the run the parser
/// would read there, and a block lent is the bytes a read would give. Where a piece could not be read or
/// scanned (a read error, no memory), nothing is lent or found there, and the parser reads for itself,
/// as it would without the read-ahead.
#pragma once

#include "tokenizer/ByteScan.h"
#include "tokenizer/KarnFileInterface.h"
#include "tokenizer/KeywordIndex.h"
#include "tokenizer/RunScan.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace generic_scan
{

class CReadAhead : public CKarnBlockSource
{
public:
    /// Reads an input of nFileSize bytes at an offset, as CKarnFileInterface::ReadAt does: the bytes read,
    /// or -1 with nError set. Called on several threads at once.
    using ReadAtFunction =
        std::function<long long(long long nOffset, char* pBuffer, size_t nCount, int& nError)>;

    /// Reads the input ahead on nThreads - 1 threads (the caller's thread helps where it waits) in pieces
    /// of the first multiple of nBlockSize that is at least nPieceSize bytes. The input must be a regular
    /// file or a buffer of nFileSize bytes; the keywords and scan level are those of the runs.
    CReadAhead(ReadAtFunction readAt, long long nFileSize, size_t nBlockSize, size_t nPieceSize, int nThreads,
               ScanLevels eLevel, const CRunKeywords& keywords);
    /// Stops the threads (waiting for the pieces they are on) and frees the pieces; blocks lent stay
    /// valid as long as their holders.
    ~CReadAhead() override;
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    /// The run found ahead that starts with the token at input offset nStart, cut before its first
    /// step with a token ending at or after nBefore, and before any step whose bytes are not at hand;
    /// false when there is none (the parser then reads for itself). The steps stay valid until the next
    /// call. Waits for the piece that holds nStart, or reads it on this thread.
    bool FindRun(long long nStart, long long nBefore, const CRunKeywords& keywords, CGenericRun& run);

    bool LendBlock(long long nOffset, size_t nLength, const char*& pData,
                   std::shared_ptr<const void>& keep) override;

    /// Runs work(0) to work(nParts - 1) on the threads and the calling thread, and returns when all are
    /// done. The parts must not throw.
    void RunParts(size_t nParts, const std::function<void(size_t)>& work);

    /// The size and block size it was made for.
    long long FileSize() const { return m_nFileSize; }
    size_t BlockSize() const { return m_nBlockSize; }

private:
    enum PieceStates
    {
        PieceWaiting,
        PieceWorking,
        PieceDone
    };
    struct CPiece
    {
        PieceStates eState = PieceWaiting;
        bool bRead = false;           ///< the bytes were read whole
        std::shared_ptr<char> pBytes; ///< from the piece's start, with a margin of NUL bytes after them
        long long nBytesEnd = 0;      ///< the input offset where the bytes end
        CPieceRuns runs;              ///< the runs found (none where the piece could not be scanned)
    };

    /// Frees piece k, which is done with; its memory is kept for the pieces to come. Called with the
    /// lock.
    void Finish(size_t k);
    /// The bytes of pieces, all of one size, kept when a piece no longer holds them (lent blocks may hold
    /// them longer, and may outlive the read-ahead): fresh memory costs the system's work on first touch,
    /// a visible share of a load.
    struct CBufferPool
    {
        std::mutex m_Mutex;
        std::vector<char*> m_Free;
        size_t m_nSize = 0;
        ~CBufferPool();
        /// A buffer of m_nSize bytes, kept or new (std::bad_alloc), that returns here when let go of.
        static std::shared_ptr<char> Take(const std::shared_ptr<CBufferPool>& pPool);
    };
    void Work();
    /// Looks the run that starts at nStart up in piece k (done): 1 when found (and up to nUntil), 0 when
    /// there is none, -1 when it goes on into the next piece and bAcrossEnd does not say that piece's
    /// state is known. Only on the parser's thread.
    int LookUp(size_t k, long long nStart, long long nUntil, bool bAcrossEnd, CGenericRun& run);
    /// Reads and scans piece k (claimed by this thread).
    void Process(size_t k);
    /// Waits until piece k is done, reading it, or pieces after it that no thread has taken, here
    /// meanwhile. Called with the lock.
    void Await(std::unique_lock<std::mutex>& lock, size_t k);
    /// Frees the pieces before k, which the reader has passed. Called with the lock.
    void Release(size_t k);
    size_t PieceOf(long long nOffset) const
    {
        return static_cast<size_t>(nOffset / static_cast<long long>(m_nPieceSize));
    }

    const ReadAtFunction m_ReadAt;
    const long long m_nFileSize;
    const size_t m_nBlockSize;
    const size_t m_nPieceSize;
    const size_t m_nPieces;
    const ScanLevels m_eLevel;
    const CRunKeywords m_Keywords;
    /// The most pieces read ahead of the one the parser is in: memory stays a few pieces per thread.
    const size_t m_nAhead;

    /// Parts of a caller's work for the threads (RunParts): how many, the next one to take, how many
    /// are done.
    struct CJob
    {
        const std::function<void(size_t)>* pWork;
        size_t nParts;
        size_t nNext;
        size_t nDone;
    };

    std::mutex m_Mutex;
    CJob* m_pJob = nullptr;
    /// The piece the parser found its last run in, done and kept until the parser moves past it (its
    /// thread alone reads and writes these), and the step after that run.
    size_t m_nCachedPiece = SIZE_MAX;
    size_t m_nCursor = 0;
    std::shared_ptr<CBufferPool> m_pBuffers;
    /// The steps' arrays of pieces done with, for the pieces to come.
    std::vector<CPieceRuns> m_FreeRuns;
    std::condition_variable m_Changed;
    std::vector<CPiece> m_Pieces;
    size_t m_nReaderAt = 0; ///< the piece the parser is in; those before it are freed
    bool m_bStop = false;
    std::vector<std::thread> m_Threads;
};

} // namespace generic_scan
