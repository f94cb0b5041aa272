#include "external/tokenizer/GenericParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

ParserKeywordEntry g_Keywords[] = {{"SOLID", 11}, {"ENDSOLID", 12}, {"NORMAL", 18}, {"NEG", -5}, {"", 7}};

void UseKeywords(CGenericParser& parser)
{
    parser.SetKeywordTable(g_Keywords);
    parser.SetKeywordTableSize(5);
}

// One line per token, "TYPE TEXT [=VALUE] [#ID] [true] @END": the data type, the text, the value of a
// number (the shortest form that reads back to the same double), a keyword id, a true boolean, and the
// end offset.
void Describe(const CGenericToken& token, std::ostringstream& out)
{
    out << token.GetDataType() << ' ' << std::string(token.GetString(), token.GetLength());
    if (token.GetDataType() == GenericTokenNumber || token.GetNumericValue() != 0.0)
    {
        char szValue[32];
        *std::to_chars(szValue, szValue + sizeof(szValue) - 1, token.GetNumericValue()).ptr = '\0';
        out << " =" << szValue;
    }
    if (token.GetUserDefinedType() != 0)
        out << " #" << static_cast<int>(token.GetUserDefinedType());
    out << (token.GetBooleanValue() ? " true" : "") << " @" << token.GetEndOffset() << '\n';
}

// Tokenizes to the end; the end-of-input token is the last line.
std::string ReadAll(CGenericParser& parser)
{
    std::ostringstream out;
    while (parser.Tokenize())
        Describe(parser.GetCurrentToken(), out);
    return out.str();
}

std::string ReadMemory(const std::string& text)
{
    CGenericParser parser;
    UseKeywords(parser);
    parser.SetInputBuffer(text.data(), text.size());
    return ReadAll(parser);
}

// A folder of the test's own, removed with everything in it at the end of the test.
struct TempDir
{
    const fs::path path =
        fs::temp_directory_path() / ("tokenizer_test_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::ofstream(path / name, std::ios::binary) << content;
        return (path / name).string();
    }
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
        const bool bRead = CGenericParser::ReadNextBlock();
        SetInputStringValue(nullptr);
        return bRead;
    }
};

const std::string g_MixedInput = "\xEF\xBB\xBFsolid \"part one\"{x}[y](z)\r\n"
                                 "  facet NORMAL 1.5 -2 +3e2 .25\tTRUE false\v\f\"open line\r\n"
                                 "neg name\"q\"ENDSOLID 1e999 " +
                                 std::string(5000, 'w') + " \"" + std::string(3000, 'q') + "\" end";
} // namespace

TEST(GenericParserTest, TokenSyntaxGivesTypesTextsAndValues)
{
    // The byte-order mark is skipped but counted in offsets; keywords keep their written case; an
    // unterminated quote stops before the line end; 1e999, beyond a double, is infinite.
    EXPECT_EQ(ReadMemory(g_MixedInput),
              "11 solid #11 @8\n8 \"part one\" @19\n2 { @20\n12 x @21\n3 } @22\n4 [ @23\n12 y @24\n"
              "5 ] @25\n6 ( @26\n12 z @27\n7 ) @28\n12 facet @37\n11 NORMAL #18 @44\n10 1.5 =1.5 @48\n"
              "10 -2 =-2 @51\n10 +3e2 =300 @56\n10 .25 =0.25 @60\n9 TRUE true @65\n9 false @71\n"
              "8 \"open line @83\n11 neg #-5 @88\n12 name @93\n8 \"q\" @96\n11 ENDSOLID #12 @104\n"
              "10 1e999 =inf @110\n12 " +
                  std::string(5000, 'w') + " @5111\n8 \"" + std::string(3000, 'q') +
                  "\" @8114\n12 end @8118\n1  @8118\n");
    // NUL bytes are white space (and a row with empty text never matches); a mark anywhere but at the
    // start is part of a word; one before a bracket vanishes.
    EXPECT_EQ(ReadMemory(std::string("a\0\0b", 4)), "12 a @1\n12 b @4\n1  @4\n");
    EXPECT_EQ(ReadMemory("x \xEF\xBB\xBF"), "12 x @1\n12 \xEF\xBB\xBF @5\n1  @5\n");
    EXPECT_EQ(ReadMemory("\xEF\xBB\xBF{"), "2 { @4\n1  @4\n");
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
    EXPECT_EQ(ReadAll(parser), "11 " + std::string(52, 'K') + " #3 @52\n12 " + std::string(51, 'k') +
                                   " @104\n12 " + std::string(53, 'k') + " @158\n1  @158\n");

    // Replacing the table (in either order of the two setters) takes effect for the next word.
    parser.SetKeywordTableSize(5);
    parser.SetKeywordTable(g_Keywords);
    parser.SetInputStringValue("Solid kkkk");
    EXPECT_EQ(ReadAll(parser), "11 Solid #11 @5\n12 kkkk @10\n1  @10\n");
    parser.SetKeywordTable(nullptr);
    parser.SetInputStringValue("solid");
    EXPECT_EQ(ReadAll(parser), "12 solid @5\n1  @5\n");
}

