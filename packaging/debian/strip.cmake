# CPack pre-build script for the Debian package: what dh_strip would do beyond CPack's own strip.
# Drops the debug information of the static host library and the .comment sections (compiler
# versions) of the programs and libraries in the staging tree.
file(GLOB_RECURSE archives "${CPACK_TEMPORARY_DIRECTORY}/*.a")
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/*" "${CPACK_TEMPORARY_DIRECTORY}/*.so")
foreach(file ${archives})
  execute_process(COMMAND strip --strip-debug --remove-section=.comment ${file}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(file ${programs})
  execute_process(COMMAND strip --remove-section=.comment ${file} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
