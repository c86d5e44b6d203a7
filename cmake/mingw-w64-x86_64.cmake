# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread and thread_local need). Programs and DLLs link the C and
# C++ runtimes statically, so they need no MinGW DLLs beside them. Test programs run under Wine
# through the emulator that the build sets up (cmake/wine-run.sh.in).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MOLVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MOLVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MOLVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MOLVEX_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${MOLVEX_MINGW_PREFIX}-objdump CACHE FILEPATH "PE object dumper")

set(CMAKE_FIND_ROOT_PATH /usr/${MOLVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
