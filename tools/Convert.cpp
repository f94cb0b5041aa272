#include "checker/LoadFailure.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"
#include "writers/WorldExport.h"

#include <algorithm>
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
    "  -j, --jobs N          convert N files of a batch at once (default 0: one per core, at most 32);\n"
    "                        the lines of each come whole and in the order of the inputs\n"
    "  --threads N           threads to load and write each file on (default 0: one per core for large\n"
    "                        files, in each job of a batch too; 1: the calling thread alone)\n"
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

void Warn(CFileLines& lines, const std::string& output, long long nCount, const char* pszOne,
          const char* pszMany)
{
    if (nCount > 0)
        lines.Error("slp: " + output + ": " + Plural(nCount, pszOne, pszMany) + "\n");
}

struct ConvertSettings
{
    ExportFormatTypes eFormat = ExportFormatUnknown;
    bool bQuiet = false;
    bool bStrict = false;
    int nThreads = 0; // for the load and the export; 0: their own choice
};

// Converts one input into one output; false (with the cause on standard error) when it did not.
bool ConvertOne(const std::string& input, const std::string& output, const ConvertSettings& settings,
                CProgressBar& bar, CFileLines& lines)
{
    const bool bToStream = output == "-";
    const std::string shownInput = DisplayName(input);
    if (!OutputSparesInput(input, output, settings.eFormat, lines))
        return false;
    // The summary goes where it does not mix with the output itself.
    const bool bSummaryToStderr = OutputIsStandardOutput(output);

    bar.SetFile(input);
    auto pWorld = std::make_unique<CKarnWorld>();
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(InputPath(input).c_str()));
    parser.SetThreadCount(settings.nThreads);
    CBinaryInputGuard guard; // binary input is refused at its first block, not read to its end
    parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&guard);
    // The callback draws on the one bar there is, on the thread that draws it.
    parser.SetLoaderPtr(bar.IsShown() ? &SLPProgressToBar : &NoProgress);
    if (bar.IsShown())
        g_pLoadProgress = &bar;
    const SLPLoadResultTypes eResult = parser.Parse(pWorld.get());
    if (bar.IsShown())
        g_pLoadProgress = nullptr;
    bar.Clear();
    if (eResult != SLPLoadSuccess)
    {
        lines.Error("slp: " + shownInput + ": " + DescribeReadFailure(parser, eResult) + "\n");
        return false;
    }
    WarnDropped(input, parser.GetDiscardedPointCount(), settings.bStrict, lines);

    CExportOptions options;
    options.m_nThreads = settings.nThreads;
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
    if (bSummaryToStderr)
        std::fflush(stdout);
    const CExportReport report =
        ExportWorld(*pWorld, bToStream ? "standard output" : WriterPath(output), settings.eFormat, options);
    bar.Clear();
    if (report.m_eResult != ExportSuccess)
    {
        lines.Error("slp: " + report.m_strMessage + "\n");
        if (bToStream)
            StandardOutputFailureTold();
        return false;
    }
    Warn(lines, shownOutput, report.m_nClampedColours, "mesh colour outside 0..1 clamped into 0..1",
         "mesh colours outside 0..1 clamped into 0..1");
    Warn(lines, shownOutput, report.m_nSkippedTriangles, "triangle with infinite or NaN coordinates left out",
         "triangles with infinite or NaN coordinates left out");
    Warn(lines, shownOutput, report.m_nReplacedNormals,
         "normal without a direction replaced by the face normal",
         "normals without a direction replaced by the face normal");
    const bool bKept = !settings.bStrict || parser.GetDiscardedPointCount() == 0;
    if (settings.bQuiet)
        return bKept;
    std::string summary = shownOutput + ": " + ExportFormatName(settings.eFormat) + ", " +
                          Plural(report.m_nGroups, "group", "groups") + ", " +
                          Plural(report.m_nMeshes, "mesh", "meshes") + ", " +
                          Plural(report.m_nTriangles, "triangle", "triangles") + ", " +
                          Plural(report.m_nVertices, "vertex", "vertices");
    if (report.m_Files.size() > 1)
        summary += " (with " + report.m_Files[1] + ")";
    lines.Add(bSummaryToStderr ? stderr : stdout, summary + "\n");
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
                         {"--jobs", 'j', true},
                         {"--threads", 0, true},
                         {"--quiet", 'q', false},
                         {"--strict", 0, false}},
                        ConvertHelp, parsed, nExit))
        return nExit;
    ConvertSettings settings;
    settings.bQuiet = parsed.Has("--quiet");
    settings.bStrict = parsed.Has("--strict");
    int nJobs = 0;
    if (!ParseThreadCount("convert", parsed, "--threads", settings.nThreads, nExit) ||
        !ParseThreadCount("convert", parsed, "--jobs", nJobs, nExit))
        return nExit;
    std::vector<std::string> inputs = parsed.Positionals();
    std::string output = parsed.Value("--output");
    bool bToFolder = false;
    if (!ResolveOutputs("convert", true, inputs, output, parsed.Has("--output"), bToFolder, nExit))
        return nExit;

    ExportFormatTypes& eFormat = settings.eFormat;
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

    CProgressBar bar(settings.bQuiet);
    if (!bToFolder)
        return ConvertOne(inputs[0], output, settings, bar, DirectLines()) ? 0 : 1;
    if (!MakeOutputFolder(output))
        return 1;
    const std::vector<CBatchItem> items = PlanBatch("convert", inputs, output, ExportFormatName(eFormat));
    nJobs = BatchJobCount(items, nJobs, eFormat);
    // Each job keeps the threads a file would have alone: a job's threads idle while its walk or its
    // writing runs on one thread, and the other jobs' work fills them (8 files of 94 MB on 2 cores took
    // 0.96 s with the cores divided among the jobs, 0.69 s so, 0.74 s one file at a time). Each file's bar
    // would mix with the others'.
    return RunBatchJobs(items, nJobs, bar, "converting",
                        [&](const std::string& input, const std::string& target, CFileLines& lines)
                        {
                            CProgressBar quiet(true);
                            return ConvertOne(input, target, settings, nJobs > 1 ? quiet : bar, lines);
                        });
}
