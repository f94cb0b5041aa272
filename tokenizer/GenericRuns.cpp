// Keyword runs: the common lines of a mesh file ("normal x y z", "vertex x y z" and the keywords around
// them) read straight from the block a word at a time, each number found and converted in one pass and
// each keyword found by a hash of its text, for a reader that needs no more of them than their keywords
// and numbers. Anything else ends the run, for the general readers to take.
#include "tokenizer/GenericParser.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/DecimalNumber.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <immintrin.h>
#define GENERIC_RUNS_X86 1
#endif

#if defined(__GNUC__)
#define GENERIC_RUN_INLINE __attribute__((always_inline)) inline
#define GENERIC_RUN_LAMBDA_INLINE __attribute__((always_inline))
#else
#define GENERIC_RUN_INLINE inline
#define GENERIC_RUN_LAMBDA_INLINE
#endif

using namespace generic_scan;

namespace
{

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

// The digits and points of 16 bytes (bit i of a mask for byte i) and the integer that the digits of a
// short decimal form, one way per scan level. Each Mantissa takes q with
// nIntegers digits, a point when nFraction is not 0 and then nFraction digits, nIntegers + nFraction
// below 16, and gives false where it does not take that shape (the general way then converts).

// Without vector instructions.
struct CRunBytesPlain
{
    // White space among 64 bytes.
    static std::uint64_t Spaces(const char* p)
    {
        std::uint64_t nMask = 0;
        for (unsigned i = 0; i < 64; ++i)
            nMask |= static_cast<std::uint64_t>(KindOf(p[i]) == KindSpace) << i;
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
    static bool Mantissa(const char* q, unsigned nIntegers, unsigned nFraction, std::uint64_t& nMantissa)
    {
        std::uint64_t n = 0;
        for (unsigned i = 0; i < nIntegers; ++i)
            n = n * 10 + static_cast<unsigned>(q[i] - '0');
        for (unsigned i = nIntegers + 1; i <= nIntegers + nFraction; ++i)
            n = n * 10 + static_cast<unsigned>(q[i] - '0');
        nMantissa = n;
        return true;
    }
};

#if defined(GENERIC_RUNS_X86)
// With SSE2, which every x86-64 has.
struct CRunBytesSse2
{
    static __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    // Bytes from cBase to cBase + nSpan, unsigned.
    static __m128i Within(__m128i v, char cBase, char nSpan)
    {
        const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(cBase));
        return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(nSpan)), shifted);
    }
    // White space among 64 bytes: tab..CR (9..13), space and NUL.
    static unsigned Spaces16(const char* p)
    {
        const __m128i v = Load(p);
        const __m128i blanks =
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(Within(v, 9, 4), blanks)));
    }
    static std::uint64_t Spaces(const char* p)
    {
        return Spaces16(p) | static_cast<std::uint64_t>(Spaces16(p + 16)) << 16 |
               static_cast<std::uint64_t>(Spaces16(p + 32)) << 32 |
               static_cast<std::uint64_t>(Spaces16(p + 48)) << 48;
    }
    static unsigned Digits(const char* p, unsigned& nPoints)
    {
        const __m128i v = Load(p);
        nPoints = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
        return static_cast<unsigned>(_mm_movemask_epi8(Within(v, '0', 9)));
    }
    // Up to eight digits that end just before pEnd (the eight bytes before it readable): their values,
    // the bytes before them cleared, read as a number with leading zeros, combined in pairs, fours and
    // eights with three multiplications (fast_float's parse_eight_digits_unrolled).
    static std::uint64_t EightDigits(const char* pEnd, unsigned nCount)
    {
        const std::uint64_t x = (Load8(pEnd - 8) & 0x0F0F0F0F0F0F0F0FULL) & (~0ULL << (8 * (8 - nCount)));
        std::uint64_t v = x * 10 + (x >> 8);
        v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
             (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
            32;
        return v & 0xFFFFFFFFULL;
    }
    static bool Mantissa(const char* q, unsigned nIntegers, unsigned nFraction, std::uint64_t& nMantissa)
    {
        static constexpr std::uint64_t s_aPowers[9] = {1,      10,      100,      1000,     10000,
                                                       100000, 1000000, 10000000, 100000000};
        if (nIntegers > 8 || nFraction > 8)
            return false;
        const std::uint64_t nInteger = EightDigits(q + nIntegers, nIntegers);
        nMantissa = nFraction != 0 ? nInteger * s_aPowers[nFraction] +
                                         EightDigits(q + nIntegers + 1 + nFraction, nFraction)
                                   : nInteger;
        return true;
    }
};

