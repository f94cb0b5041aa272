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
    // The bytes in little-endian order, so that those past the text are the high ones on any processor.
    unsigned long long x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&x, p, 8);
#else
    for (int i = 7; i >= 0; --i)
        x = (x << 8) | static_cast<unsigned char>(p[i]);
#endif
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

unsigned CKeywordIndex::SlotOf(unsigned long long nPrefix, size_t nLength)
{
    return static_cast<unsigned>(((nPrefix ^ nLength) * 0x9E3779B97F4A7C15ull) >> (64 - SlotBits));
}

void CKeywordIndex::Build(const ParserKeywordEntry* pTable, int nRows)
{
    m_pTable = pTable;
    m_nRows = pTable != nullptr && nRows > 0 ? nRows : 0;
    const size_t nFieldSize = sizeof(pTable->m_szKeyword);
    for (Slot& slot : m_Slots)
        slot = Slot{0, 0, 0};
    for (int& nRow : m_nFirstRow)
        nRow = m_nRows;
    for (int i = m_nRows - 1; i >= HashedRows; --i)
        m_nFirstRow[FoldAscii(pTable[i].m_szKeyword[0])] = i;
    for (int i = 0; i < m_nRows && i < HashedRows; ++i)
    {
        const char* const pKeyword = pTable[i].m_szKeyword;
        size_t nLength = 0;
        while (nLength < nFieldSize && pKeyword[nLength] != '\0')
            ++nLength;
        if (nLength == 0)
            continue; // an empty keyword matches no word
        const unsigned long long nPrefix = FoldedPrefix(pKeyword, nLength);
        unsigned nSlot = SlotOf(nPrefix, nLength);
        bool bShadowed = false;
        for (; m_Slots[nSlot].m_nLength != 0; nSlot = (nSlot + 1) & ((1u << SlotBits) - 1))
        {
            // An earlier row with the same text wins; one that shares only the key is kept beside it.
            const Slot& other = m_Slots[nSlot];
            bShadowed =
                bShadowed || (other.m_nPrefix == nPrefix && other.m_nLength == nLength &&
                              (nLength <= 8 ||
                               EqualNoCase(pKeyword + 8, pTable[other.m_nRow].m_szKeyword + 8, nLength - 8)));
        }
        if (!bShadowed)
            m_Slots[nSlot] = Slot{nPrefix, static_cast<unsigned>(nLength), i};
    }
}

bool CKeywordIndex::Match(const char* pText, size_t nLength, int& nId) const
{
    const size_t nFieldSize = sizeof(m_pTable->m_szKeyword);
    if (nLength == 0 || nLength > nFieldSize || m_nRows == 0)
        return false;
    const unsigned long long nPrefix = FoldedPrefix(pText, nLength);
    for (unsigned nSlot = SlotOf(nPrefix, nLength); m_Slots[nSlot].m_nLength != 0;
         nSlot = (nSlot + 1) & ((1u << SlotBits) - 1))
    {
        const Slot& slot = m_Slots[nSlot];
        // The length (up to a NUL, or the whole field) and the first eight bytes decide most rows. The
        // table holds each text once (its first row), so the first that matches in full is the one.
        if (slot.m_nPrefix == nPrefix && slot.m_nLength == nLength &&
            (nLength <= 8 || EqualNoCase(pText + 8, m_pTable[slot.m_nRow].m_szKeyword + 8, nLength - 8)))
        {
            nId = m_pTable[slot.m_nRow].m_nId;
            return true;
        }
    }
    const unsigned char cFirst = FoldAscii(pText[0]);
    for (int i = m_nFirstRow[cFirst]; i < m_nRows; ++i)
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
