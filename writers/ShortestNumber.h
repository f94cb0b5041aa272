// The shortest text that reads back to the same float or double, exactly as std::to_chars(first, last,
// value) writes it, for standard libraries whose <charconv> has no floating point (libc++ before 14,
// Emscripten's among them). Internal to the writers library; POSIX systems only.
#pragma once

#include <cstddef>

// Write the text of a finite value to pOut, which has room for 32 bytes, and return its length: the
// fewest significant digits that read back to the value (the nearest such decimal where several do),
// in fixed notation or in scientific notation ("1e-05"), whichever is shorter, fixed on a tie; "0" and
// "-0" for the zeros. Whatever the process locale.
size_t ShortestFloatText(float f, char* pOut);
size_t ShortestDoubleText(double d, char* pOut);
