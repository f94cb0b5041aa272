// The tokenizer harness: memory input against file input read in tiny blocks.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "tokenizer/ByteScan.h"
#include "tokenizer/GenericParser.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace
{

// Keywords of several lengths, one of them filling its whole 52-byte field without a NUL.
ParserKeywordEntry g_aKeywords[] = {
    {"solid", 11},
    {"endsolid", 12},
    {"vertex", 19},
    {"x", 40},
    {"{", 41},
    {"TRUE", 42},
    {{'L', 'O', 'N', 'G', 'K', 'E', 'Y', 'W', 'O', 'R', 'D', '0', '1', '2', '3', '4', '5', '6',
      '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O',
      'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e'},
     43},
};

struct TokenRecord
{
    GenericTokenTypes eType;
    unsigned int nId;
    unsigned long long nValueBits;
    bool bValue;
    long long nEnd;
    std::string strText;

    bool operator==(const TokenRecord& other) const
    {
        return eType == other.eType && nId == other.nId && nValueBits == other.nValueBits &&
               bValue == other.bValue && nEnd == other.nEnd && strText == other.strText;
    }
};

TokenRecord Record(const CGenericToken& token)
{
    TokenRecord record;
    record.eType = token.GetDataType();
    record.nId = token.GetUserDefinedType();
    const double dValue = token.GetNumericValue();
    std::memcpy(&record.nValueBits, &dValue, sizeof dValue);
    record.bValue = token.GetBooleanValue();
    record.nEnd = token.GetEndOffset();
    record.strText.assign(token.GetString(), token.GetLength());
    return record;
}

void Configure(CGenericParser& parser)
{
    parser.SetKeywordTable(g_aKeywords);
    parser.SetKeywordTableSize(static_cast<int>(sizeof g_aKeywords / sizeof g_aKeywords[0]));
}

// Reads every token, checking what holds for each token on its own and between neighbours. Saves the
// read state after token nSaveAt (1-based) into state when nSaveAt is not 0. Peeks at the lookahead
// before some tokens, which must not change what follows.
std::vector<TokenRecord> ReadAll(CGenericParser& parser, size_t nSize, size_t nSaveAt, CGenericIOState& state)
{
    std::vector<TokenRecord> tokens;
    long long nLastEnd = 0;
    TokenRecord peeked;
    bool bPeeked = false;
    while (parser.Tokenize())
    {
        const CGenericToken& token = parser.GetCurrentToken();
        TokenRecord record = Record(token);
        if (bPeeked)
            FUZZ_CHECK(record == peeked);
        FUZZ_CHECK(record.nEnd >= nLastEnd && record.nEnd <= static_cast<long long>(nSize));
        FUZZ_CHECK(token.GetString()[token.GetLength()] == '\0');
        FUZZ_CHECK(parser.GetCurrentFileOffset64() == record.nEnd);
        nLastEnd = record.nEnd;
        switch (record.eType)
        {
        case GenericTokenEndOfFile:
            FUZZ_CHECK(record.strText.empty() && record.nEnd == static_cast<long long>(nSize));
            break;
        case GenericTokenNumber:
            // Infinities and NaNs are numbers too ("inf", "1.#QNAN0", "1e999").
            FUZZ_CHECK(!record.strText.empty());
            break;
        case GenericTokenQuotedString:
            FUZZ_CHECK(!record.strText.empty() && record.strText[0] == '"');
            break;
        case GenericTokenNone:
            FUZZ_CHECK(false);
            break;
        default:
            // Words, keywords, booleans and brackets hold no white space and no NUL.
            FUZZ_CHECK(!record.strText.empty() && std::strlen(token.GetString()) == token.GetLength());
            FUZZ_CHECK(record.strText.find_first_of(" \t\r\n\v\f") == std::string::npos);
            break;
        }
        if (record.eType != GenericTokenNumber)
            FUZZ_CHECK(record.nValueBits == 0);
        tokens.push_back(record);
        FUZZ_CHECK(tokens.size() <= nSize + 1);
        if (tokens.size() == nSaveAt)
            FUZZ_CHECK(parser.SaveIOState(state));
        // Peek at every third lookahead, so both the scanned and the unscanned lookahead are exercised.
        bPeeked = tokens.size() % 3 == 1;
        if (bPeeked)
            peeked = Record(parser.GetNextToken());
    }
    FUZZ_CHECK(!tokens.empty() && tokens.back().eType == GenericTokenEndOfFile);
    FUZZ_CHECK(!parser.Tokenize() && parser.GetCurrentToken().GetDataType() == GenericTokenEndOfFile);
    return tokens;
}

// Reads the file in batches (ReadTokens) as a load does, with blocks of 64 bytes to 16 KiB and a batch
// limit that moves on by a few bytes each time, as progress thresholds do; "endsolid" stops batches.
// Every summary and every token left current must be the one read token by token.
void CheckBatches(const std::string& strPath, const std::vector<TokenRecord>& expected, unsigned nSeed)
{
    CGenericParser parser;
    Configure(parser);
    parser.SetBlockSize(size_t(64) << (nSeed % 9));
    parser.SetFilename(CBasicString(strPath.c_str()));
    FUZZ_CHECK(parser.OpenAndInitialize() == GenericLoadSuccess);
    CGenericTokenSummary aBatch[37];
    size_t nRead = 0; // tokens made current so far
    long long nBefore = 0;
    for (;;)
    {
        nBefore += 1 + nSeed % 61;
        const size_t nBatch = parser.ReadTokens(aBatch, 1 + nSeed % 37, nBefore, 1ull << 12);
        if (nBatch == 0)
        {
            if (!parser.Tokenize())
                break;
            FUZZ_CHECK(nRead < expected.size() && Record(parser.GetCurrentToken()) == expected[nRead]);
            ++nRead;
            continue;
        }
        for (size_t i = 0; i < nBatch; ++i)
        {
            FUZZ_CHECK(nRead < expected.size());
            const TokenRecord& token = expected[nRead++];
            unsigned long long nBits;
            std::memcpy(&nBits, &aBatch[i].m_dNumericValue, sizeof nBits);
            FUZZ_CHECK(aBatch[i].m_eDataType == token.eType && aBatch[i].m_nUserDefinedType == token.nId &&
                       nBits == token.nValueBits && aBatch[i].m_bBooleanValue == token.bValue);
            FUZZ_CHECK(token.nEnd < nBefore && !(token.eType == GenericTokenKeyword && token.nId == 12));
        }
        FUZZ_CHECK(Record(parser.GetCurrentToken()) == expected[nRead - 1]);
    }
    FUZZ_CHECK(nRead == expected.size());
}

} // namespace

