/// \file
/// The SLP meaning of tokens and the outcome of a load.
#pragma once

/// What a token means to the SLP grammar. A keyword token's type is its keyword-table row's id, passed
/// on unchecked, so the enumeration is fixed at 32 bits and may hold values outside the named ones.
enum SLPTokenTypes : int
{
    SLPTokenNone = 0,         ///< no SLP meaning
    SLPTokenEndOfFile = 1,    ///< end of input
    SLPTokenOpenBrace = 2,    ///< "{"
    SLPTokenCloseBrace = 3,   ///< "}"
    SLPTokenOpenBracket = 4,  ///< "["
    SLPTokenCloseBracket = 5, ///< "]"
    SLPTokenGenericType8 = 6, ///< the tokenizer's value kind 8 (a quoted text)
    SLPTokenGenericType9 = 7, ///< the tokenizer's value kind 9 (TRUE or FALSE)
    SLPTokenNumber = 8,       ///< a number
    SLPTokenOpenParen = 9,    ///< "("
    SLPTokenCloseParen = 10,  ///< ")"
    SLPTokenSolid = 11,       ///< "SOLID"
    SLPTokenEndSolid = 12,    ///< "ENDSOLID"
    SLPTokenFacet = 13,       ///< "FACET"
    SLPTokenEndFacet = 14,    ///< "ENDFACET"
    SLPTokenOuter = 15,       ///< "OUTER"
    SLPTokenLoop = 16,        ///< "LOOP"
    SLPTokenEndLoop = 17,     ///< "ENDLOOP"
    SLPTokenNormal = 18,      ///< "NORMAL"
    SLPTokenVertex = 19,      ///< "VERTEX"
    SLPTokenColor = 20        ///< "COLOR"
};

/// The outcome of CSLPParser::Parse.
enum SLPLoadResultTypes : int
{
    /// The file was read to its end and the world holds at least one object or group.
    SLPLoadSuccess = 0,
    /// No file name, no world, the file could not be opened, or the world ends the load empty.
    SLPLoadFailure = 1,
    /// The file was opened but could not be read.
    SLPLoadResult2 = 2
};
