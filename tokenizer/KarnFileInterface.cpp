// 64-bit file offsets on 32-bit systems too, so files over 2 GiB read completely.
#if !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "tokenizer/KarnFileInterface.h"

#include "tokenizer/GzipInflate.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#if defined(_WIN32)
#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include "foundation/WindowsApi.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The operating-system calls live in these few functions, one set per platform, so the reader's logic is
// the same everywhere. The path reaches them in the system's own form: UTF-8 bytes on POSIX systems,
// UTF-16 on Windows (so every name opens there, not only those the ANSI code page can spell).
namespace
{
enum OpenOutcome
{
    OpenOk,
    OpenRefused
};

#if !defined(_WIN32)
typedef char SystemChar;

OpenOutcome SystemOpen(const SystemChar* pszPath, int& nHandle, long long& nSize)
{
    // Non-blocking, so that opening a named pipe without a writer does not wait for one forever; the
    // flag is cleared again at once. Reading such a pipe then finds its end at once, and a pipe whose
    // writer came first is read to the writer's end.
    int nFlags = O_RDONLY | O_NONBLOCK;
#if defined(O_CLOEXEC)
    nFlags |= O_CLOEXEC;
#endif
    int nFd;
    if (std::strcmp(pszPath, "/dev/stdin") == 0)
        nFd = ::fcntl(0, F_DUPFD_CLOEXEC, 0); // the standard input itself, whatever it is
    else
        do
        {
            nFd = ::open(pszPath, nFlags);
        } while (nFd < 0 && errno == EINTR);
    if (nFd < 0)
        return OpenRefused;
    struct stat info;
    // A directory would fail on the first read. Anything else that reads is taken: a regular file with
    // its size, or a stream (pipe, terminal, socket, device) whose size is known only at its end.
    if (::fstat(nFd, &info) != 0 || S_ISDIR(info.st_mode) ||
        ::fcntl(nFd, F_SETFL, ::fcntl(nFd, F_GETFL) & ~O_NONBLOCK) != 0)
    {
        const int nError = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(nFd);
        errno = nError;
        return OpenRefused;
    }
    nHandle = nFd;
    nSize = S_ISREG(info.st_mode) ? static_cast<long long>(info.st_size) : -1;
    return OpenOk;
}

void SystemClose(int nHandle)
{
    ::close(nHandle);
}

// Reads up to nCount bytes from the read position, or from nAt when it is not negative (without moving
// the read position); returns the number read (fewer only at the end of the file) or -1 with the
// system's error code in nError. A wait that a signal interrupts asks the watcher whether to go on.
long long SystemRead(int nHandle, char* pBuffer, size_t nCount, long long nAt, CKarnReadWatcher* pWatcher,
                     long long nOffset, int& nError)
{
    size_t nDone = 0;
    while (nDone < nCount)
    {
        size_t nAsk = nCount - nDone;
        if (nAsk > static_cast<size_t>(INT_MAX))
            nAsk = static_cast<size_t>(INT_MAX);
        errno = 0;
        const ssize_t nGot = nAt < 0 ? ::read(nHandle, pBuffer + nDone, nAsk)
                                     : ::pread(nHandle, pBuffer + nDone, nAsk,
                                               static_cast<off_t>(nAt + static_cast<long long>(nDone)));
        if (nGot < 0)
        {
            nError = errno != 0 ? errno : EIO;
            if (nError != EINTR)
                return -1;
            nError = pWatcher != nullptr ? pWatcher->BeforeRead(nOffset + static_cast<long long>(nDone)) : 0;
            if (nError != 0)
                return -1;
            continue;
        }
        if (nGot == 0)
            break;
        nDone += static_cast<size_t>(nGot);
    }
    nError = 0;
    return static_cast<long long>(nDone);
}

bool SystemSeek(int nHandle, long long nOffset)
{
    return ::lseek(nHandle, static_cast<off_t>(nOffset), SEEK_SET) == static_cast<off_t>(nOffset);
}
#else
typedef wchar_t SystemChar;

OpenOutcome SystemOpen(const SystemChar* pszPath, int& nHandle, long long& nSize)
{
    // Binary, so no byte is translated; not inherited by child processes, as O_CLOEXEC elsewhere; and
    // shared for reading and writing, so a file another program has open still loads.
    int nFd = -1;
    if (std::wcscmp(pszPath, L"/dev/stdin") == 0)
    {
        // The name a POSIX system gives the standard input stands for it here too.
        nFd = ::_dup(0);
        if (nFd < 0)
            return OpenRefused;
        ::_setmode(nFd, _O_BINARY);
    }
    else if (::_wsopen_s(&nFd, pszPath, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) != 0 || nFd < 0)
    {
        // The system refuses a folder as access denied; say what it is.
        struct _stat64 folder;
        if (errno == EACCES && ::_wstat64(pszPath, &folder) == 0 && (folder.st_mode & _S_IFMT) == _S_IFDIR)
            errno = EISDIR;
        return OpenRefused;
    }
    struct _stat64 info;
    if (::_fstat64(nFd, &info) != 0 || (info.st_mode & _S_IFMT) == _S_IFDIR)
    {
        ::_close(nFd);
        errno = EISDIR;
        return OpenRefused;
    }
    nHandle = nFd;
    nSize = (info.st_mode & _S_IFMT) == _S_IFREG ? static_cast<long long>(info.st_size) : -1;
    return OpenOk;
}

void SystemClose(int nHandle)
{
    ::_close(nHandle);
}

long long SystemRead(int nHandle, char* pBuffer, size_t nCount, long long nAt, CKarnReadWatcher* pWatcher,
                     long long nOffset, int& nError)
{
    (void)pWatcher;
    (void)nOffset;
    size_t nDone = 0;
    if (nAt >= 0)
    {
        // A positional read through the system's handle, which neither moves nor uses the position
        // that _read shares between threads.
        const HANDLE hFile = reinterpret_cast<HANDLE>(::_get_osfhandle(nHandle));
        while (nDone < nCount)
        {
            const size_t nLeft = nCount - nDone;
            const DWORD nAsk = nLeft > 0x40000000u ? 0x40000000u : static_cast<DWORD>(nLeft);
            const unsigned long long nFrom = static_cast<unsigned long long>(nAt) + nDone;
            OVERLAPPED overlapped = {};
            overlapped.Offset = static_cast<DWORD>(nFrom & 0xFFFFFFFFu);
            overlapped.OffsetHigh = static_cast<DWORD>(nFrom >> 32);
            DWORD nGot = 0;
            if (!::ReadFile(hFile, pBuffer + nDone, nAsk, &nGot, &overlapped))
            {
                if (::GetLastError() == ERROR_HANDLE_EOF)
                    break;
                nError = EIO;
                return -1;
            }
            if (nGot == 0)
                break;
            nDone += nGot;
        }
        nError = 0;
        return static_cast<long long>(nDone);
    }
    while (nDone < nCount)
    {
        size_t nAsk = nCount - nDone;
        if (nAsk > static_cast<size_t>(INT_MAX))
            nAsk = static_cast<size_t>(INT_MAX);
        errno = 0;
        int nGot = ::_read(nHandle, pBuffer + nDone, static_cast<unsigned int>(nAsk));
        if (nGot < 0)
        {
            nError = errno != 0 ? errno : EIO;
            return -1;
        }
        if (nGot == 0)
            break;
        nDone += static_cast<size_t>(nGot);
    }
    nError = 0;
    return static_cast<long long>(nDone);
}

bool SystemSeek(int nHandle, long long nOffset)
{
    return ::_lseeki64(nHandle, nOffset, SEEK_SET) == nOffset;
}
#endif

typedef std::basic_string<SystemChar> SystemPath;

// The path in the system's form: narrow text is the system's own on POSIX systems and converts from the
// ANSI code page on Windows; wide text converts to the bytes it stands for on POSIX systems (UTF-8, and
// escaped bytes back to themselves) and is the system's own on Windows. False when the text cannot be
// converted.
bool ToSystemPath(const char* pszPath, SystemPath& path)
{
#if defined(_WIN32)
    const int nSize = BasicMultiByteToWide(pszPath, nullptr, 0);
    if (nSize <= 0)
        return false;
    path.assign(static_cast<size_t>(nSize), L'\0');
    if (BasicMultiByteToWide(pszPath, &path[0], nSize) != nSize)
        return false;
    path.resize(static_cast<size_t>(nSize - 1));
#else
    path.assign(pszPath);
#endif
    return true;
}

bool ToSystemPath(const WideChar* pszPath, SystemPath& path)
{
#if defined(_WIN32)
    path.assign(pszPath);
#else
    const int nSize = BasicWideToPath(pszPath, nullptr, 0);
    if (nSize <= 0)
        return false;
    path.assign(static_cast<size_t>(nSize), '\0');
    if (BasicWideToPath(pszPath, &path[0], nSize) != nSize)
        return false;
    path.resize(static_cast<size_t>(nSize - 1));
#endif
    return true;
}
// Opens a path that converted (bNamed), recording the system's error code of a failure (a name that
// does not convert counts as missing).
GenericLoadResultTypes OpenAt(bool bNamed, const SystemPath& path, int& nHandle, long long& nSize,
                              int& nError)
{
    nError = ENOENT;
    if (!bNamed)
        return GenericLoadOpenFailed;
    errno = 0;
    if (SystemOpen(path.c_str(), nHandle, nSize) != OpenOk)
    {
        nError = errno != 0 ? errno : EINVAL;
        return GenericLoadOpenFailed;
    }
    nError = 0;
    return GenericLoadSuccess;
}
} // namespace

