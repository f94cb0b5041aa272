/// \file
/// CGenericToken: one token of the generic tokenizer, with its data type, value and text.
#pragma once

#include "tokenizer/Export.h"

#include <cstddef>
#include <cstring>

/// The kind of a token, as the tokenizer classifies it.
enum GenericTokenTypes
{
    GenericTokenNone = 0,         ///< no token yet (before the first Tokenize)
    GenericTokenEndOfFile = 1,    ///< the end of the input; empty text
    GenericTokenOpenBrace = 2,    ///< "{"
    GenericTokenCloseBrace = 3,   ///< "}"
    GenericTokenOpenBracket = 4,  ///< "["
    GenericTokenCloseBracket = 5, ///< "]"
    GenericTokenOpenParen = 6,    ///< "("
    GenericTokenCloseParen = 7,   ///< ")"
    GenericTokenQuotedString = 8, ///< a double-quoted text, quotes included in the token text
    GenericTokenBoolean = 9,      ///< TRUE or FALSE in any case
    GenericTokenNumber = 10,      ///< a decimal number; its value is GetNumericValue
    GenericTokenKeyword = 11,     ///< a word of the keyword table; GetUserDefinedType is the row's id
    GenericTokenWord = 12         ///< any other word
};

/// What a fast reader takes of a token (CGenericParser::ReadTokens): its data type, a keyword's id, a
/// number's value and a boolean's, as the token's own members give them; no text.
struct CGenericTokenSummary
{
    GenericTokenTypes m_eDataType;
    unsigned int m_nUserDefinedType;
    double m_dNumericValue;
    bool m_bBooleanValue;
};

/// The keywords of a keyword run (CGenericParser::ScanKeywordRun), as sets of ids (bit n for id n,
/// ids from 0 to 63): keywords taken on their own, those among them that need no step of their own
/// (a reader does nothing for them), and keywords taken with the three numbers that follow them.
struct CGenericRunKeywords
{
    unsigned long long m_nAloneIds;
    unsigned long long m_nQuietIds;
    unsigned long long m_nTripleIds;
};

/// One step of a keyword run (CGenericParser::ScanKeywordRun): a keyword on its own, or a keyword with the
/// three numbers that follow it, and where its tokens are in the input, so that a reader can move to
/// any of them (CGenericParser::TakeRunTo).
struct CGenericRunStep
{
    int m_nId;                 ///< the keyword row's id
    long long m_nKeywordStart; ///< the input offset where the keyword starts
    long long m_nLastStart;    ///< where the step's last token starts: the third number, or the keyword
    long long m_nLastEnd;      ///< where that token ends
    double m_dValues[3];       ///< the numbers of a keyword that takes three; not set for the others
};

/// A keyword run: its steps, in input order (none for the quiet keywords), and where its last token
/// starts, to which CGenericParser::TakeRunTo takes the parser.
struct CGenericRun
{
    const CGenericRunStep* m_pSteps;
    size_t m_nSteps;
    long long m_nLastStart;
};

/// A token: data type, keyword id, numeric and boolean value, and its text exactly as written in the
/// input, NUL-terminated. The text may contain NUL bytes only inside a quoted string (GetLength counts
/// them). Short texts live inside the object; longer ones in a heap buffer whose capacity only grows,
/// so a token reused for many texts stops allocating once it has seen the longest. Copying copies the
/// text (and may allocate, raising std::bad_alloc when memory runs out). Tokens are created by the
/// tokenizer and its saved read states; a host only reads them.
class GENERIC_API CGenericToken
{
public:
    /// A GenericTokenNone token with empty text. Does not allocate.
    CGenericToken();
    CGenericToken(const CGenericToken& other);
    CGenericToken& operator=(const CGenericToken& other);
    ~CGenericToken();

    GenericTokenTypes GetDataType() const { return m_eDataType; }
    /// The keyword row's id (converted to unsigned) for a keyword token; 0 for every other token.
    unsigned int GetUserDefinedType() const { return m_nUserDefinedType; }
    /// The value of a number token; 0.0 for every other token.
    double GetNumericValue() const { return m_dNumericValue; }
    /// True for a boolean token written as TRUE in any case; false for every other token.
    bool GetBooleanValue() const { return m_bBooleanValue; }
    /// The NUL-terminated text; never null. Owned by the token and valid until the token is next
    /// changed (for the tokenizer's tokens: until the next Tokenize, RestoreIOState or open).
    char* GetString() { return m_pText; }
    const char* GetString() const { return m_pText; }
    /// The number of bytes of the text, without the terminating NUL.
    size_t GetLength() const { return m_nLength; }
    /// The number of bytes of input up to the end of this token (for the end-of-input token: the size
    /// of the input; for a GenericTokenNone token: 0).
    long long GetEndOffset() const { return m_nEndOffset; }
    /// Where the token starts: its line (counting line feeds, from 1) and its column (in bytes, from 1;
    /// a byte-order mark at the start of the input is not counted), when the tokenizer tracks lines
    /// (CGenericParser::SetLineTracking); 0 otherwise. The end-of-input token stands after the last byte.
    long long GetLine() const { return m_nLine; }
    long long GetColumn() const { return m_nColumn; }

private:
    friend class CGenericParser;

    static const size_t InlineCapacity = 32;

    /// Empties the text and makes the token a GenericTokenNone token at offset 0.
    void Clear();
    /// Appends bytes to the text (not yet NUL-terminated; Terminate does that).
    void Append(const char* pData, size_t nCount);
    void Terminate() { m_pText[m_nLength] = '\0'; }
    /// Makes room for nNeeded bytes plus the NUL; raises std::length_error or std::bad_alloc.
    void Reserve(size_t nNeeded);

    GenericTokenTypes m_eDataType;
    unsigned int m_nUserDefinedType;
    double m_dNumericValue;
    bool m_bBooleanValue;
    long long m_nEndOffset;
    long long m_nLine;
    long long m_nColumn;
    char* m_pText;      ///< m_szInline or a heap buffer of m_nCapacity bytes
    size_t m_nLength;   ///< bytes of text before the NUL
    size_t m_nCapacity; ///< bytes available in m_pText, the NUL included
    char m_szInline[InlineCapacity];
};

inline void CGenericToken::Append(const char* pData, size_t nCount)
{
    if (nCount >= m_nCapacity - m_nLength)
        Reserve(m_nLength + nCount);
    std::memcpy(m_pText + m_nLength, pData, nCount);
    m_nLength += nCount;
}
