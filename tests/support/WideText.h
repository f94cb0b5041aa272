// Wide and narrow literals for the string tests, on every platform.
#pragma once

#include "foundation/Platform.h"

#include "foundation/WindowsApi.h"

// A wide literal as the platform's code-unit text.
#define W(x) reinterpret_cast<const WideChar*>(u"" x)

// Narrow "\u00E9" in the platform's narrow encoding: the ANSI code page on Windows (the tests assume
// Windows-1252, as western systems and Wine use), UTF-8 elsewhere.
#if defined(_WIN32)
#define NARROW_E_ACUTE "\xE9"
#else
#define NARROW_E_ACUTE "\xC3\xA9"
#endif