// The constant's one definition, for code that binds it to a reference (std::min, say).
const size_t CKarnFileInterface::DefaultBlockSize;

CKarnFileInterface::CKarnFileInterface()
    : m_nHandle(-1), m_pBlock(nullptr), m_nBlockCapacity(0), m_nBlockLength(0),
      m_nBlockSize(DefaultBlockSize), m_nBlockOffset(0), m_nNextOffset(0), m_nFileSize(0), m_nSystemError(0),
      m_bStartsAsBinary(false), m_bStream(false), m_pWatcher(nullptr), m_pSource(nullptr), m_pLent(nullptr),
      m_nHandleOffset(0), m_bFromStart(false), m_pGzip(nullptr), m_bGzip(false), m_bCorruptGzip(false),
      m_bSourceEnded(false), m_nSourceOffset(0), m_nSourceSize(0)
{
}

CKarnBlockSource::~CKarnBlockSource() = default;

void CKarnFileInterface::NoteOpened()
{
    m_bStream = m_nFileSize < 0;
    m_nHandleOffset = 0;
    m_bFromStart = false;
    if (m_nHandle < 0 || m_bStream)
        return;
        // A regular file is read from where its handle stands: the start, but for a standard input that a
        // program left elsewhere. Offsets count from there; only a file read from its start is read at
        // offsets of its own (ReadAt, and a reader's moves).
#if defined(_WIN32)
    m_bFromStart = ::_lseeki64(m_nHandle, 0, SEEK_CUR) == 0;
#else
    m_bFromStart = ::lseek(m_nHandle, 0, SEEK_CUR) == 0;
#endif
}

