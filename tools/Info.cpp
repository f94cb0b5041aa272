#include "checker/LoadFailure.h"
#include "model/GroupWalk.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "writers/JsonModel.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace
{

const char* ResultName(int nResult)
{
    switch (nResult)
    {
    case SLPLoadSuccess:
        return "SLPLoadSuccess";
    case SLPLoadFailure:
        return "SLPLoadFailure";
    case SLPLoadResult2:
        return "SLPLoadResult2";
    default:
        return "unknown";
    }
}

struct Totals
{
    long long nGroups = 0;
    long long nObjects = 0;
    long long nTriangles = 0;
};

Totals CountModel(const vemoBaseGroup& world)
{
    Totals totals;
    for (CGroupWalk walk(world); walk.Next();)
    {
        const vemoBaseGroup& group = walk.GetGroup();
        totals.nObjects += group.GetNumObjects();
        for (int i = 0; i < group.GetNumObjects(); ++i)
            if (const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i)))
                totals.nTriangles += pMesh->m_nTriangleCount;
        if (walk.GetDepth() > 0)
            ++totals.nGroups;
    }
    return totals;
}

std::string ColourHex(const vemoChroma& c)
{
    const float aParts[3] = {c.red, c.green, c.blue};
    std::string strHex = "#";
    for (const float f : aParts)
    {
        if (!(f >= 0.0f && f <= 1.0f))
            return std::string();
        static const char szDigits[] = "0123456789abcdef";
        const int n = static_cast<int>(f * 255.0f + 0.5f);
        strHex += szDigits[n >> 4];
        strHex += szDigits[n & 15];
    }
    return strHex;
}

void TextPoint(CFileSink& out, const vemoFloatPoint& p)
{
    out << '[';
    out.Float(p.x) << ' ';
    out.Float(p.y) << ' ';
    out.Float(p.z) << ']';
}

void TextBox(CFileSink& out, const vemoBBox& box)
{
    if (box.IsEmpty())
    {
        out << "empty";
        return;
    }
    TextPoint(out, box.GetMin());
    out << " .. ";
    TextPoint(out, box.GetMax());
}

void TextObjects(CFileSink& out, const vemoBaseGroup& group, const std::string& strIndent)
{
    for (int i = 0; i < group.GetNumObjects(); ++i)
    {
        const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i));
        const vemoChroma& colour = group.GetObjectMaterial(i)->m_Front.GetDiffuse();
        out << strIndent
            << "mesh: " << Plural(pMesh != nullptr ? pMesh->m_nTriangleCount : 0, "triangle", "triangles")
            << ", colour ";
        out.Float(colour.red) << ' ';
        out.Float(colour.green) << ' ';
        out.Float(colour.blue) << ' ';
        out.Float(colour.alpha);
        const std::string strHex = ColourHex(colour);
        if (!strHex.empty())
            out << " (" << strHex << ')';
        out << ", box ";
        TextBox(out, group.GetObject(i)->GetBBox());
        out << '\n';
    }
}

// The tree, each group under its parent; groups deeper than nMaxDepth are counted.
void TextTree(CFileSink& out, const vemoBaseGroup& world, long long nMaxDepth)
{
    long long nElided = 0;
    for (CGroupWalk walk(world); walk.Next();)
    {
        const long long nDepth = walk.GetDepth();
        const std::string strIndent(2 * static_cast<size_t>(nDepth), ' ');
        if (nDepth == 0)
            TextObjects(out, world, "  ");
        else if (nDepth > nMaxDepth)
            ++nElided;
        else
        {
            out << strIndent << "group ";
            out.JsonString(BasicToUtf8(walk.GetGroup().GetGroupName().GetText())) << '\n';
            TextObjects(out, walk.GetGroup(), strIndent + "  ");
        }
    }
    if (nElided > 0)
        out << "  (" << Plural(nElided, "group", "groups") << " deeper than "
            << Plural(nMaxDepth, "level", "levels") << " not shown; see --depth)\n";
}

