#include "slp/SLPParser.h"

#include "foundation/BasicList.h"
#include "slp/NearestFloat.h"

#include <algorithm>
#include <climits>
#include <memory>

CSLPParser::CSLPParser()
    : m_pWorld(nullptr), m_pCurrentGroup(nullptr), m_nLastPercentage(0), m_pLoader(nullptr),
      m_dDecimationMagnitude(0.0), m_nReportOffset(0), m_nReportTotal(-1), m_nReportLast(0),
      m_bPointsListed(false), m_bNormalsListed(false), m_nDiscardedPoints(0), m_nThreadCount(0),
      m_bLoading(false)
{
    InitializeVariables();
}

CSLPParser::CSLPParser(const CSLPParser& other)
    : m_pWorld(other.m_pWorld), m_pCurrentGroup(other.m_pCurrentGroup), m_IOManager(other.m_IOManager),
      m_strFileName(other.m_strFileName), m_nLastPercentage(other.m_nLastPercentage),
      m_pLoader(other.m_pLoader), m_GroupStack(other.m_GroupStack), m_PointList(other.m_PointList),
      m_NormalList(other.m_NormalList), m_CurrentColor(other.m_CurrentColor),
      m_EstimatedBBox(other.m_EstimatedBBox), m_dDecimationMagnitude(other.m_dDecimationMagnitude),
      m_nReportOffset(other.m_nReportOffset), m_nReportTotal(other.m_nReportTotal),
      m_nReportLast(other.m_nReportLast), m_CollectedPoints(other.m_CollectedPoints),
      m_CollectedNormals(other.m_CollectedNormals), m_bPointsListed(other.m_bPointsListed),
      m_bNormalsListed(other.m_bNormalsListed), m_GroupTokens(other.m_GroupTokens),
      m_nDiscardedPoints(other.m_nDiscardedPoints), m_nThreadCount(other.m_nThreadCount), m_bLoading(false)
{
    // Copied from a load under way (its callback): the groups it opened have no life tokens yet.
    if (other.m_bLoading)
        RecordOpenGroups();
}

CSLPParser& CSLPParser::operator=(CSLPParser& other)
{
    m_pWorld = other.m_pWorld;
    m_pCurrentGroup = other.m_pCurrentGroup;
    m_IOManager = other.m_IOManager;
    m_strFileName = other.m_strFileName;
    m_nLastPercentage = other.m_nLastPercentage;
    m_pLoader = other.m_pLoader;
    m_GroupStack = other.m_GroupStack;
    m_PointList = other.m_PointList;
    m_NormalList = other.m_NormalList;
    m_CurrentColor = other.m_CurrentColor;
    m_EstimatedBBox = other.m_EstimatedBBox;
    m_dDecimationMagnitude = other.m_dDecimationMagnitude;
    m_nReportOffset = other.m_nReportOffset;
    m_nReportTotal = other.m_nReportTotal;
    m_nReportLast = other.m_nReportLast;
    m_CollectedPoints = other.m_CollectedPoints;
    m_CollectedNormals = other.m_CollectedNormals;
    m_bPointsListed = other.m_bPointsListed;
    m_bNormalsListed = other.m_bNormalsListed;
    m_GroupTokens = other.m_GroupTokens;
    m_nDiscardedPoints = other.m_nDiscardedPoints;
    m_nThreadCount = other.m_nThreadCount;
    // Copied from a load under way (its callback): the groups it opened have no life tokens yet.
    if (other.m_bLoading && this != &other)
        RecordOpenGroups();
    return *this;
}

CSLPParser::~CSLPParser()
{
    ClearGroupStack();
    ClearPointList();
    ClearNormalList();
}

void CSLPParser::InitializeVariables()
{
    SetWorld(nullptr);
    SetCurrentGroup(nullptr);
    SetLastPercentage(0);
    SetLoaderPtr(nullptr);
    SetCurrentColor(vemoChroma(1.0f, 1.0f, 1.0f, 1.0f));
    m_EstimatedBBox.Reset();
    SetDecimationMagnitude(0.0);
    m_PointList.SetListTypePoint();
    m_NormalList.SetListTypeVector();
}

