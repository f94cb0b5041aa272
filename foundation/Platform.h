/// \file
/// The platform layer: the few text services of the operating system and C runtime that the foundation
/// classes rely on. On Windows they are the system's own; elsewhere one portable implementation stands
/// in for them.
///
/// Text is held in 16-bit code units (WideChar); its conversions to and from narrow text are in
/// foundation/TextCodec.h.
///
/// This header includes nothing from windows.h; a host may include windows.h before or after it.
#pragma once

#include "foundation/Export.h"
#include "foundation/TextCodec.h"
#include "foundation/WideChar.h"

#include <cstdarg>
#include <cstddef>

#if defined(_WIN32)
struct HINSTANCE__;
/// A handle naming a module whose string resources LoadString reads.
typedef HINSTANCE__* ModuleHandle;
#else
/// A handle naming a module whose string resources LoadString reads.
typedef void* ModuleHandle;
#endif

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

/// Formats with the legacy wide conventions (%s and %c take wide text and characters, %S and %C narrow ones;
/// the l and w lengths make either wide, h makes either narrow) into a buffer of nCount code units. Takes the
/// flags "-+ #0", width and precision (digits or '*'), the lengths hh h l ll L z j t w I I32 I64 q, and the
/// conversions d i u o x X e E f F g G a A p c C s S %. Null text prints "(null)"; a precision bounds how far
/// text is read (code units of wide text, bytes of narrow text); %p prints upper-case hex digits zero-padded
/// to the pointer's width. Numbers are written by the C runtime in the process's current C locale. Returns
/// the number of code units written before the NUL, or -1 when the buffer is null or empty, the format is
/// null or invalid (an unknown conversion, %n, a width or precision beyond int), or the output does not fit
/// (the buffer then holds an empty text). Allocates only temporaries (converted narrow text, one number's
/// conversion directive and digits), so it may raise std::bad_alloc.
BASIC_API int BasicFormatV(WideChar* pBuffer, size_t nCount, const WideChar* pszFormat, va_list args);

/// The module of the main program for a null name, else the loaded module of that name, or null: on
/// Windows GetModuleHandleW. Off Windows, names other than null give null: modules are only the handles
/// that programs register strings under.
BASIC_API ModuleHandle BasicGetModuleHandle(const WideChar* pszName);

/// Copies string resource nId of a module into a buffer of nCount code units, cut to nCount - 1 units
/// and NUL-terminated, as LoadStringW does; returns the number of code units copied, 0 (and an empty
/// buffer) when there is no such string, 0 when the buffer is null or nCount is 0 or less. A null module
/// is the main program. On Windows the strings are the module's string-table resources (LoadStringW);
/// off Windows they come from the table that BasicRegisterString fills. Thread-safe.
BASIC_API int BasicLoadString(ModuleHandle hModule, unsigned int nId, WideChar* pBuffer, int nCount);

/// Off Windows: registers (or replaces, or with a null or empty text removes) string resource nId of a
/// module in the process-wide table, copying the text; a null module means the main program. Any other
/// non-null value names a module of the caller's choosing. Returns false, and changes nothing, for id 0.
/// Thread-safe; may raise std::bad_alloc. On Windows string resources are compiled into a module from
/// a resource script; this returns false and changes nothing.
BASIC_API bool BasicRegisterString(ModuleHandle hModule, unsigned int nId, const WideChar* pszText);

/// Makes the pages of a freshly allocated range resident and writable with one system call, where the
/// system has one (Linux's MADV_POPULATE_WRITE), instead of a page fault per page on first use; large
/// list storage fills faster that way. The contents are not changed. Elsewhere, or when the kernel
/// lacks the call, it does nothing. Thread-safe, never fails, never throws.
BASIC_API void BasicPrefaultForWriting(const void* pBegin, size_t nBytes);
