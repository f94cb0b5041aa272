#include "checker/LoadFailure.h"
#include "slp/SLPParser.h"
#include "tools/Commands.h"

#include <cstdio>
#include <string>

namespace
{

// The length of the strict UTF-8 sequence of several bytes at p (of n readable bytes), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t n)
{
    const unsigned char b = p[0];
    size_t nLength = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (nLength == 0 || nLength > n)
        return 0;
    for (size_t i = 1; i < nLength; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] > 0x9F) || (b == 0xF0 && p[1] < 0x90) ||
        (b == 0xF4 && p[1] > 0x8F))
        return 0;
    return nLength;
}

// Bytes of any kind in double quotes for a reader: UTF-8 characters as they are, quotes and
// backslashes escaped, tabs and line ends as \t \n \r, and any other byte (a control character, a byte
// that is not part of a UTF-8 sequence) as \xNN.
std::string QuotedBytes(const char* pBytes, size_t nCount)
{
    static const char szHex[] = "0123456789ABCDEF";
    const auto* p = reinterpret_cast<const unsigned char*>(pBytes);
    std::string strQuoted(1, '"');
    for (size_t i = 0; i < nCount;)
    {
        const unsigned char c = p[i];
        if (c >= 0x80)
        {
            const size_t nLength = Utf8SequenceLength(p + i, nCount - i);
            if (nLength > 0)
            {
                strQuoted.append(pBytes + i, nLength);
                i += nLength;
                continue;
            }
        }
        if (c == '"' || c == '\\')
            (strQuoted += '\\') += static_cast<char>(c);
        else if (c == '\t')
            strQuoted += "\\t";
        else if (c == '\n')
            strQuoted += "\\n";
        else if (c == '\r')
            strQuoted += "\\r";
        else if (c >= 0x20 && c < 0x7F)
            strQuoted += static_cast<char>(c);
        else
            ((strQuoted += "\\x") += szHex[c >> 4]) += szHex[c & 15];
        ++i;
    }
    strQuoted += '"';
    return strQuoted;
}

const char* TokenTypeName(SLPTokenTypes eType)
{
    static const char* const aNames[] = {
        "SLPTokenNone",        "SLPTokenEndOfFile",    "SLPTokenOpenBrace",    "SLPTokenCloseBrace",
        "SLPTokenOpenBracket", "SLPTokenCloseBracket", "SLPTokenGenericType8", "SLPTokenGenericType9",
        "SLPTokenNumber",      "SLPTokenOpenParen",    "SLPTokenCloseParen",   "SLPTokenSolid",
        "SLPTokenEndSolid",    "SLPTokenFacet",        "SLPTokenEndFacet",     "SLPTokenOuter",
        "SLPTokenLoop",        "SLPTokenEndLoop",      "SLPTokenNormal",       "SLPTokenVertex",
        "SLPTokenColor"};
    const int nType = static_cast<int>(eType);
    return nType >= 0 && nType <= SLPTokenColor ? aNames[nType] : "SLPToken?";
}

// The tokenizer's data type in a word.
const char* DataTypeName(GenericTokenTypes eType)
{
    static const char* const aNames[] = {"none",    "end",     "bracket", "bracket", "bracket",
                                         "bracket", "bracket", "bracket", "quoted",  "boolean",
                                         "number",  "keyword", "word"};
    const int nType = static_cast<int>(eType);
    return nType >= 0 && nType <= GenericTokenWord ? aNames[nType] : "?";
}

const char* const TokensHelp =
    "Usage: slp tokens [options] FILE\n"
    "Print the file's tokens (- for standard input) as the loader's token layer sees them, one a line:\n"
    "LINE:COLUMN, the SLP token type (SLPTokenSolid, SLPTokenNumber, ...; SLPTokenNone for a word the\n"
    "loader passes over), the tokenizer's kind of token (keyword, word, number, quoted, boolean, bracket,\n"
    "end), the text (bytes that are not UTF-8 shown as \\xNN) and, for numbers, the value.\n"
    "\n"
    "Options:\n"
    "  --limit N     stop after N tokens (0: all)\n"
    "  -q, --quiet   accepted for every subcommand; tokens draws no progress bar anyway\n";

} // namespace

int RunTokens(const std::vector<std::string>& arguments)
{
    CArguments parsed;
    int nExit = 0;
    if (!ParseArguments("tokens", arguments, {{"--limit", 0, true}, {"--quiet", 'q', false}}, TokensHelp,
                        parsed, nExit))
        return nExit;
    long long nLimit = 0;
    if (parsed.Has("--limit") && !ParseCount(parsed.Value("--limit"), nLimit))
        return UsageError("tokens",
                          "--limit takes a whole number from 0 up, not \"" + parsed.Value("--limit") + "\"");
    if (parsed.Positionals().size() != 1)
        return UsageError("tokens", "name one file (- for standard input)");
    const std::string& name = parsed.Positionals()[0];

    CSLPParser parser;
    CSLPIOManager& tokens = *parser.GetIOManager();
    CBinaryInputGuard guard; // binary input is refused at its first block, not read to its end
    const SLPLoadResultTypes eOpen = OpenForTokens(parser, name, guard);
    if (eOpen != SLPLoadSuccess)
    {
        std::fprintf(stderr, "slp: %s: %s\n", DisplayName(name).c_str(),
                     DescribeReadFailure(parser, eOpen).c_str());
        return 1;
    }

    CStdout out;
    for (long long nCount = 0; (nLimit <= 0 || nCount < nLimit) && parser.Tokenize(); ++nCount)
    {
        const CGenericToken& token = tokens.GetCurrentToken();
        const SLPTokenTypes eType = parser.GetCurrentTokenType();
        out << token.GetLine() << ':' << token.GetColumn() << '\t' << TokenTypeName(eType) << '\t'
            << DataTypeName(token.GetDataType()) << '\t';
        out << QuotedBytes(token.GetString(), token.GetLength());
        if (eType == SLPTokenNumber)
        {
            out << '\t';
            out.Double(token.GetNumericValue());
        }
        out << '\n';
        if (eType == SLPTokenEndOfFile)
            break;
    }
    const bool bReadFailed = tokens.GetReadFailed();
    tokens.CloseFile();
    if (bReadFailed)
    {
        out.Flush();
        std::fprintf(stderr, "slp: %s: %s\n", DisplayName(name).c_str(),
                     DescribeReadFailure(parser, SLPLoadResult2).c_str());
        return 1;
    }
    return 0;
}
