// slp fix: an SLP file rewritten so that a load keeps what the file meant. The walk is the loader's (the
// checker's walk shows it step by step): the same tokens start and end runs, the same token names a
// solid, the same token after a short triple is passed over, so that whatever a load already keeps is
// written back exactly as the load sees it, and only what a load drops is repaired or left out.
#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "foundation/TextCodec.h"
#include "slp/NearestFloat.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"
#include "writers/FileSink.h"
#include "writers/SlpWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

const char* const FixHelp =
    "Usage: slp fix [options] IN OUT\n"
    "       slp fix [options] -o OUT IN\n"
    "       slp fix [options] -o FOLDER IN...\n"
    "Write an SLP file that loads with everything IN meant, and say what changed. A run of facets with one\n"
    "normal per facet (as ASCII STL writes it) gets that normal on each of its three vertices; a run\n"
    "without normals gets each facet's normal from its vertices' winding; facets outside any solid go\n"
    "into a solid named after the file; solids left open are closed. A facet with a normal or vertex cut\n"
    "short, vertices after a run's last whole facet and stray words are left out. What a load already\n"
    "keeps is written as the load reads it: the same groups, meshes, colours and floats. IN may be - for\n"
    "standard input (gzipped input is read too), OUT - for standard output. Every file is written to a\n"
    "temporary file beside it and moves into place only when it is complete.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT   the output file, or a folder for several inputs (FOLDER/IN.slp)\n"
    "  --json             what changed as JSON on standard output (an array for several files)\n"
    "  -q, --quiet        no progress bar and no lines of what changed\n"
    "  --strict           exit status 1 also when geometry had to be left out\n"
    "\n"
    "Exit status: 0 when every output loads with nothing dropped, 1 when one does not or cannot be\n"
    "written, 2 for a usage error.\n";

// What a fix changes, one line each.
enum FixKinds
{
    FixNormalPerFacet,
    FixNormalsFromWinding,
    FixOutsideSolid,
    FixSolidClosed,
    FixShortTriple,
    FixLeftoverVertices,
    FixNormalsOnly,
    FixStrayTokens,
    FixKindCount
};

struct FixKindText
{
    const char* pszCode;
    const char* pszOne;
    const char* pszMany;
    const char* pszWhat; // after the count
};

const FixKindText KindTexts[FixKindCount] = {
    {"normal-per-facet", "facet", "facets",
     "with one normal: the normal now stands on each of its 3 vertices"},
    {"normals-from-winding", "facet", "facets",
     "without a normal per vertex: normals computed from the vertices' winding"},
    {"outside-solid", "facet", "facets", "outside any solid: put into a solid named"},
    {"solid-left-open", "solid", "solids", "left open: closed at the end"},
    {"short-triple", "facet", "facets", "with a normal or vertex of fewer than 3 numbers: left out"},
    {"leftover-vertices", "vertex", "vertices", "after a run's last whole facet: left out"},
    {"normals-without-vertices", "normal", "normals", "in runs without vertices: left out"},
    {"stray-tokens", "stray token", "stray tokens", "that a load passes over: left out"}};

// The first line numbers of a kind that are told.
constexpr size_t ShownLines = 5;

struct FixChange
{
    long long nCount = 0;
    std::vector<long long> lines;

    void Add(long long nCountAdded, long long nLine)
    {
        if (nCountAdded <= 0)
            return;
        nCount += nCountAdded;
        if (lines.size() < ShownLines && (lines.empty() || lines.back() != nLine))
            lines.push_back(nLine);
    }
};

struct ModelCounts
{
    long long nGroups = 0;
    long long nMeshes = 0;
    long long nTriangles = 0;
};

// What one fix did.
struct FixResult
{
    FixChange changes[FixKindCount];
    ModelCounts before;
    ModelCounts after;
    long long nDroppedBefore = 0; // vertices a load of the input drops
    long long nLeftOut = 0;       // vertices the output does not have
    std::string stem;             // the name of the solid for facets outside any solid
};

