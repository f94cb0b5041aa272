#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#define SLP_ISATTY ::_isatty
#define SLP_STDERR_FILENO 2
#else
#include <unistd.h>
#define SLP_ISATTY ::isatty
#define SLP_STDERR_FILENO STDERR_FILENO
#endif

bool ParseArguments(const char* pszCommand, const std::vector<std::string>& arguments,
                    std::vector<COptionSpec> specs, const char* pszHelp, CArguments& parsed, int& nExit)
{
    specs.push_back(COptionSpec{"--help", 'h', false});
    std::string error;
    if (!parsed.Parse(arguments, specs, error))
    {
        nExit = UsageError(pszCommand, error + " (slp " + pszCommand + " --help lists the options)");
        return false;
    }
    if (parsed.Has("--help"))
    {
        std::fputs(pszHelp, stdout);
        nExit = 0;
        return false;
    }
    return true;
}

namespace
{
std::string g_StdoutError;  // the first failure of a CStdout
bool g_bStdoutTold = false; // a failure to write the standard output has been reported
} // namespace

CStdout::~CStdout()
{
    if (!Flush() && g_StdoutError.empty())
        g_StdoutError = GetError();
}

std::string FinishStandardOutput()
{
    errno = 0;
    const bool bFlushed = std::fflush(stdout) == 0;
    const int nError = errno;
    if (g_bStdoutTold || (bFlushed && !std::ferror(stdout)))
        return std::string();
    if (!g_StdoutError.empty())
        return g_StdoutError;
    return "cannot write standard output: " +
           (nError != 0 ? std::generic_category().message(nError) : std::string("I/O error"));
}

void StandardOutputFailureTold()
{
    g_bStdoutTold = true;
}

namespace
{
const char* const CorruptGzip = "unreadable: corrupt gzip data";
}

std::string DescribeReadFailure(CSLPParser& parser, int nResult)
{
    const CKarnFileInterface& file = *parser.GetIOManager()->GetFileInterface();
    if (nResult == SLPLoadResult2 && file.GetCorruptGzip())
        return CorruptGzip;
    if (nResult == SLPLoadResult2 && file.GetIsGzip() && file.GetSystemError() == ENOTSUP)
        return "unreadable: gzip data, which this build of slp does not read (it was built without zlib)";
    return DescribeLoadFailure(parser, nResult);
}

std::string DescribeCheckFailure(const CCheckReport& report)
{
    // The check's reader is its own; EILSEQ is what the gzip reader fails with (binary input, refused
    // with it too, is a finding of a check, not a failure).
    if (report.m_nSystemError == EILSEQ)
        return CorruptGzip;
    return DescribeLoadFailure(ExplainCheckFailure(report));
}

int UsageError(const char* pszCommand, const std::string& message)
{
    std::fprintf(stderr, "slp %s: %s\n", pszCommand, message.c_str());
    return 2;
}

std::string InputPath(const std::string& name)
{
    return name == "-" ? "/dev/stdin" : name;
}

std::string DisplayName(const std::string& name)
{
    return name == "-" ? "<stdin>" : name;
}

SLPLoadResultTypes OpenForTokens(CSLPParser& parser, const std::string& name, CBinaryInputGuard& guard)
{
    parser.SetFileName(CBasicString::FromPath(InputPath(name).c_str()));
    CSLPIOManager& tokens = *parser.GetIOManager();
    tokens.SetLineTracking(true);
    tokens.SetFilename(parser.GetFileName());
    tokens.GetFileInterface()->SetReadWatcher(&guard);
    return tokens.OpenInputFile();
}

std::string Plural(long long nCount, const char* pszOne, const char* pszMany)
{
    return std::to_string(nCount) + " " + (nCount == 1 ? pszOne : pszMany);
}

CProgressBar::CProgressBar(bool bQuiet) : m_bEnabled(!bQuiet && SLP_ISATTY(SLP_STDERR_FILENO)) {}

void CProgressBar::SetFile(const std::string& name)
{
    // Room for the label, the bar and the percentage on an 80-column line.
    const size_t nMost = 24;
    m_File = DisplayName(name);
    if (m_File.size() > nMost)
    {
        size_t nStart = m_File.size() - (nMost - 3);
        while (nStart < m_File.size() && (static_cast<unsigned char>(m_File[nStart]) & 0xC0) == 0x80)
            ++nStart; // a whole UTF-8 character first
        m_File = "..." + m_File.substr(nStart);
    }
    m_nLast = -1;
}

