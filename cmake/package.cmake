# The Debian package (cpack -G DEB from a build configured with CMAKE_INSTALL_PREFIX=/usr): one
# package "molvex" with the tools, the module, the data, the configuration as a conffile, the
# milter's unit and system user, and the host developers' files. Dependencies come from
# dpkg-shlibdeps, which is told about the private library folder.
set(CPACK_PACKAGE_NAME molvex)
set(CPACK_PACKAGE_VENDOR "Molvex developers")
set(CPACK_PACKAGE_CONTACT "Molvex developers <maintainers@molvex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "antispam filter module for e-mail, with scanner and milter")
set(CPACK_PACKAGE_DESCRIPTION "Molvex judges e-mail messages with three filters: sender black and white
lists, a URL black list, and tests of the contents and character sets.
This package holds the filter module libmolvex.so, the molvex-scan scanner,
the molvex-milter daemon for Postfix and Sendmail with its systemd unit,
molvex-urldb for URL list files, molvex-info, and the headers and host
library for programs that load the module.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${MOLVEX_INSTALL_MODULEDIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postfix | sendmail")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles
  ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
  ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
  ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/debian/strip.cmake)
set(CPACK_GENERATOR DEB)

# Debian's documentation files: the copyright and the compressed changelog.
configure_file(packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES packaging/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
include(CPack)
