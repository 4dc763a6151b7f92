# Install rules and packages. `cmake --install` lays out bin/, share/man/man1/ and
# share/doc/kirlatin/; `cpack` (or the `package` target) makes a Debian package on Linux, a .zip
# on Windows and a .tar.gz on macOS and for the static Linux programs zig builds.
include(GNUInstallDirs)

configure_file(doc/kirlatin.1.in ${CMAKE_CURRENT_BINARY_DIR}/kirlatin.1 @ONLY)

if(WIN32)
  # A Windows archive is unpacked and used where it lies: the program and its papers side by side.
  set(KIRLATIN_BIN_DIR .)
  set(KIRLATIN_DOC_DIR .)
else()
  set(KIRLATIN_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(KIRLATIN_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kirlatin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(TARGETS kirlatin RUNTIME DESTINATION ${KIRLATIN_BIN_DIR})
install(FILES README.md LICENSE DESTINATION ${KIRLATIN_DOC_DIR})

set(KIRLATIN_PACKAGE_MAINTAINER "The kirlatin developers" CACHE STRING
    "The maintainer named in the packages")

set(CPACK_PACKAGE_VENDOR "${KIRLATIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_CONTACT "${KIRLATIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rename a directory tree's Russian file names to Latin")
# Lines under 80 columns, as Debian's package tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "kirlatin renames every file and subdirectory below a root directory whose"
  "name holds Russian letters to a fixed Latin transliteration, depth first,"
  "and last the root itself. It never replaces an existing entry, never"
  "follows a symbolic link, carries names that are not valid UTF-8 through"
  "unchanged, and prints one line per rename.")
set(CPACK_STRIP_FILES ON)
# No source packages: a source tree holds build directories; a release is made from git.
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
    set(CPACK_SYSTEM_NAME win-arm64)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
elseif(KIRLATIN_ZIG AND NOT APPLE)  # one static file, for any Linux of that machine
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
elseif(APPLE)
  set(CPACK_GENERATOR TGZ)
  string(REPLACE aarch64 arm64 KIRLATIN_MACOS_ARCHIVE_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_SYSTEM_NAME macos-${KIRLATIN_MACOS_ARCHIVE_ARCH})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps (from dpkg-dev) works out the C library version the binary needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian keeps manual pages compressed and the licence as the package's copyright file.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-layout.cmake)
endif()

include(CPack)
