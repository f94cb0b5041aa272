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

/// An index of a keyword table (internal to the tokenizer): for each folded first byte the first row
/// that starts with it, and for the first 64 rows each keyword's length and its first eight bytes in
/// upper case, so that most rows are told apart by two comparisons. Rows past the 64th are compared in
/// full. The table is not copied; the index is rebuilt when the table or its size changes.
class CKeywordIndex
{
public:
    void Build(const ParserKeywordEntry* pTable, int nRows);
    /// The id of the first row whose text equals the word (length nLength, with at least eight readable
    /// bytes at pText) without regard to ASCII case; false when no row does.
    bool Match(const char* pText, size_t nLength, int& nId) const;

private:
    static const int KeyRows = 64;
    struct Key
    {
        unsigned long long m_nPrefix;
        size_t m_nLength;
    };
    const ParserKeywordEntry* m_pTable = nullptr;
    int m_nRows = 0;
    int m_nFirstRow[256] = {};
    Key m_Keys[KeyRows] = {};
};

} // namespace generic_scan
