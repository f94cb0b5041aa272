#include "external/tokenizer/GenericParser.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

ParserKeywordEntry g_Keywords[] = {{"SOLID", 11}, {"ENDSOLID", 12}, {"NORMAL", 18}, {"NEG", -5}, {"", 7}};

struct TokenInfo
{
    GenericTokenTypes eType;
    std::string strText;
    double dValue;
    bool bValue;
    unsigned int nUser;
    long long nEnd;

    bool operator==(const TokenInfo& o) const
    {
        return eType == o.eType && strText == o.strText && dValue == o.dValue && bValue == o.bValue &&
               nUser == o.nUser && nEnd == o.nEnd;
    }
};

void PrintTo(const TokenInfo& t, std::ostream* pOut)
{
    *pOut << "{type " << t.eType << ", \"" << t.strText.substr(0, 40) << "\", " << t.dValue << ", "
          << t.bValue << ", " << t.nUser << ", end " << t.nEnd << "}";
}

TokenInfo Info(CGenericToken& token)
{
    return {token.GetDataType(),        std::string(token.GetString(), token.GetLength()),
            token.GetNumericValue(),    token.GetBooleanValue(),
            token.GetUserDefinedType(), token.GetEndOffset()};
}

// Tokenizes to the end; the end-of-input token is the last element.
std::vector<TokenInfo> ReadAll(CGenericParser& parser)
{
    std::vector<TokenInfo> tokens;
    while (parser.Tokenize())
        tokens.push_back(Info(parser.GetCurrentToken()));
    return tokens;
}

std::vector<TokenInfo> ReadMemory(const std::string& text)
{
    CGenericParser parser;
    parser.SetKeywordTable(g_Keywords);
    parser.SetKeywordTableSize(5);
    parser.SetInputBuffer(text.data(), text.size());
    return ReadAll(parser);
}

class TempDir
{
public:
    TempDir()
    {
        static int s_nCount = 0;
        m_Path = fs::temp_directory_path() /
                 ("tokenizer_test_" + std::to_string(::getpid()) + "_" + std::to_string(++s_nCount));
        fs::create_directories(m_Path);
    }
    ~TempDir() { fs::remove_all(m_Path); }
    std::string Write(const std::string& name, const std::string& content) const
    {
        const fs::path path = m_Path / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string Path() const { return m_Path.string(); }

private:
    fs::path m_Path;
};

// Counts block requests, doing what the SLP layer's override does.
class CCountingParser : public CGenericParser
{
public:
    int m_nCalls = 0;

protected:
    bool ReadNextBlock() override
    {
        ++m_nCalls;
        if (!GetFileInterface()->GetFileHandleIsValid())
            return false;
        GetFileInterface()->ReadNextBlockFromFile();
        SetInputStringValue(nullptr);
        return true;
    }
};

const std::string g_MixedInput = "\xEF\xBB\xBFsolid \"part one\"{x}[y](z)\r\n"
                                 "  facet NORMAL 1.5 -2 +3e2 .25\tTRUE false\v\f\"open line\r\n"
                                 "neg name\"q\"ENDSOLID 1e999 " +
                                 std::string(5000, 'w') + " \"" + std::string(3000, 'q') + "\" end";
} // namespace

