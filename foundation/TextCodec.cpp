// Conversions between wide text and its narrow forms: the ANSI code page, UTF-8, and file names. On
// Windows the code page conversions are the system's; the rest is the same code everywhere.
#include "foundation/TextCodec.h"

#include <climits>
#include <cstddef>
#include <cstdint>

#include "foundation/WindowsApi.h"

namespace
{

const uint32_t kReplacementChar = 0xFFFD;

#if !defined(_WIN32)
// Decoding narrow text is the system's on Windows.

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

// How narrow bytes that are not valid UTF-8 decode.
enum InvalidBytes
{
    InvalidAsCp1252, // the whole text decodes as Windows-1252 when any of it is not UTF-8
    InvalidAsEscapes // each byte that is not part of a UTF-8 sequence becomes U+DC80..U+DCFF
};

bool IsValidUtf8(const unsigned char* p)
{
    uint32_t cp;
    int len;
    for (; *p != 0; p += len)
        if (!DecodeUtf8(p, cp, len))
            return false;
    return true;
}

// Counts (and, when pOut is not null, writes) the code units of the decoded text, without the NUL.
// Stops counting at INT_MAX so the caller can report a result too long for the int protocol.
size_t DecodeNarrow(const unsigned char* p, bool bCp1252, WideChar* pOut)
{
    size_t n = 0;
    while (*p != 0 && n < static_cast<size_t>(INT_MAX))
    {
        uint32_t cp = 0;
        int len = 1;
        if (bCp1252)
        {
            const unsigned char b = *p;
            cp = b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : b;
        }
        else if (!DecodeUtf8(p, cp, len))
        {
            cp = 0xDC00u + *p; // a byte outside any sequence, always 0x80 or more
            len = 1;
        }
        p += len;
        if (cp >= 0x10000)
        {
            if (pOut != nullptr)
            {
                pOut[n] = static_cast<WideChar>(0xD800 + ((cp - 0x10000) >> 10));
                pOut[n + 1] = static_cast<WideChar>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            n += 2;
        }
        else
        {
            if (pOut != nullptr)
                pOut[n] = static_cast<WideChar>(cp);
            ++n;
        }
    }
    return n;
}

int NarrowToWide(const char* pszText, InvalidBytes eInvalid, WideChar* pOut, int nOutCount)
{
    if (pszText == nullptr || nOutCount < 0)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pszText);
    const bool bCp1252 = eInvalid == InvalidAsCp1252 && !IsValidUtf8(p);
    const size_t nUnits = DecodeNarrow(p, bCp1252, nullptr);
    if (nUnits >= static_cast<size_t>(INT_MAX))
        return 0; // the size with its NUL is not representable
    const int nNeeded = static_cast<int>(nUnits) + 1;
    if (pOut == nullptr || nOutCount == 0)
        return nNeeded;
    if (nOutCount < nNeeded)
        return 0;
    DecodeNarrow(p, bCp1252, pOut);
    pOut[nUnits] = 0;
    return nNeeded;
}

#endif

// Reads one code point of UTF-16 text at p (before its NUL). A lone surrogate reads as U+FFFD, or, for
// file names, as the byte it stands for (returned as 0x80000000 plus the byte).
const uint32_t kEscapedByte = 0x80000000u;

uint32_t NextCodePoint(const WideChar*& p, bool bEscapes)
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
        return bEscapes && u >= 0xDC80 && u <= 0xDCFF ? kEscapedByte + (u - 0xDC00) : kReplacementChar;
    return u;
}

int Utf8Length(uint32_t cp)
{
    if (cp >= kEscapedByte)
        return 1;
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

char* WriteUtf8(uint32_t cp, char* p)
{
    if (cp >= kEscapedByte)
    {
        *p++ = static_cast<char>(cp - kEscapedByte);
        return p;
    }
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

int WideToUtf8(const WideChar* pszText, bool bEscapes, char* pOut, int nOutCount)
{
    if (pszText == nullptr || nOutCount < 0)
        return 0;
    size_t nBytes = 0;
    for (const WideChar* p = pszText; *p != 0;)
    {
        nBytes += static_cast<size_t>(Utf8Length(NextCodePoint(p, bEscapes)));
        if (nBytes >= static_cast<size_t>(INT_MAX))
            return 0;
    }
    const int nNeeded = static_cast<int>(nBytes) + 1;
    if (pOut == nullptr || nOutCount == 0)
        return nNeeded;
    if (nOutCount < nNeeded)
        return 0;
    char* pWrite = pOut;
    for (const WideChar* p = pszText; *p != 0;)
        pWrite = WriteUtf8(NextCodePoint(p, bEscapes), pWrite);
    *pWrite = 0;
    return nNeeded;
}

} // namespace

int BasicWideToUtf8(const WideChar* pszText, char* pOut, int nOutCount)
{
    return WideToUtf8(pszText, false, pOut, nOutCount);
}

#if !defined(_WIN32)
int BasicMultiByteToWide(const char* pszText, WideChar* pOut, int nOutCount)
{
    return NarrowToWide(pszText, InvalidAsCp1252, pOut, nOutCount);
}

int BasicWideToMultiByte(const WideChar* pszText, char* pOut, int nOutCount)
{
    return WideToUtf8(pszText, false, pOut, nOutCount);
}

int BasicPathToWide(const char* pszPath, WideChar* pOut, int nOutCount)
{
    return NarrowToWide(pszPath, InvalidAsEscapes, pOut, nOutCount);
}

int BasicWideToPath(const WideChar* pszText, char* pOut, int nOutCount)
{
    return WideToUtf8(pszText, true, pOut, nOutCount);
}
#else
int BasicMultiByteToWide(const char* pszText, WideChar* pOut, int nOutCount)
{
    if (pszText == nullptr || nOutCount < 0)
        return 0;
    // The system refuses a null output with a non-zero size; the size question is asked with 0.
    if (pOut == nullptr || nOutCount == 0)
        return ::MultiByteToWideChar(CP_ACP, 0, pszText, -1, nullptr, 0);
    return ::MultiByteToWideChar(CP_ACP, 0, pszText, -1, pOut, nOutCount);
}

int BasicWideToMultiByte(const WideChar* pszText, char* pOut, int nOutCount)
{
    if (pszText == nullptr || nOutCount < 0)
        return 0;
    if (pOut == nullptr || nOutCount == 0)
        return ::WideCharToMultiByte(CP_ACP, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    return ::WideCharToMultiByte(CP_ACP, 0, pszText, -1, pOut, nOutCount, nullptr, nullptr);
}

int BasicPathToWide(const char* pszPath, WideChar* pOut, int nOutCount)
{
    return BasicMultiByteToWide(pszPath, pOut, nOutCount);
}

int BasicWideToPath(const WideChar* pszText, char* pOut, int nOutCount)
{
    return BasicWideToMultiByte(pszText, pOut, nOutCount);
}
#endif
