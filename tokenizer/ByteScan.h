/// \file
/// The tokenizer's first stage: finding where tokens start and end in a block of bytes. Internal to
/// the tokenizer library.
///
/// Byte classes: white space (space, tab, CR, LF, VT, FF and NUL), brackets ("{", "}", "[", "]", "(",
/// ")"), the double quote, and word bytes (everything else). A word is a run of word bytes; a bracket is
/// a token of its own; a double quote starts a quoted token, which the parser scans itself.
///
/// The stage works a block at a time: ScanSpans classifies the block's bytes 16, 32 or 64 at a time
/// into bit masks (as simdjson finds its structural characters) and lists each token's start and end,
/// so the parser takes the next token from a list instead of searching for it. Three ways do the same
/// work: AVX2 (chosen at run time where the processor has it), SSE2 (every x86-64; in WebAssembly built
/// with SIMD128, -msimd128, the same tests on its 128-bit vectors), and a plain one with no vector
/// instruction, which other processors use; GenericLimitScan selects a slower way for tests.
#pragma once

#include "tokenizer/Export.h"
#include "tokenizer/GenericToken.h"

#include <cstddef>
#include <cstdint>

/// The ways a block is scanned and its numbers converted, slowest first: with no vector instruction,
/// with SSE2 (every x86-64) or WebAssembly's SIMD128 (a module built with it), with AVX2 and what comes
/// with it.
enum GenericScanLevels
{
    GenericScanPlain,
    GenericScanSse2,
    GenericScanAvx2
};

/// Makes every tokenizer input opened from now on use at most the given way: the fastest the processor
/// has up to it (GenericScanAvx2, the default, leaves the choice to the processor; GenericScanPlain
/// forces the way without vector instructions that other processors use). For tests and measurements;
/// the results are the same whichever way reads them.
GENERIC_API void GenericLimitScan(GenericScanLevels eFastest);

/// Compiles a function for the instructions that every processor with AVX2 has (AVX2, BMI1, BMI2 and
/// the population count); it must only run where CurrentScanLevel() is ScanAvx2.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define GENERIC_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#else
#define GENERIC_TARGET_AVX2
#endif

namespace generic_scan
{

enum ByteKinds : unsigned char
{
    KindWord = 0,
    KindSpace = 1,
    KindBracket = 2,
    KindQuote = 3
};

struct CharTable
{
    unsigned char m_Kinds[256];
};

constexpr CharTable MakeCharTable()
{
    CharTable table{};
    for (int i = 0; i < 256; ++i)
        table.m_Kinds[i] = KindWord;
    const unsigned char spaces[] = {' ', '\t', '\r', '\n', '\v', '\f', '\0'};
    for (unsigned char c : spaces)
        table.m_Kinds[c] = KindSpace;
    const unsigned char brackets[] = {'{', '}', '[', ']', '(', ')'};
    for (unsigned char c : brackets)
        table.m_Kinds[c] = KindBracket;
    table.m_Kinds[static_cast<unsigned char>('"')] = KindQuote;
    return table;
}

inline constexpr CharTable g_CharTable = MakeCharTable();

inline unsigned char KindOf(char c)
{
    return g_CharTable.m_Kinds[static_cast<unsigned char>(c)];
}

inline bool IsSpace(char c)
{
    return KindOf(c) == KindSpace;
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// ASCII upper case only, so keyword matching does not follow the process locale.
inline unsigned char FoldAscii(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

inline bool EqualNoCase(const char* pA, const char* pB, size_t nCount)
{
    for (size_t i = 0; i < nCount; ++i)
        if (FoldAscii(pA[i]) != FoldAscii(pB[i]))
            return false;
    return true;
}

GenericTokenTypes BracketType(char c);

/// The first byte in [p, pEnd) that is not white space, or pEnd; the first byte that ends a word
/// (white space, a bracket, a quote), or pEnd. Never read at or past pEnd.
const char* SkipSpace(const char* p, const char* pEnd);
const char* FindWordEnd(const char* p, const char* pEnd);

/// How a block is scanned: which of the three ways (chosen once per input).
using ScanLevels = GenericScanLevels;
constexpr ScanLevels ScanPlain = GenericScanPlain;
constexpr ScanLevels ScanSse2 = GenericScanSse2;
constexpr ScanLevels ScanAvx2 = GenericScanAvx2;

/// The way inputs opened now use: the fastest the processor has, up to GenericLimitScan's limit.
ScanLevels CurrentScanLevel();

/// Lists the words and brackets of a block from offset nFrom, in order: the k-th token starts at
/// pStarts[k] and ends before pEnds[k] (offsets into the block). Both lists need room for nRoom + 3
/// entries (positions are written four at a time). It stops before a double quote (nStop is then the
/// quote's offset), before a word that reaches the block's end unless bFinal says no byte follows the
/// block (nStop is then the word's start), or when fewer than 64 entries are left (nStop is where the
/// next token starts or a chunk of white space before it). Returns the number of tokens listed. The
/// block may be up to 4 GiB.
size_t ScanSpans(ScanLevels eLevel, const char* pBlock, size_t nFrom, size_t nLength, bool bFinal,
                 std::uint32_t* pStarts, std::uint32_t* pEnds, size_t nRoom, size_t& nStop);

} // namespace generic_scan
