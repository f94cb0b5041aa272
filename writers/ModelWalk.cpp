#include "writers/ModelWalk.h"

#include "foundation/TextCodec.h"

#include <cmath>

std::vector<const vemoBaseGroup*> ListGroupsBreadthFirst(const vemoBaseGroup& root)
{
    std::vector<const vemoBaseGroup*> groups(1, &root);
    for (size_t i = 0; i < groups.size(); ++i)
        for (int nChild = 0; nChild < groups[i]->GetNumGroups(); ++nChild)
            groups.push_back(groups[i]->GetGroup(nChild));
    return groups;
}

const vemoSTL* GetExportedMesh(const vemoBaseGroup& group, int nObject)
{
    const auto* pMesh = dynamic_cast<const vemoSTL*>(group.GetObject(nObject));
    if (pMesh == nullptr || pMesh->m_nTriangleCount <= 0 || pMesh->m_pTriangles == nullptr)
        return nullptr;
    return pMesh;
}

std::string GroupNameUtf8(const vemoBaseGroup& group)
{
    // UTF-8 on every system: the narrow text of CBasicString is the ANSI code page on Windows.
    return BasicToUtf8(group.GetGroupName().GetText());
}

CClampedColour ClampColour(const vemoChroma& colour)
{
    const float aIn[4] = {colour.red, colour.green, colour.blue, colour.alpha};
    CClampedColour result{};
    for (int i = 0; i < 4; ++i)
    {
        const float f = aIn[i];
        if (f > 0.0f && f <= 1.0f)
            result.m_aValues[i] = f;
        else
        {
            result.m_aValues[i] = f > 1.0f ? 1.0f : 0.0f;
            // Zero of either sign is in range; everything else that lands here was changed.
            if (f != 0.0f)
                result.m_bChanged = true;
        }
    }
    return result;
}

CVertexRecord RawCorner(const vemoTRex& triangle, int nCorner)
{
    const vemoFloatPoint& p = triangle.m_Vertex[nCorner];
    const vemoVector& n = triangle.m_Normal[nCorner];
    return CVertexRecord{{p.x, p.y, p.z, n.x, n.y, n.z}};
}

bool IsFiniteTriangle(const vemoTRex& triangle)
{
    for (const vemoFloatPoint& p : triangle.m_Vertex)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return false;
    return true;
}

bool Normalise(double x, double y, double z, float* pOut)
{
    const double dLength = std::sqrt(x * x + y * y + z * z);
    if (!(dLength > 0.0) || !std::isfinite(dLength))
        return false;
    pOut[0] = static_cast<float>(x / dLength);
    pOut[1] = static_cast<float>(y / dLength);
    pOut[2] = static_cast<float>(z / dLength);
    return true;
}

CVertexRecord UnitCorner(const vemoTRex& triangle, int nCorner, long long& nReplaced)
{
    CVertexRecord record = RawCorner(triangle, nCorner);
    float* pNormal = record.m_aValues + 3;
    if (Normalise(pNormal[0], pNormal[1], pNormal[2], pNormal))
        return record;
    ++nReplaced;
    const vemoFloatPoint& a = triangle.m_Vertex[0];
    const vemoFloatPoint& b = triangle.m_Vertex[1];
    const vemoFloatPoint& c = triangle.m_Vertex[2];
    const double aU[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    const double aV[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    if (!Normalise(aU[1] * aV[2] - aU[2] * aV[1], aU[2] * aV[0] - aU[0] * aV[2],
                   aU[0] * aV[1] - aU[1] * aV[0], pNormal))
    {
        pNormal[0] = 0.0f;
        pNormal[1] = 0.0f;
        pNormal[2] = 1.0f;
    }
    return record;
}

void SetTooLarge(CExportReport& report, const std::string& path, const char* pszLimit)
{
    report.m_eResult = ExportTooLarge;
    report.m_strMessage =
        "cannot write " + path + ": the model is too large for the format (" + pszLimit + ")";
}

size_t FileNameStart(const std::string& path)
{
#if defined(_WIN32)
    const size_t nSlash = path.find_last_of("/\\:");
#else
    const size_t nSlash = path.find_last_of('/');
#endif
    return nSlash == std::string::npos ? 0 : nSlash + 1;
}

unsigned long long CountExportedTriangles(const std::vector<const vemoBaseGroup*>& groups)
{
    unsigned long long nTriangles = 0;
    const auto count = [&](const vemoBaseGroup&, int, const vemoSTL& mesh)
    {
        nTriangles += static_cast<unsigned long long>(mesh.m_nTriangleCount);
        return true;
    };
    ForEachExportedMesh(groups, count);
    return nTriangles;
}

CExportProgress::CExportProgress(const CExportOptions& options, unsigned long long nSteps)
    : m_Options(options), m_nSteps(nSteps), m_nNextReport(options.m_pfnProgress != nullptr ? 0 : ~0ull)
{
    Advance(0);
}

void CExportProgress::Report()
{
    // At most 99 until the files are in place; the next report when the percentage would grow.
    int nPercentage = m_nSteps > 0 ? static_cast<int>(m_nDone * 100 / m_nSteps) : 0;
    if (nPercentage > 99)
        nPercentage = 99;
    if (nPercentage > m_nLast)
    {
        m_nLast = nPercentage;
        m_Options.m_pfnProgress(m_Options.m_pProgressContext, nPercentage);
    }
    m_nNextReport =
        nPercentage >= 99 ? ~0ull : (static_cast<unsigned long long>(nPercentage) + 1) * m_nSteps / 100;
    while (m_nNextReport < m_nSteps &&
           m_nNextReport * 100 / m_nSteps <= static_cast<unsigned long long>(nPercentage))
        ++m_nNextReport;
}

void CExportProgress::Finish()
{
    if (m_Options.m_pfnProgress != nullptr)
        m_Options.m_pfnProgress(m_Options.m_pProgressContext, 100);
}
