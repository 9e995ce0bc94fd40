# What both Windows cross toolchains share, for the target named by
# KORVO_MINGW_TRIPLET (Debian's g++-mingw-w64-<arch>-posix and
# binutils-mingw-w64-<arch>). The posix thread model is needed by GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)

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
set(KORVO_MINGW_LINK_FLAGS "-static-libgcc -static-libstdc++ -static")
