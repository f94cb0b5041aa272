// The platform layer. On Windows it calls the system: MultiByteToWideChar and WideCharToMultiByte with
// the ANSI code page, LoadStringW, _wcsicmp. Elsewhere it implements them: UTF-8 / Windows-1252
// conversion, case mapping through the C runtime and a process-wide string-resource table. The legacy
// wide formatter is the same everywhere: the C runtimes disagree on %s and %S in wide formats (mingw's
// ISO mode and glibc read %s as narrow text), so the conventions are kept by formatting here.
#include "foundation/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <wchar.h>
#include <windows.h>
#endif

namespace
{

typedef std::basic_string<WideChar> WideText;

#if !defined(_WIN32)
// The string-resource table: one map per process, keyed by module handle and id.
struct ResourceTable
{
    std::mutex mutex;
    std::map<std::pair<ModuleHandle, unsigned int>, WideText> strings;
};

ResourceTable& GetResourceTable()
{
    // Built on first use, so no global constructor runs when the library loads.
    static ResourceTable table;
    return table;
}

// The address of this object is the handle of the main program: fixed, non-null and never a real
// module handle of this process.
const char s_mainModuleTag = 0;

ModuleHandle MainModule()
{
    return const_cast<char*>(&s_mainModuleTag);
}

#endif // !_WIN32

// ---- the formatter ----

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

} // namespace

#if !defined(_WIN32)
WideChar BasicToUpper(WideChar c)
{
    const wint_t r = std::towupper(static_cast<wint_t>(static_cast<uint16_t>(c)));
    // A mapping outside the 16-bit range cannot be stored in one unit; keep the unit then.
    return r <= 0xFFFF ? static_cast<WideChar>(r) : c;
}

WideChar BasicToLower(WideChar c)
{
    const wint_t r = std::towlower(static_cast<wint_t>(static_cast<uint16_t>(c)));
    return r <= 0xFFFF ? static_cast<WideChar>(r) : c;
}

bool BasicIsSpace(WideChar c)
{
    return std::iswspace(static_cast<wint_t>(static_cast<uint16_t>(c))) != 0;
}

int BasicCompareNoCase(const WideChar* pszA, const WideChar* pszB)
{
    static const WideChar kEmpty = 0;
    const WideChar* a = pszA != nullptr ? pszA : &kEmpty;
    const WideChar* b = pszB != nullptr ? pszB : &kEmpty;
    for (;; ++a, ++b)
    {
        const int ca = static_cast<uint16_t>(BasicToLower(*a));
        const int cb = static_cast<uint16_t>(BasicToLower(*b));
        if (ca != cb || ca == 0)
        {
            return ca - cb;
        }
    }
}

#endif // !_WIN32

int BasicWideLength(const WideChar* pszText)
{
    if (pszText == nullptr)
    {
        return 0;
    }
    size_t n = 0;
    while (pszText[n] != 0 && n < static_cast<size_t>(INT_MAX))
    {
        ++n;
    }
    return static_cast<int>(n);
}

