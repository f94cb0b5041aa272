// SLP text output: the writer that `slp fix` and ExportWorld share, and the model's walk for ExportWorld.
#include "writers/SlpWriter.h"

#include "foundation/TextCodec.h"
#include "model/GroupWalk.h"
#include "writers/FileSink.h"
#include "writers/FormatWriters.h"
#include "writers/ModelWalk.h"
#include "writers/PartRunner.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\0';
}

bool IsBracket(char c)
{
    return c == '{' || c == '}' || c == '[' || c == ']' || c == '(' || c == ')';
}

// Solids deeper than this are written at this indentation.
constexpr long long MaxIndent = 12;

// A run of this many triangles and more is formatted on the export's threads.
constexpr size_t ThreadedTextTriangles = 8192;

bool SameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

} // namespace

std::string SlpNameToken(const std::string& name, bool& bExact)
{
    bExact = true;
    if (name.empty())
    {
        bExact = false;
        return "_";
    }
    if (name.size() == 1 && IsBracket(name[0]))
        return name;
    std::string token = name;
    if (name[0] == '"')
    {
        // A quoted text runs to the next quote on its line, or to the line's end: inside it only a
        // closing quote at the very end and no line end or NUL (the writer ends the line after it).
        for (size_t i = 1; i < token.size(); ++i)
        {
            const char c = token[i];
            if (c == '\r' || c == '\n' || c == '\0' || (c == '"' && i + 1 != token.size()))
            {
                token[i] = '_';
                bExact = false;
            }
        }
        return token;
    }
    for (char& c : token)
        if (IsSpace(c) || IsBracket(c) || c == '"')
        {
            c = '_';
            bExact = false;
        }
    return token;
}

CSlpTextWriter::CSlpTextWriter(CFileSink& out) : m_Out(out) {}

void CSlpTextWriter::Indent(long long nExtra)
{
    static const char szSpaces[] = "                                                            ";
    long long nLevel = (m_nDepth < MaxIndent ? m_nDepth : MaxIndent) + nExtra;
    m_Out.Write(szSpaces, static_cast<size_t>(2 * nLevel));
}

namespace
{

// The shortest text of a float that a load reads back to it, at pOut (32 bytes); its length.
size_t NumberText(float f, char* pOut)
{
    std::uint32_t nBits = 0;
    std::memcpy(&nBits, &f, sizeof(nBits));
    const char* pszText = nullptr;
    if (std::isnan(f))
        pszText = std::signbit(f) ? "-nan" : "nan";
    else if ((nBits & 0x7FFFFFFFu) == 0x15AE43FDu)
    {
        // A load reads a number as a double and rounds that to a float. Of all floats, only this one's
        // shortest text (7.038531e-26) lies so near the midpoint to its neighbour that the double lands
        // on the midpoint and rounds away (every positive float was tried): one digit more reads back.
        pszText = nBits >> 31 ? "-7.0385307e-26" : "7.0385307e-26";
    }
    else
        return CFileSink::FloatText(f, pOut);
    const size_t nLength = std::strlen(pszText);
    std::memcpy(pOut, pszText, nLength);
    return nLength;
}

} // namespace

void CSlpTextWriter::Number(float f)
{
    char szText[CFileSink::FloatTextBytes];
    m_Out.Write(szText, NumberText(f, szText));
}

void CSlpTextWriter::OpenSolid(const std::string& nameToken)
{
    if (m_bEnded)
        return;
    m_bInRun = m_bRunEnded = false;
    Indent(0);
    if (nameToken.empty())
    {
        // The last token of the file: whatever followed would become its name.
        m_Out << "solid\n";
        m_bEnded = true;
        ++m_nDepth;
        return;
    }
    // The name's line ends right after it: a quoted name without its closing quote runs to the line end.
    m_Out << "solid " << nameToken << '\n';
    ++m_nDepth;
}

void CSlpTextWriter::CloseSolid()
{
    if (m_bEnded || m_nDepth == 0)
        return;
    m_bInRun = m_bRunEnded = false;
    --m_nDepth;
    Indent(0);
    m_Out << "endsolid\n";
}

void CSlpTextWriter::SetColour(float fRed, float fGreen, float fBlue)
{
    m_aColour[0] = fRed;
    m_aColour[1] = fGreen;
    m_aColour[2] = fBlue;
}

void CSlpTextWriter::Triangle(const vemoFloatPoint* pVertices, const vemoVector* pNormals)
{
    if (m_bEnded)
        return;
    if (!m_bInRun)
    {
        const bool bColourDiffers = !SameBits(m_aColour[0], m_aWritten[0]) ||
                                    !SameBits(m_aColour[1], m_aWritten[1]) ||
                                    !SameBits(m_aColour[2], m_aWritten[2]);
        // Two runs side by side in one solid need a line that ends the first: the colour line does.
        if (bColourDiffers || m_bRunEnded)
        {
            Indent(0);
            m_Out << "color ";
            Number(m_aColour[0]);
            m_Out << ' ';
            Number(m_aColour[1]);
            m_Out << ' ';
            Number(m_aColour[2]);
            m_Out << '\n';
            std::memcpy(m_aWritten, m_aColour, sizeof(m_aWritten));
        }
        m_bInRun = true;
        m_bRunEnded = false;
    }
    char szText[FacetTextBytes];
    m_Out.Write(szText, FacetText(pVertices, pNormals, szText));
}

