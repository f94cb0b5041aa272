// Keyword runs: the common lines of a mesh file ("normal x y z", "vertex x y z" and the keywords around
// them) read straight from the block a word at a time, each number found and converted in one pass and
// each keyword found by a hash of its text, for a reader that needs no more of them than their keywords
// and numbers. Anything else ends the run, for the general readers to take.
#include "tokenizer/GenericParser.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/DecimalNumber.h"
#include "tokenizer/ReadAhead.h"
#include "tokenizer/RunScan.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <immintrin.h>
#define GENERIC_RUNS_X86 1
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define GENERIC_RUNS_WASM_SIMD 1
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

// A word of 1 to 8 bytes as the keyword tables hold it: its bytes with bit 5 set (equal for the same
// letters without regard to case), the bytes past its end cleared. Reads 8 bytes from p.
inline std::uint64_t KeywordKey(const char* p, size_t nLength)
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
    return (Load8(p) | 0x2020202020202020ULL) & s_aMasks[nLength];
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

// The digits' integer without vector instructions but eight digits at a time, for the ways whose vectors
// have no multiplication of bytes that adds neighbours (SSE2, WebAssembly's SIMD128). It reads the 16
// bytes from the first digit on, as Digits does, and nothing before them: a number may start the block.
struct CRunMantissaSwar
{
    // The value of up to eight digits in the low nCount bytes of x (the first digit lowest): moved up so
    // that zeros stand before them, combined in pairs, fours and eights with three multiplications
    // (fast_float's parse_eight_digits_unrolled).
    static std::uint64_t EightDigits(std::uint64_t x, unsigned nCount)
    {
        x = (x & 0x0F0F0F0F0F0F0F0FULL) << (8 * (8 - nCount));
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
        const std::uint64_t nLow = Load8(q);
        const std::uint64_t nInteger = EightDigits(nLow, nIntegers);
        if (nFraction == 0)
        {
            nMantissa = nInteger;
            return true;
        }
        // The fraction's bytes from the 16, starting after the point (at most 15 bytes in all, so a
        // fraction after eight integer digits ends within them).
        const std::uint64_t nHigh = Load8(q + 8);
        const unsigned nAt = nIntegers + 1;
        const std::uint64_t nFractionBytes =
            nAt < 8 ? (nLow >> (8 * nAt)) | (nHigh << (64 - 8 * nAt)) : nHigh >> (8 * (nAt - 8));
        nMantissa = nInteger * s_aPowers[nFraction] + EightDigits(nFractionBytes, nFraction);
        return true;
    }
};

#if defined(GENERIC_RUNS_X86)
// With SSE2, which every x86-64 has.
struct CRunBytesSse2 : CRunMantissaSwar
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
    // Sixteen copies of a byte, kept in memory so that the compiler reads them as operands rather than
    // building them anew at every use.
    struct alignas(16) CBytes16
    {
        unsigned char m_aBytes[16];
    };
    static __m128i Copies(const CBytes16& bytes)
    {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(&bytes));
    }
    static unsigned Digits(const char* p, unsigned& nPoints)
    {
        static const CBytes16 s_Points = {
            {'.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'}};
        static const CBytes16 s_Zeros = {
            {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'}};
        static const CBytes16 s_Nines = {{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}};
        const __m128i v = Load(p);
        nPoints = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, Copies(s_Points))));
        const __m128i values = _mm_sub_epi8(v, Copies(s_Zeros));
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(values, Copies(s_Nines)), values)));
    }
};