CKarnReadWatcher::~CKarnReadWatcher() = default;

int CKarnReadWatcher::BeforeRead(long long)
{
    return 0;
}

int CKarnReadWatcher::AfterRead(long long, const char*, size_t)
{
    return 0;
}

CKarnFileInterface::~CKarnFileInterface()
{
    CloseFile();
    delete[] m_pBlock;
}

GenericLoadResultTypes CKarnFileInterface::OpenFile(const char* pszPath)
{
    CloseFile();
    m_bStartsAsBinary = false;
    m_bGzip = m_bCorruptGzip = false;
    SystemPath path;
    const GenericLoadResultTypes eResult =
        OpenAt(pszPath != nullptr && *pszPath != '\0' && ToSystemPath(pszPath, path), path, m_nHandle,
               m_nFileSize, m_nSystemError);
    NoteOpened();
    CheckGzipAtOpen();
    return eResult;
}

GenericLoadResultTypes CKarnFileInterface::OpenFile(const WideChar* pszPath)
{
    CloseFile();
    m_bStartsAsBinary = false;
    m_bGzip = m_bCorruptGzip = false;
    SystemPath path;
    const GenericLoadResultTypes eResult =
        OpenAt(pszPath != nullptr && *pszPath != 0 && ToSystemPath(pszPath, path), path, m_nHandle,
               m_nFileSize, m_nSystemError);
    NoteOpened();
    CheckGzipAtOpen();
    return eResult;
}

