#include "tokenizer/DecimalNumber.h"

#include <charconv>
#include <limits>
#include <system_error>

// libc++ before version 20 (Emscripten's, for one) has no std::from_chars for floating point; there the
// C library's strtod_l converts the few numbers that the short-decimal path leaves, in the "C" locale.
#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 200000
#define GENERIC_DECIMAL_STRTOD 1
#include <algorithm>
#include <cstdlib>
#include <locale.h>
#include <string>
#endif

namespace generic_scan
{

namespace
{

#if defined(GENERIC_DECIMAL_STRTOD)
// What std::from_chars in general format does for the text from p to pEnd, which starts with an
// optional "-" and then a digit or ".": strtod_l rounds correctly too, and gives the infinity or the
// zero (or subnormal) of the number's sign beyond the range of a double. Hexadecimal text, which
// strtod_l reads and from_chars does not, is refused first.
bool ConvertDecimal(const char* p, const char* pEnd, double& dValue)
{
    if (std::find_if(p, pEnd, [](char c) { return c == 'x' || c == 'X'; }) != pEnd)
        return false;
    static const locale_t s_CLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const std::string text(p, pEnd); // strtod_l reads up to a NUL
    char* pStop = nullptr;
    const double dResult = ::strtod_l(text.c_str(), &pStop, s_CLocale);
    if (pStop != text.c_str() + text.size())
        return false;
    dValue = dResult;
    return true;
}
#else
// Tells an underflow from an overflow after std::from_chars reported a decimal number out of range:
// true when the number's decimal order of magnitude is negative (its value is below 1 in size).
// pDigits is the text after any sign, already known to be digits, an optional fraction and an
// optional exponent.
bool IsUnderflow(const char* pDigits, const char* pEnd)
{
    const char* p = pDigits;
    long long nOrder = 0;
    bool bFound = false;
    long long nIntegerDigits = 0;
    for (; p < pEnd && IsDigit(*p); ++p, ++nIntegerDigits)
        if (!bFound && *p != '0')
        {
            bFound = true;
            nOrder = -nIntegerDigits; // corrected by the digit count below
        }
    if (bFound)
        nOrder += nIntegerDigits - 1;
    if (p < pEnd && *p == '.')
        ++p;
    for (long long i = 1; p < pEnd && IsDigit(*p); ++p, ++i)
        if (!bFound && *p != '0')
        {
            bFound = true;
            nOrder = -i;
        }
    long long nExponent = 0;
    bool bExponentNegative = false;
    if (p < pEnd && (*p == 'e' || *p == 'E'))
    {
        ++p;
        if (p < pEnd && (*p == '+' || *p == '-'))
            bExponentNegative = *p++ == '-';
        // Saturate: only the sign and rough size of a huge exponent matter.
        for (; p < pEnd && IsDigit(*p); ++p)
            if (nExponent < 1000000000LL)
                nExponent = nExponent * 10 + (*p - '0');
    }
    if (nOrder > 1000000000LL)
        nOrder = 1000000000LL;
    return bFound && nOrder + (bExponentNegative ? -nExponent : nExponent) < 0;
}
#endif

// Recognises a whole word as a decimal number and converts it, once. std::from_chars in general
// format takes exactly an optional "-", digits with an optional fraction or a fraction alone, and an
// optional exponent, plus "inf" and "nan" forms; so after a leading "+" is skipped (from_chars takes
// none) it is enough to require a digit or "." after the sign to keep those out (ParseNonFinite takes
// them). Values beyond the range of a double are the infinity of their sign, values too small for one
// are zero of their sign, which is what correct rounding gives (from_chars reports both as out of
// range). pText has at least 32 readable bytes.
bool ParseDecimal(const char* pText, size_t nLength, double& dValue)
{
    if (ParseShortDecimalPlain(pText, nLength, dValue))
        return true;
    const char* p = pText;
    const char* const pEnd = pText + nLength;
    if (*p == '+')
        ++p;
    const char* pDigits = p < pEnd && *p == '-' && p == pText ? p + 1 : p;
    if (pDigits == pEnd || !(IsDigit(*pDigits) || *pDigits == '.'))
        return false;
#if defined(GENERIC_DECIMAL_STRTOD)
    return ConvertDecimal(p, pEnd, dValue);
#else
    double dResult = 0.0;
    const std::from_chars_result result = std::from_chars(p, pEnd, dResult, std::chars_format::general);
    if (result.ptr != pEnd)
        return false;
    if (result.ec == std::errc())
    {
        dValue = dResult;
        return true;
    }
    if (result.ec != std::errc::result_out_of_range)
        return false;
    // Beyond the range of a double in either direction: zero or the infinity of the number's sign,
    // which is what rounding to the nearest double gives.
    const double dMagnitude = IsUnderflow(pDigits, pEnd) ? 0.0 : std::numeric_limits<double>::infinity();
    dValue = *p == '-' ? -dMagnitude : dMagnitude;
    return true;
#endif
}

// Non-finite values as C runtimes print them: "inf", "infinity" and "nan" in any case, and the older
// Windows runtimes' "1.#INF", "1.#QNAN", "1.#SNAN" and "1.#IND" followed by any digits ("1.#QNAN0",
// "-1.#IND00"), each with an optional sign. The value is the infinity of that sign, or a quiet NaN with
// that sign. Other words ("infinite", "nanometre") are not numbers.
bool ParseNonFinite(const char* pText, size_t nLength, double& dValue)
{
    const char* p = pText;
    const char* const pEnd = pText + nLength;
    const bool bNegative = p < pEnd && *p == '-';
    if (p < pEnd && (*p == '-' || *p == '+'))
        ++p;
    const size_t nRest = static_cast<size_t>(pEnd - p);
    bool bInfinity = false;
    if ((nRest == 3 && EqualNoCase(p, "INF", 3)) || (nRest == 8 && EqualNoCase(p, "INFINITY", 8)))
        bInfinity = true;
    else if (nRest == 3 && EqualNoCase(p, "NAN", 3))
        bInfinity = false;
    else if (nRest > 3 && std::memcmp(p, "1.#", 3) == 0)
    {
        p += 3;
        static const char* const aSpellings[] = {"INF", "QNAN", "SNAN", "IND"};
        size_t nMatched = 0;
        for (const char* pszSpelling : aSpellings)
        {
            const size_t nSpelling = std::strlen(pszSpelling);
            if (static_cast<size_t>(pEnd - p) >= nSpelling && EqualNoCase(p, pszSpelling, nSpelling))
            {
                nMatched = nSpelling;
                bInfinity = pszSpelling[0] == 'I' && pszSpelling[2] == 'F';
                break;
            }
        }
        if (nMatched == 0)
            return false;
        for (p += nMatched; p < pEnd; ++p)
            if (!IsDigit(*p))
                return false;
    }
    else
        return false;
    const double dMagnitude =
        bInfinity ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    dValue = bNegative ? -dMagnitude : dMagnitude;
    return true;
}

} // namespace

bool ParseNumber(const char* pText, size_t nLength, double& dValue)
{
    const char c = pText[0];
    const bool bDecimal = IsDigit(c) || c == '-' || c == '+' || c == '.';
    if (!bDecimal && FoldAscii(c) != 'I' && FoldAscii(c) != 'N')
        return false;
    return (bDecimal && ParseDecimal(pText, nLength, dValue)) || ParseNonFinite(pText, nLength, dValue);
}

} // namespace generic_scan
