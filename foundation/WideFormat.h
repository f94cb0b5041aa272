/// \file
/// The wide formatter: printf-style formatting into 16-bit text with the legacy wide conventions, the
/// same on every system (the C runtimes disagree on what %s means in a wide format).
#pragma once

#include "foundation/Export.h"
#include "foundation/WideChar.h"

#include <cstdarg>
#include <cstddef>

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