bool CKarnFileInterface::CloseFile()
{
    m_nBlockLength = 0;
    m_nBlockOffset = 0;
    m_nNextOffset = 0;
    m_nHandleOffset = 0;
    m_pLent = nullptr;
    m_LentKeep.reset();
    delete m_pGzip;
    m_pGzip = nullptr;
    m_bSourceEnded = false;
    m_nSourceOffset = m_nSourceSize = 0;
    if (m_nHandle < 0)
        return false;
    SystemClose(m_nHandle);
    m_nHandle = -1;
    m_nFileSize = 0;
    return true;
}

long long CKarnFileInterface::PositionalAt() const
{
#if defined(_WIN32)
    // A positional read moves a Windows handle's position, and threads reading ahead (ReadAt) make such
    // reads at any time: a regular file is read at its offsets, whatever the handle's position.
    return !m_bStream && m_bFromStart ? m_nNextOffset : -1;
#else
    return -1;
#endif
}

void CKarnFileInterface::AllocateBlock()
{
    if (m_nBlockCapacity != m_nBlockSize)
    {
        // Allocate before freeing, so a failed allocation leaves the reader as it was.
        char* pNew = new char[m_nBlockSize];
        delete[] m_pBlock;
        m_pBlock = pNew;
        m_nBlockCapacity = m_nBlockSize;
    }
}

bool CKarnFileInterface::ReadNextBlockFromFile()
{
    m_pLent = nullptr;
    m_LentKeep.reset();
    if (m_bGzip && m_nHandle >= 0)
        return ReadInflatedBlock();
    m_nBlockOffset = m_nNextOffset;
    m_nBlockLength = 0;
    if (m_nHandle < 0)
        return false;
    if (m_pSource != nullptr && !m_bStream && m_nNextOffset > 0 && m_nNextOffset < m_nFileSize)
    {
        // Read already: the bytes a read would give, without reading them again.
        const long long nLeft = m_nFileSize - m_nNextOffset;
        const size_t nLength =
            nLeft < static_cast<long long>(m_nBlockSize) ? static_cast<size_t>(nLeft) : m_nBlockSize;
        const char* pData = nullptr;
        if (m_pSource->LendBlock(m_nNextOffset, nLength, pData, m_LentKeep))
        {
            m_pLent = pData;
            m_nBlockLength = nLength;
            m_nNextOffset += static_cast<long long>(nLength);
            m_nSystemError = 0;
            return true;
        }
        m_LentKeep.reset();
    }
    // Lent blocks leave the handle's position where it was.
    if (m_nHandleOffset != m_nNextOffset && !m_bStream && m_bFromStart)
    {
        if (!SystemSeek(m_nHandle, m_nNextOffset))
        {
            m_nSystemError = errno != 0 ? errno : EIO;
            return false;
        }
        m_nHandleOffset = m_nNextOffset;
    }
    AllocateBlock();
    int nError = m_pWatcher != nullptr ? m_pWatcher->BeforeRead(m_nBlockOffset) : 0;
    const long long nGot = nError != 0 ? -1
                                       : SystemRead(m_nHandle, m_pBlock, m_nBlockSize, PositionalAt(),
                                                    m_pWatcher, m_nBlockOffset, nError);
    if (nGot >= 0 && m_nBlockOffset == 0)
        m_bStartsAsBinary = std::memchr(m_pBlock, 0, static_cast<size_t>(nGot)) != nullptr;
    if (nGot >= 0 && m_pWatcher != nullptr)
        nError = m_pWatcher->AfterRead(m_nBlockOffset, m_pBlock, static_cast<size_t>(nGot));
    if (nGot < 0 || nError != 0)
    {
        m_nSystemError = nError != 0 ? nError : EIO;
        m_nHandleOffset = -1; // how far a failed read went is unknown
        return false;
    }
    // A stream whose first block is gzip data becomes the text it holds.
    if (m_nBlockOffset == 0 && m_bStream && CGzipInflate::StartsGzip(m_pBlock, static_cast<size_t>(nGot)))
        return StartInflating(static_cast<size_t>(nGot));
    m_nSystemError = 0;
    m_nBlockLength = static_cast<size_t>(nGot);
    m_nHandleOffset += nGot;
    m_nNextOffset += nGot;
    // A stream's size is what it held, once its end is reached.
    if (nGot == 0 && m_nFileSize < 0)
        m_nFileSize = m_nNextOffset;
    return true;
}