void JsonObjects(CFileSink& out, const vemoBaseGroup& group, bool bGeometry)
{
    out << "\"objects\": [";
    for (int i = 0; i < group.GetNumObjects(); ++i)
    {
        const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i));
        const vemoMaterial& material = group.GetObjectMaterial(i)->m_Front;
        const vemoChroma& c = material.GetDiffuse();
        const int nTriangles = pMesh != nullptr ? pMesh->m_nTriangleCount : 0;
        out << (i > 0 ? ", " : "") << "{\"triangles\": " << nTriangles << ", \"color\": [";
        out.JsonFloat(c.red) << ", ";
        out.JsonFloat(c.green) << ", ";
        out.JsonFloat(c.blue) << ", ";
        out.JsonFloat(c.alpha) << "], \"shininess\": ";
        out.JsonFloat(material.GetShininess()) << ", \"bbox\": ";
        WriteJsonBox(out, group.GetObject(i)->GetBBox());
        out << ", \"decimation\": ";
        out.Double(pMesh != nullptr ? pMesh->GetDecimationMagnitude() : 0.0);
        if (bGeometry && pMesh != nullptr)
        {
            out << ", \"vertices\": [";
            for (int t = 0; t < nTriangles; ++t)
                for (int k = 0; k < 3; ++k)
                {
                    out << (t + k > 0 ? ", " : "");
                    WriteJsonPoint(out, pMesh->m_pTriangles[t].m_Vertex[k]);
                }
            out << "], \"normals\": [";
            for (int t = 0; t < nTriangles; ++t)
                for (int k = 0; k < 3; ++k)
                {
                    const vemoVector& n = pMesh->m_pTriangles[t].m_Normal[k];
                    out << (t + k > 0 ? ", " : "");
                    WriteJsonPoint(out, vemoFloatPoint(n.x, n.y, n.z));
                }
            out << ']';
        }
        out << '}';
    }
    out << ']';
}

// "groups": [...], "objects": [...] of the world, each group as {"name": ..., "groups": [...],
// "objects": [...]}: a group's children are written between entering and leaving it.
void JsonContents(CFileSink& out, const vemoBaseGroup& world, bool bGeometry)
{
    std::vector<bool> hasChild; // per group of the walk's path: a child has been written
    for (CGroupWalk walk(world, true); walk.Next();)
    {
        if (!walk.IsEntering())
        {
            out << "], ";
            JsonObjects(out, walk.GetGroup(), bGeometry);
            hasChild.pop_back();
            if (walk.GetDepth() > 0)
                out << '}';
            continue;
        }
        if (walk.GetDepth() > 0)
        {
            out << (hasChild.back() ? ", " : "") << "{\"name\": ";
            hasChild.back() = true;
            out.JsonString(BasicToUtf8(walk.GetGroup().GetGroupName().GetText())) << ", ";
        }
        out << "\"groups\": [";
        hasChild.push_back(false);
    }
}

const char* const InfoHelp =
    "Usage: slp info [options] FILE...\n"
    "Load each file (- for standard input) and print its model tree, totals, box and load time.\n"
    "\n"
    "Options:\n"
    "  --json        one JSON document per file (an array for several)\n"
    "  --geometry    with --json: every mesh's vertices and normals too\n"
    "  --depth N     text: print groups down to N levels (default 64)\n"
    "  --threads N   threads to load each file on (default 0: one per core for large files; 1: the\n"
    "                calling thread alone)\n"
    "  -q, --quiet   no progress bar\n"
    "  --strict      exit status 1 also when a load dropped vertices\n"
    "\n"
    "Exit status: 0 when every file loaded, 1 when any did not, 2 for a usage error.\n";

