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

} // namespace generic_scan