TEST(GenericParserTest, NumbersFollowTheDecimalSyntax)
{
    EXPECT_EQ(ReadMemory("0.1 -.5e+2 5. +0 1E-3 -1e-400 1.7976931348623157e308 "
                         "-1e999 +-1 + - . 1e 1e+ 0x10 1.5abc 1.2.3 --1 1,5"),
              "10 0.1 =0.1 @3\n10 -.5e+2 =-50 @10\n10 5. =5 @13\n10 +0 =0 @16\n10 1E-3 =0.001 @21\n"
              "10 -1e-400 =-0 @29\n10 1.7976931348623157e308 =1.7976931348623157e+308 @52\n"
              "10 -1e999 =-inf @59\n12 +-1 @63\n12 + @65\n12 - @67\n12 . @69\n12 1e @72\n12 1e+ @76\n"
              "12 0x10 @81\n12 1.5abc @88\n12 1.2.3 @94\n12 --1 @98\n12 1,5 @102\n1  @102\n");
    // Non-finite values as C runtimes print them, on Linux and in older Windows runtimes; words that
    // merely start like them stay words.
    EXPECT_EQ(ReadMemory("inf -Infinity +NAN -nan 1.#INF00 -1.#IND00 1.#QNAN0 1.#SNAN -1.#INF "
                         "infinite nanometre infinit 1.#INFx 1.#NA -1.# 2.#INF"),
              "10 inf =inf @3\n10 -Infinity =-inf @13\n10 +NAN =nan @18\n10 -nan =-nan @23\n"
              "10 1.#INF00 =inf @32\n10 -1.#IND00 =-nan @42\n10 1.#QNAN0 =nan @51\n10 1.#SNAN =nan @59\n"
              "10 -1.#INF =-inf @67\n12 infinite @76\n12 nanometre @86\n12 infinit @94\n12 1.#INFx @102\n"
              "12 1.#NA @108\n12 -1.# @113\n12 2.#INF @120\n1  @120\n");
}

