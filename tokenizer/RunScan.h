/// \file
/// Keyword runs read from a buffer, internal to the tokenizer: the one reader behind
/// CGenericParser::ScanKeywordRun on the parser's block and behind the read-ahead on pieces of a file
/// read by other threads, so that both describe a run the same way.
#pragma once

#include "tokenizer/ByteScan.h"
#include "tokenizer/GenericToken.h"
#include "tokenizer/KeywordIndex.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace generic_scan
{

/// Where a run is read: a buffer whose first byte is at input offset nOffset. Words of the run start
/// before pSafe (80 readable bytes after it) and end before pLimit; the general number conversion may
/// read 32 bytes after the start of a word that starts before pGeneralReadable.
struct CRunSpan
{
    const char* pBuffer;
    long long nOffset;
    const char* pSafe;
    const char* pLimit;
    const char* pGeneralReadable;
};

/// Where a run ends: its steps written, and where its last token starts and ends (null when the first
/// keyword takes three numbers that do not follow).
struct CRunEnd
{
    size_t nSteps;
    const char* pLastStart;
    const char* pEnd;
};

/// Reads the run whose first keyword, with the id nFirstId, is [pFirst, pAfterFirst) of the span: a step
/// per keyword but the quiet ones, each with its numbers where it takes three, written to pOut; it ends
/// before a step when nMax are written.
CRunEnd ScanRun(ScanLevels eLevel, const CRunSpan& span, const CRunKeywords& keywords, int nFirstId,
                const char* pFirst, const char* pAfterFirst, CGenericRunStep* pOut, size_t nMax);

/// The runs of a piece of input (the read-ahead's): their steps in input order, and each run as the
/// range [first, end) of its steps with where its last token starts and ends.
struct CPieceRuns
{
    struct Run
    {
        std::uint32_t nFirst;
        std::uint32_t nEnd;
        long long nLastStart;
        long long nLastEnd;
    };
    std::unique_ptr<CGenericRunStep[]> m_pSteps;
    size_t m_nSteps = 0;
    size_t m_nCapacity = 0;
    std::vector<Run> m_Runs;

    /// Makes room for more steps, nHint of them at first (std::bad_alloc).
    void Grow(size_t nHint);
};

/// Reads every run of the tokens that start in [pFrom, pTo) of the span (pFrom at a token's start or
/// white space before one; pBufferEnd where the buffer's bytes end, bInputEnds when the input ends there
/// too), tokenizing what lies between runs as the tokenizer does. Stops early, keeping what it read,
/// before a token it cannot see whole. May raise std::bad_alloc.
void ScanPieceRuns(ScanLevels eLevel, const CRunSpan& span, const CRunKeywords& keywords, const char* pFrom,
                   const char* pTo, const char* pBufferEnd, bool bInputEnds, CPieceRuns& runs);

} // namespace generic_scan
