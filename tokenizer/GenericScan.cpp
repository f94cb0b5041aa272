// Finding the next token: from the current block's list of tokens where it has one (the list is made
// by ByteScan a block at a time), else byte by byte across blocks; and moving from block to block.
#include "tokenizer/GenericParser.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/DecimalNumber.h"

#include <cstring>

using namespace generic_scan;

bool CGenericParser::FetchBlock()
{
    if (m_eInput != InputFile || m_bInputEnded)
        return false;
    const long long nExpected = m_nBlockOffset + static_cast<long long>(m_nBlockLength);
    // From here on the old block may be gone: the scanner holds no pointer into it.
    const bool bRead = ReadNextBlock();
    const CKarnFileInterface& file = m_FileInterface;
    // A failed read ends the input too, but is remembered: what was read is not the whole file. The
    // reader's error tells, whatever an override of ReadNextBlock made of its result.
    if (m_eInput == InputFile && file.GetSystemError() != 0)
        m_bReadFailed = true;
    // A block that does not continue where the last one ended (an override that read nothing, or
    // a failed read) ends the input rather than rescanning or skipping bytes.
    if (!bRead || m_eInput != InputFile || file.GetBlockLength() == 0 || file.GetBlockOffset() != nExpected)
    {
        if (m_eInput == InputFile)
        {
            m_pBlock = s_szEmptyBlock;
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
    // Right after a keyword run, the few tokens before the next one are scanned one by one: a list
    // of the block's tokens would be thrown away when the next run begins.
    if (m_nSpanNext == m_nSpanCount && (m_nSlowTokens > 0 ? (--m_nSlowTokens, true) : !ListSpans()))
    {
        ScanTokenSlowly(token);
        return;
    }
    // The common case: the next token of the block's list.
    const size_t nSpanStart = m_nSpanBase + m_pSpanStarts[m_nSpanNext];
    const size_t nSpanEnd = m_nSpanBase + m_pSpanEnds[m_nSpanNext++];
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
        // Offsets in the lists are 32-bit: a larger block is listed a window at a time from the scan
        // position. A word that reaches a window's end is scanned byte by byte, as one that reaches a
        // block's end.
        m_nSpanBase = m_nBlockLength > kSpanWindow ? m_nPosition : 0;
        const size_t nWindow =
            m_nBlockLength - m_nSpanBase > kSpanWindow ? kSpanWindow : m_nBlockLength - m_nSpanBase;
        // All of an in-memory input is at hand, so its last word is whole; a file's last block is only
        // known to be the last once the next read finds nothing.
        const bool bFinal = m_eInput == InputMemory && m_nSpanBase + nWindow == m_nBlockLength;
        m_nSpanCount = ScanSpans(m_eScanLevel, m_pBlock + m_nSpanBase, m_nPosition - m_nSpanBase, nWindow,
                                 bFinal, m_pSpanStarts.get(), m_pSpanEnds, kSpanRoom, nStop);
        nStop += m_nSpanBase;
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
