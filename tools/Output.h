// Buffered output for the slp program: text written in large blocks, numbers in the shortest form that
// reads back to the same value, and JSON string escaping. Independent of the process locale.
#pragma once

#include "foundation/BasicString.h"

#include <cstdio>
#include <string>

class COutput
{
public:
    explicit COutput(std::FILE* pFile) : m_pFile(pFile) { m_strBuffer.reserve(BlockSize * 2); }
    ~COutput() { Flush(); }
    COutput(const COutput&) = delete;
    COutput& operator=(const COutput&) = delete;

    COutput& operator<<(const char* psz)
    {
        m_strBuffer += psz;
        return Spill();
    }
    COutput& operator<<(const std::string& str)
    {
        m_strBuffer += str;
        return Spill();
    }
    COutput& operator<<(char c)
    {
        m_strBuffer += c;
        return Spill();
    }
    COutput& operator<<(long long n);
    COutput& operator<<(int n) { return *this << static_cast<long long>(n); }
    // The shortest text that reads back to the same float; "nan", "inf" and "-inf" where not finite.
    COutput& Float(float f);
    // As Float, for doubles.
    COutput& Double(double d);
    // A float for JSON: as Float, with null where the value is not finite.
    COutput& JsonFloat(float f);
    // A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
    COutput& JsonString(const std::string& strUtf8);
    // Bytes of any kind in double quotes for a reader: UTF-8 characters as they are, quotes and
    // backslashes escaped, tabs and line ends as \t \n \r, and any other byte (a control character,
    // a byte that is not part of a UTF-8 sequence) as \xNN.
    COutput& QuotedBytes(const char* pBytes, size_t nCount);
    void Flush();

private:
    static constexpr size_t BlockSize = 1 << 20;
    COutput& Spill()
    {
        if (m_strBuffer.size() >= BlockSize)
            Flush();
        return *this;
    }

    std::FILE* m_pFile;
    std::string m_strBuffer;
};
