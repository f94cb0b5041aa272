#include "external/tokenizer/KeywordIndex.h"

#include "external/tokenizer/ByteScan.h"

#include <cstring>

namespace generic_scan
{

namespace
{

// The first (up to) eight bytes of a text as one number, ASCII letters in upper case, the bytes past
// nLength zero: what keyword rows are compared by. p must have eight readable bytes (a word
// that the parser classifies, or a keyword field).
inline unsigned long long FoldedPrefix(const char* p, size_t nLength)
{
    // Assembled byte by byte in little-endian order (one load where the processor is little-endian), so
    // the bytes past the text are the high ones on any processor.
    unsigned long long x = 0;
    for (int i = 7; i >= 0; --i)
        x = (x << 8) | static_cast<unsigned char>(p[i]);
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
}

} // namespace

void CKeywordIndex::Build(const ParserKeywordEntry* pTable, int nRows)
{
    m_pTable = pTable;
    m_nRows = pTable != nullptr && nRows > 0 ? nRows : 0;
    const size_t nFieldSize = sizeof(pTable->m_szKeyword);
    for (int& nRow : m_nFirstRow)
        nRow = m_nRows;
    for (int i = m_nRows - 1; i >= 0; --i)
    {
        const char* const pKeyword = pTable[i].m_szKeyword;
        m_nFirstRow[FoldAscii(pKeyword[0])] = i;
        if (i < KeyRows)
        {
            size_t nLength = 0;
            while (nLength < nFieldSize && pKeyword[nLength] != '\0')
                ++nLength;
            m_Keys[i].m_nLength = nLength;
            m_Keys[i].m_nPrefix = FoldedPrefix(pKeyword, nLength);
        }
    }
}

bool CKeywordIndex::Match(const char* pText, size_t nLength, int& nId) const
{
    const size_t nFieldSize = sizeof(m_pTable->m_szKeyword);
    if (nLength == 0 || nLength > nFieldSize)
        return false;
    const unsigned char cFirst = FoldAscii(pText[0]);
    int i = m_nFirstRow[cFirst];
    if (i >= m_nRows)
        return false;
    const unsigned long long nPrefix = FoldedPrefix(pText, nLength);
    for (; i < m_nRows && i < KeyRows; ++i)
    {
        const Key& key = m_Keys[i];
        // The length (up to a NUL, or the whole field) and the first eight bytes decide most rows.
        if (key.m_nLength == nLength && key.m_nPrefix == nPrefix &&
            (nLength <= 8 || EqualNoCase(pText + 8, m_pTable[i].m_szKeyword + 8, nLength - 8)))
        {
            nId = m_pTable[i].m_nId;
            return true;
        }
    }
    for (; i < m_nRows; ++i)
    {
        const char* const pKeyword = m_pTable[i].m_szKeyword;
        // The text must match and then end: at a NUL, or at the end of a field that it fills.
        if (FoldAscii(pKeyword[0]) == cFirst && (nLength == nFieldSize || pKeyword[nLength] == '\0') &&
            EqualNoCase(pText + 1, pKeyword + 1, nLength - 1))
        {
            nId = m_pTable[i].m_nId;
            return true;
        }
    }
    return false;
}

} // namespace generic_scan