TEST(GenericParserTest, TokenSyntaxGivesTypesTextsAndValues)
{
    const std::vector<TokenInfo> t = ReadMemory(g_MixedInput);
    ASSERT_EQ(t.size(), 29u);
    // The byte-order mark is skipped but counted in offsets; keywords keep their written case.
    EXPECT_EQ(t[0], (TokenInfo{GenericTokenKeyword, "solid", 0, false, 11, 8}));
    EXPECT_EQ(t[1], (TokenInfo{GenericTokenQuotedString, "\"part one\"", 0, false, 0, 19}));
    const GenericTokenTypes brackets[] = {GenericTokenOpenBrace,   GenericTokenCloseBrace,
                                          GenericTokenOpenBracket, GenericTokenCloseBracket,
                                          GenericTokenOpenParen,   GenericTokenCloseParen};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(t[2 + 3 * i].eType, brackets[2 * i]);
        EXPECT_EQ(t[3 + 3 * i].eType, GenericTokenWord);
        EXPECT_EQ(t[3 + 3 * i].strText, std::string(1, "xyz"[i]));
        EXPECT_EQ(t[4 + 3 * i].eType, brackets[2 * i + 1]);
    }
    EXPECT_EQ(t[4].strText, "}");
    EXPECT_EQ(t[11], (TokenInfo{GenericTokenWord, "facet", 0, false, 0, 37}));
    EXPECT_EQ(t[12].nUser, 18u);
    EXPECT_EQ(t[13], (TokenInfo{GenericTokenNumber, "1.5", 1.5, false, 0, 48}));
    EXPECT_EQ(t[14].dValue, -2.0);
    EXPECT_EQ(t[15].dValue, 300.0);
    EXPECT_EQ(t[16].dValue, 0.25);
    EXPECT_EQ(t[17], (TokenInfo{GenericTokenBoolean, "TRUE", 0, true, 0, 65}));
    EXPECT_EQ(t[18], (TokenInfo{GenericTokenBoolean, "false", 0, false, 0, 71}));
    // An unterminated quote stops before the line end.
    EXPECT_EQ(t[19], (TokenInfo{GenericTokenQuotedString, "\"open line", 0, false, 0, 83}));
    EXPECT_EQ(t[20].nUser, static_cast<unsigned int>(-5));
    EXPECT_EQ(t[21].strText, "name");
    EXPECT_EQ(t[22].strText, "\"q\"");
    EXPECT_EQ(t[23].eType, GenericTokenKeyword);
    EXPECT_EQ(t[24].eType, GenericTokenWord); // 1e999 is beyond a double
    EXPECT_EQ(t[25].strText, std::string(5000, 'w'));
    EXPECT_EQ(t[26].strText.size(), 3002u);
    EXPECT_EQ(t[27].strText, "end");
    EXPECT_EQ(t[28], (TokenInfo{GenericTokenEndOfFile, "", 0, false, 0, (long long)g_MixedInput.size()}));

    // NUL bytes are white space; a row with empty text never matches.
    const std::vector<TokenInfo> nul = ReadMemory(std::string("a\0b", 3));
    ASSERT_EQ(nul.size(), 3u);
    EXPECT_EQ(nul[1].strText, "b");
    // A mark anywhere but at the start is part of a word; one before a bracket vanishes.
    EXPECT_EQ(ReadMemory("x \xEF\xBB\xBF")[1].strText, "\xEF\xBB\xBF");
    EXPECT_EQ(ReadMemory("\xEF\xBB\xBF{")[0].eType, GenericTokenOpenBrace);
}

TEST(GenericParserTest, KeywordTableRowsAndReplacement)
{
    // A keyword that fills its whole 52-byte field has no NUL and still matches, in any case.
    ParserKeywordEntry full[1];
    std::memset(full[0].m_szKeyword, 'k', sizeof(full[0].m_szKeyword));
    full[0].m_nId = 3;
    CGenericParser parser;
    parser.SetKeywordTable(full);
    parser.SetKeywordTableSize(1);
    const std::string strText =
        std::string(52, 'K') + " " + std::string(51, 'k') + " " + std::string(53, 'k');
    parser.SetInputBuffer(strText.data(), strText.size());
    const std::vector<TokenInfo> t = ReadAll(parser);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].eType, GenericTokenKeyword);
    EXPECT_EQ(t[0].nUser, 3u);
    EXPECT_EQ(t[1].eType, GenericTokenWord);
    EXPECT_EQ(t[2].eType, GenericTokenWord);

    // Replacing the table (in either order of the two setters) takes effect for the next word.
    parser.SetKeywordTableSize(5);
    parser.SetKeywordTable(g_Keywords);
    parser.SetInputStringValue("Solid kkkk");
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentToken().GetUserDefinedType(), 11u);
    EXPECT_EQ(parser.GetNextToken().GetDataType(), GenericTokenWord);
    parser.SetKeywordTable(nullptr);
    parser.SetInputStringValue("solid");
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenWord);
}

