// The string harness: conversions, search, substrings, editing and Format of CBasicString against a
// std::u16string model.

#include "FuzzTargets.h"

#include "foundation/BasicString.h"

#include <cstring>
#include <string>

namespace
{

typedef std::basic_string<WideChar> WideText;

// The UTF-8 properties of narrow text hold off Windows, where narrow text is UTF-8.
#if !defined(_WIN32)
// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsStrictUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* pEnd = p + text.size();
    while (p < pEnd)
    {
        const unsigned c = *p;
        int nMore = 0;
        unsigned long nCode = 0;
        if (c < 0x80)
        {
            ++p;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            nMore = 1, nCode = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            nMore = 2, nCode = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            nMore = 3, nCode = c & 0x07;
        else
            return false;
        if (pEnd - p <= nMore)
            return false;
        for (int i = 1; i <= nMore; ++i)
        {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            nCode = (nCode << 6) | (p[i] & 0x3F);
        }
        if ((nMore == 2 && (nCode < 0x800 || (nCode >= 0xD800 && nCode <= 0xDFFF))) ||
            (nMore == 3 && (nCode < 0x10000 || nCode > 0x10FFFF)))
            return false;
        p += nMore + 1;
    }
    return true;
}

// The text with every unpaired surrogate replaced by U+FFFD, as narrow output writes it.
WideText WithoutLoneSurrogates(WideText text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        const WideChar c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
        else if (c >= 0xD800 && c <= 0xDFFF)
            text[i] = 0xFFFD;
    }
    return text;
}
#endif

WideText TextOf(const CBasicString& s)
{
    return WideText(s.GetWideString(), static_cast<size_t>(s.GetLength()));
}

void CheckConversions(const std::string& narrow, const WideText& wide)
{
    CBasicString fromNarrow(narrow.c_str());
    const char* pszBack = fromNarrow.GetNarrowString();
    FUZZ_CHECK(pszBack != nullptr);
    const std::string back(pszBack);
#if !defined(_WIN32)
    FUZZ_CHECK(IsStrictUtf8(back));
    if (IsStrictUtf8(narrow))
        FUZZ_CHECK(back == narrow);
#endif
    // Narrow output decodes to the same text again, whatever the input was.
    FUZZ_CHECK(CBasicString(back.c_str()) == fromNarrow);

    CBasicString fromWide(wide.c_str());
    FUZZ_CHECK(fromWide.GetLength() == static_cast<int>(wide.size()) && TextOf(fromWide) == wide);
    const char* pszWideBack = fromWide.GetNarrowString();
#if !defined(_WIN32)
    FUZZ_CHECK(pszWideBack != nullptr && IsStrictUtf8(pszWideBack));
    FUZZ_CHECK(TextOf(CBasicString(pszWideBack)) == WithoutLoneSurrogates(wide));
#else
    // Narrow text is the ANSI code page on Windows, where a character it lacks becomes '?'.
    FUZZ_CHECK(pszWideBack != nullptr);
#endif
}

void CheckSearchAndEditing(const WideText& text, const WideText& what, const WideText& with, int nA, int nB)
{
    const CBasicString s(text.c_str());
    const int nLength = static_cast<int>(text.size());
    if (nA >= 0 && nA < nLength)
    {
        const size_t nFound = text.find(what, static_cast<size_t>(nA));
        FUZZ_CHECK(s.Find(CBasicString(what.c_str()), nA) ==
                   (nFound == WideText::npos ? -1 : static_cast<int>(nFound)));
        const size_t nReverse = text.rfind(what.empty() ? WideChar(0) : what[0], static_cast<size_t>(nA));
        if (nA > 0 && !what.empty())
            FUZZ_CHECK(s.ReverseFind(what[0], nA) ==
                       (nReverse == WideText::npos ? -1 : static_cast<int>(nReverse)));
    }
    const int nLast = nB == -1 ? nLength - 1 : nB;
    const bool bInside = nA >= 0 && nA < nLength && nLast >= 0 && nLast < nLength && nLast >= nA;
    const WideText mid =
        bInside ? text.substr(static_cast<size_t>(nA), static_cast<size_t>(nLast - nA + 1)) : WideText();
    FUZZ_CHECK(TextOf(s.Mid(nA, nB)) == mid);

    if (!what.empty())
    {
        WideText expected;
        bool bAny = false;
        for (size_t i = 0; i < text.size();)
        {
            if (text.compare(i, what.size(), what) == 0)
            {
                expected += with;
                i += what.size();
                bAny = true;
            }
            else
                expected += text[i++];
        }
        CBasicString replaced(s);
        FUZZ_CHECK(replaced.Replace(CBasicString(what.c_str()), CBasicString(with.c_str())) == bAny);
        FUZZ_CHECK(TextOf(replaced) == expected);
    }

    CBasicString edited(s);
    FUZZ_CHECK(edited.RemoveAt(nA) == (nA >= 0 && nA < nLength));
    if (nA >= 0 && nA < nLength)
        FUZZ_CHECK(TextOf(edited) == WideText(text).erase(static_cast<size_t>(nA), 1));

    const CBasicString other(what.c_str());
    FUZZ_CHECK((s < other) == (text < what) && (s == other) == (text == what));
    const int nForward = s.CompareNoCase(other);
    const int nBackward = other.CompareNoCase(s);
    FUZZ_CHECK((nForward < 0) == (nBackward > 0) && (nForward == 0) == (nBackward == 0));

    CBasicString trimmed(s);
    trimmed.TrimLeft();
    trimmed.TrimRight();
    size_t nFirst = 0;
    size_t nEnd = text.size();
    while (nFirst < nEnd && BasicIsSpace(text[nFirst]))
        ++nFirst;
    while (nEnd > nFirst && BasicIsSpace(text[nEnd - 1]))
        --nEnd;
    FUZZ_CHECK(TextOf(trimmed) == text.substr(nFirst, nEnd - nFirst));
}

