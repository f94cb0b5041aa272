// CBasicString. One file for one class of many small members: they share the helpers below (the
// length limit, the narrow-to-wide rule, unsigned ordering, the CRC table) and the invariants they keep
// (a failing operation leaves the string as it was; the narrow copy follows every change), which read
// best in one place.
#include "foundation/BasicString.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace
{

typedef std::basic_string<WideChar> WideText;

// The longest text a string holds, in code units.
const size_t kMaxLength = 2147483646;

// Raised before any storage grows, so a failing operation leaves the string as it was.
void CheckLength(size_t nCurrent, size_t nAdded)
{
    if (nAdded > kMaxLength || nCurrent > kMaxLength - nAdded)
    {
        throw std::length_error("string too long");
    }
}

// The code units of a NUL-terminated wide text; null counts as empty.
size_t WideTextLength(const WideChar* pszText)
{
    if (pszText == nullptr)
    {
        return 0;
    }
    size_t n = 0;
    while (pszText[n] != 0)
    {
        ++n;
    }
    CheckLength(0, n);
    return n;
}

// The one rule by which narrow text becomes wide text: a size query, then the conversion into one
// temporary buffer. Null, empty and unconvertible text give the empty text.
// Narrow text in the code page, or a file name with pConvert = BasicPathToWide.
WideText NarrowToWide(const char* pszText,
                      int (*pConvert)(const char*, WideChar*, int) = BasicMultiByteToWide)
{
    if (pszText == nullptr)
    {
        return WideText();
    }
    // The platform's int-sized protocol cannot describe longer texts; each byte yields at most one unit
    // anyway, so a text of more bytes than the maximum length is refused as too long.
    CheckLength(0, std::strlen(pszText));
    const int nSize = pConvert(pszText, nullptr, 0);
    if (nSize <= 1)
    {
        return WideText();
    }
    std::unique_ptr<WideChar[]> buffer(new WideChar[static_cast<size_t>(nSize)]);
    if (pConvert(pszText, buffer.get(), nSize) != nSize)
    {
        return WideText();
    }
    return WideText(buffer.get());
}

// Ordering by unsigned 16-bit code unit values, the shorter text first when one is a prefix.
int CompareUnits(const WideText& a, const WideChar* b, size_t nB)
{
    const size_t n = a.size() < nB ? a.size() : nB;
    for (size_t i = 0; i < n; ++i)
    {
        const uint16_t ca = static_cast<uint16_t>(a[i]);
        const uint16_t cb = static_cast<uint16_t>(b[i]);
        if (ca != cb)
        {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() < nB ? -1 : (a.size() > nB ? 1 : 0);
}

int CompareWide(const WideText& a, const WideChar* pszText)
{
    return pszText == nullptr ? CompareUnits(a, nullptr, 0)
                              : CompareUnits(a, pszText, WideTextLength(pszText));
}

int CompareNarrow(const WideText& a, const char* pszText)
{
    const WideText other = NarrowToWide(pszText);
    return CompareUnits(a, other.data(), other.size());
}

// The reflected CRC-32 table of IEEE 802.3 (polynomial 0xEDB88320), computed at compile time.
constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i)
    {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
        {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

// A narrow character becomes one code unit by sign extension, with no code-page conversion.
WideChar WidenSigned(char c)
{
    return static_cast<WideChar>(static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(c))));
}

// An empty wide text, for null arguments.
const WideChar kEmptyText[1] = {0};

// Size of the fixed buffers of Format and LoadString, NUL included.
const int kFixedBufferSize = 4096;

} // namespace

// ---- construction and assignment ----

CBasicString::CBasicString() : m_pszNarrow(nullptr) {}

CBasicString::CBasicString(const CBasicString& other) : m_strText(other.m_strText), m_pszNarrow(nullptr) {}

CBasicString::CBasicString(const CBasicString* pOther) : m_pszNarrow(nullptr)
{
    if (pOther != nullptr)
    {
        m_strText = pOther->m_strText;
    }
}

CBasicString::CBasicString(const char* pszText) : m_strText(NarrowToWide(pszText)), m_pszNarrow(nullptr) {}

CBasicString::CBasicString(const WideChar* pszText) : m_pszNarrow(nullptr)
{
    m_strText.assign(pszText != nullptr ? pszText : kEmptyText, WideTextLength(pszText));
}

CBasicString::CBasicString(char c) : m_strText(1, WidenSigned(c)), m_pszNarrow(nullptr) {}

CBasicString CBasicString::FromPath(const char* pszPath)
{
    CBasicString path;
    path.m_strText = NarrowToWide(pszPath, BasicPathToWide);
    return path;
}

CBasicString::CBasicString(WideChar c) : m_strText(1, c), m_pszNarrow(nullptr) {}

CBasicString::~CBasicString()
{
    delete[] m_pszNarrow;
}

CBasicString& CBasicString::operator=(const CBasicString& other)
{
    Assign(other);
    return *this;
}

CBasicString& CBasicString::operator=(const char* pszText)
{
    SetString(pszText);
    return *this;
}

CBasicString& CBasicString::operator=(const WideChar* pszText)
{
    SetString(pszText);
    return *this;
}

void CBasicString::SetString(const char* pszText)
{
    // Convert first: if conversion throws, the string keeps its text and its narrow copy.
    WideText text = NarrowToWide(pszText);
    ReleaseNarrowString();
    m_strText.swap(text);
}

void CBasicString::SetString(const WideChar* pszText)
{
    const size_t n = WideTextLength(pszText);
    // The argument may point into this string's own text, so build the new text before replacing.
    WideText text(pszText != nullptr ? pszText : kEmptyText, n);
    ReleaseNarrowString();
    m_strText.swap(text);
}

bool CBasicString::Assign(const CBasicString& other)
{
    if (&other == this)
    {
        return false;
    }
    m_strText = other.m_strText;
    ReleaseNarrowString();
    return true;
}

// ---- access ----

int CBasicString::GetLength() const
{
    return static_cast<int>(m_strText.size());
}

const WideChar* CBasicString::GetWideString() const
{
    return m_strText.c_str();
}

char* CBasicString::GetNarrowString()
{
    ReleaseNarrowString();
    if (m_strText.empty())
    {
        m_pszNarrow = new char[1];
        m_pszNarrow[0] = 0;
        return m_pszNarrow;
    }
    const int nSize = BasicWideToMultiByte(m_strText.c_str(), nullptr, 0);
    if (nSize <= 1)
    {
        return nullptr;
    }
    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(nSize)]);
    if (BasicWideToMultiByte(m_strText.c_str(), buffer.get(), nSize) != nSize)
    {
        return nullptr;
    }
    m_pszNarrow = buffer.release();
    return m_pszNarrow;
}