// With what comes with AVX2 (SSSE3 and SSE4.1 among it): the digits are moved together and to the end of
// one register by a shuffle, and combined sixteen at a time. Not inlined into code without AVX2; the
// callers that run at this level are compiled for it.
struct CRunBytesAvx2 : CRunBytesSse2
{
    GENERIC_TARGET_AVX2 static inline unsigned Spaces32(const char* p)
    {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i shifted = _mm256_sub_epi8(v, _mm256_set1_epi8(9));
        const __m256i controls = _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(4)), shifted);
        const __m256i blanks = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                                               _mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
        return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(controls, blanks)));
    }
    GENERIC_TARGET_AVX2 static inline std::uint64_t Spaces(const char* p)
    {
        return Spaces32(p) | static_cast<std::uint64_t>(Spaces32(p + 32)) << 32;
    }
    GENERIC_TARGET_AVX2 static inline bool Mantissa(const char* q, unsigned nIntegers, unsigned nFraction,
                                                    std::uint64_t& nMantissa)
    {
        const __m128i values = _mm_and_si128(Load(q), _mm_set1_epi8(0x0F));
        // Byte j of the result takes digit t = j - 16 + D (D digits in all), which stands at t, or at t + 1
        // past the point; a negative t gives 0.
        const int nDigits = static_cast<int>(nIntegers + nFraction);
        __m128i order = _mm_add_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                     _mm_set1_epi8(static_cast<char>(nDigits - 16)));
        order = _mm_sub_epi8(order, _mm_cmpgt_epi8(order, _mm_set1_epi8(static_cast<char>(nIntegers - 1))));
        const __m128i digits = _mm_shuffle_epi8(values, order);
        // Pairs, fours, eights: 10 and 1, 100 and 1, 10000 and 1.
        const __m128i pairs = _mm_maddubs_epi16(digits, _mm_set1_epi16(0x010A));
        const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
        const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours), _mm_set1_epi32(0x00012710));
        nMantissa =
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_cvtsi128_si32(eights))) * 100000000ULL +
            static_cast<std::uint32_t>(_mm_extract_epi32(eights, 1));
        return true;
    }
};
#endif

