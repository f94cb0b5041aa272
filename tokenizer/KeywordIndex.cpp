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
                         unsigned long long nAloneIds, unsigned long long nTripleIds)
{
    m_nAloneIds = nAloneIds;
    m_nTripleIds = nTripleIds;
    m_bReady = true;
    unsigned nCount = 0;
    const int nTableRows = pTable != nullptr && nRows > 0 ? nRows : 0;
    for (unsigned nLength = 1; nLength <= 8; ++nLength)
    {
        m_aFirstOfLength[nLength] = static_cast<unsigned char>(nCount);
        for (int i = 0; i < nTableRows && nCount < 64; ++i)
        {
            const char* const pszText = pTable[i].m_szKeyword;
            size_t nTextLength = 0;
            while (nTextLength < sizeof(pTable[i].m_szKeyword) && pszText[nTextLength] != '\0')
                ++nTextLength;
            if (nTextLength != nLength)
                continue;
            char aText[8] = {};
            bool bLetters = true;
            for (unsigned j = 0; j < nLength; ++j)
            {
                aText[j] = pszText[j];
                bLetters = bLetters && static_cast<unsigned char>((pszText[j] | 0x20) - 'a') < 26;
            }
            const bool bNonFinite =
                (nLength == 3 && (EqualNoCase(aText, "INF", 3) || EqualNoCase(aText, "NAN", 3))) ||
                (nLength == 8 && EqualNoCase(aText, "INFINITY", 8));
            int nId = 0;
            if (!bLetters || bNonFinite || !index.Match(aText, nLength, nId) ||
                static_cast<unsigned>(nId) >= 64 || (((nAloneIds | nTripleIds) >> nId) & 1) == 0)
                continue;
            unsigned long long nLower = 0;
            for (unsigned j = 0; j < nLength; ++j)
                nLower |= static_cast<unsigned long long>(static_cast<unsigned char>(aText[j] | 0x20))
                          << (8 * j);
            bool bSeen = false;
            for (unsigned j = m_aFirstOfLength[nLength]; j < nCount; ++j)
                bSeen = bSeen || m_aEntries[j].m_nLower == nLower;
            if (!bSeen)
                m_aEntries[nCount++] = Entry{nLower, nId};
        }
    }
    m_aFirstOfLength[9] = static_cast<unsigned char>(nCount);
}

} // namespace generic_scan
