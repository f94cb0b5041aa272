/// \file
/// Conversions between wide text (16-bit code units, UTF-16 by convention) and narrow text.
///
/// Three narrow forms, each for its own use:
///   - the ANSI code page (BasicMultiByteToWide, BasicWideToMultiByte): what CBasicString converts
///     with, and so the names read from files. On Windows it is the system's code page. Elsewhere a
///     narrow text that is valid UTF-8 decodes as UTF-8 and one that is not decodes byte for byte as
///     Windows-1252, so names written by Windows programs survive; output is UTF-8;
///   - UTF-8 proper (BasicWideToUtf8), for output that must be UTF-8 on every system (JSON, glTF,
///     OBJ names): a lone surrogate becomes U+FFFD;
///   - file names (BasicPathToWide, BasicWideToPath), which must reach the system as the exact bytes
///     given. Off Windows a name is bytes: UTF-8 sequences decode as UTF-8 and every other byte travels
///     as a lone surrogate U+DC80..U+DCFF that converts back to the same byte, so any name round-trips.
///     On Windows these are the ANSI code page conversions (names reach the system as wide text there).
///
/// All share the protocol of MultiByteToWideChar with length -1: with a null or zero-sized output they
/// return the number of units the result needs, its terminating NUL included; otherwise they write the
/// result with its NUL and return that number, or 0 when the output is too small. A null text, a
/// negative size or a result whose size does not fit in an int gives 0. None allocates or throws.
#pragma once

#include "foundation/Export.h"
#include "foundation/WideChar.h"

#include <string>

/// Narrow text in the ANSI code page to wide text.
BASIC_API int BasicMultiByteToWide(const char* pszText, WideChar* pOut, int nOutCount);
/// Wide text to the ANSI code page. Never fails for want of a character: off Windows a lone surrogate
/// is written as U+FFFD; on Windows a character the code page lacks as its default character ('?').
BASIC_API int BasicWideToMultiByte(const WideChar* pszText, char* pOut, int nOutCount);
/// Wide text to UTF-8 on every system, a lone surrogate written as U+FFFD.
BASIC_API int BasicWideToUtf8(const WideChar* pszText, char* pOut, int nOutCount);
/// A file name as the system has it (bytes off Windows) to wide text that converts back exactly.
BASIC_API int BasicPathToWide(const char* pszPath, WideChar* pOut, int nOutCount);
/// Wide text to a file name as the system takes it: the inverse of BasicPathToWide.
BASIC_API int BasicWideToPath(const WideChar* pszText, char* pOut, int nOutCount);

/// The UTF-8 form of a wide text as a string (empty for a null text); raises std::bad_alloc.
inline std::string BasicToUtf8(const WideChar* pszText)
{
    const int nSize = BasicWideToUtf8(pszText, nullptr, 0);
    if (nSize <= 1)
        return std::string();
    std::string text(static_cast<size_t>(nSize), '\0');
    BasicWideToUtf8(pszText, &text[0], nSize);
    text.resize(static_cast<size_t>(nSize - 1));
    return text;
}
