#include "tools/Output.h"

#include <charconv>
#include <cmath>

namespace
{

// The length of the strict UTF-8 sequence of several bytes at p (of n readable bytes), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t n)
{
    const unsigned char b = p[0];
    size_t nLength = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (nLength == 0 || nLength > n)
        return 0;
    for (size_t i = 1; i < nLength; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] > 0x9F) || (b == 0xF0 && p[1] < 0x90) ||
        (b == 0xF4 && p[1] > 0x8F))
        return 0;
    return nLength;
}

template <typename T> std::string ShortestText(T value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char szBuffer[64];
    const std::to_chars_result result = std::to_chars(szBuffer, szBuffer + sizeof(szBuffer), value);
    return std::string(szBuffer, result.ptr);
}

} // namespace

COutput& COutput::operator<<(long long n)
{
    char szBuffer[32];
    const std::to_chars_result result = std::to_chars(szBuffer, szBuffer + sizeof(szBuffer), n);
    m_strBuffer.append(szBuffer, result.ptr);
    return Spill();
}

COutput& COutput::Float(float f)
{
    return *this << ShortestText(f);
}

COutput& COutput::Double(double d)
{
    return *this << ShortestText(d);
}

COutput& COutput::JsonFloat(float f)
{
    if (!std::isfinite(f))
        return *this << "null";
    return Float(f);
}

COutput& COutput::JsonString(const std::string& strUtf8)
{
    static const char szHex[] = "0123456789abcdef";
    m_strBuffer += '"';
    for (const char c : strUtf8)
    {
        const auto u = static_cast<unsigned char>(c);
        switch (c)
        {
        case '"':
            m_strBuffer += "\\\"";
            break;
        case '\\':
            m_strBuffer += "\\\\";
            break;
        case '\n':
            m_strBuffer += "\\n";
            break;
        case '\r':
            m_strBuffer += "\\r";
            break;
        case '\t':
            m_strBuffer += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F)
            {
                m_strBuffer += "\\u00";
                m_strBuffer += szHex[u >> 4];
                m_strBuffer += szHex[u & 15];
            }
            else
                m_strBuffer += c;
        }
    }
    m_strBuffer += '"';
    return Spill();
}

void COutput::Flush()
{
    if (!m_strBuffer.empty())
        std::fwrite(m_strBuffer.data(), 1, m_strBuffer.size(), m_pFile);
    m_strBuffer.clear();
    std::fflush(m_pFile);
}

COutput& COutput::QuotedBytes(const char* pBytes, size_t nCount)
{
    static const char szHex[] = "0123456789ABCDEF";
    const auto* p = reinterpret_cast<const unsigned char*>(pBytes);
    m_strBuffer += '"';
    for (size_t i = 0; i < nCount;)
    {
        const unsigned char c = p[i];
        if (c >= 0x80)
        {
            const size_t nLength = Utf8SequenceLength(p + i, nCount - i);
            if (nLength > 0)
            {
                m_strBuffer.append(pBytes + i, nLength);
                i += nLength;
                continue;
            }
        }
        if (c == '"' || c == '\\')
            (m_strBuffer += '\\') += static_cast<char>(c);
        else if (c == '\t')
            m_strBuffer += "\\t";
        else if (c == '\n')
            m_strBuffer += "\\n";
        else if (c == '\r')
            m_strBuffer += "\\r";
        else if (c >= 0x20 && c < 0x7F)
            m_strBuffer += static_cast<char>(c);
        else
            ((m_strBuffer += "\\x") += szHex[c >> 4]) += szHex[c & 15];
        ++i;
    }
    m_strBuffer += '"';
    return Spill();
}
