# The Debian package: `cpack -G DEB` in a build folder makes
# zelvora_<version>_<arch>.deb from the install rules. Its Depends comes from
# dpkg-shlibdeps run over the installed programs and libraries;
# tools/check_package.sh builds it and checks it with lintian.

# Who maintains the package: its Maintainer field and the signature of every
# entry of its changelog. The one place to change it.
set(ZELVORA_MAINTAINER "ZelvoraPro developers <developers@zelvorapro.org>"
    CACHE STRING "The Debian package's maintainer, as \"Name <address>\"")

# The Debian changelog, usr/share/doc/zelvora/changelog.gz, written from
# CHANGELOG.md; the build fails when CHANGELOG.md does not describe this
# version.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(ZELVORA_GZIP gzip REQUIRED)
set(ZELVORA_DEBIAN_CHANGELOG ${CMAKE_BINARY_DIR}/docs/changelog)
add_custom_command(
  OUTPUT ${ZELVORA_DEBIAN_CHANGELOG}.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/docs
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/debian/gen_changelog.py
          ${CMAKE_SOURCE_DIR}/CHANGELOG.md zelvora ${PROJECT_VERSION} ${ZELVORA_MAINTAINER}
          ${ZELVORA_DEBIAN_CHANGELOG}
  COMMAND ${ZELVORA_GZIP} -9nf ${ZELVORA_DEBIAN_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/tools/debian/gen_changelog.py
  COMMENT "Writing the Debian changelog from CHANGELOG.md"
  VERBATIM)
add_custom_target(zelvora_debian_changelog ALL DEPENDS ${ZELVORA_DEBIAN_CHANGELOG}.gz)
install(FILES ${ZELVORA_DEBIAN_CHANGELOG}.gz DESTINATION ${ZELVORA_DOC_DIR})

set(CPACK_PACKAGE_NAME zelvora)
set(CPACK_PACKAGE_VENDOR "the ZelvoraPro developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "where a telephone number comes from, on a simulated phone")
set(CPACK_PACKAGE_DESCRIPTION
    "ZelvoraPro finds the area of a telephone number from the number alone, against
per-calling-code area-code files, and shows it on the call alert and in the
Recents list of a phone. This package carries the loadable library
ZelvoraPro.dylib with its filter, simulated home-screen and phone programs that
load it, the zelvora command-line tool, and area-code data derived from
libphonenumber's geocoding data.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZELVORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The pictures draw area names in any script with the Noto fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-core, fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
# The prebuilt indexes of the area-code files are made again where dpkg puts
# the files (see postinst.in).
set(ZELVORA_PACKAGE_INDEX_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/${ZELVORA_HELPERS_DIR}/zelvora-index)
set(ZELVORA_PACKAGE_SHARE_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${ZELVORA_SHARE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${CMAKE_BINARY_DIR}/debian/postinst @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The platform libraries are the package's own, beside the host programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_GENERATOR DEB)
include(CPack)
