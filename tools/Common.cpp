#include "slp/SLPParser.h"
#include "tools/Commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

void CProgressBar::Set(const char* pszLabel, int nPercentage)
{
    if (!m_bEnabled || (nPercentage == m_nLast && pszLabel == m_pszLabel))
        return;
    m_nLast = nPercentage;
    m_pszLabel = pszLabel;
    const int nWidth = 40;
    const int nFilled = nPercentage * nWidth / 100;
    std::fprintf(stderr, "\r%-8s [%s%s] %3d%%", pszLabel,
                 std::string(static_cast<size_t>(nFilled), '#').c_str(),
                 std::string(static_cast<size_t>(nWidth - nFilled), ' ').c_str(), nPercentage);
    std::fflush(stderr);
    m_bDrawn = true;
}

void CProgressBar::Clear()
{
    if (!m_bDrawn)
        return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    m_bDrawn = false;
    m_nLast = -1;
}

CProgressBar* g_pLoadProgress = nullptr;

void SLP_STDCALL SLPProgressToBar(int nPercentage)
{
    if (g_pLoadProgress != nullptr)
        g_pLoadProgress->Set("loading", nPercentage);
}