int FuzzTokenizer(const uint8_t* pData, size_t nSize)
{
    const char* pText = reinterpret_cast<const char*>(pData);

    CGenericParser memory;
    Configure(memory);
    memory.SetInputBuffer(pText, nSize);
    FUZZ_CHECK(memory.GetTotalFileSize64() == static_cast<long long>(nSize));
    // Saved after the first token; restored once the whole input is read.
    CGenericIOState early;
    const std::vector<TokenRecord> expected = ReadAll(memory, nSize, 1, early);
    FUZZ_CHECK(memory.RestoreIOState(early));
    for (size_t i = 1; i < expected.size(); ++i)
    {
        FUZZ_CHECK(memory.Tokenize());
        FUZZ_CHECK(Record(memory.GetCurrentToken()) == expected[i]);
    }
    FUZZ_CHECK(!memory.Tokenize());

    // Block sizes of 1 to 8 bytes make almost every token straddle blocks.
    unsigned int nSum = 0;
    for (size_t i = 0; i < nSize; ++i)
        nSum += pData[i];
    static CFuzzTempFile file("tokenizer");
    file.Write(pData, nSize);
    CGenericParser reader;
    Configure(reader);
    reader.SetBlockSize(1 + nSum % 8);
    reader.SetFilename(CBasicString(file.GetPath().c_str()));
    FUZZ_CHECK(reader.OpenAndInitialize() == GenericLoadSuccess);
    FUZZ_CHECK(reader.GetTotalFileSize64() == static_cast<long long>(nSize));
    const size_t nSaveAt = (expected.size() + 1) / 2;
    CGenericIOState state;
    const std::vector<TokenRecord> fromFile = ReadAll(reader, nSize, nSaveAt, state);
    FUZZ_CHECK(fromFile == expected);

    // Back to the saved state: the same tokens follow, read again from the file.
    FUZZ_CHECK(reader.RestoreIOState(state));
    FUZZ_CHECK(Record(reader.GetCurrentToken()) == expected[nSaveAt - 1]);
    for (size_t i = nSaveAt; i < expected.size(); ++i)
    {
        FUZZ_CHECK(reader.Tokenize());
        FUZZ_CHECK(Record(reader.GetCurrentToken()) == expected[i]);
    }
    FUZZ_CHECK(!reader.Tokenize());
    FUZZ_CHECK(reader.CloseFile());

    // Batches, with one of the three scans by turns.
    GenericLimitScan(static_cast<GenericScanLevels>(nSum % 3));
    CheckBatches(file.GetPath(), expected, nSum);
    GenericLimitScan(GenericScanAvx2);
    return 0;
}
