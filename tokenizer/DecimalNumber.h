/// \file
/// The tokenizer's number stage: a word's text to the double it stands for, exactly (correctly
/// rounded, as std::from_chars gives it) and whatever the process locale. Internal to the tokenizer.
///
/// Most numbers of a mesh file are short decimals ("-774.128040"): when the digits without the point
/// form an integer of at most 2^53 and the point stands at most 22 digits from the end, the integer and
/// the power of ten are both exact doubles, so one division gives the correctly rounded value (Clinger's
/// fast path, as fast_float takes it). Eight digits are turned into their value at once with three
/// multiplications (the SWAR technique of fast_float's parse_eight_digits_unrolled). Everything else
/// goes to fast_float, which gives the same correctly rounded values on every platform and in
/// WebAssembly.
#pragma once

#include "tokenizer/ByteScan.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2__))
#include <emmintrin.h>
#define GENERIC_X86_NUMBERS 1
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define GENERIC_WASM_NUMBERS 1
#endif

namespace generic_scan
{

/// Recognises a whole word as a decimal number or a non-finite spelling ("inf", "nan", "1.#QNAN0",
/// ...) and converts it. pText must have at least 32 readable bytes (the token's buffer, or a block
/// with the word well inside it). False for a word that is no number.
bool ParseNumber(const char* pText, size_t nLength, double& dValue);

// Powers of ten that a double holds exactly.
inline constexpr double g_dExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A value of 0 or more with the sign bit set when bNegative (so "-0" gives -0), without a branch.
inline double WithSign(double dMagnitude, bool bNegative)
{
    unsigned long long nBits;
    std::memcpy(&nBits, &dMagnitude, sizeof(nBits));
    nBits |= static_cast<unsigned long long>(bNegative) << 63;
    std::memcpy(&dMagnitude, &nBits, sizeof(nBits));
    return dMagnitude;
}

// The common case of a mesh file, an optional sign and digits with a fraction of at most 22 digits
// ("-774.128040"), converted without std::from_chars: when the digits without the point form an
// integer of at most 2^53, both it and the power of ten are exact doubles, so the one division is
// correctly rounded, the same value that from_chars gives. Anything else (an exponent, more digits,
// "1.", ".5", a stray character) returns false and goes the general way.
#if defined(GENERIC_X86_NUMBERS) || defined(GENERIC_WASM_NUMBERS)
// The value of the eight digits in x (their values 0 to 9, the first in the lowest byte), combined in
// pairs, fours and eights with three multiplications: the SWAR technique of fast_float's
// parse_eight_digits_unrolled.
inline unsigned long long EightDigitValues(unsigned long long x)
{
    x = x * 10 + (x >> 8);
    x = (((x & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
         (((x >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
        32;
    return x & 0xFFFFFFFFULL;
}

// The text after an optional sign, found without a branch (it is as often one as the other): its start,
// with bNegative and its length n set.
inline const char* AfterSign(const char* pText, size_t nLength, bool& bNegative, size_t& n)
{
    bNegative = pText[0] == '-';
    const size_t nSign = static_cast<size_t>(bNegative) | static_cast<size_t>(pText[0] == '+');
    n = nLength - nSign;
    return pText + nSign;
}

// The shape of a short decimal in the n bytes at p (n from 1 to 16), given which of them are digits
// (bit i for byte i): digits with at most one point and digits on both sides of it. nPoint is set to the
// point's position, or n when there is none. 1 for that shape with at most 15 digits, 0 for no number
// of that shape, -1 for more digits than the vector ways take.
inline int ShortDecimalShape(const char* p, size_t n, unsigned nDigits, unsigned& nPoint)
{
    const unsigned nDots = ((1u << n) - 1) & ~nDigits;
    // The one byte that is not a digit must be the point ('.' - '0' wraps to 0xFE, past every digit).
    nPoint = static_cast<unsigned>(__builtin_ctz(nDots | (1u << n)));
    if ((nDots & (nDots - 1)) != 0 || nPoint == 0 || nPoint == n - 1 ||
        (nDots != 0 && static_cast<unsigned char>(p[nPoint]) != '.'))
        return 0;
    return n - (nDots != 0) > 15 ? -1 : 1;
}
#endif

#if defined(GENERIC_X86_NUMBERS)
// ParseShortDecimal for a text with at least 32 readable bytes: an optional sign, then at most 15
// digits with at most one point among them and digits on both sides of it. The sixteen bytes after
// the sign are checked at once; the digits before the point move one byte up onto it, so that all
// the digits stand together in bytes 1 to L of a 16-digit number N (byte 0 being 0). N is then the
// digits' integer m times 10^(15 - L), below 10^15 and so an exact double, and the value m / 10^k
// (k fraction digits) is N / 10^(15 - p), p being the point's position (or the length when there is
// none): one correctly rounded division of exact doubles. 1 for a number, 0 for no number of this
// form, -1 when the text is too long to tell here.
inline int ParseShortDecimalWide(const char* pText, size_t nLength, double& dValue)
{
    bool bNegative;
    size_t n;
    const char* const p = AfterSign(pText, nLength, bNegative, n);
    if (n - 1 >= 16) // also n == 0
        return n == 0 ? 0 : -1;
    const __m128i values =
        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
    const unsigned nDigits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values)));
    unsigned nPoint;
    const int nShape = ShortDecimalShape(p, n, nDigits, nPoint);
    if (nShape != 1)
        return nShape;
    // Bytes before the point, and the digits after it; the point itself and the bytes past the text
    // fall out.
    const __m128i positions = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i before = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(nPoint)), positions);
    const __m128i inText = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)), positions);
    const __m128i after = _mm_andnot_si128(
        _mm_or_si128(before, _mm_cmpeq_epi8(_mm_set1_epi8(static_cast<char>(nPoint)), positions)), inText);
    const __m128i digits =
        _mm_or_si128(_mm_slli_si128(_mm_and_si128(values, before), 1), _mm_and_si128(values, after));
    unsigned long long aHalves[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(aHalves), digits);
    const unsigned long long nValue =
        EightDigitValues(aHalves[0]) * 100000000ULL + EightDigitValues(aHalves[1]);
    dValue = WithSign(static_cast<double>(nValue) / g_dExactPowersOfTen[15 - nPoint], bNegative);
    return 1;
}
#elif defined(GENERIC_WASM_NUMBERS)
// The same on WebAssembly's 128-bit vectors.
inline int ParseShortDecimalWide(const char* pText, size_t nLength, double& dValue)
{
    bool bNegative;
    size_t n;
    const char* const p = AfterSign(pText, nLength, bNegative, n);
    if (n - 1 >= 16) // also n == 0
        return n == 0 ? 0 : -1;
    const v128_t values = wasm_i8x16_sub(wasm_v128_load(p), wasm_i8x16_splat('0'));
    const unsigned nDigits =
        static_cast<unsigned>(wasm_i8x16_bitmask(wasm_u8x16_le(values, wasm_i8x16_splat(9))));
    unsigned nPoint;
    const int nShape = ShortDecimalShape(p, n, nDigits, nPoint);
    if (nShape != 1)
        return nShape;
    const v128_t positions = wasm_i8x16_make(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const v128_t before = wasm_i8x16_gt(wasm_i8x16_splat(static_cast<char>(nPoint)), positions);
    const v128_t inText = wasm_i8x16_gt(wasm_i8x16_splat(static_cast<char>(n)), positions);
    const v128_t after = wasm_v128_andnot(
        inText, wasm_v128_or(before, wasm_i8x16_eq(wasm_i8x16_splat(static_cast<char>(nPoint)), positions)));
    // The digits before the point one byte up: byte 0 from a zero vector, byte i from byte i - 1.
    const v128_t raised = wasm_i8x16_shuffle(wasm_i8x16_splat(0), wasm_v128_and(values, before), 0, 16, 17,
                                             18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
    const v128_t digits = wasm_v128_or(raised, wasm_v128_and(values, after));
    const unsigned long long nValue =
        EightDigitValues(static_cast<unsigned long long>(wasm_i64x2_extract_lane(digits, 0))) * 100000000ULL +
        EightDigitValues(static_cast<unsigned long long>(wasm_i64x2_extract_lane(digits, 1)));
    dValue = WithSign(static_cast<double>(nValue) / g_dExactPowersOfTen[15 - nPoint], bNegative);
    return 1;
}
#endif

inline bool ParseShortDecimalPlain(const char* pText, size_t nLength, double& dValue)
{
    const char* p = pText;
    const char* const pEnd = pText + nLength;
    const bool bNegative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (pEnd - p > 19)
        return false; // 19 digits always fit the 64-bit accumulator; more might not
    unsigned long long nMantissa = 0;
    const char* const pIntegerStart = p;
    while (p < pEnd && IsDigit(*p))
        nMantissa = nMantissa * 10 + static_cast<unsigned>(*p++ - '0');
    if (p == pIntegerStart)
        return false;
    long nFraction = 0;
    if (p < pEnd)
    {
        if (*p != '.')
            return false;
        const char* const pFractionStart = ++p;
        while (p < pEnd && IsDigit(*p))
            nMantissa = nMantissa * 10 + static_cast<unsigned>(*p++ - '0');
        nFraction = p - pFractionStart;
        if (p != pEnd || nFraction == 0)
            return false;
    }
    if (nMantissa > (1ULL << 53) || nFraction > 22)
        return false;
    const double dResult = static_cast<double>(nMantissa) / g_dExactPowersOfTen[nFraction];
    dValue = bNegative ? -dResult : dResult;
    return true;
}

/// The fast path alone, for the common short decimal: 1 for a number it converted, 0 for a word that is
/// no short decimal (not even a number of this form), -1 when it cannot tell (ParseNumber can). pText
/// must have 32 readable bytes; bVector selects the vector form (SSE2, or WebAssembly's SIMD128).
inline int ParseShortDecimal(const char* pText, size_t nLength, bool bVector, double& dValue)
{
#if defined(GENERIC_X86_NUMBERS) || defined(GENERIC_WASM_NUMBERS)
    if (bVector)
        return ParseShortDecimalWide(pText, nLength, dValue);
#endif
    (void)bVector;
    return ParseShortDecimalPlain(pText, nLength, dValue) ? 1 : -1;
}

} // namespace generic_scan
