#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "writers/WorldExport.h"

#include <cstdio>
#include <memory>

namespace
{

void Warn(const std::string& output, long long nCount, const char* pszWhat)
{
    if (nCount > 0)
        std::fprintf(stderr, "slp: %s: %lld %s\n", output.c_str(), nCount, pszWhat);
}

} // namespace

int RunConvert(const std::string& input, const std::string& output, const std::string& format)
{
    const ExportFormatTypes eFormat =
        format.empty() ? ExportFormatFromPath(output) : ExportFormatFromName(format);
    if (eFormat == ExportFormatUnknown)
    {
        if (format.empty())
            std::fprintf(stderr,
                         "slp: %s: unknown output format; name it with .glb, .gltf, .obj, .ply or .stl, "
                         "or give --format\n",
                         output.c_str());
        else
            std::fprintf(stderr, "slp: unknown format \"%s\"; use glb, gltf, obj, ply or stl\n",
                         format.c_str());
        return 2;
    }

    auto pWorld = std::make_unique<CKarnWorld>();
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(input.c_str()));
    const SLPLoadResultTypes eResult = parser.Parse(pWorld.get());
    if (eResult != SLPLoadSuccess)
    {
        std::fprintf(stderr, "slp: %s: %s\n", input.c_str(), DescribeFailure(input, eResult).c_str());
        return 1;
    }

    const CExportReport report = ExportWorld(*pWorld, output, eFormat);
    if (report.m_eResult != ExportSuccess)
    {
        std::fprintf(stderr, "slp: %s\n", report.m_strMessage.c_str());
        return 1;
    }
    Warn(output, report.m_nClampedColours, "mesh colours outside 0..1 clamped into 0..1");
    Warn(output, report.m_nSkippedTriangles, "triangles with infinite or NaN coordinates left out");
    Warn(output, report.m_nReplacedNormals, "normals without a direction replaced by the face normal");
    std::printf("%s: %s, %lld groups, %lld meshes, %lld triangles, %lld vertices", output.c_str(),
                ExportFormatName(eFormat), report.m_nGroups, report.m_nMeshes, report.m_nTriangles,
                report.m_nVertices);
    if (report.m_Files.size() > 1)
        std::printf(" (with %s)", report.m_Files[1].c_str());
    std::printf("\n");
    return 0;
}