void CBasicString::ReleaseNarrowString()
{
    delete[] m_pszNarrow;
    m_pszNarrow = nullptr;
}

// ---- concatenation ----

CBasicString CBasicString::operator+(const CBasicString& other) const
{
    CBasicString result(*this);
    result += other;
    return result;
}

CBasicString CBasicString::operator+(const char* pszText) const
{
    CBasicString result(*this);
    result += pszText;
    return result;
}

CBasicString CBasicString::operator+(const WideChar* pszText) const
{
    CBasicString result(*this);
    result += pszText;
    return result;
}

CBasicString& CBasicString::operator+=(const CBasicString& other)
{
    Append(other);
    return *this;
}

CBasicString& CBasicString::operator+=(const char* pszText)
{
    Append(pszText);
    return *this;
}

CBasicString& CBasicString::operator+=(const WideChar* pszText)
{
    Append(pszText);
    return *this;
}

bool CBasicString::Append(const CBasicString& other)
{
    if (other.m_strText.empty())
    {
        return false;
    }
    CheckLength(m_strText.size(), other.m_strText.size());
    // Appending the string to itself is safe: the standard append copies from its own storage.
    m_strText.append(other.m_strText);
    ReleaseNarrowString();
    return true;
}

bool CBasicString::Append(const char* pszText)
{
    if (pszText == nullptr)
    {
        return false;
    }
    const WideText text = NarrowToWide(pszText);
    CheckLength(m_strText.size(), text.size());
    m_strText.append(text);
    ReleaseNarrowString();
    return true;
}

bool CBasicString::Append(const WideChar* pszText)
{
    if (pszText == nullptr)
    {
        return false;
    }
    const size_t n = WideTextLength(pszText);
    CheckLength(m_strText.size(), n);
    m_strText.append(pszText, n);
    ReleaseNarrowString();
    return true;
}

bool CBasicString::AppendRange(const char* pFirst, const char* pLast)
{
    if (pFirst == nullptr || pLast == nullptr || pLast <= pFirst)
    {
        return false;
    }
    const size_t nRange = static_cast<size_t>(pLast - pFirst);
    const void* pNul = std::memchr(pFirst, 0, nRange);
    const size_t nBytes =
        pNul != nullptr ? static_cast<size_t>(static_cast<const char*>(pNul) - pFirst) : nRange;
    const std::string temporary(pFirst, nBytes);
    return Append(temporary.c_str());
}

// ---- search and substrings ----

