// Keyword runs: the common lines of a mesh file ("normal x y z", "vertex x y z" and the keywords around
// them) read straight from the block a word at a time, each number found and converted in one pass and
// each keyword compared with the run's keywords directly, for a reader that needs no more of them than
// their keywords and numbers. Anything else ends the run, for the general readers to take.
#include "tokenizer/GenericParser.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/DecimalNumber.h"

#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <emmintrin.h>
#define GENERIC_RUNS_SSE2 1
#endif

using namespace generic_scan;

namespace
{

// Byte classes of 16 bytes at p as bit masks (bit i for byte i): white space, ASCII digits, points and
// ASCII letters. One version with SSE2, one without vector instructions.
template <bool bVector> struct CRunBytes
{
    static unsigned Spaces(const char* p)
    {
        unsigned nMask = 0;
        for (unsigned i = 0; i < 16; ++i)
            nMask |= static_cast<unsigned>(KindOf(p[i]) == KindSpace) << i;
        return nMask;
    }
    static unsigned Digits(const char* p, unsigned& nPoints)
    {
        unsigned nMask = 0;
        nPoints = 0;
        for (unsigned i = 0; i < 16; ++i)
        {
            nMask |= static_cast<unsigned>(IsDigit(p[i])) << i;
            nPoints |= static_cast<unsigned>(p[i] == '.') << i;
        }
        return nMask;
    }
    static unsigned Letters(const char* p)
    {
        unsigned nMask = 0;
        for (unsigned i = 0; i < 16; ++i)
            nMask |= static_cast<unsigned>(static_cast<unsigned char>((p[i] | 0x20) - 'a') < 26) << i;
        return nMask;
    }
};

#if defined(GENERIC_RUNS_SSE2)
template <> struct CRunBytes<true>
{
    static __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    // Bytes from 0 to nMax above the base, as unsigned bytes.
    static __m128i Within(__m128i v, char cBase, char cMax)
    {
        const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(cBase));
        return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(cMax)), shifted);
    }
    // White space is tab..CR (9..13), space and NUL.
    static unsigned Spaces(const char* p)
    {
        const __m128i v = Load(p);
        const __m128i blanks =
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(Within(v, 9, 4), blanks)));
    }
    static unsigned Digits(const char* p, unsigned& nPoints)
    {
        const __m128i v = Load(p);
        nPoints = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
        return static_cast<unsigned>(_mm_movemask_epi8(Within(v, '0', 9)));
    }
    static unsigned Letters(const char* p)
    {
        return static_cast<unsigned>(
            _mm_movemask_epi8(Within(_mm_or_si128(Load(p), _mm_set1_epi8(0x20)), 'a', 25)));
    }
};
#endif

inline unsigned LowestBit(unsigned nMask)
{
    return static_cast<unsigned>(__builtin_ctz(nMask));
}

