#include "tokenizer/ByteScan.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <immintrin.h>
#define GENERIC_X86 1
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define GENERIC_WASM_SIMD 1
#endif

namespace generic_scan
{

namespace
{

std::atomic<int> g_nFastest(ScanAvx2);

inline unsigned FirstBit(unsigned long long nMask)
{
    return static_cast<unsigned>(__builtin_ctzll(nMask));
}

// The three masks of up to 64 bytes: a bit per white-space byte, per bracket and per double quote.
struct CMasks
{
    unsigned long long nSpace;
    unsigned long long nBracket;
    unsigned long long nQuote;
};

inline CMasks MasksPlain(const char* p)
{
    CMasks masks{0, 0, 0};
    for (unsigned i = 0; i < 64; ++i)
    {
        const unsigned long long nBit = 1ull << i;
        switch (KindOf(p[i]))
        {
        case KindSpace:
            masks.nSpace |= nBit;
            break;
        case KindBracket:
            masks.nBracket |= nBit;
            break;
        case KindQuote:
            masks.nQuote |= nBit;
            break;
        default:
            break;
        }
    }
    return masks;
}

#if defined(GENERIC_X86)
// Sixteen bytes: white space is tab..CR (9..13), space and NUL; "(" and ")" differ in the lowest bit;
// "[", "]" and "{", "}" in bit 5 and then in bits 1 and 2.
inline unsigned SpaceMask16(__m128i v)
{
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(9)); // tab..CR become 0..4
    const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(4)), shifted);
    const __m128i blanks =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(controls, blanks)));
}

inline unsigned BracketMask16(__m128i v)
{
    const __m128i parens = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(1)), _mm_set1_epi8(')'));
    const __m128i folded = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDF)));
    const __m128i squares =
        _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('[')), _mm_cmpeq_epi8(folded, _mm_set1_epi8(']')));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(parens, squares)));
}

inline unsigned QuoteMask16(__m128i v)
{
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
}

inline CMasks MasksSse2(const char* p)
{
    CMasks masks{0, 0, 0};
    for (unsigned i = 0; i < 4; ++i)
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        masks.nSpace |= static_cast<unsigned long long>(SpaceMask16(v)) << (16 * i);
        masks.nBracket |= static_cast<unsigned long long>(BracketMask16(v)) << (16 * i);
        masks.nQuote |= static_cast<unsigned long long>(QuoteMask16(v)) << (16 * i);
    }
    return masks;
}

// The same tests on 32 bytes, for processors with AVX2 (checked at run time).
GENERIC_TARGET_AVX2 inline CMasks MasksAvx2(const char* p)
{
    CMasks masks{0, 0, 0};
    for (unsigned i = 0; i < 2; ++i)
    {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
        const __m256i shifted = _mm256_sub_epi8(v, _mm256_set1_epi8(9));
        const __m256i controls = _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(4)), shifted);
        const __m256i blanks = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                                               _mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
        const __m256i parens =
            _mm256_cmpeq_epi8(_mm256_or_si256(v, _mm256_set1_epi8(1)), _mm256_set1_epi8(')'));
        const __m256i folded = _mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0xDF)));
        const __m256i squares = _mm256_or_si256(_mm256_cmpeq_epi8(folded, _mm256_set1_epi8('[')),
                                                _mm256_cmpeq_epi8(folded, _mm256_set1_epi8(']')));
        const unsigned nShift = 32 * i;
        masks.nSpace |= static_cast<unsigned long long>(
                            static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(controls, blanks))))
                        << nShift;
        masks.nBracket |= static_cast<unsigned long long>(
                              static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(parens, squares))))
                          << nShift;
        masks.nQuote |= static_cast<unsigned long long>(static_cast<unsigned>(
                            _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')))))
                        << nShift;
    }
    return masks;
}
#elif defined(GENERIC_WASM_SIMD)
// The SSE2 tests on WebAssembly's 128-bit vectors, which compare bytes as unsigned numbers themselves.
inline CMasks MasksSimd128(const char* p)
{
    CMasks masks{0, 0, 0};
    for (unsigned i = 0; i < 4; ++i)
    {
        const v128_t v = wasm_v128_load(p + 16 * i);
        const v128_t controls = wasm_u8x16_le(wasm_i8x16_sub(v, wasm_i8x16_splat(9)), wasm_i8x16_splat(4));
        const v128_t blanks =
            wasm_v128_or(wasm_i8x16_eq(v, wasm_i8x16_splat(' ')), wasm_i8x16_eq(v, wasm_i8x16_splat(0)));
        const v128_t parens = wasm_i8x16_eq(wasm_v128_or(v, wasm_i8x16_splat(1)), wasm_i8x16_splat(')'));
        const v128_t folded = wasm_v128_and(v, wasm_i8x16_splat(static_cast<char>(0xDF)));
        const v128_t squares = wasm_v128_or(wasm_i8x16_eq(folded, wasm_i8x16_splat('[')),
                                            wasm_i8x16_eq(folded, wasm_i8x16_splat(']')));
        const unsigned nShift = 16 * i;
        masks.nSpace |= static_cast<unsigned long long>(wasm_i8x16_bitmask(wasm_v128_or(controls, blanks)))
                        << nShift;
        masks.nBracket |= static_cast<unsigned long long>(wasm_i8x16_bitmask(wasm_v128_or(parens, squares)))
                          << nShift;
        masks.nQuote |=
            static_cast<unsigned long long>(wasm_i8x16_bitmask(wasm_i8x16_eq(v, wasm_i8x16_splat('"'))))
            << nShift;
    }
    return masks;
}
#endif

} // namespace

