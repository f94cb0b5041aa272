// The web page's binding to the loader, the checker and the writers, compiled to WebAssembly. A plain C
// interface that the page's worker calls through the module's exports; one model is loaded at a time.
//
// Results that have a shape (the model's tree, a check's findings, an export's report) are written as
// JSON to a file of the module's in-memory file system, which the worker reads and removes; the JSON
// goes through the writers' sink, so numbers and strings are written as `slp info --json` and `slp check
// --json` write them. Geometry goes the other way: for one mesh at a time the binding builds its
// vertices (position and normal, 6 floats each, equal ones merged as the glTF writer merges them) and
// its triangle indices in the module's memory, and the worker takes views of them.
#include "checker/CheckJson.h"
#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "model/GroupWalk.h"
#include "slp/SLPParser.h"
#include "writers/FileSink.h"
#include "writers/JsonModel.h"
#include "writers/ModelWalk.h"
#include "writers/VertexIndex.h"
#include "writers/WorldExport.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <emscripten/emscripten.h>

// Implemented by the worker (library_slpweb.js): the percentage of a load (stage 0), a check (1) or an
// export (2), each time it grows.
extern "C" void slpweb_report_progress(int nStage, int nPercentage);

namespace
{

enum ProgressStages
{
    StageLoad = 0,
    StageCheck = 1,
    StageExport = 2
};

// A group of the loaded model in the order of the group walk (each group before its children), with
// the range of the walk its subtree covers and the range of the mesh list its own objects take.
struct CGroupEntry
{
    const vemoBaseGroup* m_pGroup;
    int m_nDepth;
    long long m_nParent; // -1 for the root
    long long m_nEnd;    // one past the last group of its subtree
    long long m_nFirstObject;
};

struct CObjectEntry
{
    long long m_nGroup;
    int m_nObject;
};

struct CSession
{
    std::unique_ptr<CKarnWorld> m_pWorld;
    std::vector<CGroupEntry> m_Groups;
    std::vector<CObjectEntry> m_Objects;
    // The mesh last built: merged vertices and the indices of its triangles' corners.
    CVertexIndex m_Vertices;
    std::vector<std::uint32_t> m_Indices;
};

CSession g_Session;

void SLP_STDCALL OnLoadProgress(int nPercentage)
{
    slpweb_report_progress(StageLoad, nPercentage);
}

const vemoSTL* MeshOf(const CObjectEntry& entry)
{
    return dynamic_cast<const vemoSTL*>(
        g_Session.m_Groups[entry.m_nGroup].m_pGroup->GetObject(entry.m_nObject));
}

// Lists the groups and objects of the loaded world in walk order, without recursion.
void ListModel()
{
    std::vector<long long> path; // entries of the groups from the root to the current one
    for (CGroupWalk walk(*g_Session.m_pWorld, true); walk.Next();)
    {
        if (!walk.IsEntering())
        {
            g_Session.m_Groups[path.back()].m_nEnd = static_cast<long long>(g_Session.m_Groups.size());
            path.pop_back();
            continue;
        }
        const vemoBaseGroup& group = walk.GetGroup();
        const long long nEntry = static_cast<long long>(g_Session.m_Groups.size());
        g_Session.m_Groups.push_back({&group, walk.GetDepth(), path.empty() ? -1 : path.back(), nEntry + 1,
                                      static_cast<long long>(g_Session.m_Objects.size())});
        for (int i = 0; i < group.GetNumObjects(); ++i)
            g_Session.m_Objects.push_back({nEntry, i});
        path.push_back(nEntry);
    }
}

// The model as JSON: the outcome, the totals, and the flat lists of groups and objects.
void WriteModel(CFileSink& out, CSLPParser& parser, SLPLoadResultTypes eResult, double dSeconds)
{
    long long nTriangles = 0;
    for (const CObjectEntry& entry : g_Session.m_Objects)
        if (const vemoSTL* pMesh = MeshOf(entry))
            nTriangles += pMesh->m_nTriangleCount;
    out << "{\"result\": " << static_cast<int>(eResult);
    if (eResult != SLPLoadSuccess)
    {
        out << ", \"reason\": ";
        out.JsonString(DescribeLoadFailure(parser, eResult));
    }
    out << ", \"bytes\": " << parser.GetIOManager()->GetTotalFileSize64() << ", \"seconds\": ";
    out.Double(dSeconds);
    out << ", \"discarded_vertices\": " << parser.GetDiscardedPointCount()
        << ", \"totals\": {\"groups\": " << static_cast<long long>(g_Session.m_Groups.size()) - 1
        << ", \"objects\": " << static_cast<long long>(g_Session.m_Objects.size())
        << ", \"triangles\": " << nTriangles << "}, \"bbox\": ";
    WriteJsonBox(out, g_Session.m_pWorld->GetBBox());
    out << ",\n\"groups\": [";
    for (size_t i = 0; i < g_Session.m_Groups.size(); ++i)
    {
        const CGroupEntry& entry = g_Session.m_Groups[i];
        out << (i > 0 ? ",\n" : "") << "{\"name\": ";
        out.JsonString(BasicToUtf8(entry.m_pGroup->GetGroupName().GetText()));
        out << ", \"depth\": " << entry.m_nDepth << ", \"parent\": " << entry.m_nParent
            << ", \"end\": " << entry.m_nEnd << ", \"objects\": [" << entry.m_nFirstObject << ", "
            << entry.m_pGroup->GetNumObjects() << "]}";
    }
    out << "],\n\"objects\": [";
    for (size_t i = 0; i < g_Session.m_Objects.size(); ++i)
    {
        const CObjectEntry& entry = g_Session.m_Objects[i];
        const vemoBaseGroup& group = *g_Session.m_Groups[entry.m_nGroup].m_pGroup;
        const vemoSTL* pMesh = MeshOf(entry);
        const vemoChroma& c = group.GetObjectMaterial(entry.m_nObject)->m_Front.GetDiffuse();
        out << (i > 0 ? ",\n" : "") << "{\"group\": " << entry.m_nGroup
            << ", \"triangles\": " << (pMesh != nullptr ? pMesh->m_nTriangleCount : 0) << ", \"color\": [";
        out.JsonFloat(c.red) << ", ";
        out.JsonFloat(c.green) << ", ";
        out.JsonFloat(c.blue) << ", ";
        out.JsonFloat(c.alpha) << "], \"shown_color\": [";
        // As the writers clamp it (infinities to 0 or 1, not-a-number to 0), which the JSON above
        // cannot tell apart: each is null there.
        const CClampedColour shown = ClampColour(c);
        for (int k = 0; k < 4; ++k)
            out.JsonFloat(shown.m_aValues[k]) << (k < 3 ? ", " : "]");
        out << ", \"bbox\": ";
        WriteJsonBox(out, group.GetObject(entry.m_nObject)->GetBBox());
        out << '}';
    }
    out << "]}\n";
}

// Writes a JSON document through a sink to the file at the path; false when it could not be written.
template <class Write> bool WriteJson(const char* pszPath, Write write)
{
    CFileSink out;
    if (!out.Open(pszPath))
        return false;
    write(out);
    return out.Close() && out.Commit();
}

// What `slp check --json` writes for a file.
void WriteCheck(CFileSink& out, const CCheckReport& report)
{
    out << "{\"findings\": [";
    for (size_t i = 0; i < report.m_Findings.size(); ++i)
    {
        out << (i > 0 ? ",\n" : "");
        WriteFindingJson(out, report.m_Findings[i]);
    }
    out << "], \"readable\": " << (report.m_eOpen == SLPLoadSuccess ? "true" : "false")
        << ", \"errors\": " << report.m_nErrors << ", \"warnings\": " << report.m_nWarnings
        << ", \"solids\": " << report.m_nSolids << ", \"meshes\": " << report.m_nMeshes
        << ", \"triangles\": " << report.m_nTriangles << ", \"lost_vertices\": " << report.m_nLostVertices
        << ", \"lost_triangles\": " << report.m_nLostTriangles << ", \"bytes\": " << report.m_nBytes << "}\n";
}

// An export's report: its result, message, files and counts.
void WriteExport(CFileSink& out, const CExportReport& report)
{
    out << "{\"result\": " << static_cast<int>(report.m_eResult) << ", \"message\": ";
    out.JsonString(report.m_strMessage);
    out << ", \"files\": [";
    for (size_t i = 0; i < report.m_Files.size(); ++i)
    {
        out << (i > 0 ? ", " : "");
        out.JsonString(report.m_Files[i]);
    }
    out << "], \"groups\": " << report.m_nGroups << ", \"meshes\": " << report.m_nMeshes
        << ", \"triangles\": " << report.m_nTriangles << ", \"vertices\": " << report.m_nVertices
        << ", \"clamped_colours\": " << report.m_nClampedColours
        << ", \"skipped_triangles\": " << report.m_nSkippedTriangles
        << ", \"replaced_normals\": " << report.m_nReplacedNormals << "}\n";
}

void ExportProgress(void*, int nPercentage)
{
    slpweb_report_progress(StageExport, nPercentage);
}

} // namespace

