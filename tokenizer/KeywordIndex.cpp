#include "tokenizer/KeywordIndex.h"

#include "tokenizer/ByteScan.h"

#include <cstring>

namespace generic_scan
{

void CKeywordIndex::Build(const ParserKeywordEntry* pTable, int nRows)
{
    m_pTable = pTable;
    m_nRows = pTable != nullptr && nRows > 0 ? nRows : 0;
    const size_t nFieldSize = sizeof(pTable->m_szKeyword);
    for (Slot& slot : m_Slots)
        slot = Slot{0, 0, 0, 0};
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
            m_Slots[nSlot] = Slot{nPrefix, static_cast<unsigned short>(nLength),
                                  static_cast<unsigned short>(i), pTable[i].m_nId};
    }
}

void CRunKeywords::Build(const ParserKeywordEntry* pTable, int nRows, const CKeywordIndex& index,
                         const CGenericRunKeywords& sets)
{
    m_Sets = sets;
    m_bReady = true;
    for (unsigned char& nSlot : m_aSlots)
        nSlot = 0;
    const unsigned long long nRunIds = sets.m_nAloneIds | sets.m_nTripleIds;
    unsigned nCount = 0;
    const int nTableRows = pTable != nullptr && nRows > 0 ? nRows : 0;
    for (int i = 0; i < nTableRows && nCount < 64; ++i)
    {
        const char* const pszText = pTable[i].m_szKeyword;
        size_t nLength = 0;
        while (nLength < sizeof(pTable[i].m_szKeyword) && pszText[nLength] != '\0')
            ++nLength;
        if (nLength == 0 || nLength > 8)
            continue;
        char aText[8] = {};
        bool bLetters = true;
        unsigned long long nLower = 0;
        for (size_t j = 0; j < nLength; ++j)
        {
            aText[j] = pszText[j];
            bLetters = bLetters && static_cast<unsigned char>((pszText[j] | 0x20) - 'a') < 26;
            nLower |= static_cast<unsigned long long>(static_cast<unsigned char>(pszText[j] | 0x20))
                      << (8 * j);
        }
        const bool bNonFinite =
            (nLength == 3 && (EqualNoCase(aText, "INF", 3) || EqualNoCase(aText, "NAN", 3))) ||
            (nLength == 8 && EqualNoCase(aText, "INFINITY", 8));
        // The id a word of this text gets: that of the first row with the text.
        int nId = 0;
        int nKnown = 0;
        if (!bLetters || bNonFinite || !index.Match(aText, nLength, nId) ||
            static_cast<unsigned>(nId) >= 64 || ((nRunIds >> nId) & 1) == 0 || Find(nLower, nKnown))
            continue;
        m_aEntries[nCount] = Entry{nLower, nId};
        unsigned nSlot = SlotOf(nLower);
        while (m_aSlots[nSlot] != 0)
            nSlot = (nSlot + 1) & (kSlots - 1);
        m_aSlots[nSlot] = static_cast<unsigned char>(++nCount);
    }
}

} // namespace generic_scan
