/// \file
/// windows.h as this project's Windows sources include it: without its rarely used parts and without
/// the min and max macros. Nothing of the public headers includes it (a host may include windows.h
/// before or after them); elsewhere this header includes nothing.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
