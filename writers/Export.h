/// \file
/// The writers library's export macro (see foundation/Export.h for the pattern).
#pragma once

#include "foundation/Export.h"

// The writers that export a loaded model to other file formats.
#if defined(SLPEXPORT_BUILDING)
#define SLPEXPORT_API SLP_DECL_EXPORT
#else
#define SLPEXPORT_API SLP_DECL_IMPORT
#endif
