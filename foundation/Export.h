/// \file
/// Symbol export for the libraries of this project.
///
/// Every library is built with hidden symbols; the classes and functions that other modules call carry
/// the export macro of their library. One pattern serves every library: the macro exports while the
/// library itself is being built (CMake defines the library's NAME_BUILDING macro for it), imports everywhere
/// else, and is empty in a static build (SLP_STATIC).
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

// The generic tokenizer and its file reader.
#if defined(GENERIC_BUILDING)
#define GENERIC_API SLP_DECL_EXPORT
#else
#define GENERIC_API SLP_DECL_IMPORT
#endif

// The geometry kernel and model library.
#if defined(KARN_BUILDING)
#define KARN_API SLP_DECL_EXPORT
#else
#define KARN_API SLP_DECL_IMPORT
#endif

// The SLP loader, whose only export is CSLPParser.
#if defined(SLP_BUILDING)
#define SLP_API SLP_DECL_EXPORT
#else
#define SLP_API SLP_DECL_IMPORT
#endif

// The writers that export a loaded model to other file formats.
#if defined(SLPEXPORT_BUILDING)
#define SLPEXPORT_API SLP_DECL_EXPORT
#else
#define SLPEXPORT_API SLP_DECL_IMPORT
#endif

// The checker that lists what a load of an SLP file would lose or misread.
#if defined(SLPCHECK_BUILDING)
#define SLPCHECK_API SLP_DECL_EXPORT
#else
#define SLPCHECK_API SLP_DECL_IMPORT
#endif

// The calling convention of host callbacks: standard call on 32-bit Windows, the default elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define SLP_STDCALL __stdcall
#else
#define SLP_STDCALL
#endif
