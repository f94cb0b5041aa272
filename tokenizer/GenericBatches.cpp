// Classifying tokens, one at a time or many at once: the common words of a mesh file (short decimals
// and keywords) inline, anything else by the general rules; and ReadTokens, which describes many listed
// tokens in one call, one copy of its loop per scan level.
#include "tokenizer/GenericParser.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/DecimalNumber.h"

#include <cstring>

using namespace generic_scan;

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
    // List offsets count from the window's base.
    const char* const pBlock = m_pBlock + m_nSpanBase;
    const size_t nBlockLength = m_nBlockLength - m_nSpanBase;
    nLimit -= static_cast<long long>(m_nSpanBase);
    // Words that start before it have 32 readable bytes in the block.
    const size_t nReadableBefore = nBlockLength >= 32 ? nBlockLength - 32 : 0;
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
        ClassifySpan(pBlock + nStart, nEnd - nStart, nBlockLength - nStart, *pSummary);
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
    // Nothing listed after the lookahead: Tokenize takes it, so that a reader that reports progress
    // per token (the stream's size may become known on the way) sees it as one.
    if (nListed == 0)
        return 0;
    // The last token described becomes current, its text taken from the block again, and the token
    // after it is scanned as the lookahead, as Tokenize would have left them: the scan restarts where
    // the token before the last one ended.
    m_nSpanNext = nFirst + nListed - 1;
    m_nPosition = nListed >= 2 ? m_nSpanBase + m_pSpanEnds[m_nSpanNext - 1] : m_nPosition;
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
