/// \file
/// A finding as JSON, the same for `slp check --json` and the web page.
#pragma once

#include "checker/SLPChecker.h"

/// Writes {"line", "column", "severity", "code", "message", "fixable"} to out: anything with operator<< for
/// text and numbers and a JsonString for UTF-8 text (the writers' CFileSink).
template <class Sink> void WriteFindingJson(Sink& out, const CCheckFinding& finding)
{
    out << "{\"line\": " << finding.m_nLine << ", \"column\": " << finding.m_nColumn << ", \"severity\": \""
        << CheckSeverityName(finding.m_eSeverity) << "\", \"code\": \"" << finding.m_strCode
        << "\", \"message\": ";
    out.JsonString(finding.m_strMessage);
    out << ", \"fixable\": " << (finding.m_bFixable ? "true" : "false") << '}';
}