// ---------------------------------------------------------------------------------------------------
// The load

namespace
{

// The common shape of a normal or vertex line inside a batch: the keyword at nAt and three numbers
// after it. Takes them as the walk would (the third number becomes current) and returns true; false,
// with nothing taken, for any other shape, which the walk then reads token by token.
bool TakeTriplet(const CGenericTokenSummary* pBatch, size_t& nAt, size_t nBatch, double* pValues)
{
    if (nAt + 3 >= nBatch || pBatch[nAt + 1].m_eDataType != GenericTokenNumber ||
        pBatch[nAt + 2].m_eDataType != GenericTokenNumber ||
        pBatch[nAt + 3].m_eDataType != GenericTokenNumber)
        return false;
    pValues[0] = pBatch[nAt + 1].m_dNumericValue;
    pValues[1] = pBatch[nAt + 2].m_dNumericValue;
    pValues[2] = pBatch[nAt + 3].m_dNumericValue;
    nAt += 3;
    return true;
}

} // namespace

SLPLoadResultTypes CSLPParser::Parse(CKarnWorld* pWorld)
{
    SLPLoadResultTypes eResult = SLPLoadFailure;
    // The world is stored before any check, so a null world replaces the one held before.
    SetWorld(pWorld);
    if (GetFileName().GetLength() <= 0 || GetWorld() == nullptr)
        return eResult;

    GetIOManager()->SetFilename(GetFileName());
    GetIOManager()->EnableReadAhead(m_nThreadCount);
    eResult = GetIOManager()->OpenInputFile();
    if (eResult != SLPLoadSuccess)
        return eResult;
    return LoadInput();
}

SLPLoadResultTypes CSLPParser::ParseBuffer(CKarnWorld* pWorld, const char* pData, size_t nSize)
{
    SetWorld(pWorld);
    if (GetWorld() == nullptr)
        return SLPLoadFailure;
    GetIOManager()->EnableReadAhead(m_nThreadCount);
    GetIOManager()->SetInputBuffer(pData, nSize);
    return LoadInput();
}

SLPLoadResultTypes CSLPParser::LoadInput()
{
    // While the walk lasts (a copy made from the callback records the groups it holds).
    struct CLoading
    {
        bool& m_bFlag;
        explicit CLoading(bool& bFlag) : m_bFlag(bFlag) { m_bFlag = true; }
        ~CLoading() { m_bFlag = false; }
    } loading(m_bLoading);
    DropStaleGroups();
    m_nDiscardedPoints = 0;
    bool bReadFailed = false;
    try
    {
        WalkTokens();
        bReadFailed = GetIOManager()->GetReadFailed();
        // Whatever is still collected goes to the group that is current at the end, unless the file
        // could not be read to its end: then the run was cut where the reading stopped.
        if (bReadFailed)
        {
            m_nDiscardedPoints +=
                static_cast<long long>(m_CollectedPoints.GetCount()) + m_PointList.GetCount();
            ClearPointList();
            ClearNormalList();
        }
        else
            FlushGeometryToWorld();
    }
    catch (...)
    {
        // The input stays where the load stopped, but no thread reads it any more: a caller's buffer
        // may be freed once this returns.
        GetIOManager()->StopReadAhead();
        // Groups left open stay usable by the next load only if their tokens can be kept; otherwise
        // the stack is dropped rather than trusted.
        try
        {
            RecordOpenGroups();
        }
        catch (...)
        {
            ClearGroupStack();
            m_pCurrentGroup = nullptr;
            m_GroupTokens.clear();
        }
        throw;
    }
    RecordOpenGroups();
    // The input is let go of, the file closed or the caller's bytes no longer read; the tokens stay.
    GetIOManager()->CloseFile();
    GetIOManager()->SetInputStringValue(nullptr);
    // A file that could not be read to its end did not load, whatever was read of it.
    if (bReadFailed)
        return SLPLoadResult2;

    SLPLoadResultTypes eResult = SLPLoadFailure;

    CKarnWorld* pLoaded = GetWorld();
    if (pLoaded->GetNumObjects() > 0 || pLoaded->GetNumGroups() > 0)
    {
        pLoaded->UpdateBBox(GetEstimatedBoundingBox());
        eResult = SLPLoadSuccess;
    }
    return eResult;
}

