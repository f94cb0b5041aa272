/// \file
/// String resources: texts a program looks up by module and numeric id. On Windows they are the string
/// tables compiled into a module from a resource script; elsewhere programs register them at run time.
///
/// This header includes nothing from windows.h; a host may include windows.h before or after it.
#pragma once

#include "foundation/Export.h"
#include "foundation/WideChar.h"

#if defined(_WIN32)
struct HINSTANCE__;
/// A handle naming a module whose string resources LoadString reads.
typedef HINSTANCE__* ModuleHandle;
#else
/// A handle naming a module whose string resources LoadString reads.
typedef void* ModuleHandle;
#endif

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
