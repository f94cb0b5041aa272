/// \file
/// The tokenizer's keyword stage: the rows of a keyword table, and the matching of a word against them
/// without regard to ASCII case.
#pragma once

#include "tokenizer/ByteScan.h"
#include "tokenizer/GenericToken.h"

#include <cstddef>
#include <cstring>

/// One row of a keyword table: the keyword's text, NUL-terminated in a NUL-padded field of 52 bytes
/// (a text that fills all 52 bytes is read as 52 bytes), and the id reported for it.
struct ParserKeywordEntry
{
    char m_szKeyword[52];
    int m_nId;
};

namespace generic_scan
{

/// An index of a keyword table (internal to the tokenizer): the first 64 rows in a small hash table
/// keyed by each keyword's length and its first eight bytes in upper case, so that a word is told from
/// every keyword by about one probe; rows past the 64th are compared in full, first letter first. The
/// table is not copied; the index is rebuilt when the table or its size changes.
class CKeywordIndex
{
public:
    void Build(const ParserKeywordEntry* pTable, int nRows);
    /// The id of the first row whose text equals the word (length nLength, with at least eight readable
    /// bytes at pText) without regard to ASCII case; false when no row does.
    bool Match(const char* pText, size_t nLength, int& nId) const;

private:
    static const int HashedRows = 64;
    static const unsigned SlotBits = 7; // twice the rows, so probes stay short
    struct Slot
    {
        unsigned long long m_nPrefix;
        unsigned short m_nLength; // 0: an empty slot
        unsigned short m_nRow;
        int m_nId; // the row's id, read when the slot matches
    };
    static unsigned SlotOf(unsigned long long nPrefix, size_t nLength);

    const ParserKeywordEntry* m_pTable = nullptr;
    int m_nRows = 0;
    Slot m_Slots[1u << SlotBits] = {};
    int m_nFirstRow[256] = {}; ///< for rows past the hashed ones: the first such row of a folded letter
};

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
    // The bytes past the text, cleared by a mask chosen by the length (no shift by a variable count).
    static constexpr unsigned long long s_aMasks[9] = {
        0,    0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFFULL, 0xFFFFFFFFFFFFULL, 0xFFFFFFFFFFFFFFULL,
        ~0ULL};
    x &= s_aMasks[nLength < 8 ? nLength : 8];
    // Per byte, without carries between bytes: the high bit of geA is set where the low seven bits are
    // at least 'a', that of gtZ where they are above 'z'; a byte with its own high bit set is no letter.
    const unsigned long long nOnes = 0x0101010101010101ULL;
    const unsigned long long nLow = x & (0x7F * nOnes);
    const unsigned long long nGeA = nLow + (0x80 - 'a') * nOnes;
    const unsigned long long nGtZ = nLow + (0x80 - 'z' - 1) * nOnes;
    const unsigned long long nLower = nGeA & ~nGtZ & ~x & (0x80 * nOnes);
    return x - (nLower >> 2);
}

inline unsigned CKeywordIndex::SlotOf(unsigned long long nPrefix, size_t nLength)
{
    return static_cast<unsigned>(((nPrefix ^ nLength) * 0x9E3779B97F4A7C15ull) >> (64 - SlotBits));
}

inline bool CKeywordIndex::Match(const char* pText, size_t nLength, int& nId) const
{
    const size_t nFieldSize = sizeof(m_pTable->m_szKeyword);
    if (nLength - 1 >= nFieldSize) // also nLength == 0
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
            nId = slot.m_nId;
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

/// The keywords a keyword run (CGenericParser::ScanKeywordRun) compares its words with directly: the
/// rows whose ids are in the run's sets, with the id a word of their text gets (the first row of the
/// text), letters only and at most eight long, so that a word equals one without regard to case exactly
/// when both are equal with bit 5 of every byte set; none that a number shadows ("inf", "nan",
/// "infinity"). Found by a hash of that text.
class CRunKeywords
{
public:
    /// For the table and its index as they are now, and the run's sets.
    void Build(const ParserKeywordEntry* pTable, int nRows, const CKeywordIndex& index,
               const CGenericRunKeywords& sets);
    bool IsFor(const CGenericRunKeywords& sets) const
    {
        return m_bReady && m_Sets.m_nAloneIds == sets.m_nAloneIds && m_Sets.m_nQuietIds == sets.m_nQuietIds &&
               m_Sets.m_nTripleIds == sets.m_nTripleIds;
    }
    void Forget() { m_bReady = false; }
    const CGenericRunKeywords& Sets() const { return m_Sets; }
    /// The id of the keyword whose text with bit 5 of every byte set is nLower (zero past its length,
    /// at most eight bytes); false when none is.
    bool Find(unsigned long long nLower, int& nId) const
    {
        for (unsigned nSlot = SlotOf(nLower); m_aSlots[nSlot] != 0; nSlot = (nSlot + 1) & (kSlots - 1))
        {
            const Entry& entry = m_aEntries[m_aSlots[nSlot] - 1];
            if (entry.m_nLower == nLower)
            {
                nId = entry.m_nId;
                return true;
            }
        }
        return false;
    }

private:
    static constexpr unsigned kSlots = 128;
    static unsigned SlotOf(unsigned long long nLower)
    {
        return static_cast<unsigned>((nLower * 0x9E3779B97F4A7C15ull) >> 57);
    }
    struct Entry
    {
        unsigned long long m_nLower;
        int m_nId;
    };

    Entry m_aEntries[64] = {};
    unsigned char m_aSlots[kSlots] = {}; ///< an entry's index plus one; 0 for an empty slot
    CGenericRunKeywords m_Sets = {};
    bool m_bReady = false;
};

} // namespace generic_scan
