#include "checker/CheckJson.h"
#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "tools/Commands.h"

#include <cstdio>

namespace
{

const char* const CheckHelp =
    "Usage: slp check [options] FILE...\n"
    "Walk each file (- for standard input) as the loader does and list, with line and column, what a\n"
    "load loses (errors) or reads differently from how it looks (warnings), then a summary line.\n"
    "Findings that slp fix repairs say so.\n"
    "\n"
    "Options:\n"
    "  --json        one JSON document per file (an array for several)\n"
    "  -q, --quiet   only the summary lines, no progress bar\n"
    "\n"
    "Exit status: 0 when no file loses geometry, 1 when one does or cannot be read, 2 for a usage error.\n";

std::string Summary(const CCheckReport& report)
{
    std::string text = report.m_nErrors + report.m_nWarnings == 0
                           ? std::string("no problems")
                           : Plural(report.m_nErrors, "error", "errors") + ", " +
                                 Plural(report.m_nWarnings, "warning", "warnings");
    text += "; " + Plural(report.m_nSolids, "group", "groups") + ", " +
            Plural(report.m_nMeshes, "mesh", "meshes") + ", " +
            Plural(report.m_nTriangles, "triangle", "triangles");
    if (report.m_nLostVertices > 0)
        text += ", " + Plural(report.m_nLostVertices, "vertex", "vertices") + " lost";
    return text;
}

// Checks one file; false when it cannot be read or loses geometry.
bool CheckOne(CFileSink& out, const std::string& name, bool bJson, bool bQuiet, CProgressBar& bar,
              bool bFirst)
{
    const std::string shown = DisplayName(name);
    CCheckOptions options;
    bool bFirstFinding = true;
    if (bJson)
    {
        out << (bFirst ? "" : ", ") << "{\"file\": ";
        out.JsonString(name == "-" ? std::string("-")
                                   : BasicToUtf8(CBasicString::FromPath(name.c_str()).GetWideString()));
        out << ", \"findings\": [";
        options.onFinding = [&](const CCheckFinding& finding)
        {
            out << (bFirstFinding ? "" : ", ");
            WriteFindingJson(out, finding);
            bFirstFinding = false;
        };
    }
    else if (!bQuiet)
        options.onFinding = [&](const CCheckFinding& finding)
        {
            bar.Clear();
            out << shown << ':' << finding.m_nLine << ':' << finding.m_nColumn << ": "
                << CheckSeverityName(finding.m_eSeverity) << ": " << finding.m_strMessage << " ["
                << finding.m_strCode << "]\n";
        };
    bar.SetFile(name);
    options.onProgress = [&bar](int nPercentage) { bar.Set("checking", nPercentage); };
    options.m_nKeptFindings = 0; // everything goes out as it is found
    const CCheckReport report = CheckSLPFile(CBasicString::FromPath(InputPath(name).c_str()), options);
    bar.Clear();

    if (report.m_eOpen != SLPLoadSuccess)
    {
        const std::string reason = DescribeCheckFailure(report);
        out.Flush();
        std::fprintf(stderr, "slp: %s: %s\n", shown.c_str(), reason.c_str());
        if (bJson)
        {
            out << "], \"readable\": false, \"reason\": ";
            out.JsonString(reason);
            out << '}';
        }
        return false;
    }
    if (bJson)
        out << "], \"readable\": true, \"errors\": " << report.m_nErrors
            << ", \"warnings\": " << report.m_nWarnings << ", \"solids\": " << report.m_nSolids
            << ", \"groups\": " << report.m_nSolids << ", \"meshes\": " << report.m_nMeshes
            << ", \"triangles\": " << report.m_nTriangles << ", \"lost_vertices\": " << report.m_nLostVertices
            << ", \"lost_triangles\": " << report.m_nLostTriangles << ", \"bytes\": " << report.m_nBytes
            << '}';
    else
        out << shown << ": " << Summary(report) << '\n';
    return report.m_nErrors == 0;
}

} // namespace

int RunCheck(const std::vector<std::string>& arguments)
{
    CArguments parsed;
    int nExit = 0;
    if (!ParseArguments("check", arguments, {{"--json", 0, false}, {"--quiet", 'q', false}}, CheckHelp,
                        parsed, nExit))
        return nExit;
    const std::vector<std::string>& files = parsed.Positionals();
    if (files.empty())
        return UsageError("check", "name at least one file (- for standard input)");
    const bool bJson = parsed.Has("--json");
    CStdout out;
    CProgressBar bar(parsed.Has("--quiet"));
    if (bJson && files.size() > 1)
        out << '[';
    for (size_t i = 0; i < files.size(); ++i)
        if (!CheckOne(out, files[i], bJson, parsed.Has("--quiet"), bar, i == 0))
            nExit = 1;
    if (bJson)
        out << (files.size() > 1 ? "]\n" : "\n");
    return nExit;
}
