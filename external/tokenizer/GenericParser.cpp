#include "external/tokenizer/GenericParser.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

namespace
{
// Byte classes of the scanner, looked up in one table so the inner loops test one load per byte.
enum CharKinds : unsigned char
{
    KindWord = 0,
    KindSpace = 1,
    KindBracket = 2,
    KindQuote = 3
};

struct CharTable
{
    unsigned char m_Kinds[256];
};

constexpr CharTable MakeCharTable()
{
    CharTable table{};
    for (int i = 0; i < 256; ++i)
        table.m_Kinds[i] = KindWord;
    const unsigned char spaces[] = {' ', '\t', '\r', '\n', '\v', '\f', '\0'};
    for (unsigned char c : spaces)
        table.m_Kinds[c] = KindSpace;
    const unsigned char brackets[] = {'{', '}', '[', ']', '(', ')'};
    for (unsigned char c : brackets)
        table.m_Kinds[c] = KindBracket;
    table.m_Kinds[static_cast<unsigned char>('"')] = KindQuote;
    return table;
}

constexpr CharTable g_CharTable = MakeCharTable();

inline unsigned char KindOf(char c)
{
    return g_CharTable.m_Kinds[static_cast<unsigned char>(c)];
}

GenericTokenTypes BracketType(char c)
{
    switch (c)
    {
    case '{':
        return GenericTokenOpenBrace;
    case '}':
        return GenericTokenCloseBrace;
    case '[':
        return GenericTokenOpenBracket;
    case ']':
        return GenericTokenCloseBracket;
    case '(':
        return GenericTokenOpenParen;
    default:
        return GenericTokenCloseParen;
    }
}

// ASCII upper case only, so keyword matching does not follow the process locale.
inline unsigned char FoldAscii(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

bool EqualNoCase(const char* pA, const char* pB, size_t nCount)
{
    for (size_t i = 0; i < nCount; ++i)
        if (FoldAscii(pA[i]) != FoldAscii(pB[i]))
            return false;
    return true;
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Tells an underflow from an overflow after std::from_chars reported a decimal number out of range:
// true when the number's decimal order of magnitude is negative (its value is below 1 in size).
// pDigits is the text after any sign, already known to be digits, an optional fraction and an
// optional exponent.
bool IsUnderflow(const char* pDigits, const char* pEnd)
{
    const char* p = pDigits;
    long long nOrder = 0;
    bool bFound = false;
    long long nIntegerDigits = 0;
    for (; p < pEnd && IsDigit(*p); ++p, ++nIntegerDigits)
        if (!bFound && *p != '0')
        {
            bFound = true;
            nOrder = -nIntegerDigits; // corrected by the digit count below
        }
    if (bFound)
        nOrder += nIntegerDigits - 1;
    if (p < pEnd && *p == '.')
        ++p;
    for (long long i = 1; p < pEnd && IsDigit(*p); ++p, ++i)
        if (!bFound && *p != '0')
        {
            bFound = true;
            nOrder = -i;
        }
    long long nExponent = 0;
    bool bExponentNegative = false;
    if (p < pEnd && (*p == 'e' || *p == 'E'))
    {
        ++p;
        if (p < pEnd && (*p == '+' || *p == '-'))
            bExponentNegative = *p++ == '-';
        // Saturate: only the sign and rough size of a huge exponent matter.
        for (; p < pEnd && IsDigit(*p); ++p)
            if (nExponent < 1000000000LL)
                nExponent = nExponent * 10 + (*p - '0');
    }
    if (nOrder > 1000000000LL)
        nOrder = 1000000000LL;
    return bFound && nOrder + (bExponentNegative ? -nExponent : nExponent) < 0;
}

// Recognises a whole word as a decimal number and converts it, once. std::from_chars in general
// format takes exactly an optional "-", digits with an optional fraction or a fraction alone, and an
// optional exponent, plus "inf" and "nan" forms; so after a leading "+" is skipped (from_chars takes
// none) it is enough to require a digit or "." after the sign to keep those out. Values too large for
// a double are not numbers; values too small for one are zero, which is their correctly rounded value
// (from_chars reports both as out of range).
bool ParseNumber(const char* pText, size_t nLength, double& dValue)
{
    const char* p = pText;
    const char* const pEnd = pText + nLength;
    if (*p == '+')
        ++p;
    const char* pDigits = p < pEnd && *p == '-' && p == pText ? p + 1 : p;
    if (pDigits == pEnd || !(IsDigit(*pDigits) || *pDigits == '.'))
        return false;
    double dResult = 0.0;
    const std::from_chars_result result = std::from_chars(p, pEnd, dResult, std::chars_format::general);
    if (result.ptr != pEnd)
        return false;
    if (result.ec == std::errc())
    {
        dValue = dResult;
        return true;
    }
    if (result.ec != std::errc::result_out_of_range || !IsUnderflow(pDigits, pEnd))
        return false;
    dValue = *p == '-' ? -0.0 : 0.0;
    return true;
}

// Ties every saved read state to one input: each open or new in-memory input gets a fresh serial, in
// every parser of the process, so a state saved elsewhere is never restored into the wrong bytes.
std::atomic<unsigned long long> g_nNextInputSerial(1);

unsigned long long NewInputSerial()
{
    return g_nNextInputSerial.fetch_add(1, std::memory_order_relaxed);
}

const char g_szEmptyBlock[1] = {'\0'};
} // namespace

// CGenericToken ----------------------------------------------------------------------------------

CGenericToken::CGenericToken()
    : m_eDataType(GenericTokenNone), m_nUserDefinedType(0), m_dNumericValue(0.0), m_bBooleanValue(false),
      m_nEndOffset(0), m_pText(m_szInline), m_nLength(0), m_nCapacity(InlineCapacity)
{
    m_szInline[0] = '\0';
}

CGenericToken::CGenericToken(const CGenericToken& other) : CGenericToken()
{
    *this = other;
}

CGenericToken& CGenericToken::operator=(const CGenericToken& other)
{
    if (this == &other)
        return *this;
    Reserve(other.m_nLength);
    std::memcpy(m_pText, other.m_pText, other.m_nLength + 1);
    m_nLength = other.m_nLength;
    m_eDataType = other.m_eDataType;
    m_nUserDefinedType = other.m_nUserDefinedType;
    m_dNumericValue = other.m_dNumericValue;
    m_bBooleanValue = other.m_bBooleanValue;
    m_nEndOffset = other.m_nEndOffset;
    return *this;
}

CGenericToken::~CGenericToken()
{
    if (m_pText != m_szInline)
        delete[] m_pText;
}

void CGenericToken::Clear()
{
    m_eDataType = GenericTokenNone;
    m_nUserDefinedType = 0;
    m_dNumericValue = 0.0;
    m_bBooleanValue = false;
    m_nEndOffset = 0;
    m_nLength = 0;
    m_pText[0] = '\0';
}

void CGenericToken::Reserve(size_t nNeeded)
{
    if (nNeeded < m_nCapacity)
        return;
    if (nNeeded >= static_cast<size_t>(-1) / 2)
        throw std::length_error("token too long");
    size_t nNewCapacity = m_nCapacity * 2;
    if (nNewCapacity < nNeeded + 1)
        nNewCapacity = nNeeded + 1;
    char* pNew = new char[nNewCapacity];
    std::memcpy(pNew, m_pText, m_nLength + 1);
    if (m_pText != m_szInline)
        delete[] m_pText;
    m_pText = pNew;
    m_nCapacity = nNewCapacity;
}

inline void CGenericToken::Append(const char* pData, size_t nCount)
{
    if (nCount >= m_nCapacity - m_nLength)
        Reserve(m_nLength + nCount);
    std::memcpy(m_pText + m_nLength, pData, nCount);
    m_nLength += nCount;
}

// CGenericIOState --------------------------------------------------------------------------------

CGenericIOState::CGenericIOState()
    : m_nReadOffset(0), m_nInputSerial(0), m_bLookaheadReady(false), m_bValid(false)
{
}

// CGenericParser ---------------------------------------------------------------------------------

CGenericParser::CGenericParser()
    : m_pKeywordTable(nullptr), m_nKeywordTableSize(0), m_bKeywordIndexReady(false), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(g_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bInputEnded(false),
      m_nInputSerial(NewInputSerial())
{
}

CGenericParser::CGenericParser(const CGenericParser& other)
    : m_pKeywordTable(other.m_pKeywordTable), m_nKeywordTableSize(other.m_nKeywordTableSize),
      m_bKeywordIndexReady(false), m_strFileName(other.m_strFileName), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(g_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bInputEnded(false),
      m_nInputSerial(NewInputSerial())
{
    m_FileInterface.SetBlockSize(other.m_FileInterface.GetBlockSize());
}

CGenericParser& CGenericParser::operator=(CGenericParser& other)
{
    if (this == &other)
        return *this;
    m_strFileName = other.m_strFileName;
    m_pKeywordTable = other.m_pKeywordTable;
    m_nKeywordTableSize = other.m_nKeywordTableSize;
    m_bKeywordIndexReady = false;
    m_FileInterface.SetBlockSize(other.m_FileInterface.GetBlockSize());
    DropInput();
    ResetTokens();
    return *this;
}

CGenericParser::~CGenericParser()
{
    m_FileInterface.CloseFile();
}

void CGenericParser::SetKeywordTable(ParserKeywordEntry* pTable)
{
    m_pKeywordTable = pTable;
    m_bKeywordIndexReady = false;
}

void CGenericParser::SetKeywordTableSize(int nSize)
{
    m_nKeywordTableSize = nSize;
    m_bKeywordIndexReady = false;
}

void CGenericParser::SetFilename(CBasicString strFileName)
{
    m_strFileName = strFileName;
}

void CGenericParser::ResetTokens()
{
    m_Tokens[0].Clear();
    m_Tokens[1].Clear();
    m_nCurrentIndex = 0;
    m_bLookaheadReady = false;
}

void CGenericParser::DropInput()
{
    m_FileInterface.CloseFile();
    m_eInput = InputNone;
    m_pBlock = g_szEmptyBlock;
    m_nBlockLength = 0;
    m_nPosition = 0;
    m_nBlockOffset = 0;
    m_nTotalSize = 0;
    m_bInputEnded = true;
    m_nInputSerial = NewInputSerial();
}

GenericLoadResultTypes CGenericParser::OpenAndInitialize()
{
    DropInput();
    ResetTokens();
    const char* pszPath = m_strFileName.GetLength() > 0 ? m_strFileName.GetNarrowString() : nullptr;
    const GenericLoadResultTypes eResult = m_FileInterface.OpenFile(pszPath);
    if (eResult != GenericLoadSuccess)
        return eResult;
    if (!m_FileInterface.ReadNextBlockFromFile())
    {
        m_FileInterface.CloseFile();
        return GenericLoadReadFailed;
    }
    m_eInput = InputFile;
    m_pBlock = m_FileInterface.GetBlockData();
    m_nBlockLength = m_FileInterface.GetBlockLength();
    m_nTotalSize = m_FileInterface.GetFileSize();
    m_bInputEnded = m_nBlockLength == 0;
    if (m_bInputEnded)
        m_pBlock = g_szEmptyBlock;
    return GenericLoadSuccess;
}

void CGenericParser::StartMemoryInput(const char* pData, size_t nSize)
{
    DropInput();
    ResetTokens();
    m_eInput = InputMemory;
    m_pBlock = pData != nullptr ? pData : g_szEmptyBlock;
    m_nBlockLength = pData != nullptr ? nSize : 0;
    m_nTotalSize = static_cast<long long>(m_nBlockLength);
    m_bInputEnded = false;
}

void CGenericParser::SetInputStringValue(const char* pszText)
{
    if (pszText != nullptr)
        StartMemoryInput(pszText, std::strlen(pszText));
    else if (m_eInput == InputMemory)
    {
        // The tokens already scanned stay; what follows reads as the end of the input.
        const long long nTotal = m_nTotalSize;
        DropInput();
        m_nTotalSize = nTotal;
    }
}

void CGenericParser::SetInputBuffer(const char* pData, size_t nSize)
{
    StartMemoryInput(pData, nSize);
}

void CGenericParser::SetBlockSize(size_t nBytes)
{
    m_FileInterface.SetBlockSize(nBytes);
}

bool CGenericParser::CloseFile()
{
    if (!m_FileInterface.GetFileHandleIsValid())
        return false;
    const long long nTotal = m_nTotalSize;
    DropInput();
    m_nTotalSize = nTotal;
    return true;
}

CKarnFileInterface* CGenericParser::GetFileInterface()
{
    return &m_FileInterface;
}

bool CGenericParser::ReadNextBlock()
{
    if (!m_FileInterface.GetFileHandleIsValid())
        return false;
    m_FileInterface.ReadNextBlockFromFile();
    return true;
}

bool CGenericParser::FetchBlock()
{
    if (m_eInput != InputFile || m_bInputEnded)
        return false;
    const long long nExpected = m_nBlockOffset + static_cast<long long>(m_nBlockLength);
    // From here on the old block may be gone: the scanner holds no pointer into it.
    const bool bRead = ReadNextBlock();
    const CKarnFileInterface& file = m_FileInterface;
    // A block that does not continue where the last one ended (an override that read nothing, or
    // a failed read) ends the input rather than rescanning or skipping bytes.
    if (!bRead || m_eInput != InputFile || file.GetBlockLength() == 0 || file.GetBlockOffset() != nExpected)
    {
        if (m_eInput == InputFile)
        {
            m_pBlock = g_szEmptyBlock;
            m_nBlockLength = 0;
            m_nPosition = 0;
            m_nBlockOffset = nExpected;
            m_bInputEnded = true;
        }
        return false;
    }
    m_pBlock = file.GetBlockData();
    m_nBlockLength = file.GetBlockLength();
    m_nPosition = 0;
    m_nBlockOffset = nExpected;
    return true;
}

void CGenericParser::MakeEndToken(CGenericToken& token) const
{
    token.Clear();
    token.m_eDataType = GenericTokenEndOfFile;
    token.m_nEndOffset = m_nTotalSize;
}

void CGenericParser::ScanToken(CGenericToken& token)
{
    token.Clear();
    for (;;)
    {
        // Skip white space, across blocks.
        for (;;)
        {
            const char* p = m_pBlock + m_nPosition;
            const char* const pEnd = m_pBlock + m_nBlockLength;
            while (p < pEnd && KindOf(*p) == KindSpace)
                ++p;
            m_nPosition = static_cast<size_t>(p - m_pBlock);
            if (p < pEnd)
                break;
            if (!FetchBlock())
            {
                MakeEndToken(token);
                return;
            }
        }

        const long long nStart = m_nBlockOffset + static_cast<long long>(m_nPosition);
        const char c = m_pBlock[m_nPosition];
        const unsigned char nKind = KindOf(c);
        if (nKind == KindBracket)
        {
            token.Append(&c, 1);
            token.Terminate();
            ++m_nPosition;
            token.m_eDataType = BracketType(c);
            token.m_nEndOffset = nStart + 1;
            return;
        }
        if (nKind == KindQuote)
        {
            ScanQuoted(token);
            token.Terminate();
            token.m_eDataType = GenericTokenQuotedString;
            token.m_nEndOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
            return;
        }
        ScanWord(token);
        token.m_nEndOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
        if (nStart == 0 && token.m_nLength >= 3 && std::memcmp(token.m_pText, "\xEF\xBB\xBF", 3) == 0)
        {
            // A byte-order mark at the very start of the input is not part of any token.
            std::memmove(token.m_pText, token.m_pText + 3, token.m_nLength - 3);
            token.m_nLength -= 3;
            if (token.m_nLength == 0)
                continue;
        }
        token.Terminate();
        ClassifyWord(token);
        return;
    }
}

void CGenericParser::ScanWord(CGenericToken& token)
{
    for (;;)
    {
        const char* const pStart = m_pBlock + m_nPosition;
        const char* p = pStart;
        const char* const pEnd = m_pBlock + m_nBlockLength;
        while (p < pEnd && KindOf(*p) == KindWord)
            ++p;
        token.Append(pStart, static_cast<size_t>(p - pStart));
        m_nPosition = static_cast<size_t>(p - m_pBlock);
        if (p < pEnd || !FetchBlock())
            return;
    }
}

void CGenericParser::ScanQuoted(CGenericToken& token)
{
    token.Append("\"", 1);
    ++m_nPosition;
    for (;;)
    {
        const char* const pStart = m_pBlock + m_nPosition;
        const char* p = pStart;
        const char* const pEnd = m_pBlock + m_nBlockLength;
        while (p < pEnd && *p != '"' && *p != '\r' && *p != '\n')
            ++p;
        const bool bStopped = p < pEnd;
        if (bStopped && *p == '"')
            ++p; // the closing quote belongs to the token; a line end does not
        token.Append(pStart, static_cast<size_t>(p - pStart));
        m_nPosition = static_cast<size_t>(p - m_pBlock);
        if (bStopped || !FetchBlock())
            return;
    }
}

void CGenericParser::ClassifyWord(CGenericToken& token)
{
    const char* const pText = token.m_pText;
    const size_t nLength = token.m_nLength;
    const char c = pText[0];
    if (IsDigit(c) || c == '-' || c == '+' || c == '.')
    {
        double dValue = 0.0;
        if (ParseNumber(pText, nLength, dValue))
        {
            token.m_eDataType = GenericTokenNumber;
            token.m_dNumericValue = dValue;
            return;
        }
    }
    int nId = 0;
    if (MatchKeyword(pText, nLength, nId))
    {
        token.m_eDataType = GenericTokenKeyword;
        token.m_nUserDefinedType = static_cast<unsigned int>(nId);
        return;
    }
    if (nLength == 4 && EqualNoCase(pText, "TRUE", 4))
    {
        token.m_eDataType = GenericTokenBoolean;
        token.m_bBooleanValue = true;
        return;
    }
    if (nLength == 5 && EqualNoCase(pText, "FALSE", 5))
    {
        token.m_eDataType = GenericTokenBoolean;
        return;
    }
    token.m_eDataType = GenericTokenWord;
}

void CGenericParser::BuildKeywordIndex()
{
    const int nRows = m_pKeywordTable != nullptr && m_nKeywordTableSize > 0 ? m_nKeywordTableSize : 0;
    for (int& nRow : m_nKeywordFirstRow)
        nRow = nRows;
    for (int i = nRows - 1; i >= 0; --i)
        m_nKeywordFirstRow[FoldAscii(m_pKeywordTable[i].m_szKeyword[0])] = i;
    m_bKeywordIndexReady = true;
}

bool CGenericParser::MatchKeyword(const char* pText, size_t nLength, int& nId)
{
    const size_t nFieldSize = sizeof(m_pKeywordTable->m_szKeyword);
    if (nLength == 0 || nLength > nFieldSize)
        return false;
    // Built here rather than in the setters, which may come in either order.
    if (!m_bKeywordIndexReady)
        BuildKeywordIndex();
    const unsigned char cFirst = FoldAscii(pText[0]);
    const int nRows = m_pKeywordTable != nullptr && m_nKeywordTableSize > 0 ? m_nKeywordTableSize : 0;
    for (int i = m_nKeywordFirstRow[cFirst]; i < nRows; ++i)
    {
        const char* const pKeyword = m_pKeywordTable[i].m_szKeyword;
        // The text must match and then end: at a NUL, or at the end of a field that it fills.
        if (FoldAscii(pKeyword[0]) == cFirst && (nLength == nFieldSize || pKeyword[nLength] == '\0') &&
            EqualNoCase(pText + 1, pKeyword + 1, nLength - 1))
        {
            nId = m_pKeywordTable[i].m_nId;
            return true;
        }
    }
    return false;
}

void CGenericParser::EnsureLookahead()
{
    if (m_bLookaheadReady)
        return;
    ScanToken(Next());
    m_bLookaheadReady = true;
}

bool CGenericParser::Tokenize()
{
    EnsureLookahead();
    if (Current().m_eDataType == GenericTokenEndOfFile)
        return false;
    m_nCurrentIndex ^= 1;
    if (Current().m_eDataType == GenericTokenEndOfFile)
        MakeEndToken(Next());
    else
        ScanToken(Next());
    return true;
}

CGenericToken& CGenericParser::GetCurrentToken()
{
    return Current();
}

CGenericToken& CGenericParser::GetNextToken()
{
    EnsureLookahead();
    return Next();
}

double CGenericParser::GetCurrentTokenNumericValue()
{
    return Current().GetNumericValue();
}

double CGenericParser::GetNextTokenNumericValue()
{
    return GetNextToken().GetNumericValue();
}

bool CGenericParser::GetCurrentTokenBooleanValue()
{
    return Current().GetBooleanValue();
}

bool CGenericParser::GetNextTokenBooleanValue()
{
    return GetNextToken().GetBooleanValue();
}

char* CGenericParser::GetCurrentTokenString()
{
    return Current().GetString();
}

char* CGenericParser::GetNextTokenString()
{
    return GetNextToken().GetString();
}

namespace
{
int ClampToInt(long long nValue)
{
    if (nValue > INT_MAX)
        return INT_MAX;
    if (nValue < 0)
        return 0;
    return static_cast<int>(nValue);
}
} // namespace

int CGenericParser::GetTotalFileSize()
{
    return ClampToInt(m_nTotalSize);
}

int CGenericParser::GetCurrentFileOffset()
{
    return ClampToInt(Current().m_nEndOffset);
}

long long CGenericParser::GetTotalFileSize64()
{
    return m_nTotalSize;
}

long long CGenericParser::GetCurrentFileOffset64()
{
    return Current().m_nEndOffset;
}

bool CGenericParser::SaveIOState(CGenericIOState& state)
{
    if (m_eInput == InputNone)
        return false;
    // Copy into the state's own buffers first; a failed allocation leaves its validity as it was.
    state.m_Current = Current();
    state.m_Next = Next();
    state.m_nReadOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
    state.m_nInputSerial = m_nInputSerial;
    state.m_bLookaheadReady = m_bLookaheadReady;
    state.m_bValid = true;
    return true;
}

bool CGenericParser::RestoreIOState(CGenericIOState& state)
{
    if (m_eInput == InputNone || !state.m_bValid || state.m_nInputSerial != m_nInputSerial)
        return false;
    const long long nOffset = state.m_nReadOffset;
    // Grow the token buffers before moving, so an allocation failure changes nothing.
    Current().Reserve(state.m_Current.m_nLength);
    Next().Reserve(state.m_Next.m_nLength);

    const long long nBlockEnd = m_nBlockOffset + static_cast<long long>(m_nBlockLength);
    if (nOffset >= m_nBlockOffset && nOffset <= nBlockEnd)
    {
        // Still inside the block at hand (always so for in-memory input): no reading needed.
        m_nPosition = static_cast<size_t>(nOffset - m_nBlockOffset);
    }
    else if (m_eInput != InputFile)
        return false;
    else
    {
        const bool bRead = m_FileInterface.SeekToOffset(nOffset) && m_FileInterface.ReadNextBlockFromFile();
        m_nBlockOffset = nOffset;
        m_nPosition = 0;
        m_nBlockLength = bRead ? m_FileInterface.GetBlockLength() : 0;
        m_pBlock = m_nBlockLength > 0 ? m_FileInterface.GetBlockData() : g_szEmptyBlock;
        m_bInputEnded = m_nBlockLength == 0;
        if (!bRead)
            return false;
    }
    Current() = state.m_Current;
    Next() = state.m_Next;
    m_bLookaheadReady = state.m_bLookaheadReady;
    return true;
}