// Rewrites an arbitrary text into a format whose conversions take, in order, the argument kinds that
// CheckFormat passes: int, double, wide text, narrow text, int, double. Flags, widths and precisions
// (up to three digits) stay as written; lengths and '*' are dropped; conversions beyond the sixth are
// written as "%%".
WideText MakeFormat(const WideText& text)
{
    static const char* const apszAllowed[6] = {"diuoxXcC", "eEfFgGaA", "s", "S", "diuoxXcC", "eEfFgGaA"};
    WideText format;
    size_t nSlot = 0;
    for (size_t i = 0; i < text.size();)
    {
        if (text[i] != WideChar('%'))
        {
            format += text[i++];
            continue;
        }
        ++i;
        WideText spec(1, WideChar('%'));
        while (i < text.size() && std::strchr("-+ #0", static_cast<char>(text[i])) != nullptr &&
               text[i] < 0x80 && text[i] != 0)
            spec += text[i++];
        for (int nPart = 0; nPart < 2; ++nPart)
        {
            if (nPart == 1)
            {
                if (i >= text.size() || text[i] != WideChar('.'))
                    break;
                spec += text[i++];
            }
            for (int nDigits = 0; i < text.size() && text[i] >= WideChar('0') && text[i] <= WideChar('9');
                 ++i)
                if (++nDigits <= 3)
                    spec += text[i];
        }
        while (i < text.size() && text[i] < 0x80 && text[i] != 0 &&
               std::strchr("*hlLqjztwI3264", static_cast<char>(text[i])) != nullptr)
            ++i;
        const WideChar c = i < text.size() ? text[i++] : WideChar('d');
        if (c == WideChar('%') || nSlot >= 6)
        {
            format += WideText(2, WideChar('%'));
            continue;
        }
        const char* pszAllowed = apszAllowed[nSlot++];
        const bool bAllowed = c < 0x80 && c != 0 && std::strchr(pszAllowed, static_cast<char>(c)) != nullptr;
        spec += bAllowed ? c : static_cast<WideChar>(pszAllowed[0]);
        format += spec;
    }
    return format;
}

void CheckFormat(const WideText& text, const std::string& narrow, double dValue, int nValue)
{
    CBasicString s;
    if (s.Format(MakeFormat(text).c_str(), nValue, dValue, text.c_str(), narrow.c_str(), nValue >> 8,
                 -dValue))
        FUZZ_CHECK(s.GetLength() <= 4095); // empty when the output starts with a NUL character (%c of 0)
    else
        FUZZ_CHECK(s.GetLength() == 0);

    // Text passes through %s unchanged when it fits.
    static const WideChar aPercentS[] = {'%', 's', 0};
    CBasicString copy;
    const bool bFits = !text.empty() && text.size() <= 4095;
    FUZZ_CHECK(copy.Format(aPercentS, text.c_str()) == bFits);
    if (bFits)
        FUZZ_CHECK(TextOf(copy) == text);
}

} // namespace

int FuzzString(const uint8_t* pData, size_t nSize)
{
    if (nSize < 12)
        return 0;
    // Header: two indexes, an int and a double for Format; then the text, read both as narrow bytes and
    // as little-endian 16-bit units.
    const int nA = static_cast<int>(pData[0] % 40) - 2;
    const int nB = static_cast<int>(pData[1] % 40) - 2;
    int nValue;
    double dValue;
    std::memcpy(&nValue, pData + 2, sizeof nValue);
    std::memcpy(&dValue, pData + 4, sizeof dValue);
    pData += 12;
    nSize -= 12;

    std::string narrow(reinterpret_cast<const char*>(pData), nSize);
    narrow.resize(std::strlen(narrow.c_str()));
    WideText wide;
    for (size_t i = 0; i + 1 < nSize; i += 2)
    {
        const auto c = static_cast<WideChar>(pData[i] | (pData[i + 1] << 8));
        if (c == 0)
            break;
        wide += c;
    }
    CheckConversions(narrow, wide);

    // The search text and the replacement are short pieces of the text itself, so that they occur.
    const size_t nCut = wide.empty() ? 0 : static_cast<size_t>(nA < 0 ? 0 : nA) % wide.size();
    const WideText what = wide.substr(nCut, static_cast<size_t>(nB < 0 ? 0 : nB) % 4);
    const WideText with = wide.substr(0, static_cast<size_t>(nValue & 3));
    CheckSearchAndEditing(wide, what, with, nA, nB);
    CheckFormat(wide, narrow, dValue, nValue);
    return 0;
}
