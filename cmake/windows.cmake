# Helpers of the Windows build (MinGW-w64 toolchain file: cmake/mingw-w64-x86_64.cmake): DLL
# names without the "lib" prefix, export lists made from the Linux version scripts, and Wine as
# the emulator that runs the test programs.

# molvex.dll, glyphkit.dll, rexkit.dll: the names the module and its hosts look for.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")

# Exports exactly the names of the version script's "global:" list from the DLL target: a .def
# file made from the map at configure time (rewritten only when the list changes).
function(molvex_export_only target map)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${map})
  file(READ ${map} text)
  string(REGEX REPLACE "/\\*([^*]|\\*[^/])*\\*/" "" text "${text}")  # comments
  if(NOT text MATCHES "global:([^}]*)local:")
    message(FATAL_ERROR "${map}: no global: list")
  endif()
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${CMAKE_MATCH_1}")
  list(JOIN names "\n  " exports)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  file(CONFIGURE OUTPUT ${def} CONTENT "EXPORTS\n  ${exports}\n" @ONLY)
  target_sources(${target} PRIVATE ${def})
endfunction()

# Wine runs the test programs (and lists their tests for CTest): a prefix of the build's own,
# booted on first use, and a wineserver started before any program (see cmake/wine-run.sh.in).
find_program(MOLVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(MOLVEX_WINE NAMES wine64 wine)
find_program(MOLVEX_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(MOLVEX_WINESERVER NAMES wineserver)
if(NOT MOLVEX_WINE OR NOT MOLVEX_WINESERVER)
  message(WARNING "Wine not found: the Windows tests cannot run here (scripts/setup.sh installs it)")
endif()
set(MOLVEX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