// Classifies the words of a run, given where each starts and ends in the block: a keyword of the run,
// found by a hash of its text, or a number. A word is read with 16 bytes after its start.
template <class Bytes> class CRunWords
{
public:
    explicit CRunWords(const CRunKeywords& keywords) : m_Keywords(keywords) {}

    // A keyword of the run: its id. Its text with bit 5 of every byte set equals the keyword's only when
    // both are the same letters without regard to case, so no other check is needed.
    GENERIC_RUN_INLINE bool Keyword(const char* pWord, size_t nLength, int& nId) const
    {
        static constexpr std::uint64_t s_aMasks[9] = {0,
                                                      0xFFULL,
                                                      0xFFFFULL,
                                                      0xFFFFFFULL,
                                                      0xFFFFFFFFULL,
                                                      0xFFFFFFFFFFULL,
                                                      0xFFFFFFFFFFFFULL,
                                                      0xFFFFFFFFFFFFFFULL,
                                                      ~0ULL};
        return nLength - 1 < 8 &&
               m_Keywords.Find((Load8(pWord) | 0x2020202020202020ULL) & s_aMasks[nLength], nId);
    }

    // A number, converted as the tokenizer converts it: the common short decimal (at most 15 digits, at
    // most one point with digits on both sides) here, any other word the general way (32 readable bytes
    // are needed there, which the caller checks).
    GENERIC_RUN_INLINE bool Number(const char* pWord, size_t nLength, bool bGeneralReadable,
                                   double& dValue) const
    {
        const char c = *pWord;
        const bool bNegative = c == '-';
        const unsigned nSign = static_cast<unsigned>(bNegative) | static_cast<unsigned>(c == '+');
        const char* const pDigits = pWord + nSign;
        const size_t n = nLength - nSign;
        unsigned nPoints = 0;
        const unsigned nDigits = Bytes::Digits(pDigits, nPoints);
        const unsigned nWhole = (1u << (n & 15)) - 1; // the word's bytes, when fewer than 16
        const unsigned nPoint = nPoints & nWhole;
        const unsigned nIntegers = LowestBit(nPoint | (1u << (n & 15)));
        const unsigned nFraction = (static_cast<unsigned>(n) - nIntegers - 1) & (0u - (nPoint != 0));
        // 1 to 15 digits and points, at most one point, digits before it and, when there is one, after
        // it: tested together, so that the common case takes one branch.
        const bool bShort = (n - 1 < 15) & (((nDigits | nPoint) & nWhole) == nWhole) &
                            ((nPoint & (nPoint - 1)) == 0) & (nIntegers != 0) &
                            ((nPoint == 0) | (nFraction != 0));
        std::uint64_t nMantissa = 0;
        if (bShort && Bytes::Mantissa(pDigits, nIntegers, nFraction, nMantissa) && nMantissa <= (1ULL << 53))
        {
            // The integer of the digits and the power of ten are exact doubles, so the one division is
            // correctly rounded: the value that std::from_chars gives.
            dValue = WithSign(static_cast<double>(nMantissa) / g_dExactPowersOfTen[nFraction], bNegative);
            return true;
        }
        return bGeneralReadable && ParseNumber(pWord, nLength, dValue);
    }

private:
    const CRunKeywords& m_Keywords;
};

} // namespace

namespace
{
// The words after a position of a block, found 64 bytes at a time: a word is a run of bytes that are not
// white space (a bracket or a quote in it makes a word that is no keyword and no number, which ends a
// run, as it should). Every window starts before pSafe, so 80 bytes after its start are readable.
template <class Bytes> class CRunWordsAhead
{
public:
    CRunWordsAhead(const char* p, const char* pSafe) : m_pWindow(p), m_pSafe(pSafe) {}

    // The next word: where it starts and its length; false where none lies wholly in a window.
    GENERIC_RUN_INLINE bool Next(const char*& pWord, size_t& nLength)
    {
        if (m_nStarts == 0 && !Refill(m_pWindow + m_nConsumed))
            return false;
        const unsigned nStart = static_cast<unsigned>(__builtin_ctzll(m_nStarts));
        const unsigned nLast = static_cast<unsigned>(__builtin_ctzll(m_nLasts));
        if (nLast == 63)
        {
            // A word that reaches the window's end may go on: read it from a window that starts with it.
            if (nStart == 0 || !Refill(m_pWindow + nStart))
                return false;
            return Next(pWord, nLength);
        }
        m_nStarts &= m_nStarts - 1;
        m_nLasts &= m_nLasts - 1;
        m_nConsumed = nLast + 1;
        pWord = m_pWindow + nStart;
        nLength = nLast + 1 - nStart;
        return true;
    }

private:
    GENERIC_RUN_INLINE bool Refill(const char* p)
    {
        if (p >= m_pSafe)
            return false;
        const std::uint64_t nWords = ~Bytes::Spaces(p);
        m_pWindow = p;
        m_nConsumed = 0;
        // A word starts where a word byte follows white space (or the window's start: the byte before
        // it is white space or ends the token before), and ends where white space follows it.
        m_nStarts = nWords & ~(nWords << 1);
        m_nLasts = nWords & ~(nWords >> 1);
        return m_nStarts != 0;
    }

    const char* m_pWindow;
    const char* const m_pSafe;
    std::uint64_t m_nStarts = 0;
    std::uint64_t m_nLasts = 0;
    unsigned m_nConsumed = 0;
};
} // namespace

