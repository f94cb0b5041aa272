#include "checker/LoadFailure.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "writers/WorldExport.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "foundation/WindowsApi.h"
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace
{

const char* const ConvertHelp =
    "Usage: slp convert [options] IN OUT\n"
    "       slp convert [options] -o OUT IN\n"
    "       slp convert [options] -f FORMAT -o FOLDER IN...\n"
    "Load SLP files and write them as glTF (.glb, .gltf with .bin), OBJ (with .mtl), PLY or STL. IN may\n"
    "be - for standard input; OUT may be - for standard output (with -f glb, ply or stl). With a folder,\n"
    "each input IN.slp becomes FOLDER/IN.FORMAT. Every file is written to a temporary file beside it and\n"
    "moves into place only when it is complete: an error or an interruption leaves what was there.\n"
    "\n"
    "Options:\n"
    "  -f, --format FORMAT   glb, gltf, obj, ply or stl (default: OUT's extension)\n"
    "  -o, --output OUT      the output file, or a folder for several inputs\n"
    "  -q, --quiet           no progress bar and no summary lines\n"
    "\n"
    "Exit status: 0 when every file was written, 1 when any was not, 2 for a usage error.\n";

// A path for the writers, which take UTF-8: the bytes as given off Windows, the ANSI code page's text
// turned into UTF-8 on Windows.
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
};

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

// The companion file that the export writes for the output, named as the arguments are.
std::string CompanionName(const std::string& output, ExportFormatTypes eFormat)
{
#if defined(_WIN32)
    // Arguments are ANSI code page text here, the writers' paths UTF-8: the name beside the one given.
    return ExportCompanionPath(output, eFormat);
#else
    return ExportCompanionTarget(output, eFormat);
#endif
}

void SLP_STDCALL NoProgress(int) {}

void ExportProgressToBar(void* pContext, int nPercentage)
{
    static_cast<CProgressBar*>(pContext)->Set("writing", nPercentage);
}

void Warn(const std::string& output, long long nCount, const char* pszOne, const char* pszMany)
{
    if (nCount > 0)
        std::fprintf(stderr, "slp: %s: %s\n", output.c_str(), Plural(nCount, pszOne, pszMany).c_str());
}

// Converts one input into one output; false (with the cause on standard error) when it did not.
bool ConvertOne(const std::string& input, const std::string& output, ExportFormatTypes eFormat, bool bQuiet,
                CProgressBar& bar)
{
    const bool bToStream = output == "-";
    const std::string shownInput = DisplayName(input);
    // Never write over the input, whatever the names: the output and its companion, where they are,
    // are compared with the input first ("-" on either side as the file the shell opened).
    const CFileIdentity in = Identify(input, false);
    for (const std::string& target : {output, bToStream ? std::string() : CompanionName(output, eFormat)})
        if (!target.empty() && in.IsSameContents(Identify(target, true)))
        {
            std::fprintf(stderr, "slp: %s: is the input file %s; it is left as it is\n",
                         target == "-" ? "<stdout>" : target.c_str(), shownInput.c_str());
            return false;
        }
    // The summary goes where it does not mix with the output itself.
    const CFileIdentity standardOutput = Identify("-", true);
    const CFileIdentity outputIdentity = Identify(output, true);
    const bool bSummaryToStderr = bToStream || (standardOutput.bKnown && outputIdentity.bKnown &&
                                                standardOutput.nVolume == outputIdentity.nVolume &&
                                                standardOutput.nFile == outputIdentity.nFile);

    auto pWorld = std::make_unique<CKarnWorld>();
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(InputPath(input).c_str()));
    parser.SetLoaderPtr(bar.IsShown() ? &SLPProgressToBar : &NoProgress);
    CBinaryInputGuard guard; // binary input is refused at its first block, not read to its end
    parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&guard);
    g_pLoadProgress = &bar;
    const SLPLoadResultTypes eResult = parser.Parse(pWorld.get());
    g_pLoadProgress = nullptr;
    bar.Clear();
    if (eResult != SLPLoadSuccess)
    {
        std::fprintf(stderr, "slp: %s: %s\n", shownInput.c_str(),
                     DescribeLoadFailure(parser, eResult).c_str());
        return false;
    }
    if (parser.GetDiscardedPointCount() > 0)
        std::fprintf(stderr, "slp: %s: warning: %s dropped by the load (slp check %s shows where and why)\n",
                     shownInput.c_str(),
                     Plural(parser.GetDiscardedPointCount(), "vertex was", "vertices were").c_str(),
                     input.c_str());

    CExportOptions options;
    if (bToStream)
    {
#if defined(_WIN32)
        ::_setmode(1, _O_BINARY);
#endif
        options.m_pStream = stdout;
    }
    if (bar.IsShown())
    {
        options.m_pfnProgress = &ExportProgressToBar;
        options.m_pProgressContext = &bar;
    }
    const std::string shownOutput = bToStream ? std::string("<stdout>") : output;
    // What went to the standard output before goes first, should the output be written there too.
    std::fflush(stdout);
    const CExportReport report =
        ExportWorld(*pWorld, bToStream ? "standard output" : WriterPath(output), eFormat, options);
    bar.Clear();
    if (report.m_eResult != ExportSuccess)
    {
        std::fprintf(stderr, "slp: %s\n", report.m_strMessage.c_str());
        if (bToStream)
            StandardOutputFailureTold();
        return false;
    }
    Warn(shownOutput, report.m_nClampedColours, "mesh colour outside 0..1 clamped into 0..1",
         "mesh colours outside 0..1 clamped into 0..1");
    Warn(shownOutput, report.m_nSkippedTriangles, "triangle with infinite or NaN coordinates left out",
         "triangles with infinite or NaN coordinates left out");
    Warn(shownOutput, report.m_nReplacedNormals, "normal without a direction replaced by the face normal",
         "normals without a direction replaced by the face normal");
    if (bQuiet)
        return true;
    std::FILE* pSummary = bSummaryToStderr ? stderr : stdout;
    std::fprintf(pSummary, "%s: %s, %s, %s, %s, %s", shownOutput.c_str(), ExportFormatName(eFormat),
                 Plural(report.m_nGroups, "group", "groups").c_str(),
                 Plural(report.m_nMeshes, "mesh", "meshes").c_str(),
                 Plural(report.m_nTriangles, "triangle", "triangles").c_str(),
                 Plural(report.m_nVertices, "vertex", "vertices").c_str());
    if (report.m_Files.size() > 1)
        std::fprintf(pSummary, " (with %s)", report.m_Files[1].c_str());
    std::fprintf(pSummary, "\n");
    return true;
}

