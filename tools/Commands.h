// The subcommands of the slp program and what they share: how inputs are named, why a load failed,
// the progress bar and plural forms.
#pragma once

#include "slp/Export.h"
#include "slp/SLPTypes.h"
#include "tools/Arguments.h"
#include "writers/FileSink.h"
#include "writers/WorldExport.h"

#include <cstdio>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class CSLPParser;
class CBinaryInputGuard;
class CProgressBar;
struct CCheckReport;

// Each subcommand takes its arguments after the subcommand's name and returns the exit status: 0 when
// everything worked, 1 when a file could not be loaded, checked or written (or a check found lost
// geometry), 2 for a usage error (written by the subcommand as "slp NAME: ...").
int RunInfo(const std::vector<std::string>& arguments);
int RunTokens(const std::vector<std::string>& arguments);
int RunCheck(const std::vector<std::string>& arguments);
int RunConvert(const std::vector<std::string>& arguments);
int RunFix(const std::vector<std::string>& arguments);

// Parses a subcommand's arguments; on a usage error writes it and returns false. "--help" prints the
// help text and returns false too (the caller exits with *pnExit).
bool ParseArguments(const char* pszCommand, const std::vector<std::string>& arguments,
                    std::vector<COptionSpec> specs, const char* pszHelp, CArguments& parsed, int& nExit);
// Why a load (or another read of the parser's file) with the result failed, in the program's words
// (LoadFailure.h), naming corrupt gzip data as such.
std::string DescribeReadFailure(CSLPParser& parser, int nResult);
// The same for a check that could not read its file.
std::string DescribeCheckFailure(const CCheckReport& report);

// Writes "slp COMMAND: MESSAGE" to standard error and returns 2, the exit status of a usage error.
int UsageError(const char* pszCommand, const std::string& message);

// "-" is the standard input: its path for the loader and its name in messages; other names are
// themselves.
std::string InputPath(const std::string& name);
std::string DisplayName(const std::string& name);

// Opens the input name ("-" too) on the parser's tokenizer to be read token by token, with line numbers
// and binary input refused at its first block by guard, which watches the reads and must outlive them.
SLPLoadResultTypes OpenForTokens(CSLPParser& parser, const std::string& name, CBinaryInputGuard& guard);

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

// The lines that the work on one file prints on standard output or standard error, in order: printed at
// once, or kept and printed by Print (so that files done at the same time on several threads print
// their lines whole, in the order of the inputs).
class CFileLines
{
public:
    explicit CFileLines(bool bKeep) : m_bKeep(bKeep) {}
    // Text for the stream (stdout or stderr), whole lines.
    void Add(std::FILE* pStream, const std::string& text);
    void Error(const std::string& text) { Add(stderr, text); }
    // Prints the lines kept so far and forgets them.
    void Print();

private:
    bool m_bKeep;
    std::vector<std::pair<std::FILE*, std::string>> m_Lines;
};

// Lines printed as they come.
CFileLines& DirectLines();

// The warning of a load that dropped vertices (none when it dropped none): "slp: FILE: warning: ..." or,
// with --strict, "slp: FILE: error: ...".
void WarnDropped(const std::string& input, long long nDropped, bool bStrict,
                 CFileLines& lines = DirectLines());

// Reads a count of threads or of jobs (--threads, -j): a whole number from 0 (as many as the machine
// has cores) to MaxThreadCount, 0 when not given; false, with the usage error written and nExit 2, for
// anything else.
constexpr long long MaxThreadCount = 1024;
bool ParseThreadCount(const char* pszCommand, const CArguments& parsed, const char* pszOption, int& nCount,
                      int& nExit);
// The processor's cores (at least 1).
int CoreCount();

// One input of a batch, its output FOLDER/STEM.EXTENSION, and why it is refused, if it is (standard
// input, an output that an earlier input of the batch writes).
struct CBatchItem
{
    std::string input;
    std::string target;
    std::string refusal; // the line on standard error, or empty
};
std::vector<CBatchItem> PlanBatch(const char* pszVerb, const std::vector<std::string>& inputs,
                                  const std::string& folder, const char* pszExtension);

// Runs one(input, FOLDER/STEM.EXTENSION) for each input of a batch (standard input and two inputs with
// one output name refused); the exit status: 1 when any failed.
int RunBatch(const char* pszVerb, const std::vector<std::string>& inputs, const std::string& folder,
             const char* pszExtension,
             const std::function<bool(const std::string&, const std::string&)>& one);

// How many files of a batch to do at once: nJobs (0: one per core), but no more than the files to do,
// nor 32, and 1 where the files meet: where an input or an output of one is an output of another
// (through any name or link), or an output is the standard output, so that one at a time each file finds
// what the files before it left.
int BatchJobCount(const std::vector<CBatchItem>& items, int nJobs, ExportFormatTypes eFormat);

// Runs one(input, target, lines) for each item of a batch that is not refused, on nJobs threads; the exit
// status: 1 when any was refused or failed. Each item's lines (one prints only through them) are printed
// whole in the order of the items, as one job prints them, and between them the bar (pszLabel) counts the
// files done. An exception that one throws is thrown here once the files under way are done, after the
// lines of the items before it.
int RunBatchJobs(const std::vector<CBatchItem>& items, int nJobs, CProgressBar& bar, const char* pszLabel,
                 const std::function<bool(const std::string&, const std::string&, CFileLines&)>& one);

// "1 triangle", "2 triangles".
std::string Plural(long long nCount, const char* pszOne, const char* pszMany);

// A progress bar on standard error, drawn only when standard error is a terminal and the user did not
// ask for quiet. Set shows a label, the file's name (SetFile) and a percentage; Clear removes the bar
// before other output.
class CProgressBar
{
public:
    explicit CProgressBar(bool bQuiet);
    ~CProgressBar() { Clear(); }
    // The file the work is on, as it is shown ("-" as <stdin>); long names keep their end.
    void SetFile(const std::string& name);
    void Set(const char* pszLabel, int nPercentage);
    void Clear();
    bool IsShown() const { return m_bEnabled; }

private:
    bool m_bEnabled;
    bool m_bDrawn = false;
    int m_nLast = -1;
    const char* m_pszLabel = nullptr;
    std::string m_File;
    size_t m_nDrawnWidth = 0;
};

// The parser's progress callback is a plain function: it draws on the bar named here.
extern CProgressBar* g_pLoadProgress;
void SLP_STDCALL SLPProgressToBar(int nPercentage);
