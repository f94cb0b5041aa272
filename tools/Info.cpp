#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>
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

// The progress bar: the parser's callback is a plain function, so its state is the program's.
bool g_bProgressBar = false;

void DrawProgress(int nPercentage)
{
    const int nWidth = 40;
    const int nFilled = nPercentage * nWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(nFilled), '#').c_str(),
                 std::string(static_cast<size_t>(nWidth - nFilled), ' ').c_str(), nPercentage);
    std::fflush(stderr);
}

void SLP_STDCALL OnProgress(int nPercentage)
{
    if (g_bProgressBar)
        DrawProgress(nPercentage);
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
    std::vector<const vemoBaseGroup*> pending(1, &world);
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back();
        pending.pop_back();
        totals.nObjects += pGroup->GetNumObjects();
        for (int i = 0; i < pGroup->GetNumObjects(); ++i)
            if (const auto* pMesh = dynamic_cast<const vemoSTL*>(pGroup->GetObject(i)))
                totals.nTriangles += pMesh->m_nTriangleCount;
        for (int i = 0; i < pGroup->GetNumGroups(); ++i)
            pending.push_back(pGroup->GetGroup(i));
        if (pGroup != &world)
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

void TextPoint(COutput& out, const vemoFloatPoint& p)
{
    out << '[';
    out.Float(p.x) << ' ';
    out.Float(p.y) << ' ';
    out.Float(p.z) << ']';
}

void TextBox(COutput& out, const vemoBBox& box)
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

void TextObjects(COutput& out, const vemoBaseGroup& group, const std::string& strIndent)
{
    for (int i = 0; i < group.GetNumObjects(); ++i)
    {
        const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(i));
        const vemoChroma& colour = group.GetObjectMaterial(i)->m_Front.GetDiffuse();
        out << strIndent << "mesh: " << (pMesh != nullptr ? pMesh->m_nTriangleCount : 0)
            << " triangles, colour ";
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

// The tree, each group under its parent, without recursion; groups deeper than nMaxDepth are counted.
void TextTree(COutput& out, const vemoBaseGroup& world, int nMaxDepth)
{
    TextObjects(out, world, "  ");
    std::vector<std::pair<const vemoBaseGroup*, int>> pending;
    for (int i = world.GetNumGroups() - 1; i >= 0; --i)
        pending.emplace_back(world.GetGroup(i), 1);
    long long nElided = 0;
    while (!pending.empty())
    {
        const vemoBaseGroup* pGroup = pending.back().first;
        const int nDepth = pending.back().second;
        pending.pop_back();
        if (nDepth > nMaxDepth)
        {
            ++nElided;
        }
        else
        {
            const std::string strIndent(2 * static_cast<size_t>(nDepth), ' ');
            out << strIndent << "group ";
            out.JsonString(BasicToUtf8(pGroup->GetGroupName().GetText())) << '\n';
            TextObjects(out, *pGroup, strIndent + "  ");
        }
        for (int i = pGroup->GetNumGroups() - 1; i >= 0; --i)
            pending.emplace_back(pGroup->GetGroup(i), nDepth + 1);
    }
    if (nElided > 0)
        out << "  (" << nElided << " groups deeper than " << nMaxDepth << " levels not shown; see --depth)\n";
}

void JsonPoint(COutput& out, const vemoFloatPoint& p)
{
    out << '[';
    out.JsonFloat(p.x) << ", ";
    out.JsonFloat(p.y) << ", ";
    out.JsonFloat(p.z) << ']';
}

void JsonBox(COutput& out, const vemoBBox& box)
{
    if (box.IsEmpty())
    {
        out << "null";
        return;
    }
    out << "{\"min\": ";
    JsonPoint(out, box.GetMin());
    out << ", \"max\": ";
    JsonPoint(out, box.GetMax());
    out << '}';
}

void JsonObjects(COutput& out, const vemoBaseGroup& group, bool bGeometry)
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
        JsonBox(out, group.GetObject(i)->GetBBox());
        out << ", \"decimation\": ";
        out.Double(pMesh != nullptr ? pMesh->GetDecimationMagnitude() : 0.0);
        if (bGeometry && pMesh != nullptr)
        {
            out << ", \"vertices\": [";
            for (int t = 0; t < nTriangles; ++t)
                for (int k = 0; k < 3; ++k)
                {
                    out << (t + k > 0 ? ", " : "");
                    JsonPoint(out, pMesh->m_pTriangles[t].m_Vertex[k]);
                }
            out << "], \"normals\": [";
            for (int t = 0; t < nTriangles; ++t)
                for (int k = 0; k < 3; ++k)
                {
                    const vemoVector& n = pMesh->m_pTriangles[t].m_Normal[k];
                    out << (t + k > 0 ? ", " : "");
                    JsonPoint(out, vemoFloatPoint(n.x, n.y, n.z));
                }
            out << ']';
        }
        out << '}';
    }
    out << ']';
}

