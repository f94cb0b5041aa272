#include "external/tokenizer/GenericParser.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <system_error>

#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <emmintrin.h>
// Sixteen bytes at a time in the scanner, eight in number conversion and keyword matching.
#define GENERIC_WIDE_SCAN 1
#endif

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

inline bool IsSpace(char c)
{
    return KindOf(c) == KindSpace;
}

#if defined(GENERIC_WIDE_SCAN)
// For 16 bytes: a bit per white-space byte (space, tab, LF, VT, FF, CR, NUL), and a bit per byte that
// ends a word (white space, a bracket, a double quote).
inline unsigned SpaceMask(__m128i v)
{
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(9)); // tab..CR become 0..4
    const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(4)), shifted);
    const __m128i blanks =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(controls, blanks)));
}

inline unsigned WordEndMask(__m128i v)
{
    // "(" and ")" differ in the lowest bit; "[", "]" and "{", "}" in bit 5 and then in bits 1 and 2.
    const __m128i parens = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(1)), _mm_set1_epi8(')'));
    const __m128i folded = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xDF)));
    const __m128i squares =
        _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('[')), _mm_cmpeq_epi8(folded, _mm_set1_epi8(']')));
    const __m128i quotes = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
    return SpaceMask(v) |
           static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(parens, squares), quotes)));
}

inline unsigned FirstBit(unsigned nMask)
{
    return static_cast<unsigned>(__builtin_ctz(nMask));
}
#endif

// The first byte in [p, pEnd) that is not white space, or pEnd. Sixteen bytes at a time where the
// block has them; never reads at or past pEnd.
inline const char* SkipSpace(const char* p, const char* pEnd)
{
#if defined(GENERIC_WIDE_SCAN)
    while (pEnd - p >= 16)
    {
        const unsigned nOther = ~SpaceMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) & 0xFFFFu;
        if (nOther != 0)
            return p + FirstBit(nOther);
        p += 16;
    }
#endif
    while (p < pEnd && IsSpace(*p))
        ++p;
    return p;
}

// The first byte in [p, pEnd) that ends a word, or pEnd; reads as SkipSpace does.
inline const char* FindWordEnd(const char* p, const char* pEnd)
{
#if defined(GENERIC_WIDE_SCAN)
    while (pEnd - p >= 16)
    {
        const unsigned nEnds = WordEndMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (nEnds != 0)
            return p + FirstBit(nEnds);
        p += 16;
    }
#endif
    while (p < pEnd && KindOf(*p) == KindWord)
        ++p;
    return p;
}

