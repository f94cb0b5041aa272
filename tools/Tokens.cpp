#include "slp/SLPParser.h"
#include "tools/Commands.h"
#include "tools/Output.h"

#include <cstdio>

namespace
{

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

const char* const TokensHelp =
    "Usage: slp tokens [options] FILE\n"
    "Print the file's tokens (- for standard input) as the loader's token layer sees them, one a line:\n"
    "LINE:COLUMN, the SLP token type, the tokenizer's data type, the text (bytes that are not UTF-8\n"
    "shown as \\xNN) and, for numbers, the value.\n"
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
    parser.SetFileName(CBasicString::FromPath(InputPath(name).c_str()));
    CSLPIOManager& tokens = *parser.GetIOManager();
    tokens.SetLineTracking(true);
    tokens.SetFilename(parser.GetFileName());
    const SLPLoadResultTypes eOpen = tokens.OpenInputFile();
    if (eOpen != SLPLoadSuccess)
    {
        std::fprintf(stderr, "slp: %s: %s\n", DisplayName(name).c_str(),
                     DescribeFailure(parser, eOpen).c_str());
        return 1;
    }

    COutput out(stdout);
    for (long long nCount = 0; (nLimit <= 0 || nCount < nLimit) && parser.Tokenize(); ++nCount)
    {
        const CGenericToken& token = tokens.GetCurrentToken();
        const SLPTokenTypes eType = parser.GetCurrentTokenType();
        out << token.GetLine() << ':' << token.GetColumn() << '\t' << TokenTypeName(eType) << '\t'
            << static_cast<int>(token.GetDataType()) << '\t';
        out.QuotedBytes(token.GetString(), token.GetLength());
        if (eType == SLPTokenNumber)
        {
            out << '\t';
            out.Double(token.GetNumericValue());
        }
        out << '\n';
        if (eType == SLPTokenEndOfFile)
            break;
    }
    tokens.CloseFile();
    return 0;
}