// The file name of an input without its folder and extension, for its output in a folder.
std::string Stem(const std::string& input)
{
#if defined(_WIN32)
    const size_t nSlash = input.find_last_of("/\\:");
#else
    const size_t nSlash = input.find_last_of('/');
#endif
    std::string name = nSlash == std::string::npos ? input : input.substr(nSlash + 1);
    const size_t nDot = name.find_last_of('.');
    return nDot == std::string::npos || nDot == 0 ? name : name.substr(0, nDot);
}

} // namespace

int RunConvert(const std::vector<std::string>& arguments)
{
    CArguments parsed;
    int nExit = 0;
    if (!ParseArguments("convert", arguments,
                        {{"--format", 'f', true}, {"--output", 'o', true}, {"--quiet", 'q', false}},
                        ConvertHelp, parsed, nExit))
        return nExit;
    const bool bQuiet = parsed.Has("--quiet");
    std::vector<std::string> inputs = parsed.Positionals();
    std::string output = parsed.Value("--output");
    if (!parsed.Has("--output"))
    {
        if (inputs.size() != 2)
            return UsageError("convert",
                              "name an input and an output (slp convert IN OUT), or the output with -o "
                              "(a folder for several inputs)");
        output = inputs.back();
        inputs.pop_back();
    }
    if (inputs.empty())
        return UsageError("convert", "name at least one input (- for standard input)");
    std::error_code error;
    const bool bToFolder =
        inputs.size() > 1 || (output != "-" && fs::is_directory(SystemPath(output), error));

    ExportFormatTypes eFormat = ExportFormatUnknown;
    if (parsed.Has("--format"))
    {
        eFormat = ExportFormatFromName(parsed.Value("--format"));
        if (eFormat == ExportFormatUnknown)
            return UsageError("convert", "unknown format \"" + parsed.Value("--format") +
                                             "\"; use glb, gltf, obj, ply or stl");
    }
    else if (bToFolder)
        return UsageError("convert", "name the format with -f when writing into a folder");
    else if (output == "-")
        return UsageError("convert", "name the format with -f when writing to standard output");
    else if ((eFormat = ExportFormatFromPath(output)) == ExportFormatUnknown)
        return UsageError("convert",
                          output + ": unknown output format; name it with .glb, .gltf, .obj, .ply or .stl, "
                                   "or give -f");
    if (output == "-" && (eFormat == ExportFormatGltf || eFormat == ExportFormatObj))
        return UsageError("convert",
                          std::string(ExportFormatName(eFormat)) +
                              " writes a second file and cannot go to standard output; use glb, ply or stl");

    CProgressBar bar(bQuiet);
    if (!bToFolder)
        return ConvertOne(inputs[0], output, eFormat, bQuiet, bar) ? 0 : 1;

    if (!fs::is_directory(SystemPath(output), error))
    {
        fs::create_directories(SystemPath(output), error);
        if (error)
        {
            std::fprintf(stderr, "slp: cannot create the folder %s: %s\n", output.c_str(),
                         error.message().c_str());
            return 1;
        }
    }
    std::set<std::string> written;
    for (const std::string& input : inputs)
    {
        const bool bSeparated = output.back() == '/' || output.back() == '\\';
        const std::string target =
            output + (bSeparated ? "" : "/") + Stem(input) + "." + ExportFormatName(eFormat);
        if (input == "-")
        {
            std::fprintf(stderr, "slp: standard input needs an output file name (-o FILE), not a folder\n");
            nExit = 1;
        }
        else if (!written.insert(target).second)
        {
            std::fprintf(stderr, "slp: %s: %s would be written twice; convert it on its own\n", input.c_str(),
                         target.c_str());
            nExit = 1;
        }
        else if (!ConvertOne(input, target, eFormat, bQuiet, bar))
            nExit = 1;
    }
    return nExit;
}