TEST(GenericParserTest, NumbersFollowTheDecimalSyntax)
{
    const struct
    {
        const char* pszText;
        bool bNumber;
        double dValue;
    } cases[] = {{"0.1", true, 0.1},
                 {"-.5e+2", true, -50.0},
                 {"5.", true, 5.0},
                 {"+0", true, 0.0},
                 {"1E-3", true, 0.001},
                 {"1e-400", true, 0.0},
                 {"-1e999", false, 0},
                 {"+-1", false, 0},
                 {"+", false, 0},
                 {"-", false, 0},
                 {".", false, 0},
                 {"1e", false, 0},
                 {"1e+", false, 0},
                 {"inf", false, 0},
                 {"-nan", false, 0},
                 {"0x10", false, 0},
                 {"1.5abc", false, 0},
                 {"1.2.3", false, 0},
                 {"--1", false, 0},
                 {"1,5", false, 0},
                 {"1.7976931348623157e308", true, 1.7976931348623157e308}};
    for (const auto& c : cases)
    {
        const std::vector<TokenInfo> t = ReadMemory(c.pszText);
        ASSERT_EQ(t.size(), 2u) << c.pszText;
        EXPECT_EQ(t[0].eType, c.bNumber ? GenericTokenNumber : GenericTokenWord) << c.pszText;
        EXPECT_EQ(t[0].dValue, c.dValue) << c.pszText;
        EXPECT_EQ(t[0].strText, c.pszText);
    }
}

TEST(GenericParserTest, NumbersIgnoreACommaDecimalLocale)
{
    const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE",
                             "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"};
    const std::string strOld = std::setlocale(LC_ALL, nullptr);
    const char* pszFound = nullptr;
    for (const char* pszName : locales)
        if (std::setlocale(LC_ALL, pszName) != nullptr)
        {
            pszFound = pszName;
            break;
        }
    if (pszFound == nullptr)
        GTEST_SKIP() << "no comma-decimal locale installed (tried de_DE, fr_FR, ru_RU)";
    const std::vector<TokenInfo> t = ReadMemory("1.5 -2.25e1 1,5");
    std::setlocale(LC_ALL, strOld.c_str());
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].dValue, 1.5);
    EXPECT_EQ(t[1].dValue, -22.5);
    EXPECT_EQ(t[2].eType, GenericTokenWord);
}

TEST(GenericParserTest, LookaheadAndEndOfInput)
{
    CGenericParser parser;
    const char* pszText = "a 2";
    parser.SetInputStringValue(pszText);
    EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenNone);
    EXPECT_STREQ(parser.GetCurrentTokenString(), "");
    EXPECT_STREQ(parser.GetNextTokenString(), "a");
    EXPECT_EQ(parser.GetCurrentFileOffset(), 0);
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_STREQ(parser.GetCurrentTokenString(), "a");
    EXPECT_EQ(parser.GetNextTokenNumericValue(), 2.0);
    EXPECT_EQ(parser.GetCurrentTokenNumericValue(), 0.0);
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetNextToken().GetDataType(), GenericTokenEndOfFile);
    EXPECT_TRUE(parser.Tokenize()); // makes the end current
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_FALSE(parser.Tokenize());
        EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenEndOfFile);
        EXPECT_EQ(parser.GetNextToken().GetDataType(), GenericTokenEndOfFile);
        EXPECT_EQ(parser.GetCurrentFileOffset(), 3);
    }
    EXPECT_EQ(parser.GetTotalFileSize(), 3);

    // No input at all, and a parser whose string input was withdrawn, read as empty.
    CGenericParser empty;
    EXPECT_TRUE(empty.Tokenize());
    EXPECT_EQ(empty.GetCurrentToken().GetDataType(), GenericTokenEndOfFile);
    EXPECT_FALSE(empty.Tokenize());
    parser.SetInputStringValue("x y");
    parser.SetInputStringValue(nullptr);
    EXPECT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenEndOfFile);
}

TEST(GenericParserTest, FilesReadTheSameWithAnyBlockSize)
{
    TempDir dir;
    const std::string strPath = dir.Write("mixed.txt", g_MixedInput);
    const std::vector<TokenInfo> expected = ReadMemory(g_MixedInput);
    for (size_t nBlock : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(0)})
    {
        CCountingParser parser;
        parser.SetKeywordTable(g_Keywords);
        parser.SetKeywordTableSize(5);
        parser.SetBlockSize(nBlock);
        parser.SetFilename(CBasicString(strPath.c_str()));
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        EXPECT_EQ(parser.GetTotalFileSize64(), (long long)g_MixedInput.size());
        EXPECT_TRUE(ReadAll(parser) == expected) << "block size " << nBlock;
        // One block request per block, not per byte.
        const size_t nSize = nBlock == 0 ? CKarnFileInterface::DefaultBlockSize : nBlock;
        EXPECT_EQ(parser.m_nCalls, (int)((g_MixedInput.size() + nSize - 1) / nSize));
        EXPECT_TRUE(parser.CloseFile());
        EXPECT_FALSE(parser.CloseFile());
    }
}

