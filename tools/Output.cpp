#include "tools/Output.h"

#include "foundation/BasicString.h"
#include "foundation/TextCodec.h"
#include "tools/Commands.h"

#include <cstdio>

#include "foundation/WindowsApi.h"
#if defined(_WIN32)
#include <io.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

std::string WriterPath(const std::string& argument)
{
#if defined(_WIN32)
    return BasicToUtf8(CBasicString::FromPath(argument.c_str()).GetWideString());
#else
    return argument;
#endif
}

fs::path SystemPath(const std::string& argument)
{
#if defined(_WIN32)
    return fs::path(CBasicString::FromPath(argument.c_str()).GetWideString());
#else
    return fs::path(argument);
#endif
}

CFileIdentity Identify(const std::string& name, bool bOutput)
{
    CFileIdentity identity;
#if defined(_WIN32)
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (name == "-")
        hFile = reinterpret_cast<HANDLE>(::_get_osfhandle(bOutput ? 1 : 0));
    else
        hFile =
            ::CreateFileW(SystemPath(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (hFile != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(hFile, &info))
    {
        identity.bKnown = true;
        identity.nVolume = info.dwVolumeSerialNumber;
        identity.nFile = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.bContents = ::GetFileType(hFile) == FILE_TYPE_DISK;
    }
    if (name != "-" && hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
#else
    struct stat status = {};
    if (name == "-" ? ::fstat(bOutput ? 1 : 0, &status) == 0 : ::stat(name.c_str(), &status) == 0)
    {
        identity.bKnown = true;
        identity.nVolume = static_cast<unsigned long long>(status.st_dev);
        identity.nFile = static_cast<unsigned long long>(status.st_ino);
        identity.bContents = S_ISREG(status.st_mode) || S_ISBLK(status.st_mode);
    }
#endif
    return identity;
}

std::string CompanionName(const std::string& output, ExportFormatTypes eFormat)
{
#if defined(_WIN32)
    // Arguments are ANSI code page text here, the writers' paths UTF-8: the name beside the one given.
    return ExportCompanionPath(output, eFormat);
#else
    return ExportCompanionTarget(output, eFormat);
#endif
}

bool OutputSparesInput(const std::string& input, const std::string& output, ExportFormatTypes eFormat)
{
    return OutputSparesInput(input, output, eFormat, DirectLines());
}

bool OutputSparesInput(const std::string& input, const std::string& output, ExportFormatTypes eFormat,
                       CFileLines& lines)
{
    // Never write over the input, whatever the names: the output and its companion, where they are,
    // are compared with the input first ("-" on either side as the file the shell opened).
    const CFileIdentity in = Identify(input, false);
    for (const std::string& target : {output, output == "-" ? std::string() : CompanionName(output, eFormat)})
        if (!target.empty() && in.IsSameContents(Identify(target, true)))
        {
            lines.Error("slp: " + (target == "-" ? std::string("<stdout>") : target) +
                        ": is the input file " + DisplayName(input) + "; it is left as it is\n");
            return false;
        }
    return true;
}

bool OutputIsStandardOutput(const std::string& output)
{
    return output == "-" || Identify("-", true).IsSame(Identify(output, true));
}

std::string Stem(const std::string& input)
{
#if defined(_WIN32)
    const size_t nSlash = input.find_last_of("/\\:");
#else
    const size_t nSlash = input.find_last_of('/');
#endif
    std::string name = nSlash == std::string::npos ? input : input.substr(nSlash + 1);
    // A gzipped file's name keeps its own extension before ".gz": part.slp.gz is part.
    const size_t nLength = name.size();
    if (nLength > 3 && name[nLength - 3] == '.' && (name[nLength - 2] | 0x20) == 'g' &&
        (name[nLength - 1] | 0x20) == 'z')
        name.resize(nLength - 3);
    const size_t nDot = name.find_last_of('.');
    return nDot == std::string::npos || nDot == 0 ? name : name.substr(0, nDot);
}

bool ResolveOutputs(const char* pszCommand, bool bNamesFormat, std::vector<std::string>& inputs,
                    std::string& output, bool bOutputOption, bool& bToFolder, int& nExit)
{
    const std::string batch = bNamesFormat ? "-o FOLDER and -f FORMAT" : "-o FOLDER";
    nExit = 2;
    if (!bOutputOption)
    {
        if (inputs.size() > 2)
        {
            UsageError(pszCommand, "several inputs need " + batch + " (slp " + pszCommand + " " +
                                       (bNamesFormat ? "-f glb " : "") + "-o OUTDIR a.slp b.slp ...)");
            return false;
        }
        if (inputs.size() != 2)
        {
            UsageError(pszCommand, std::string("name an input and an output (slp ") + pszCommand +
                                       " IN OUT), or the output with -o (a folder for several inputs)");
            return false;
        }
        output = inputs.back();
        inputs.pop_back();
    }
    if (inputs.empty())
    {
        UsageError(pszCommand, "name at least one input (- for standard input)");
        return false;
    }
    std::error_code error;
    const bool bIsFolder = output != "-" && fs::is_directory(SystemPath(output), error);
    if (inputs.size() > 1 && !bIsFolder)
    {
        if (output == "-")
        {
            UsageError(pszCommand, "standard output takes one input; several inputs need " + batch);
            return false;
        }
        if (fs::exists(SystemPath(output), error))
        {
            UsageError(pszCommand, output + " is a file; -o takes a folder for several inputs");
            return false;
        }
    }
    bToFolder = inputs.size() > 1 || bIsFolder;
    nExit = 0;
    return true;
}

bool MakeOutputFolder(const std::string& folder)
{
    std::error_code error;
    if (fs::is_directory(SystemPath(folder), error))
        return true;
    fs::create_directories(SystemPath(folder), error);
    if (error)
    {
        std::fprintf(stderr, "slp: cannot create the folder %s: %s\n", folder.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

std::string FolderTarget(const std::string& folder, const std::string& input, const char* pszExtension)
{
    const bool bSeparated = folder.back() == '/' || folder.back() == '\\';
    return folder + (bSeparated ? "" : "/") + Stem(input) + "." + pszExtension;
}
