#include "external/tokenizer/ByteScan.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <immintrin.h>
#define GENERIC_X86 1
#endif

namespace generic_scan
{

namespace
{

std::atomic<bool> g_bForcePlain(false);

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

CMasks MasksPlain(const char* p)
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

CMasks MasksSse2(const char* p)
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
__attribute__((target("avx2"))) CMasks MasksAvx2(const char* p)
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
#endif

CMasks MasksOf(ScanLevels eLevel, const char* p)
{
#if defined(GENERIC_X86)
    if (eLevel == ScanAvx2)
        return MasksAvx2(p);
    if (eLevel == ScanSse2)
        return MasksSse2(p);
#endif
    (void)eLevel;
    return MasksPlain(p);
}

} // namespace

ScanLevels CurrentScanLevel()
{
    if (g_bForcePlain.load(std::memory_order_relaxed))
        return ScanPlain;
#if defined(GENERIC_X86)
    static const ScanLevels s_eBest = __builtin_cpu_supports("avx2") ? ScanAvx2 : ScanSse2;
    return s_eBest;
#else
    return ScanPlain;
#endif
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

size_t ScanSpans(ScanLevels eLevel, const char* pBlock, size_t nFrom, size_t nLength, bool bFinal,
                 CSpan* pOut, size_t nRoom, size_t& nStop)
{
    const size_t kNone = static_cast<size_t>(-1);
    size_t nCount = 0;
    size_t nPending = kNone; // the start of a word whose end has not been seen yet
    unsigned long long nWordCarry = 0;
    for (size_t nBase = nFrom; nBase < nLength; nBase += 64)
    {
        // A chunk may hold up to 64 tokens: stop where the next one starts when the list might overflow.
        if (nRoom - nCount < 64)
        {
            nStop = nPending != kNone ? nPending : nBase;
            return nCount;
        }
        const size_t nBytes = nLength - nBase < 64 ? nLength - nBase : 64;
        CMasks masks;
        unsigned long long nValid = ~0ull;
        if (nBytes == 64)
            masks = MasksOf(eLevel, pBlock + nBase);
        else
        {
            // The last bytes, padded with NULs (white space) that end nothing: only valid bits count.
            char aTail[64] = {};
            std::memcpy(aTail, pBlock + nBase, nBytes);
            masks = MasksOf(eLevel, aTail);
            nValid = (1ull << nBytes) - 1;
        }
        const unsigned long long nWord = ~(masks.nSpace | masks.nBracket | masks.nQuote) & nValid;
        const unsigned long long nWordBefore = (nWord << 1) | nWordCarry;
        unsigned long long nStarts = (nWord & ~nWordBefore) | (masks.nBracket & nValid);
        const unsigned long long nEnds = ~nWord & nWordBefore & nValid;
        unsigned long long nStopAt = 0;
        if ((masks.nQuote & nValid) != 0)
        {
            // Nothing from the quote on: it starts a quoted token, which the parser scans.
            const unsigned nQuote = FirstBit(masks.nQuote & nValid);
            nStopAt = 1ull << nQuote;
            nStarts &= nStopAt - 1;
        }
        unsigned long long nEvents = nStarts | nEnds;
        while (nEvents != 0)
        {
            const unsigned nBit = FirstBit(nEvents);
            const unsigned long long nMask = 1ull << nBit;
            nEvents &= nEvents - 1;
            // A word's end comes first where a bracket starts right after it.
            if ((nEnds & nMask) != 0 && nPending != kNone)
            {
                pOut[nCount++] =
                    CSpan{static_cast<std::uint32_t>(nPending), static_cast<std::uint32_t>(nBase + nBit)};
                nPending = kNone;
            }
            if ((nStarts & nMask) != 0)
            {
                if ((masks.nBracket & nMask) != 0)
                    pOut[nCount++] = CSpan{static_cast<std::uint32_t>(nBase + nBit),
                                           static_cast<std::uint32_t>(nBase + nBit + 1)};
                else
                    nPending = nBase + nBit;
            }
        }
        if (nStopAt != 0)
        {
            nStop = nBase + FirstBit(nStopAt);
            return nCount;
        }
        nWordCarry = nWord >> 63;
    }
    if (nPending != kNone && bFinal)
    {
        pOut[nCount++] = CSpan{static_cast<std::uint32_t>(nPending), static_cast<std::uint32_t>(nLength)};
        nPending = kNone;
    }
    nStop = nPending != kNone ? nPending : nLength;
    return nCount;
}

} // namespace generic_scan

void GenericForcePlainScan(bool bPlain)
{
    generic_scan::g_bForcePlain.store(bPlain, std::memory_order_relaxed);
}