TEST(GenericParserTest, SaveAndRestoreReturnToTheSamePlace)
{
    TempDir dir;
    const std::string strPath = dir.Write("restore.txt", g_MixedInput);
    for (int nFile = 0; nFile < 2; ++nFile)
    {
        CGenericParser parser;
        CGenericIOState state;
        EXPECT_FALSE(parser.SaveIOState(state)); // no input
        if (nFile)
        {
            parser.SetBlockSize(3);
            parser.SetFilename(CBasicString(strPath.c_str()));
            ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        }
        else
            parser.SetInputBuffer(g_MixedInput.data(), g_MixedInput.size());
        for (int i = 0; i < 14; ++i)
            parser.Tokenize();
        ASSERT_TRUE(parser.SaveIOState(state));
        const std::vector<TokenInfo> rest = ReadAll(parser);
        ASSERT_EQ(rest.size(), 15u);
        for (int nRound = 0; nRound < 2; ++nRound) // once from the end, once from the middle
        {
            ASSERT_TRUE(parser.RestoreIOState(state));
            EXPECT_STREQ(parser.GetCurrentTokenString(), "1.5");
            EXPECT_EQ(parser.GetCurrentFileOffset(), 48);
            EXPECT_STREQ(parser.GetNextTokenString(), "-2");
            EXPECT_TRUE(ReadAll(parser) == rest);
            for (int i = 0; i < 11; ++i)
                parser.Tokenize();
        }
        // A state belongs to the input it was saved from.
        parser.SetInputStringValue("other");
        EXPECT_FALSE(parser.RestoreIOState(state));
        EXPECT_STREQ(parser.GetNextTokenString(), "other");
    }
}

TEST(GenericParserTest, OpeningOutcomes)
{
    TempDir dir;
    CGenericParser parser;
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed); // no name
    parser.SetFilename(CBasicString((dir.Path() + "/missing.txt").c_str()));
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed);
    parser.SetFilename(CBasicString(dir.Path().c_str()));
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed);
    EXPECT_FALSE(parser.GetFileInterface()->GetFileHandleIsValid());
    EXPECT_FALSE(parser.CloseFile());

    parser.SetFilename(CBasicString(dir.Write("empty.txt", "").c_str()));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    EXPECT_EQ(parser.GetTotalFileSize(), 0);
    EXPECT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenEndOfFile);
    EXPECT_FALSE(parser.Tokenize());

    // A regular file that cannot be read: the process's own memory file fails at offset 0.
    if (fs::exists("/proc/self/mem"))
    {
        parser.SetFilename(CBasicString("/proc/self/mem"));
        EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadReadFailed);
        EXPECT_FALSE(parser.GetFileInterface()->GetFileHandleIsValid());
    }

    // A 1 MB word is one token, and reopening starts over from the first byte.
    const std::string strBig = "  " + std::string(1 << 20, 'b') + " 7";
    parser.SetFilename(CBasicString(dir.Write("big.txt", strBig).c_str()));
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        ASSERT_TRUE(parser.Tokenize());
        EXPECT_EQ(parser.GetCurrentToken().GetLength(), size_t(1) << 20);
        EXPECT_EQ(parser.GetCurrentFileOffset64(), (1 << 20) + 2);
        EXPECT_EQ(parser.GetNextTokenNumericValue(), 7.0);
    }
}

TEST(GenericParserTest, FileNamesInAnyScriptOpen)
{
    // Greek, CJK and a character beyond U+FFFF: no ANSI code page holds them all, so on Windows the name
    // opens only because it reaches the system as wide text.
    TempDir dir;
    const fs::path path = fs::path(dir.Path()) / fs::path(u"\u03B1\u65E5\U0001F600.txt");
    std::ofstream(path, std::ios::binary) << "SOLID 5";
    const std::u16string name = path.u16string();
    const WideChar* pszName = reinterpret_cast<const WideChar*>(name.c_str());

    CKarnFileInterface file;
    ASSERT_EQ(file.OpenFile(pszName), GenericLoadSuccess);
    EXPECT_EQ(file.GetFileSize(), 7);
    ASSERT_TRUE(file.ReadNextBlockFromFile());
    EXPECT_EQ(std::string(file.GetBlockData(), file.GetBlockLength()), "SOLID 5");

    CGenericParser parser;
    parser.SetKeywordTable(g_Keywords);
    parser.SetKeywordTableSize(5);
    parser.SetFilename(CBasicString(pszName));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentToken().GetUserDefinedType(), 11u);
    EXPECT_EQ(parser.GetNextTokenNumericValue(), 5.0);

    // The same name with its alpha made a beta is another, missing, file.
    std::u16string other = name;
    other[other.rfind(u'\u03B1')] = u'\u03B2';
    EXPECT_EQ(file.OpenFile(reinterpret_cast<const WideChar*>(other.c_str())), GenericLoadOpenFailed);
    EXPECT_EQ(file.OpenFile(static_cast<const WideChar*>(nullptr)), GenericLoadOpenFailed);
}

