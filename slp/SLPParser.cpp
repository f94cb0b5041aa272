#include "slp/SLPParser.h"

#include "foundation/BasicList.h"

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

CSLPParser::CSLPParser()
    : m_pWorld(nullptr), m_pCurrentGroup(nullptr), m_nLastPercentage(0), m_pLoader(nullptr),
      m_dDecimationMagnitude(0.0), m_nReportOffset(0), m_nReportTotal(-1), m_nReportLast(0),
      m_bPointsListed(false), m_bNormalsListed(false), m_nDiscardedPoints(0)
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
      m_nDiscardedPoints(other.m_nDiscardedPoints)
{
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

// A number read as a double, rounded to the nearest float. Beyond the float range the rounding gives
// an infinity of the same sign (1e39 becomes +inf), which a plain conversion of such a value would
// leave undefined.
float ToFloat(double dValue)
{
    constexpr double dMax = static_cast<double>(std::numeric_limits<float>::max());
    // Half a unit in the last place above the largest float: from there on the nearest is infinity.
    constexpr double dOverflow = dMax + 0x1p103;
    // The common case first, with one comparison: within the float range the conversion rounds.
    if (std::fabs(dValue) <= dMax)
        return static_cast<float>(dValue);
    if (dValue >= dOverflow)
        return std::numeric_limits<float>::infinity();
    if (dValue <= -dOverflow)
        return -std::numeric_limits<float>::infinity();
    if (dValue > dMax || dValue < -dMax)
        return dValue > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
    return static_cast<float>(dValue);
}

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
    eResult = GetIOManager()->OpenInputFile();
    if (eResult != SLPLoadSuccess)
        return eResult;

    DropStaleGroups();
    m_nDiscardedPoints = 0;
    try
    {
        WalkTokens();
        // Whatever is still collected goes to the group that is current at the end.
        FlushGeometryToWorld();
    }
    catch (...)
    {
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
    GetIOManager()->CloseFile();

    eResult = SLPLoadFailure;

    CKarnWorld* pLoaded = GetWorld();
    if (pLoaded->GetNumObjects() > 0 || pLoaded->GetNumGroups() > 0)
    {
        pLoaded->UpdateBBox(GetEstimatedBoundingBox());
        eResult = SLPLoadSuccess;
    }
    return eResult;
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
    CGenericTokenSummary aBatch[512];
    size_t nAt = 0;
    size_t nBatch = 0;
    const auto type = [&]() -> SLPTokenTypes
    { return nAt < nBatch ? CSLPIOManager::GetSummaryType(aBatch[nAt]) : GetCurrentTokenType(); };
    const auto value = [&]() -> double
    { return nAt < nBatch ? aBatch[nAt].m_dNumericValue : GetCurrentTokenNumericValue(); };
    const auto advance = [&]() -> bool
    {
        if (++nAt < nBatch)
            return true;
        // A batch ends before the token at which the percentage would grow (the offset UpdateStatus
        // skips to, while it holds) and before "solid", whose name is read from the parser itself.
        const long long nTotal = m_IOManager.GetTotalFileSize64();
        const bool bThresholdHolds = m_nReportLast == m_nLastPercentage && m_nReportTotal == nTotal;
        nBatch = m_IOManager.ReadTokens(aBatch, sizeof(aBatch) / sizeof(aBatch[0]),
                                        bThresholdHolds ? m_nReportOffset : 0, 1ull << SLPTokenSolid);
        nAt = 0;
        return nBatch > 0 || Tokenize();
    };
    // ReadNumericTriplet over the walk's tokens.
    const auto triplet = [&](double* pValues) -> bool
    {
        if (type() != SLPTokenNumber)
            return false;
        pValues[0] = value();
        advance();
        if (type() == SLPTokenNumber)
        {
            pValues[1] = value();
            advance();
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
            if (TakeTriplet(aBatch, nAt, nBatch, aNormal) || (advance(), triplet(aNormal)))
            {
                vemoVector normal(ToFloat(aNormal[0]), ToFloat(aNormal[1]), ToFloat(aNormal[2]));
                AddNormalToList(normal);
            }
            break;
        case SLPTokenVertex:
            if (TakeTriplet(aBatch, nAt, nBatch, aVertex) || (advance(), triplet(aVertex)))
            {
                vemoFloatPoint point(ToFloat(aVertex[0]), ToFloat(aVertex[1]), ToFloat(aVertex[2]));
                AddPointToList(point);
            }
            break;
        case SLPTokenColor:
            // The facets collected so far keep the colour that was current while they were read; the
            // flush happens even when no number follows.
            FlushGeometryToWorld();
            advance();
            if (triplet(aColor))
            {
                // Components are taken as they stand: no scaling and no clamping.
                vemoChroma color(ToFloat(aColor[0]), ToFloat(aColor[1]), ToFloat(aColor[2]), 1.0f);
                SetCurrentColor(color);
            }
            break;
        default:
            break;
        }
        if (!advance())
            break;
    }
}

void CSLPParser::DropStaleGroups()
{
    if (m_pCurrentGroup == nullptr && m_GroupStack.GetCount() == 0)
    {
        m_GroupTokens.clear();
        return;
    }
    // A group passes when its token says it still exists (a group without a token, put on the stack
    // list by the host, is taken as live) and its chain of parents ends at the world being loaded.
    // Groups already known to be in the world end the walk up, so a stack a million groups deep costs
    // one walk up its chain, not one per group.
    std::unordered_set<const vemoBaseGroup*> inWorld;
    inWorld.insert(m_pWorld);
    std::vector<const vemoBaseGroup*> path;
    auto isLive = [&](const CKarnGroup* pGroup)
    {
        const auto token = m_GroupTokens.find(pGroup);
        if (token != m_GroupTokens.end() && token->second.expired())
            return false;
        path.clear();
        const vemoBaseGroup* pStep = pGroup;
        while (pStep != nullptr && inWorld.count(pStep) == 0)
        {
            path.push_back(pStep);
            pStep = pStep->GetParent();
        }
        if (pStep == nullptr)
            return false;
        inWorld.insert(path.begin(), path.end());
        return true;
    };
    bool bLive = m_pCurrentGroup == nullptr || isLive(m_pCurrentGroup);
    for (CBasicListElement* pElement = m_GroupStack.GetFirstElement(); bLive && pElement != nullptr;
         pElement = m_GroupStack.GetNextElement())
        bLive = isLive(static_cast<const CKarnGroup*>(pElement->m_pData));
    if (!bLive)
    {
        ClearGroupStack();
        m_pCurrentGroup = nullptr;
        m_GroupTokens.clear();
    }
}

void CSLPParser::RecordOpenGroups()
{
    m_GroupTokens.clear();
    RecordGroup(m_pCurrentGroup);
    for (CBasicListElement* pElement = m_GroupStack.GetFirstElement(); pElement != nullptr;
         pElement = m_GroupStack.GetNextElement())
        RecordGroup(static_cast<const CKarnGroup*>(pElement->m_pData));
}

void CSLPParser::RecordGroup(const CKarnGroup* pGroup)
{
    if (pGroup != nullptr)
        m_GroupTokens[pGroup] = pGroup->GetLifeToken();
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
// The geometry flush

bool CSLPParser::FlushGeometryToWorld()
{
    bool bResult = false;
    CKarnGroup* pGroup = GetCurrentGroup();
    // What was collected, in the array or, once a host asked for it, in the list.
    const size_t nPoints = m_CollectedPoints.size() + static_cast<size_t>(m_PointList.GetCount());
    const size_t nNormals = m_CollectedNormals.size() + static_cast<size_t>(m_NormalList.GetCount());
    if (pGroup != nullptr && nPoints > 0 && nNormals == nPoints)
    {
        std::unique_ptr<CKarnStl> pMesh(new CKarnStl());
        if (nPoints / 3 > static_cast<size_t>(INT_MAX))
            throw std::bad_alloc(); // a triangle count the model cannot hold; far beyond any memory
        const int nFacets = static_cast<int>(nPoints / 3);
        pMesh->SetDecimationMagnitude(GetDecimationMagnitude());
        if (nFacets > 0)
        {
            vemoMatProps props;
            const vemoChroma color = GetCurrentColor();
            pMesh->m_pTriangles = new vemoTRex[static_cast<size_t>(nFacets)];
            pMesh->m_nTriangleCount = nFacets;
            FillTriangles(pMesh->m_pTriangles, nFacets);

            pMesh->ComputeBBoxFromPoints();
            GetEstimatedBoundingBox().Update(pMesh->GetBBox());

            props.m_nMode = 2;
            props.m_Front.SetDiffuse(color);
            props.m_Back.SetDiffuse(color);
            props.m_Front.SetShininess(64.0f);
            props.m_Back.SetShininess(64.0f);
            if (pGroup->AddObject(pMesh.get(), props, 1))
            {
                pMesh.release();
                bResult = true;
            }
        }
    }
    m_nDiscardedPoints += static_cast<long long>(bResult ? nPoints % 3 : nPoints);
    ClearPointList();
    ClearNormalList();
    return bResult;
}

void CSLPParser::FillTriangles(vemoTRex* pTriangles, int nFacets)
{
    if (!m_bPointsListed && !m_bNormalsListed && m_PointList.GetCount() == 0 && m_NormalList.GetCount() == 0)
    {
        // The common case: triangle i takes points and normals 3i to 3i+2 of the arrays, which hold as
        // many of each and so have the same chunks, none of which splits a triangle.
        vemoTRex* pTriangle = pTriangles;
        vemoTRex* const pEnd = pTriangles + nFacets;
        for (size_t k = 0; k < m_CollectedPoints.ChunkCount() && pTriangle < pEnd; ++k)
        {
            const vemoFloatPoint* pPoint = m_CollectedPoints.ChunkData(k);
            const vemoVector* pNormal = m_CollectedNormals.ChunkData(k);
            const size_t nInChunk = m_CollectedPoints.ChunkSize(k) / 3;
            const size_t nLeft = static_cast<size_t>(pEnd - pTriangle);
            vemoTRex* const pChunkEnd = pTriangle + (nInChunk < nLeft ? nInChunk : nLeft);
            for (; pTriangle < pChunkEnd; ++pTriangle, pPoint += 3, pNormal += 3)
            {
                pTriangle->m_Vertex[0] = pPoint[0];
                pTriangle->m_Vertex[1] = pPoint[1];
                pTriangle->m_Vertex[2] = pPoint[2];
                pTriangle->m_Normal[0] = pNormal[0];
                pTriangle->m_Normal[1] = pNormal[1];
                pTriangle->m_Normal[2] = pNormal[2];
            }
        }
        return;
    }
    // A host has the lists: the same walk over them, each iterator stepping on only where it had an item.
    ListCollectedPoints();
    ListCollectedNormals();
    CBasicListIterator points(&m_PointList);
    CBasicListIterator normals(&m_NormalList);
    for (int i = 0; i < nFacets; ++i)
    {
        vemoTRex& triangle = pTriangles[i];
        for (vemoFloatPoint& vertex : triangle.m_Vertex)
        {
            if (void* pItem = points.GetData())
            {
                vertex = *static_cast<vemoFloatPoint*>(pItem);
                points++;
            }
        }
        for (vemoVector& normal : triangle.m_Normal)
        {
            if (void* pItem = normals.GetData())
            {
                normal = *static_cast<vemoVector*>(pItem);
                normals++;
            }
        }
    }
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
// Token layer and progress

bool CSLPParser::Tokenize()
{
    if (!m_IOManager.Tokenize())
        return false;
    UpdateStatus();
    return true;
}

namespace
{
// The percentage of the load at an offset: the division first, in double precision (29 of 100 gives
// 28.999..., reported as 28), truncated, at most 99; INT_MIN when the result is not a finite number
// within the int range (a size of 0), so that it is never reported.
int PercentageAt(long long nOffset, long long nTotal)
{
    const double dProduct = static_cast<double>(nOffset) / static_cast<double>(nTotal) * 100.0;
    int nPercentage = INT_MIN;
    if (std::isfinite(dProduct) && dProduct > static_cast<double>(INT_MIN) - 1.0 &&
        dProduct < static_cast<double>(INT_MAX) + 1.0)
        nPercentage = static_cast<int>(dProduct);
    return nPercentage > 99 ? 99 : nPercentage;
}
} // namespace

long long CSLPParser::ReportThreshold(int nLast, long long nTotal)
{
    // Nothing to skip for sizes that cannot occur, and nothing above 99 can ever be reported.
    if (nTotal <= 0)
        return nTotal == 0 ? LLONG_MAX : 0;
    if (nLast >= 99)
        return LLONG_MAX;
    // From 0 to the size the percentage never falls (division and multiplication by positive numbers
    // keep the order, rounding included, and the product stays at most 100), and at the size it is 99:
    // a binary search finds the first offset that gives more than nLast, in at most 64 steps.
    long long nLow = 0;
    long long nHigh = nTotal;
    while (nLow < nHigh)
    {
        const long long nMiddle = nLow + (nHigh - nLow) / 2;
        if (PercentageAt(nMiddle, nTotal) > nLast)
            nHigh = nMiddle;
        else
            nLow = nMiddle + 1;
    }
    return nLow;
}

void CSLPParser::UpdateStatus()
{
    // Sizes are 64-bit so that files over 2 GiB report their true progress.
    const long long nOffset = m_IOManager.GetCurrentFileOffset64();
    const long long nTotal = m_IOManager.GetTotalFileSize64();
    // A division per token is a visible share of a load; instead the offset is compared with the one
    // at which the percentage next grows. The host may change the last percentage at any time, so the
    // threshold counts only for the values it was computed for.
    if (nOffset < m_nReportOffset && nOffset >= 0 && m_nReportLast == m_nLastPercentage &&
        m_nReportTotal == nTotal)
        return;
    ReportProgressAt(nOffset, nTotal);
}

void CSLPParser::ReportProgressAt(long long nOffset, long long nTotal)
{
    if (m_nReportLast != m_nLastPercentage || m_nReportTotal != nTotal)
    {
        m_nReportOffset = ReportThreshold(m_nLastPercentage, nTotal);
        m_nReportLast = m_nLastPercentage;
        m_nReportTotal = nTotal;
        if (nOffset < m_nReportOffset && nOffset >= 0)
            return;
    }
    // At or past the threshold (or past the size, where the formula alone decides), as before.
    const int nPercentage = PercentageAt(nOffset, nTotal);
    if (nPercentage <= m_nLastPercentage)
        return;
    if (m_pLoader != nullptr)
        m_pLoader(nPercentage);
    m_nLastPercentage = nPercentage;
}

bool CSLPParser::SaveIOState(CGenericIOState& state)
{
    return m_IOManager.SaveIOState(state);
}

bool CSLPParser::RestoreIOState(CGenericIOState& state)
{
    return m_IOManager.RestoreIOState(state);
}

SLPTokenTypes CSLPParser::GetCurrentTokenType()
{
    return m_IOManager.GetCurrentTokenType();
}

SLPTokenTypes CSLPParser::GetNextTokenType()
{
    return m_IOManager.GetNextTokenType();
}

GenericTokenTypes CSLPParser::GetCurrentTokenDataType()
{
    return m_IOManager.GetCurrentTokenDataType();
}

GenericTokenTypes CSLPParser::GetNextTokenDataType()
{
    return m_IOManager.GetNextTokenDataType();
}

double CSLPParser::GetCurrentTokenNumericValue()
{
    return m_IOManager.GetCurrentTokenNumericValue();
}

double CSLPParser::GetNextTokenNumericValue()
{
    return m_IOManager.GetNextTokenNumericValue();
}

bool CSLPParser::GetCurrentTokenBooleanValue()
{
    return m_IOManager.GetCurrentTokenBooleanValue();
}

bool CSLPParser::GetNextTokenBooleanValue()
{
    return m_IOManager.GetNextTokenBooleanValue();
}

char* CSLPParser::GetCurrentTokenString()
{
    return m_IOManager.GetCurrentTokenString();
}

char* CSLPParser::GetNextTokenString()
{
    return m_IOManager.GetNextTokenString();
}

bool CSLPParser::GetCurrentTokenBeginType()
{
    return m_IOManager.GetCurrentTokenBeginType();
}

bool CSLPParser::GetNextTokenBeginType()
{
    return m_IOManager.GetNextTokenBeginType();
}

bool CSLPParser::GetCurrentTokenEndType()
{
    return m_IOManager.GetCurrentTokenEndType();
}

bool CSLPParser::GetNextTokenEndType()
{
    return m_IOManager.GetNextTokenEndType();
}

// ---------------------------------------------------------------------------------------------------
// Group stack, collection lists, file name

void CSLPParser::PushGroup(CKarnGroup* pGroup)
{
    if (AttachGroup(pGroup))
        RecordGroup(pGroup);
}

bool CSLPParser::AttachGroup(CKarnGroup* pGroup)
{
    if (pGroup == nullptr)
        return false;
    CKarnGroup* pParent = GetParentGroup();
    if (pParent == nullptr)
        return false;
    if (!pParent->AddGroup(pGroup, 1))
        return false;
    m_GroupStack.AddHead(pGroup);
    m_pCurrentGroup = pGroup;
    return true;
}

void CSLPParser::SetCurrentGroup(CKarnGroup* pGroup)
{
    RecordGroup(pGroup);
    m_pCurrentGroup = pGroup;
}

void CSLPParser::PopGroup()
{
    m_GroupStack.RemoveHead();
    if (m_GroupStack.GetCount() >= 1)
        m_pCurrentGroup = static_cast<CKarnGroup*>(m_GroupStack.GetHead());
    else
        m_pCurrentGroup = nullptr;
}

void CSLPParser::ClearGroupStack()
{
    m_GroupStack.RemoveAll();
}

CKarnGroup* CSLPParser::GetParentGroup()
{
    if (m_pCurrentGroup != nullptr)
        return m_pCurrentGroup;
    return m_pWorld;
}

void CSLPParser::AddPointToList(vemoFloatPoint& point)
{
    if (m_bPointsListed)
        m_PointList.AddTailCopy(&point);
    else
        m_CollectedPoints.push_back(point);
}

void CSLPParser::AddNormalToList(vemoVector& normal)
{
    if (m_bNormalsListed)
        m_NormalList.AddTailCopy(&normal);
    else
        m_CollectedNormals.push_back(normal);
}

namespace
{
// Empties a collection array; the storage of a long run is given back, a short run's is kept for the
// next one.
template <class T> void ClearCollected(CSLPCollectedArray<T>& items)
{
    items.Clear(1 << 20);
}

// Appends the array's items to the list, in order, and empties the array. When memory runs out on
// the way, the items already in the list leave the array, so none is held twice.
template <class T> void MoveIntoList(CSLPCollectedArray<T>& items, CKarnList& list)
{
    size_t nMoved = 0;
    try
    {
        for (size_t k = 0; k < items.ChunkCount(); ++k)
        {
            const T* const pItems = items.ChunkData(k);
            for (size_t i = 0; i < items.ChunkSize(k); ++i, ++nMoved)
                list.AddTailCopy(const_cast<T*>(pItems + i));
        }
    }
    catch (...)
    {
        items.RemoveFront(nMoved);
        throw;
    }
    ClearCollected(items);
}
} // namespace

void CSLPParser::ClearPointList()
{
    m_PointList.DeleteAll();
    ClearCollected(m_CollectedPoints);
    m_bPointsListed = false;
}

void CSLPParser::ClearNormalList()
{
    m_NormalList.DeleteAll();
    ClearCollected(m_CollectedNormals);
    m_bNormalsListed = false;
}

void CSLPParser::ListCollectedPoints()
{
    MoveIntoList(m_CollectedPoints, m_PointList);
    m_bPointsListed = true;
}

void CSLPParser::ListCollectedNormals()
{
    MoveIntoList(m_CollectedNormals, m_NormalList);
    m_bNormalsListed = true;
}

CKarnList* CSLPParser::GetPointList()
{
    ListCollectedPoints();
    return &m_PointList;
}

CKarnList* CSLPParser::GetNormalList()
{
    ListCollectedNormals();
    return &m_NormalList;
}

CBasicString CSLPParser::GetFileName()
{
    return m_strFileName;
}

void CSLPParser::SetFileName(CBasicString strFileName)
{
    m_strFileName = strFileName;
}