// The unit normal of the triangle's winding (v1 - v0) x (v2 - v0), in double; 0 0 0 where the facet
// has no area or is not finite.
vemoVector WindingNormal(const vemoFloatPoint* p)
{
    const double a[3] = {double(p[1].x) - p[0].x, double(p[1].y) - p[0].y, double(p[1].z) - p[0].z};
    const double b[3] = {double(p[2].x) - p[0].x, double(p[2].y) - p[0].y, double(p[2].z) - p[0].z};
    const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    const double dLength = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    if (!(dLength > 0.0) || !std::isfinite(dLength))
        return vemoVector(0.0f, 0.0f, 0.0f);
    return vemoVector(static_cast<float>(c[0] / dLength), static_cast<float>(c[1] / dLength),
                      static_cast<float>(c[2] / dLength));
}

class CFixWalk
{
public:
    CFixWalk(CSLPIOManager& tokens, CSlpTextWriter& out, FixResult& result, CProgressBar& bar)
        : m_Tokens(tokens), m_Out(out), m_Result(result), m_Bar(bar)
    {
    }
    void Run();

private:
    struct Vertex
    {
        vemoFloatPoint p;
        bool bShort;
        long long nLine;
    };
    struct Normal
    {
        vemoVector n;
        bool bShort;
        size_t nBefore; // the run's vertices before it
    };

    void Advance();
    long long Line() { return m_Tokens.GetCurrentToken().GetLine(); }
    // The loader's triple: up to three numbers into pValues; the current token is then the third
    // number, or the token after fewer.
    int ReadTriple(double* pValues);
    // After a keyword's triple: the token after a short one is passed over, as the loader does.
    void AfterTriple(int nNumbers, long long nLine);
    // The loader's flush: the run becomes a mesh, repaired where a load drops it.
    void Flush();
    void Stray(long long nLine) { m_Result.changes[FixStrayTokens].Add(1, nLine); }

    CSLPIOManager& m_Tokens;
    CSlpTextWriter& m_Out;
    FixResult& m_Result;
    CProgressBar& m_Bar;
    int m_nLastPercentage = -1;
    // The loader's state: the last triple of each keyword (a short one keeps the others' numbers), the
    // colour in force, and the lines of the solids open.
    double m_aNormal[3] = {0.0, 0.0, 0.0};
    double m_aVertex[3] = {0.0, 0.0, 0.0};
    double m_aColour[3] = {0.0, 0.0, 0.0};
    float m_fColour[3] = {1.0f, 1.0f, 1.0f};
    std::vector<long long> m_OpenSolids;
    // The current run.
    std::vector<Vertex> m_Vertices;
    std::vector<Normal> m_Normals;
    long long m_nRunLine = 0;
    // The output's own solid for facets outside any solid is open; the file ended with "solid".
    bool m_bStemOpen = false;
    bool m_bUnnamedLast = false;
};

void CFixWalk::Advance()
{
    m_Tokens.Tokenize();
    if (!m_Bar.IsShown())
        return;
    const CKarnFileInterface& file = *m_Tokens.GetFileInterface();
    const long long nTotal = file.GetSourceSize();
    if (nTotal <= 0)
        return;
    const long long nPercentage = file.GetSourceOffset() * 100 / nTotal;
    if (nPercentage != m_nLastPercentage)
    {
        m_nLastPercentage = static_cast<int>(nPercentage > 99 ? 99 : nPercentage);
        m_Bar.Set("fixing", m_nLastPercentage);
    }
}

int CFixWalk::ReadTriple(double* pValues)
{
    int nNumbers = 0;
    while (m_Tokens.GetCurrentTokenType() == SLPTokenNumber)
    {
        pValues[nNumbers++] = m_Tokens.GetCurrentTokenNumericValue();
        if (nNumbers == 3)
            break;
        Advance();
    }
    return nNumbers;
}