ScanLevels CurrentScanLevel()
{
    ScanLevels eBest = ScanPlain;
#if defined(GENERIC_X86)
    // The AVX2 way is compiled for what comes with AVX2 (GENERIC_TARGET_AVX2): each is checked, since
    // a virtual machine may offer some of them and hide others.
    static const ScanLevels s_eBest = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                              __builtin_cpu_supports("bmi2") &&
                                              __builtin_cpu_supports("popcnt")
                                          ? ScanAvx2
                                          : ScanSse2;
    eBest = s_eBest;
#elif defined(GENERIC_WASM_SIMD)
    eBest = ScanSse2; // the 128-bit vectors, present wherever the module runs
#endif
    const int nFastest = g_nFastest.load(std::memory_order_relaxed);
    return nFastest < static_cast<int>(eBest) ? static_cast<ScanLevels>(nFastest) : eBest;
}

GenericTokenTypes BracketType(char c)
{
    switch (c)
    {
    case '{':
        return GenericTokenOpenBrace;
    case '}':
        return GenericTokenCloseBrace;
    case '[':
        return GenericTokenOpenBracket;
    case ']':
        return GenericTokenCloseBracket;
    case '(':
        return GenericTokenOpenParen;
    default:
        return GenericTokenCloseParen;
    }
}

const char* SkipSpace(const char* p, const char* pEnd)
{
    while (p < pEnd && IsSpace(*p))
        ++p;
    return p;
}

const char* FindWordEnd(const char* p, const char* pEnd)
{
    while (p < pEnd && KindOf(*p) == KindWord)
        ++p;
    return p;
}