size_t CSlpTextWriter::FacetText(const vemoFloatPoint* pVertices, const vemoVector* pNormals,
                                 char* pOut) const
{
    if (m_bEnded)
        return 0;
    const size_t nIndent = 2 * static_cast<size_t>(m_nDepth < MaxIndent ? m_nDepth : MaxIndent);
    char* p = pOut;
    const auto line = [&](size_t nExtra, const char* pszWord, size_t nLength)
    {
        std::memset(p, ' ', nIndent + 2 * nExtra);
        p += nIndent + 2 * nExtra;
        std::memcpy(p, pszWord, nLength);
        p += nLength;
    };
    const auto numbers = [&](float x, float y, float z)
    {
        p += NumberText(x, p);
        *p++ = ' ';
        p += NumberText(y, p);
        *p++ = ' ';
        p += NumberText(z, p);
        *p++ = '\n';
    };
    line(0, "facet\n", 6);
    line(1, "outer loop\n", 11);
    for (int k = 0; k < 3; ++k)
    {
        line(2, "normal ", 7);
        numbers(pNormals[k].x, pNormals[k].y, pNormals[k].z);
        line(2, "vertex ", 7);
        numbers(pVertices[k].x, pVertices[k].y, pVertices[k].z);
    }
    line(1, "endloop\n", 8);
    line(0, "endfacet\n", 9);
    return static_cast<size_t>(p - pOut);
}

void CSlpTextWriter::EndRun()
{
    if (m_bInRun)
    {
        m_bInRun = false;
        m_bRunEnded = true;
    }
}

void CSlpTextWriter::Finish()
{
    while (!m_bEnded && m_nDepth > 0)
        CloseSolid();
}

bool WriteSlp(const vemoBaseGroup& root, const std::string& path, const CExportOptions& options,
              CExportReport& report)
{
    const std::vector<const vemoBaseGroup*> groups = ListGroupsBreadthFirst(root);
    report.m_nGroups = static_cast<long long>(groups.size()) - 1;
    CFileSink out;
    if (!OpenOutputs(options, report, out, path))
        return false;
    CExportProgress progress(options, CountExportedTriangles(groups));
    CSlpTextWriter slp(out);
    CPartRunner runner(ExportThreadCount(options));
    // The unnamed solid can stand only at the very end: the last group of the walk, empty.
    const vemoBaseGroup* pLast = nullptr;
    for (CGroupWalk walk(root); walk.Next();)
        pLast = walk.GetDepth() > 0 ? &walk.GetGroup() : pLast;
    for (CGroupWalk walk(root, true); walk.Next();)
    {
        const vemoBaseGroup& group = walk.GetGroup();
        // The root is the file: objects of its own have no solid to stand in and are not written.
        if (walk.GetDepth() == 0)
            continue;
        if (!walk.IsEntering())
        {
            slp.CloseSolid();
            continue;
        }
        // The name as a load makes it from the file's bytes: the ANSI code page's text (UTF-8 off
        // Windows) of the group's name.
        const WideChar* pszName = group.GetGroupName().GetText();
        std::string name;
        const int nSize = pszName != nullptr ? BasicWideToMultiByte(pszName, nullptr, 0) : 0;
        if (nSize > 1)
        {
            name.assign(static_cast<size_t>(nSize), '\0');
            BasicWideToMultiByte(pszName, &name[0], nSize);
            name.resize(static_cast<size_t>(nSize - 1));
        }
        bool bExact = true;
        const bool bUnnamedLast =
            name.empty() && &group == pLast && group.GetNumObjects() == 0 && group.GetNumGroups() == 0;
        slp.OpenSolid(bUnnamedLast ? std::string() : SlpNameToken(name, bExact));
        ForEachExportedMesh(group,
                            [&](int nObject, const vemoSTL& mesh)
                            {
                                const vemoMatProps* pMaterial = group.GetObjectMaterial(nObject);
                                if (pMaterial != nullptr)
                                {
                                    const vemoChroma& colour = pMaterial->m_Front.GetDiffuse();
                                    slp.SetColour(colour.red, colour.green, colour.blue);
                                }
                                else
                                    slp.SetColour(1.0f, 1.0f, 1.0f);
                                const vemoTRex* const pTriangles = mesh.m_pTriangles;
                                slp.Triangle(pTriangles[0].m_Vertex, pTriangles[0].m_Normal);
                                progress.Advance();
                                // The rest of the run: on the threads for a large mesh.
                                const size_t nRest = static_cast<size_t>(mesh.m_nTriangleCount) - 1;
                                if (runner.GetThreads() > 1 && nRest >= ThreadedTextTriangles)
                                    WriteInParts(
                                        runner, out, nRest, CSlpTextWriter::FacetTextBytes,
                                        [&](size_t t, char* pOut) {
                                            return slp.FacetText(pTriangles[t + 1].m_Vertex,
                                                                 pTriangles[t + 1].m_Normal, pOut);
                                        },
                                        [&](size_t nCount) { progress.Advance(nCount); });
                                else
                                    for (size_t t = 1; t <= nRest; ++t, progress.Advance())
                                        slp.Triangle(pTriangles[t].m_Vertex, pTriangles[t].m_Normal);
                                slp.EndRun();
                                report.m_nMeshes += 1;
                                report.m_nTriangles += mesh.m_nTriangleCount;
                                report.m_nVertices += 3LL * mesh.m_nTriangleCount;
                                return true;
                            });
    }
    slp.Finish();
    if (!FinishOutputs(report, out))
        return false;
    progress.Finish();
    return true;
}