TEST(GenericParserTest, FilesBeyondFourGigabytesKeepExactOffsets)
{
    TempDir dir;
    const long long nSize = (5LL << 30) + 3;
    const std::string strPath = dir.Write("sparse.txt", "head next"); // the lookahead stops before the zeros
    std::error_code error;
    fs::resize_file(strPath, static_cast<std::uintmax_t>(nSize - 3), error);
    if (error)
        GTEST_SKIP() << "cannot make a sparse 5 GiB file here: " << error.message();
    std::ofstream(strPath, std::ios::binary | std::ios::app) << "z 9";

    CGenericParser parser;
    parser.SetFilename(CBasicString(strPath.c_str()));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    EXPECT_EQ(parser.GetTotalFileSize64(), nSize);
    EXPECT_EQ(parser.GetTotalFileSize(), INT_MAX);
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_STREQ(parser.GetCurrentTokenString(), "head");
    EXPECT_EQ(parser.GetCurrentFileOffset64(), 4);

    // The reader seeks and reads past 4 GiB (the parser's restore path uses the same calls).
    CKarnFileInterface* pFile = parser.GetFileInterface();
    ASSERT_TRUE(pFile->SeekToOffset(nSize - 3));
    ASSERT_TRUE(pFile->ReadNextBlockFromFile());
    EXPECT_EQ(pFile->GetBlockOffset(), nSize - 3);
    ASSERT_EQ(pFile->GetBlockLength(), 3u);
    EXPECT_EQ(std::string(pFile->GetBlockData(), 3), "z 9");
    EXPECT_TRUE(pFile->ReadNextBlockFromFile());
    EXPECT_EQ(pFile->GetBlockLength(), 0u);
    EXPECT_FALSE(pFile->SeekToOffset(-1));
}

TEST(GenericParserTest, CopiesKeepKeywordsButNeverTheFile)
{
    TempDir dir;
    CGenericParser source;
    source.SetKeywordTable(g_Keywords);
    source.SetKeywordTableSize(5);
    source.SetFilename(CBasicString(dir.Write("copy.txt", "solid a b").c_str()));
    ASSERT_EQ(source.OpenAndInitialize(), GenericLoadSuccess);
    ASSERT_TRUE(source.Tokenize());

    CGenericParser copy(source);
    CGenericParser assigned;
    assigned.SetInputStringValue("pending");
    assigned = source;
    for (CGenericParser* pCopy : {&copy, &assigned})
    {
        EXPECT_FALSE(pCopy->GetFileInterface()->GetFileHandleIsValid());
        EXPECT_TRUE(pCopy->Tokenize());
        EXPECT_EQ(pCopy->GetCurrentToken().GetDataType(), GenericTokenEndOfFile);
        pCopy->SetInputStringValue("ENDSOLID");
        ASSERT_TRUE(pCopy->Tokenize());
        EXPECT_EQ(pCopy->GetCurrentToken().GetUserDefinedType(), 12u);
        // The copy's settings include the file name: it opens the same file on its own.
        ASSERT_EQ(pCopy->OpenAndInitialize(), GenericLoadSuccess);
        ASSERT_TRUE(pCopy->Tokenize());
        EXPECT_STREQ(pCopy->GetCurrentTokenString(), "solid");
    }
    // The source reads on undisturbed.
    ASSERT_TRUE(source.Tokenize());
    EXPECT_STREQ(source.GetCurrentTokenString(), "a");
}

