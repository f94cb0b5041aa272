/// \file
/// CSLPIOManager: the tokenizer of an SLP load. It installs the SLP keyword table and turns the
/// tokenizer's data types into SLP token types. The loader library exports only CSLPParser, so the
/// class is defined entirely here, inline: a host that reaches it through CSLPParser::GetIOManager (or
/// makes one) compiles what it calls, the class's type information included.
#pragma once

#include "slp/SLPTypes.h"
#include "tokenizer/GenericParser.h"
#include "tokenizer/KarnFileInterface.h"

/// The SLP keywords and the brackets, with their SLP token types as ids. Writable because the tokenizer
/// takes a non-const table; shared by every manager of a module and never copied.
inline ParserKeywordEntry SLPKeywordTable[16] = {
    {"{", SLPTokenOpenBrace},       {"}", SLPTokenCloseBrace},      {"[", SLPTokenOpenBracket},
    {"]", SLPTokenCloseBracket},    {"(", SLPTokenOpenParen},       {")", SLPTokenCloseParen},
    {"SOLID", SLPTokenSolid},       {"ENDSOLID", SLPTokenEndSolid}, {"FACET", SLPTokenFacet},
    {"ENDFACET", SLPTokenEndFacet}, {"OUTER", SLPTokenOuter},       {"LOOP", SLPTokenLoop},
    {"ENDLOOP", SLPTokenEndLoop},   {"NORMAL", SLPTokenNormal},     {"VERTEX", SLPTokenVertex},
    {"COLOR", SLPTokenColor}};

class CSLPIOManager : public CGenericParser
{
public:
    /// Installs the SLP keyword table.
    CSLPIOManager()
    {
        SetKeywordTable(SLPKeywordTable);
        SetKeywordTableSize(16);
    }
    /// Copies the tokenizer settings and the keyword table; the copy has no file open.
    CSLPIOManager(const CSLPIOManager& other) : CGenericParser(other) {}
    CSLPIOManager& operator=(CSLPIOManager& other)
    {
        CGenericParser::operator=(other);
        return *this;
    }
    /// Closes a file that is still open.
    ~CSLPIOManager() { CloseFile(); }

    /// Opens the file named by SetFilename: SLPLoadSuccess when tokens can be read, SLPLoadResult2 when
    /// the file opened but could not be read, SLPLoadFailure otherwise.
    SLPLoadResultTypes OpenInputFile()
    {
        switch (OpenAndInitialize())
        {
        case GenericLoadSuccess:
            return SLPLoadSuccess;
        case GenericLoadReadFailed:
            return SLPLoadResult2;
        default:
            return SLPLoadFailure;
        }
    }

    /// The SLP type of a token: brackets by data type or keyword id, numbers, the two value kinds, and
    /// keywords by their row's id; everything else SLPTokenNone.
    static SLPTokenTypes GetTokenType(CGenericToken& token)
    {
        if (token.GetDataType() == GenericTokenKeyword)
            return static_cast<SLPTokenTypes>(token.GetUserDefinedType());
        return GetDataTypeType(token.GetDataType());
    }
    /// The SLP type of any data type but a keyword.
    static SLPTokenTypes GetDataTypeType(GenericTokenTypes eDataType)
    {
        switch (eDataType)
        {
        case GenericTokenEndOfFile:
            return SLPTokenEndOfFile;
        case GenericTokenOpenBrace:
            return SLPTokenOpenBrace;
        case GenericTokenCloseBrace:
            return SLPTokenCloseBrace;
        case GenericTokenOpenBracket:
            return SLPTokenOpenBracket;
        case GenericTokenCloseBracket:
            return SLPTokenCloseBracket;
        case GenericTokenOpenParen:
            return SLPTokenOpenParen;
        case GenericTokenCloseParen:
            return SLPTokenCloseParen;
        case GenericTokenQuotedString:
            return SLPTokenGenericType8;
        case GenericTokenBoolean:
            return SLPTokenGenericType9;
        case GenericTokenNumber:
            return SLPTokenNumber;
        default:
            return SLPTokenNone;
        }
    }
    /// The SLP type of a token that a fast reader took as a summary (CGenericParser::ReadTokens).
    static SLPTokenTypes GetSummaryType(const CGenericTokenSummary& summary)
    {
        // By table, since this runs for every token of a load.
        static constexpr SLPTokenTypes s_aTypes[] = {
            SLPTokenNone,         SLPTokenEndOfFile,    SLPTokenOpenBrace, SLPTokenCloseBrace,
            SLPTokenOpenBracket,  SLPTokenCloseBracket, SLPTokenOpenParen, SLPTokenCloseParen,
            SLPTokenGenericType8, SLPTokenGenericType9, SLPTokenNumber,    SLPTokenNone,
            SLPTokenNone};
        const unsigned nDataType = static_cast<unsigned>(summary.m_eDataType);
        if (nDataType == GenericTokenKeyword)
            return static_cast<SLPTokenTypes>(summary.m_nUserDefinedType);
        return nDataType < sizeof(s_aTypes) / sizeof(s_aTypes[0]) ? s_aTypes[nDataType] : SLPTokenNone;
    }
    static bool IsBeginType(SLPTokenTypes type)
    {
        return type == SLPTokenOpenBrace || type == SLPTokenOpenBracket || type == SLPTokenOpenParen;
    }
    static bool IsEndType(SLPTokenTypes type)
    {
        return type == SLPTokenCloseBrace || type == SLPTokenCloseBracket || type == SLPTokenCloseParen;
    }

    SLPTokenTypes GetCurrentTokenType() { return GetTokenType(GetCurrentToken()); }
    SLPTokenTypes GetNextTokenType() { return GetTokenType(GetNextToken()); }
    bool GetCurrentTokenBeginType() { return IsBeginType(GetCurrentTokenType()); }
    bool GetCurrentTokenEndType() { return IsEndType(GetCurrentTokenType()); }
    bool GetNextTokenBeginType() { return IsBeginType(GetNextTokenType()); }
    bool GetNextTokenEndType() { return IsEndType(GetNextTokenType()); }
    GenericTokenTypes GetCurrentTokenDataType() { return GetCurrentToken().GetDataType(); }
    GenericTokenTypes GetNextTokenDataType() { return GetNextToken().GetDataType(); }

protected:
    /// Reads the next block of the open file; false when no file is open.
    bool ReadNextBlock() override
    {
        CKarnFileInterface* pFile = GetFileInterface();
        if (!pFile->GetFileHandleIsValid())
            return false;
        // A short or failed read shows up to the tokenizer as the end of the input.
        pFile->ReadNextBlockFromFile();
        SetInputStringValue(nullptr);
        return true;
    }
};
