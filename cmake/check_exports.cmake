# Checks a Windows DLL's export table against the "global:" list of a version script, and that
# the DLL imports no MinGW runtime DLL. Run as
#   cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> -DMAP=<version script> -P check_exports.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed (${result})")
endif()

# The export names: the "[Ordinal/Name Pointer] Table" lines, "\t[   0] Name".
set(exported)
if(dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)")
  # (no list of the bracketed lines: CMake lists do not split inside square brackets)
  string(REGEX REPLACE "[ \t]+\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" exported "${CMAKE_MATCH_1}")
endif()
list(REMOVE_ITEM exported "")
list(SORT exported)

file(READ ${MAP} text)
string(REGEX REPLACE "/\\*([^*]|\\*[^/])*\\*/" "" text "${text}")
string(REGEX MATCH "global:([^}]*)local:" ignored "${text}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" expected "${CMAKE_MATCH_1}")
list(SORT expected)

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(LENGTH exported count)
message(STATUS "${LIBRARY}: ${count} exports: ${exported}")
message(STATUS "imports: ${imports}")

if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports differ from ${MAP}:\n  exported: ${exported}\n  expected: ${expected}")
endif()
foreach(dll IN LISTS imports)
  if(dll MATCHES "^(libstdc\\+\\+|libgcc|libwinpthread)")
    message(FATAL_ERROR "imports the MinGW runtime DLL ${dll}: the runtime must be linked statically")
  endif()
endforeach()