void CFixWalk::AfterTriple(int nNumbers, long long nLine)
{
    if (nNumbers == 0)
        Stray(nLine); // the keyword adds nothing
    if (nNumbers < 3 && m_Tokens.GetCurrentTokenType() != SLPTokenEndOfFile)
        Stray(Line());
}

void CFixWalk::Flush()
{
    const size_t nPoints = m_Vertices.size();
    const size_t nNormals = m_Normals.size();
    if (nPoints == 0 && nNormals == 0)
        return;
    const bool bInSolid = !m_OpenSolids.empty();
    if (nPoints == 0)
    {
        m_Result.changes[FixNormalsOnly].Add(static_cast<long long>(nNormals), m_nRunLine);
        m_Normals.clear();
        return;
    }
    // What a load of the input keeps of the run.
    const size_t nWhole = nPoints / 3;
    const bool bLoads = bInSolid && nPoints == nNormals && nWhole > 0;
    if (bLoads)
    {
        m_Result.before.nMeshes += 1;
        m_Result.before.nTriangles += static_cast<long long>(nWhole);
        m_Result.nDroppedBefore += static_cast<long long>(nPoints % 3);
    }
    else
        m_Result.nDroppedBefore += static_cast<long long>(nPoints);

    long long nWritten = 0;
    size_t nNextNormal = 0; // the first normal not yet taken by a facet
    for (size_t k = 0; k < nWhole; ++k)
    {
        const Vertex* pV = &m_Vertices[3 * k];
        vemoFloatPoint aPoints[3] = {pV[0].p, pV[1].p, pV[2].p};
        vemoVector aNormals[3];
        bool bShort = false;
        FixKinds eKind = FixKindCount;
        if (nPoints == nNormals)
        {
            // Paired as the loader pairs them: normal i with vertex i.
            for (int i = 0; i < 3; ++i)
                aNormals[i] = m_Normals[3 * k + i].n;
            // A run the load keeps is written as it loads, short triples and all.
            if (!bLoads)
                for (int i = 0; i < 3; ++i)
                    bShort = bShort || pV[i].bShort || m_Normals[3 * k + i].bShort;
        }
        else
        {
            // The facet's normals are those read after the previous facet's last vertex and before its
            // own last one.
            while (nNextNormal < nNormals && m_Normals[nNextNormal].nBefore < 3 * k)
                ++nNextNormal;
            size_t nEnd = nNextNormal;
            while (nEnd < nNormals && m_Normals[nEnd].nBefore <= 3 * k + 2)
                ++nEnd;
            for (int i = 0; i < 3; ++i)
                bShort = bShort || pV[i].bShort;
            if (nEnd - nNextNormal == 1)
            {
                eKind = FixNormalPerFacet;
                bShort = bShort || m_Normals[nNextNormal].bShort;
                for (vemoVector& n : aNormals)
                    n = m_Normals[nNextNormal].n;
            }
            else if (nEnd - nNextNormal == 3)
            {
                for (int i = 0; i < 3; ++i)
                {
                    bShort = bShort || m_Normals[nNextNormal + i].bShort;
                    aNormals[i] = m_Normals[nNextNormal + i].n;
                }
            }
            else
            {
                eKind = FixNormalsFromWinding;
                aNormals[0] = aNormals[1] = aNormals[2] = WindingNormal(aPoints);
            }
            nNextNormal = nEnd;
        }
        if (bShort)
        {
            m_Result.changes[FixShortTriple].Add(1, pV[0].nLine);
            m_Result.nLeftOut += 3;
            continue;
        }
        if (eKind != FixKindCount)
            m_Result.changes[eKind].Add(1, pV[0].nLine);
        if (nWritten == 0)
        {
            if (!bInSolid && !m_bStemOpen)
            {
                bool bExact = true;
                m_Out.OpenSolid(SlpNameToken(m_Result.stem, bExact));
                m_bStemOpen = true;
                m_Result.after.nGroups += 1;
            }
            m_Out.SetColour(m_fColour[0], m_fColour[1], m_fColour[2]);
        }
        m_Out.Triangle(aPoints, aNormals);
        ++nWritten;
    }
    if (nPoints % 3 != 0)
    {
        m_Result.changes[FixLeftoverVertices].Add(static_cast<long long>(nPoints % 3),
                                                  m_Vertices[3 * nWhole].nLine);
        m_Result.nLeftOut += static_cast<long long>(nPoints % 3);
    }
    if (nWritten > 0)
    {
        m_Out.EndRun();
        m_Result.after.nMeshes += 1;
        m_Result.after.nTriangles += nWritten;
        if (!bInSolid)
            m_Result.changes[FixOutsideSolid].Add(nWritten, m_nRunLine);
    }
    m_Vertices.clear();
    m_Normals.clear();
}