template <class Bytes>
GENERIC_RUN_INLINE size_t CGenericParser::ScanRunStepsWith(CGenericRunStep* pOut, size_t nMax,
                                                           long long nBefore, int nFirstId,
                                                           long long nFirstStart, long long& nLastStart)
{
    const char* const pBlock = m_pBlock;
    // Windows of 64 bytes start before pSafe (80 readable bytes after it: a word of a window is read with
    // 16 bytes after its start).
    const char* const pSafe = pBlock + (m_nBlockLength > 80 ? m_nBlockLength - 80 : 0);
    // Words must end before pLimit.
    const long long nLimit = nBefore - m_nBlockOffset;
    const char* const pLimit =
        nLimit <= 0
            ? pBlock
            : (nLimit >= static_cast<long long>(m_nBlockLength) ? pBlock + m_nBlockLength : pBlock + nLimit);
    // The general conversion needs 32 readable bytes after a word's start.
    const char* const pGeneralReadable = pBlock + (m_nBlockLength > 32 ? m_nBlockLength - 32 : 0);
    const CRunWords<Bytes> words(m_RunKeywords);
    const CGenericRunKeywords& sets = m_RunKeywords.Sets();
    const unsigned long long nAloneIds = sets.m_nAloneIds;
    const unsigned long long nQuietIds = sets.m_nQuietIds;
    const long long nBlockOffset = m_nBlockOffset;
    CRunWordsAhead<Bytes> ahead(pBlock + m_nPosition, pSafe);
    size_t n = 0;

    // The three numbers after a keyword that takes them, into the next step; false when they are not.
    const auto numbers = [&](int nId, long long nKeywordStart) GENERIC_RUN_LAMBDA_INLINE -> bool
    {
        CGenericRunStep& step = pOut[n];
        const char* pWord = nullptr;
        size_t nLength = 0;
        const auto number = [&](double& dValue) GENERIC_RUN_LAMBDA_INLINE -> bool
        {
            return ahead.Next(pWord, nLength) && pWord + nLength < pLimit &&
                   words.Number(pWord, nLength, pWord < pGeneralReadable, dValue);
        };
        if (!number(step.m_dValues[0]) || !number(step.m_dValues[1]) || !number(step.m_dValues[2]))
            return false;
        step.m_nId = nId;
        step.m_nKeywordStart = nKeywordStart;
        step.m_nLastStart = nBlockOffset + (pWord - pBlock);
        nLastStart = step.m_nLastStart;
        ++n;
        return true;
    };

    // The lookahead, already scanned, starts the run.
    if (((nAloneIds >> nFirstId) & 1) != 0)
    {
        nLastStart = nFirstStart;
        if (((nQuietIds >> nFirstId) & 1) == 0)
            pOut[n++] = CGenericRunStep{nFirstId, nFirstStart, nFirstStart, {0.0, 0.0, 0.0}};
    }
    else if (!numbers(nFirstId, nFirstStart))
        return 0;
    while (n < nMax)
    {
        const char* pWord = nullptr;
        size_t nLength = 0;
        int nId = 0;
        if (!ahead.Next(pWord, nLength) || pWord + nLength >= pLimit || !words.Keyword(pWord, nLength, nId))
            break;
        const long long nKeywordStart = nBlockOffset + (pWord - pBlock);
        if (((nAloneIds >> nId) & 1) != 0)
        {
            nLastStart = nKeywordStart;
            if (((nQuietIds >> nId) & 1) == 0)
                pOut[n++] = CGenericRunStep{nId, nKeywordStart, nKeywordStart, {0.0, 0.0, 0.0}};
        }
        else if (!numbers(nId, nKeywordStart))
            break;
    }
    return n;
}

