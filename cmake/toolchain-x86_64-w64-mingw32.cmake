# 64-bit Windows from Linux with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVO_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWToolchain.cmake)

set(CMAKE_EXE_LINKER_FLAGS_INIT "${KORVO_MINGW_LINK_FLAGS}")

# ctest runs the cross-built test programs under 64-bit Wine, never for ever.
# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, so
# the 64-bit loader is named directly.
find_program(KORVO_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib/wine64 DOC "The 64-bit Wine loader")
if(NOT KORVO_WINE64)
  set(KORVO_WINE64 wine64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR timeout --kill-after=10 300 ${KORVO_WINE64})