int BasicFormatV(WideChar* pBuffer, size_t nCount, const WideChar* pszFormat, va_list args)
{
    if (pBuffer == nullptr || nCount == 0)
    {
        return -1;
    }
    pBuffer[0] = 0;
    if (pszFormat == nullptr)
    {
        return -1;
    }
    FormatOutput out(pBuffer, nCount);
    va_list ap;
    va_copy(ap, args);
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
        // Flags.
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
            const int nWidth = va_arg(ap, int);
            if (nWidth < 0)
            {
                spec.bLeft = true;
                spec.nWidth = nWidth == INT_MIN ? INT_MAX : -nWidth;
            }
            else
            {
                spec.nWidth = nWidth;
            }
        }
        else if (!ParseNumber(f, spec.nWidth))
        {
            bValid = false;
            break;
        }
        // Precision: digits or '*' (a negative '*' precision counts as none).
        if (*f == u'.')
        {
            ++f;
            if (*f == u'*')
            {
                ++f;
                spec.nPrecision = va_arg(ap, int);
                if (spec.nPrecision < 0)
                {
                    spec.nPrecision = -1;
                }
            }
            else if (!ParseNumber(f, spec.nPrecision))
            {
                bValid = false;
                break;
            }
        }
        f = ParseLength(f, spec.length);
        const WideChar conversion = *f;
        if (conversion == 0)
        {
            bValid = false;
            break;
        }
        ++f;
        switch (conversion)
        {
        case u'%':
            out.Put(u'%');
            break;
        case u'd':
        case u'i':
        {
            long long value;
            switch (spec.length)
            {
            case LengthChar:
                value = static_cast<signed char>(va_arg(ap, int));
                break;
            case LengthShort:
                value = static_cast<short>(va_arg(ap, int));
                break;
            case LengthLong:
                value = va_arg(ap, long);
                break;
            case LengthLongLong:
                value = va_arg(ap, long long);
                break;
            case LengthIntMax:
                value = static_cast<long long>(va_arg(ap, intmax_t));
                break;
            case LengthSize:
            case LengthPtrDiff:
                value = static_cast<long long>(va_arg(ap, ptrdiff_t));
                break;
            default:
                value = va_arg(ap, int);
                break;
            }
            bValid = FormatWithRuntime(out, spec, "ll", static_cast<char>(conversion), value);
            break;
        }
        case u'u':
        case u'o':
        case u'x':
        case u'X':
        {
            unsigned long long value;
            switch (spec.length)
            {
            case LengthChar:
                value = static_cast<unsigned char>(va_arg(ap, unsigned int));
                break;
            case LengthShort:
                value = static_cast<unsigned short>(va_arg(ap, unsigned int));
                break;
            case LengthLong:
                value = va_arg(ap, unsigned long);
                break;
            case LengthLongLong:
                value = va_arg(ap, unsigned long long);
                break;
            case LengthIntMax:
                value = static_cast<unsigned long long>(va_arg(ap, uintmax_t));
                break;
            case LengthSize:
            case LengthPtrDiff:
                value = static_cast<unsigned long long>(va_arg(ap, size_t));
                break;
            default:
                value = va_arg(ap, unsigned int);
                break;
            }
            bValid = FormatWithRuntime(out, spec, "ll", static_cast<char>(conversion), value);
            break;
        }
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            if (spec.length == LengthLongDouble)
            {
                const long double value = va_arg(ap, long double);
                bValid = FormatWithRuntime(out, spec, "L", static_cast<char>(conversion), value);
            }
            else
            {
                const double value = va_arg(ap, double);
                bValid = FormatWithRuntime(out, spec, "", static_cast<char>(conversion), value);
            }
            break;
        case u'p':
            FormatPointer(out, spec, va_arg(ap, void*));
            break;
        case u'c':
        case u'C':
        {
            // %c is a code unit and %C a narrow character unless a length says otherwise.
            const bool bNarrow =
                spec.length == LengthShort || spec.length == LengthChar ||
                (conversion == u'C' && spec.length != LengthLong && spec.length != LengthWide);
            const int value = va_arg(ap, int);
            WideChar unit;
            if (bNarrow)
            {
                const char bytes[2] = {static_cast<char>(value), 0};
                WideChar converted[2] = {0, 0};
                BasicMultiByteToWide(bytes, converted, 2);
                unit = converted[0];
            }
            else
            {
                unit = static_cast<WideChar>(value);
            }
            spec.nPrecision = -1;
            PutPadded(out, spec, &unit, 1);
            break;
        }
        case u's':
        case u'S':
        {
            const bool bNarrow =
                spec.length == LengthShort || spec.length == LengthChar ||
                (conversion == u'S' && spec.length != LengthLong && spec.length != LengthWide);
            if (bNarrow)
            {
                FormatNarrowText(out, spec, va_arg(ap, const char*));
            }
            else
            {
                FormatWideText(out, spec, va_arg(ap, const WideChar*));
            }
            break;
        }
        default:
            // Unknown conversions, and %n, which would write through an argument pointer.
            bValid = false;
            break;
        }
    }
    va_end(ap);
    if (!bValid || out.Overflowed())
    {
        pBuffer[0] = 0;
        return -1;
    }
    return out.Finish();
}

#if !defined(_WIN32)
ModuleHandle BasicGetModuleHandle(const WideChar* pszName)
{
    return pszName == nullptr ? MainModule() : nullptr;
}

