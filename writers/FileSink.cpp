#include "writers/FileSink.h"

#include "writers/WorldExport.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "foundation/WindowsApi.h"
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// libc++ before 14 (Emscripten's, for one) has no floating point std::to_chars: the writers' own number
// text writes the same.
#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 14000
#define SLP_SHORTEST_NUMBER_TEXT 1
#include "writers/ShortestNumber.h"
#endif

namespace fs = std::filesystem;

namespace
{

#if defined(_WIN32)
typedef wchar_t SystemChar;
#else
typedef char SystemChar;
#endif

// The temporary files being written, for ExportRemovePendingFiles, which a signal handler and the end
// of the process call: a fixed table of pointers to the paths, which their sinks own and leave unchanged
// while they are listed, claimed and released with atomic flags, so removing them needs neither a lock
// nor an allocation, whatever the length of the path. A temporary file that finds no free slot (more
// than 64 at once) is still removed by its sink, only not from a handler.
constexpr int kPendingSlots = 64;
enum PendingStates
{
    PendingFree,
    PendingFilling,
    PendingListed,
    PendingRemoving, // ExportRemovePendingFiles is removing it (perhaps on another thread)
    PendingRemoved
};
struct PendingSlot
{
    std::atomic<int> nState;
    const SystemChar* pszPath;
};
PendingSlot g_Pending[kPendingSlots];

int AddPending(const fs::path& path)
{
    for (int i = 0; i < kPendingSlots; ++i)
    {
        int nFree = PendingFree;
        if (g_Pending[i].nState.compare_exchange_strong(nFree, PendingFilling))
        {
            g_Pending[i].pszPath = path.c_str();
            g_Pending[i].nState.store(PendingListed);
            return i;
        }
    }
    return -1;
}

// Releases the slot; its path may be freed once this returns.
void DropPending(int nSlot)
{
    if (nSlot < 0)
        return;
    std::atomic<int>& state = g_Pending[nSlot].nState;
    for (;;)
    {
        int nState = PendingListed;
        if (state.compare_exchange_strong(nState, PendingFree))
            return;
        if (nState != PendingRemoving)
            break;
        // A handler on another thread is removing the file: it still reads the path.
        std::this_thread::yield();
    }
    state.store(PendingFree);
}

// Temporary files that a sink still lists when the process ends through exit() (whose sinks are never
// destroyed) go with it.
struct CRemovePendingAtExit
{
    ~CRemovePendingAtExit() { ExportRemovePendingFiles(); }
} g_RemovePendingAtExit;

fs::path FromUtf8(const std::string& path)
{
#if defined(_WIN32)
    return fs::u8path(path);
#else
    return fs::path(path);
#endif
}

// Where output to a path goes.
struct COutputPlace
{
    fs::path file;         // the file at the end of the path's chain of symbolic links (perhaps missing)
    int nDescriptor = -1;  // this process's descriptor that the path names (/dev/stdout, /dev/fd/N, ...)
    bool bInPlace = false; // a link whose text names no file (another process's descriptor): opened as it is
    int nError = 0;        // ELOOP for a chain of links that does not end
};

#if !defined(_WIN32)
// The number that a whole name is, or -1.
int DescriptorNumber(const std::string& name)
{
    int n = -1;
    const char* const pEnd = name.data() + name.size();
    const std::from_chars_result result = std::from_chars(name.data(), pEnd, n);
    return !name.empty() && name[0] != '-' && result.ec == std::errc() && result.ptr == pEnd ? n : -1;
}

// Whether the path names one of this process's descriptors (its number in nDescriptor) or another
// process's (/proc/PID/fd/N, whose link text is no path to follow: bInPlace).
void FindDescriptor(const fs::path& path, COutputPlace& place)
{
    const std::string& text = path.native();
    const char* const apStandard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int i = 0; i < 3; ++i)
        if (text == apStandard[i])
            place.nDescriptor = i;
    const int nNumber = DescriptorNumber(path.filename().native());
    if (place.nDescriptor >= 0 || nNumber < 0)
        return;
    if (path.parent_path() == "/dev/fd")
    {
        place.nDescriptor = nNumber;
        return;
    }
#if defined(__linux__)
    // /proc/self/fd, /proc/thread-self/fd and /dev/fd lead to /proc/PID/fd or /proc/PID/task/TID/fd.
    char* pszFolder = ::realpath(path.parent_path().c_str(), nullptr);
    if (pszFolder == nullptr)
        return;
    const std::string folder = pszFolder;
    std::free(pszFolder);
    if (folder.compare(0, 6, "/proc/") != 0 || folder.size() < 10 ||
        folder.compare(folder.size() - 3, 3, "/fd") != 0)
        return;
    const std::string inner = folder.substr(6, folder.size() - 9); // "PID" or "PID/task/TID"
    const size_t nTask = inner.find("/task/");
    const int nProcess = DescriptorNumber(inner.substr(0, nTask));
    if (nProcess < 0 || (nTask != std::string::npos && DescriptorNumber(inner.substr(nTask + 6)) < 0))
        return;
    if (nProcess == static_cast<int>(::getpid()))
        place.nDescriptor = nNumber;
    else
        place.bInPlace = true;
#endif
}
#endif