int CBasicString::Find(const CBasicString& what, int nStart) const
{
    const size_t nLength = m_strText.size();
    if (nLength == 0 || nStart < 0 || static_cast<size_t>(nStart) >= nLength)
    {
        return -1;
    }
    if (what.m_strText.empty())
    {
        return nStart;
    }
    if (what.m_strText.size() > nLength - static_cast<size_t>(nStart))
    {
        return -1;
    }
    const size_t nFound = m_strText.find(what.m_strText, static_cast<size_t>(nStart));
    return nFound == WideText::npos ? -1 : static_cast<int>(nFound);
}

CBasicString CBasicString::Mid(int nFirst, int nLast) const
{
    CBasicString result;
    const int nLength = GetLength();
    if (nLength == 0 || nFirst < 0 || nFirst >= nLength)
    {
        return result;
    }
    if (nLast == -1)
    {
        nLast = nLength - 1;
    }
    // A last below first - 1 would be a negative count; it gives the empty string rather than a tail.
    if (nLast < 0 || nLast >= nLength || nLast < nFirst - 1)
    {
        return result;
    }
    const size_t nCount = static_cast<size_t>(nLast - nFirst + 1);
    const WideChar* pBegin = m_strText.data() + nFirst;
    // As a wide text, the extract ends at its first NUL.
    size_t n = 0;
    while (n < nCount && pBegin[n] != 0)
    {
        ++n;
    }
    result.m_strText.assign(pBegin, n);
    return result;
}

// ---- ordering ----

bool CBasicString::operator==(const CBasicString& other) const
{
    return m_strText == other.m_strText;
}

bool CBasicString::operator==(const char* pszText) const
{
    return CompareNarrow(m_strText, pszText) == 0;
}

bool CBasicString::operator==(const WideChar* pszText) const
{
    return CompareWide(m_strText, pszText) == 0;
}

bool CBasicString::operator!=(const CBasicString& other) const
{
    return !(*this == other);
}

bool CBasicString::operator!=(const char* pszText) const
{
    return !(*this == pszText);
}

bool CBasicString::operator!=(const WideChar* pszText) const
{
    return !(*this == pszText);
}

bool CBasicString::operator<(const CBasicString& other) const
{
    return CompareUnits(m_strText, other.m_strText.data(), other.m_strText.size()) < 0;
}

bool CBasicString::operator<(const char* pszText) const
{
    return CompareNarrow(m_strText, pszText) < 0;
}

bool CBasicString::operator<(const WideChar* pszText) const
{
    return CompareWide(m_strText, pszText) < 0;
}

bool CBasicString::operator>(const CBasicString& other) const
{
    return CompareUnits(m_strText, other.m_strText.data(), other.m_strText.size()) > 0;
}

bool CBasicString::operator>(const char* pszText) const
{
    return CompareNarrow(m_strText, pszText) > 0;
}

bool CBasicString::operator>(const WideChar* pszText) const
{
    return CompareWide(m_strText, pszText) > 0;
}

int CBasicString::CompareNoCase(const CBasicString& other) const
{
    return BasicCompareNoCase(m_strText.c_str(), other.m_strText.c_str());
}

