#include "checker/LoadFailure.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"
#include "writers/WorldExport.h"

#include <cstdio>
#include <memory>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace
{

const char* const ConvertHelp =
    "Usage: slp convert [options] IN OUT\n"
    "       slp convert [options] -o OUT IN\n"
    "       slp convert [options] -f FORMAT -o FOLDER IN...\n"
    "Load SLP files (gzipped ones too) and write them as glTF (.glb, .gltf with .bin), OBJ (with .mtl),\n"
    "PLY, STL or SLP. IN may be - for standard input; OUT may be - for standard output (with -f glb, ply,\n"
    "slp or stl). With a folder, each input IN.slp becomes FOLDER/IN.FORMAT. Every file is written to a\n"
    "temporary file beside it and moves into place only when it is complete: an error or an interruption\n"
    "leaves what was there.\n"
    "\n"
    "Options:\n"
    "  -f, --format FORMAT   glb, gltf, obj, ply, slp or stl (default: OUT's extension)\n"
    "  -o, --output OUT      the output file, or a folder for several inputs\n"
    "  -q, --quiet           no progress bar and no summary lines\n"
    "  --strict              exit status 1 when a load dropped vertices (the output is written all the "
    "same)\n"
    "\n"
    "Exit status: 0 when every file was written, 1 when any was not, 2 for a usage error.\n";

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
                bool bStrict, CProgressBar& bar)
{
    const bool bToStream = output == "-";
    const std::string shownInput = DisplayName(input);
    if (!OutputSparesInput(input, output, eFormat))
        return false;
    // The summary goes where it does not mix with the output itself.
    const bool bSummaryToStderr = OutputIsStandardOutput(output);

    bar.SetFile(input);
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
                     DescribeReadFailure(parser, eResult).c_str());
        return false;
    }
    WarnDropped(input, parser.GetDiscardedPointCount(), bStrict);

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
    const bool bKept = !bStrict || parser.GetDiscardedPointCount() == 0;
    if (bQuiet)
        return bKept;
    std::FILE* pSummary = bSummaryToStderr ? stderr : stdout;
    std::fprintf(pSummary, "%s: %s, %s, %s, %s, %s", shownOutput.c_str(), ExportFormatName(eFormat),
                 Plural(report.m_nGroups, "group", "groups").c_str(),
                 Plural(report.m_nMeshes, "mesh", "meshes").c_str(),
                 Plural(report.m_nTriangles, "triangle", "triangles").c_str(),
                 Plural(report.m_nVertices, "vertex", "vertices").c_str());
    if (report.m_Files.size() > 1)
        std::fprintf(pSummary, " (with %s)", report.m_Files[1].c_str());
    std::fprintf(pSummary, "\n");
    return bKept;
}

} // namespace

int RunConvert(const std::vector<std::string>& arguments)
{
    CArguments parsed;
    int nExit = 0;
    if (!ParseArguments("convert", arguments,
                        {{"--format", 'f', true},
                         {"--output", 'o', true},
                         {"--quiet", 'q', false},
                         {"--strict", 0, false}},
                        ConvertHelp, parsed, nExit))
        return nExit;
    const bool bQuiet = parsed.Has("--quiet");
    std::vector<std::string> inputs = parsed.Positionals();
    std::string output = parsed.Value("--output");
    bool bToFolder = false;
    if (!ResolveOutputs("convert", true, inputs, output, parsed.Has("--output"), bToFolder, nExit))
        return nExit;

    ExportFormatTypes eFormat = ExportFormatUnknown;
    if (parsed.Has("--format"))
    {
        eFormat = ExportFormatFromName(parsed.Value("--format"));
        if (eFormat == ExportFormatUnknown)
            return UsageError("convert", "unknown format \"" + parsed.Value("--format") +
                                             "\"; use glb, gltf, obj, ply, slp or stl");
    }
    else if (bToFolder)
        return UsageError("convert", "name the format with -f when writing into a folder");
    else if (output == "-")
        return UsageError("convert", "name the format with -f when writing to standard output");
    else if ((eFormat = ExportFormatFromPath(output)) == ExportFormatUnknown)
        return UsageError("convert", output +
                                         ": unknown output format; name it with .glb, .gltf, .obj, .ply, "
                                         ".slp or .stl, or give -f");
    if (output == "-" && (eFormat == ExportFormatGltf || eFormat == ExportFormatObj))
        return UsageError("convert", std::string(ExportFormatName(eFormat)) +
                                         " writes a second file and cannot go to standard output; use glb, "
                                         "ply, slp or stl");

    CProgressBar bar(bQuiet);
    const bool bStrict = parsed.Has("--strict");
    const auto convertOne = [&](const std::string& input, const std::string& target)
    { return ConvertOne(input, target, eFormat, bQuiet, bStrict, bar); };
    if (!bToFolder)
        return convertOne(inputs[0], output) ? 0 : 1;
    return RunBatch("convert", inputs, output, ExportFormatName(eFormat), convertOne);
}
