# The install layout. On Linux, the GNU directories under the prefix
# (bin/, share/man/man1/, share/doc/korvo-test/), so that a non-root
# `cmake --install build --prefix ~/.local` works as well as the .deb's /usr.
# The Windows .zip is flat: the programs, README.md and LICENSE side by side.
#
# The program and its documents are the component `program`; the udev rule is
# the component `udev-rule` (platform/linux/CMakeLists.txt).

if(WIN32)
  set(KORVO_INSTALL_PROGRAM_DIR .)
else()
  set(KORVO_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
endif()

# Installs one program; each executable the packages carry goes through here.
function(korvo_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${KORVO_INSTALL_PROGRAM_DIR} COMPONENT program)
endfunction()

function(korvo_install_documents)
  if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
            DESTINATION . COMPONENT program)
    return()
  endif()

  # The manual page carries this build's version. It is installed compressed,
  # as Debian's policy asks; man reads both forms.
  set(page ${PROJECT_BINARY_DIR}/korvo-test.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/korvo-test.1.in ${page} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND gzip -9 --no-name --keep --force ${page}
    DEPENDS ${page}
    COMMENT "Compressing the manual page")
  add_custom_target(korvo-test-manpage ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)

  # The licence under the name Debian gives it.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
          RENAME copyright COMPONENT program)
endfunction()