// "groups": [...], "objects": [...] of the world, written as a stream without recursion: each frame
// is a group whose children are being written.
void JsonContents(COutput& out, const vemoBaseGroup& world, bool bGeometry)
{
    struct Frame
    {
        const vemoBaseGroup* pGroup;
        int nNextChild;
    };
    std::vector<Frame> frames(1, Frame{&world, 0});
    out << "\"groups\": [";
    while (!frames.empty())
    {
        Frame& frame = frames.back();
        if (frame.nNextChild < frame.pGroup->GetNumGroups())
        {
            const vemoBaseGroup* pChild = frame.pGroup->GetGroup(frame.nNextChild);
            out << (frame.nNextChild > 0 ? ", " : "") << "{\"name\": ";
            ++frame.nNextChild;
            out.JsonString(BasicToUtf8(pChild->GetGroupName().GetText())) << ", \"groups\": [";
            frames.push_back(Frame{pChild, 0});
            continue;
        }
        out << "], ";
        JsonObjects(out, *frame.pGroup, bGeometry);
        frames.pop_back();
        if (!frames.empty())
            out << '}';
    }
}

} // namespace

std::string DescribeFailure(const std::string& path, int nResult)
{
    if (nResult == SLPLoadResult2)
        return "unreadable: the file could not be read";
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (path.empty() || status.type() == std::filesystem::file_type::not_found)
        return "file missing";
    if (error)
        return "unreadable: " + error.message();
    if (status.type() != std::filesystem::file_type::regular)
        return "unreadable: not a regular file";
    if (std::FILE* pFile = std::fopen(path.c_str(), "rb"))
        std::fclose(pFile);
    else
        return std::string("unreadable: ") + std::strerror(errno);
    return "nothing to load: no solid or facet in the file";
}

int RunInfo(const std::vector<std::string>& files, const InfoOptions& options)
{
    COutput out(stdout);
    g_bProgressBar = !options.bQuiet && isatty(STDERR_FILENO);
    int nExit = 0;
    if (options.bJson && files.size() > 1)
        out << "[";
    for (size_t nFile = 0; nFile < files.size(); ++nFile)
    {
        const std::string& path = files[nFile];
        auto pWorld = std::make_unique<CKarnWorld>();
        CSLPParser parser;
        parser.SetFileName(CBasicString::FromPath(path.c_str()));
        parser.SetLoaderPtr(&OnProgress);
        const auto start = std::chrono::steady_clock::now();
        const SLPLoadResultTypes eResult = parser.Parse(pWorld.get());
        const double dSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (g_bProgressBar)
        {
            DrawProgress(100);
            std::fputc('\n', stderr);
        }

        std::string strReason;
        if (eResult != SLPLoadSuccess)
        {
            nExit = 1;
            strReason = DescribeFailure(path, eResult);
            if (strReason.rfind("nothing", 0) != 0)
            {
                out.Flush();
                std::fprintf(stderr, "slp: %s: %s\n", path.c_str(), strReason.c_str());
            }
        }
        const Totals totals = CountModel(*pWorld);

        if (options.bJson)
        {
            out << (nFile > 0 ? ", " : "") << "{\"file\": ";
            out.JsonString(BasicToUtf8(CBasicString::FromPath(path.c_str()).GetWideString()));
            out << ", \"result\": " << static_cast<int>(eResult) << ", \"result_name\": \""
                << ResultName(eResult) << "\", \"totals\": {\"groups\": " << totals.nGroups
                << ", \"objects\": " << totals.nObjects << ", \"triangles\": " << totals.nTriangles
                << "}, \"bbox\": ";
            JsonBox(out, pWorld->GetBBox());
            out << ", ";
            JsonContents(out, *pWorld, options.bGeometry);
            out << "}";
            if (files.size() == 1)
                out << "\n";
        }
        else
        {
            out << path << ": " << ResultName(eResult);
            if (!strReason.empty())
                out << " (" << strReason << ")";
            out << '\n';
            TextTree(out, *pWorld, options.nMaxDepth);
            out << "totals: " << totals.nGroups << " groups, " << totals.nObjects << " objects, "
                << totals.nTriangles << " triangles\nbox: ";
            TextBox(out, pWorld->GetBBox());
            std::error_code error;
            const auto nBytes = std::filesystem::file_size(path, error);
            out << "\ntime: ";
            out.Double(static_cast<double>(static_cast<long long>(dSeconds * 1e6)) / 1e3) << " ms";
            if (!error && dSeconds > 0)
            {
                out << ", ";
                out.Double(static_cast<double>(
                               static_cast<long long>(static_cast<double>(nBytes) / dSeconds / 1e4)) /
                           1e2)
                    << " MB/s";
            }
            out << "\n";
            if (nFile + 1 < files.size())
                out << '\n';
        }
    }
    if (options.bJson && files.size() > 1)
        out << "]\n";
    return nExit;
}
