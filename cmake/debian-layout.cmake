# Run by CPack on its staged files before it makes the Debian package: compresses the manual
# page (gzip -9n, as Debian does) and names the licence `copyright`, where Debian looks for it.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share")

execute_process(COMMAND gzip -9n "${stage}/man/man1/kirlatin.1" COMMAND_ERROR_IS_FATAL ANY)
file(RENAME "${stage}/doc/kirlatin/LICENSE" "${stage}/doc/kirlatin/copyright")
