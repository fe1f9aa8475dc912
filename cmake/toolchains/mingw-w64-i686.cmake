# Cross build of the 32-bit Windows module with Debian's mingw-w64 (package g++-mingw-w64-i686). The posix thread
# model compilers give std::thread, std::mutex and std::condition_variable over winpthreads, which is linked
# statically so the DLL imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(BRANTEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${BRANTEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRANTEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BRANTEL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${BRANTEL_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${BRANTEL_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${BRANTEL_MINGW_PREFIX}-objdump CACHE FILEPATH "")

# mingw-w64's printf family is msvcrt's, without %zu, %lld or %hhu, unless this is 1; libstdc++ sets it for C++ on
# its own, and said here it holds for every file, as the module's printf-style declarations expect
# (src/runtime/printf_format.h).
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

set(CMAKE_FIND_ROOT_PATH /usr/${BRANTEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run through Wine (Debian's wine32), in a prefix of the build tree so that a fresh machine needs no
# set-up: WINEDEBUG=-all keeps Wine's own diagnostics out of the test output, and the overrides skip the Mono and
# Gecko installers a new prefix would offer. scripts/test.sh keeps one wineserver running for the whole test run.
find_program(BRANTEL_WINE wine)
if(BRANTEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
      ${BRANTEL_WINE})
endif()

# The compiler's runtime (libgcc, libstdc++, winpthreads) goes into every binary: the DLL then imports only system
# DLLs, and the test programs run under Wine without a search path for the toolchain's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
