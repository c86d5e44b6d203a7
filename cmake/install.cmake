# Install rules (Linux): the tools in bin/, the module and its companions in the private folder
# MOLVEX_INSTALL_MODULEDIR, the bundled data in share/molvex/, the configuration in
# <sysconfdir>/molvex/ (/etc/molvex/ when the prefix is /usr), compressed man pages, and for host
# developers the headers, the molvex_host library, molvex-host.pc and the Molvex CMake package.
include(CMakePackageConfigHelpers)

install(TARGETS molvex-scan molvex-milter molvex-urldb molvex-info
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(TARGETS molvex glyphkit rexkit
        LIBRARY DESTINATION ${MOLVEX_INSTALL_MODULEDIR} COMPONENT runtime)

install(FILES ${MOLVEX_SAMPLE_DATA}/urlbl.dat DESTINATION ${MOLVEX_INSTALL_DATADIR}
        COMPONENT runtime)
install(FILES ${MOLVEX_SAMPLE_LISTS}/blacklist.txt ${MOLVEX_SAMPLE_LISTS}/whitelist.txt
              ${MOLVEX_SAMPLE_LISTS}/url-domains.txt ${MOLVEX_SAMPLE_LISTS}/url-subdomains.txt
              ${MOLVEX_SAMPLE_LISTS}/url-urls.txt
        DESTINATION ${MOLVEX_INSTALL_DATADIR}/lists COMPONENT runtime)
file(GLOB MOLVEX_SAMPLE_MESSAGES ${CMAKE_SOURCE_DIR}/samples/*.eml ${CMAKE_SOURCE_DIR}/samples/*.mbox)
install(FILES ${MOLVEX_SAMPLE_MESSAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        COMPONENT runtime)
install(FILES README.md docs/configuration.md docs/data-file-format.md docs/mail-parser.md
              docs/scan-output.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# The configuration: a system path for a /usr install (the package), else under the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(MOLVEX_INSTALL_CONFDIR /etc/molvex)
else()
  set(MOLVEX_INSTALL_CONFDIR ${CMAKE_INSTALL_SYSCONFDIR}/molvex)
endif()
install(FILES samples/molvex.conf DESTINATION ${MOLVEX_INSTALL_CONFDIR} COMPONENT runtime)
if(IS_ABSOLUTE ${MOLVEX_INSTALL_CONFDIR})
  set(MOLVEX_FULL_CONFDIR ${MOLVEX_INSTALL_CONFDIR})
else()
  set(MOLVEX_FULL_CONFDIR ${CMAKE_INSTALL_PREFIX}/${MOLVEX_INSTALL_CONFDIR})
endif()

# Man pages, compressed as Debian wants them (no name or time stamp in the gzip header).
set(MOLVEX_MAN_PAGES molvex-scan.1 molvex-urldb.1 molvex-info.1 molvex-milter.8)
set(MOLVEX_MAN_OUTPUTS "")
foreach(page ${MOLVEX_MAN_PAGES})
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/docs/${page} > ${gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page} VERBATIM)
  list(APPEND MOLVEX_MAN_OUTPUTS ${gz})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT runtime)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${MOLVEX_MAN_OUTPUTS})

# The systemd unit and the system user it runs as (Debian 12 keeps units in /lib).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(MOLVEX_INSTALL_UNITDIR /lib/systemd/system)
else()
  set(MOLVEX_INSTALL_UNITDIR lib/systemd/system)
endif()
configure_file(packaging/molvex-milter.service.in ${CMAKE_BINARY_DIR}/molvex-milter.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/molvex-milter.service DESTINATION ${MOLVEX_INSTALL_UNITDIR}
        COMPONENT runtime)
install(FILES packaging/molvex.sysusers RENAME molvex.conf DESTINATION lib/sysusers.d
        COMPONENT runtime)

# ---- For host developers ------------------------------------------------------------------------
set(MOLVEX_HOST_HEADERS
  class_factory.h notifobj.h amodule.h host_interfaces.h blackbox_keys.h
  common/asexception.h common/ashooks.h common/ashooks_access.h common/bbobject.h common/carray.h
  common/cmap.h common/layout.h common/platform.h common/shared_locker.h common/sstring.h
  common/status.h common/trace.h common/ustring.h
  as/Molvex/Molvex.h
  engines/htmlparser/structs/bbfacilitator.h engines/htmlparser/structs/breaker_structs.h
  engines/urlparser/urlparser.h
  host/blackbox_store.h host/host_hooks.h host/install_layout.h host/message_builder.h
  host/module_host.h host/settings_registry.h host/settings_store.h host/url_lists.h)
foreach(header ${MOLVEX_HOST_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/molvex/${folder}
          COMPONENT development)
endforeach()

set_target_properties(molvex_host PROPERTIES EXPORT_NAME host)
install(TARGETS molvex_host EXPORT MolvexTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/molvex)
set(MOLVEX_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Molvex)
install(EXPORT MolvexTargets NAMESPACE Molvex:: DESTINATION ${MOLVEX_CMAKEDIR}
        COMPONENT development)
configure_package_config_file(cmake/MolvexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/MolvexConfig.cmake INSTALL_DESTINATION ${MOLVEX_CMAKEDIR}
  PATH_VARS MOLVEX_INSTALL_MODULEDIR MOLVEX_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/MolvexConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/MolvexConfig.cmake ${CMAKE_BINARY_DIR}/MolvexConfigVersion.cmake
        DESTINATION ${MOLVEX_CMAKEDIR} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own place, so the tree can move.
file(RELATIVE_PATH MOLVEX_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(packaging/molvex-host.pc.in ${CMAKE_BINARY_DIR}/molvex-host.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/molvex-host.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

if(MOLVEX_BUILD_TESTS)
  add_test(NAME ManPagesMatchHelp
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/check_man_pages.sh ${CMAKE_BINARY_DIR})
endif()
