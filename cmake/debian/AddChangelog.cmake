# Run by cpack after the install into its staging folder: the Debian changelog
# of a native package (its version has no Debian revision), compressed
# without a timestamp, where dpkg and lintian look for it.
set(doc "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/korvo-test")
file(MAKE_DIRECTORY "${doc}")
execute_process(COMMAND gzip -9 --no-name --stdout "${CPACK_KORVO_DEBIAN_CHANGELOG}"
                OUTPUT_FILE "${doc}/changelog.gz" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip of ${CPACK_KORVO_DEBIAN_CHANGELOG} failed")
endif()
