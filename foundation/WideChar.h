/// \file
/// WideChar: the 16-bit code unit of the foundation's wide text.
#pragma once

#if defined(_WIN32)
/// The code unit of wide text: wchar_t where it is 16 bits wide.
typedef wchar_t WideChar;
#else
/// The code unit of wide text: a 16-bit unit where wchar_t is wider.
typedef char16_t WideChar;
#endif