// With what comes with AVX2 (SSSE3 and SSE4.1 among it): the digits are moved together and to the end of
// one register by a shuffle, and combined sixteen at a time. Not inlined into code without AVX2; the
// callers that run at this level are compiled for it.
struct CRunBytesAvx2 : CRunBytesSse2
{
    // White space of 32 bytes: tab..CR (9..13), space and NUL; the constants are read from memory.
    struct alignas(32) CBytes32
    {
        unsigned char m_aBytes[32];
    };
    GENERIC_TARGET_AVX2 static inline unsigned Spaces32(const char* p)
    {
        static const CBytes32 s_Tabs = {
            {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}};
        static const CBytes32 s_Fours = {
            {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}};
        static const CBytes32 s_Blanks = {{' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}};
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i shifted =
            _mm256_sub_epi8(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(&s_Tabs)));
        const __m256i controls = _mm256_cmpeq_epi8(
            _mm256_min_epu8(shifted, _mm256_load_si256(reinterpret_cast<const __m256i*>(&s_Fours))), shifted);
        const __m256i blanks = _mm256_or_si256(
            _mm256_cmpeq_epi8(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(&s_Blanks))),
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
        static const CBytes16 s_Low = {{15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15}};
        // Byte j of the result takes digit t = j - 16 + D (D digits in all), which stands at t, or at t + 1
        // past the point; a negative t gives 0. The starting order, for each D, is that of 16 bytes from
        // the table at 16 - D.
        static const unsigned char s_aOrders[32] = {
            0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
            0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15};
        const __m128i values = _mm_and_si128(Load(q), Copies(s_Low));
        __m128i order = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_aOrders + nIntegers + nFraction));
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
#elif defined(GENERIC_RUNS_WASM_SIMD)
// With WebAssembly's 128-bit vectors: the SSE2 way's tests, the bytes compared as unsigned numbers.
struct CRunBytesSimd128 : CRunMantissaSwar
{
    // White space of 16 bytes: tab..CR (9..13), space and NUL.
    static unsigned Spaces16(const char* p)
    {
        const v128_t v = wasm_v128_load(p);
        const v128_t controls = wasm_u8x16_le(wasm_i8x16_sub(v, wasm_i8x16_splat(9)), wasm_i8x16_splat(4));
        const v128_t blanks =
            wasm_v128_or(wasm_i8x16_eq(v, wasm_i8x16_splat(' ')), wasm_i8x16_eq(v, wasm_i8x16_splat(0)));
        return static_cast<unsigned>(wasm_i8x16_bitmask(wasm_v128_or(controls, blanks)));
    }
    static std::uint64_t Spaces(const char* p)
    {
        return Spaces16(p) | static_cast<std::uint64_t>(Spaces16(p + 16)) << 16 |
               static_cast<std::uint64_t>(Spaces16(p + 32)) << 32 |
               static_cast<std::uint64_t>(Spaces16(p + 48)) << 48;
    }
    static unsigned Digits(const char* p, unsigned& nPoints)
    {
        const v128_t v = wasm_v128_load(p);
        nPoints = static_cast<unsigned>(wasm_i8x16_bitmask(wasm_i8x16_eq(v, wasm_i8x16_splat('.'))));
        return static_cast<unsigned>(
            wasm_i8x16_bitmask(wasm_u8x16_le(wasm_i8x16_sub(v, wasm_i8x16_splat('0')), wasm_i8x16_splat(9))));
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
        return nLength - 1 < 8 && m_Keywords.Find(KeywordKey(pWord, nLength), nId);
    }

    // A number, converted as the tokenizer converts it: the common short decimal (at most 15 digits, at
    // most one point with digits on both sides) here, any other word the general way (32 readable bytes
    // are needed there, which the caller checks).
    GENERIC_RUN_INLINE bool Number(const char* pWord, size_t nLength, bool bGeneralReadable,
                                   double& dValue) const
    {
        const unsigned char c = static_cast<unsigned char>(*pWord);
        const bool bNegative = c == '-';
        const unsigned nSign = ((c - '+') & 0xFD) == 0; // "+" or "-"
        const char* const pDigits = pWord + nSign;
        const unsigned n = static_cast<unsigned>(nLength) - nSign;
        unsigned nPoints = 0;
        const unsigned nDigits = Bytes::Digits(pDigits, nPoints);
        const unsigned nWhole = (1u << (n & 15)) - 1; // the word's bytes, when fewer than 16
        const unsigned nPoint = nPoints & nWhole;
        // 1 to 15 digits and points, at most one point, and that neither first nor last: tested
        // together, so that the common case takes one branch.
        const bool bShort = (n - 1 < 15) & (((nDigits | nPoints) & nWhole) == nWhole) &
                            ((nPoint & (nPoint - 1)) == 0) &
                            ((nPoint & (1u | (nWhole ^ (nWhole >> 1)))) == 0);
        if (bShort)
        {
            const unsigned nIntegers = LowestBit(nPoint | (1u << n));
            const unsigned nFraction = nPoint != 0 ? n - nIntegers - 1 : 0;
            std::uint64_t nMantissa = 0;
            if (Bytes::Mantissa(pDigits, nIntegers, nFraction, nMantissa) && nMantissa <= (1ULL << 53))
            {
                // The integer of the digits and the power of ten are exact doubles, so the one division
                // is correctly rounded: the value that std::from_chars gives.
                dValue = WithSign(static_cast<double>(nMantissa) / g_dExactPowersOfTen[nFraction], bNegative);
                return true;
            }
        }
        return bGeneralReadable && ParseNumber(pWord, nLength, dValue);
    }

private:
    const CRunKeywords& m_Keywords;
};

} // namespace

