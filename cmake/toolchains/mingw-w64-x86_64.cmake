# Cross-building for 64-bit Windows with Debian's mingw-w64 compilers. The -posix variants are the ones
# whose C++ runtime has std::thread and std::mutex. Programs run on this machine through Wine (wine64),
# which CTest uses as the emulator, so the test suite runs as it does on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SLP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SLP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SLP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SLP_MINGW_PREFIX}-windres)

# Libraries and headers of the target come from the mingw sysroot (and any root the caller adds, such as
# the install prefix of a Windows build of this library) only; programs from the build host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${SLP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++, GCC and threads runtimes are linked statically into every module, so the DLLs and programs
# need no mingw DLLs beside them (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll). Our own
# DLLs are still linked through their import libraries, which CMake names by full path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine. wine64 is the 64-bit loader; Debian keeps it out of PATH.
find_program(SLP_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(SLP_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SLP_WINE64})
endif()
