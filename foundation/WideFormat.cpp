// The wide formatter. The C runtimes disagree on %s and %S in wide formats (mingw's ISO mode and glibc
// read %s as narrow text), so the legacy conventions are kept by formatting here, the same on every
// system: the format is parsed here and each number is written by the C runtime's snprintf.
#include "foundation/WideFormat.h"

#include "foundation/TextCodec.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

namespace
{

typedef std::basic_string<WideChar> WideText;

enum FormatLength
{
    LengthNone,
    LengthChar,       // hh
    LengthShort,      // h
    LengthLong,       // l
    LengthLongLong,   // ll, q, I64
    LengthLongDouble, // L
    LengthIntMax,     // j
    LengthSize,       // z, I
    LengthPtrDiff,    // t
    LengthWide        // w
};

struct FormatSpec
{
    bool bLeft = false;
    bool bPlus = false;
    bool bSpace = false;
    bool bAlternate = false;
    bool bZero = false;
    int nWidth = 0;
    int nPrecision = -1; // none
    FormatLength length = LengthNone;
};

// Writes into the caller's fixed buffer, keeping room for the NUL; remembers when output did not fit.
class FormatOutput
{
public:
    FormatOutput(WideChar* pBuffer, size_t nCount) : m_pBuffer(pBuffer), m_nLimit(nCount - 1) {}