TEST(GenericParserTest, NumbersIgnoreACommaDecimalLocale)
{
    const std::string strOld = std::setlocale(LC_ALL, nullptr);
    bool bFound = false;
    for (const char* pszName :
         {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"})
        bFound = bFound || std::setlocale(LC_ALL, pszName) != nullptr;
    if (!bFound)
        GTEST_SKIP() << "no comma-decimal locale installed (tried de_DE, fr_FR, ru_RU)";
    const std::string t = ReadMemory("1.5 -2.25e1 1,5");
    std::setlocale(LC_ALL, strOld.c_str());
    EXPECT_EQ(t, "10 1.5 =1.5 @3\n10 -2.25e1 =-22.5 @11\n12 1,5 @15\n1  @15\n");
}

TEST(GenericParserTest, LookaheadAndEndOfInput)
{
    CGenericParser parser;
    parser.SetInputStringValue("a 2");
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

    // No input at all reads as empty; withdrawn string input reads as ended, at the size it had.
    CGenericParser empty;
    EXPECT_EQ(ReadAll(empty), "1  @0\n");
    EXPECT_FALSE(empty.Tokenize());
    parser.SetInputStringValue("x y");
    parser.SetInputStringValue(nullptr);
    EXPECT_EQ(ReadAll(parser), "1  @3\n");
}

TEST(GenericParserTest, FilesReadTheSameWithAnyBlockSize)
{
    TempDir dir;
    const std::string strPath = dir.Write("mixed.txt", g_MixedInput);
    const std::string expected = ReadMemory(g_MixedInput);
    for (size_t nBlock : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(0)})
    {
        CCountingParser parser;
        UseKeywords(parser);
        parser.SetBlockSize(nBlock);
        parser.SetFilename(CBasicString(strPath.c_str()));
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        EXPECT_EQ(parser.GetTotalFileSize64(), (long long)g_MixedInput.size());
        EXPECT_EQ(ReadAll(parser), expected) << "block size " << nBlock;
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
        const std::string rest = ReadAll(parser);
        ASSERT_EQ(std::count(rest.begin(), rest.end(), '\n'), 15);
        for (int nRound = 0; nRound < 2; ++nRound) // once from the end, once from the middle
        {
            ASSERT_TRUE(parser.RestoreIOState(state));
            EXPECT_STREQ(parser.GetCurrentTokenString(), "1.5");
            EXPECT_EQ(parser.GetCurrentFileOffset(), 48);
            EXPECT_EQ(ReadAll(parser), rest);
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
    parser.SetFilename(CBasicString((dir.path / "missing.txt").string().c_str()));
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed);
    parser.SetFilename(CBasicString(dir.path.string().c_str()));
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed);
    EXPECT_FALSE(parser.GetFileInterface()->GetFileHandleIsValid());
    EXPECT_FALSE(parser.CloseFile());

    parser.SetFilename(CBasicString(dir.Write("empty.txt", "").c_str()));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    EXPECT_EQ(ReadAll(parser), "1  @0\n");
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
    const fs::path path = dir.path / fs::path(u"\u03B1\u65E5\U0001F600.txt");
    std::ofstream(path, std::ios::binary) << "SOLID 5";
    const std::u16string name = path.u16string();
    const WideChar* pszName = reinterpret_cast<const WideChar*>(name.c_str());

    CKarnFileInterface file;
    ASSERT_EQ(file.OpenFile(pszName), GenericLoadSuccess);
    EXPECT_EQ(file.GetFileSize(), 7);

    CGenericParser parser;
    UseKeywords(parser);
    parser.SetFilename(CBasicString(pszName));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    EXPECT_EQ(ReadAll(parser), "11 SOLID #11 @5\n10 5 =5 @7\n1  @7\n");

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
    UseKeywords(source);
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
    std::istringstream fixed(
        "9007199254740992 9007199254740993 9007199.254740993 -0.000000 +0.5 00000000000000000001.5 "
        "12345678.12345678 123456789.1234567 1. .5 - 1..2 1-2 -+1");
    std::vector<std::string> words{std::istream_iterator<std::string>(fixed), {}};
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
            const double dValue = token.GetNumericValue();
            EXPECT_TRUE(!bNumber || std::memcmp(&dValue, &dExpected, sizeof(double)) == 0)
                << word << " gives " << dValue << " instead of " << dExpected;
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
    for (unsigned nId : {100u, 168u, 101u, 169u, 0u, 106u, 0u, 101u, 0u, 0u, 103u})
    {
        ASSERT_TRUE(parser.Tokenize());
        const CGenericToken& token = parser.GetCurrentToken();
        EXPECT_EQ(token.GetDataType(), nId != 0 ? GenericTokenKeyword : GenericTokenWord)
            << token.GetString();
        EXPECT_EQ(token.GetUserDefinedType(), nId) << token.GetString();
    }
    EXPECT_EQ(parser.GetNextToken().GetDataType(), GenericTokenEndOfFile);
}

TEST(GenericParserTest, LinesAndColumnsWhenTracked)
{
    // Lines end at line feeds (CR LF is one end, a lone CR none); columns count bytes from 1, after a
    // byte-order mark on the first line; the same in one block and in blocks of 3 bytes, and after a
    // restore. The end of the input stands after the last byte.
    const std::string text = "\xEF\xBB\xBFsolid a\r\n  \"q\" {\n\n\tx\ry 12\nz";
    const std::string expected = "1:1 1:7 2:3 2:7 4:2 4:4 4:6 5:1 5:2 ";
    TempDir dir;
    const std::string path = dir.Write("lines.slp", text);
    for (size_t nBlock : {size_t(0), size_t(3)})
    {
        CGenericParser parser;
        parser.SetLineTracking(true);
        parser.SetBlockSize(nBlock);
        parser.SetFilename(CBasicString(path.c_str()));
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        std::string places;
        CGenericIOState state;
        while (parser.Tokenize())
        {
            places += std::to_string(parser.GetCurrentToken().GetLine()) + ":" +
                      std::to_string(parser.GetCurrentToken().GetColumn()) + " ";
            if (places.size() == 8)
            {
                ASSERT_TRUE(parser.SaveIOState(state));
            }
        }
        EXPECT_EQ(places, expected) << nBlock;
        ASSERT_TRUE(parser.RestoreIOState(state));
        ASSERT_TRUE(parser.Tokenize());
        EXPECT_EQ(parser.GetCurrentToken().GetLine(), 2);
        EXPECT_EQ(parser.GetCurrentToken().GetColumn(), 3);
    }
    // Untracked, tokens have no place.
    CGenericParser plain;
    plain.SetInputStringValue("a\nb");
    plain.Tokenize();
    plain.Tokenize();
    EXPECT_EQ(plain.GetCurrentToken().GetLine(), 0);
}
