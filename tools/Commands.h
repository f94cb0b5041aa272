// The subcommands of the slp program and what they share: how inputs are named, why a load failed,
// the progress bar and plural forms.
#pragma once

#include "slp/Export.h"
#include "tools/Arguments.h"
#include "writers/FileSink.h"

#include <cstdio>

#include <string>
#include <vector>

class CSLPParser;

// Each subcommand takes its arguments after the subcommand's name and returns the exit status: 0 when
// everything worked, 1 when a file could not be loaded, checked or written (or a check found lost
// geometry), 2 for a usage error (written by the subcommand as "slp NAME: ...").
int RunInfo(const std::vector<std::string>& arguments);
int RunTokens(const std::vector<std::string>& arguments);
int RunCheck(const std::vector<std::string>& arguments);
int RunConvert(const std::vector<std::string>& arguments);

// Parses a subcommand's arguments; on a usage error writes it and returns false. "--help" prints the
// help text and returns false too (the caller exits with *pnExit).
bool ParseArguments(const char* pszCommand, const std::vector<std::string>& arguments,
                    std::vector<COptionSpec> specs, const char* pszHelp, CArguments& parsed, int& nExit);
// Writes "slp COMMAND: MESSAGE" to standard error and returns 2, the exit status of a usage error.
int UsageError(const char* pszCommand, const std::string& message);

// "-" is the standard input: its path for the loader and its name in messages; other names are
// themselves.
std::string InputPath(const std::string& name);
std::string DisplayName(const std::string& name);

// The program's standard output: a buffered sink on stdout, flushed when it goes; a failure to write
// it is kept for FinishStandardOutput.
class CStdout : public CFileSink
{
public:
    CStdout() { OpenStream(stdout, "standard output"); }
    ~CStdout();
};

// Flushes the standard output at the end of the program; the failure to write it, if any ("cannot write
// standard output: No space left on device"), or empty. Empty too once StandardOutputFailureTold was
// called: the failure has been reported already.
std::string FinishStandardOutput();
void StandardOutputFailureTold();

// "1 triangle", "2 triangles".
std::string Plural(long long nCount, const char* pszOne, const char* pszMany);

// A progress bar on standard error, drawn only when standard error is a terminal and the user did not
// ask for quiet. Set shows a label and a percentage; Clear removes the bar before other output.
class CProgressBar
{
public:
    explicit CProgressBar(bool bQuiet);
    ~CProgressBar() { Clear(); }
    void Set(const char* pszLabel, int nPercentage);
    void Clear();
    bool IsShown() const { return m_bEnabled; }

private:
    bool m_bEnabled;
    bool m_bDrawn = false;
    int m_nLast = -1;
    const char* m_pszLabel = nullptr;
};

// The parser's progress callback is a plain function: it draws on the bar named here.
extern CProgressBar* g_pLoadProgress;
void SLP_STDCALL SLPProgressToBar(int nPercentage);
