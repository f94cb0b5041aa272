#include "writers/FileSink.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

CFileSink::CFileSink() : m_pFile(nullptr), m_nUsed(0), m_nCount(0), m_bFailed(false) {}

CFileSink::~CFileSink()
{
    if (m_pFile != nullptr)
        Discard();
}

bool CFileSink::Open(const std::string& path)
{
    m_strPath = path;
    m_pFile = std::fopen(path.c_str(), "wb");
    if (m_pFile == nullptr)
    {
        SetErrno("cannot create");
        // Not ours: a file that could not be opened is never removed.
        m_strPath.clear();
        return false;
    }
    // Our own buffer does the blocking; the stream's would only copy once more.
    std::setvbuf(m_pFile, nullptr, _IONBF, 0);
    m_pBuffer.reset(new char[BlockSize]);
    return true;
}

void CFileSink::OpenCounter()
{
    m_nCount = 0;
}

bool CFileSink::Close()
{
    if (m_pFile == nullptr)
        return !m_bFailed;
    const bool bFlushed = FlushBuffer();
    const bool bClosed = std::fclose(m_pFile) == 0;
    m_pFile = nullptr;
    if (bFlushed && !bClosed)
        SetErrno("cannot finish");
    if (!bFlushed || !bClosed)
    {
        m_bFailed = true;
        Discard();
        return false;
    }
    return true;
}

void CFileSink::Discard()
{
    if (m_pFile != nullptr)
    {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (m_strPath.empty())
        return;
    // A device or pipe named as output (/dev/null, a FIFO) is not ours to remove.
    std::error_code error;
    if (std::filesystem::is_regular_file(m_strPath, error))
        std::filesystem::remove(m_strPath, error);
    m_strPath.clear();
}

void CFileSink::Spill(const void* pData, size_t nBytes)
{
    if (!FlushBuffer())
        return;
    if (nBytes >= BlockSize)
    {
        if (std::fwrite(pData, 1, nBytes, m_pFile) != nBytes)
        {
            SetErrno("cannot write");
            m_bFailed = true;
        }
        return;
    }
    std::memcpy(m_pBuffer.get(), pData, nBytes);
    m_nUsed = nBytes;
}

bool CFileSink::FlushBuffer()
{
    if (m_bFailed)
    {
        m_nUsed = 0;
        return false;
    }
    if (m_nUsed > 0 && std::fwrite(m_pBuffer.get(), 1, m_nUsed, m_pFile) != m_nUsed)
    {
        SetErrno("cannot write");
        m_bFailed = true;
    }
    m_nUsed = 0;
    return !m_bFailed;
}

void CFileSink::SetErrno(const char* pszWhat)
{
    const int nError = errno;
    m_strError = std::string(pszWhat) + " " + m_strPath + ": " +
                 (nError != 0 ? std::generic_category().message(nError) : std::string("I/O error"));
}

CFileSink& CFileSink::operator<<(unsigned long long n)
{
    char szBuffer[24];
    const std::to_chars_result result = std::to_chars(szBuffer, szBuffer + sizeof(szBuffer), n);
    return Text(szBuffer, static_cast<size_t>(result.ptr - szBuffer));
}

CFileSink& CFileSink::operator<<(long long n)
{
    char szBuffer[24];
    const std::to_chars_result result = std::to_chars(szBuffer, szBuffer + sizeof(szBuffer), n);
    return Text(szBuffer, static_cast<size_t>(result.ptr - szBuffer));
}

CFileSink& CFileSink::Float(float f)
{
    if (std::isnan(f))
        return *this << "nan";
    if (std::isinf(f))
        return *this << (f < 0 ? "-inf" : "inf");
    char szBuffer[32];
    const std::to_chars_result result = std::to_chars(szBuffer, szBuffer + sizeof(szBuffer), f);
    return Text(szBuffer, static_cast<size_t>(result.ptr - szBuffer));
}

// Binary numbers are assembled byte by byte, so the files are little-endian on any host.
void CFileSink::U16(std::uint16_t n)
{
    const unsigned char aBytes[2] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8)};
    Write(aBytes, 2);
}

void CFileSink::U32(std::uint32_t n)
{
    const unsigned char aBytes[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                     static_cast<unsigned char>(n >> 16),
                                     static_cast<unsigned char>(n >> 24)};
    Write(aBytes, 4);
}

void CFileSink::F32(float f)
{
    std::uint32_t n;
    std::memcpy(&n, &f, 4);
    U32(n);
}
