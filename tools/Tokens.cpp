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

} // namespace

int RunTokens(const std::string& file, long long nLimit)
{
    CSLPParser parser;
    parser.SetFileName(CBasicString::FromPath(file.c_str()));
    parser.GetIOManager()->SetFilename(parser.GetFileName());
    const SLPLoadResultTypes eOpen = parser.GetIOManager()->OpenInputFile();
    if (eOpen != SLPLoadSuccess)
    {
        std::fprintf(stderr, "slp: %s: %s\n", file.c_str(), DescribeFailure(file, eOpen).c_str());
        return 1;
    }

    COutput out(stdout);
    long long nCount = 0;
    while ((nLimit <= 0 || nCount < nLimit) && parser.Tokenize())
    {
        ++nCount;
        const SLPTokenTypes eType = parser.GetCurrentTokenType();
        out << TokenTypeName(eType) << '\t' << static_cast<int>(parser.GetCurrentTokenDataType()) << '\t';
        out.JsonString(parser.GetCurrentTokenString());
        if (eType == SLPTokenNumber)
        {
            out << '\t';
            out.Double(parser.GetCurrentTokenNumericValue());
        }
        out << '\n';
        if (eType == SLPTokenEndOfFile)
            break;
    }
    parser.GetIOManager()->CloseFile();
    return 0;
}