void CFixWalk::Run()
{
    Advance();
    for (;;)
    {
        const SLPTokenTypes eType = m_Tokens.GetCurrentTokenType();
        if (eType == SLPTokenEndOfFile)
            break;
        const long long nLine = Line();
        switch (eType)
        {
        case SLPTokenSolid:
        {
            Flush();
            Advance();
            // The next token names the solid whatever it is; a load takes its text up to a NUL byte.
            const bool bUnnamed = m_Tokens.GetCurrentTokenType() == SLPTokenEndOfFile;
            const std::string name =
                bUnnamed ? std::string() : std::string(m_Tokens.GetCurrentToken().GetString());
            if (m_bStemOpen)
            {
                m_Out.CloseSolid();
                m_bStemOpen = false;
            }
            m_Out.OpenSolid(name);
            m_OpenSolids.push_back(nLine);
            m_Result.before.nGroups += 1;
            m_Result.after.nGroups += 1;
            m_bUnnamedLast = bUnnamed;
            break;
        }
        case SLPTokenEndSolid:
            Flush();
            if (m_OpenSolids.empty())
                Stray(nLine);
            else
            {
                m_Out.CloseSolid();
                m_OpenSolids.pop_back();
            }
            break;
        case SLPTokenNormal:
        case SLPTokenVertex:
        {
            Advance();
            double* const pValues = eType == SLPTokenNormal ? m_aNormal : m_aVertex;
            const int nNumbers = ReadTriple(pValues);
            if (nNumbers > 0)
            {
                if (m_Vertices.empty() && m_Normals.empty())
                    m_nRunLine = nLine;
                if (eType == SLPTokenNormal)
                    m_Normals.push_back(
                        Normal{vemoVector(SLPNearestFloat(pValues[0]), SLPNearestFloat(pValues[1]),
                                          SLPNearestFloat(pValues[2])),
                               nNumbers < 3, m_Vertices.size()});
                else
                    m_Vertices.push_back(
                        Vertex{vemoFloatPoint(SLPNearestFloat(pValues[0]), SLPNearestFloat(pValues[1]),
                                              SLPNearestFloat(pValues[2])),
                               nNumbers < 3, nLine});
            }
            AfterTriple(nNumbers, nLine);
            break;
        }
        case SLPTokenColor:
        {
            Flush();
            Advance();
            const int nNumbers = ReadTriple(m_aColour);
            if (nNumbers > 0)
                for (int i = 0; i < 3; ++i)
                    m_fColour[i] = SLPNearestFloat(m_aColour[i]);
            AfterTriple(nNumbers, nLine);
            break;
        }
        case SLPTokenFacet:
        case SLPTokenEndFacet:
        case SLPTokenOuter:
        case SLPTokenLoop:
        case SLPTokenEndLoop:
            break; // the frame of a facet, which the output writes afresh
        default:
            Stray(nLine);
            break;
        }
        Advance();
    }
    Flush();
    // A file that ends with "solid" ends so in the output too: whatever followed would name it.
    if (!m_bUnnamedLast)
        for (size_t i = 0; i < m_OpenSolids.size(); ++i)
            m_Result.changes[FixSolidClosed].Add(1, m_OpenSolids[i]);
    m_Out.Finish();
}