// Inlined into the walk, which calls it for every step of a run.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void
CSLPParser::TakeStep(const CGenericRunStep& step, double* pNormal, double* pVertex, double* pColor)
{
    // What the walk does for these keywords and their numbers, taken token by token; normals and
    // vertices first, which alternate.
    const double* const pValues = step.m_dValues;
    if (step.m_nId == SLPTokenNormal)
    {
        pNormal[0] = pValues[0];
        pNormal[1] = pValues[1];
        pNormal[2] = pValues[2];
        vemoVector normal(SLPNearestFloat(pValues[0]), SLPNearestFloat(pValues[1]),
                          SLPNearestFloat(pValues[2]));
        if (m_bNormalsListed)
            AddNormalToList(normal);
        else
            m_CollectedNormals.Add(normal);
    }
    else if (step.m_nId == SLPTokenVertex)
    {
        pVertex[0] = pValues[0];
        pVertex[1] = pValues[1];
        pVertex[2] = pValues[2];
        vemoFloatPoint point(SLPNearestFloat(pValues[0]), SLPNearestFloat(pValues[1]),
                             SLPNearestFloat(pValues[2]));
        if (m_bPointsListed)
            AddPointToList(point);
        else
            m_CollectedPoints.Add(point);
    }
    else if (step.m_nId == SLPTokenColor)
    {
        FlushGeometryToWorld();
        pColor[0] = pValues[0];
        pColor[1] = pValues[1];
        pColor[2] = pValues[2];
        vemoChroma color(SLPNearestFloat(pValues[0]), SLPNearestFloat(pValues[1]),
                         SLPNearestFloat(pValues[2]), 1.0f);
        SetCurrentColor(color);
    }
    else if (step.m_nId == SLPTokenEndSolid)
    {
        FlushGeometryToWorld();
        PopGroup();
    }
}

