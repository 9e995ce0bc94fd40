# GoogleTest for cross builds. There is no packaged MinGW build of it, so
# find_package(GTest) is answered by building Debian's googletest sources
# (package googletest, /usr/src/googletest) as part of this build.
#
# Loaded through CMAKE_PROJECT_TOP_LEVEL_INCLUDES (the `windows` preset sets
# it); native builds keep the installed GTest.
set(KORVO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")

macro(korvo_provide_gtest method package)
  if(CMAKE_CROSSCOMPILING AND "${package}" STREQUAL "GTest")
    korvo_build_gtest()
    set(GTest_FOUND TRUE)
  endif()
endmacro()

function(korvo_build_gtest)
  if(TARGET GTest::gtest_main)
    return()
  endif()
  if(NOT EXISTS ${KORVO_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${KORVO_GTEST_SOURCE_DIR} (Debian package googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KORVO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Third-party code: our warning flags (and -Werror) are not for it.
  foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -w)
  endforeach()
  # GoogleTest's own build defines the GTest:: aliases.
endfunction()

cmake_language(SET_DEPENDENCY_PROVIDER korvo_provide_gtest SUPPORTED_METHODS FIND_PACKAGE)
