/// \file
/// Symbol export for the libraries of this project, and the foundation library's macro.
///
/// Every library is built with hidden symbols; the classes and functions that other modules call carry
/// the export macro of their library, defined in that library's Export.h. One pattern serves every library:
/// the macro exports while the library itself is being built (CMake defines the library's NAME_BUILDING macro
/// for it), imports everywhere else, and is empty in a static build (SLP_STATIC).
#pragma once

#if defined(SLP_STATIC)
#define SLP_DECL_EXPORT
#define SLP_DECL_IMPORT
#elif defined(_WIN32)
#define SLP_DECL_EXPORT __declspec(dllexport)
#define SLP_DECL_IMPORT __declspec(dllimport)
#else
#define SLP_DECL_EXPORT __attribute__((visibility("default")))
#define SLP_DECL_IMPORT __attribute__((visibility("default")))
#endif

// The foundation library: string, list, map and the platform layer.
#if defined(BASIC_BUILDING)
#define BASIC_API SLP_DECL_EXPORT
#else
#define BASIC_API SLP_DECL_IMPORT
#endif