void CSLPParser::WalkTokens()
{
    // Components that a cut-short triple does not read keep the same keyword's previous value in this
    // load, and start at zero.
    double aNormal[3] = {0.0, 0.0, 0.0};
    double aVertex[3] = {0.0, 0.0, 0.0};
    double aColor[3] = {0.0, 0.0, 0.0};

    // The walk takes its tokens in batches (CGenericParser::ReadTokens) where nothing can watch: no
    // progress report falls inside a batch, and a solid's name is read one token at a time. So wherever
    // the host's callback runs or a name is read, the parser stands exactly where a token-by-token walk
    // would have it. While a batch lasts, the current token is aBatch[nAt].
    CGenericTokenSummary aBatch[16];
    size_t nAt = 0;
    size_t nBatch = 0;
    const auto type = [&]() -> SLPTokenTypes
    { return nAt < nBatch ? CSLPIOManager::GetSummaryType(aBatch[nAt]) : GetCurrentTokenType(); };
    const auto value = [&]() -> double
    { return nAt < nBatch ? aBatch[nAt].m_dNumericValue : GetCurrentTokenNumericValue(); };
    // The input offset before which no report can come, while the threshold holds (else 0: none). A
    // gzipped file's progress moves only where a block of it is read, which no batch or run does but
    // at its end, where the walk looks (progressMoved).
    const auto reportLimit = [&]() -> long long
    {
        long long nOffset = 0;
        long long nTotal = 0;
        if (ProgressPosition(nOffset, nTotal))
            return LLONG_MAX;
        const bool bThresholdHolds = m_nReportLast == m_nLastPercentage && m_nReportTotal == nTotal;
        return bThresholdHolds ? m_nReportOffset : 0;
    };
    // Whether the progress's position or size moved since they were [nOffset, nTotal]: a stream's size
    // becomes known where its end is read, and a gzipped file's position moves where a block is read,
    // which for a batch or a run is while the lookahead of its last token is scanned. A token-by-token
    // walk reports there, and so does this one.
    const auto progressMoved = [&](long long nOffset, long long nTotal) -> bool
    {
        long long nNowOffset = 0;
        long long nNowTotal = 0;
        return ProgressPosition(nNowOffset, nNowTotal) ? nNowOffset != nOffset || nNowTotal != nTotal
                                                       : nNowTotal != nTotal;
    };
    // The common lines of a file, a facet's keywords and its "normal x y z" and "vertex x y z", and the
    // "color r g b" and "endsolid" between facets, taken a run at a time (CGenericParser::ScanKeywordRun)
    // rather than token by token; only where the walk stands between two steps, never inside a triple.
    // The keywords that frame a facet do nothing in the walk (TakeStep passes over them).
    const unsigned long long nQuietIds = (1ull << SLPTokenFacet) | (1ull << SLPTokenEndFacet) |
                                         (1ull << SLPTokenOuter) | (1ull << SLPTokenLoop) |
                                         (1ull << SLPTokenEndLoop);
    const CGenericRunKeywords runKeywords = {nQuietIds | (1ull << SLPTokenEndSolid), nQuietIds,
                                             (1ull << SLPTokenNormal) | (1ull << SLPTokenVertex) |
                                                 (1ull << SLPTokenColor)};
    const auto takeRuns = [&]()
    {
        CGenericRun run{nullptr, 0, -1};
        for (;;)
        {
            long long nOffset = 0;
            long long nTotal = 0;
            ProgressPosition(nOffset, nTotal);
            if (!m_IOManager.ScanKeywordRun(run, reportLimit(), runKeywords))
                return;
            size_t i = 0;
            try
            {
                for (; i < run.m_nSteps; ++i)
                    TakeStep(run.m_pSteps[i], aNormal, aVertex, aColor);
            }
            catch (...)
            {
                // A token-by-token walk would stand at the step's token where this failed: the third
                // number of a normal or vertex, the keyword of a colour or endsolid (whose flush comes
                // first).
                const CGenericRunStep& failed = run.m_pSteps[i];
                m_IOManager.TakeRunTo(failed.m_nId == SLPTokenNormal || failed.m_nId == SLPTokenVertex
                                          ? failed.m_nLastStart
                                          : failed.m_nKeywordStart);
                throw;
            }
            m_IOManager.TakeRunTo(run.m_nLastStart);
            if (progressMoved(nOffset, nTotal))
                UpdateStatus();
        }
    };
    // Moves to the next token; bBetweenSteps when the walk is done with the current token and all
    // before it (not inside a triple or a solid's name), where runs may be taken first.
    const auto advance = [&](bool bBetweenSteps) -> bool
    {
        if (++nAt < nBatch)
            return true;
        nAt = nBatch = 0;
        if (bBetweenSteps)
            takeRuns();
        // A batch ends before the token at which the percentage would grow (the offset UpdateStatus
        // skips to, while it holds) and before "solid", whose name is read from the parser itself.
        // Where runs may follow, the batch is short, so that the walk is soon back where it takes them.
        long long nOffset = 0;
        long long nTotal = 0;
        ProgressPosition(nOffset, nTotal);
        nBatch = m_IOManager.ReadTokens(aBatch, bBetweenSteps ? 16 : 4, reportLimit(), 1ull << SLPTokenSolid);
        if (nBatch == 0)
            return Tokenize();
        if (progressMoved(nOffset, nTotal))
            UpdateStatus();
        return true;
    };
    // ReadNumericTriplet over the walk's tokens.
    const auto triplet = [&](double* pValues) -> bool
    {
        if (type() != SLPTokenNumber)
            return false;
        pValues[0] = value();
        advance(false);
        if (type() == SLPTokenNumber)
        {
            pValues[1] = value();
            advance(false);
            if (type() == SLPTokenNumber)
                pValues[2] = value();
        }
        return true;
    };

    Tokenize();
    for (;;)
    {
        const SLPTokenTypes eType = type();
        if (eType == SLPTokenEndOfFile)
            break;
        switch (eType)
        {
        case SLPTokenSolid:
        {
            // The geometry so far belongs to the group that is current before the new one.
            FlushGeometryToWorld();
            // The token after "SOLID" names the group, whatever its type; the walk then passes over it.
            // "solid" never stands inside a batch, so the parser itself has the name.
            Tokenize();
            std::unique_ptr<CKarnGroup> pGroup(new CKarnGroup());
            {
                CBasicString strName(GetIOManager()->GetCurrentTokenString());
                vemoWRope name(strName.GetWideString());
                pGroup->SetGroupName(name);
            }
            CKarnGroup* pRaw = pGroup.get();
            try
            {
                AttachGroup(pRaw);
            }
            catch (...)
            {
                // Once attached, the group belongs to its parent even if the stack could not grow.
                if (pRaw->GetParent() != nullptr)
                    pGroup.release();
                throw;
            }
            if (pRaw->GetParent() != nullptr)
                pGroup.release();
            break;
        }
        case SLPTokenEndSolid:
            FlushGeometryToWorld();
            PopGroup();
            break;
        case SLPTokenNormal:
            // The common shape, three numbers in the batch, or token by token.
            if (TakeTriplet(aBatch, nAt, nBatch, aNormal) || (advance(false), triplet(aNormal)))
            {
                vemoVector normal(SLPNearestFloat(aNormal[0]), SLPNearestFloat(aNormal[1]),
                                  SLPNearestFloat(aNormal[2]));
                AddNormalToList(normal);
            }
            break;
        case SLPTokenVertex:
            if (TakeTriplet(aBatch, nAt, nBatch, aVertex) || (advance(false), triplet(aVertex)))
            {
                vemoFloatPoint point(SLPNearestFloat(aVertex[0]), SLPNearestFloat(aVertex[1]),
                                     SLPNearestFloat(aVertex[2]));
                AddPointToList(point);
            }
            break;
        case SLPTokenColor:
            // The facets collected so far keep the colour that was current while they were read; the
            // flush happens even when no number follows.
            FlushGeometryToWorld();
            advance(false);
            if (triplet(aColor))
            {
                // Components are taken as they stand: no scaling and no clamping.
                vemoChroma color(SLPNearestFloat(aColor[0]), SLPNearestFloat(aColor[1]),
                                 SLPNearestFloat(aColor[2]), 1.0f);
                SetCurrentColor(color);
            }
            break;
        default:
            break;
        }
        if (!advance(true))
            break;
    }
}

