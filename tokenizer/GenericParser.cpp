#include "tokenizer/GenericParser.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/DecimalNumber.h"
#include "tokenizer/ReadAhead.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <thread>

using namespace generic_scan;

namespace
{

// Ties every saved read state to one input: each open or new in-memory input gets a fresh serial, in
// every parser of the process, so a state saved elsewhere is never restored into the wrong bytes.
std::atomic<unsigned long long> g_nNextInputSerial(1);

unsigned long long NewInputSerial()
{
    return g_nNextInputSerial.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

const char CGenericParser::s_szEmptyBlock[1] = {'\0'};

// CGenericIOState --------------------------------------------------------------------------------

CGenericIOState::CGenericIOState()
    : m_nReadOffset(0), m_nLine(0), m_nLineStart(0), m_nInputSerial(0), m_bLookaheadReady(false),
      m_bValid(false)
{
}

// CGenericParser ---------------------------------------------------------------------------------

CGenericParser::CGenericParser()
    : m_pKeywordTable(nullptr), m_nKeywordTableSize(0), m_bKeywordIndexReady(false), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(s_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bSizeAtEnd(false), m_bInputEnded(false),
      m_bReadFailed(false), m_nInputSerial(NewInputSerial()), m_bTrackLines(false), m_nLine(1),
      m_nLineStart(0), m_eScanLevel(ScanPlain), m_pSpanEnds(nullptr), m_nSpanBase(0), m_nSpanNext(0),
      m_nSpanCount(0), m_nSlowTokens(0), m_nReadAheadThreads(1), m_bReadAheadConsidered(false),
      m_nReadAheadStamp(0), m_nRunBlockOffset(-1), m_nRunSerial(0), m_nRunPosition(0)
{
}

CGenericParser::CGenericParser(const CGenericParser& other)
    : m_pKeywordTable(other.m_pKeywordTable), m_nKeywordTableSize(other.m_nKeywordTableSize),
      m_bKeywordIndexReady(false), m_strFileName(other.m_strFileName), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(s_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bSizeAtEnd(false), m_bInputEnded(false),
      m_bReadFailed(false), m_nInputSerial(NewInputSerial()), m_bTrackLines(other.m_bTrackLines), m_nLine(1),
      m_nLineStart(0), m_eScanLevel(ScanPlain), m_pSpanEnds(nullptr), m_nSpanBase(0), m_nSpanNext(0),
      m_nSpanCount(0), m_nSlowTokens(0), m_nReadAheadThreads(other.m_nReadAheadThreads),
      m_bReadAheadConsidered(false), m_nReadAheadStamp(0), m_nRunBlockOffset(-1), m_nRunSerial(0),
      m_nRunPosition(0)
{
    m_FileInterface.SetBlockSize(other.m_FileInterface.GetBlockSize());
}

CGenericParser& CGenericParser::operator=(CGenericParser& other)
{
    if (this == &other)
        return *this;
    m_strFileName = other.m_strFileName;
    m_pKeywordTable = other.m_pKeywordTable;
    m_nKeywordTableSize = other.m_nKeywordTableSize;
    m_bKeywordIndexReady = false;
    m_RunKeywords.Forget();
    m_bTrackLines = other.m_bTrackLines;
    m_nReadAheadThreads = other.m_nReadAheadThreads;
    m_FileInterface.SetBlockSize(other.m_FileInterface.GetBlockSize());
    DropInput();
    ResetTokens();
    return *this;
}

CGenericParser::~CGenericParser()
{
    m_FileInterface.CloseFile();
}

void CGenericParser::SetKeywordTable(ParserKeywordEntry* pTable)
{
    m_pKeywordTable = pTable;
    m_bKeywordIndexReady = false;
    m_RunKeywords.Forget();
}

void CGenericParser::SetKeywordTableSize(int nSize)
{
    m_nKeywordTableSize = nSize;
    m_bKeywordIndexReady = false;
    m_RunKeywords.Forget();
}

void CGenericParser::SetFilename(CBasicString strFileName)
{
    m_strFileName = strFileName;
}

void CGenericParser::ResetTokens()
{
    m_Tokens[0].Clear();
    m_Tokens[1].Clear();
    m_nCurrentIndex = 0;
    m_bLookaheadReady = false;
}

void CGenericParser::DropInput()
{
    // The threads reading ahead stop before the file they read closes.
    m_FileInterface.SetBlockSource(nullptr);
    m_pReadAhead.reset();
    m_bReadAheadConsidered = false;
    m_FileInterface.CloseFile();
    m_eInput = InputNone;
    m_pBlock = s_szEmptyBlock;
    m_nBlockLength = 0;
    m_nPosition = 0;
    m_nBlockOffset = 0;
    m_nTotalSize = 0;
    m_bSizeAtEnd = false;
    m_bInputEnded = true;
    m_bReadFailed = false;
    m_nInputSerial = NewInputSerial();
    m_nLine = 1;
    m_nLineStart = 0;
    m_nSpanNext = m_nSpanCount = 0;
    // Chosen once per input, so a switch to the plain way takes effect at the next input.
    m_eScanLevel = CurrentScanLevel();
}

GenericLoadResultTypes CGenericParser::OpenAndInitialize()
{
    DropInput();
    ResetTokens();
    // The path goes on as wide text, so on Windows names outside the ANSI code page open too.
    const GenericLoadResultTypes eResult = m_FileInterface.OpenFile(m_strFileName.GetWideString());
    if (eResult != GenericLoadSuccess)
        return eResult;
    if (!m_FileInterface.ReadNextBlockFromFile())
    {
        m_FileInterface.CloseFile();
        return GenericLoadReadFailed;
    }
    m_eInput = InputFile;
    m_pBlock = m_FileInterface.GetBlockData();
    m_nBlockLength = m_FileInterface.GetBlockLength();
    // A stream's size is not known until its end, where FetchBlock sets it: 0 until then.
    m_bSizeAtEnd = m_FileInterface.GetFileSize() < 0;
    m_nTotalSize = m_bSizeAtEnd ? 0 : m_FileInterface.GetFileSize();
    m_bInputEnded = m_nBlockLength == 0;
    if (m_bInputEnded)
        m_pBlock = s_szEmptyBlock;
    return GenericLoadSuccess;
}

void CGenericParser::StartMemoryInput(const char* pData, size_t nSize)
{
    DropInput();
    ResetTokens();
    m_eInput = InputMemory;
    m_pBlock = pData != nullptr ? pData : s_szEmptyBlock;
    m_nBlockLength = pData != nullptr ? nSize : 0;
    m_nTotalSize = static_cast<long long>(m_nBlockLength);
    m_bInputEnded = false;
}

void CGenericParser::SetInputStringValue(const char* pszText)
{
    if (pszText != nullptr)
        StartMemoryInput(pszText, std::strlen(pszText));
    else if (m_eInput == InputMemory)
    {
        // The tokens already scanned stay; what follows reads as the end of the input.
        const long long nTotal = m_nTotalSize;
        DropInput();
        m_nTotalSize = nTotal;
    }
}

void CGenericParser::SetInputBuffer(const char* pData, size_t nSize)
{
    StartMemoryInput(pData, nSize);
}

void CGenericParser::SetBlockSize(size_t nBytes)
{
    m_FileInterface.SetBlockSize(nBytes);
}

bool CGenericParser::CloseFile()
{
    if (!m_FileInterface.GetFileHandleIsValid())
        return false;
    const long long nTotal = m_nTotalSize;
    const bool bReadFailed = m_bReadFailed;
    DropInput();
    m_nTotalSize = nTotal;
    m_bReadFailed = bReadFailed;
    return true;
}

CKarnFileInterface* CGenericParser::GetFileInterface()
{
    return &m_FileInterface;
}

bool CGenericParser::ReadNextBlock()
{
    if (!m_FileInterface.GetFileHandleIsValid())
        return false;
    return m_FileInterface.ReadNextBlockFromFile();
}

void CGenericParser::EnsureLookahead()
{
    if (m_bLookaheadReady)
        return;
    ScanToken(Next());
    m_bLookaheadReady = true;
}

bool CGenericParser::Tokenize()
{
    EnsureLookahead();
    if (Current().m_eDataType == GenericTokenEndOfFile)
        return false;
    m_nCurrentIndex ^= 1;
    if (Current().m_eDataType == GenericTokenEndOfFile)
        MakeEndToken(Next());
    else
        ScanToken(Next());
    return true;
}

CGenericToken& CGenericParser::GetNextToken()
{
    EnsureLookahead();
    return Next();
}

double CGenericParser::GetNextTokenNumericValue()
{
    return GetNextToken().GetNumericValue();
}

bool CGenericParser::GetCurrentTokenBooleanValue()
{
    return Current().GetBooleanValue();
}

bool CGenericParser::GetNextTokenBooleanValue()
{
    return GetNextToken().GetBooleanValue();
}

char* CGenericParser::GetCurrentTokenString()
{
    return Current().GetString();
}

char* CGenericParser::GetNextTokenString()
{
    return GetNextToken().GetString();
}

namespace
{
int ClampToInt(long long nValue)
{
    if (nValue > INT_MAX)
        return INT_MAX;
    if (nValue < 0)
        return 0;
    return static_cast<int>(nValue);
}
} // namespace

int CGenericParser::GetTotalFileSize()
{
    return ClampToInt(m_nTotalSize);
}

int CGenericParser::GetCurrentFileOffset()
{
    return ClampToInt(Current().m_nEndOffset);
}

bool CGenericParser::SaveIOState(CGenericIOState& state)
{
    if (m_eInput == InputNone)
        return false;
    // Copy into the state's own buffers first; a failed allocation leaves its validity as it was.
    state.m_Current = Current();
    state.m_Next = Next();
    state.m_nReadOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
    state.m_nLine = m_nLine;
    state.m_nLineStart = m_nLineStart;
    state.m_nInputSerial = m_nInputSerial;
    state.m_bLookaheadReady = m_bLookaheadReady;
    state.m_bValid = true;
    return true;
}

bool CGenericParser::RestoreIOState(CGenericIOState& state)
{
    if (m_eInput == InputNone || !state.m_bValid || state.m_nInputSerial != m_nInputSerial)
        return false;
    const long long nOffset = state.m_nReadOffset;
    // Grow the token buffers before moving, so an allocation failure changes nothing.
    Current().Reserve(state.m_Current.m_nLength);
    Next().Reserve(state.m_Next.m_nLength);

    const long long nBlockEnd = m_nBlockOffset + static_cast<long long>(m_nBlockLength);
    if (nOffset >= m_nBlockOffset && nOffset <= nBlockEnd)
    {
        // Still inside the block at hand (always so for in-memory input): no reading needed.
        m_nPosition = static_cast<size_t>(nOffset - m_nBlockOffset);
    }
    else if (m_eInput != InputFile)
        return false;
    else
    {
        const bool bRead = m_FileInterface.SeekToOffset(nOffset) && m_FileInterface.ReadNextBlockFromFile();
        m_nBlockOffset = nOffset;
        m_nPosition = 0;
        m_nBlockLength = bRead ? m_FileInterface.GetBlockLength() : 0;
        m_pBlock = m_nBlockLength > 0 ? m_FileInterface.GetBlockData() : s_szEmptyBlock;
        m_bInputEnded = m_nBlockLength == 0;
        if (!bRead)
        {
            m_bReadFailed = m_bReadFailed || m_FileInterface.GetSystemError() != 0;
            return false;
        }
    }
    Current() = state.m_Current;
    Next() = state.m_Next;
    m_bLookaheadReady = state.m_bLookaheadReady;
    m_nLine = state.m_nLine;
    m_nLineStart = state.m_nLineStart;
    m_nSpanNext = m_nSpanCount = 0;
    return true;
}

namespace
{
std::atomic<size_t> g_nForcedPieces(0);
// The size from which a load uses the machine's cores unless told otherwise.
constexpr long long kReadAheadFrom = 32LL << 20;
} // namespace

void GenericForceReadAheadPieces(size_t nBytes)
{
    g_nForcedPieces.store(nBytes, std::memory_order_relaxed);
}

void CGenericParser::EnableReadAhead(int nThreads)
{
    m_nReadAheadThreads = nThreads < 0 ? 1 : nThreads;
}

void CGenericParser::StartReadAhead()
{
    m_bReadAheadConsidered = true;
    const size_t nForced = g_nForcedPieces.load(std::memory_order_relaxed);
    const bool bMemory = m_eInput == InputMemory;
    const long long nSize = bMemory ? m_nTotalSize : m_FileInterface.GetFileSize();
    int nThreads = m_nReadAheadThreads;
    if (nThreads == 0)
    {
        // Below some tens of pieces a thread costs more than it gives in a process that starts with
        // the load: the pieces ahead are fresh memory, touched for the first time.
        const unsigned nCores = std::thread::hardware_concurrency();
        nThreads = nSize >= kReadAheadFrom || nForced != 0 ? static_cast<int>(nCores == 0 ? 1 : nCores) : 1;
    }
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    nThreads = 1; // a build without threads
#endif
    if (nThreads < 2 || nSize <= 0 ||
        (!bMemory && (m_eInput != InputFile || !m_FileInterface.IsRegularFile())))
        return;
    if (nThreads > 64)
        nThreads = 64;
    generic_scan::CReadAhead::ReadAtFunction readAt;
    if (bMemory)
    {
        // The buffer's bytes are copied into the pieces: a copy costs a small part of their scan.
        const char* const pData = m_pBlock;
        readAt = [pData, nSize](long long nOffset, char* pBuffer, size_t nCount, int&) -> long long
        {
            const size_t nCopy = nOffset >= nSize ? 0
                                                  : static_cast<size_t>(std::min<long long>(
                                                        nSize - nOffset, static_cast<long long>(nCount)));
            std::memcpy(pBuffer, pData + nOffset, nCopy);
            return static_cast<long long>(nCopy);
        };
    }
    else
    {
        const CKarnFileInterface* const pFile = &m_FileInterface;
        readAt = [pFile](long long nOffset, char* pBuffer, size_t nCount, int& nError)
        { return pFile->ReadAt(nOffset, pBuffer, nCount, nError); };
    }
    try
    {
        m_pReadAhead.reset(new generic_scan::CReadAhead(
            std::move(readAt), nSize, m_FileInterface.GetBlockSize(),
            nForced != 0 ? nForced : size_t(1) << 19, nThreads, m_eScanLevel, m_RunKeywords));
    }
    catch (const std::exception&)
    {
        // No memory or no thread for it: the parser reads on its own.
        m_pReadAhead.reset();
        return;
    }
    if (bMemory)
        return;
    m_nReadAheadStamp = m_FileInterface.GetChangeStamp();
    m_FileInterface.SetBlockSource(m_pReadAhead.get());
}

void CGenericParser::ShareWork(size_t nParts, const std::function<void(size_t)>& work)
{
    if (m_pReadAhead && nParts > 1)
    {
        m_pReadAhead->RunParts(nParts, work);
        return;
    }
    for (size_t i = 0; i < nParts; ++i)
        work(i);
}

void CGenericParser::StopReadAhead()
{
    m_FileInterface.SetBlockSource(nullptr);
    m_pReadAhead.reset();
    m_bReadAheadConsidered = true;
}

void CGenericParser::RecheckReadAhead()
{
    if (m_pReadAhead && m_eInput == InputFile &&
        (m_FileInterface.GetChangeStamp() != m_nReadAheadStamp ||
         m_FileInterface.GetBlockSize() != m_pReadAhead->BlockSize()))
    {
        m_FileInterface.SetBlockSource(nullptr);
        m_pReadAhead.reset();
    }
}
