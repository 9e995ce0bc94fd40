# 32-bit Windows from Linux with MinGW-w64 (Debian: g++-mingw-w64-i686-posix,
# binutils-mingw-w64-i686). The posix thread model is needed by GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KORVO_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVO_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the compiler's runtime and winpthread are linked
# in; system DLLs such as setupapi.dll stay imports. Large-address-aware: on
# 64-bit Windows the process gets 4 GiB of address space instead of 2, room
# for larger files.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static -Wl,--large-address-aware")

# ctest runs the cross-built test programs under Wine, never for ever.
set(CMAKE_CROSSCOMPILING_EMULATOR timeout --kill-after=10 300 wine)