    void Put(WideChar c)
    {
        if (m_nPos < m_nLimit)
        {
            m_pBuffer[m_nPos++] = c;
        }
        else
        {
            m_bOverflow = true;
        }
    }
    void Repeat(WideChar c, size_t n)
    {
        if (n > Remaining())
        {
            m_bOverflow = true;
            return;
        }
        for (size_t i = 0; i < n; ++i)
        {
            m_pBuffer[m_nPos++] = c;
        }
    }
    size_t Remaining() const { return m_nLimit - m_nPos; }
    bool Overflowed() const { return m_bOverflow; }
    void SetOverflow() { m_bOverflow = true; }
    int Finish()
    {
        m_pBuffer[m_nPos] = 0;
        return m_nPos > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(m_nPos);
    }

private:
    WideChar* m_pBuffer;
    size_t m_nLimit;
    size_t m_nPos = 0;
    bool m_bOverflow = false;
};

// Reads a decimal width or precision; false when it does not fit in an int.
bool ParseNumber(const WideChar*& f, int& nValue)
{
    long long n = 0;
    bool bAny = false;
    while (*f >= u'0' && *f <= u'9')
    {
        n = n * 10 + (*f - u'0');
        if (n > INT_MAX)
        {
            return false;
        }
        ++f;
        bAny = true;
    }
    if (bAny)
    {
        nValue = static_cast<int>(n);
    }
    else if (nValue < 0)
    {
        nValue = 0; // "." with no digits is precision 0
    }
    return true;
}

const WideChar* ParseLength(const WideChar* f, FormatLength& length)
{
    switch (*f)
    {
    case u'h':
        if (f[1] == u'h')
        {
            length = LengthChar;
            return f + 2;
        }
        length = LengthShort;
        return f + 1;
    case u'l':
        if (f[1] == u'l')
        {
            length = LengthLongLong;
            return f + 2;
        }
        length = LengthLong;
        return f + 1;
    case u'q':
        length = LengthLongLong;
        return f + 1;
    case u'L':
        length = LengthLongDouble;
        return f + 1;
    case u'j':
        length = LengthIntMax;
        return f + 1;
    case u'z':
        length = LengthSize;
        return f + 1;
    case u't':
        length = LengthPtrDiff;
        return f + 1;
    case u'w':
        length = LengthWide;
        return f + 1;
    case u'I':
        if (f[1] == u'6' && f[2] == u'4')
        {
            length = LengthLongLong;
            return f + 3;
        }
        if (f[1] == u'3' && f[2] == u'2')
        {
            length = LengthNone;
            return f + 3;
        }
        length = LengthSize;
        return f + 1;
    default:
        return f;
    }
}

// Writes n units of text within the field width: spaces before, or after when left-aligned.
void PutPadded(FormatOutput& out, const FormatSpec& spec, const WideChar* pText, size_t n)
{
    const size_t nWidth = static_cast<size_t>(spec.nWidth);
    const size_t nPad = nWidth > n ? nWidth - n : 0;
    if (!spec.bLeft)
    {
        out.Repeat(u' ', nPad);
    }
    if (n > out.Remaining())
    {
        out.SetOverflow();
        return;
    }
    for (size_t i = 0; i < n; ++i)
    {
        out.Put(pText[i]);
    }
    if (spec.bLeft)
    {
        out.Repeat(u' ', nPad);
    }
}

// One numeric conversion through the C runtime's snprintf with a rebuilt narrow conversion; the
// result is ASCII (digits, signs, exponent, hex letters and the locale's decimal point) and is widened
// byte by byte. False when the runtime refuses it; output that does not fit marks the overflow.
template <typename T>
bool FormatWithRuntime(FormatOutput& out, const FormatSpec& spec, const char* pszLength, char conversion,
                       T value)
{
    std::string narrowSpec = "%";
    if (spec.bLeft)
        narrowSpec += '-';
    if (spec.bPlus)
        narrowSpec += '+';
    if (spec.bSpace)
        narrowSpec += ' ';
    if (spec.bAlternate)
        narrowSpec += '#';
    if (spec.bZero)
        narrowSpec += '0';
    if (spec.nWidth > 0)
    {
        narrowSpec += std::to_string(spec.nWidth);
    }
    if (spec.nPrecision >= 0)
    {
        narrowSpec += '.';
        narrowSpec += std::to_string(spec.nPrecision);
    }
    narrowSpec += pszLength;
    narrowSpec += conversion;

    char small[128];
    const int n = std::snprintf(small, sizeof(small), narrowSpec.c_str(), value);
    if (n < 0)
    {
        return false;
    }
    if (static_cast<size_t>(n) > out.Remaining())
    {
        out.SetOverflow();
        return true;
    }
    const char* pText = small;
    std::string large;
    if (static_cast<size_t>(n) >= sizeof(small))
    {
        large.resize(static_cast<size_t>(n) + 1);
        std::snprintf(&large[0], large.size(), narrowSpec.c_str(), value);
        pText = large.c_str();
    }
    for (int i = 0; i < n; ++i)
    {
        out.Put(static_cast<WideChar>(static_cast<unsigned char>(pText[i])));
    }
    return true;
}

// A pointer as the legacy runtime prints it: upper-case hex digits, zero-padded to the pointer's width.
void FormatPointer(FormatOutput& out, const FormatSpec& spec, const void* p)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(p);
    WideChar digits[2 * sizeof(void*)];
    const size_t n = sizeof(digits) / sizeof(digits[0]);
    for (size_t i = n; i > 0; --i)
    {
        digits[i - 1] = static_cast<WideChar>("0123456789ABCDEF"[value & 0xF]);
        value >>= 4;
    }
    PutPadded(out, spec, digits, n);
}

const WideChar kNullText[] = {u'(', u'n', u'u', u'l', u'l', u')', 0};

// Wide text, read no further than the precision (the text need not be terminated within it).
void FormatWideText(FormatOutput& out, const FormatSpec& spec, const WideChar* pszText)
{
    if (pszText == nullptr)
    {
        pszText = kNullText;
    }
    const size_t nMax = spec.nPrecision >= 0 ? static_cast<size_t>(spec.nPrecision) : SIZE_MAX;
    size_t n = 0;
    while (n < nMax && pszText[n] != 0)
    {
        ++n;
        if (n > out.Remaining())
        {
            out.SetOverflow();
            return;
        }
    }
    PutPadded(out, spec, pszText, n);
}

