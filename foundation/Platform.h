/// \file
/// The platform layer: the few text services of the operating system and C runtime that the foundation
/// classes rely on. On Windows they are the system's own; elsewhere one portable implementation stands
/// in for them.
///
/// Text is held in 16-bit code units (WideChar); its conversions to and from narrow text are in
/// foundation/TextCodec.h, formatting in foundation/WideFormat.h and string resources in
/// foundation/StringResources.h, which this header includes.
///
/// This header includes nothing from windows.h; a host may include windows.h before or after it.
#pragma once

#include "foundation/Export.h"
#include "foundation/StringResources.h"
#include "foundation/TextCodec.h"
#include "foundation/WideChar.h"
#include "foundation/WideFormat.h"

#include <cstdarg>
#include <cstddef>

/// Case mapping and white-space classification of one code unit, through the C runtime's towupper,
/// towlower and iswspace on the unit's value (so they follow the process's C locale; off Windows a
/// mapping beyond 16 bits leaves the unit as it is).
BASIC_API WideChar BasicToUpper(WideChar c);
BASIC_API WideChar BasicToLower(WideChar c);
BASIC_API bool BasicIsSpace(WideChar c);

/// Compares two NUL-terminated texts without regard to case: _wcsicmp on Windows, elsewhere the same
/// rule (both folded to lower case unit by unit); negative, 0 or positive. A null text counts as the
/// empty text.
BASIC_API int BasicCompareNoCase(const WideChar* pszA, const WideChar* pszB);

/// The number of code units before the terminating NUL; 0 for a null text.
BASIC_API int BasicWideLength(const WideChar* pszText);

/// Makes the pages of a freshly allocated range resident and writable with one system call, where the
/// system has one (Linux's MADV_POPULATE_WRITE), instead of a page fault per page on first use; large
/// list storage fills faster that way. The contents are not changed. Elsewhere, or when the kernel
/// lacks the call, it does nothing. Thread-safe, never fails, never throws.
BASIC_API void BasicPrefaultForWriting(const void* pBegin, size_t nBytes);
