#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

const char* g_pszFuzzInputName = nullptr;

void FuzzFail(const char* pszFile, int nLine, const char* pszWhat)
{
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", pszFile, nLine, pszWhat);
    if (g_pszFuzzInputName != nullptr)
        std::fprintf(stderr, "input: %s\n", g_pszFuzzInputName);
    std::fflush(stderr);
    std::abort();
}

namespace
{

std::filesystem::path UniqueTempPath(const char* pszTag)
{
    // A random name rather than the process id keeps parallel fuzzing jobs and test runs apart on any
    // system.
    std::random_device device;
    const unsigned long long nId =
        (static_cast<unsigned long long>(device()) << 32) ^ static_cast<unsigned long long>(device());
    return std::filesystem::temp_directory_path() /
           ("slp_fuzz_" + std::string(pszTag) + "_" + std::to_string(nId));
}

} // namespace

CFuzzTempFile::CFuzzTempFile(const char* pszTag) : m_strPath(UniqueTempPath(pszTag).string()) {}

CFuzzTempFile::~CFuzzTempFile()
{
    std::error_code error;
    std::filesystem::remove(m_strPath, error);
}

void CFuzzTempFile::Write(const uint8_t* pData, size_t nSize)
{
    std::FILE* pFile = std::fopen(m_strPath.c_str(), "wb");
    FUZZ_CHECK(pFile != nullptr);
    const bool bWritten = nSize == 0 || std::fwrite(pData, 1, nSize, pFile) == nSize;
    const bool bClosed = std::fclose(pFile) == 0;
    FUZZ_CHECK(bWritten && bClosed);
}

CFuzzTempFolder::CFuzzTempFolder(const char* pszTag) : m_strPath(UniqueTempPath(pszTag).generic_string())
{
    std::error_code error;
    FUZZ_CHECK(std::filesystem::create_directory(m_strPath, error));
}

CFuzzTempFolder::~CFuzzTempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(m_strPath, error);
}