// Narrow text, converted as narrow text is everywhere; a precision counts bytes of the narrow text, as
// the C runtime counts them, and no byte past it is read.
void FormatNarrowText(FormatOutput& out, const FormatSpec& spec, const char* pszText)
{
    if (pszText == nullptr)
    {
        FormatWideText(out, spec, nullptr);
        return;
    }
    size_t nBytes = 0;
    const size_t nMax = spec.nPrecision >= 0 ? static_cast<size_t>(spec.nPrecision) : SIZE_MAX;
    while (nBytes < nMax && pszText[nBytes] != 0)
    {
        ++nBytes;
        // Every three bytes yield at least one unit, so longer text cannot fit; stop reading early.
        if (nBytes / 3 > out.Remaining())
        {
            out.SetOverflow();
            return;
        }
    }
    const std::string bytes(pszText, nBytes);
    const int nSize = BasicMultiByteToWide(bytes.c_str(), nullptr, 0);
    if (nSize <= 1)
    {
        PutPadded(out, spec, nullptr, 0);
        return;
    }
    WideText text(static_cast<size_t>(nSize), WideChar(0));
    BasicMultiByteToWide(bytes.c_str(), &text[0], nSize);
    PutPadded(out, spec, text.data(), static_cast<size_t>(nSize - 1));
}

// The variable arguments, passed between the functions below by reference (a va_list itself may not
// be passed on portably once read from).
struct FormatArguments
{
    va_list list;
};

// Reads a directive's flags, width, precision and length from f (just past its '%'), taking '*' values
// from the arguments; false for a width or precision beyond int.
bool ParseSpec(const WideChar*& f, FormatArguments& args, FormatSpec& spec)
{
    for (;; ++f)
    {
        if (*f == u'-')
            spec.bLeft = true;
        else if (*f == u'+')
            spec.bPlus = true;
        else if (*f == u' ')
            spec.bSpace = true;
        else if (*f == u'#')
            spec.bAlternate = true;
        else if (*f == u'0')
            spec.bZero = true;
        else
            break;
    }
    // Width: digits or '*' (a negative '*' width means left alignment).
    if (*f == u'*')
    {
        ++f;
        const int nWidth = va_arg(args.list, int);
        if (nWidth < 0)
        {
            spec.bLeft = true;
            spec.nWidth = nWidth == INT_MIN ? INT_MAX : -nWidth;
        }
        else
            spec.nWidth = nWidth;
    }
    else if (!ParseNumber(f, spec.nWidth))
        return false;
    // Precision: digits or '*' (a negative '*' precision counts as none).
    if (*f == u'.')
    {
        ++f;
        if (*f == u'*')
        {
            ++f;
            spec.nPrecision = va_arg(args.list, int);
            if (spec.nPrecision < 0)
                spec.nPrecision = -1;
        }
        else if (!ParseNumber(f, spec.nPrecision))
            return false;
    }
    f = ParseLength(f, spec.length);
    return true;
}

long long SignedArgument(FormatArguments& args, FormatLength length)
{
    switch (length)
    {
    case LengthChar:
        return static_cast<signed char>(va_arg(args.list, int));
    case LengthShort:
        return static_cast<short>(va_arg(args.list, int));
    case LengthLong:
        return va_arg(args.list, long);
    case LengthLongLong:
        return va_arg(args.list, long long);
    case LengthIntMax:
        return static_cast<long long>(va_arg(args.list, intmax_t));
    case LengthSize:
    case LengthPtrDiff:
        return static_cast<long long>(va_arg(args.list, ptrdiff_t));
    default:
        return va_arg(args.list, int);
    }
}

