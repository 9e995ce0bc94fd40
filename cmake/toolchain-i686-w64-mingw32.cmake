# 32-bit Windows from Linux with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVO_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWToolchain.cmake)

# Large-address-aware: on 64-bit Windows the process gets 4 GiB of address
# space instead of 2, room for larger files.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KORVO_MINGW_LINK_FLAGS} -Wl,--large-address-aware")

# ctest runs the cross-built test programs under Wine, never for ever.
set(CMAKE_CROSSCOMPILING_EMULATOR timeout --kill-after=10 300 wine)
