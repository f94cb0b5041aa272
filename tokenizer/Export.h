/// \file
/// The tokenizer library's export macro (see foundation/Export.h for the pattern).
#pragma once

#include "foundation/Export.h"

// The generic tokenizer and its file reader.
#if defined(GENERIC_BUILDING)
#define GENERIC_API SLP_DECL_EXPORT
#else
#define GENERIC_API SLP_DECL_IMPORT
#endif