unsigned long long UnsignedArgument(FormatArguments& args, FormatLength length)
{
    switch (length)
    {
    case LengthChar:
        return static_cast<unsigned char>(va_arg(args.list, unsigned int));
    case LengthShort:
        return static_cast<unsigned short>(va_arg(args.list, unsigned int));
    case LengthLong:
        return va_arg(args.list, unsigned long);
    case LengthLongLong:
        return va_arg(args.list, unsigned long long);
    case LengthIntMax:
        return static_cast<unsigned long long>(va_arg(args.list, uintmax_t));
    case LengthSize:
    case LengthPtrDiff:
        return static_cast<unsigned long long>(va_arg(args.list, size_t));
    default:
        return va_arg(args.list, unsigned int);
    }
}

// %c and %s take wide units and %C and %S narrow ones, unless a length says otherwise.
bool IsNarrow(const FormatSpec& spec, WideChar conversion)
{
    return spec.length == LengthShort || spec.length == LengthChar ||
           ((conversion == u'C' || conversion == u'S') && spec.length != LengthLong &&
            spec.length != LengthWide);
}

void FormatCharacter(FormatOutput& out, FormatSpec spec, WideChar conversion, int value)
{
    WideChar unit = static_cast<WideChar>(value);
    if (IsNarrow(spec, conversion))
    {
        const char bytes[2] = {static_cast<char>(value), 0};
        WideChar converted[2] = {0, 0};
        BasicMultiByteToWide(bytes, converted, 2);
        unit = converted[0];
    }
    spec.nPrecision = -1;
    PutPadded(out, spec, &unit, 1);
}

// Writes one conversion; false for an unknown one (or %n, which would write through an argument
// pointer) and when the C runtime refuses a number's.
bool FormatConversion(FormatOutput& out, const FormatSpec& spec, WideChar conversion, FormatArguments& args)
{
    const char cNarrow = static_cast<char>(conversion);
    switch (conversion)
    {
    case u'%':
        out.Put(u'%');
        return true;
    case u'd':
    case u'i':
        return FormatWithRuntime(out, spec, "ll", cNarrow, SignedArgument(args, spec.length));
    case u'u':
    case u'o':
    case u'x':
    case u'X':
        return FormatWithRuntime(out, spec, "ll", cNarrow, UnsignedArgument(args, spec.length));
    case u'e':
    case u'E':
    case u'f':
    case u'F':
    case u'g':
    case u'G':
    case u'a':
    case u'A':
        if (spec.length == LengthLongDouble)
            return FormatWithRuntime(out, spec, "L", cNarrow, va_arg(args.list, long double));
        return FormatWithRuntime(out, spec, "", cNarrow, va_arg(args.list, double));
    case u'p':
        FormatPointer(out, spec, va_arg(args.list, void*));
        return true;
    case u'c':
    case u'C':
        FormatCharacter(out, spec, conversion, va_arg(args.list, int));
        return true;
    case u's':
    case u'S':
        if (IsNarrow(spec, conversion))
            FormatNarrowText(out, spec, va_arg(args.list, const char*));
        else
            FormatWideText(out, spec, va_arg(args.list, const WideChar*));
        return true;
    default:
        return false;
    }
}

} // namespace

int BasicFormatV(WideChar* pBuffer, size_t nCount, const WideChar* pszFormat, va_list args)
{
    if (pBuffer == nullptr || nCount == 0)
        return -1;
    pBuffer[0] = 0;
    if (pszFormat == nullptr)
        return -1;
    FormatOutput out(pBuffer, nCount);
    FormatArguments arguments;
    va_copy(arguments.list, args);
    bool bValid = true;
    for (const WideChar* f = pszFormat; *f != 0 && bValid && !out.Overflowed();)
    {
        if (*f != u'%')
        {
            out.Put(*f++);
            continue;
        }
        ++f;
        FormatSpec spec;
        bValid = ParseSpec(f, arguments, spec) && *f != 0;
        if (bValid)
            bValid = FormatConversion(out, spec, *f++, arguments);
    }
    va_end(arguments.list);
    if (!bValid || out.Overflowed())
    {
        pBuffer[0] = 0;
        return -1;
    }
    return out.Finish();
}
