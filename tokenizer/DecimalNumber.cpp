#include "tokenizer/DecimalNumber.h"

#include <fast_float/fast_float.h>

#include <limits>
#include <system_error>

namespace generic_scan
{

namespace
{

// Recognises a whole word as a decimal number and converts it, once. fast_float (std::from_chars in
// general format, without a locale) takes exactly an optional "-", digits with an optional fraction or a
// fraction alone, and an optional exponent, plus "inf" and "nan" forms; so after a leading "+" is skipped
// (it takes none) it is enough to require a digit or "." after the sign to keep those out
// (ParseNonFinite takes them). It rounds correctly, long mantissas and subnormals included, and gives
// values beyond the range of a double as the infinity of their sign and values too small for one as
// zero of their sign, which is what correct rounding gives (versions that report those as out of range
// set the same values). Hexadecimal text it does not read. pText has at least 32 readable bytes.
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
    double dResult = 0.0;
    const fast_float::from_chars_result result =
        fast_float::from_chars(p, pEnd, dResult, fast_float::chars_format::general);
    if (result.ptr != pEnd || (result.ec != std::errc() && result.ec != std::errc::result_out_of_range))
        return false;
    dValue = dResult;
    return true;
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