// Follows the path's symbolic links, a chain of them too, to the file they lead to, which need not
// exist: output goes there, so that the links stay and lead to it.
COutputPlace FindOutputPlace(const fs::path& path)
{
    COutputPlace place;
    place.file = path;
    for (int nLinks = 0;; ++nLinks)
    {
#if !defined(_WIN32)
        FindDescriptor(place.file, place);
        if (place.nDescriptor >= 0 || place.bInPlace)
            return place;
#endif
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(place.file, error)))
            return place;
        const fs::path text = fs::read_symlink(place.file, error);
        if (error)
            return place;
        if (nLinks == 40)
        {
            place.nError = ELOOP;
            return place;
        }
        // A relative link is relative to the folder that holds it; an absolute one replaces the path.
        place.file = place.file.parent_path() / text;
    }
}

#if !defined(_WIN32)
// A file's owner, group and permission bits, to be kept by the file that replaces it.
struct CKeptAttributes
{
    bool bKeep = false;
    struct stat old = {};
};

// Gives the new file the owner, group and permission bits of the file it replaces, as far as the
// process may, as editors that write safely do: where the group cannot be kept, the group may do no
// more than others may, so that no one gains access by the change.
void KeepAttributes(int nFd, const CKeptAttributes& kept)
{
    const struct stat& old = kept.old;
    const bool bGroupKept =
        ::fchown(nFd, old.st_uid, old.st_gid) == 0 || ::fchown(nFd, static_cast<uid_t>(-1), old.st_gid) == 0;
    mode_t mode = old.st_mode & 0777;
    if (!bGroupKept)
        mode &= ~S_IRWXG | ((mode & S_IRWXO) << 3);
    // Should this fail, the file keeps the owner-only permissions it was made with.
    ::fchmod(nFd, mode);
}
#else
struct CKeptAttributes
{
};
#endif

// Creates a new file that no one else has, for writing; null when it cannot be made. A new file has the
// permissions a new file of the user gets (0666 less the umask); one that replaces another is made for
// its owner alone, then given the replaced file's attributes before anything is written to it.
std::FILE* CreateExclusive(const fs::path& path, const CKeptAttributes& kept)
{
#if defined(_WIN32)
    (void)kept;
    int nFd = -1;
    if (::_wsopen_s(&nFd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                    _S_IREAD | _S_IWRITE) != 0)
        return nullptr;
    std::FILE* pFile = ::_fdopen(nFd, "wb");
    if (pFile == nullptr)
        ::_close(nFd);
    return pFile;
#else
    const int nFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kept.bKeep ? 0600 : 0666);
    if (nFd < 0)
        return nullptr;
    if (kept.bKeep)
        KeepAttributes(nFd, kept);
    std::FILE* pFile = ::fdopen(nFd, "wb");
    if (pFile == nullptr)
        ::close(nFd);
    return pFile;
#endif
}

// Moves a file over another in one step, replacing it.
bool ReplaceFile(const fs::path& from, const fs::path& to)
{
#if defined(_WIN32)
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0)
        return true;
    errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Gives a file a second name (a hard link); false where the file system or the system will not.
