#include "tokenizer/GenericParser.h"
#include "tests/support/FailingReads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>
#if !defined(_WIN32)
#include <csignal>
#include <pthread.h>
#include <sys/mman.h>
#include <thread>
#endif

namespace
{
namespace fs = std::filesystem;

ParserKeywordEntry g_Keywords[] = {{"SOLID", 11}, {"ENDSOLID", 12}, {"NORMAL", 18}, {"NEG", -5}, {"", 7}};

// One line per token, "TYPE TEXT [=VALUE] [#ID] [true] @END": the data type, the text, the value of a
// number (the shortest form that reads back to the same double), a keyword id, a true boolean, and the
// end offset. Tokenizes to the end; the end-of-input token is the last line.
std::string ReadAll(CGenericParser& parser)
{
    std::ostringstream out;
    while (parser.Tokenize())
    {
        const CGenericToken& token = parser.GetCurrentToken();
        out << token.GetDataType() << ' ' << std::string(token.GetString(), token.GetLength());
        char szValue[32];
        if (token.GetDataType() == GenericTokenNumber || token.GetNumericValue() != 0.0)
            out << " ="
                << std::string(szValue, std::to_chars(szValue, szValue + 32, token.GetNumericValue()).ptr);
        if (token.GetUserDefinedType() != 0)
            out << " #" << static_cast<int>(token.GetUserDefinedType());
        out << (token.GetBooleanValue() ? " true" : "") << " @" << token.GetEndOffset() << '\n';
    }
    return out.str();
}

CGenericParser& UseKeywords(CGenericParser& parser)
{
    parser.SetKeywordTable(g_Keywords);
    parser.SetKeywordTableSize(5);
    return parser;
}

std::string ReadMemory(const std::string& text)
{
    CGenericParser parser;
    UseKeywords(parser).SetInputBuffer(text.data(), text.size());
    return ReadAll(parser);
}

// The keyword ids of the words of a text (0 for other tokens).
std::vector<unsigned> Ids(CGenericParser& parser, const std::string& text)
{
    parser.SetInputStringValue(text.c_str());
    std::vector<unsigned> ids;
    while (parser.Tokenize() && parser.GetCurrentToken().GetDataType() != GenericTokenEndOfFile)
        ids.push_back(parser.GetCurrentToken().GetUserDefinedType());
    return ids;
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

// Counts block requests, withdrawing string input in each (which leaves a file alone) as the loader's
// override does.
struct CCountingParser : CGenericParser
{
    int m_nCalls = 0;
    bool ReadNextBlock() override
    {
        ++m_nCalls;
        SetInputStringValue(nullptr);
        return CGenericParser::ReadNextBlock();
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

TEST(GenericParserTest, KeywordTables)
{
    // A keyword that fills its whole 52-byte field has no NUL and still matches, in any case.
    ParserKeywordEntry full[1] = {{"", 3}};
    std::memset(full[0].m_szKeyword, 'k', sizeof(full[0].m_szKeyword));
    CGenericParser parser;
    parser.SetKeywordTable(full);
    parser.SetKeywordTableSize(1);
    EXPECT_EQ(Ids(parser, std::string(52, 'K') + " " + std::string(51, 'k') + " " + std::string(53, 'k')),
              (std::vector<unsigned>{3, 0, 0}));

    // Another table takes effect for the next word, whichever setter comes last.
    ParserKeywordEntry other[1] = {{"facet", 4}};
    parser.SetKeywordTable(other);
    EXPECT_EQ(Ids(parser, "FACET kkkk"), (std::vector<unsigned>{4, 0}));
    parser.SetKeywordTableSize(5);
    parser.SetKeywordTable(nullptr);
    EXPECT_EQ(Ids(parser, "facet"), std::vector<unsigned>{0});

    // 70 rows, the first ones matched through their cached prefixes, the last through the table; the
    // first of two equal rows wins.
    std::vector<ParserKeywordEntry> table(70);
    for (int i = 0; i < 70; ++i)
    {
        std::snprintf(table[i].m_szKeyword, sizeof(table[i].m_szKeyword), i % 2 ? "longkeyword_%d" : "row%d",
                      i);
        table[i].m_nId = 100 + i;
    }
    std::memcpy(table[68].m_szKeyword, "row0", 5);
    parser.SetKeywordTable(table.data());
    parser.SetKeywordTableSize(70);
    EXPECT_EQ(Ids(parser, "ROW0 Row66 LONGKEYWORD_1 longKeyword_69 row66x row6 longkeyword_6 longkeyword_ "
                          "ro\xC3\xA9 LONGKEYWORD_3"),
              (std::vector<unsigned>{100, 166, 101, 169, 0, 106, 0, 0, 0, 103}));
}

TEST(GenericParserTest, NumbersFollowTheDecimalSyntax)
{
    // Correct rounding: the digits of 9007.199254740993 exceed 2^53 and must not be rounded twice.
    EXPECT_EQ(ReadMemory("0.1 -.5e+2 5. +0 1E-3 -1e-400 9007.199254740993 "
                         "-1e999 +-1 + - . 1e 1e+ 0x10 1.5abc 1.2.3 --1 1,5"),
              "10 0.1 =0.1 @3\n10 -.5e+2 =-50 @10\n10 5. =5 @13\n10 +0 =0 @16\n10 1E-3 =0.001 @21\n"
              "10 -1e-400 =-0 @29\n10 9007.199254740993 =9007.199254740994 @47\n"
              "10 -1e999 =-inf @54\n12 +-1 @58\n12 + @60\n12 - @62\n12 . @64\n12 1e @67\n12 1e+ @71\n"
              "12 0x10 @76\n12 1.5abc @83\n12 1.2.3 @89\n12 --1 @93\n12 1,5 @97\n1  @97\n");
    // Non-finite values as C runtimes print them, on Linux and in older Windows runtimes; words that
    // merely start like them stay words.
    EXPECT_EQ(ReadMemory("inf -Infinity +NAN -nan 1.#INF00 -1.#IND00 1.#QNAN0 1.#SNAN -1.#INF "
                         "infinite nanometre infinit 1.#INFx 1.#NA -1.# 2.#INF"),
              "10 inf =inf @3\n10 -Infinity =-inf @13\n10 +NAN =nan @18\n10 -nan =-nan @23\n"
              "10 1.#INF00 =inf @32\n10 -1.#IND00 =-nan @42\n10 1.#QNAN0 =nan @51\n10 1.#SNAN =nan @59\n"
              "10 -1.#INF =-inf @67\n12 infinite @76\n12 nanometre @86\n12 infinit @94\n12 1.#INFx @102\n"
              "12 1.#NA @108\n12 -1.# @113\n12 2.#INF @120\n1  @120\n");

    // A comma-decimal locale changes nothing.
    const std::string strOld = std::setlocale(LC_ALL, nullptr);
    bool bFound = false;
    for (const char* pszName :
         {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8"})
        bFound = bFound || std::setlocale(LC_ALL, pszName) != nullptr;
    const std::string strRead = ReadMemory("1.5 -2.25e1 1,5");
    std::setlocale(LC_ALL, strOld.c_str());
    if (!bFound)
        GTEST_SKIP() << "no comma-decimal locale installed (tried de_DE, fr_FR, ru_RU)";
    EXPECT_EQ(strRead, "10 1.5 =1.5 @3\n10 -2.25e1 =-22.5 @11\n12 1,5 @15\n1  @15\n");
}

TEST(GenericParserTest, DecimalsConvertExactlyAsFromCharsAcrossBlocks)
{
    // Up to 17 digits split around the point in every way (leading zeros, either side missing, past
    // 2^53), compared bit for bit with std::from_chars, read in blocks that cut the words anywhere.
    std::vector<std::string> words;
    std::string text;
    for (const std::string digits : {"98765432109876543", "00012345678901234", "90071992547409930"})
        for (size_t n = 1; n <= digits.size(); ++n)
            for (size_t nPoint = 0; nPoint <= n; ++nPoint)
            {
                words.push_back((n % 2 ? "-" : "") + digits.substr(0, nPoint) + "." +
                                digits.substr(nPoint, n - nPoint));
                text += words.back() + (n % 5 ? " " : "\n");
            }
    // Past the short path: halfway between two doubles and just above it (only the last of 55 digits
    // tells them apart), hundreds of digits, the largest subnormal and smallest normal doubles, the
    // smallest subnormal and just above half of it (which rounds up to it).
    for (const std::string& word : std::vector<std::string>{
             "1.00000000000000011102230246251565404236316680908203125",
             "1.00000000000000011102230246251565404236316680908203126",
             "0.1000000000000000055511151231257827021181583404541015625", "1." + std::string(700, '0') + "1",
             std::string(300, '7') + "e-300", "2.2250738585072011e-308", "2.2250738585072014E-308",
             "4.9406564584124654e-324", "-2.4703282292062328e-324", "123456789012345678901234567890",
             "1.7976931348623157e308"})
    {
        words.push_back(word);
        text += word + ' ';
    }
    TempDir dir;
    CGenericParser parser;
    parser.SetBlockSize(13);
    parser.SetFilename(CBasicString(dir.Write("numbers.txt", text).c_str()));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    for (const std::string& word : words)
    {
        ASSERT_TRUE(parser.Tokenize());
        ASSERT_EQ(parser.GetCurrentTokenString(), word);
        double dExpected = 0.0;
        const char* pEnd = word.c_str() + word.size();
        const bool bNumber = std::from_chars(word.c_str(), pEnd, dExpected).ptr == pEnd;
        ASSERT_EQ(parser.GetCurrentToken().GetDataType(), bNumber ? GenericTokenNumber : GenericTokenWord)
            << word;
        const double dValue = parser.GetCurrentTokenNumericValue();
        EXPECT_TRUE(!bNumber || std::memcmp(&dValue, &dExpected, sizeof(double)) == 0)
            << word << ": " << dValue;
    }
}

TEST(GenericParserTest, ShortDecimalsGiveTheNearestFloat)
{
    // Mesh files give floats as decimals of up to 15 digits with at most 8 after the point: the double
    // a token holds must be from_chars's, and its float the float nearest to the decimal (as strtof
    // gives it, without a locale), for random decimals and for decimals next to the midpoint between
    // two floats, where rounding twice could go wrong. Read in batches, as a load reads them.
    unsigned long long nState = 7;
    auto Next = [&nState]()
    {
        nState = nState * 6364136223846793005ULL + 1442695040888963407ULL;
        return nState >> 11;
    };
    // At the fast conversion's limits first: 15 and 16 digits, 2^53 + 1.
    std::vector<std::string> words{"9007199254740993", "-1234567890123456", "999999999999999",
                                   "99999999999999.9", "0.00000000000001",  "100000000000000.5"};
    for (int i = 0; i < 60000; ++i)
    {
        char sz[64];
        const int nFraction = static_cast<int>(Next() % 9);
        if (i % 2 == 0)
        {
            const unsigned long long nDigits = Next() % 1000000000000000ULL;
            std::snprintf(sz, sizeof sz, "%s%llu", i % 4 == 0 ? "-" : "", nDigits);
            std::string word = sz;
            if (nFraction > 0 && static_cast<size_t>(nFraction) < word.size())
                word.insert(word.size() - static_cast<size_t>(nFraction), ".");
            words.push_back(word);
            continue;
        }
        // The midpoint of a float and the next, at most 15 significant digits.
        float f = 0;
        const unsigned nBits = static_cast<unsigned>(Next() % 0x57800000u); // below 1e15
        std::memcpy(&f, &nBits, sizeof f);
        const double dMiddle = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, 1e30f))) / 2;
        const int nInteger = dMiddle < 1 ? 1 : static_cast<int>(std::log10(dMiddle)) + 1;
        std::snprintf(sz, sizeof sz, "%.*f", std::max(0, std::min(8, 15 - nInteger)), dMiddle);
        words.push_back(sz);
    }
    std::string text;
    for (const std::string& word : words)
        text += word + '\n';
    CGenericParser parser;
    parser.SetInputBuffer(text.data(), text.size());
    CGenericTokenSummary aBatch[256];
    size_t nWord = 0;
    for (size_t nBatch; (nBatch = parser.ReadTokens(aBatch, 256, LLONG_MAX, 0)) > 0 || parser.Tokenize();)
    {
        if (nBatch == 0)
            aBatch[nBatch++].m_dNumericValue = parser.GetCurrentTokenNumericValue();
        for (size_t i = 0; i < nBatch && nWord < words.size(); ++i, ++nWord)
        {
            const std::string& word = words[nWord];
            double dExpected = 0;
            float fExpected = 0;
            std::from_chars(word.data(), word.data() + word.size(), dExpected);
            std::from_chars(word.data(), word.data() + word.size(), fExpected);
            const double dValue = aBatch[i].m_dNumericValue;
            const float fValue = static_cast<float>(dValue);
            ASSERT_TRUE(std::memcmp(&dValue, &dExpected, sizeof dValue) == 0 &&
                        std::memcmp(&fValue, &fExpected, sizeof fValue) == 0)
                << word << " gives " << dValue;
        }
    }
    EXPECT_EQ(nWord, words.size());
}

TEST(GenericParserTest, LookaheadAndEndOfInput)
{
    CGenericParser parser;
    parser.SetInputStringValue("a 2");
    EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenNone);
    EXPECT_STREQ(parser.GetNextTokenString(), "a");
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_EQ(parser.GetNextTokenNumericValue(), 2.0);
    ASSERT_TRUE(parser.Tokenize());
    EXPECT_TRUE(parser.Tokenize()); // makes the end current
    EXPECT_FALSE(parser.Tokenize() || parser.Tokenize());
    EXPECT_EQ(parser.GetCurrentToken().GetDataType(), GenericTokenEndOfFile);
    EXPECT_EQ(parser.GetNextToken().GetDataType(), GenericTokenEndOfFile);
    EXPECT_EQ(parser.GetCurrentFileOffset(), 3);
    // No input at all reads as empty; withdrawn string input reads as ended, at the size it had.
    CGenericParser empty;
    EXPECT_EQ(ReadAll(empty), "1  @0\n");
    parser.SetInputStringValue("x y");
    parser.SetInputStringValue(nullptr);
    EXPECT_EQ(ReadAll(parser), "1  @3\n");
}

TEST(GenericParserTest, FilesReadTheSameWithAnyBlockSize)
{
    // Tokens straddling blocks read as in one block, with the same offsets.
    TempDir dir;
    const std::string strPath = dir.Write("mixed.txt", g_MixedInput);
    const std::string expected = ReadMemory(g_MixedInput);
    for (size_t nBlock : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(0)})
    {
        CCountingParser parser;
        UseKeywords(parser).SetBlockSize(nBlock);
        parser.SetFilename(CBasicString(strPath.c_str()));
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        EXPECT_EQ(ReadAll(parser), expected) << "block size " << nBlock;
        // One block request per block, not per byte.
        const size_t nSize = nBlock == 0 ? CKarnFileInterface::DefaultBlockSize : nBlock;
        EXPECT_EQ(parser.m_nCalls, (int)((g_MixedInput.size() + nSize - 1) / nSize));
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
        parser.SetBlockSize(3);
        parser.SetFilename(CBasicString(strPath.c_str()));
        if (nFile)
        {
            ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        }
        else
            parser.SetInputBuffer(g_MixedInput.data(), g_MixedInput.size());
        for (int i = 0; i < 14; ++i)
            parser.Tokenize();
        ASSERT_TRUE(parser.SaveIOState(state));
        const std::string rest = ReadAll(parser);
        ASSERT_TRUE(parser.RestoreIOState(state)); // from the end
        EXPECT_EQ(ReadAll(parser), rest);
        ASSERT_TRUE(parser.RestoreIOState(state));
        for (int i = 0; i < 11; ++i)
            parser.Tokenize();
        ASSERT_TRUE(parser.RestoreIOState(state)); // from the middle, blocks away in a file
        EXPECT_EQ(parser.GetCurrentFileOffset(), 48);
        EXPECT_EQ(ReadAll(parser), rest);
        // Closing a file keeps the tokens scanned and the size; the rest reads as ended.
        ASSERT_TRUE(parser.RestoreIOState(state));
        EXPECT_EQ(parser.CloseFile(), nFile == 1);
        EXPECT_EQ(ReadAll(parser), nFile ? "10 -2 =-2 @51\n1  @8118\n" : rest);

        // A state belongs to the input it was saved from, even where its offsets fit another.
        const std::string strOther(100, 'o');
        parser.SetInputStringValue(strOther.c_str());
        EXPECT_FALSE(parser.RestoreIOState(state));
        EXPECT_EQ(parser.GetNextToken().GetLength(), 100u);
    }
}

TEST(GenericParserTest, OpeningOutcomes)
{
    TempDir dir;
    CGenericParser parser;
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed); // no name
    for (const fs::path& path : {dir.path / "missing.txt", dir.path})
    {
        parser.SetFilename(CBasicString(path.string().c_str()));
        EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadOpenFailed) << path;
    }
    parser.SetFilename(CBasicString(dir.Write("empty.txt", "").c_str()));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    EXPECT_EQ(ReadAll(parser), "1  @0\n");

    // A regular file that cannot be read: the process's own memory file fails at offset 0.
    if (fs::exists("/proc/self/mem"))
    {
        parser.SetFilename(CBasicString("/proc/self/mem"));
        EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadReadFailed);
        EXPECT_FALSE(parser.GetFileInterface()->GetFileHandleIsValid());
    }

    // Greek, CJK and a character beyond U+FFFF: no ANSI code page holds them all, so on Windows the name
    // opens only because it reaches the system as wide text.
    const fs::path path = dir.path / fs::path(u"\u03B1\u65E5\U0001F600.txt");
    std::ofstream(path, std::ios::binary) << "SOLID 5";
    const std::u16string name = path.u16string();
    UseKeywords(parser).SetFilename(CBasicString(reinterpret_cast<const WideChar*>(name.c_str())));
    ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
    EXPECT_EQ(ReadAll(parser), "11 SOLID #11 @5\n10 5 =5 @7\n1  @7\n");