template <>
size_t CGenericParser::ScanRunSteps<ScanPlain>(CGenericRunStep* pOut, size_t nMax, long long nBefore,
                                               int nFirstId, long long nFirstStart, long long& nLastStart)
{
    return ScanRunStepsWith<CRunBytesPlain>(pOut, nMax, nBefore, nFirstId, nFirstStart, nLastStart);
}

#if defined(GENERIC_RUNS_X86)
template <>
size_t CGenericParser::ScanRunSteps<ScanSse2>(CGenericRunStep* pOut, size_t nMax, long long nBefore,
                                              int nFirstId, long long nFirstStart, long long& nLastStart)
{
    return ScanRunStepsWith<CRunBytesSse2>(pOut, nMax, nBefore, nFirstId, nFirstStart, nLastStart);
}

template <>
GENERIC_TARGET_AVX2 size_t CGenericParser::ScanRunSteps<ScanAvx2>(CGenericRunStep* pOut, size_t nMax,
                                                                  long long nBefore, int nFirstId,
                                                                  long long nFirstStart,
                                                                  long long& nLastStart)
{
    return ScanRunStepsWith<CRunBytesAvx2>(pOut, nMax, nBefore, nFirstId, nFirstStart, nLastStart);
}
#endif

size_t CGenericParser::ScanKeywordRun(CGenericRunStep* pOut, size_t nMax, long long nBefore,
                                      const CGenericRunKeywords& sets, long long& nLastStart)
{
    nLastStart = -1;
    if (nMax == 0 || m_bTrackLines || m_eInput == InputNone)
        return 0;
    EnsureLookahead();
    const CGenericToken& next = Next();
    const unsigned nFirstId = next.m_nUserDefinedType;
    if (next.m_eDataType != GenericTokenKeyword || nFirstId >= 64 || next.m_nEndOffset >= nBefore ||
        (((sets.m_nAloneIds | sets.m_nTripleIds) >> nFirstId) & 1) == 0)
        return 0;
    PrepareKeywordIndex();
    if (!m_RunKeywords.IsFor(sets))
        m_RunKeywords.Build(m_pKeywordTable, m_nKeywordTableSize, m_KeywordIndex, sets);
    const long long nFirstStart = next.m_nEndOffset - static_cast<long long>(next.m_nLength);
    size_t nSteps = 0;
    switch (m_eScanLevel)
    {
#if defined(GENERIC_RUNS_X86)
    case ScanAvx2:
        nSteps =
            ScanRunSteps<ScanAvx2>(pOut, nMax, nBefore, static_cast<int>(nFirstId), nFirstStart, nLastStart);
        break;
    case ScanSse2:
        nSteps =
            ScanRunSteps<ScanSse2>(pOut, nMax, nBefore, static_cast<int>(nFirstId), nFirstStart, nLastStart);
        break;
#endif
    default:
        nSteps =
            ScanRunSteps<ScanPlain>(pOut, nMax, nBefore, static_cast<int>(nFirstId), nFirstStart, nLastStart);
        break;
    }
    if (nLastStart >= 0)
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
    // lookahead. The block's list is dropped; the next one starts small, since runs may soon take over
    // again and leave the rest unused.
    m_nPosition = static_cast<size_t>(nStart - m_nBlockOffset);
    m_nSpanNext = m_nSpanCount = 0;
    m_nSpanRoom = 128;
    Current().Clear();
    ScanTokenSlowly(Current());
    Next().Clear();
    ScanTokenSlowly(Next());
    m_bLookaheadReady = true;
    return true;
}