unsigned int CBasicString::GetHashValue() const
{
    if (m_strText.empty())
    {
        return 0;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (const WideChar unit : m_strText)
    {
        const uint16_t u = static_cast<uint16_t>(unit);
        crc = kCrcTable[(crc ^ (u & 0xFFu)) & 0xFFu] ^ (crc >> 8);
        crc = kCrcTable[(crc ^ (u >> 8)) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

// ---- character access ----

WideChar CBasicString::GetAt(int nIndex) const
{
    return IsValidIndex(nIndex) ? m_strText[static_cast<size_t>(nIndex)] : WideChar(0);
}

WideChar CBasicString::GetFirstChar() const
{
    return m_strText.empty() ? WideChar(0) : m_strText.front();
}

WideChar CBasicString::GetLastChar() const
{
    return m_strText.empty() ? WideChar(0) : m_strText.back();
}

bool CBasicString::SetAt(int nIndex, WideChar c)
{
    if (!IsValidIndex(nIndex))
    {
        return false;
    }
    m_strText[static_cast<size_t>(nIndex)] = c;
    return true;
}

bool CBasicString::IsValidIndex(int nIndex) const
{
    return nIndex >= 0 && static_cast<size_t>(nIndex) < m_strText.size();
}

int CBasicString::ReverseFind(char c, int nStart) const
{
    return ReverseFind(WidenSigned(c), nStart);
}

int CBasicString::ReverseFind(WideChar c, int nStart) const
{
    if (m_strText.empty())
    {
        return -1;
    }
    if (nStart == 0)
    {
        nStart = GetLength() - 1;
    }
    if (!IsValidIndex(nStart))
    {
        return -1;
    }
    for (int i = nStart; i >= 0; --i)
    {
        if (m_strText[static_cast<size_t>(i)] == c)
        {
            return i;
        }
    }
    return -1;
}

// ---- editing ----

bool CBasicString::RemoveAt(int nIndex)
{
    if (!IsValidIndex(nIndex))
    {
        return false;
    }
    m_strText.erase(static_cast<size_t>(nIndex), 1);
    ReleaseNarrowString();
    return true;
}

bool CBasicString::Replace(const CBasicString& what, const CBasicString& with)
{
    if (what.m_strText.empty())
    {
        return false;
    }
    // Each search resumes just after the previous occurrence in the original text, which is where it
    // resumes after the inserted replacement in the edited text: inserted text is never searched again.
    // One pass finds the occurrences and the final length, which is checked before anything changes.
    const size_t nWhat = what.m_strText.size();
    const size_t nWith = with.m_strText.size();
    size_t nOccurrences = 0;
    for (size_t p = m_strText.find(what.m_strText); p != WideText::npos;
         p = m_strText.find(what.m_strText, p + nWhat))
    {
        ++nOccurrences;
    }
    if (nOccurrences == 0)
    {
        return false;
    }
    if (nWith > nWhat)
    {
        const size_t nGrowth = nWith - nWhat;
        if (nGrowth > kMaxLength / nOccurrences)
        {
            throw std::length_error("string too long");
        }
        CheckLength(m_strText.size(), nGrowth * nOccurrences);
    }
    // Copying what and with first keeps this safe when either is this string itself.
    const WideText strWhat(what.m_strText);
    const WideText strWith(with.m_strText);
    WideText result;
    result.reserve(m_strText.size() - nOccurrences * nWhat + nOccurrences * nWith);
    size_t nFrom = 0;
    for (size_t p = m_strText.find(strWhat); p != WideText::npos; p = m_strText.find(strWhat, p + nWhat))
    {
        result.append(m_strText, nFrom, p - nFrom);
        result.append(strWith);
        nFrom = p + nWhat;
    }
    result.append(m_strText, nFrom, WideText::npos);
    m_strText.swap(result);
    ReleaseNarrowString();
    return true;
}

bool CBasicString::Truncate(int nLength)
{
    if (m_strText.empty() || nLength < 0 || static_cast<size_t>(nLength) >= m_strText.size())
    {
        return false;
    }
    m_strText.resize(static_cast<size_t>(nLength));
    ReleaseNarrowString();
    return true;
}

bool CBasicString::Clear()
{
    if (m_strText.empty())
    {
        return false;
    }
    m_strText.clear();
    ReleaseNarrowString();
    return true;
}

bool CBasicString::MakeUpper()
{
    if (m_strText.empty())
    {
        return false;
    }
    for (WideChar& c : m_strText)
    {
        c = BasicToUpper(c);
    }
    return true;
}

bool CBasicString::MakeLower()
{
    if (m_strText.empty())
    {
        return false;
    }
    for (WideChar& c : m_strText)
    {
        c = BasicToLower(c);
    }
    return true;
}

bool CBasicString::TrimLeft()
{
    size_t n = 0;
    while (n < m_strText.size() && BasicIsSpace(m_strText[n]))
    {
        ++n;
    }
    if (n == 0)
    {
        return false;
    }
    m_strText.erase(0, n);
    ReleaseNarrowString();
    return true;
}

bool CBasicString::TrimRight()
{
    if (m_strText.empty())
    {
        return false;
    }
    size_t n = m_strText.size();
    while (n > 0 && BasicIsSpace(m_strText[n - 1]))
    {
        --n;
    }
    m_strText.resize(n);
    ReleaseNarrowString();
    return true;
}

// ---- formatting and resources ----

bool CBasicString::Format(const WideChar* pszFormat, ...)
{
    if (pszFormat == nullptr)
    {
        return false;
    }
    WideChar buffer[kFixedBufferSize];
    va_list args;
    va_start(args, pszFormat);
    const int nWritten = BasicFormatV(buffer, kFixedBufferSize, pszFormat, args);
    va_end(args);
    if (nWritten <= 0)
    {
        return false;
    }
    SetString(buffer);
    return true;
}

bool CBasicString::LoadString(int nId, ModuleHandle hModule)
{
    if (nId <= 0)
    {
        return false;
    }
    if (hModule == nullptr)
    {
        // The main program's strings, not this library's.
        hModule = BasicGetModuleHandle(nullptr);
        if (hModule == nullptr)
        {
            return false;
        }
    }
    WideChar buffer[kFixedBufferSize];
    if (BasicLoadString(hModule, static_cast<unsigned int>(nId), buffer, kFixedBufferSize) <= 0)
    {
        return false;
    }
    SetString(buffer);
    return true;
}
