#include "tokenizer/ReadAhead.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace generic_scan
{

namespace
{
// How far past a piece's nominal end its bytes are read: enough to find the line end where the next
// piece's runs begin, and the margin a run's reading needs.
constexpr size_t kTail = 64 * 1024;
constexpr size_t kShortTail = 4096;
constexpr size_t kMargin = 80;

// The first line feed in [p, pEnd), or null.
const char* FirstLineEnd(const char* p, const char* pEnd)
{
    return p < pEnd ? static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(pEnd - p))) : nullptr;
}
} // namespace

CReadAhead::CReadAhead(ReadAtFunction readAt, long long nFileSize, size_t nBlockSize, size_t nPieceSize,
                       int nThreads, ScanLevels eLevel, const CRunKeywords& keywords)
    : m_ReadAt(std::move(readAt)), m_nFileSize(nFileSize), m_nBlockSize(nBlockSize),
      m_nPieceSize((std::max<size_t>(nPieceSize, 1) + nBlockSize - 1) / nBlockSize * nBlockSize),
      m_nPieces(static_cast<size_t>((nFileSize + static_cast<long long>(m_nPieceSize) - 1) /
                                    static_cast<long long>(m_nPieceSize))),
      m_eLevel(eLevel), m_Keywords(keywords), m_nAhead(static_cast<size_t>(nThreads) * 8), m_Pieces(m_nPieces)
{
    m_pBuffers = std::make_shared<CBufferPool>();
    m_pBuffers->m_nSize = m_nPieceSize + kTail + kMargin;
    try
    {
        for (int i = 1; i < nThreads; ++i)
            m_Threads.emplace_back([this]() { Work(); });
    }
    catch (...)
    {
        // Fewer threads, or none: the reader's own thread reads what it waits for.
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bStop = m_Threads.empty();
    }
}

CReadAhead::CBufferPool::~CBufferPool()
{
    for (char* pBuffer : m_Free)
        delete[] pBuffer;
}

std::shared_ptr<char> CReadAhead::CBufferPool::Take(const std::shared_ptr<CBufferPool>& pPool)
{
    char* pBuffer = nullptr;
    {
        std::lock_guard<std::mutex> lock(pPool->m_Mutex);
        if (!pPool->m_Free.empty())
        {
            pBuffer = pPool->m_Free.back();
            pPool->m_Free.pop_back();
        }
    }
    if (pBuffer == nullptr)
        pBuffer = new char[pPool->m_nSize];
    try
    {
        return std::shared_ptr<char>(pBuffer,
                                     [pPool](char* pReturned)
                                     {
                                         std::lock_guard<std::mutex> lock(pPool->m_Mutex);
                                         try
                                         {
                                             pPool->m_Free.push_back(pReturned);
                                         }
                                         catch (const std::bad_alloc&)
                                         {
                                             delete[] pReturned;
                                         }
                                     });
    }
    catch (...)
    {
        delete[] pBuffer;
        throw;
    }
}

void CReadAhead::Finish(size_t k)
{
    CPiece& piece = m_Pieces[k];
    piece.pBytes.reset();
    piece.bRead = false;
    piece.runs.m_nSteps = 0;
    piece.runs.m_Runs.clear();
    if (piece.runs.m_pSteps)
    {
        try
        {
            m_FreeRuns.push_back(std::move(piece.runs));
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    piece.runs = CPieceRuns();
    piece.eState = PieceDone;
}

CReadAhead::~CReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bStop = true;
    }
    m_Changed.notify_all();
    for (std::thread& thread : m_Threads)
        thread.join();
}