#if !defined(_WIN32)
    // Off Windows a name is bytes: one that is not UTF-8 opens that very file.
    parser.SetFilename(CBasicString::FromPath(dir.Write("lat\xE9.txt", "x").c_str()));
    EXPECT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);

    // A stream's size reads as 0 until its end, then as what it held.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "a b", 3), 3);
    ::close(fds[1]);
    parser.SetFilename(CBasicString(("/proc/self/fd/" + std::to_string(fds[0])).c_str()));
    const GenericLoadResultTypes eStream = parser.OpenAndInitialize();
    ::close(fds[0]);
    if (eStream == GenericLoadOpenFailed)
        GTEST_SKIP() << "no /proc/self/fd here";
    EXPECT_EQ(parser.GetTotalFileSize64(), 0);
    EXPECT_EQ(ReadAll(parser), "12 a @1\n12 b @3\n1  @3\n");
#endif
}

TEST(GenericParserTest, FilesBeyondFourGigabytesKeepExactOffsets)
{
    TempDir dir;
    const long long nSize = (5LL << 30) + 3;
    const std::string strPath = dir.Write("sparse.txt", "head");
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
    // The reader seeks and reads past 4 GiB (the parser's restore path uses the same calls).
    CKarnFileInterface* pFile = parser.GetFileInterface();
    ASSERT_TRUE(pFile->SeekToOffset(nSize - 3) && pFile->ReadNextBlockFromFile());
    EXPECT_EQ(pFile->GetBlockOffset(), nSize - 3);
    EXPECT_EQ(std::string(pFile->GetBlockData(), pFile->GetBlockLength()), "z 9");
}

