// A buffered output file for the writers: bytes, little-endian binary numbers and locale-independent
// text numbers, written in large blocks. Internal to the writers library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

// An output file that is removed again unless it was finished with Close. A sink opened without a
// path only counts the bytes it is given (used to measure a text before it is written).
//
// Write errors are sticky: after the first failed block write, further writes are dropped and Close
// reports the failure. Nothing here throws except std::bad_alloc from the buffer.
class CFileSink
{
public:
    CFileSink();
    // Removes the file if it was opened and not closed successfully.
    ~CFileSink();
    CFileSink(const CFileSink&) = delete;
    CFileSink& operator=(const CFileSink&) = delete;

    // Creates or truncates the file. False (with GetError set) when it cannot be opened.
    bool Open(const std::string& path);
    // Makes this sink a counter: nothing is written anywhere, GetCount grows.
    void OpenCounter();
    // Flushes and closes the file; true when every byte reached it. A counter just returns true.
    bool Close();
    // Closes the file if it is open and removes it (only a regular file; a device stays), also after a
    // successful Close, for a file whose companion failed.
    void Discard();

    // The cause of the last failure in plain words ("No space left on device").
    const std::string& GetError() const { return m_strError; }
    // Bytes given to the sink so far.
    unsigned long long GetCount() const { return m_nCount; }

    void Write(const void* pData, size_t nBytes)
    {
        m_nCount += nBytes;
        if (m_pFile == nullptr)
            return;
        if (m_nUsed + nBytes > BlockSize)
            Spill(pData, nBytes);
        else
        {
            std::memcpy(m_pBuffer.get() + m_nUsed, pData, nBytes);
            m_nUsed += nBytes;
        }
    }
    CFileSink& operator<<(const char* psz) { return Text(psz, std::strlen(psz)); }
    CFileSink& operator<<(const std::string& str) { return Text(str.data(), str.size()); }
    CFileSink& operator<<(char c) { return Text(&c, 1); }
    CFileSink& operator<<(unsigned long long n);
    CFileSink& operator<<(long long n);
    CFileSink& operator<<(int n) { return *this << static_cast<long long>(n); }
    CFileSink& operator<<(unsigned n) { return *this << static_cast<unsigned long long>(n); }
    // The shortest text that reads back to the same float ("nan", "inf", "-inf" where not finite).
    CFileSink& Float(float f);

    void U8(std::uint8_t n) { Write(&n, 1); }
    void U16(std::uint16_t n);
    void U32(std::uint32_t n);
    void F32(float f);

private:
    static constexpr size_t BlockSize = 1 << 20;

    CFileSink& Text(const char* p, size_t n)
    {
        Write(p, n);
        return *this;
    }
    void Spill(const void* pData, size_t nBytes);
    bool FlushBuffer();
    void SetErrno(const char* pszWhat);

    std::FILE* m_pFile;
    std::unique_ptr<char[]> m_pBuffer;
    size_t m_nUsed;
    unsigned long long m_nCount;
    bool m_bFailed;
    std::string m_strPath;
    std::string m_strError;
};