TEST(GenericParserTest, DecimalsConvertExactlyAsFromCharsInEveryPosition)
{
    // Words of every shape around the converter's limits (8 and 16 digits, 2^53, 19 and 20 digits,
    // leading zeros, signs, a missing side of the point), each compared bit for bit with
    // std::from_chars, read from memory and from files whose blocks cut the words anywhere.
    std::vector<std::string> words = {"9007199254740992",
                                      "9007199254740993",
                                      "9007199.254740993",
                                      "-0.000000",
                                      "+0.5",
                                      "00000000000000000001.5",
                                      "12345678.12345678",
                                      "123456789.1234567",
                                      "1.",
                                      ".5",
                                      "-",
                                      "1..2",
                                      "1-2",
                                      "-+1"};
    unsigned long long nState = 42;
    auto Next = [&nState](unsigned nRange)
    {
        nState = nState * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>((nState >> 33) % nRange);
    };
    for (int i = 0; i < 4000; ++i)
    {
        std::string word = i % 3 == 0 ? "-" : (i % 7 == 0 ? "+" : "");
        const unsigned nInteger = Next(12), nFraction = Next(12);
        for (unsigned d = 0; d < nInteger; ++d)
            word += static_cast<char>('0' + Next(10));
        if (nFraction > 0 || Next(4) == 0)
            word += '.';
        for (unsigned d = 0; d < nFraction; ++d)
            word += static_cast<char>('0' + Next(10));
        words.push_back(word.empty() ? "0" : word);
    }
    std::string text;
    for (const std::string& word : words)
        text += word + (text.size() % 5 == 0 ? "\n  " : " ");

    TempDir dir;
    const std::string strPath = dir.Write("numbers.txt", text);
    for (size_t nBlock : {size_t(0), size_t(13), size_t(64)})
    {
        CGenericParser parser;
        parser.SetBlockSize(nBlock);
        parser.SetFilename(CBasicString(strPath.c_str()));
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        for (const std::string& word : words)
        {
            ASSERT_TRUE(parser.Tokenize());
            const CGenericToken& token = parser.GetCurrentToken();
            ASSERT_EQ(std::string(token.GetString()), word);
            const char* pBegin = word.c_str() + (word[0] == '+' ? 1 : 0);
            const char* pEnd = word.c_str() + word.size();
            double dExpected = 0.0;
            const std::from_chars_result r = std::from_chars(pBegin, pEnd, dExpected);
            const bool bNumber = r.ec == std::errc() && r.ptr == pEnd && pBegin < pEnd && *pBegin != '+';
            ASSERT_EQ(token.GetDataType(), bNumber ? GenericTokenNumber : GenericTokenWord) << word;
            if (bNumber)
            {
                const double dValue = token.GetNumericValue();
                EXPECT_EQ(std::memcmp(&dValue, &dExpected, sizeof(double)), 0)
                    << word << " gives " << dValue << " instead of " << dExpected;
            }
        }
    }
}

TEST(GenericParserTest, KeywordsMatchWholeRowsOfLongTables)
{
    // 70 rows: the first ones are matched through their cached prefixes, the last through the table.
    std::vector<ParserKeywordEntry> table(70);
    for (int i = 0; i < 70; ++i)
    {
        const std::string strText =
            i % 2 == 0 ? "row" + std::to_string(i) : "longkeyword_" + std::to_string(i);
        std::memset(table[i].m_szKeyword, 0, sizeof(table[i].m_szKeyword));
        std::memcpy(table[i].m_szKeyword, strText.c_str(), strText.size());
        table[i].m_nId = 100 + i;
    }
    CGenericParser parser;
    parser.SetKeywordTable(table.data());
    parser.SetKeywordTableSize(70);
    const std::string text = "ROW0 Row68 LONGKEYWORD_1 longKeyword_69 row68x row6 longkeyword_6 "
                             "longkeyword_1 longkeyword_ ro\xC3\xA9 LONGKEYWORD_3";
    parser.SetInputBuffer(text.data(), text.size());
    const std::vector<TokenInfo> t = ReadAll(parser);
    const unsigned expected[] = {100, 168, 101, 169, 0, 106, 0, 101, 0, 0, 103};
    ASSERT_EQ(t.size(), 12u);
    for (size_t i = 0; i < 11; ++i)
    {
        EXPECT_EQ(t[i].eType, expected[i] != 0 ? GenericTokenKeyword : GenericTokenWord) << t[i].strText;
        EXPECT_EQ(t[i].nUser, expected[i]) << t[i].strText;
    }
}