bool LinkFile(const fs::path& from, const fs::path& to)
{
#if defined(_WIN32)
    return ::CreateHardLinkW(to.c_str(), from.c_str(), nullptr) != 0;
#else
    return ::link(from.c_str(), to.c_str()) == 0;
#endif
}

bool IsRegularFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

// Holds off, on this thread, the signals that end a program while a pair of files changes, so that
// they arrive when the pair is whole, old or new, and no file kept aside is left behind.
class CSignalHold
{
public:
#if defined(_WIN32)
    CSignalHold() {}
#else
    CSignalHold()
    {
        sigset_t hold;
        sigemptyset(&hold);
        for (const int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
            sigaddset(&hold, nSignal);
        pthread_sigmask(SIG_BLOCK, &hold, &m_Previous);
    }
    ~CSignalHold()
    {
        pthread_sigmask(SIG_SETMASK, &m_Previous, nullptr);
    }

private:
    sigset_t m_Previous;
#endif
    CSignalHold(const CSignalHold&) = delete;
    CSignalHold& operator=(const CSignalHold&) = delete;
};

std::atomic<unsigned> g_nTemporaryCounter(0);

// A new name in the folder for a temporary file: hidden where dot files are, unique to this process
// and call (creation is exclusive anyway, and retried with the next number), and short whatever the
// target's name, so that any name that can be created can be written.
fs::path FreshName(const fs::path& folder, const char* pszSuffix)
{
#if defined(_WIN32)
    const unsigned long nProcess = ::GetCurrentProcessId();
#else
    const unsigned long nProcess = static_cast<unsigned long>(::getpid());
#endif
    return folder / (".slp-" + std::to_string(nProcess) + "-" +
                     std::to_string(g_nTemporaryCounter.fetch_add(1)) + pszSuffix);
}

} // namespace

void ExportRemovePendingFiles()
{
    for (PendingSlot& slot : g_Pending)
    {
        int nListed = PendingListed;
        if (!slot.nState.compare_exchange_strong(nListed, PendingRemoving))
            continue;
#if defined(_WIN32)
        ::DeleteFileW(slot.pszPath);
#else
        ::unlink(slot.pszPath);
#endif
        slot.nState.store(PendingRemoved);
    }
}

CFileSink::CFileSink()
    : m_pFile(nullptr), m_bOwnsFile(false), m_bDescriptor(false), m_nUsed(0), m_nCount(0), m_bFailed(false),
      m_nPendingSlot(-1)
{
}

CFileSink::~CFileSink()
{
    Discard();
}

bool CFileSink::Open(const std::string& path)
{
    m_strPath = path;
    const COutputPlace place = FindOutputPlace(FromUtf8(path));
    const fs::path& target = place.file;
    m_Target = target;
    if (place.nError != 0)
    {
        SetError("cannot write", place.nError);
        return false;
    }
#if !defined(_WIN32)
    if (place.nDescriptor >= 0)
    {
        // Written where the descriptor stands, as "-" writes the standard output: a file that the shell
        // opened for appending is appended to, and nothing is truncated or replaced.
        const int nFd = ::fcntl(place.nDescriptor, F_DUPFD_CLOEXEC, 0);
        if (nFd >= 0)
            m_pFile = ::fdopen(nFd, "wb");
        if (m_pFile == nullptr)
        {
            const int nError = errno;
            if (nFd >= 0)
                ::close(nFd);
            SetError("cannot write", nError);
            return false;
        }
        m_bDescriptor = true;
        return Opened();
    }
#endif
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status))
    {
        SetError("cannot write", EISDIR);
        return false;
    }
    if (place.bInPlace || (fs::exists(status) && !fs::is_regular_file(status)))
    {
        // A device or a pipe: written in place, and never replaced or removed.
        errno = 0;
#if defined(_WIN32)
        m_pFile = ::_wfopen(target.c_str(), L"wb");
#else
        m_pFile = std::fopen(target.c_str(), "wb");
#endif
        if (m_pFile == nullptr)
        {
            SetError("cannot write", errno);
            return false;
        }
    }
    else
    {
        CKeptAttributes kept;
#if !defined(_WIN32)
        kept.bKeep = ::stat(target.c_str(), &kept.old) == 0 && S_ISREG(kept.old.st_mode);
#endif
        for (unsigned nTry = 0; m_pFile == nullptr && nTry < 100; ++nTry)
        {
            m_Temporary = FreshName(target.parent_path(), ".tmp");
            // Listed before it exists, so that a signal arriving right after its creation still finds
            // it; the name is this process's own, so removing it early harms no one.
            m_nPendingSlot = AddPending(m_Temporary);
            errno = 0;
            m_pFile = CreateExclusive(m_Temporary, kept);
            if (m_pFile == nullptr)
            {
                const int nError = errno;
                DropPending(m_nPendingSlot);
                m_nPendingSlot = -1;
                m_Temporary.clear();
                errno = nError;
                if (errno != EEXIST)
                    break;
            }
        }
        if (m_pFile == nullptr)
        {
            SetError("cannot create", errno);
            return false;
        }
    }
    return Opened();
}

