# 64-bit Windows from Linux with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix,
# binutils-mingw-w64-x86-64). The posix thread model is needed by GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVO_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the compiler's runtime and winpthread are linked
# in; system DLLs such as setupapi.dll stay imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# ctest runs the cross-built test programs under 64-bit Wine, never for ever.
# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, so
# the 64-bit loader is named directly.
find_program(KORVO_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib/wine64 DOC "The 64-bit Wine loader")
if(NOT KORVO_WINE64)
  set(KORVO_WINE64 wine64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR timeout --kill-after=10 300 ${KORVO_WINE64})
