#include "checker/LoadFailure.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <system_error>

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

void WarnDropped(const std::string& input, long long nDropped, bool bStrict)
{
    if (nDropped <= 0)
        return;
    std::fprintf(stderr, "slp: %s: %s: %s dropped by the load (slp check %s shows where and why)\n",
                 DisplayName(input).c_str(), bStrict ? "error" : "warning",
                 Plural(nDropped, "vertex was", "vertices were").c_str(), input.c_str());
}

int RunBatch(const char* pszVerb, const std::vector<std::string>& inputs, const std::string& folder,
             const char* pszExtension, const std::function<bool(const std::string&, const std::string&)>& one)
{
    if (!MakeOutputFolder(folder))
        return 1;
    int nExit = 0;
    std::set<std::string> written;
    for (const std::string& input : inputs)
    {
        const std::string target = FolderTarget(folder, input, pszExtension);
        if (input == "-")
        {
            std::fprintf(stderr, "slp: standard input needs an output file name (-o FILE), not a folder\n");
            nExit = 1;
        }
        else if (!written.insert(target).second)
        {
            std::fprintf(stderr, "slp: %s: %s would be written twice; %s it on its own\n", input.c_str(),
                         target.c_str(), pszVerb);
            nExit = 1;
        }
        else if (!one(input, target))
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
