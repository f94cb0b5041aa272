// Loaded into the slp program by the tests (LD_PRELOAD): makes the program's reads of one file fail
// part way, as a failing disk or network file system does. SLP_TEST_FAIL_READS_OF names the file (the
// end of its path), SLP_TEST_FAIL_READS_AT the offset from which every read of it fails with EIO. Any
// other read goes through untouched.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{

// Whether a read of nCount bytes at nOffset of the descriptor is one to fail.
bool Fails(int nFd, off_t nOffset, size_t nCount)
{
    const char* const pszName = std::getenv("SLP_TEST_FAIL_READS_OF");
    const char* const pszAt = std::getenv("SLP_TEST_FAIL_READS_AT");
    if (pszName == nullptr || pszAt == nullptr)
        return false;
    char szPath[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(nFd);
    const ssize_t nLength = ::readlink(link.c_str(), szPath, sizeof szPath - 1);
    if (nLength <= 0)
        return false;
    const std::string path(szPath, static_cast<size_t>(nLength));
    const std::string name(pszName);
    if (path.size() < name.size() || path.compare(path.size() - name.size(), name.size(), name) != 0)
        return false;
    const long long nFailAt = std::atoll(pszAt);
    return nOffset + static_cast<long long>(nCount) > nFailAt;
}

template <class F> F Next(const char* pszName)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, pszName));
}

} // namespace

extern "C" ssize_t read(int nFd, void* pBuffer, size_t nCount)
{
    static const auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
    if (Fails(nFd, ::lseek(nFd, 0, SEEK_CUR), nCount))
    {
        errno = EIO;
        return -1;
    }
    return real(nFd, pBuffer, nCount);
}

extern "C" ssize_t pread64(int nFd, void* pBuffer, size_t nCount, off_t nOffset)
{
    static const auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
    if (Fails(nFd, nOffset, nCount))
    {
        errno = EIO;
        return -1;
    }
    return real(nFd, pBuffer, nCount, nOffset);
}

extern "C" ssize_t pread(int nFd, void* pBuffer, size_t nCount, off_t nOffset)
{
    return pread64(nFd, pBuffer, nCount, nOffset);
}
