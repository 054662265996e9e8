# Cross toolchain for the Windows build: Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix: x86_64-w64-mingw32, posix thread model).
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=<GoogleTest built with this file>
#
# Executables carry libstdc++, libgcc and winpthread inside (-static), so they
# need only DLLs that every Windows has (kernel32, ws2_32, msvcrt, ...).
# Test programs run under wine64 through scripts/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_zorvex_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_zorvex_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zorvex_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_zorvex_triple}-windres)
set(CMAKE_AR     /usr/bin/${_zorvex_triple}-ar     CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${_zorvex_triple}-ranlib CACHE FILEPATH "")

# The cross root, and prefixes given in CMAKE_PREFIX_PATH (GoogleTest).
set(CMAKE_FIND_ROOT_PATH /usr/${_zorvex_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# mingw-w64 targets Windows 10 (_WIN32_WINNT=0x0A00) by default. UNICODE,
# NOMINMAX and WIN32_LEAN_AND_MEAN are set on the project's own targets, not
# here, so that third-party builds made with this file stay as they are.
set(_zorvex_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${_zorvex_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_zorvex_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_zorvex_static}")

# ctest and gtest_discover_tests run the test programs under wine64.
get_filename_component(_zorvex_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_zorvex_root}/scripts/wine-run.sh"
    CACHE FILEPATH "Runs Windows executables under wine64")