std::string ChangeLine(const FixResult& result, int nKind)
{
    const FixChange& change = result.changes[nKind];
    const FixKindText& text = KindTexts[nKind];
    std::string line = Plural(change.nCount, text.pszOne, text.pszMany) + " " + text.pszWhat;
    if (nKind == FixOutsideSolid)
    {
        bool bExact = true;
        line += " " + SlpNameToken(result.stem, bExact);
    }
    line += change.lines.size() > 1 ? " (lines " : " (line ";
    for (size_t i = 0; i < change.lines.size(); ++i)
        line += (i > 0 ? ", " : "") + std::to_string(change.lines[i]);
    if (change.nCount > static_cast<long long>(change.lines.size()) && change.lines.size() == ShownLines)
        line += ", ...";
    return line + ")";
}

void JsonCounts(CFileSink& out, const ModelCounts& counts)
{
    out << "{\"groups\": " << counts.nGroups << ", \"meshes\": " << counts.nMeshes
        << ", \"triangles\": " << counts.nTriangles;
}

struct FixSettings
{
    bool bJson = false;
    bool bQuiet = false;
    bool bStrict = false;
};

// Fixes one input into one output; false when the output was not written or does not load whole.
bool FixOne(CFileSink& report, const std::string& input, const std::string& output,
            const FixSettings& settings, CProgressBar& bar, bool& bFirst)
{
    const std::string shownInput = DisplayName(input);
    if (!OutputSparesInput(input, output, ExportFormatSlp))
        return false;
    bar.SetFile(input);
    CSLPParser parser; // for its tokenizer, and the reasons of a failure
    CSLPIOManager& tokens = *parser.GetIOManager();
    CBinaryInputGuard guard; // binary input is refused at its first block, not read to its end
    const SLPLoadResultTypes eOpen = OpenForTokens(parser, input, guard);
    if (eOpen != SLPLoadSuccess)
    {
        report.Flush();
        std::fprintf(stderr, "slp: %s: %s\n", shownInput.c_str(), DescribeReadFailure(parser, eOpen).c_str());
        return false;
    }

    const bool bToStream = output == "-";
    CExportOptions options;
    if (bToStream)
        options.m_pStream = stdout;
    CExportReport written;
    CFileSink out;
    FixResult result;
    result.stem = input == "-" ? std::string("stdin") : Stem(input);
    std::fflush(stdout);
    if (!OpenOutputs(options, written, out, bToStream ? "standard output" : WriterPath(output)))
    {
        std::fprintf(stderr, "slp: %s\n", written.m_strMessage.c_str());
        return false;
    }
    {
        CSlpTextWriter slp(out);
        CFixWalk walk(tokens, slp, result, bar);
        walk.Run();
    }
    bar.Clear();
    const bool bReadFailed = tokens.GetReadFailed();
    const long long nSize = tokens.GetTotalFileSize64();
    tokens.CloseFile();
    if (bReadFailed)
    {
        out.Discard();
        report.Flush();
        std::fprintf(stderr, "slp: %s: %s\n", shownInput.c_str(),
                     DescribeReadFailure(parser, SLPLoadResult2).c_str());
        return false;
    }
    if (result.after.nGroups == 0)
    {
        // Nothing that a load could keep: no output, rather than one that does not load.
        out.Discard();
        report.Flush();
        std::fprintf(stderr, "slp: %s: %s; nothing to write\n", shownInput.c_str(),
                     tokens.GetFileInterface()->GetStartsAsBinary() ? "binary data, not SLP text"
                     : nSize == 0                                   ? "empty file"
                                                                    : "no solid and no facets in the file");
        return false;
    }
    if (!FinishOutputs(written, out))
    {
        std::fprintf(stderr, "slp: %s\n", written.m_strMessage.c_str());
        if (bToStream)
            StandardOutputFailureTold();
        return false;
    }

    const std::string shownOutput = bToStream ? std::string("<stdout>") : output;
    if (settings.bJson)
    {
        report << (bFirst ? "" : ", ") << "{\"file\": ";
        report.JsonString(input == "-" ? std::string("-")
                                       : BasicToUtf8(CBasicString::FromPath(input.c_str()).GetWideString()));
        report << ", \"output\": ";
        report.JsonString(bToStream ? std::string("-")
                                    : BasicToUtf8(CBasicString::FromPath(output.c_str()).GetWideString()));
        report << ", \"changes\": [";
        bool bFirstChange = true;
        for (int nKind = 0; nKind < FixKindCount; ++nKind)
        {
            const FixChange& change = result.changes[nKind];
            if (change.nCount == 0)
                continue;
            report << (bFirstChange ? "" : ", ") << "{\"code\": \"" << KindTexts[nKind].pszCode
                   << "\", \"count\": " << change.nCount << ", \"lines\": [";
            for (size_t i = 0; i < change.lines.size(); ++i)
                report << (i > 0 ? ", " : "") << change.lines[i];
            report << "], \"message\": ";
            report.JsonString(ChangeLine(result, nKind));
            report << '}';
            bFirstChange = false;
        }
        report << "], \"before\": ";
        JsonCounts(report, result.before);
        report << ", \"dropped_vertices\": " << result.nDroppedBefore << "}, \"after\": ";
        JsonCounts(report, result.after);
        report << ", \"dropped_vertices\": 0}, \"left_out_vertices\": " << result.nLeftOut << '}';
        bFirst = false;
    }
    else if (!settings.bQuiet)
    {
        // What changed goes where it does not mix with the output itself.
        std::FILE* pText = OutputIsStandardOutput(output) ? stderr : stdout;
        std::string text;
        for (int nKind = 0; nKind < FixKindCount; ++nKind)
            if (result.changes[nKind].nCount > 0)
                text += shownInput + ": " + ChangeLine(result, nKind) + "\n";
        if (text.empty())
            text = shownInput + ": nothing to repair\n";
        text += shownOutput + ": slp, " + Plural(result.after.nGroups, "group", "groups") + ", " +
                Plural(result.after.nMeshes, "mesh", "meshes") + ", " +
                Plural(result.after.nTriangles, "triangle", "triangles") + " (a load of " + shownInput +
                " keeps " + Plural(result.before.nTriangles, "triangle", "triangles") + ")\n";
        if (pText == stdout)
            report << text;
        else
        {
            report.Flush();
            std::fputs(text.c_str(), stderr);
        }
    }
    return !settings.bStrict || result.nLeftOut == 0;
}

} // namespace