void CReadAhead::Work()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;)
    {
        if (m_bStop)
            return;
        // A part of a caller's work first: the caller waits for it.
        if (m_pJob != nullptr && m_pJob->nNext < m_pJob->nParts)
        {
            CJob& job = *m_pJob;
            const size_t nPart = job.nNext++;
            lock.unlock();
            (*job.pWork)(nPart);
            lock.lock();
            if (++job.nDone == job.nParts)
                m_Changed.notify_all();
            continue;
        }
        // The first piece waiting within reach of the reader.
        const size_t nEnd = std::min(m_nPieces, m_nReaderAt + m_nAhead);
        size_t k = m_nReaderAt;
        while (k < nEnd && m_Pieces[k].eState != PieceWaiting)
            ++k;
        if (k == nEnd)
        {
            m_Changed.wait(lock);
            continue;
        }
        m_Pieces[k].eState = PieceWorking;
        lock.unlock();
        Process(k);
        lock.lock();
        m_Pieces[k].eState = PieceDone;
        if (k < m_nReaderAt)
            Finish(k);
        m_Changed.notify_all();
    }
}

void CReadAhead::Process(size_t k)
{
    CPiece piece;
    const long long nStart = static_cast<long long>(k) * static_cast<long long>(m_nPieceSize);
    const long long nNominalEnd = std::min(m_nFileSize, nStart + static_cast<long long>(m_nPieceSize));
    const long long nMostEnd = std::min(m_nFileSize, nNominalEnd + static_cast<long long>(kTail));
    const size_t nMost = static_cast<size_t>(nMostEnd - nStart);
    const size_t nNominal = static_cast<size_t>(nNominalEnd - nStart);
    try
    {
        piece.pBytes = CBufferPool::Take(m_pBuffers);
        {
            // The steps go into an array a piece left, when there is one.
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (!m_FreeRuns.empty())
            {
                piece.runs = std::move(m_FreeRuns.back());
                m_FreeRuns.pop_back();
            }
        }
        char* const pBytes = piece.pBytes.get();
        // The piece and a little after it, where the line end that ends its runs nearly always is; the
        // rest of the tail only when it is not there.
        size_t nBytes = std::min(nMost, nNominal + kShortTail);
        int nError = 0;
        long long nGot = m_ReadAt(nStart, pBytes, nBytes, nError);
        if (nGot == static_cast<long long>(nBytes) && nBytes < nMost &&
            FirstLineEnd(pBytes + nNominal, pBytes + nBytes) == nullptr)
        {
            const long long nMore =
                m_ReadAt(nStart + static_cast<long long>(nBytes), pBytes + nBytes, nMost - nBytes, nError);
            nGot = nMore == static_cast<long long>(nMost - nBytes) ? static_cast<long long>(nMost) : -1;
            nBytes = nMost;
        }
        std::memset(pBytes + nBytes, 0, kMargin);
        const long long nEnd = nStart + static_cast<long long>(nBytes);
        // A read that fails, or finds less than the file held when it was opened (it changed), leaves the
        // piece to the reader, which reads for itself and meets what a reading from the start meets.
        if (nGot == static_cast<long long>(nBytes))
        {
            piece.bRead = true;
            piece.nBytesEnd = nEnd;
            // The runs: from the first line end of the piece (the first piece's first line, which may
            // start with a byte-order mark, is left to the reader) to the first line end of the next.
            const bool bInputEnds = nEnd == m_nFileSize;
            const char* const pBufferEnd = pBytes + nBytes;
            const char* const pHeadEnd = pBytes + std::min(nBytes, kTail);
            const char* const pFirst = FirstLineEnd(pBytes, pHeadEnd);
            const char* pTo = pBytes + nNominal;
            if (nNominalEnd < m_nFileSize)
            {
                const char* const pNext = FirstLineEnd(pBytes + nNominal, pBufferEnd);
                if (pNext != nullptr)
                    pTo = pNext + 1;
            }
            else
                pTo = pBufferEnd;
            if (pFirst != nullptr && pFirst + 1 < pTo)
            {
                const CRunSpan span = {pBytes, nStart,
                                       bInputEnds ? pBufferEnd
                                                  : (nBytes > kMargin ? pBufferEnd - kMargin : pBytes),
                                       bInputEnds ? pBufferEnd + 1 : pBufferEnd,
                                       bInputEnds ? pBufferEnd : (nBytes > 32 ? pBufferEnd - 32 : pBytes)};
                ScanPieceRuns(m_eLevel, span, m_Keywords, pFirst + 1, pTo, pBufferEnd, bInputEnds,
                              piece.runs);
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        // No memory for the piece: the reader reads it for itself.
        piece = CPiece{};
    }
    std::lock_guard<std::mutex> lock(m_Mutex);
    piece.eState = PieceWorking;
    m_Pieces[k] = std::move(piece);
}

void CReadAhead::Await(std::unique_lock<std::mutex>& lock, size_t k)
{
    // While another thread reads piece k, this one reads a piece after it that nobody has taken yet,
    // rather than wait: so the calling thread shares the reading with the others.
    size_t nNext = k;
    while (m_Pieces[k].eState != PieceDone)
    {
        const size_t nEnd = std::min(m_nPieces, std::max(m_nReaderAt, k) + m_nAhead);
        while (nNext < nEnd && m_Pieces[nNext].eState != PieceWaiting)
            ++nNext;
        if (nNext >= nEnd)
        {
            m_Changed.wait(lock, [this, k]() { return m_Pieces[k].eState == PieceDone; });
            return;
        }
        m_Pieces[nNext].eState = PieceWorking;
        lock.unlock();
        Process(nNext);
        lock.lock();
        m_Pieces[nNext].eState = PieceDone;
        m_Changed.notify_all();
    }
}

void CReadAhead::Release(size_t k)
{
    if (k <= m_nReaderAt)
        return;
    for (size_t i = m_nReaderAt; i < k; ++i)
        if (m_Pieces[i].eState == PieceDone)
        {
            if (i == m_nCachedPiece)
                m_nCachedPiece = SIZE_MAX;
            Finish(i);
        }
    m_nReaderAt = k;
    m_Changed.notify_all();
}

int CReadAhead::LookUp(size_t k, long long nStart, long long nUntil, bool bAcrossEnd, CGenericRun& run)
{
    const CPieceRuns& runs = m_Pieces[k].runs;
    const CGenericRunStep* const pSteps = runs.m_pSteps.get();
    const CGenericRunStep* const pStepsEnd = pSteps + runs.m_nSteps;
    // Where the last run found ended is where the next is looked for first.
    const CGenericRunStep* pFound =
        m_nCachedPiece == k && m_nCursor < runs.m_nSteps ? pSteps + m_nCursor : pStepsEnd;
    if (pFound == pStepsEnd || pFound->m_nKeywordStart != nStart)
        pFound = std::lower_bound(pSteps, pStepsEnd, nStart,
                                  [](const CGenericRunStep& step, long long nOffset)
                                  { return step.m_nKeywordStart < nOffset; });
    if (pFound == pStepsEnd || pFound->m_nKeywordStart != nStart)
        return 0;
    const auto i = static_cast<std::uint32_t>(pFound - pSteps);
    const auto inRun =
        std::upper_bound(runs.m_Runs.begin(), runs.m_Runs.end(), i,
                         [](std::uint32_t nStep, const CPieceRuns::Run& r) { return nStep < r.nFirst; });
    if (inRun == runs.m_Runs.begin() || i >= (inRun - 1)->nEnd)
        return 0;
    const CPieceRuns::Run& found = *(inRun - 1);
    // A run that goes on past the piece's end is taken only when the next piece's bytes are known to be
    // at hand (bAcrossEnd); else up to the piece's end.
    const long long nPieceEnd = static_cast<long long>(k + 1) * static_cast<long long>(m_nPieceSize);
    if (found.nLastEnd > nPieceEnd && k + 1 < m_nPieces && !bAcrossEnd)
        return -1;
    // Up to the first step with a token at or past nUntil.
    const CGenericRunStep* const pLast = std::lower_bound(pFound, pSteps + found.nEnd, nUntil,
                                                          [](const CGenericRunStep& step, long long nOffset)
                                                          { return step.m_nLastEnd < nOffset; });
    const size_t nSteps = static_cast<size_t>(pLast - pFound);
    if (nSteps == 0)
        return 0;
    // The whole rest of the run, up to its last token (a keyword that takes no step, maybe), or up to
    // the last step taken, after which the parser reads the rest.
    const bool bWhole = pLast == pSteps + found.nEnd && found.nLastEnd < nUntil;
    run = CGenericRun{pFound, nSteps, bWhole ? found.nLastStart : pLast[-1].m_nLastStart};
    m_nCachedPiece = k;
    m_nCursor = static_cast<size_t>(pLast - pSteps);
    return 1;
}

bool CReadAhead::FindRun(long long nStart, long long nBefore, const CRunKeywords& keywords, CGenericRun& run)
{
    const CGenericRunKeywords& sets = keywords.Sets();
    const CGenericRunKeywords& own = m_Keywords.Sets();
    if (nStart < 0 || nStart >= m_nFileSize || sets.m_nAloneIds != own.m_nAloneIds ||
        sets.m_nQuietIds != own.m_nQuietIds || sets.m_nTripleIds != own.m_nTripleIds)
        return false;
    size_t k = PieceOf(nStart);
    // The piece the last run came from is done and kept until the parser moves past it: looked at
    // without the lock, which the threads reading ahead hold often.
    if (m_nCachedPiece != SIZE_MAX && (k == m_nCachedPiece || k == m_nCachedPiece + 1))
    {
        const CPieceRuns& runs = m_Pieces[m_nCachedPiece].runs;
        if (runs.m_nSteps > 0 && nStart >= runs.m_pSteps[0].m_nKeywordStart &&
            nStart <= runs.m_pSteps[runs.m_nSteps - 1].m_nKeywordStart)
        {
            const int nFound = LookUp(m_nCachedPiece, nStart, nBefore, false, run);
            if (nFound >= 0)
                return nFound == 1;
        }
    }
    std::unique_lock<std::mutex> lock(m_Mutex);
    // The token is found in the piece it lies in, or the one before when it comes before that piece's
    // first line end; the pieces before those are done with.
    Release(k > 0 ? k - 1 : 0);
    for (size_t nTry = 0; nTry < 2 && k + 1 > m_nReaderAt; ++nTry, --k)
    {
        Await(lock, k);
        int nFound = LookUp(k, nStart, nBefore, false, run);
        if (nFound < 0)
        {
            // The run goes on into the next piece, whose bytes the parser then borrows.
            Await(lock, k + 1);
            const long long nPieceEnd = static_cast<long long>(k + 1) * static_cast<long long>(m_nPieceSize);
            nFound = LookUp(k, nStart, m_Pieces[k + 1].bRead ? nBefore : std::min(nBefore, nPieceEnd + 1),
                            true, run);
        }
        if (nFound == 1)
            return true;
        if (k == 0)
            return false;
    }
    return false;
}

void CReadAhead::RunParts(size_t nParts, const std::function<void(size_t)>& work)
{
    CJob job = {&work, nParts, 0, 0};
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_pJob = &job;
    m_Changed.notify_all();
    while (job.nNext < nParts)
    {
        const size_t nPart = job.nNext++;
        lock.unlock();
        work(nPart);
        lock.lock();
        ++job.nDone;
    }
    m_Changed.wait(lock, [&job]() { return job.nDone == job.nParts; });
    m_pJob = nullptr;
}

bool CReadAhead::LendBlock(long long nOffset, size_t nLength, const char*& pData,
                           std::shared_ptr<const void>& keep)
{
    if (nOffset <= 0 || nOffset >= m_nFileSize)
        return false;
    std::unique_lock<std::mutex> lock(m_Mutex);
    const size_t k = PieceOf(nOffset);
    if (k < m_nReaderAt)
        return false;
    Await(lock, k);
    const CPiece& piece = m_Pieces[k];
    if (!piece.bRead || nOffset + static_cast<long long>(nLength) > piece.nBytesEnd)
        return false;
    pData = piece.pBytes.get() + (nOffset - static_cast<long long>(k) * static_cast<long long>(m_nPieceSize));
    keep = piece.pBytes;
    return true;
}

} // namespace generic_scan