TEST(GenericParserTest, CopiesKeepKeywordsButNeverTheFile)
{
    TempDir dir;
    CGenericParser source;
    UseKeywords(source).SetFilename(CBasicString(dir.Write("copy.txt", "solid a b").c_str()));
    ASSERT_EQ(source.OpenAndInitialize(), GenericLoadSuccess);
    ASSERT_TRUE(source.Tokenize());

    CGenericParser copy(source), assigned;
    assigned.SetInputStringValue("pending");
    assigned = source;
    for (CGenericParser* pCopy : {&copy, &assigned})
    {
        EXPECT_EQ(ReadAll(*pCopy), "1  @0\n");
        // The copy's settings include the file name: it opens the same file on its own.
        ASSERT_EQ(pCopy->OpenAndInitialize(), GenericLoadSuccess);
        ASSERT_TRUE(pCopy->Tokenize());
        EXPECT_EQ(pCopy->GetCurrentToken().GetUserDefinedType(), 11u);
    }
    // The source reads on undisturbed.
    ASSERT_TRUE(source.Tokenize());
    EXPECT_STREQ(source.GetCurrentTokenString(), "a");
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

TEST(GenericParserTest, FailedReadsEndTheInputAndAreRemembered)
{
    TempDir dir;
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "word" + std::to_string(i) + (i % 7 == 0 ? "\n" : " ");
    const std::string strPath = dir.Write("words.txt", text);
    for (const long long nFailAt : {0LL, 1000LL, static_cast<long long>(text.size())})
    {
        CFailingReads failing(nFailAt);
        CGenericParser parser;
        parser.SetFilename(CBasicString(strPath.c_str()));
        parser.SetBlockSize(256);
        parser.GetFileInterface()->SetReadWatcher(&failing);
        const GenericLoadResultTypes eOpen = parser.OpenAndInitialize();
        if (nFailAt == 0)
        {
            // The first block is read by the open.
            EXPECT_EQ(eOpen, GenericLoadReadFailed);
            continue;
        }
        ASSERT_EQ(eOpen, GenericLoadSuccess);
        long long nLastEnd = 0;
        while (parser.Tokenize() && parser.GetCurrentToken().GetDataType() != GenericTokenEndOfFile)
            nLastEnd = parser.GetCurrentToken().GetEndOffset();
        // The tokens stop at the failed block (one word may be cut there); the failure is kept, with the
        // error, also once the file is closed, and goes with the next open.
        EXPECT_LE(nLastEnd, nFailAt / 256 * 256 + 256) << nFailAt;
        EXPECT_TRUE(parser.GetReadFailed());
        EXPECT_EQ(parser.GetFileInterface()->GetSystemError(), EIO);
        parser.CloseFile();
        EXPECT_TRUE(parser.GetReadFailed());
        parser.GetFileInterface()->SetReadWatcher(nullptr);
        ASSERT_EQ(parser.OpenAndInitialize(), GenericLoadSuccess);
        EXPECT_FALSE(parser.GetReadFailed());
    }
}

#if !defined(_WIN32)
namespace
{
std::atomic<bool> g_bInterrupted{false};
extern "C" void NoteInterrupt(int)
{
    g_bInterrupted = true;
}

// Stops a read that waits for data once a signal came.
struct CStopOnSignal : CKarnReadWatcher
{
    int BeforeRead(long long) override { return g_bInterrupted ? EINTR : 0; }
};
} // namespace

TEST(GenericParserTest, AWatcherStopsAReadThatWaitsForData)
{
    // A pipe whose writer stays open and silent: the read waits until a signal interrupts it, when the
    // watcher ends it.
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = &NoteInterrupt; // no SA_RESTART: the waiting read returns EINTR
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    int aPipe[2];
    ASSERT_EQ(::pipe(aPipe), 0);
    CStopOnSignal watcher;
    CGenericParser parser;
    parser.SetFilename(CBasicString(("/dev/fd/" + std::to_string(aPipe[0])).c_str()));
    parser.GetFileInterface()->SetReadWatcher(&watcher);
    GenericLoadResultTypes eOpen = GenericLoadSuccess;
    const pthread_t reader = ::pthread_self();
    std::thread interrupter(
        [reader]()
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            g_bInterrupted = true;
            ::pthread_kill(reader, SIGUSR1);
        });
    eOpen = parser.OpenAndInitialize();
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    ::close(aPipe[0]);
    ::close(aPipe[1]);
    EXPECT_EQ(eOpen, GenericLoadReadFailed);
    EXPECT_EQ(parser.GetFileInterface()->GetSystemError(), EINTR);
}

