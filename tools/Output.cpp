#include "tools/Output.h"

#include <charconv>
#include <cmath>

namespace
{

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
