# Packages, built by `cpack` in the build directory into packages/:
#   Linux:   korvo-test_<version>_<arch>.deb  (cpack -G DEB)
#   Windows: korvo-test-<version>-win32.zip   (cpack -G ZIP; win64 for a
#            64-bit build)
# Both hold what `cmake --install` installs (cmake/Install.cmake).

set(CPACK_PACKAGE_NAME korvo-test)
set(CPACK_PACKAGE_VENDOR "The korvo-test authors")
set(CPACK_PACKAGE_CONTACT "The korvo-test authors <korvo-test@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line test tool for KORVO USB devices")
set(CPACK_PACKAGE_DESCRIPTION [[
korvo-test finds the USB devices present, picks the KORVO device to test,
prints its port status and sends a file to it as raw data. A udev rule gives
the user at the seat and the plugdev group access to KORVO devices.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends comes from the shared libraries the program links (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The maintainer scripts apply the udev rule to devices already plugged in,
  # and take it off them on removal: one script, told which action is its.
  foreach(script_action IN ITEMS postinst:configure postrm:remove)
    string(REPLACE ":" ";" script_action ${script_action})
    list(GET script_action 0 script)
    list(GET script_action 1 KORVO_SCRIPT_ACTION)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/udev-refresh.in
                   ${PROJECT_BINARY_DIR}/debian/${script} @ONLY)
    list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/${script})
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian's changelog, dated at configure time (or SOURCE_DATE_EPOCH), added
  # by cpack alone: cmake --install has no use for it.
  string(TIMESTAMP KORVO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(CPACK_KORVO_DEBIAN_CHANGELOG ${PROJECT_BINARY_DIR}/debian/changelog)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${CPACK_KORVO_DEBIAN_CHANGELOG} @ONLY)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/AddChangelog.cmake)
endif()

include(CPack)