bool CSLPParser::ReadNumericTriplet(double& dFirst, double& dSecond, double& dThird)
{
    bool bResult = false;
    if (GetCurrentTokenType() == SLPTokenNumber)
    {
        dFirst = GetCurrentTokenNumericValue();
        Tokenize();
        bResult = true;
        if (GetCurrentTokenType() == SLPTokenNumber)
        {
            dSecond = GetCurrentTokenNumericValue();
            Tokenize();
            if (GetCurrentTokenType() == SLPTokenNumber)
                dThird = GetCurrentTokenNumericValue();
        }
    }
    return bResult;
}

void CSLPParser::MoveUpToInterestingToken()
{
    while (GetCurrentTokenType() == SLPTokenNone)
        Tokenize();
}

// ---------------------------------------------------------------------------------------------------
// Quoted names

bool CSLPParser::RemoveQuotes(CBasicString& strText)
{
    if (strText.GetLength() < 1)
        return false;
    const CBasicString strQuote('"');
    bool bResult = false;
    CBasicString strPrefix;
    int nPosition = strText.Find(strQuote, 0);
    while (nPosition >= 0)
    {
        if (nPosition > 0)
            strPrefix = strText.Mid(0, nPosition - 1);
        strText = strText.Mid(nPosition + 1, -1);
        strText = strPrefix + strText;
        strPrefix = "";
        nPosition = strText.Find(strQuote, 0);
        bResult = true;
    }
    return bResult;
}

// ---------------------------------------------------------------------------------------------------
// File name

CBasicString CSLPParser::GetFileName()
{
    return m_strFileName;
}

void CSLPParser::SetFileName(CBasicString strFileName)
{
    m_strFileName = strFileName;
}
