// What the subcommands that write files share: paths for the writers and the system, the identity of
// a file behind a name (so that an output is never the input), and the names of outputs in a folder.
#pragma once

#include "writers/WorldExport.h"

#include <filesystem>
#include <string>
#include <vector>

class CFileLines;

// A path for the writers, which take UTF-8: the bytes as given off Windows, the ANSI code page's text
// turned into UTF-8 on Windows.
std::string WriterPath(const std::string& argument);
std::filesystem::path SystemPath(const std::string& argument);

// What a name leads to, for telling whether two names are one file: "-" is the standard input (or the
// standard output) as the shell opened it, and other names are followed through their links, so
// /dev/stdout leads to whatever the standard output is.
struct CFileIdentity
{
    bool bKnown = false;
    unsigned long long nVolume = 0;
    unsigned long long nFile = 0;
    bool bContents = false; // a file or a disk, whose contents a write replaces (not a terminal or a pipe)

    bool IsSameContents(const CFileIdentity& other) const
    {
        return bKnown && other.bKnown && bContents && nVolume == other.nVolume && nFile == other.nFile;
    }
    bool IsSame(const CFileIdentity& other) const
    {
        return bKnown && other.bKnown && nVolume == other.nVolume && nFile == other.nFile;
    }
};
CFileIdentity Identify(const std::string& name, bool bOutput);

// The companion file that the export writes for the output, named as the arguments are.
std::string CompanionName(const std::string& output, ExportFormatTypes eFormat);

// False, with the cause on standard error, when the output (or its companion, when the format has one)
// is the input file under any name: the input is then left as it is.
bool OutputSparesInput(const std::string& input, const std::string& output, ExportFormatTypes eFormat);
bool OutputSparesInput(const std::string& input, const std::string& output, ExportFormatTypes eFormat,
                       CFileLines& lines);

// Whether a summary about this output goes to standard error: when the output is the standard output.
bool OutputIsStandardOutput(const std::string& output);

// The file name of an input without its folder and extension, for its output in a folder.
std::string Stem(const std::string& input);

// Checks the output arguments of a subcommand that writes one file per input: IN OUT, -o OUT IN, or
// -o FOLDER IN... Fills bToFolder; on a usage error writes it ("slp COMMAND: ...") and returns false
// with nExit 2. inputs loses OUT when it was given without -o.
// bNamesFormat: the subcommand writes several formats, so a batch needs -f too.
bool ResolveOutputs(const char* pszCommand, bool bNamesFormat, std::vector<std::string>& inputs,
                    std::string& output, bool bOutputOption, bool& bToFolder, int& nExit);

// Makes the folder for a batch; false, with the cause on standard error, when it cannot be made.
bool MakeOutputFolder(const std::string& folder);
// The output of an input in a folder: FOLDER/STEM.EXTENSION.
std::string FolderTarget(const std::string& folder, const std::string& input, const char* pszExtension);