void CProgressBar::Set(const char* pszLabel, int nPercentage)
{
    if (!m_bEnabled || (nPercentage == m_nLast && pszLabel == m_pszLabel))
        return;
    m_nLast = nPercentage;
    m_pszLabel = pszLabel;
    const int nWidth = 40;
    const int nFilled = nPercentage * nWidth / 100;
    const std::string line = std::string(pszLabel) + (m_File.empty() ? "" : " ") + m_File + " [" +
                             std::string(static_cast<size_t>(nFilled), '#') +
                             std::string(static_cast<size_t>(nWidth - nFilled), ' ') + "] " +
                             std::to_string(nPercentage) + "%";
    // A shorter line than the last one overwrites its end with spaces.
    const size_t nPad = m_nDrawnWidth > line.size() ? m_nDrawnWidth - line.size() : 0;
    std::fprintf(stderr, "\r%s%s", line.c_str(), std::string(nPad, ' ').c_str());
    std::fflush(stderr);
    m_nDrawnWidth = line.size() + nPad;
    m_bDrawn = true;
}

void CProgressBar::Clear()
{
    if (!m_bDrawn)
        return;
    std::fprintf(stderr, "\r%s\r", std::string(m_nDrawnWidth, ' ').c_str());
    std::fflush(stderr);
    m_bDrawn = false;
    m_nLast = -1;
    m_nDrawnWidth = 0;
}

void CFileLines::Add(std::FILE* pStream, const std::string& text)
{
    if (m_bKeep)
        m_Lines.emplace_back(pStream, text);
    else
        std::fputs(text.c_str(), pStream);
}

void CFileLines::Print()
{
    for (const auto& line : m_Lines)
        std::fputs(line.second.c_str(), line.first);
    m_Lines.clear();
}

CFileLines& DirectLines()
{
    static CFileLines direct(false);
    return direct;
}

void WarnDropped(const std::string& input, long long nDropped, bool bStrict, CFileLines& lines)
{
    if (nDropped <= 0)
        return;
    lines.Error("slp: " + DisplayName(input) + ": " + (bStrict ? "error" : "warning") + ": " +
                Plural(nDropped, "vertex was", "vertices were") + " dropped by the load (slp check " + input +
                " shows where and why)\n");
}

bool ParseThreadCount(const char* pszCommand, const CArguments& parsed, const char* pszOption, int& nCount,
                      int& nExit)
{
    nCount = 0;
    if (!parsed.Has(pszOption))
        return true;
    long long nValue = 0;
    if (!ParseCount(parsed.Value(pszOption), nValue) || nValue > MaxThreadCount)
    {
        nExit = UsageError(pszCommand,
                           std::string(pszOption) + " takes a whole number from 0 (one per core) to " +
                               std::to_string(MaxThreadCount) + ", not \"" + parsed.Value(pszOption) + "\"");
        return false;
    }
    nCount = static_cast<int>(nValue);
    return true;
}

int CoreCount()
{
    const unsigned nCores = std::thread::hardware_concurrency();
    return nCores == 0 ? 1 : static_cast<int>(std::min(nCores, 4096u));
}

std::vector<CBatchItem> PlanBatch(const char* pszVerb, const std::vector<std::string>& inputs,
                                  const std::string& folder, const char* pszExtension)
{
    std::vector<CBatchItem> items;
    std::set<std::string> written;
    for (const std::string& input : inputs)
    {
        CBatchItem item{input, FolderTarget(folder, input, pszExtension), std::string()};
        if (input == "-")
            item.refusal = "slp: standard input needs an output file name (-o FILE), not a folder\n";
        else if (!written.insert(item.target).second)
            item.refusal = "slp: " + input + ": " + item.target + " would be written twice; " + pszVerb +
                           " it on its own\n";
        items.push_back(item);
    }
    return items;
}

int RunBatch(const char* pszVerb, const std::vector<std::string>& inputs, const std::string& folder,
             const char* pszExtension, const std::function<bool(const std::string&, const std::string&)>& one)
{
    if (!MakeOutputFolder(folder))
        return 1;
    int nExit = 0;
    for (const CBatchItem& item : PlanBatch(pszVerb, inputs, folder, pszExtension))
    {
        if (!item.refusal.empty())
        {
            std::fputs(item.refusal.c_str(), stderr);
            nExit = 1;
        }
        else if (!one(item.input, item.target))
            nExit = 1;
    }
    return nExit;
}

namespace
{

// The files that a name leads to, by identity where it exists and by its path with links followed.
struct CFileKeys
{
    std::map<std::pair<unsigned long long, unsigned long long>, size_t> identities;
    std::map<std::filesystem::path, size_t> paths;

