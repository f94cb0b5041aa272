/// \file
/// CGenericIOState: a saved read state of the generic tokenizer.
#pragma once

#include "tokenizer/GenericToken.h"

/// What CGenericParser::SaveIOState records and RestoreIOState returns to: the current token, the
/// lookahead token and the read position. Opaque to hosts. A state belongs to the input that was open
/// when it was saved; restoring it after another open (or on another parser) fails. Copyable; copying
/// and saving copy the two token texts (and may allocate).
class GENERIC_API CGenericIOState
{
public:
    /// An empty state: restoring it fails.
    CGenericIOState();

    /// Whether the state holds a saved position.
    bool IsValid() const { return m_bValid; }

private:
    friend class CGenericParser;

    CGenericToken m_Current;
    CGenericToken m_Next;
    long long m_nReadOffset;           ///< bytes of input consumed by the scanner (after the lookahead)
    long long m_nLine;                 ///< the line at the read offset, when lines are tracked
    long long m_nLineStart;            ///< where that line starts
    unsigned long long m_nInputSerial; ///< which input this state belongs to
    bool m_bLookaheadReady;            ///< whether m_Next had been scanned
    bool m_bValid;
};