long long CKarnFileInterface::ReadAt(long long nOffset, char* pBuffer, size_t nCount, int& nError) const
{
    nError = EBADF;
    if (!IsRegularFile() || nOffset < 0)
        return -1;
    nError = m_pWatcher != nullptr ? m_pWatcher->BeforeRead(nOffset) : 0;
    if (nError != 0)
        return -1;
    const long long nGot = SystemRead(m_nHandle, pBuffer, nCount, nOffset, m_pWatcher, nOffset, nError);
    if (nGot >= 0 && m_pWatcher != nullptr)
        nError = m_pWatcher->AfterRead(nOffset, pBuffer, static_cast<size_t>(nGot));
    return nError != 0 ? -1 : nGot;
}

bool CKarnFileInterface::SeekToOffset(long long nOffset)
{
    m_nBlockLength = 0;
    m_pLent = nullptr;
    m_LentKeep.reset();
    if (m_nHandle < 0 || nOffset < 0 || m_bGzip || !SystemSeek(m_nHandle, nOffset))
        return false;
    m_nBlockOffset = nOffset;
    m_nNextOffset = nOffset;
    m_nHandleOffset = nOffset;
    return true;
}

unsigned long long CKarnFileInterface::GetChangeStamp() const
{
    if (m_nHandle < 0)
        return 0;
#if defined(_WIN32)
    struct _stat64 info;
    if (::_fstat64(m_nHandle, &info) != 0)
        return 0;
    const unsigned long long aParts[] = {static_cast<unsigned long long>(info.st_size),
                                         static_cast<unsigned long long>(info.st_mtime),
                                         static_cast<unsigned long long>(info.st_ctime)};
#else
    struct stat info;
    if (::fstat(m_nHandle, &info) != 0)
        return 0;
    const unsigned long long aParts[] = {static_cast<unsigned long long>(info.st_size),
                                         static_cast<unsigned long long>(info.st_mtim.tv_sec),
                                         static_cast<unsigned long long>(info.st_mtim.tv_nsec),
                                         static_cast<unsigned long long>(info.st_ctim.tv_sec),
                                         static_cast<unsigned long long>(info.st_ctim.tv_nsec),
                                         static_cast<unsigned long long>(info.st_ino)};
#endif
    unsigned long long nStamp = 1469598103934665603ULL;
    for (const unsigned long long nPart : aParts)
        nStamp = (nStamp ^ nPart) * 1099511628211ULL;
    return nStamp | 1;
}

void CKarnFileInterface::SetBlockSize(size_t nBytes)
{
    m_nBlockSize = nBytes == 0 ? DefaultBlockSize : nBytes;
}

// ---------------------------------------------------------------------------------------------------
// Gzipped files

long long CKarnFileInterface::GetSourceOffset() const
{
    return m_bGzip ? m_nSourceOffset : m_nNextOffset;
}

long long CKarnFileInterface::GetSourceSize() const
{
    return m_bGzip ? m_nSourceSize : m_nFileSize;
}