    // Adds the name's keys for the item; false when one is another item's already.
    bool Add(const std::string& name, size_t nItem) { return Visit(name, nItem, true); }
    // Whether the name leads to another item's file.
    bool IsOthers(const std::string& name, size_t nItem) { return !Visit(name, nItem, false); }

private:
    template <class Map, class Key> bool Meet(Map& map, const Key& key, size_t nItem, bool bAdd)
    {
        const auto found = map.find(key);
        if (found != map.end())
            return found->second == nItem;
        if (bAdd)
            map.emplace(key, nItem);
        return true;
    }
    bool Visit(const std::string& name, size_t nItem, bool bAdd)
    {
        const CFileIdentity identity = Identify(name, bAdd);
        if (identity.bKnown &&
            !Meet(identities, std::make_pair(identity.nVolume, identity.nFile), nItem, bAdd))
            return false;
        std::error_code error;
        const std::filesystem::path path = std::filesystem::weakly_canonical(SystemPath(name), error);
        return error || Meet(paths, path, nItem, bAdd);
    }
};

} // namespace

int BatchJobCount(const std::vector<CBatchItem>& items, int nJobs, ExportFormatTypes eFormat)
{
    const size_t nToDo = static_cast<size_t>(std::count_if(
        items.begin(), items.end(), [](const CBatchItem& item) { return item.refusal.empty(); }));
    size_t nCount = nJobs > 0 ? static_cast<size_t>(nJobs) : static_cast<size_t>(CoreCount());
    nCount = std::min({nCount, nToDo, size_t(32)});
    if (nCount <= 1)
        return 1;
    CFileKeys outputs;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].refusal.empty())
            for (const std::string& name : {items[i].target, CompanionName(items[i].target, eFormat)})
                if (!name.empty() && (OutputIsStandardOutput(name) || !outputs.Add(name, i)))
                    return 1;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].refusal.empty() && outputs.IsOthers(items[i].input, i))
            return 1;
    return static_cast<int>(nCount);
}

int RunBatchJobs(const std::vector<CBatchItem>& items, int nJobs, CProgressBar& bar, const char* pszLabel,
                 const std::function<bool(const std::string&, const std::string&, CFileLines&)>& one)
{
    int nExit = 0;
    if (nJobs <= 1)
    {
        for (const CBatchItem& item : items)
        {
            if (!item.refusal.empty())
            {
                std::fputs(item.refusal.c_str(), stderr);
                nExit = 1;
            }
            else if (!one(item.input, item.target, DirectLines()))
                nExit = 1;
        }
        return nExit;
    }

    struct CJob
    {
        CFileLines lines{true};
        bool bDone = false;
        bool bKept = false;
        std::exception_ptr error;
    };
    std::vector<CJob> jobs(items.size());
    std::mutex mutex;
    std::condition_variable doneOne;
    std::atomic<size_t> nNext(0);
    std::atomic<size_t> nDone(0);
    std::atomic<bool> bStop(false);
    // Items are taken in order; after a failure no new one is started, and every item before it was
    // started before it, so each one the printing below waits for is done.
    const auto work = [&]()
    {
        for (size_t i = 0; !bStop.load() && (i = nNext.fetch_add(1)) < items.size();)
        {
            CJob& job = jobs[i];
            if (items[i].refusal.empty())
            {
                try
                {
                    job.bKept = one(items[i].input, items[i].target, job.lines);
                }
                catch (...)
                {
                    job.error = std::current_exception();
                    bStop.store(true);
                }
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                job.bDone = true;
            }
            ++nDone;
            doneOne.notify_all();
        }
    };
    struct CThreads
    {
        std::vector<std::thread> threads;
        std::atomic<bool>& bStop;
        ~CThreads()
        {
            bStop.store(true);
            for (std::thread& thread : threads)
                thread.join();
        }
    } threads{{}, bStop};
    try
    {
        for (int i = 0; i < nJobs; ++i)
            threads.threads.emplace_back(work);
    }
    catch (const std::system_error&)
    {
        // No thread for it: what was started does the rest.
        if (threads.threads.empty())
            work();
    }

    bar.SetFile(Plural(static_cast<long long>(items.size()), "file", "files"));
    for (size_t i = 0; i < items.size(); ++i)
    {
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (!jobs[i].bDone)
            {
                bar.Set(pszLabel, static_cast<int>(nDone.load() * 100 / items.size()));
                doneOne.wait(lock);
            }
        }
        bar.Clear();
        if (!items[i].refusal.empty())
        {
            std::fputs(items[i].refusal.c_str(), stderr);
            nExit = 1;
            continue;
        }
        jobs[i].lines.Print();
        if (jobs[i].error)
        {
            bStop.store(true);
            for (std::thread& thread : threads.threads)
                thread.join();
            threads.threads.clear();
            std::rethrow_exception(jobs[i].error);
        }
        if (!jobs[i].bKept)
            nExit = 1;
    }
    return nExit;
}

CProgressBar* g_pLoadProgress = nullptr;

void SLP_STDCALL SLPProgressToBar(int nPercentage)
{
    if (g_pLoadProgress != nullptr)
        g_pLoadProgress->Set("loading", nPercentage);
}
