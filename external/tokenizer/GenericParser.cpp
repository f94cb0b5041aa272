#include "external/tokenizer/GenericParser.h"

#include "external/tokenizer/ByteScan.h"
#include "external/tokenizer/DecimalNumber.h"

#include <atomic>
#include <climits>
#include <cstring>

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

const char g_szEmptyBlock[1] = {'\0'};

// The tokens listed ahead at a time: enough to amortise a scan of 64-byte chunks, small enough to stay
// in the cache beside the block.
constexpr size_t kSpanRoom = 2048;

} // namespace

// CGenericIOState --------------------------------------------------------------------------------

CGenericIOState::CGenericIOState()
    : m_nReadOffset(0), m_nLine(0), m_nLineStart(0), m_nInputSerial(0), m_bLookaheadReady(false),
      m_bValid(false)
{
}

// CGenericParser ---------------------------------------------------------------------------------

CGenericParser::CGenericParser()
    : m_pKeywordTable(nullptr), m_nKeywordTableSize(0), m_bKeywordIndexReady(false), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(g_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bSizeAtEnd(false), m_bInputEnded(false),
      m_nInputSerial(NewInputSerial()), m_bTrackLines(false), m_nLine(1), m_nLineStart(0),
      m_eScanLevel(ScanPlain), m_pSpanEnds(nullptr), m_nSpanNext(0), m_nSpanCount(0)
{
}

CGenericParser::CGenericParser(const CGenericParser& other)
    : m_pKeywordTable(other.m_pKeywordTable), m_nKeywordTableSize(other.m_nKeywordTableSize),
      m_bKeywordIndexReady(false), m_strFileName(other.m_strFileName), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(g_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bSizeAtEnd(false), m_bInputEnded(false),
      m_nInputSerial(NewInputSerial()), m_bTrackLines(other.m_bTrackLines), m_nLine(1), m_nLineStart(0),
      m_eScanLevel(ScanPlain), m_pSpanEnds(nullptr), m_nSpanNext(0), m_nSpanCount(0)
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
    m_bTrackLines = other.m_bTrackLines;
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
}

void CGenericParser::SetKeywordTableSize(int nSize)
{
    m_nKeywordTableSize = nSize;
    m_bKeywordIndexReady = false;
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
    m_FileInterface.CloseFile();
    m_eInput = InputNone;
    m_pBlock = g_szEmptyBlock;
    m_nBlockLength = 0;
    m_nPosition = 0;
    m_nBlockOffset = 0;
    m_nTotalSize = 0;
    m_bSizeAtEnd = false;
    m_bInputEnded = true;
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
        m_pBlock = g_szEmptyBlock;
    return GenericLoadSuccess;
}

void CGenericParser::StartMemoryInput(const char* pData, size_t nSize)
{
    DropInput();
    ResetTokens();
    m_eInput = InputMemory;
    m_pBlock = pData != nullptr ? pData : g_szEmptyBlock;
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
    DropInput();
    m_nTotalSize = nTotal;
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
    m_FileInterface.ReadNextBlockFromFile();
    return true;
}

bool CGenericParser::FetchBlock()
{
    if (m_eInput != InputFile || m_bInputEnded)
        return false;
    const long long nExpected = m_nBlockOffset + static_cast<long long>(m_nBlockLength);
    // From here on the old block may be gone: the scanner holds no pointer into it.
    const bool bRead = ReadNextBlock();
    const CKarnFileInterface& file = m_FileInterface;
    // A block that does not continue where the last one ended (an override that read nothing, or
    // a failed read) ends the input rather than rescanning or skipping bytes.
    if (!bRead || m_eInput != InputFile || file.GetBlockLength() == 0 || file.GetBlockOffset() != nExpected)
    {
        if (m_eInput == InputFile)
        {
            m_pBlock = g_szEmptyBlock;
            m_nBlockLength = 0;
            m_nPosition = 0;
            m_nBlockOffset = nExpected;
            m_bInputEnded = true;
            if (m_bSizeAtEnd)
                m_nTotalSize = nExpected;
        }
        return false;
    }
    m_pBlock = file.GetBlockData();
    m_nBlockLength = file.GetBlockLength();
    m_nPosition = 0;
    m_nBlockOffset = nExpected;
    m_nSpanNext = m_nSpanCount = 0;
    return true;
}

void CGenericParser::MakeEndToken(CGenericToken& token) const
{
    token.Clear();
    token.m_eDataType = GenericTokenEndOfFile;
    token.m_nEndOffset = m_nTotalSize;
    PlaceToken(token, m_nBlockOffset + static_cast<long long>(m_nPosition));
}

void CGenericParser::CountLines(const char* pFrom, const char* pTo, long long nFrom)
{
    for (const char* p = pFrom; p < pTo;)
    {
        const void* pFeed = std::memchr(p, '\n', static_cast<size_t>(pTo - p));
        if (pFeed == nullptr)
            return;
        p = static_cast<const char*>(pFeed) + 1;
        ++m_nLine;
        m_nLineStart = nFrom + (p - pFrom);
    }
}

inline void CGenericParser::PlaceToken(CGenericToken& token, long long nStart) const
{
    if (!m_bTrackLines)
        return;
    token.m_nLine = m_nLine;
    token.m_nColumn = nStart - m_nLineStart + 1;
}

void CGenericParser::ScanToken(CGenericToken& token)
{
    token.Clear();
    if (m_nSpanNext == m_nSpanCount && !ListSpans())
    {
        ScanTokenSlowly(token);
        return;
    }
    // The common case: the next token of the block's list.
    const size_t nSpanStart = m_pSpanStarts[m_nSpanNext];
    const size_t nSpanEnd = m_pSpanEnds[m_nSpanNext++];
    const size_t nLength = nSpanEnd - nSpanStart;
    const char* const pWord = m_pBlock + nSpanStart;
    if (m_bTrackLines)
        CountLines(m_pBlock + m_nPosition, pWord, m_nBlockOffset + static_cast<long long>(m_nPosition));
    const long long nStart = m_nBlockOffset + static_cast<long long>(nSpanStart);
    PlaceToken(token, nStart);
    m_nPosition = nSpanEnd;
    token.m_nEndOffset = nStart + static_cast<long long>(nLength);
    const size_t nReadable = m_nBlockLength - nSpanStart;
    // A cleared token has room for 32 bytes: a short word is copied as one 32-byte block.
    if (nLength < CGenericToken::InlineCapacity && nReadable >= CGenericToken::InlineCapacity)
    {
        std::memcpy(token.m_pText, pWord, CGenericToken::InlineCapacity);
        token.m_nLength = nLength;
    }
    else
        token.Append(pWord, nLength);
    token.Terminate();
    CGenericTokenSummary summary;
    ClassifySpan(pWord, nLength, nReadable, summary);
    TakeSummary(token, summary);
}

bool CGenericParser::ListSpans()
{
    // The first token of the input may begin with a byte-order mark, which the byte-by-byte way takes
    // off.
    if (m_nBlockOffset + static_cast<long long>(m_nPosition) == 0)
        return false;
    if (!m_pSpanStarts)
    {
        m_pSpanStarts.reset(new std::uint32_t[2 * (kSpanRoom + 3)]);
        m_pSpanEnds = m_pSpanStarts.get() + kSpanRoom + 3;
    }
    for (;;)
    {
        size_t nStop = 0;
        // All of an in-memory input is at hand, so its last word is whole; a file's last block is only
        // known to be the last once the next read finds nothing.
        m_nSpanCount = ScanSpans(m_eScanLevel, m_pBlock, m_nPosition, m_nBlockLength, m_eInput == InputMemory,
                                 m_pSpanStarts.get(), m_pSpanEnds, kSpanRoom, nStop);
        m_nSpanNext = 0;
        if (m_nSpanCount > 0)
            return true;
        // Only white space before the stop: a quote, a word that reaches the block's end, or the end.
        if (m_bTrackLines)
            CountLines(m_pBlock + m_nPosition, m_pBlock + nStop,
                       m_nBlockOffset + static_cast<long long>(m_nPosition));
        m_nPosition = nStop;
        if (m_nPosition < m_nBlockLength || !FetchBlock())
            return false;
    }
}

void CGenericParser::ScanTokenSlowly(CGenericToken& token)
{
    // Whatever the lists left, byte by byte: it may move to further blocks, so the lists start afresh.
    m_nSpanNext = m_nSpanCount = 0;
    for (;;)
    {
        // Skip white space, across blocks.
        for (;;)
        {
            const char* const pFrom = m_pBlock + m_nPosition;
            const char* const p = SkipSpace(pFrom, m_pBlock + m_nBlockLength);
            if (m_bTrackLines)
                CountLines(pFrom, p, m_nBlockOffset + static_cast<long long>(m_nPosition));
            m_nPosition = static_cast<size_t>(p - m_pBlock);
            if (m_nPosition < m_nBlockLength)
                break;
            if (!FetchBlock())
            {
                MakeEndToken(token);
                return;
            }
        }

        const long long nStart = m_nBlockOffset + static_cast<long long>(m_nPosition);
        PlaceToken(token, nStart);
        const char c = m_pBlock[m_nPosition];
        const unsigned char nKind = KindOf(c);
        if (nKind == KindBracket)
        {
            token.Append(&c, 1);
            token.Terminate();
            ++m_nPosition;
            token.m_eDataType = BracketType(c);
            token.m_nEndOffset = nStart + 1;
            return;
        }
        if (nKind == KindQuote)
        {
            ScanQuoted(token);
            token.Terminate();
            token.m_eDataType = GenericTokenQuotedString;
            token.m_nEndOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
            return;
        }
        ScanWord(token);
        token.m_nEndOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
        if (nStart == 0 && token.m_nLength >= 3 && std::memcmp(token.m_pText, "\xEF\xBB\xBF", 3) == 0)
        {
            // A byte-order mark at the very start of the input is not part of any token.
            std::memmove(token.m_pText, token.m_pText + 3, token.m_nLength - 3);
            token.m_nLength -= 3;
            // Columns count from after the mark.
            m_nLineStart = 3;
            PlaceToken(token, 3);
            if (token.m_nLength == 0)
                continue;
        }
        token.Terminate();
        CGenericTokenSummary summary;
        ClassifyWord(token.m_pText, token.m_nLength, summary);
        TakeSummary(token, summary);
        return;
    }
}

void CGenericParser::ScanWord(CGenericToken& token)
{
    for (;;)
    {
        const char* const pStart = m_pBlock + m_nPosition;
        const char* const pEnd = m_pBlock + m_nBlockLength;
        const char* const p = FindWordEnd(pStart, pEnd);
        token.Append(pStart, static_cast<size_t>(p - pStart));
        m_nPosition = static_cast<size_t>(p - m_pBlock);
        if (p < pEnd || !FetchBlock())
            return;
    }
}

void CGenericParser::ScanQuoted(CGenericToken& token)
{
    token.Append("\"", 1);
    ++m_nPosition;
    for (;;)
    {
        const char* const pStart = m_pBlock + m_nPosition;
        const char* p = pStart;
        const char* const pEnd = m_pBlock + m_nBlockLength;
        while (p < pEnd && *p != '"' && *p != '\r' && *p != '\n')
            ++p;
        const bool bStopped = p < pEnd;
        if (bStopped && *p == '"')
            ++p; // the closing quote belongs to the token; a line end does not
        token.Append(pStart, static_cast<size_t>(p - pStart));
        m_nPosition = static_cast<size_t>(p - m_pBlock);
        if (bStopped || !FetchBlock())
            return;
    }
}

void CGenericParser::ClassifyWord(const char* pText, size_t nLength, CGenericTokenSummary& summary)
{
    summary.m_nUserDefinedType = 0;
    summary.m_dNumericValue = 0.0;
    summary.m_bBooleanValue = false;
    // A word that starts with a letter is a number only when it spells "inf", "nan" or "infinity".
    const char c = pText[0];
    const bool bMaybeNumber = IsDigit(c) || c == '-' || c == '+' || c == '.' || nLength == 3 || nLength == 8;
    double dValue = 0.0;
    if (bMaybeNumber && ParseNumber(pText, nLength, dValue))
    {
        summary.m_eDataType = GenericTokenNumber;
        summary.m_dNumericValue = dValue;
        return;
    }
    int nId = 0;
    if (MatchKeyword(pText, nLength, nId))
    {
        summary.m_eDataType = GenericTokenKeyword;
        summary.m_nUserDefinedType = static_cast<unsigned int>(nId);
        return;
    }
    if (nLength == 4 && EqualNoCase(pText, "TRUE", 4))
    {
        summary.m_eDataType = GenericTokenBoolean;
        summary.m_bBooleanValue = true;
        return;
    }
    summary.m_eDataType =
        nLength == 5 && EqualNoCase(pText, "FALSE", 5) ? GenericTokenBoolean : GenericTokenWord;
}

namespace
{
#if defined(__GNUC__)
#define GENERIC_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define GENERIC_ALWAYS_INLINE inline
#endif

// The common words of a mesh file, classified without the general rules: short decimals (converted
// with the vector form when bVector) and keywords. pText has at least 32 readable bytes. False for
// anything else, which CGenericParser::ClassifyWord then classifies; brackets are tested only then
// (a bracket is neither a number nor a keyword's first byte). Inlined into the loops that take tokens
// from the block's list: it runs for every token.
GENERIC_ALWAYS_INLINE bool ClassifyCommon(const char* pText, size_t nLength, bool bVector,
                                          const CKeywordIndex& keywords, CGenericTokenSummary& summary)
{
    // One test for both starts of a number, so that keywords and numbers, which alternate, cost one
    // branch between them.
    const char c = *pText;
    const bool bNumberStart = (static_cast<unsigned char>(c - '0') < 10) | (c == '-');
    double dValue;
    if (bNumberStart && ParseShortDecimal(pText, nLength, bVector, dValue) > 0)
    {
        summary = CGenericTokenSummary{GenericTokenNumber, 0, dValue, false};
        return true;
    }
    // A word that starts with a letter is no number unless it could spell "inf", "nan" or "infinity":
    // straight to the keywords, the other common case.
    const char cLower = static_cast<char>(c | 0x20);
    const bool bMaybeNonFinite = (nLength == 3 || nLength == 8) && (cLower == 'i' || cLower == 'n');
    int nId = 0;
    if (static_cast<unsigned char>(cLower - 'a') < 26 && !bMaybeNonFinite &&
        keywords.Match(pText, nLength, nId))
    {
        summary = CGenericTokenSummary{GenericTokenKeyword, static_cast<unsigned int>(nId), 0.0, false};
        return true;
    }
    return false;
}
} // namespace

void CGenericParser::ClassifySpan(const char* pWord, size_t nLength, size_t nReadable,
                                  CGenericTokenSummary& summary)
{
    // A word near the block's end is read from a copy with room past it.
    char aPadded[64];
    const char* pReadable = pWord;
    if (nReadable < 32)
    {
        std::memset(aPadded, 0, sizeof(aPadded));
        std::memcpy(aPadded, pWord, nLength);
        pReadable = aPadded;
    }
    PrepareKeywordIndex();
    if (ClassifyCommon(pReadable, nLength, m_eScanLevel != ScanPlain, m_KeywordIndex, summary))
        return;
    if (KindOf(*pWord) == KindBracket)
    {
        summary = CGenericTokenSummary{BracketType(*pWord), 0, 0.0, false};
        return;
    }
    ClassifyWord(pReadable, nLength, summary);
}

template <bool bVector>
GENERIC_ALWAYS_INLINE size_t CGenericParser::DescribeListedWith(CGenericTokenSummary* pOut, size_t nMax,
                                                                long long nLimit, unsigned long long nStopIds)
{
    // Everything the loop reads is in locals, so that the summaries it writes cannot make the compiler
    // read the parser's members again. The k-th end is kSpanRoom + 3 entries after the k-th start.
    const std::uint32_t* pSpan = m_pSpanStarts.get() + m_nSpanNext;
    const std::uint32_t* const pSpansEnd = m_pSpanStarts.get() + m_nSpanCount;
    const size_t nEnds = static_cast<size_t>(m_pSpanEnds - m_pSpanStarts.get());
    const char* const pBlock = m_pBlock;
    // Words that start before it have 32 readable bytes in the block.
    const size_t nReadableBefore = m_nBlockLength >= 32 ? m_nBlockLength - 32 : 0;
    const CKeywordIndex& keywords = m_KeywordIndex;
    CGenericTokenSummary* pSummary = pOut;
    CGenericTokenSummary* const pOutEnd = pOut + nMax;
    for (; pSummary < pOutEnd && pSpan < pSpansEnd; ++pSummary, ++pSpan)
    {
        const size_t nStart = pSpan[0];
        const size_t nEnd = pSpan[nEnds];
        if (static_cast<long long>(nEnd) >= nLimit)
            break;
        if (nStart < nReadableBefore &&
            ClassifyCommon(pBlock + nStart, nEnd - nStart, bVector, keywords, *pSummary))
        {
            if (pSummary->m_eDataType == GenericTokenKeyword && pSummary->m_nUserDefinedType < 64 &&
                ((nStopIds >> pSummary->m_nUserDefinedType) & 1) != 0)
                break;
            continue;
        }
        ClassifySpan(pBlock + nStart, nEnd - nStart, m_nBlockLength - nStart, *pSummary);
        if (pSummary->m_eDataType == GenericTokenKeyword && pSummary->m_nUserDefinedType < 64 &&
            ((nStopIds >> pSummary->m_nUserDefinedType) & 1) != 0)
            break;
    }
    m_nSpanNext = static_cast<size_t>(pSpan - m_pSpanStarts.get());
    return static_cast<size_t>(pSummary - pOut);
}

template <>
size_t CGenericParser::DescribeListed<ScanPlain>(CGenericTokenSummary* pOut, size_t nMax, long long nLimit,
                                                 unsigned long long nStopIds)
{
    return DescribeListedWith<false>(pOut, nMax, nLimit, nStopIds);
}

template <>
size_t CGenericParser::DescribeListed<ScanSse2>(CGenericTokenSummary* pOut, size_t nMax, long long nLimit,
                                                unsigned long long nStopIds)
{
    return DescribeListedWith<true>(pOut, nMax, nLimit, nStopIds);
}

template <>
GENERIC_TARGET_AVX2 size_t CGenericParser::DescribeListed<ScanAvx2>(CGenericTokenSummary* pOut, size_t nMax,
                                                                    long long nLimit,
                                                                    unsigned long long nStopIds)
{
    return DescribeListedWith<true>(pOut, nMax, nLimit, nStopIds);
}

void CGenericParser::TakeSummary(CGenericToken& token, const CGenericTokenSummary& summary)
{
    token.m_eDataType = summary.m_eDataType;
    token.m_nUserDefinedType = summary.m_nUserDefinedType;
    token.m_dNumericValue = summary.m_dNumericValue;
    token.m_bBooleanValue = summary.m_bBooleanValue;
}

size_t CGenericParser::ReadTokens(CGenericTokenSummary* pOut, size_t nMax, long long nBefore,
                                  unsigned long long nStopIds)
{
    if (nMax == 0 || m_bTrackLines)
        return 0;
    EnsureLookahead();
    // The lookahead is the first: it is described from the token itself.
    const CGenericToken& next = Next();
    const auto stops = [nStopIds](GenericTokenTypes eType, unsigned nId)
    { return eType == GenericTokenKeyword && nId < 64 && ((nStopIds >> nId) & 1) != 0; };
    if (next.m_eDataType == GenericTokenEndOfFile || next.m_nEndOffset >= nBefore ||
        stops(next.m_eDataType, next.m_nUserDefinedType))
        return 0;
    pOut[0] = CGenericTokenSummary{next.m_eDataType, next.m_nUserDefinedType, next.m_dNumericValue,
                                   next.m_bBooleanValue};
    // The tokens after it come from the block's list; m_nSpanNext is then the list entry after the
    // last one described.
    PrepareKeywordIndex();
    const size_t nFirst = m_nSpanNext;
    const long long nLimit = nBefore - m_nBlockOffset; // block offsets at or past it end the batch
    size_t nListed;
    switch (m_eScanLevel)
    {
    case ScanAvx2:
        nListed = DescribeListed<ScanAvx2>(pOut + 1, nMax - 1, nLimit, nStopIds);
        break;
    case ScanSse2:
        nListed = DescribeListed<ScanSse2>(pOut + 1, nMax - 1, nLimit, nStopIds);
        break;
    default:
        nListed = DescribeListed<ScanPlain>(pOut + 1, nMax - 1, nLimit, nStopIds);
        break;
    }
    if (nListed == 0)
    {
        Tokenize();
        return 1;
    }
    // The last token described becomes current, its text taken from the block again, and the token
    // after it is scanned as the lookahead, as Tokenize would have left them: the scan restarts where
    // the token before the last one ended.
    m_nSpanNext = nFirst + nListed - 1;
    m_nPosition = nListed >= 2 ? m_pSpanEnds[m_nSpanNext - 1] : m_nPosition;
    ScanToken(Current());
    ScanToken(Next());
    m_bLookaheadReady = true;
    return nListed + 1;
}

void CGenericParser::PrepareKeywordIndex()
{
    // Built when first needed rather than in the setters, which may come in either order.
    if (!m_bKeywordIndexReady)
    {
        m_KeywordIndex.Build(m_pKeywordTable, m_nKeywordTableSize);
        m_bKeywordIndexReady = true;
    }
}

bool CGenericParser::MatchKeyword(const char* pText, size_t nLength, int& nId)
{
    PrepareKeywordIndex();
    return m_KeywordIndex.Match(pText, nLength, nId);
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
        m_pBlock = m_nBlockLength > 0 ? m_FileInterface.GetBlockData() : g_szEmptyBlock;
        m_bInputEnded = m_nBlockLength == 0;
        if (!bRead)
            return false;
    }
    Current() = state.m_Current;
    Next() = state.m_Next;
    m_bLookaheadReady = state.m_bLookaheadReady;
    m_nLine = state.m_nLine;
    m_nLineStart = state.m_nLineStart;
    m_nSpanNext = m_nSpanCount = 0;
    return true;
}