// Loads one file and prints it; false when it did not load.
bool InfoOne(CFileSink& out, const std::string& name, bool bJson, bool bGeometry, long long nMaxDepth,
             bool bStrict, int nThreads, CProgressBar& bar, bool bFirst)
{
    bar.SetFile(name);
    auto pWorld = std::make_unique<CKarnWorld>();
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(InputPath(name).c_str()));
    parser.SetThreadCount(nThreads);
    parser.SetLoaderPtr(&SLPProgressToBar);
    CBinaryInputGuard guard; // binary input is refused at its first block, not read to its end
    parser.GetIOManager()->GetFileInterface()->SetReadWatcher(&guard);
    g_pLoadProgress = &bar;
    const auto start = std::chrono::steady_clock::now();
    const SLPLoadResultTypes eResult = parser.Parse(pWorld.get());
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    g_pLoadProgress = nullptr;
    bar.Clear();

    const std::string shown = DisplayName(name);
    std::string strReason;
    if (eResult != SLPLoadSuccess)
    {
        strReason = DescribeReadFailure(parser, eResult);
        out.Flush();
        std::fprintf(stderr, "slp: %s: %s\n", shown.c_str(), strReason.c_str());
    }
    else if (parser.GetDiscardedPointCount() > 0)
    {
        out.Flush();
        WarnDropped(name, parser.GetDiscardedPointCount(), bStrict);
    }
    const bool bWhole = eResult == SLPLoadSuccess && (!bStrict || parser.GetDiscardedPointCount() == 0);
    // What happened, in words.
    std::string status = eResult == SLPLoadSuccess ? std::string("loaded") : strReason;
    if (eResult == SLPLoadSuccess && parser.GetDiscardedPointCount() > 0)
        status += ", " + Plural(parser.GetDiscardedPointCount(), "vertex", "vertices") + " dropped";
    const Totals totals = CountModel(*pWorld);

    if (bJson)
    {
        out << (bFirst ? "" : ", ") << "{\"file\": ";
        out.JsonString(name == "-" ? std::string("-")
                                   : BasicToUtf8(CBasicString::FromPath(name.c_str()).GetWideString()));
        out << ", \"result\": " << static_cast<int>(eResult) << ", \"result_name\": \"" << ResultName(eResult)
            << "\", \"status\": ";
        out.JsonString(status);
        if (!strReason.empty())
        {
            out << ", \"reason\": ";
            out.JsonString(strReason);
        }
        out << ", \"totals\": {\"groups\": " << totals.nGroups << ", \"objects\": " << totals.nObjects
            << ", \"triangles\": " << totals.nTriangles
            << "}, \"discarded_vertices\": " << parser.GetDiscardedPointCount() << ", \"bbox\": ";
        WriteJsonBox(out, pWorld->GetBBox());
        out << ", ";
        JsonContents(out, *pWorld, bGeometry);
        out << "}";
        return bWhole;
    }
    if (eResult != SLPLoadSuccess)
        return false;
    out << (bFirst ? "" : "\n") << shown << ": " << status << '\n';
    TextTree(out, *pWorld, nMaxDepth);
    out << "totals: " << Plural(totals.nGroups, "group", "groups") << ", "
        << Plural(totals.nObjects, "mesh", "meshes") << ", "
        << Plural(totals.nTriangles, "triangle", "triangles") << ", "
        << Plural(3 * totals.nTriangles, "vertex", "vertices") << "\nbox: ";
    TextBox(out, pWorld->GetBBox());
    const long long nBytes = parser.GetIOManager()->GetTotalFileSize64();
    out << "\ntime: ";
    out.Double(static_cast<double>(static_cast<long long>(dSeconds * 1e6)) / 1e3) << " ms";
    if (dSeconds > 0)
    {
        out << ", ";
        out.Double(static_cast<double>(static_cast<long long>(static_cast<double>(nBytes) / dSeconds / 1e4)) /
                   1e2)
            << " MB/s";
    }
    out << "\n";
    return bWhole;
}

} // namespace

int RunInfo(const std::vector<std::string>& arguments)
{
    CArguments parsed;
    int nExit = 0;
    if (!ParseArguments("info", arguments,
                        {{"--json", 0, false},
                         {"--geometry", 0, false},
                         {"--depth", 0, true},
                         {"--threads", 0, true},
                         {"--quiet", 'q', false},
                         {"--strict", 0, false}},
                        InfoHelp, parsed, nExit))
        return nExit;
    const bool bJson = parsed.Has("--json");
    if (parsed.Has("--geometry") && !bJson)
        return UsageError("info", "--geometry goes with --json");
    long long nMaxDepth = 64;
    if (parsed.Has("--depth") && !ParseCount(parsed.Value("--depth"), nMaxDepth))
        return UsageError("info",
                          "--depth takes a whole number from 0 up, not \"" + parsed.Value("--depth") + "\"");
    int nThreads = 0;
    if (!ParseThreadCount("info", parsed, "--threads", nThreads, nExit))
        return nExit;
    const std::vector<std::string>& files = parsed.Positionals();
    if (files.empty())
        return UsageError("info", "name at least one file (- for standard input)");

    CStdout out;
    CProgressBar bar(parsed.Has("--quiet"));
    if (bJson && files.size() > 1)
        out << "[";
    for (size_t i = 0; i < files.size(); ++i)
        if (!InfoOne(out, files[i], bJson, parsed.Has("--geometry"), nMaxDepth, parsed.Has("--strict"),
                     nThreads, bar, i == 0))
            nExit = 1;
    if (bJson)
        out << (files.size() > 1 ? "]\n" : "\n");
    return nExit;
}
