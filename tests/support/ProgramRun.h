// Running the slp program from a test: its exit status and what it wrote to standard output and error.
#pragma once

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

struct ToolRun
{
    int nExit = -1;
    std::string out;
    std::string err;
};

// A file's text. The program writes text-mode output, whose line ends are CR LF on Windows: read as LF.
inline std::string ReadProgramText(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    std::string content = text.str();
#if defined(_WIN32)
    std::string::size_type nPos = 0;
    while ((nPos = content.find("\r\n", nPos)) != std::string::npos)
        content.erase(nPos, 1);
#endif
    return content;
}

// Runs the program with the arguments (already quoted: double quotes serve both sh and cmd.exe, whose
// syntax for this command line is the same but for the null device) from a folder, its standard input
// read from a file (none: the null device). The output goes to files named after the running test,
// since CTest runs the tests of a program in parallel.
// A prefix (environment settings or a wrapping command, ending in an opening quote) goes before the
// program's quoted name.
inline ToolRun RunProgram(const std::string& program, const std::string& arguments, const std::string& folder,
                          const std::string& input = std::string(), const std::string& prefix = "\"")
{
    const std::string stem = TestTempPath("slp_run_");
#if defined(_WIN32)
    const char* const pszNullDevice = "NUL";
#else
    const char* const pszNullDevice = "/dev/null";
#endif
    const std::string command = "cd \"" + folder + "\" && " + prefix + program + "\" " + arguments + " >\"" +
                                stem + "_out.txt\" 2>\"" + stem + "_err.txt\" <" +
                                (input.empty() ? std::string(pszNullDevice) : "\"" + input + "\"");
    const int nStatus = std::system(command.c_str());
    ToolRun run;
#if defined(_WIN32)
    run.nExit = nStatus;
#else
    run.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
#endif
    run.out = ReadProgramText(stem + "_out.txt");
    run.err = ReadProgramText(stem + "_err.txt");
    return run;
}
