/// \file
/// Why a load failed, told the same way by the slp program, the web page and the Python package. The
/// loader answers only with its result; the reason comes from what its file reader saw.
#pragma once

#include "checker/SLPChecker.h"
#include "slp/SLPParser.h"
#include "tokenizer/KarnFileInterface.h"

#include <cerrno>
#include <string>
#include <system_error>

/// Why a load that did not succeed failed: the system's error code when the file could not be opened
/// or read (ENOENT for a missing or unnamed file), else 0 and what the file holds instead of SLP text
/// ("empty file", "binary data, not SLP text", "no solid in the file").
struct CLoadFailure
{
    int m_nSystemError = 0;
    const char* m_pszContent = "";
};

inline CLoadFailure ExplainLoadFailure(CSLPParser& parser, int nResult)
{
    const CKarnFileInterface& file = *parser.GetIOManager()->GetFileInterface();
    const int nError = file.GetSystemError();
    // Refused at its first block by CBinaryInputGuard.
    if (nResult == SLPLoadResult2 && nError == EILSEQ && file.GetStartsAsBinary())
        return {0, DescribeNotSLP(1, true)};
    if (nResult == SLPLoadResult2)
        return {nError != 0 ? nError : EIO, ""};
    if (nResult == SLPLoadFailure && nError != 0)
        return {nError, ""};
    if (parser.GetFileName().GetLength() == 0)
        return {ENOENT, ""};
    return {0, DescribeNotSLP(parser.GetIOManager()->GetTotalFileSize64(), file.GetStartsAsBinary())};
}

/// Why a check could not read its file (its report's m_eOpen is not SLPLoadSuccess).
inline CLoadFailure ExplainCheckFailure(const CCheckReport& report)
{
    return {report.m_nSystemError != 0 ? report.m_nSystemError : EIO, ""};
}

/// The reason in the program's words: "file missing", "unreadable: " and the system's message, or
/// what the file holds.
inline std::string DescribeLoadFailure(const CLoadFailure& failure)
{
    if (failure.m_nSystemError == ENOENT)
        return "file missing";
    if (failure.m_nSystemError != 0)
        return "unreadable: " + std::generic_category().message(failure.m_nSystemError);
    return failure.m_pszContent;
}

/// Both at once, for a parser whose load returned nResult.
inline std::string DescribeLoadFailure(CSLPParser& parser, int nResult)
{
    return DescribeLoadFailure(ExplainLoadFailure(parser, nResult));
}