int RunFix(const std::vector<std::string>& arguments)
{
    CArguments parsed;
    int nExit = 0;
    if (!ParseArguments(
            "fix", arguments,
            {{"--output", 'o', true}, {"--json", 0, false}, {"--quiet", 'q', false}, {"--strict", 0, false}},
            FixHelp, parsed, nExit))
        return nExit;
    std::vector<std::string> inputs = parsed.Positionals();
    std::string output = parsed.Value("--output");
    bool bToFolder = false;
    if (!ResolveOutputs("fix", false, inputs, output, parsed.Has("--output"), bToFolder, nExit))
        return nExit;
    FixSettings settings;
    settings.bJson = parsed.Has("--json");
    settings.bQuiet = parsed.Has("--quiet");
    settings.bStrict = parsed.Has("--strict");
    if (settings.bJson && output == "-")
        return UsageError("fix", "--json writes to standard output; name an output file for the SLP text");

    CStdout report;
    CProgressBar bar(settings.bQuiet);
    bool bFirst = true;
    if (settings.bJson && bToFolder)
        report << '[';
    const auto fixOne = [&](const std::string& input, const std::string& target)
    { return FixOne(report, input, target, settings, bar, bFirst); };
    nExit = bToFolder ? RunBatch("fix", inputs, output, "slp", fixOne) : (fixOne(inputs[0], output) ? 0 : 1);
    if (settings.bJson)
        report << (bToFolder ? "]\n" : "\n");
    return nExit;
}
