#include "slp/SLPIOManager.h"

#include "external/tokenizer/KarnFileInterface.h"

ParserKeywordEntry SLPKeywordTable[16] = {
    {"{", SLPTokenOpenBrace},       {"}", SLPTokenCloseBrace},      {"[", SLPTokenOpenBracket},
    {"]", SLPTokenCloseBracket},    {"(", SLPTokenOpenParen},       {")", SLPTokenCloseParen},
    {"SOLID", SLPTokenSolid},       {"ENDSOLID", SLPTokenEndSolid}, {"FACET", SLPTokenFacet},
    {"ENDFACET", SLPTokenEndFacet}, {"OUTER", SLPTokenOuter},       {"LOOP", SLPTokenLoop},
    {"ENDLOOP", SLPTokenEndLoop},   {"NORMAL", SLPTokenNormal},     {"VERTEX", SLPTokenVertex},
    {"COLOR", SLPTokenColor}};

CSLPIOManager::CSLPIOManager()
{
    SetKeywordTable(SLPKeywordTable);
    SetKeywordTableSize(16);
}

CSLPIOManager::CSLPIOManager(const CSLPIOManager& other) : CGenericParser(other) {}

CSLPIOManager& CSLPIOManager::operator=(CSLPIOManager& other)
{
    CGenericParser::operator=(other);
    return *this;
}

CSLPIOManager::~CSLPIOManager()
{
    CloseFile();
}

bool CSLPIOManager::ReadNextBlock()
{
    CKarnFileInterface* pFile = GetFileInterface();
    if (!pFile->GetFileHandleIsValid())
        return false;
    // A short or failed read shows up to the tokenizer as the end of the input.
    pFile->ReadNextBlockFromFile();
    SetInputStringValue(nullptr);
    return true;
}