int BasicLoadString(ModuleHandle hModule, unsigned int nId, WideChar* pBuffer, int nCount)
{
    if (pBuffer == nullptr || nCount <= 0)
    {
        return 0;
    }
    pBuffer[0] = 0;
    if (hModule == nullptr)
    {
        hModule = MainModule();
    }
    ResourceTable& table = GetResourceTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.strings.find(std::make_pair(hModule, nId));
    if (it == table.strings.end())
    {
        return 0;
    }
    const size_t n = std::min(it->second.size(), static_cast<size_t>(nCount - 1));
    std::copy(it->second.begin(), it->second.begin() + static_cast<std::ptrdiff_t>(n), pBuffer);
    pBuffer[n] = 0;
    return static_cast<int>(n);
}

bool BasicRegisterString(ModuleHandle hModule, unsigned int nId, const WideChar* pszText)
{
    if (nId == 0)
    {
        return false;
    }
    if (hModule == nullptr)
    {
        hModule = MainModule();
    }
    const auto key = std::make_pair(hModule, nId);
    ResourceTable& table = GetResourceTable();
    if (pszText == nullptr || *pszText == 0)
    {
        // A string table holds no empty strings: an empty text removes the entry as null does.
        std::lock_guard<std::mutex> lock(table.mutex);
        table.strings.erase(key);
        return true;
    }
    // Copy outside the lock; only the insertion needs it.
    WideText text(pszText, static_cast<size_t>(BasicWideLength(pszText)));
    std::lock_guard<std::mutex> lock(table.mutex);
    table.strings[key] = std::move(text);
    return true;
}
#endif // !_WIN32

#if defined(_WIN32)
// wint_t is 16 bits here, so every mapping fits in one unit.
WideChar BasicToUpper(WideChar c)
{
    return static_cast<WideChar>(std::towupper(static_cast<wint_t>(c)));
}

WideChar BasicToLower(WideChar c)
{
    return static_cast<WideChar>(std::towlower(static_cast<wint_t>(c)));
}

bool BasicIsSpace(WideChar c)
{
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

int BasicCompareNoCase(const WideChar* pszA, const WideChar* pszB)
{
    static const WideChar kEmpty = 0;
    return ::_wcsicmp(pszA != nullptr ? pszA : &kEmpty, pszB != nullptr ? pszB : &kEmpty);
}

ModuleHandle BasicGetModuleHandle(const WideChar* pszName)
{
    return ::GetModuleHandleW(pszName);
}

int BasicLoadString(ModuleHandle hModule, unsigned int nId, WideChar* pBuffer, int nCount)
{
    // A count of 0 would ask LoadStringW for a pointer to the read-only resource instead of a copy.
    if (pBuffer == nullptr || nCount <= 0)
    {
        return 0;
    }
    pBuffer[0] = 0;
    if (hModule == nullptr)
    {
        hModule = ::GetModuleHandleW(nullptr);
    }
    const int n = ::LoadStringW(hModule, nId, pBuffer, nCount);
    if (n <= 0)
    {
        pBuffer[0] = 0;
        return 0;
    }
    return n;
}

bool BasicRegisterString(ModuleHandle, unsigned int, const WideChar*)
{
    // String resources are part of a module's image here, compiled from a resource script.
    return false;
}
#endif // _WIN32

void BasicPrefaultForWriting(const void* pBegin, size_t nBytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    static std::atomic<bool> s_bUnsupported(false);
    if (s_bUnsupported.load(std::memory_order_relaxed) || pBegin == nullptr || nBytes == 0)
        return;
    // The call takes whole pages. Those that the range shares with its neighbours belong to mappings
    // that are already there (the same allocation or the heap), and populating them changes nothing.
    const std::uintptr_t nPage = 4096;
    const std::uintptr_t nStart = reinterpret_cast<std::uintptr_t>(pBegin) & ~(nPage - 1);
    const std::uintptr_t nEnd = reinterpret_cast<std::uintptr_t>(pBegin) + nBytes;
    if (::madvise(reinterpret_cast<void*>(nStart), nEnd - nStart, MADV_POPULATE_WRITE) != 0 &&
        errno == EINVAL)
        s_bUnsupported.store(true, std::memory_order_relaxed);
#else
    (void)pBegin;
    (void)nBytes;
#endif
}
