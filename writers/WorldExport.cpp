#include "writers/WorldExport.h"

#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"

namespace
{

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The position of the extension's dot in the last path component, or npos.
size_t ExtensionDot(const std::string& path)
{
    const size_t nDot = path.find_last_of('.');
    if (nDot == std::string::npos || nDot < FileNameStart(path))
        return std::string::npos;
    return nDot;
}

} // namespace

ExportFormatTypes ExportFormatFromName(const std::string& name)
{
    const std::string lower = LowerAscii(name);
    if (lower == "glb")
        return ExportFormatGlb;
    if (lower == "gltf")
        return ExportFormatGltf;
    if (lower == "obj")
        return ExportFormatObj;
    if (lower == "ply")
        return ExportFormatPly;
    if (lower == "stl")
        return ExportFormatStl;
    if (lower == "slp")
        return ExportFormatSlp;
    return ExportFormatUnknown;
}

ExportFormatTypes ExportFormatFromPath(const std::string& path)
{
    const size_t nDot = ExtensionDot(path);
    return nDot == std::string::npos ? ExportFormatUnknown : ExportFormatFromName(path.substr(nDot + 1));
}

const char* ExportFormatName(ExportFormatTypes eFormat)
{
    switch (eFormat)
    {
    case ExportFormatGlb:
        return "glb";
    case ExportFormatGltf:
        return "gltf";
    case ExportFormatObj:
        return "obj";
    case ExportFormatPly:
        return "ply";
    case ExportFormatStl:
        return "stl";
    case ExportFormatSlp:
        return "slp";
    default:
        return "unknown";
    }
}

std::string ExportCompanionPath(const std::string& path, ExportFormatTypes eFormat)
{
    const char* pszExtension = eFormat == ExportFormatObj    ? ".mtl"
                               : eFormat == ExportFormatGltf ? ".bin"
                                                             : nullptr;
    if (pszExtension == nullptr)
        return std::string();
    const size_t nDot = ExtensionDot(path);
    std::string companion = (nDot == std::string::npos ? path : path.substr(0, nDot)) + pszExtension;
    if (companion == path)
        companion += pszExtension;
    return companion;
}

CExportReport ExportWorld(const vemoBaseGroup& root, const std::string& path, ExportFormatTypes eFormat)
{
    return ExportWorld(root, path, eFormat, CExportOptions());
}

CExportReport ExportWorld(const vemoBaseGroup& root, const std::string& path, ExportFormatTypes eFormat,
                          const CExportOptions& options)
{
    CExportReport report;
    switch (eFormat)
    {
    case ExportFormatGlb:
    case ExportFormatGltf:
        WriteGltf(root, path, eFormat == ExportFormatGlb, options, report);
        break;
    case ExportFormatObj:
        WriteObj(root, path, options, report);
        break;
    case ExportFormatPly:
        WritePly(root, path, options, report);
        break;
    case ExportFormatStl:
        WriteStl(root, path, options, report);
        break;
    case ExportFormatSlp:
        WriteSlp(root, path, options, report);
        break;
    default:
        report.m_eResult = ExportUnknownFormat;
        report.m_strMessage =
            "cannot write " + path + ": unknown output format (use .glb, .gltf, .obj, .ply, .slp or .stl)";
        break;
    }
    return report;
}