inline std::uint64_t Load8(const char* p)
{
    std::uint64_t x;
    std::memcpy(&x, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    x = __builtin_bswap64(x);
#endif
    return x;
}

// The value of up to eight digits that end just before pEnd (nCount of them, 1 to 8; the eight bytes
// before pEnd readable): their values with the bytes before them cleared are a number with leading
// zeros.
inline std::uint64_t DigitsBefore(const char* pEnd, unsigned nCount)
{
    const std::uint64_t x = (Load8(pEnd - 8) & 0x0F0F0F0F0F0F0F0FULL) & (~0ULL << (8 * (8 - nCount)));
    // Combined in pairs, fours and eights with three multiplications (fast_float's
    // parse_eight_digits_unrolled), the first digit in the lowest byte.
    std::uint64_t v = x * 10 + (x >> 8);
    v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
         (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
        32;
    return v & 0xFFFFFFFFULL;
}

constexpr std::uint64_t g_aIntegerPowers[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Reads one block's run. Positions are pointers into the block; every word of a run starts before
// pSafe, which leaves 64 readable bytes after it, and ends before pLimit.
template <bool bVector> class CRunReader
{
public:
    CRunReader(const char* pBlock, const char* pSafe, const char* pLimit, const CRunKeywords& keywords)
        : m_pBlock(pBlock), m_pSafe(pSafe), m_pLimit(pLimit), m_pKeywords(keywords.Entries()),
          m_Keywords(keywords)
    {
    }

    // The first byte after the white space from p; pSafe or beyond when none comes before it.
    const char* SkipSpace(const char* p) const
    {
        // One blank between words is the common case.
        if (KindOf(*p) != KindSpace)
            return p;
        if (KindOf(p[1]) != KindSpace)
            return p + 1;
        while (p < m_pSafe)
        {
            const unsigned nSpaces = CRunBytes<bVector>::Spaces(p);
            if (nSpaces != 0xFFFF)
                return p + LowestBit(~nSpaces);
            p += 16;
        }
        return p;
    }

    // A keyword of the run after the white space from p: its id, where it starts, and p moved past it.
    // False for any other word.
    bool Keyword(const char*& p, const char*& pWord, int& nId) const
    {
        pWord = SkipSpace(p);
        if (pWord >= m_pSafe)
            return false;
        const unsigned nLength = LowestBit(~CRunBytes<bVector>::Letters(pWord));
        const char* const pEnd = pWord + nLength;
        if (nLength == 0 || nLength > 8 || KindOf(*pEnd) == KindWord || pEnd >= m_pLimit)
            return false;
        const std::uint64_t nLower = Load8(pWord) | 0x2020202020202020ULL;
        const std::uint64_t nText = nLength == 8 ? nLower : nLower & ((1ULL << (8 * nLength)) - 1);
        const unsigned nLast = m_Keywords.First(nLength + 1);
        for (unsigned i = m_Keywords.First(nLength); i < nLast; ++i)
            if (m_pKeywords[i].m_nLower == nText)
            {
                nId = m_pKeywords[i].m_nId;
                p = pEnd;
                return true;
            }
        return false;
    }

    // A number token at p, converted as the tokenizer converts it; pStart where it starts and p moved
    // past it. The common short decimal is found and converted in one pass (digits on both sides of
    // the point, at most eight each); any other word goes the general way.
    bool Number(const char*& p, const char*& pStart, double& dValue) const
    {
        const char* const pWord = SkipSpace(p);
        if (pWord >= m_pSafe || pWord < m_pBlock + 8)
            return false;
        const bool bNegative = *pWord == '-';
        const char* const pDigits =
            pWord + (static_cast<unsigned>(bNegative) | static_cast<unsigned>(*pWord == '+'));
        unsigned nPoints = 0;
        const unsigned nDigits = CRunBytes<bVector>::Digits(pDigits, nPoints);
        const unsigned nLength = LowestBit(~(nDigits | nPoints));
        const char* const pEnd = pDigits + nLength;
        const unsigned nPoint = nPoints & ((1u << nLength) - 1);
        const unsigned nIntegers = LowestBit(nPoint | (1u << nLength));
        const unsigned nFraction = nPoint != 0 ? nLength - nIntegers - 1 : 0;
        if (nLength < 16 && KindOf(*pEnd) != KindWord && (nPoint & (nPoint - 1)) == 0 && nIntegers - 1 < 8 &&
            nFraction <= 8 && (nPoint == 0 || nFraction != 0))
        {
            if (pEnd >= m_pLimit)
                return false;
            const std::uint64_t nInteger = DigitsBefore(pDigits + nIntegers, nIntegers);
            const std::uint64_t nMantissa =
                nFraction != 0 ? nInteger * g_aIntegerPowers[nFraction] + DigitsBefore(pEnd, nFraction)
                               : nInteger;
            // Both the digits' integer (below 10^16 and checked against 2^53) and the power of ten are
            // exact doubles, so the division is correctly rounded: the value from_chars gives.
            if (nMantissa <= (1ULL << 53))
            {
                dValue = WithSign(static_cast<double>(nMantissa) / g_dExactPowersOfTen[nFraction], bNegative);
                pStart = pWord;
                p = pEnd;
                return true;
            }
        }
        // The general way: the whole word, whatever it holds.
        const char* pWordEnd = pWord;
        while (KindOf(*pWordEnd) == KindWord && pWordEnd - pWord < 32)
            ++pWordEnd;
        if (KindOf(*pWordEnd) == KindWord || pWordEnd >= m_pLimit ||
            !ParseNumber(pWord, static_cast<size_t>(pWordEnd - pWord), dValue))
            return false;
        pStart = pWord;
        p = pWordEnd;
        return true;
    }

private:
    const char* const m_pBlock;
    const char* const m_pSafe;
    const char* const m_pLimit;
    const CRunKeywords::Entry* const m_pKeywords;
    const CRunKeywords& m_Keywords;
};

} // namespace

template <bool bVector>
size_t CGenericParser::ScanRunSteps(CGenericRunStep* pOut, size_t nMax, long long nBefore, int nFirstId,
                                    bool bFirstAlone, long long nFirstStart, const char*& pLastStart)
{
    const CRunKeywords& keywords = m_RunKeywords;
    const char* const pBlock = m_pBlock;
    // Every word of the run starts before pSafe (64 readable bytes after it) and ends before pLimit.
    const char* const pSafe = pBlock + (m_nBlockLength > 64 ? m_nBlockLength - 64 : 0);
    const long long nLimit = nBefore - m_nBlockOffset;
    const char* const pLimit =
        nLimit <= 0
            ? pBlock
            : (nLimit >= static_cast<long long>(m_nBlockLength) ? pBlock + m_nBlockLength : pBlock + nLimit);
    const CRunReader<bVector> reader(pBlock, pSafe, pLimit, keywords);
    const long long nBlockOffset = m_nBlockOffset;
    const unsigned long long nAloneIds = keywords.AloneIds();
    const unsigned long long nTripleIds = keywords.TripleIds();
    const char* p = pBlock + m_nPosition;

    // The three numbers after a keyword that takes them; false, with p left, when they are not.
    const auto numbers = [&](CGenericRunStep& step) -> bool
    {
        const char* q = p;
        const char* pStart = nullptr;
        if (!reader.Number(q, pStart, step.m_dValues[0]) || !reader.Number(q, pStart, step.m_dValues[1]) ||
            !reader.Number(q, pStart, step.m_dValues[2]))
            return false;
        step.m_nLastStart = nBlockOffset + (pStart - pBlock);
        pLastStart = pStart;
        p = q;
        return true;
    };

    {
        // The lookahead, already scanned, starts the run.
        CGenericRunStep& step = pOut[0];
        step.m_nId = nFirstId;
        step.m_nKeywordStart = nFirstStart;
        step.m_nLastStart = nFirstStart;
        if (!bFirstAlone && !numbers(step))
            return 0;
    }
    size_t n = 1;
    for (; n < nMax; ++n)
    {
        CGenericRunStep& step = pOut[n];
        const char* q = p;
        const char* pKeyword = nullptr;
        int nId = 0;
        if (!reader.Keyword(q, pKeyword, nId))
            break;
        step.m_nId = nId;
        step.m_nKeywordStart = nBlockOffset + (pKeyword - pBlock);
        step.m_nLastStart = step.m_nKeywordStart;
        const char* const pBefore = p;
        p = q;
        if (((nAloneIds >> nId) & 1) != 0)
        {
            pLastStart = pKeyword;
            continue;
        }
        if (((nTripleIds >> nId) & 1) == 0 || !numbers(step))
        {
            p = pBefore;
            break;
        }
    }
    return n;
}

size_t CGenericParser::ScanKeywordRun(CGenericRunStep* pOut, size_t nMax, long long nBefore,
                                      unsigned long long nAloneIds, unsigned long long nTripleIds)
{
    if (nMax == 0 || m_bTrackLines || m_eInput == InputNone)
        return 0;
    EnsureLookahead();
    const CGenericToken& next = Next();
    const unsigned nFirstId = next.m_nUserDefinedType;
    if (next.m_eDataType != GenericTokenKeyword || nFirstId >= 64 || next.m_nEndOffset >= nBefore)
        return 0;
    const bool bFirstAlone = ((nAloneIds >> nFirstId) & 1) != 0;
    if (!bFirstAlone && ((nTripleIds >> nFirstId) & 1) == 0)
        return 0;
    PrepareKeywordIndex();
    if (!m_RunKeywords.IsFor(nAloneIds, nTripleIds))
        m_RunKeywords.Build(m_pKeywordTable, m_nKeywordTableSize, m_KeywordIndex, nAloneIds, nTripleIds);
    const long long nFirstStart = next.m_nEndOffset - static_cast<long long>(next.m_nLength);
    const char* pLastStart = nullptr;
    const size_t nSteps =
#if defined(GENERIC_RUNS_SSE2)
        m_eScanLevel != ScanPlain ? ScanRunSteps<true>(pOut, nMax, nBefore, static_cast<int>(nFirstId),
                                                       bFirstAlone, nFirstStart, pLastStart)
                                  :
#endif
                                  ScanRunSteps<false>(pOut, nMax, nBefore, static_cast<int>(nFirstId),
                                                      bFirstAlone, nFirstStart, pLastStart);
    if (nSteps > 0)
    {
        m_nRunBlockOffset = m_nBlockOffset;
        m_nRunSerial = m_nInputSerial;
        m_nRunPosition = m_nPosition;
    }
    return nSteps;
}

bool CGenericParser::TakeRunTo(long long nStart)
{
    // Only while the parser stands where the run was scanned.
    if (m_nRunSerial != m_nInputSerial || m_nRunBlockOffset != m_nBlockOffset ||
        m_nRunPosition != m_nPosition || !m_bLookaheadReady)
        return false;
    m_nRunSerial = 0;
    const CGenericToken& next = Next();
    if (nStart == next.m_nEndOffset - static_cast<long long>(next.m_nLength))
    {
        // The lookahead: as Tokenize takes it.
        Tokenize();
        return true;
    }
    if (nStart < m_nBlockOffset + static_cast<long long>(m_nPosition) ||
        nStart >= m_nBlockOffset + static_cast<long long>(m_nBlockLength))
        return false;
    // The token becomes current, scanned again from where it starts, and the token after it the
    // lookahead. The lists are dropped: other readers list afresh, a little at a time.
    m_nPosition = static_cast<size_t>(nStart - m_nBlockOffset);
    m_nSpanNext = m_nSpanCount = 0;
    m_nSpanRoom = 256;
    Current().Clear();
    ScanTokenSlowly(Current());
    Next().Clear();
    ScanTokenSlowly(Next());
    m_bLookaheadReady = true;
    return true;
}