bool CFileSink::Opened()
{
    m_bOwnsFile = true;
    // Our own buffer does the blocking; the stream's would only copy once more.
    std::setvbuf(m_pFile, nullptr, _IONBF, 0);
    m_pBuffer.reset(new char[BlockSize]);
    return true;
}

bool CFileSink::OpenStream(std::FILE* pStream, const std::string& name)
{
    m_strPath = name;
    m_pFile = pStream;
    m_bOwnsFile = false;
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
    errno = 0;
    const bool bClosed = m_bOwnsFile ? std::fclose(m_pFile) == 0 : std::fflush(m_pFile) == 0;
    m_pFile = nullptr;
    if (bFlushed && !bClosed)
        SetError(m_bOwnsFile ? "cannot finish" : "cannot write", errno);
    if (!bFlushed || !bClosed)
    {
        m_bFailed = true;
        RemoveTemporary();
        return false;
    }
    return true;
}

bool CFileSink::Commit()
{
    if (m_bFailed)
        return false;
    if (m_Temporary.empty())
        return true;
    // Only a file is replaced: a target that became a device, a pipe or a folder while the output was
    // written stays as it is (renaming over a device node would take the device away).
    std::error_code error;
    const fs::file_status status = fs::status(m_Target, error);
    errno = fs::exists(status) && !fs::is_regular_file(status) ? EEXIST : 0;
    if (errno != 0 || !ReplaceFile(m_Temporary, m_Target))
    {
        SetError("cannot replace", errno);
        m_bFailed = true;
        RemoveTemporary();
        return false;
    }
    DropPending(m_nPendingSlot);
    m_nPendingSlot = -1;
    m_Temporary.clear();
    return true;
}

bool CFileSink::CommitPair(CFileSink& companion)
{
    if (m_bFailed || companion.m_bFailed)
        return false;
    const CSignalHold hold;
    // The old pair waits under temporary names until the new one is in place. The old companion moves
    // aside first, so that no old file ever stands beside a new one, not even after a crash between two
    // steps; the old main file keeps its name (through a second name, where the system gives one) until
    // the new one replaces it.
    fs::path companionAside, mainAside;
    bool bMainMoved = false;
    if (!companion.m_Temporary.empty() && IsRegularFile(companion.m_Target))
    {
        companionAside = FreshName(companion.m_Target.parent_path(), ".old");
        if (!ReplaceFile(companion.m_Target, companionAside))
        {
            companion.Fail("cannot replace");
            return false;
        }
    }
    const bool bMainReplaced = !m_Temporary.empty();
    if (bMainReplaced && IsRegularFile(m_Target))
    {
        mainAside = FreshName(m_Target.parent_path(), ".old");
        if (!LinkFile(m_Target, mainAside) && !(bMainMoved = ReplaceFile(m_Target, mainAside)))
        {
            Fail("cannot replace");
            m_strError += PutBack(companionAside, companion.m_Target);
            return false;
        }
    }
    std::string putBack;
    if (!Commit())
    {
        if (bMainMoved)
            putBack = PutBack(mainAside, m_Target);
        else
            RemoveQuietly(mainAside);
    }
    else if (!companion.Commit())
    {
        // The new main file goes: the old one takes its place again, or, when there was none, nothing.
        if (!mainAside.empty())
            putBack = PutBack(mainAside, m_Target);
        else if (bMainReplaced)
            RemoveQuietly(m_Target);
    }
    else
    {
        RemoveQuietly(mainAside);
        RemoveQuietly(companionAside);
        return true;
    }
    putBack += PutBack(companionAside, companion.m_Target);
    (m_bFailed ? m_strError : companion.m_strError) += putBack;
    return false;
}

