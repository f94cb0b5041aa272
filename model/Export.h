/// \file
/// The model library's export macro (see foundation/Export.h for the pattern).
#pragma once

#include "foundation/Export.h"

// The geometry kernel and model library.
#if defined(KARN_BUILDING)
#define KARN_API SLP_DECL_EXPORT
#else
#define KARN_API SLP_DECL_IMPORT
#endif
