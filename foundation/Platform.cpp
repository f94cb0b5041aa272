// Portable implementation of the platform layer: UTF-8 / Windows-1252 conversion, case mapping through
// the C runtime, the legacy wide formatter and the process-wide string-resource table.
#include "foundation/Platform.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace
{

typedef std::basic_string<WideChar> WideText;

const uint32_t kReplacementChar = 0xFFFD;

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the code unit of the same value, as Windows itself converts them.
const uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes one strictly valid UTF-8 sequence at p (NUL-terminated text, so reading stops at the NUL
// because a NUL is never a continuation byte). On success stores the code point and the sequence length;
// overlong forms, encoded surrogates and values above U+10FFFF are refused.
bool DecodeUtf8(const unsigned char* p, uint32_t& cp, int& len)
{
    const unsigned char b0 = p[0];
    if (b0 < 0x80)
    {
        cp = b0;
        len = 1;
        return true;
    }
    int need;
    uint32_t value;
    uint32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF)
    {
        need = 1;
        value = b0 & 0x1Fu;
        minimum = 0x80;
    }
    else if (b0 >= 0xE0 && b0 <= 0xEF)
    {
        need = 2;
        value = b0 & 0x0Fu;
        minimum = 0x800;
    }
    else if (b0 >= 0xF0 && b0 <= 0xF4)
    {
        need = 3;
        value = b0 & 0x07u;
        minimum = 0x10000;
    }
    else
    {
        return false;
    }
    for (int i = 1; i <= need; ++i)
    {
        if ((p[i] & 0xC0u) != 0x80u)
        {
            return false;
        }
        value = (value << 6) | (p[i] & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    {
        return false;
    }
    cp = value;
    len = need + 1;
    return true;
}

bool IsValidUtf8(const unsigned char* p)
{
    while (*p != 0)
    {
        uint32_t cp;
        int len;
        if (!DecodeUtf8(p, cp, len))
        {
            return false;
        }
        p += len;
    }
    return true;
}

// Counts (and, when pOut is not null, writes) the code units of the decoded text, without the NUL.
// Stops counting at INT_MAX so the caller can report a result too long for the int protocol.
size_t DecodeNarrow(const unsigned char* p, bool bUtf8, WideChar* pOut)
{
    size_t n = 0;
    while (*p != 0 && n < static_cast<size_t>(INT_MAX))
    {
        if (bUtf8)
        {
            uint32_t cp = 0;
            int len = 1;
            DecodeUtf8(p, cp, len);
            p += len;
            if (cp >= 0x10000)
            {
                if (pOut != nullptr)
                {
                    cp -= 0x10000;
                    pOut[n] = static_cast<WideChar>(0xD800 + (cp >> 10));
                    pOut[n + 1] = static_cast<WideChar>(0xDC00 + (cp & 0x3FF));
                }
                n += 2;
            }
            else
            {
                if (pOut != nullptr)
                {
                    pOut[n] = static_cast<WideChar>(cp);
                }
                ++n;
            }
        }
        else
        {
            const unsigned char b = *p++;
            if (pOut != nullptr)
            {
                pOut[n] = static_cast<WideChar>(b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : b);
            }
            ++n;
        }
    }
    return n;
}

// Reads one code point of UTF-16 text at p (before its NUL); a lone surrogate reads as U+FFFD.
uint32_t NextCodePoint(const WideChar*& p)
{
    const uint32_t u = static_cast<uint16_t>(*p++);
    if (u >= 0xD800 && u <= 0xDBFF)
    {
        const uint32_t next = static_cast<uint16_t>(*p);
        if (next >= 0xDC00 && next <= 0xDFFF)
        {
            ++p;
            return 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00);
        }
        return kReplacementChar;
    }
    if (u >= 0xDC00 && u <= 0xDFFF)
    {
        return kReplacementChar;
    }
    return u;
}

int Utf8Length(uint32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

char* WriteUtf8(uint32_t cp, char* p)
{
    if (cp < 0x80)
    {
        *p++ = static_cast<char>(cp);
    }
    else if (cp < 0x800)
    {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        *p++ = static_cast<char>(0xF0 | (cp >> 18));
        *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

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

} // namespace

int BasicMultiByteToWide(const char* pszText, WideChar* pOut, int nOutCount)
{
    if (pszText == nullptr || nOutCount < 0)
    {
        return 0;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pszText);
    const bool bUtf8 = IsValidUtf8(p);
    const size_t units = DecodeNarrow(p, bUtf8, nullptr);
    if (units >= static_cast<size_t>(INT_MAX))
    {
        return 0; // the size with its NUL is not representable
    }
    const int needed = static_cast<int>(units) + 1;
    if (pOut == nullptr || nOutCount == 0)
    {
        return needed;
    }
    if (nOutCount < needed)
    {
        return 0;
    }
    DecodeNarrow(p, bUtf8, pOut);
    pOut[units] = 0;
    return needed;
}

int BasicWideToMultiByte(const WideChar* pszText, char* pOut, int nOutCount)
{
    if (pszText == nullptr || nOutCount < 0)
    {
        return 0;
    }
    size_t bytes = 0;
    for (const WideChar* p = pszText; *p != 0;)
    {
        bytes += static_cast<size_t>(Utf8Length(NextCodePoint(p)));
        if (bytes >= static_cast<size_t>(INT_MAX))
        {
            return 0;
        }
    }
    const int needed = static_cast<int>(bytes) + 1;
    if (pOut == nullptr || nOutCount == 0)
    {
        return needed;
    }
    if (nOutCount < needed)
    {
        return 0;
    }
    char* out = pOut;
    for (const WideChar* p = pszText; *p != 0;)
    {
        out = WriteUtf8(NextCodePoint(p), out);
    }
    *out = 0;
    return needed;
}

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
    (void)args;
    (void)pszFormat;
    if (pBuffer != nullptr && nCount > 0)
    {
        pBuffer[0] = 0;
    }
    return -1;
}

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