std::string CFileSink::PutBack(const fs::path& aside, const fs::path& target)
{
    if (aside.empty() || ReplaceFile(aside, target))
        return std::string();
    // Then the previous file stays where it is, and the message says where.
    return "; the previous " + target.u8string() + " is kept as " + aside.u8string();
}

void CFileSink::RemoveQuietly(const fs::path& path)
{
    std::error_code error;
    if (!path.empty())
        fs::remove(path, error);
}

void CFileSink::Fail(const char* pszWhat)
{
    SetError(pszWhat, errno);
    m_bFailed = true;
    RemoveTemporary();
}

void CFileSink::Discard()
{
    if (m_pFile != nullptr && m_bOwnsFile)
        std::fclose(m_pFile);
    m_pFile = nullptr;
    RemoveTemporary();
}

void CFileSink::RemoveTemporary()
{
    if (m_Temporary.empty())
        return;
    std::error_code error;
    fs::remove(m_Temporary, error);
    DropPending(m_nPendingSlot);
    m_nPendingSlot = -1;
    m_Temporary.clear();
}

void CFileSink::Spill(const void* pData, size_t nBytes)
{
    if (!FlushBuffer())
        return;
    if (nBytes >= DirectBytes)
    {
        errno = 0;
        if (std::fwrite(pData, 1, nBytes, m_pFile) != nBytes)
        {
            SetError("cannot write", errno);
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
    errno = 0;
    if (m_nUsed > 0 && std::fwrite(m_pBuffer.get(), 1, m_nUsed, m_pFile) != m_nUsed)
    {
        SetError("cannot write", errno);
        m_bFailed = true;
    }
    m_nUsed = 0;
    return !m_bFailed;
}

void CFileSink::SetError(const char* pszWhat, int nError)
{
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

size_t CFileSink::FloatText(float f, char* pOut)
{
    if (std::isnan(f))
    {
        std::memcpy(pOut, "nan", 3);
        return 3;
    }
    if (std::isinf(f))
    {
        std::memcpy(pOut, f < 0 ? "-inf" : "inf", f < 0 ? 4 : 3);
        return f < 0 ? 4 : 3;
    }
#if defined(SLP_SHORTEST_NUMBER_TEXT)
    return ShortestFloatText(f, pOut);
#else
    return static_cast<size_t>(std::to_chars(pOut, pOut + FloatTextBytes, f).ptr - pOut);
#endif
}

CFileSink& CFileSink::Double(double d)
{
    if (std::isnan(d))
        return *this << "nan";
    if (std::isinf(d))
        return *this << (d < 0 ? "-inf" : "inf");
    char szBuffer[32];
#if defined(SLP_SHORTEST_NUMBER_TEXT)
    return Text(szBuffer, ShortestDoubleText(d, szBuffer));
#else
    const std::to_chars_result result = std::to_chars(szBuffer, szBuffer + sizeof(szBuffer), d);
    return Text(szBuffer, static_cast<size_t>(result.ptr - szBuffer));
#endif
}

CFileSink& CFileSink::JsonFloat(float f)
{
    return std::isfinite(f) ? Float(f) : *this << "null";
}

CFileSink& CFileSink::JsonString(const std::string& strUtf8)
{
    static const char szHex[] = "0123456789abcdef";
    *this << '"';
    // Runs of characters that stand as they are go out whole.
    const char* pRun = strUtf8.data();
    const char* const pEnd = pRun + strUtf8.size();
    for (const char* p = pRun; p < pEnd; ++p)
    {
        const char c = *p;
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F && c != '"' && c != '\\')
            continue;
        Write(pRun, static_cast<size_t>(p - pRun));
        pRun = p + 1;
        if (c == '"' || c == '\\')
            *this << '\\' << c;
        else if (c == '\n')
            *this << "\\n";
        else if (c == '\r')
            *this << "\\r";
        else if (c == '\t')
            *this << "\\t";
        else
            *this << "\\u00" << szHex[u >> 4] << szHex[u & 15];
    }
    Write(pRun, static_cast<size_t>(pEnd - pRun));
    return *this << '"';
}

bool CFileSink::Rewrite(unsigned long long nOffset, const void* pData, size_t nBytes)
{
    if (!CanRewrite() || m_bFailed || nOffset > m_nCount || nBytes > m_nCount - nOffset)
        return false;
    // The bytes still buffered are changed there; others in the file, after what is buffered.
    const unsigned long long nBufferStart = m_nCount - m_nUsed;
    if (nOffset >= nBufferStart)
    {
        std::memcpy(m_pBuffer.get() + (nOffset - nBufferStart), pData, nBytes);
        return true;
    }
    if (!FlushBuffer())
        return false;
    errno = 0;
#if defined(_WIN32)
    const bool bWritten = ::_fseeki64(m_pFile, static_cast<long long>(nOffset), SEEK_SET) == 0 &&
                          std::fwrite(pData, 1, nBytes, m_pFile) == nBytes &&
                          ::_fseeki64(m_pFile, 0, SEEK_END) == 0;
#else
    const bool bWritten = ::fseeko(m_pFile, static_cast<off_t>(nOffset), SEEK_SET) == 0 &&
                          std::fwrite(pData, 1, nBytes, m_pFile) == nBytes &&
                          ::fseeko(m_pFile, 0, SEEK_END) == 0;
#endif
    if (bWritten)
        return true;
    SetError("cannot write", errno);
    m_bFailed = true;
    return false;
}

bool CFileSink::Flush()
{
    if (m_pFile == nullptr)
        return !m_bFailed;
    if (!FlushBuffer())
        return false;
    errno = 0;
    if (std::fflush(m_pFile) == 0)
        return true;
    SetError("cannot write", errno);
    m_bFailed = true;
    return false;
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

bool OpenOutputs(const CExportOptions& options, CExportReport& report, CFileSink& main,
                 const std::string& path, CFileSink* pCompanion, ExportFormatTypes eFormat)
{
    if (options.m_pStream != nullptr && pCompanion == nullptr)
        return main.OpenStream(options.m_pStream, path);
    if (options.m_pStream == nullptr && !main.Open(path))
    {
        report.m_eResult = ExportCannotOpen;
        report.m_strMessage = main.GetError();
        return false;
    }
    if (pCompanion == nullptr)
        return true;
    if (options.m_pStream != nullptr || main.WritesToStream())
    {
        main.Discard();
        report.m_eResult = ExportCannotOpen;
        report.m_strMessage = "cannot write " + path + " to a stream: the format needs a second file (" +
                              ExportCompanionPath(path, eFormat) + ")";
        return false;
    }
    if (pCompanion->Open(ExportCompanionPath(main.GetTarget(), eFormat)))
        return true;
    report.m_eResult = ExportCannotOpen;
    report.m_strMessage = pCompanion->GetError();
    main.Discard();
    pCompanion->Discard();
    return false;
}

std::string ExportCompanionTarget(const std::string& path, ExportFormatTypes eFormat)
{
    const COutputPlace place = FindOutputPlace(FromUtf8(path));
    return ExportCompanionPath(place.nDescriptor >= 0 ? path : place.file.u8string(), eFormat);
}

bool FinishOutputs(CExportReport& report, CFileSink& main, CFileSink* pCompanion)
{
    const bool bClosed = main.Close() && (pCompanion == nullptr || pCompanion->Close());
    if (!bClosed || !(pCompanion != nullptr ? main.CommitPair(*pCompanion) : main.Commit()))
    {
        report.m_eResult = ExportWriteFailed;
        report.m_strMessage = !main.GetError().empty() ? main.GetError() : pCompanion->GetError();
        main.Discard();
        if (pCompanion != nullptr)
            pCompanion->Discard();
        return false;
    }
    report.m_Files.push_back(main.GetPath());
    if (pCompanion != nullptr)
        report.m_Files.push_back(pCompanion->GetPath());
    return true;
}
