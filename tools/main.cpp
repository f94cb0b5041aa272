// slp: inspect, check and convert SLP files with the loader that hosts use.
#include "tools/Commands.h"
#include "writers/WorldExport.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace
{

const char* const Help =
    "Usage: slp SUBCOMMAND [options] ...\n"
    "Inspect, check and convert SLP faceted-solid files with the SLP loader.\n"
    "\n"
    "Subcommands:\n"
    "  info FILE...         load each file and print its model tree, totals, box and load time\n"
    "  check FILE...        list, with line and column, what a load of each file loses or misreads\n"
    "  tokens FILE          print the file's tokens as the loader sees them\n"
    "  convert IN OUT       write the model as glTF, OBJ, PLY, STL or SLP (also: -o FOLDER IN...)\n"
    "  fix IN OUT           write an SLP file that loads with everything IN meant (also: -o FOLDER IN...)\n"
    "\n"
    "A FILE or IN of - is the standard input; gzipped files (.slp.gz) are read as they are.\n"
    "slp SUBCOMMAND --help lists a subcommand's options.\n"
    "  --version            print the program's version\n";

// An interrupted conversion leaves no temporary file behind; then the signal does what it would have.
extern "C" void OnFatalSignal(int nSignal)
{
    ExportRemovePendingFiles();
    std::signal(nSignal, SIG_DFL);
    std::raise(nSignal);
}

// An exception that nothing catches (one thrown while another unwinds, say) ends the program the same
// way.
void OnTerminate()
{
    ExportRemovePendingFiles();
    std::fputs("slp: internal error: an unexpected exception\n", stderr);
    std::abort();
}

void InstallSignalHandlers()
{
    for (const int nSignal : {
             SIGINT, SIGTERM
#if defined(SIGHUP)
                 ,
                 SIGHUP
#endif
#if defined(SIGPIPE)
                 ,
                 SIGPIPE
#endif
#if defined(SIGBREAK)
                 ,
                 SIGBREAK
#endif
         })
        std::signal(nSignal, &OnFatalSignal);
    std::set_terminate(&OnTerminate);
#if defined(SIGXFSZ)
    // Beyond a file size limit a write then fails (and is reported) instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

int RunCommand(const std::string& command, const std::vector<std::string>& arguments)
{
    if (command == "info")
        return RunInfo(arguments);
    if (command == "check")
        return RunCheck(arguments);
    if (command == "tokens")
        return RunTokens(arguments);
    if (command == "convert")
        return RunConvert(arguments);
    if (command == "fix")
        return RunFix(arguments);
    if (command == "--help" || command == "-h" || command == "help")
    {
        std::fputs(Help, stdout);
        return 0;
    }
    if (command == "--version")
    {
        std::puts("slp " SLP_VERSION);
        return 0;
    }
    if (command.empty())
        std::fputs("slp: name a subcommand: info, check, tokens, convert or fix (slp --help tells more)\n",
                   stderr);
    else if (command[0] == '-')
        std::fprintf(
            stderr,
            "slp: unknown option \"%s\"; name a subcommand first: info, check, tokens, convert or fix\n",
            command.c_str());
    else
        std::fprintf(
            stderr,
            "slp: unknown subcommand \"%s\"; the subcommands are info, check, tokens, convert and fix\n",
            command.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    InstallSignalHandlers();
    int nExit = 2;
    try
    {
        const std::vector<std::string> arguments(argv + (argc > 1 ? 2 : 1), argv + argc);
        nExit = RunCommand(argc > 1 ? argv[1] : "", arguments);
    }
    // Unwinding has removed the temporary files of the outputs under way.
    catch (const std::bad_alloc&)
    {
        std::fputs("slp: out of memory\n", stderr);
        nExit = 1;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "slp: %s\n", error.what());
        nExit = 1;
    }
    // Output that did not reach the standard output is a failure like any other.
    const std::string error = FinishStandardOutput();
    if (!error.empty())
    {
        std::fprintf(stderr, "slp: %s\n", error.c_str());
        return nExit == 0 ? 1 : nExit;
    }
    return nExit;
}
