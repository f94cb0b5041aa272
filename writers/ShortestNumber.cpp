#include "writers/ShortestNumber.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace
{

// The "C" locale for this thread while it lives, so that printf and strtod use "." whatever the
// process locale is.
class CCLocaleScope
{
public:
    CCLocaleScope() : m_Previous(::uselocale(CLocale())) {}
    ~CCLocaleScope() { ::uselocale(m_Previous); }
    CCLocaleScope(const CCLocaleScope&) = delete;
    CCLocaleScope& operator=(const CCLocaleScope&) = delete;

private:
    static locale_t CLocale()
    {
        static const locale_t s_Locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        return s_Locale;
    }
    locale_t m_Previous;
};

// A positive decimal: nDigits significant digits (the first not 0) and the power of ten of the first.
struct CDecimal
{
    char m_szDigits[24];
    int m_nDigits;
    int m_nExponent;
};

// The value (positive) correctly rounded to nDigits significant digits, as printf rounds.
CDecimal RoundTo(double d, int nDigits)
{
    char szText[48];
    std::snprintf(szText, sizeof(szText), "%.*e", nDigits - 1, d);
    CDecimal decimal{};
    const char* p = szText;
    for (; *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            decimal.m_szDigits[decimal.m_nDigits++] = *p;
    decimal.m_nExponent = std::atoi(p + 1);
    return decimal;
}

// The next decimal of as many digits above (bUp) or below.
CDecimal Step(CDecimal decimal, bool bUp)
{
    int i = decimal.m_nDigits - 1;
    for (; i >= 0 && decimal.m_szDigits[i] == (bUp ? '9' : '0'); --i)
        decimal.m_szDigits[i] = bUp ? '0' : '9';
    if (i >= 0)
        decimal.m_szDigits[i] = static_cast<char>(decimal.m_szDigits[i] + (bUp ? 1 : -1));
    if (bUp && i < 0)
    {
        // 99..9 became 00..0: the next is 10..0 at the next power of ten.
        decimal.m_szDigits[0] = '1';
        ++decimal.m_nExponent;
    }
    else if (!bUp && decimal.m_szDigits[0] == '0')
    {
        // 10..0 became 09..9: the digits are 99..9 at the power below.
        decimal.m_szDigits[0] = '9';
        --decimal.m_nExponent;
    }
    return decimal;
}

template <class Value> Value ReadBack(const CDecimal& decimal)
{
    char szText[48];
    std::snprintf(szText, sizeof(szText), "%c.%se%d", decimal.m_szDigits[0],
                  decimal.m_nDigits > 1 ? decimal.m_szDigits + 1 : "0", decimal.m_nExponent);
    if (sizeof(Value) == sizeof(float))
        return static_cast<Value>(std::strtof(szText, nullptr));
    return static_cast<Value>(std::strtod(szText, nullptr));
}

// A decimal of nDigits digits that reads back to the value, if there is one: the nearest such decimal
// when it does, else the one next to it on the value's other side, the only other candidate.
template <class Value> bool FindDigits(Value v, int nDigits, CDecimal& decimal)
{
    decimal = RoundTo(static_cast<double>(v), nDigits);
    const Value back = ReadBack<Value>(decimal);
    if (back == v)
        return true;
    decimal = Step(decimal, back < v);
    return ReadBack<Value>(decimal) == v;
}

// Fixed or scientific notation, whichever is shorter (fixed on a tie), as std::to_chars chooses. A
// whole number in fixed notation is written with every digit of its exact value (dMagnitude), as
// std::to_chars writes it, not with the shortest digits followed by zeros.
size_t Format(bool bNegative, const CDecimal& decimal, double dMagnitude, char* pOut)
{
    const int n = decimal.m_nDigits;
    const int e = decimal.m_nExponent;
    const char* pDigits = decimal.m_szDigits;
    const int nMagnitude = e < 0 ? -e : e;
    // "ddd" (every digit of a whole number), "dd.d" or "0.00ddd"; "d.dde+XX", two exponent digits at least.
    const int nFixed = e >= n - 1 ? e + 1 : (e >= 0 ? n + 1 : n + 1 - e);
    const int nScientific = n + (n > 1 ? 1 : 0) + 2 + (nMagnitude >= 100 ? 3 : 2);
    char* p = pOut;
    if (bNegative)
        *p++ = '-';
    if (nFixed <= nScientific && e >= n - 1)
        p += std::snprintf(p, 31, "%.0f", dMagnitude);
    else if (nFixed <= nScientific)
    {
        const int nWhole = e >= 0 ? e + 1 : 0;
        std::memcpy(p, pDigits, static_cast<size_t>(nWhole));
        p += nWhole;
        if (e < 0)
            *p++ = '0';
        *p++ = '.';
        if (e < -1)
        {
            std::memset(p, '0', static_cast<size_t>(-e - 1));
            p += -e - 1;
        }
        std::memcpy(p, pDigits + nWhole, static_cast<size_t>(n - nWhole));
        p += n - nWhole;
    }
    else
    {
        *p++ = pDigits[0];
        if (n > 1)
        {
            *p++ = '.';
            std::memcpy(p, pDigits + 1, static_cast<size_t>(n - 1));
            p += n - 1;
        }
        *p++ = 'e';
        *p++ = e < 0 ? '-' : '+';
        if (nMagnitude >= 100)
            *p++ = static_cast<char>('0' + nMagnitude / 100);
        *p++ = static_cast<char>('0' + nMagnitude / 10 % 10);
        *p++ = static_cast<char>('0' + nMagnitude % 10);
    }
    return static_cast<size_t>(p - pOut);
}

template <class Value> size_t ShortestText(Value v, int nMaxDigits, char* pOut)
{
    const bool bNegative = std::signbit(v);
    if (v == 0)
    {
        std::memcpy(pOut, bNegative ? "-0" : "0", bNegative ? 2 : 1);
        return bNegative ? 2 : 1;
    }
    const Value magnitude = bNegative ? -v : v;
    const CCLocaleScope scope;
    // A decimal of n digits that reads back implies one of n + 1 (a 0 appended), so the fewest digits
    // are found by halving the range; nMaxDigits always read back.
    int nLow = 1;
    int nHigh = nMaxDigits;
    CDecimal best = RoundTo(static_cast<double>(magnitude), nMaxDigits);
    while (nLow < nHigh)
    {
        const int nMiddle = (nLow + nHigh) / 2;
        CDecimal decimal;
        if (FindDigits(magnitude, nMiddle, decimal))
        {
            best = decimal;
            nHigh = nMiddle;
        }
        else
            nLow = nMiddle + 1;
    }
    if (best.m_nDigits != nLow)
        FindDigits(magnitude, nLow, best);
    return Format(bNegative, best, static_cast<double>(magnitude), pOut);
}

} // namespace

size_t ShortestFloatText(float f, char* pOut)
{
    return ShortestText(f, 9, pOut);
}

size_t ShortestDoubleText(double d, char* pOut)
{
    return ShortestText(d, 17, pOut);
}