// The first (up to) eight bytes of a text as one number, ASCII letters in upper case, the bytes past
// nLength zero: what keyword rows are compared by. p must have eight readable bytes (a word
// that ClassifyWord reads, or a keyword field).
inline unsigned long long FoldedPrefix(const char* p, size_t nLength)
{
#if defined(GENERIC_WIDE_SCAN)
    unsigned long long x;
    std::memcpy(&x, p, 8);
    if (nLength < 8)
        x &= (1ULL << (8 * nLength)) - 1;
    // Per byte, without carries between bytes: the high bit of geA is set where the low seven bits are
    // at least 'a', that of gtZ where they are above 'z'; a byte with its own high bit set is no letter.
    const unsigned long long nOnes = 0x0101010101010101ULL;
    const unsigned long long nLow = x & (0x7F * nOnes);
    const unsigned long long nGeA = nLow + (0x80 - 'a') * nOnes;
    const unsigned long long nGtZ = nLow + (0x80 - 'z' - 1) * nOnes;
    const unsigned long long nLower = nGeA & ~nGtZ & ~x & (0x80 * nOnes);
    return x - (nLower >> 2);
#else
    unsigned long long nPrefix = 0;
    const size_t nCount = nLength < 8 ? nLength : 8;
    for (size_t i = 0; i < nCount; ++i)
        nPrefix |= static_cast<unsigned long long>(FoldAscii(p[i])) << (8 * i);
    return nPrefix;
#endif
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

// Powers of ten that a double holds exactly.
constexpr double g_dExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common case of a mesh file, an optional sign and digits with a fraction of at most 22 digits
// ("-774.128040"), converted without std::from_chars: when the digits without the point form an
// integer of at most 2^53, both it and the power of ten are exact doubles, so the one division is
// correctly rounded, the same value that from_chars gives. Anything else (an exponent, more digits,
// "1.", ".5", a stray character) returns false and goes the general way.
#if defined(GENERIC_WIDE_SCAN)
// The value of k (1 to 8) ASCII digits at p, which must have eight readable bytes. The digits are
// combined in pairs, fours and eights with three multiplications.
inline unsigned long long EightDigits(const char* p, size_t k)
{
    unsigned long long x;
    std::memcpy(&x, p, 8);
    // The digits' values, moved up so that the bytes past the k digits fall out and zeros (leading
    // zero digits) come in. A byte below '0' past the digits can only borrow from bytes past it.
    x = (x - 0x3030303030303030ULL) << (8 * (8 - k));
    x = x * 10 + (x >> 8);
    x = (((x & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
         (((x >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
        32;
    return x & 0xFFFFFFFFULL;
}

constexpr unsigned long long g_nPowersOfTen[] = {1,      10,      100,      1000,     10000,
                                                 100000, 1000000, 10000000, 100000000};

// ParseShortDecimal for a text with at least 32 readable bytes and at most 8 integer and 8
// fraction digits: the bytes are checked sixteen at a time and the digits converted eight at a time.
// 1 for a number, 0 for no number of this form, -1 when the text is too long to tell here.
inline int ParseShortDecimalWide(const char* pText, size_t nLength, double& dValue)
{
    const size_t nSign = pText[0] == '-' || pText[0] == '+' ? 1 : 0;
    const char* const p = pText + nSign;
    const size_t n = nLength - nSign;
    if (n == 0 || n > 16)
        return n == 0 ? 0 : -1;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i values = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const unsigned nValid = (1u << n) - 1;
    const unsigned nDigits = static_cast<unsigned>(_mm_movemask_epi8(
                                 _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values))) &
                             nValid;
    const unsigned nDots =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')))) & nValid;
    // Digits and at most one point, with digits on both sides of it.
    if ((nDigits | nDots) != nValid || (nDots & (nDots - 1)) != 0)
        return 0;
    const size_t nInteger = nDots != 0 ? FirstBit(nDots) : n;
    const size_t nFraction = nDots != 0 ? n - nInteger - 1 : 0;
    if (nInteger == 0 || (nDots != 0 && nFraction == 0))
        return 0;
    if (nInteger > 8 || nFraction > 8)
        return -1;
    unsigned long long nMantissa = EightDigits(p, nInteger);
    if (nFraction != 0)
        nMantissa = nMantissa * g_nPowersOfTen[nFraction] + EightDigits(p + nInteger + 1, nFraction);
    if (nMantissa > (1ULL << 53))
        return -1;
    const double dResult = static_cast<double>(nMantissa) / g_dExactPowersOfTen[nFraction];
    dValue = pText[0] == '-' ? -dResult : dResult;
    return 1;
}
#endif

inline bool ParseShortDecimal(const char* pText, size_t nLength, double& dValue)
{
    const char* p = pText;
    const char* const pEnd = pText + nLength;
    const bool bNegative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (pEnd - p > 19)
        return false; // 19 digits always fit the 64-bit accumulator; more might not
    unsigned long long nMantissa = 0;
    const char* const pIntegerStart = p;
    while (p < pEnd && IsDigit(*p))
        nMantissa = nMantissa * 10 + static_cast<unsigned>(*p++ - '0');
    if (p == pIntegerStart)
        return false;
    long nFraction = 0;
    if (p < pEnd)
    {
        if (*p != '.')
            return false;
        const char* const pFractionStart = ++p;
        while (p < pEnd && IsDigit(*p))
            nMantissa = nMantissa * 10 + static_cast<unsigned>(*p++ - '0');
        nFraction = p - pFractionStart;
        if (p != pEnd || nFraction == 0)
            return false;
    }
    if (nMantissa > (1ULL << 53) || nFraction > 22)
        return false;
    const double dResult = static_cast<double>(nMantissa) / g_dExactPowersOfTen[nFraction];
    dValue = bNegative ? -dResult : dResult;
    return true;
}

// Recognises a whole word as a decimal number and converts it, once. std::from_chars in general
// format takes exactly an optional "-", digits with an optional fraction or a fraction alone, and an
// optional exponent, plus "inf" and "nan" forms; so after a leading "+" is skipped (from_chars takes
// none) it is enough to require a digit or "." after the sign to keep those out (ParseNonFinite takes
// them). Values beyond the range of a double are the infinity of their sign, values too small for one
// are zero of their sign, which is what correct rounding gives (from_chars reports both as out of
// range). pText has at least 32 readable bytes.
bool ParseNumber(const char* pText, size_t nLength, double& dValue)
{
#if defined(GENERIC_WIDE_SCAN)
    const int nWide = ParseShortDecimalWide(pText, nLength, dValue);
    if (nWide > 0)
        return true;
    if (nWide < 0 && ParseShortDecimal(pText, nLength, dValue))
        return true;
#else
    if (ParseShortDecimal(pText, nLength, dValue))
        return true;
#endif
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
    if (result.ec != std::errc::result_out_of_range)
        return false;
    // Beyond the range of a double in either direction: zero or the infinity of the number's sign,
    // which is what rounding to the nearest double gives.
    const double dMagnitude = IsUnderflow(pDigits, pEnd) ? 0.0 : std::numeric_limits<double>::infinity();
    dValue = *p == '-' ? -dMagnitude : dMagnitude;
    return true;
}

// Non-finite values as C runtimes print them: "inf", "infinity" and "nan" in any case, and the older
// Windows runtimes' "1.#INF", "1.#QNAN", "1.#SNAN" and "1.#IND" followed by any digits ("1.#QNAN0",
// "-1.#IND00"), each with an optional sign. The value is the infinity of that sign, or a quiet NaN with
// that sign. Other words ("infinite", "nanometre") are not numbers.
bool ParseNonFinite(const char* pText, size_t nLength, double& dValue)
{
    const char* p = pText;
    const char* const pEnd = pText + nLength;
    const bool bNegative = p < pEnd && *p == '-';
    if (p < pEnd && (*p == '-' || *p == '+'))
        ++p;
    const size_t nRest = static_cast<size_t>(pEnd - p);
    bool bInfinity = false;
    if ((nRest == 3 && EqualNoCase(p, "INF", 3)) || (nRest == 8 && EqualNoCase(p, "INFINITY", 8)))
        bInfinity = true;
    else if (nRest == 3 && EqualNoCase(p, "NAN", 3))
        bInfinity = false;
    else if (nRest > 3 && std::memcmp(p, "1.#", 3) == 0)
    {
        p += 3;
        static const char* const aSpellings[] = {"INF", "QNAN", "SNAN", "IND"};
        size_t nMatched = 0;
        for (const char* pszSpelling : aSpellings)
        {
            const size_t nSpelling = std::strlen(pszSpelling);
            if (static_cast<size_t>(pEnd - p) >= nSpelling && EqualNoCase(p, pszSpelling, nSpelling))
            {
                nMatched = nSpelling;
                bInfinity = pszSpelling[0] == 'I' && pszSpelling[2] == 'F';
                break;
            }
        }
        if (nMatched == 0)
            return false;
        for (p += nMatched; p < pEnd; ++p)
            if (!IsDigit(*p))
                return false;
    }
    else
        return false;
    const double dMagnitude =
        bInfinity ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    dValue = bNegative ? -dMagnitude : dMagnitude;
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
      m_nEndOffset(0), m_nLine(0), m_nColumn(0), m_pText(m_szInline), m_nLength(0),
      m_nCapacity(InlineCapacity)
{
    // All of it, not only the first byte: number conversion and keyword matching read whole words of
    // the buffer past the text (and ignore those bytes).
    std::memset(m_szInline, 0, sizeof(m_szInline));
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
    m_nLine = other.m_nLine;
    m_nColumn = other.m_nColumn;
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
    m_nLine = 0;
    m_nColumn = 0;
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
    char* pNew = new char[nNewCapacity]();
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
    : m_nReadOffset(0), m_nLine(0), m_nLineStart(0), m_nInputSerial(0), m_bLookaheadReady(false),
      m_bValid(false)
{
}

// CGenericParser ---------------------------------------------------------------------------------

CGenericParser::CGenericParser()
    : m_pKeywordTable(nullptr), m_nKeywordTableSize(0), m_bKeywordIndexReady(false), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(g_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bSizeAtEnd(false), m_bInputEnded(false),
      m_nInputSerial(NewInputSerial()), m_bTrackLines(false), m_nLine(1), m_nLineStart(0)
{
}

CGenericParser::CGenericParser(const CGenericParser& other)
    : m_pKeywordTable(other.m_pKeywordTable), m_nKeywordTableSize(other.m_nKeywordTableSize),
      m_bKeywordIndexReady(false), m_strFileName(other.m_strFileName), m_nCurrentIndex(0),
      m_bLookaheadReady(false), m_eInput(InputNone), m_pBlock(g_szEmptyBlock), m_nBlockLength(0),
      m_nPosition(0), m_nBlockOffset(0), m_nTotalSize(0), m_bSizeAtEnd(false), m_bInputEnded(false),
      m_nInputSerial(NewInputSerial()), m_bTrackLines(other.m_bTrackLines), m_nLine(1), m_nLineStart(0)
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
    m_bTrackLines = other.m_bTrackLines;
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
    m_bSizeAtEnd = false;
    m_bInputEnded = true;
    m_nInputSerial = NewInputSerial();
    m_nLine = 1;
    m_nLineStart = 0;
}

GenericLoadResultTypes CGenericParser::OpenAndInitialize()
{
    DropInput();
    ResetTokens();
    // The path goes on as wide text, so on Windows names outside the ANSI code page open too.
    const GenericLoadResultTypes eResult = m_FileInterface.OpenFile(m_strFileName.GetWideString());
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
    // A stream's size is not known until its end, where FetchBlock sets it: 0 until then.
    m_bSizeAtEnd = m_FileInterface.GetFileSize() < 0;
    m_nTotalSize = m_bSizeAtEnd ? 0 : m_FileInterface.GetFileSize();
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
            if (m_bSizeAtEnd)
                m_nTotalSize = nExpected;
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
    PlaceToken(token, m_nBlockOffset + static_cast<long long>(m_nPosition));
}

void CGenericParser::CountLines(const char* pFrom, const char* pTo, long long nFrom)
{
    for (const char* p = pFrom; p < pTo;)
    {
        const void* pFeed = std::memchr(p, '\n', static_cast<size_t>(pTo - p));
        if (pFeed == nullptr)
            return;
        p = static_cast<const char*>(pFeed) + 1;
        ++m_nLine;
        m_nLineStart = nFrom + (p - pFrom);
    }
}

inline void CGenericParser::PlaceToken(CGenericToken& token, long long nStart) const
{
    if (!m_bTrackLines)
        return;
    token.m_nLine = m_nLine;
    token.m_nColumn = nStart - m_nLineStart + 1;
}

void CGenericParser::ScanToken(CGenericToken& token)
{
    token.Clear();
    for (;;)
    {
        // Skip white space, across blocks.
        for (;;)
        {
            const char* const pFrom = m_pBlock + m_nPosition;
            const char* const p = SkipSpace(pFrom, m_pBlock + m_nBlockLength);
            if (m_bTrackLines)
                CountLines(pFrom, p, m_nBlockOffset + static_cast<long long>(m_nPosition));
            m_nPosition = static_cast<size_t>(p - m_pBlock);
            if (m_nPosition < m_nBlockLength)
                break;
            if (!FetchBlock())
            {
                MakeEndToken(token);
                return;
            }
        }

        const long long nStart = m_nBlockOffset + static_cast<long long>(m_nPosition);
        PlaceToken(token, nStart);
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
        const char* const pWord = m_pBlock + m_nPosition;
        const char* const pBlockEnd = m_pBlock + m_nBlockLength;
        const char* const pWordEnd = FindWordEnd(pWord, pBlockEnd);
        if (pWordEnd < pBlockEnd && nStart != 0)
        {
            // The common case: a word that ends inside the block and cannot hold a byte-order mark.
            const size_t nLength = static_cast<size_t>(pWordEnd - pWord);
#if defined(GENERIC_WIDE_SCAN)
            // A cleared token has room for 32 bytes: a short word is copied as one 16-byte block.
            if (nLength < 16 && pBlockEnd - pWord >= 16)
            {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(token.m_pText),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(pWord)));
                token.m_nLength = nLength;
            }
            else
#endif
                token.Append(pWord, nLength);
            token.Terminate();
            m_nPosition += nLength;
            token.m_nEndOffset = nStart + static_cast<long long>(nLength);
            const char* const pReadable = pBlockEnd - pWord >= 32 ? pWord : token.m_pText;
#if defined(GENERIC_WIDE_SCAN)
            // Most words of a mesh file are short decimals: converted here, without the general
            // classification's call.
            double dValue;
            if ((IsDigit(*pWord) || *pWord == '-') && ParseShortDecimalWide(pReadable, nLength, dValue) > 0)
            {
                token.m_eDataType = GenericTokenNumber;
                token.m_dNumericValue = dValue;
                return;
            }
#endif
            ClassifyWord(token, pReadable);
            return;
        }
        ScanWord(token);
        token.m_nEndOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
        if (nStart == 0 && token.m_nLength >= 3 && std::memcmp(token.m_pText, "\xEF\xBB\xBF", 3) == 0)
        {
            // A byte-order mark at the very start of the input is not part of any token.
            std::memmove(token.m_pText, token.m_pText + 3, token.m_nLength - 3);
            token.m_nLength -= 3;
            // Columns count from after the mark.
            m_nLineStart = 3;
            PlaceToken(token, 3);
            if (token.m_nLength == 0)
                continue;
        }
        token.Terminate();
        ClassifyWord(token, token.m_pText);
        return;
    }
}

void CGenericParser::ScanWord(CGenericToken& token)
{
    for (;;)
    {
        const char* const pStart = m_pBlock + m_nPosition;
        const char* const pEnd = m_pBlock + m_nBlockLength;
        const char* const p = FindWordEnd(pStart, pEnd);
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

void CGenericParser::ClassifyWord(CGenericToken& token, const char* pText)
{
    const size_t nLength = token.m_nLength;
    const char c = pText[0];
    const bool bDecimal = IsDigit(c) || c == '-' || c == '+' || c == '.';
    if (bDecimal || FoldAscii(c) == 'I' || FoldAscii(c) == 'N')
    {
        double dValue = 0.0;
        if ((bDecimal && ParseNumber(pText, nLength, dValue)) || ParseNonFinite(pText, nLength, dValue))
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
    const size_t nFieldSize = sizeof(m_pKeywordTable->m_szKeyword);
    for (int& nRow : m_nKeywordFirstRow)
        nRow = nRows;
    for (int i = nRows - 1; i >= 0; --i)
    {
        const char* const pKeyword = m_pKeywordTable[i].m_szKeyword;
        m_nKeywordFirstRow[FoldAscii(pKeyword[0])] = i;
        if (i < KeywordKeyRows)
        {
            size_t nLength = 0;
            while (nLength < nFieldSize && pKeyword[nLength] != '\0')
                ++nLength;
            m_KeywordKeys[i].m_nLength = nLength;
            m_KeywordKeys[i].m_nPrefix = FoldedPrefix(pKeyword, nLength);
        }
    }
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
    int i = m_nKeywordFirstRow[cFirst];
    if (i >= nRows)
        return false;
    const unsigned long long nPrefix = FoldedPrefix(pText, nLength);
    for (; i < nRows && i < KeywordKeyRows; ++i)
    {
        const KeywordKey& key = m_KeywordKeys[i];
        // The length (up to a NUL, or the whole field) and the first eight bytes decide most rows.
        if (key.m_nLength == nLength && key.m_nPrefix == nPrefix &&
            (nLength <= 8 || EqualNoCase(pText + 8, m_pKeywordTable[i].m_szKeyword + 8, nLength - 8)))
        {
            nId = m_pKeywordTable[i].m_nId;
            return true;
        }
    }
    for (; i < nRows; ++i)
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

CGenericToken& CGenericParser::GetNextToken()
{
    EnsureLookahead();
    return Next();
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

bool CGenericParser::SaveIOState(CGenericIOState& state)
{
    if (m_eInput == InputNone)
        return false;
    // Copy into the state's own buffers first; a failed allocation leaves its validity as it was.
    state.m_Current = Current();
    state.m_Next = Next();
    state.m_nReadOffset = m_nBlockOffset + static_cast<long long>(m_nPosition);
    state.m_nLine = m_nLine;
    state.m_nLineStart = m_nLineStart;
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
    m_nLine = state.m_nLine;
    m_nLineStart = state.m_nLineStart;
    return true;
}