namespace
{
// The lowest set bit's position, or 63 for no bit, without a branch.
inline unsigned FirstBitOrLast(unsigned long long nBits)
{
    return FirstBit(nBits | (1ull << 63));
}

// The number of set bits: the instruction where the way has it, else by adding neighbouring bit
// counts (x86-64 has no population count instruction before its later extensions, and the compiler's
// routine is a call).
template <bool bInstruction> inline size_t CountBits(unsigned long long x)
{
    if (bInstruction)
        return static_cast<size_t>(__builtin_popcountll(x));
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<size_t>((x * 0x0101010101010101ull) >> 56);
}

// Appends base + the position of each set bit, in order, to pOut[n...]: the flattening of simdjson,
// four positions per step so that the loop's exit is taken once per four tokens; up to three slots
// past the last position are written too (the lists have room for them).
template <bool bPopCount>
inline void Flatten(unsigned long long nBits, std::uint32_t nBase, std::uint32_t* pOut, size_t& n)
{
    std::uint32_t* p = pOut + n;
    n += CountBits<bPopCount>(nBits);
    while (nBits != 0)
    {
        p[0] = nBase + FirstBit(nBits);
        nBits &= nBits - 1;
        p[1] = nBase + FirstBitOrLast(nBits);
        nBits &= nBits - 1;
        p[2] = nBase + FirstBitOrLast(nBits);
        nBits &= nBits - 1;
        p[3] = nBase + FirstBitOrLast(nBits);
        nBits &= nBits - 1;
        p += 4;
    }
}
// The scan, one copy per way: Masks classifies 64 bytes, bPopCount tells that the way may use the
// population count instruction. Inlined into each way's function, so that the masks are computed in
// line and, in the AVX2 way, the bit operations use the instructions that come with it.
template <CMasks (*Masks)(const char*), bool bPopCount>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline size_t
ScanSpansWith(const char* pBlock, size_t nFrom, size_t nLength, bool bFinal, std::uint32_t* pStarts,
              std::uint32_t* pEnds, size_t nRoom, size_t& nStop)
{
    // Token bytes are word bytes and brackets. A token starts at a token byte after a byte of another
    // kind, at a bracket, and right after one; it ends at the same places seen from its other side. So
    // starts and ends alternate, the k-th start belongs to the k-th end, and each list is made without
    // branching on the tokens.
    size_t nStarts = 0;
    size_t nEnds = 0;
    unsigned long long nTokenCarry = 0;
    unsigned long long nBracketCarry = 0;
    for (size_t nBase = nFrom; nBase < nLength; nBase += 64)
    {
        // A chunk holds up to 64 tokens: stop where the next one starts when the lists might overflow.
        if (nRoom - nStarts < 64)
        {
            nStop = nStarts > nEnds ? pStarts[nEnds] : nBase;
            return nEnds;
        }
        const size_t nBytes = nLength - nBase < 64 ? nLength - nBase : 64;
        CMasks masks;
        unsigned long long nValid = ~0ull;
        if (nBytes == 64)
            masks = Masks(pBlock + nBase);
        else
        {
            // The last bytes, padded with NULs (white space): only the valid bits count.
            char aTail[64] = {};
            std::memcpy(aTail, pBlock + nBase, nBytes);
            masks = Masks(aTail);
            nValid = (1ull << nBytes) - 1;
        }
        const unsigned long long nBracket = masks.nBracket & nValid;
        const unsigned long long nToken = ~(masks.nSpace | masks.nQuote) & nValid;
        const unsigned long long nTokenBefore = (nToken << 1) | nTokenCarry;
        const unsigned long long nBracketBefore = (nBracket << 1) | nBracketCarry;
        unsigned long long nStartBits = nToken & (~nTokenBefore | nBracket | nBracketBefore);
        unsigned long long nEndBits = nTokenBefore & (~nToken | nBracket | nBracketBefore) & nValid;
        const unsigned long long nQuote = masks.nQuote & nValid;
        if (nQuote != 0)
        {
            // Nothing from the first quote on: it starts a quoted token, which the parser scans; a word
            // right before it ends at it.
            const unsigned long long nFirstQuote = nQuote & (0 - nQuote);
            nStartBits &= nFirstQuote - 1;
            nEndBits &= (nFirstQuote - 1) | nFirstQuote;
        }
        const auto nChunk = static_cast<std::uint32_t>(nBase);
        Flatten<bPopCount>(nStartBits, nChunk, pStarts, nStarts);
        Flatten<bPopCount>(nEndBits, nChunk, pEnds, nEnds);
        if (nQuote != 0)
        {
            nStop = nBase + FirstBit(nQuote);
            return nEnds;
        }
        nTokenCarry = nToken >> 63;
        nBracketCarry = nBracket >> 63;
    }
    if (nStarts > nEnds)
    {
        // A word that reaches the block's end: whole only when nothing follows the block.
        if (!bFinal)
        {
            nStop = pStarts[nEnds];
            return nEnds;
        }
        pEnds[nEnds++] = static_cast<std::uint32_t>(nLength);
    }
    nStop = nLength;
    return nEnds;
}

size_t ScanSpansPlain(const char* pBlock, size_t nFrom, size_t nLength, bool bFinal, std::uint32_t* pStarts,
                      std::uint32_t* pEnds, size_t nRoom, size_t& nStop)
{
    return ScanSpansWith<MasksPlain, false>(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
}

#if defined(GENERIC_X86)
size_t ScanSpansSse2(const char* pBlock, size_t nFrom, size_t nLength, bool bFinal, std::uint32_t* pStarts,
                     std::uint32_t* pEnds, size_t nRoom, size_t& nStop)
{
    return ScanSpansWith<MasksSse2, false>(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
}

GENERIC_TARGET_AVX2 size_t ScanSpansAvx2(const char* pBlock, size_t nFrom, size_t nLength, bool bFinal,
                                         std::uint32_t* pStarts, std::uint32_t* pEnds, size_t nRoom,
                                         size_t& nStop)
{
    return ScanSpansWith<MasksAvx2, true>(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
}
#elif defined(GENERIC_WASM_SIMD)
// WebAssembly has the population count among its own instructions.
size_t ScanSpansSimd128(const char* pBlock, size_t nFrom, size_t nLength, bool bFinal, std::uint32_t* pStarts,
                        std::uint32_t* pEnds, size_t nRoom, size_t& nStop)
{
    return ScanSpansWith<MasksSimd128, true>(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
}
#endif

} // namespace

size_t ScanSpans(ScanLevels eLevel, const char* pBlock, size_t nFrom, size_t nLength, bool bFinal,
                 std::uint32_t* pStarts, std::uint32_t* pEnds, size_t nRoom, size_t& nStop)
{
#if defined(GENERIC_X86)
    if (eLevel == ScanAvx2)
        return ScanSpansAvx2(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
    if (eLevel == ScanSse2)
        return ScanSpansSse2(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
#elif defined(GENERIC_WASM_SIMD)
    if (eLevel != ScanPlain)
        return ScanSpansSimd128(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
#endif
    (void)eLevel;
    return ScanSpansPlain(pBlock, nFrom, nLength, bFinal, pStarts, pEnds, nRoom, nStop);
}

} // namespace generic_scan

void GenericLimitScan(GenericScanLevels eFastest)
{
    generic_scan::g_nFastest.store(static_cast<int>(eFastest), std::memory_order_relaxed);
}
