// The token layer of a load: tokens taken through the parser, and the progress percentages reported
// as the load passes through the file.
#include "slp/SLPParser.h"

#include <climits>
#include <cmath>

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

bool CSLPParser::ProgressPosition(long long& nOffset, long long& nTotal)
{
    const CKarnFileInterface& file = *m_IOManager.GetFileInterface();
    if (file.GetIsGzip() && file.GetSourceSize() > 0)
    {
        nOffset = file.GetSourceOffset();
        nTotal = file.GetSourceSize();
        return true;
    }
    nOffset = m_IOManager.GetCurrentFileOffset64();
    nTotal = m_IOManager.GetTotalFileSize64();
    return false;
}

void CSLPParser::UpdateStatus()
{
    // Sizes are 64-bit so that files over 2 GiB report their true progress.
    long long nOffset = 0;
    long long nTotal = 0;
    ProgressPosition(nOffset, nTotal);
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
    {
        m_pLoader(nPercentage);
        // The host's code may have changed the file, whose reading ahead then stops.
        m_IOManager.RecheckReadAhead();
    }
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
