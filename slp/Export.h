/// \file
/// The loader library's export macro (see foundation/Export.h for the pattern).
#pragma once

#include "foundation/Export.h"

// The SLP loader, whose only export is CSLPParser.
#if defined(SLP_BUILDING)
#define SLP_API SLP_DECL_EXPORT
#else
#define SLP_API SLP_DECL_IMPORT
#endif

// The calling convention of host callbacks: standard call on 32-bit Windows, the default elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define SLP_STDCALL __stdcall
#else
#define SLP_STDCALL
#endif
