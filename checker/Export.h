/// \file
/// The checker library's export macro (see foundation/Export.h for the pattern).
#pragma once

#include "foundation/Export.h"

// The checker that lists what a load of an SLP file would lose or misread.
#if defined(SLPCHECK_BUILDING)
#define SLPCHECK_API SLP_DECL_EXPORT
#else
#define SLPCHECK_API SLP_DECL_IMPORT
#endif