extern "C"
{

    // Forgets the loaded model and the mesh last built.
    EMSCRIPTEN_KEEPALIVE void slpweb_unload()
    {
        g_Session.m_pWorld.reset();
        g_Session.m_Groups.clear();
        g_Session.m_Groups.shrink_to_fit();
        g_Session.m_Objects.clear();
        g_Session.m_Objects.shrink_to_fit();
        g_Session.m_Vertices = CVertexIndex();
        g_Session.m_Indices = std::vector<std::uint32_t>();
    }

    // Loads the SLP file at the path, in place of the model loaded before, and writes the model's JSON
    // (see WriteModel) to the second path. Returns the load's outcome (SLPLoadResultTypes), or -1 when the
    // JSON could not be written.
    EMSCRIPTEN_KEEPALIVE int slpweb_load(const char* pszPath, const char* pszJsonPath)
    {
        slpweb_unload();
        g_Session.m_pWorld = std::make_unique<CKarnWorld>();
        CSLPParser parser;
        parser.SetFileName(CBasicString::FromPath(pszPath));
        parser.SetLoaderPtr(&OnLoadProgress);
        const auto start = std::chrono::steady_clock::now();
        const SLPLoadResultTypes eResult = parser.Parse(g_Session.m_pWorld.get());
        const double dSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ListModel();
        if (!WriteJson(pszJsonPath, [&](CFileSink& out) { WriteModel(out, parser, eResult, dSeconds); }))
            return -1;
        return static_cast<int>(eResult);
    }

    // Builds the vertices and triangle indices of an object of the loaded model (numbered as in the
    // model's JSON); returns the number of distinct vertices (0 for an object without triangles or a
    // number out of range). Valid until the next build or unload.
    EMSCRIPTEN_KEEPALIVE int slpweb_build_mesh(int nObject)
    {
        g_Session.m_Vertices.Clear();
        g_Session.m_Indices.clear();
        if (nObject < 0 || static_cast<size_t>(nObject) >= g_Session.m_Objects.size())
            return 0;
        const vemoSTL* pMesh = MeshOf(g_Session.m_Objects[static_cast<size_t>(nObject)]);
        if (pMesh == nullptr || pMesh->m_nTriangleCount <= 0)
            return 0;
        g_Session.m_Indices.reserve(3 * static_cast<size_t>(pMesh->m_nTriangleCount));
        for (int t = 0; t < pMesh->m_nTriangleCount; ++t)
            for (int k = 0; k < 3; ++k)
                g_Session.m_Indices.push_back(g_Session.m_Vertices.Add(RawCorner(pMesh->m_pTriangles[t], k)));
        return static_cast<int>(g_Session.m_Vertices.GetCount());
    }

    // The mesh last built: its vertices (x y z nx ny nz each), its indices (three per triangle) and their
    // count.
    EMSCRIPTEN_KEEPALIVE const float* slpweb_mesh_vertices()
    {
        return g_Session.m_Vertices.GetCount() > 0 ? g_Session.m_Vertices.GetRecord(0).m_aValues : nullptr;
    }

    EMSCRIPTEN_KEEPALIVE const std::uint32_t* slpweb_mesh_indices()
    {
        return g_Session.m_Indices.data();
    }

    EMSCRIPTEN_KEEPALIVE int slpweb_mesh_index_count()
    {
        return static_cast<int>(g_Session.m_Indices.size());
    }

    // Frees what the last build took.
    EMSCRIPTEN_KEEPALIVE void slpweb_release_mesh()
    {
        g_Session.m_Vertices = CVertexIndex();
        g_Session.m_Indices = std::vector<std::uint32_t>();
    }

    // Checks the SLP file at the path and writes what `slp check --json` writes for it (at most
    // nKeptFindings findings; the counts count them all) to the second path. Returns the number of
    // errors, or -1 when the file could not be read or the JSON written.
    EMSCRIPTEN_KEEPALIVE int slpweb_check(const char* pszPath, int nKeptFindings, const char* pszJsonPath)
    {
        CCheckOptions options;
        options.onProgress = [](int nPercentage) { slpweb_report_progress(StageCheck, nPercentage); };
        options.m_nKeptFindings = nKeptFindings > 0 ? static_cast<size_t>(nKeptFindings) : 0;
        const CCheckReport report = CheckSLPFile(CBasicString::FromPath(pszPath), options);
        const bool bWritten = WriteJson(pszJsonPath, [&](CFileSink& out) { WriteCheck(out, report); });
        if (!bWritten || report.m_eOpen != SLPLoadSuccess)
            return -1;
        return static_cast<int>(report.m_nErrors);
    }

    // Writes the loaded model to the file at the path in the named format ("glb", "gltf", "obj", "ply",
    // "stl"), as `slp convert` does, and the report (result, message, files, counts) as JSON to the second
    // path. Returns the export's result (ExportResultTypes), or -1 without a model or when the report
    // could not be written.
    EMSCRIPTEN_KEEPALIVE int slpweb_export(const char* pszPath, const char* pszFormat,
                                           const char* pszJsonPath)
    {
        if (!g_Session.m_pWorld)
            return -1;
        CExportOptions options;
        options.m_pfnProgress = &ExportProgress;
        const CExportReport report =
            ExportWorld(*g_Session.m_pWorld, pszPath, ExportFormatFromName(pszFormat), options);
        const bool bWritten = WriteJson(pszJsonPath, [&](CFileSink& out) { WriteExport(out, report); });
        return bWritten ? static_cast<int>(report.m_eResult) : -1;
    }

} // extern "C"
