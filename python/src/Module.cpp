// slp._slp: the module, with the check and the export beside the load (Model.cpp). The public names and
// their documentation are in slp/__init__.py, which turns the failures returned here into exceptions.
#include "Binding.h"

#include "checker/LoadFailure.h"
#include "checker/SLPChecker.h"
#include "writers/WorldExport.h"

#include <string>
#include <utility>

namespace slppy
{
namespace
{

// (errno, findings, counts): errno is 0 when the file was read; findings are (line, column, severity,
// code, message) tuples. Signal handlers run at each block read and progress step.
py::tuple Check(const py::bytes& path, std::size_t nMaxFindings)
{
    const CBasicString strPath = CBasicString::FromPath(std::string(path).c_str());
    CPythonWatch watch;
    CCheckOptions options;
    options.m_nKeptFindings = nMaxFindings;
    options.m_pReadWatcher = &watch;
    options.onProgress = [&watch](int nPercentage) { watch.Progress(nPercentage); };
    CCheckReport report;
    {
        py::gil_scoped_release release;
        report = CheckSLPFile(strPath, options);
    }
    watch.Finish(false);
    if (report.m_eOpen != SLPLoadSuccess)
        return py::make_tuple(ExplainCheckFailure(report).m_nSystemError, py::list(), py::dict());
    py::list findings;
    for (const CCheckFinding& finding : report.m_Findings)
        findings.append(py::make_tuple(finding.m_nLine, finding.m_nColumn,
                                       CheckSeverityName(finding.m_eSeverity), finding.m_strCode,
                                       finding.m_strMessage, finding.m_bFixable));
    py::dict counts;
    counts["errors"] = report.m_nErrors;
    counts["warnings"] = report.m_nWarnings;
    counts["solids"] = report.m_nSolids;
    counts["meshes"] = report.m_nMeshes;
    counts["triangles"] = report.m_nTriangles;
    counts["lost_vertices"] = report.m_nLostVertices;
    counts["lost_triangles"] = report.m_nLostTriangles;
    counts["bytes"] = report.m_nBytes;
    return py::make_tuple(0, findings, counts);
}

const char* ResultName(ExportResultTypes eResult)
{
    switch (eResult)
    {
    case ExportSuccess:
        return "success";
    case ExportUnknownFormat:
        return "unknown-format";
    case ExportCannotOpen:
        return "cannot-open";
    case ExportWriteFailed:
        return "write-failed";
    case ExportTooLarge:
        return "too-large";
    }
    return "unknown";
}

// (result, message, counts): result is "success" or what failed, message the writer's line about it.
py::tuple Export(const CModel& model, const py::bytes& path, const py::object& format)
{
    const std::string strPath = path;
    const ExportFormatTypes eFormat =
        format.is_none() ? ExportFormatFromPath(strPath) : ExportFormatFromName(format.cast<std::string>());
    if (eFormat == ExportFormatUnknown)
        return py::make_tuple(ResultName(ExportUnknownFormat), py::bytes(), py::dict());
    const WorldRef pWorld = model.m_pWorld;
    CExportReport report;
    {
        py::gil_scoped_release release;
        report = ExportWorld(pWorld->m_World, strPath, eFormat);
    }
    py::dict counts;
    py::list files;
    for (const std::string& file : report.m_Files)
        files.append(py::bytes(file));
    counts["format"] = ExportFormatName(eFormat);
    counts["files"] = files;
    counts["groups"] = report.m_nGroups;
    counts["meshes"] = report.m_nMeshes;
    counts["triangles"] = report.m_nTriangles;
    counts["vertices"] = report.m_nVertices;
    counts["clamped_colors"] = report.m_nClampedColours;
    counts["skipped_triangles"] = report.m_nSkippedTriangles;
    counts["replaced_normals"] = report.m_nReplacedNormals;
    return py::make_tuple(ResultName(report.m_eResult), py::bytes(report.m_strMessage), counts);
}

} // namespace
} // namespace slppy

PYBIND11_MODULE(_slp, module)
{
    namespace py = pybind11;
    module.doc() = "The compiled core of the slp package; use the functions of slp itself.";
    module.attr("__version__") = SLP_VERSION;
    slppy::DefineModel(module);
    module.def("check", &slppy::Check, py::arg("path"), py::arg("max_findings"),
               "Checks the file (path as bytes) with the GIL released: (errno, findings, counts).");
    module.def(
        "export", &slppy::Export, py::arg("model"), py::arg("path"), py::arg("format"),
        "Writes the model to the file (path as bytes) with the GIL released: (result, message, counts).");
}