TEST(GenericParserTest, InMemoryInputBeyondFourGigabytes)
{
    // 4 GiB and 4 KiB of NUL bytes (white space, and pages the system need not back), with words after
    // 4 GiB and one across it: offsets past 32 bits must stay exact, and the input must end.
    const size_t nSize = (size_t(4) << 30) + 4096;
    void* pMapping =
        ::mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (pMapping == MAP_FAILED)
        GTEST_SKIP() << "cannot map 4 GiB here";
    char* const pData = static_cast<char*>(pMapping);
    const size_t nAcross = (size_t(4) << 30) - 2;
    std::memcpy(pData + 100, "first", 5);
    std::memcpy(pData + nAcross, "cut1.5", 6);
    std::memcpy(pData + nAcross + 1000, "solid", 5);
    std::memcpy(pData + nSize - 3, "end", 3);
    CGenericParser parser;
    UseKeywords(parser).SetInputBuffer(pData, nSize);
    std::ostringstream out;
    for (int i = 0; i < 6 && parser.Tokenize(); ++i)
        out << std::string(parser.GetCurrentToken().GetString(), parser.GetCurrentToken().GetLength()) << '@'
            << parser.GetCurrentToken().GetEndOffset() << ' ';
    ::munmap(pMapping, nSize);
    EXPECT_EQ(out.str(), "first@105 cut1.5@" + std::to_string(nAcross + 6) + " solid@" +
                             std::to_string(nAcross + 1005) + " end@" + std::to_string(nSize) + " @" +
                             std::to_string(nSize) + " ");
}
#endif
