#include "checker/SLPChecker.h"

#include "slp/SLPIOManager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <queue>
#include <utility>

namespace
{

struct Place
{
    long long nLine = 0;
    long long nColumn = 0;
};

bool operator<(const Place& a, const Place& b)
{
    return a.nLine != b.nLine ? a.nLine < b.nLine : a.nColumn < b.nColumn;
}

// A token's text for a message: quoted, cut to 40 bytes, bytes below space and above '~' as \xNN, so
// the message stays one readable line whatever the file holds.
std::string Shown(const CGenericToken& token)
{
    if (token.GetDataType() == GenericTokenEndOfFile)
        return "the end of the file";
    std::string text = "\"";
    const size_t nLength = token.GetLength();
    const size_t nShown = nLength > 40 ? 40 : nLength;
    for (size_t i = 0; i < nShown; ++i)
    {
        const auto c = static_cast<unsigned char>(token.GetString()[i]);
        if (c == '"' || c == '\\')
            (text += '\\') += static_cast<char>(c);
        else if (c >= 0x20 && c < 0x7F)
            text += static_cast<char>(c);
        else
        {
            char szEscape[8];
            std::snprintf(szEscape, sizeof(szEscape), "\\x%02X", c);
            text += szEscape;
        }
    }
    return text + (nShown < nLength ? "...\"" : "\"");
}

std::string Count(long long n, const char* pszOne, const char* pszMany)
{
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

const char* KeywordName(SLPTokenTypes eType)
{
    switch (eType)
    {
    case SLPTokenNormal:
        return "normal";
    case SLPTokenVertex:
        return "vertex";
    default:
        return "color";
    }
}

// The walk of the loader over one file, counting instead of building. Each step mirrors the loader's:
// "solid" flushes and opens a group named by the next token, "endsolid" flushes and closes one,
// "normal", "vertex" and "color" read up to three numbers ("color" flushing first), and the token after
// a short triple is passed over unread.
class CCheckWalk
{
public:
    CCheckWalk(CSLPIOManager& tokens, const CCheckOptions& options, CCheckReport& report)
        : m_Tokens(tokens), m_Options(options), m_Report(report)
    {
    }

    void Run();
    /// The finding of a file that holds no solid, with what it holds instead.
    void ReportNoSolid();
    /// Gives out every finding still held, in order: at the end of the walk.
    void ReleaseAll() { Release(Place{-1, -1}, true); }

private:
    struct Solid
    {
        Place place;
        std::string strName;
    };

    Place Here()
    {
        return Place{m_Tokens.GetCurrentToken().GetLine(), m_Tokens.GetCurrentToken().GetColumn()};
    }
    void Advance();
    void Report(CheckSeverityTypes eSeverity, const char* pszCode, const Place& place, std::string strMessage,
                bool bFixable = false);
    // The loader's flush: the collected run becomes a mesh, or is dropped (and reported) as the loader
    // drops it.
    void Flush();
    // The loader's triple: how many numbers (0 to 3) follow the keyword; the current token is then the
    // third number, or the token after fewer.
    int ReadTriple();
    void AfterShortTriple(SLPTokenTypes eKeyword, const Place& place, int nNumbers);
    void OpenSolid();
    void CloseFacet();
    // Findings are found up to a run, a facet or a whole solid after the place they name: they are held
    // until no finding can come before them any more, so that they come out in order of line and column.
    // The earliest place a finding may still be made at.
    Place Watermark();
    // Gives out the held findings placed before the mark (all of them when bAll), in order.
    void Release(const Place& mark, bool bAll);
    struct Held
    {
        CCheckFinding finding;
        unsigned long long nOrder;
        bool operator<(const Held& other) const
        {
            // The earliest place first (a max-heap gives out its largest), then the order of finding.
            const Place a{finding.m_nLine, finding.m_nColumn};
            const Place b{other.finding.m_nLine, other.finding.m_nColumn};
            if (a < b || b < a)
                return b < a;
            return nOrder > other.nOrder;
        }
    };
    // At most this many findings wait for their turn; beyond it the earliest goes out at once (only a
    // file with that many findings after a solid that is never closed gives some out of order).
    static constexpr size_t kMostHeld = 100000;

    CSLPIOManager& m_Tokens;
    const CCheckOptions& m_Options;
    CCheckReport& m_Report;
    std::vector<Solid> m_Solids;
    // The current run: its counts, where it starts, and where its last incomplete triangle starts.
    long long m_nPoints = 0;
    long long m_nNormals = 0;
    Place m_RunStart;
    Place m_TriangleStart;
    // The open facet: where it starts and how many vertices it has so far.
    bool m_bInFacet = false;
    Place m_FacetStart;
    long long m_nFacetVertices = 0;
    // The line of the last solid's name, whose further words are passed over.
    long long m_nNameLine = 0;
    int m_nLastPercentage = 0;
    std::priority_queue<Held> m_Held;
    unsigned long long m_nFound = 0;
};

Place CCheckWalk::Watermark()
{
    // A file without a solid gets its finding at 1:1 at the end.
    if (m_Report.m_nSolids == 0)
        return Place{0, 0};
    Place mark = Here();
    if ((m_nPoints != 0 || m_nNormals != 0) && m_RunStart < mark)
        mark = m_RunStart;
    if (m_nPoints % 3 != 0 && m_TriangleStart < mark)
        mark = m_TriangleStart;
    if (m_bInFacet && m_FacetStart < mark)
        mark = m_FacetStart;
    if (!m_Solids.empty() && m_Solids.front().place < mark)
        mark = m_Solids.front().place;
    return mark;
}

void CCheckWalk::Release(const Place& mark, bool bAll)
{
    while (!m_Held.empty())
    {
        const CCheckFinding& finding = m_Held.top().finding;
        if (!bAll && m_Held.size() <= kMostHeld && !(Place{finding.m_nLine, finding.m_nColumn} < mark))
            break;
        if (m_Options.onFinding)
            m_Options.onFinding(finding);
        if (m_Report.m_Findings.size() < m_Options.m_nKeptFindings)
            m_Report.m_Findings.push_back(finding);
        m_Held.pop();
    }
}

void CCheckWalk::Advance()
{
    m_Tokens.Tokenize();
    if (!m_Options.onProgress)
        return;
    const long long nTotal = m_Tokens.GetTotalFileSize64();
    if (nTotal <= 0)
        return;
    long long nPercentage = m_Tokens.GetCurrentFileOffset64() * 100 / nTotal;
    if (nPercentage > 99)
        nPercentage = 99;
    if (nPercentage > m_nLastPercentage)
    {
        m_nLastPercentage = static_cast<int>(nPercentage);
        m_Options.onProgress(m_nLastPercentage);
    }
}

void CCheckWalk::Report(CheckSeverityTypes eSeverity, const char* pszCode, const Place& place,
                        std::string strMessage, bool bFixable)
{
    CCheckFinding finding;
    finding.m_bFixable = bFixable;
    if (bFixable)
        strMessage += " (slp fix repairs this)";
    finding.m_eSeverity = eSeverity;
    finding.m_strCode = pszCode;
    finding.m_nLine = place.nLine;
    finding.m_nColumn = place.nColumn;
    finding.m_strMessage = std::move(strMessage);
    (eSeverity == CheckError ? m_Report.m_nErrors : m_Report.m_nWarnings) += 1;
    m_Held.push(Held{std::move(finding), m_nFound++});
}

void CCheckWalk::Flush()
{
    const long long nPoints = m_nPoints;
    const long long nNormals = m_nNormals;
    m_nPoints = m_nNormals = 0;
    if (nPoints == 0 && nNormals == 0)
        return;
    auto lose = [this](long long nVertices)
    {
        m_Report.m_nLostVertices += nVertices;
        m_Report.m_nLostTriangles += nVertices / 3;
    };
    if (m_Solids.empty())
    {
        lose(nPoints);
        Report(nPoints > 0 ? CheckError : CheckWarning, "outside-solid", m_RunStart,
               Count(nPoints, "vertex", "vertices") + " and " + Count(nNormals, "normal", "normals") +
                   " outside any solid are dropped: facets belong between \"solid\" and \"endsolid\"",
               nPoints > 0);
        return;
    }
    if (nPoints != nNormals || nPoints == 0)
    {
        lose(nPoints);
        Report(
            nPoints > 0 ? CheckError : CheckWarning, "run-discarded", m_RunStart,
            "a run of " + Count(nPoints, "vertex", "vertices") + " and " +
                Count(nNormals, "normal", "normals") +
                " is dropped whole: the loader needs exactly one normal per vertex between two of \"solid\", "
                "\"endsolid\", \"color\" and the end of the file",
            nPoints > 0);
        return;
    }
    m_Report.m_nTriangles += nPoints / 3;
    if (nPoints >= 3)
        m_Report.m_nMeshes += 1;
    if (nPoints % 3 != 0)
    {
        m_Report.m_nLostVertices += nPoints % 3;
        Report(CheckError, "leftover-vertices", m_TriangleStart,
               std::string(nPoints % 3 == 1 ? "the run's last vertex is" : "the run's last 2 vertices are") +
                   " dropped: the run ends before a whole triangle");
    }
}

int CCheckWalk::ReadTriple()
{
    int nNumbers = 0;
    if (m_Tokens.GetCurrentTokenType() == SLPTokenNumber)
    {
        nNumbers = 1;
        Advance();
        if (m_Tokens.GetCurrentTokenType() == SLPTokenNumber)
        {
            nNumbers = 2;
            Advance();
            if (m_Tokens.GetCurrentTokenType() == SLPTokenNumber)
                nNumbers = 3;
        }
    }
    return nNumbers;
}

void CCheckWalk::AfterShortTriple(SLPTokenTypes eKeyword, const Place& place, int nNumbers)
{
    if (nNumbers == 3)
        return;
    const CGenericToken& after = m_Tokens.GetCurrentToken();
    std::string strMessage = std::string(KeywordName(eKeyword)) + " takes three numbers but has " +
                             (nNumbers == 0 ? std::string("none") : std::to_string(nNumbers));
    if (nNumbers == 0)
        strMessage += eKeyword == SLPTokenColor ? ": the colour stays as it was" : ": nothing is added";
    else
        strMessage +=
            ": the missing ones keep the values of the previous " + std::string(KeywordName(eKeyword));
    if (after.GetDataType() != GenericTokenEndOfFile)
        strMessage += std::string("; ") + Shown(after) + " after " + (nNumbers == 0 ? "it" : "them") +
                      (after.GetDataType() == GenericTokenKeyword ? " is a keyword, but is passed over unread"
                                                                  : " is passed over");
    Report(CheckWarning, "number-expected", place, strMessage);
}

void CCheckWalk::CloseFacet()
{
    if (m_bInFacet && m_nFacetVertices != 3)
        Report(CheckWarning, "facet-vertex-count", m_FacetStart,
               "facet has " + Count(m_nFacetVertices, "vertex", "vertices") +
                   ": triangles are made of each three vertices in order, so the ones after it span facets");
    m_bInFacet = false;
}

void CCheckWalk::OpenSolid()
{
    const Place solidPlace = Here();
    Flush();
    Advance();
    // The token after "solid" names the group whatever it is; the walk passes over it.
    const CGenericToken& name = m_Tokens.GetCurrentToken();
    const SLPTokenTypes eNameType = m_Tokens.GetCurrentTokenType();
    if (eNameType != SLPTokenEndOfFile && name.GetDataType() == GenericTokenKeyword)
        Report(CheckWarning, "keyword-as-name", Here(),
               "the keyword " + Shown(name) + " right after \"solid\" names the solid and does not act");
    m_Solids.push_back(Solid{solidPlace, eNameType == SLPTokenEndOfFile ? std::string() : Shown(name)});
    m_Report.m_nSolids += 1;
    m_nNameLine = eNameType == SLPTokenEndOfFile ? 0 : name.GetLine();
}

void CCheckWalk::Run()
{
    Advance();
    for (;;)
    {
        const SLPTokenTypes eType = m_Tokens.GetCurrentTokenType();
        if (eType == SLPTokenEndOfFile)
            break;
        const Place place = Here();
        // Words on the line of a solid's name, after it, are passed over: one finding per name.
        if (m_nNameLine != 0 && place.nLine != m_nNameLine)
            m_nNameLine = 0;
        switch (eType)
        {
        case SLPTokenSolid:
            OpenSolid();
            break;
        case SLPTokenEndSolid:
            Flush();
            if (m_Solids.empty())
                Report(CheckWarning, "endsolid-without-solid", place, "\"endsolid\" without an open solid");
            else
                m_Solids.pop_back();
            break;
        case SLPTokenFacet:
            CloseFacet();
            m_bInFacet = true;
            m_FacetStart = place;
            m_nFacetVertices = 0;
            break;
        case SLPTokenEndFacet:
            CloseFacet();
            break;
        case SLPTokenNormal:
        case SLPTokenVertex:
        {
            Advance();
            const int nNumbers = ReadTriple();
            if (nNumbers > 0)
            {
                if (m_nPoints == 0 && m_nNormals == 0)
                    m_RunStart = place;
                if (eType == SLPTokenNormal)
                    ++m_nNormals;
                else
                {
                    if (m_nPoints % 3 == 0)
                        m_TriangleStart = place;
                    ++m_nPoints;
                    ++m_nFacetVertices;
                }
            }
            AfterShortTriple(eType, place, nNumbers);
            break;
        }
        case SLPTokenColor:
            Flush();
            Advance();
            AfterShortTriple(eType, place, ReadTriple());
            break;
        default:
            if (m_nNameLine != 0)
            {
                Report(
                    CheckWarning, "name-has-more-words", place,
                    "the solid is named " + m_Solids.back().strName + "; " +
                        Shown(m_Tokens.GetCurrentToken()) +
                        " and whatever else follows it on the line is passed over (quote a name of several "
                        "words, and the quotes become part of it)");
                m_nNameLine = 0;
            }
            break;
        }
        // A keyword that acts ends the name's line of words (a solid's own name line stays).
        if (eType >= SLPTokenEndSolid)
            m_nNameLine = 0;
        Advance();
        if (!m_Held.empty())
            Release(Watermark(), false);
    }
    Flush();
    CloseFacet();
    for (const Solid& solid : m_Solids)
        Report(CheckWarning, "solid-left-open", solid.place,
               (solid.strName.empty()
                    ? std::string("the solid without a name (the file ends after \"solid\")")
                    : "solid " + solid.strName) +
                   " is never closed with \"endsolid\"",
               !solid.strName.empty());
    if (m_Report.m_nSolids == 0)
        ReportNoSolid();
}

void CCheckWalk::ReportNoSolid()
{
    const long long nSize = m_Tokens.GetTotalFileSize64();
    const bool bBinary = m_Tokens.GetFileInterface()->GetStartsAsBinary();
    Report(CheckError, "no-solid", Place{1, 1},
           std::string(DescribeNotSLP(nSize, bBinary)) + ", so a load of it fails" +
               (nSize != 0 && !bBinary ? " (SLP text starts with \"solid NAME\")" : ""));
}

} // namespace

const char* DescribeNotSLP(long long nSize, bool bStartsAsBinary)
{
    if (bStartsAsBinary)
        return "binary data, not SLP text";
    return nSize == 0 ? "empty file" : "no solid in the file";
}

int CBinaryInputGuard::BeforeRead(long long nOffset)
{
    return m_pNext != nullptr ? m_pNext->BeforeRead(nOffset) : 0;
}

int CBinaryInputGuard::AfterRead(long long nOffset, const char* pData, size_t nLength)
{
    if (nOffset != 0 || nLength == 0)
        return m_pNext != nullptr ? m_pNext->AfterRead(nOffset, pData, nLength) : 0;
    const char* const pNul = static_cast<const char*>(std::memchr(pData, 0, nLength));
    // Gzipped input is read as the text it holds (the file reader inflates it).
    const bool bGzip = nLength >= 2 && static_cast<unsigned char>(pData[0]) == 0x1F &&
                       static_cast<unsigned char>(pData[1]) == 0x8B;
    if (pNul == nullptr || bGzip)
        return m_pNext != nullptr ? m_pNext->AfterRead(nOffset, pData, nLength) : 0;
    // Text that starts as SLP text keeps a NUL byte further on (white space to the tokenizer).
    for (const char* p = pData; p + 5 <= pNul; ++p)
        if ((p[0] | 0x20) == 's' && (p[1] | 0x20) == 'o' && (p[2] | 0x20) == 'l' && (p[3] | 0x20) == 'i' &&
            (p[4] | 0x20) == 'd')
            return m_pNext != nullptr ? m_pNext->AfterRead(nOffset, pData, nLength) : 0;
    return EILSEQ;
}

CCheckReport CheckSLPFile(const CBasicString& path, const CCheckOptions& options)
{
    CCheckReport report;
    CSLPIOManager tokens;
    CBinaryInputGuard guard(options.m_pReadWatcher);
    tokens.GetFileInterface()->SetReadWatcher(&guard);
    tokens.SetLineTracking(true);
    tokens.SetFilename(path);
    report.m_eOpen = path.GetLength() > 0 ? tokens.OpenInputFile() : SLPLoadFailure;
    const CKarnFileInterface& file = *tokens.GetFileInterface();
    if (report.m_eOpen == SLPLoadResult2 && file.GetSystemError() == EILSEQ && file.GetStartsAsBinary())
    {
        // Refused at its first block: a file that does not load, for what it holds.
        report.m_eOpen = SLPLoadSuccess;
        CCheckWalk walk(tokens, options, report);
        walk.ReportNoSolid();
        walk.ReleaseAll();
        report.m_nBytes = file.GetFileSize() > 0 ? file.GetFileSize() : 0;
        return report;
    }
    if (report.m_eOpen != SLPLoadSuccess)
    {
        report.m_nSystemError = file.GetSystemError();
        return report;
    }
    {
        CCheckWalk walk(tokens, options, report);
        walk.Run();
        walk.ReleaseAll();
    }
    report.m_nBytes = tokens.GetTotalFileSize64();
    if (tokens.GetReadFailed())
    {
        // What was read is not the file: the report is that of a file that cannot be read.
        CCheckReport unreadable;
        unreadable.m_eOpen = SLPLoadResult2;
        unreadable.m_nSystemError = file.GetSystemError() != 0 ? file.GetSystemError() : EIO;
        tokens.CloseFile();
        return unreadable;
    }
    tokens.CloseFile();
    return report;
}
