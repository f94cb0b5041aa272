/// \file
/// The tokenizer's keyword stage: the rows of a keyword table, and the matching of a word against them
/// without regard to ASCII case.
#pragma once

#include <cstddef>

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
        unsigned m_nLength; // 0: an empty slot
        int m_nRow;
    };
    static unsigned SlotOf(unsigned long long nPrefix, size_t nLength);

    const ParserKeywordEntry* m_pTable = nullptr;
    int m_nRows = 0;
    Slot m_Slots[1u << SlotBits] = {};
    int m_nFirstRow[256] = {}; ///< for rows past the hashed ones: the first such row of a folded letter
};

} // namespace generic_scan