namespace
{
// The words after a position of a buffer, found 64 bytes at a time: a word is a run of bytes that are
// not white space (a bracket or a quote in it makes a word that is no keyword and no number, which ends a
// run, as it should). Every window starts before pSafe, so 80 bytes after its start are readable.
template <class Bytes> class CRunWordsAhead
{
public:
    // From p on (the byte before it ends the token before, so a word byte at p starts a word).
    CRunWordsAhead(const char* p, const char* pSafe) : m_pChunk(p - 64), m_pSafe(pSafe) {}

    // The next word: where it starts and its length; false where one goes past pSafe's chunk.
    GENERIC_RUN_INLINE bool Next(const char*& pWord, size_t& nLength)
    {
        while (m_nStarts == 0)
            if (!Advance())
                return false;
        pWord = m_pChunk + __builtin_ctzll(m_nStarts);
        m_nStarts &= m_nStarts - 1;
        // A word's end is in its chunk, or in a chunk after it, where no word starts before it ends.
        while (m_nLasts == 0)
            if (!Advance())
                return false;
        nLength = static_cast<size_t>(m_pChunk + __builtin_ctzll(m_nLasts) + 1 - pWord);
        m_nLasts &= m_nLasts - 1;
        return true;
    }

private:
    // The next 64 bytes: a word starts where a word byte follows white space, and ends where white space
    // follows it (the byte after the chunk told too).
    GENERIC_RUN_INLINE bool Advance()
    {
        m_pChunk += 64;
        if (m_pChunk >= m_pSafe)
            return false;
        const std::uint64_t nWords = ~Bytes::Spaces(m_pChunk);
        const std::uint64_t nWordAfter = KindOf(m_pChunk[64]) != KindSpace;
        m_nStarts = nWords & ~((nWords << 1) | m_nCarry);
        m_nLasts = nWords & ~((nWords >> 1) | (nWordAfter << 63));
        m_nCarry = nWords >> 63;
        return true;
    }

    const char* m_pChunk;
    const char* const m_pSafe;
    std::uint64_t m_nStarts = 0;
    std::uint64_t m_nLasts = 0;
    std::uint64_t m_nCarry = 0;
};

template <class Bytes>
GENERIC_RUN_INLINE CRunEnd ScanRunWith(const CRunSpan& span, const CRunKeywords& keywords, int nFirstId,
                                       const char* pFirst, const char* pAfterFirst, CGenericRunStep* pOut,
                                       size_t nMax)
{
    const char* const pBuffer = span.pBuffer;
    const long long nOffset = span.nOffset;
    const char* const pLimit = span.pLimit;
    const char* const pGeneralReadable = span.pGeneralReadable;
    const CRunWords<Bytes> words(keywords);
    const CGenericRunKeywords& sets = keywords.Sets();
    const unsigned long long nAloneIds = sets.m_nAloneIds;
    const unsigned long long nQuietIds = sets.m_nQuietIds;
    CRunWordsAhead<Bytes> ahead(pAfterFirst, span.pSafe);
    CRunEnd end = {0, nullptr, nullptr};

    // The keyword, with the three numbers after it when it takes them; false, with nothing taken, when
    // they do not follow or no room is left for its step.
    const auto step = [&](int nId, const char* pKeyword, const char* pKeywordEnd)
                          GENERIC_RUN_LAMBDA_INLINE -> bool
    {
        if (((nQuietIds >> nId) & 1) != 0)
        {
            end.pLastStart = pKeyword;
            end.pEnd = pKeywordEnd;
            return true;
        }
        if (end.nSteps == nMax)
            return false;
        CGenericRunStep& out = pOut[end.nSteps];
        out.m_nId = nId;
        out.m_nKeywordStart = nOffset + (pKeyword - pBuffer);
        if (((nAloneIds >> nId) & 1) != 0)
        {
            out.m_nLastStart = out.m_nKeywordStart;
            out.m_nLastEnd = nOffset + (pKeywordEnd - pBuffer);
            end.pLastStart = pKeyword;
            end.pEnd = pKeywordEnd;
            ++end.nSteps;
            return true;
        }
        const char* pWord = nullptr;
        size_t nLength = 0;
        const auto number = [&](double& dValue) GENERIC_RUN_LAMBDA_INLINE -> bool
        {
            return ahead.Next(pWord, nLength) && pWord + nLength < pLimit &&
                   words.Number(pWord, nLength, pWord < pGeneralReadable, dValue);
        };
        if (!number(out.m_dValues[0]) || !number(out.m_dValues[1]) || !number(out.m_dValues[2]))
            return false;
        out.m_nLastStart = nOffset + (pWord - pBuffer);
        out.m_nLastEnd = out.m_nLastStart + static_cast<long long>(nLength);
        end.pLastStart = pWord;
        end.pEnd = pWord + nLength;
        ++end.nSteps;
        return true;
    };

    if (!step(nFirstId, pFirst, pAfterFirst))
        return end;
    for (;;)
    {
        const char* pWord = nullptr;
        size_t nLength = 0;
        int nId = 0;
        if (!ahead.Next(pWord, nLength) || pWord + nLength >= pLimit || !words.Keyword(pWord, nLength, nId) ||
            !step(nId, pWord, pWord + nLength))
            return end;
    }
}

CRunEnd ScanRunPlain(const CRunSpan& span, const CRunKeywords& keywords, int nFirstId, const char* pFirst,
                     const char* pAfterFirst, CGenericRunStep* pOut, size_t nMax)
{
    return ScanRunWith<CRunBytesPlain>(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
}

#if defined(GENERIC_RUNS_X86)
CRunEnd ScanRunSse2(const CRunSpan& span, const CRunKeywords& keywords, int nFirstId, const char* pFirst,
                    const char* pAfterFirst, CGenericRunStep* pOut, size_t nMax)
{
    return ScanRunWith<CRunBytesSse2>(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
}

GENERIC_TARGET_AVX2 CRunEnd ScanRunAvx2(const CRunSpan& span, const CRunKeywords& keywords, int nFirstId,
                                        const char* pFirst, const char* pAfterFirst, CGenericRunStep* pOut,
                                        size_t nMax)
{
    return ScanRunWith<CRunBytesAvx2>(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
}
#elif defined(GENERIC_RUNS_WASM_SIMD)
CRunEnd ScanRunSimd128(const CRunSpan& span, const CRunKeywords& keywords, int nFirstId, const char* pFirst,
                       const char* pAfterFirst, CGenericRunStep* pOut, size_t nMax)
{
    return ScanRunWith<CRunBytesSimd128>(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
}
#endif

} // namespace

CRunEnd generic_scan::ScanRun(ScanLevels eLevel, const CRunSpan& span, const CRunKeywords& keywords,
                              int nFirstId, const char* pFirst, const char* pAfterFirst,
                              CGenericRunStep* pOut, size_t nMax)
{
#if defined(GENERIC_RUNS_X86)
    if (eLevel == ScanAvx2)
        return ScanRunAvx2(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
    if (eLevel == ScanSse2)
        return ScanRunSse2(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
#elif defined(GENERIC_RUNS_WASM_SIMD)
    if (eLevel != ScanPlain)
        return ScanRunSimd128(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
#endif
    (void)eLevel;
    return ScanRunPlain(span, keywords, nFirstId, pFirst, pAfterFirst, pOut, nMax);
}

void CPieceRuns::Grow(size_t nHint)
{
    const size_t nCapacity = m_nCapacity == 0 ? (nHint < 1024 ? 1024 : nHint) : m_nCapacity * 2;
    std::unique_ptr<CGenericRunStep[]> pSteps(new CGenericRunStep[nCapacity]);
    if (m_nSteps > 0)
        std::memcpy(static_cast<void*>(pSteps.get()), m_pSteps.get(), m_nSteps * sizeof(CGenericRunStep));
    m_pSteps = std::move(pSteps);
    m_nCapacity = nCapacity;
}

void generic_scan::ScanPieceRuns(ScanLevels eLevel, const CRunSpan& span, const CRunKeywords& keywords,
                                 const char* pFrom, const char* pTo, const char* pBufferEnd, bool bInputEnds,
                                 CPieceRuns& runs)
{
    const CGenericRunKeywords& sets = keywords.Sets();
    const unsigned long long nRunIds = sets.m_nAloneIds | sets.m_nTripleIds;
    // The run keyword that is the word [q, r), with its id; false for any other word (or one too near
    // the bytes' end).
    const auto runKeyword = [&](const char* q, const char* r, int& nId) -> bool
    {
        const size_t nLength = static_cast<size_t>(r - q);
        return nLength - 1 < 8 && q < span.pSafe && r < span.pLimit &&
               keywords.Find(KeywordKey(q, nLength), nId) && ((nRunIds >> nId) & 1) != 0;
    };
    const char* p = pFrom;
    for (;;)
    {
        // The tokens as the tokenizer finds them: white space, then a bracket, a quoted text (to its
        // closing quote or up to a line end) or a word.
        while (p < pBufferEnd && KindOf(*p) == KindSpace)
            ++p;
        if (p >= pTo || p >= pBufferEnd)
            return;
        const unsigned char nKind = KindOf(*p);
        if (nKind == KindBracket)
        {
            ++p;
            continue;
        }
        if (nKind == KindQuote)
        {
            const char* q = p + 1;
            while (q < pBufferEnd && *q != '"' && *q != '\r' && *q != '\n')
                ++q;
            if (q >= pBufferEnd && !bInputEnds)
                return;
            p = q < pBufferEnd && *q == '"' ? q + 1 : q;
            continue;
        }
        const char* const pWord = p;
        while (p < pBufferEnd && KindOf(*p) == KindWord)
            ++p;
        if (p >= pBufferEnd && !bInputEnds)
            return;
        int nId = 0;
        if (!runKeyword(pWord, p, nId))
            continue;
        // The run, as far as the room for its steps goes, then on from its last token with more room:
        // the keyword after it starts the rest, found again the way the run found it.
        const std::uint32_t nRunFirst = static_cast<std::uint32_t>(runs.m_nSteps);
        const char* pFirst = pWord;
        const char* pAfterFirst = p;
        const char* pLastStart = nullptr;
        const char* pLastEnd = nullptr;
        for (;;)
        {
            // Room for a step per 40 bytes of the piece at first: mesh files take about 50.
            if (runs.m_nSteps == runs.m_nCapacity)
                runs.Grow(static_cast<size_t>(pTo - pFrom) / 40);
            const CRunEnd end =
                ScanRun(eLevel, span, keywords, nId, pFirst, pAfterFirst, runs.m_pSteps.get() + runs.m_nSteps,
                        runs.m_nCapacity - runs.m_nSteps);
            if (end.pLastStart == nullptr)
                break;
            runs.m_nSteps += end.nSteps;
            pLastStart = end.pLastStart;
            pLastEnd = end.pEnd;
            if (runs.m_nSteps < runs.m_nCapacity)
                break;
            const char* q = pLastEnd;
            while (q < span.pSafe && KindOf(*q) == KindSpace)
                ++q;
            const char* r = q;
            while (r < pBufferEnd && KindOf(*r) == KindWord)
                ++r;
            if (q >= pTo || !runKeyword(q, r, nId))
                break;
            pFirst = q;
            pAfterFirst = r;
        }
        if (pLastStart == nullptr)
            continue;
        runs.m_Runs.push_back(CPieceRuns::Run{nRunFirst, static_cast<std::uint32_t>(runs.m_nSteps),
                                              span.nOffset + (pLastStart - span.pBuffer),
                                              span.nOffset + (pLastEnd - span.pBuffer)});
        p = pLastEnd;
    }
}

bool CGenericParser::ScanKeywordRun(CGenericRun& run, long long nBefore, const CGenericRunKeywords& sets)
{
    run = CGenericRun{nullptr, 0, -1};
    if (m_bTrackLines || m_eInput == InputNone)
        return false;
    EnsureLookahead();
    const CGenericToken& next = Next();
    const unsigned nFirstId = next.m_nUserDefinedType;
    if (next.m_eDataType != GenericTokenKeyword || nFirstId >= 64 || next.m_nEndOffset >= nBefore ||
        (((sets.m_nAloneIds | sets.m_nTripleIds) >> nFirstId) & 1) == 0)
        return false;
    PrepareKeywordIndex();
    if (!m_RunKeywords.IsFor(sets))
        m_RunKeywords.Build(m_pKeywordTable, m_nKeywordTableSize, m_KeywordIndex, sets);
    const long long nFirstStart = next.m_nEndOffset - static_cast<long long>(next.m_nLength);
    if (!m_bReadAheadConsidered && m_nReadAheadThreads != 1)
        StartReadAhead();
    if (m_pReadAhead && m_pReadAhead->FindRun(nFirstStart, nBefore, m_RunKeywords, run))
    {
        RememberRun();
        return true;
    }
    if (!m_pRunSteps)
        m_pRunSteps.reset(new CGenericRunStep[kRunSteps]);
    // The run is read from the block, from the lookahead on: windows of 64 bytes start before pSafe (80
    // readable bytes after it); its words end before the report's offset.
    const char* const pBlock = m_pBlock;
    const long long nLimit = nBefore - m_nBlockOffset;
    const CRunSpan span = {
        pBlock, m_nBlockOffset, pBlock + (m_nBlockLength > 80 ? m_nBlockLength - 80 : 0),
        nLimit <= 0
            ? pBlock
            : (nLimit >= static_cast<long long>(m_nBlockLength) ? pBlock + m_nBlockLength : pBlock + nLimit),
        pBlock + (m_nBlockLength > 32 ? m_nBlockLength - 32 : 0)};
    // The lookahead's text is the token's own; the run reads on from the position after it. While
    // reading ahead, the parser reads only a few steps itself before it looks for the rest there.
    const CRunEnd end = ScanRun(m_eScanLevel, span, m_RunKeywords, static_cast<int>(nFirstId),
                                pBlock + (nFirstStart - m_nBlockOffset), pBlock + m_nPosition,
                                m_pRunSteps.get(), m_pReadAhead ? 16 : kRunSteps);
    if (end.pLastStart == nullptr)
        return false;
    run = CGenericRun{m_pRunSteps.get(), end.nSteps, m_nBlockOffset + (end.pLastStart - pBlock)};
    RememberRun();
    return true;
}

void CGenericParser::RememberRun()
{
    m_nRunBlockOffset = m_nBlockOffset;
    m_nRunSerial = m_nInputSerial;
    m_nRunPosition = m_nPosition;
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
    if (nStart < m_nBlockOffset + static_cast<long long>(m_nPosition))
        return false;
    if (nStart >= m_nBlockOffset + static_cast<long long>(m_nBlockLength))
    {
        // A run read ahead goes on past the block: the reader moves to the block that holds the token,
        // where a reading from the start would have it (blocks lie at multiples of the block size), which
        // the read-ahead lends without reading it again.
        const long long nBlockSize = static_cast<long long>(m_FileInterface.GetBlockSize());
        const long long nBlockStart = nStart - nStart % nBlockSize;
        if (m_eInput != InputFile || !m_FileInterface.SeekToOffset(nBlockStart) ||
            !m_FileInterface.ReadNextBlockFromFile() || m_FileInterface.GetBlockOffset() != nBlockStart ||
            static_cast<long long>(m_FileInterface.GetBlockLength()) <= nStart - nBlockStart)
        {
            // Not where the run said: the input ends here.
            m_pBlock = s_szEmptyBlock;
            m_nBlockLength = 0;
            m_nBlockOffset = nStart;
            m_nPosition = 0;
            m_bInputEnded = true;
            m_bReadFailed = m_bReadFailed || m_FileInterface.GetSystemError() != 0;
            m_nSpanNext = m_nSpanCount = 0;
            Current().Clear();
            ScanTokenSlowly(Current());
            Next().Clear();
            MakeEndToken(Next());
            m_bLookaheadReady = true;
            return false;
        }
        m_pBlock = m_FileInterface.GetBlockData();
        m_nBlockLength = m_FileInterface.GetBlockLength();
        m_nBlockOffset = nBlockStart;
        m_bInputEnded = false;
    }
    // The token becomes current, scanned again from where it starts, and the token after it the
    // lookahead. The block's list is dropped, and the next tokens are scanned one by one (ScanToken),
    // since runs may soon take over again.
    m_nPosition = static_cast<size_t>(nStart - m_nBlockOffset);
    m_nSpanNext = m_nSpanCount = 0;
    m_nSlowTokens = 8;
    Current().Clear();
    ScanTokenSlowly(Current());
    Next().Clear();
    ScanTokenSlowly(Next());
    m_bLookaheadReady = true;
    return true;
}