void CKarnFileInterface::CheckGzipAtOpen()
{
    m_nSourceOffset = 0;
    m_nSourceSize = m_nFileSize;
    if (m_nHandle < 0 || m_bStream)
        return; // a stream shows what it is at its first block
        // The first two bytes where the reading starts (a standard input may stand past its start), read in
        // place; a positional read moves the position of a handle that Windows opened for plain reads, so it
        // is put back where it stood.
#if defined(_WIN32)
    const long long nAt = ::_lseeki64(m_nHandle, 0, SEEK_CUR);
#else
    const long long nAt = static_cast<long long>(::lseek(m_nHandle, 0, SEEK_CUR));
#endif
    if (nAt < 0)
        return;
    char aMagic[2];
    int nError = 0;
    const bool bGzip = SystemRead(m_nHandle, aMagic, sizeof(aMagic), nAt, nullptr, nAt, nError) == 2 &&
                       CGzipInflate::StartsGzip(aMagic, 2);
    SystemSeek(m_nHandle, nAt);
    if (!bGzip)
        return;
    m_bGzip = true;
    m_bStream = true;
    m_nFileSize = -1;
}

bool CKarnFileInterface::StartInflating(size_t nRawBytes)
{
    m_bGzip = true;
    m_bStartsAsBinary = false; // told by the text, not by the compressed bytes
    m_nSourceSize = -1;
    m_nSourceOffset = static_cast<long long>(nRawBytes);
    if (!CGzipInflate::IsAvailable())
    {
        m_nSystemError = ENOTSUP;
        return false;
    }
    // Compressed reads of the block size, so the first block fits as it was read.
    std::unique_ptr<CGzipInflate> pGzip = CGzipInflate::Create(m_nBlockSize);
    std::memcpy(pGzip->InputBuffer(), m_pBlock, nRawBytes);
    pGzip->Feed(nRawBytes);
    m_pGzip = pGzip.release();
    m_nNextOffset = 0;
    return ReadInflatedBlock();
}

bool CKarnFileInterface::ReadInflatedBlock()
{
    m_nBlockOffset = m_nNextOffset;
    m_nBlockLength = 0;
    if (m_pGzip == nullptr)
    {
        if (!CGzipInflate::IsAvailable())
        {
            m_nSystemError = ENOTSUP;
            return false;
        }
        m_pGzip = CGzipInflate::Create(m_nBlockSize).release();
    }
    AllocateBlock();
    size_t nFilled = 0;
    for (;;)
    {
        if (m_pGzip->NeedsInput() && !m_bSourceEnded)
        {
            // The watcher sees the compressed reads, at their offsets in the file.
            char* const pInput = m_pGzip->InputBuffer();
            int nError = m_pWatcher != nullptr ? m_pWatcher->BeforeRead(m_nSourceOffset) : 0;
            const long long nGot = nError != 0 ? -1
                                               : SystemRead(m_nHandle, pInput, m_pGzip->InputCapacity(), -1,
                                                            m_pWatcher, m_nSourceOffset, nError);
            if (nGot >= 0 && m_pWatcher != nullptr)
                nError = m_pWatcher->AfterRead(m_nSourceOffset, pInput, static_cast<size_t>(nGot));
            if (nGot < 0 || nError != 0)
            {
                m_nSystemError = nError != 0 ? nError : EIO;
                return false;
            }
            m_pGzip->Feed(static_cast<size_t>(nGot));
            m_nSourceOffset += nGot;
            if (nGot == 0)
            {
                m_bSourceEnded = true;
                m_nSourceSize = m_nSourceOffset;
            }
        }
        size_t nProduced = 0;
        const CGzipInflate::Status eStatus =
            m_pGzip->Inflate(m_pBlock + nFilled, m_nBlockSize - nFilled, m_bSourceEnded, nProduced);
        nFilled += nProduced;
        if (eStatus == CGzipInflate::GzipCorrupt)
        {
            m_bCorruptGzip = true;
            m_nSystemError = EILSEQ;
            return false;
        }
        if (eStatus == CGzipInflate::GzipEnded || nFilled == m_nBlockSize)
            break;
    }
    if (m_nBlockOffset == 0)
        m_bStartsAsBinary = std::memchr(m_pBlock, 0, nFilled) != nullptr;
    m_nSystemError = 0;
    m_nBlockLength = nFilled;
    m_nNextOffset += static_cast<long long>(nFilled);
    if (nFilled == 0)
        m_nFileSize = m_nNextOffset;
    return true;
}
