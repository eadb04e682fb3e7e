# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain, posix threads variant
# (g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64). The posix variant is the one whose
# libstdc++ has std::thread, std::mutex and friends.
#
#   cmake -S . -B build/windows -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
#
# Executables are linked statically: libgcc, libstdc++ and winpthread go into the .exe, so a
# Windows user needs no MinGW runtime DLL beside it. Built programs run on this machine through
# Wine (CMAKE_CROSSCOMPILING_EMULATOR), which is how CTest runs the unit tests.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_TRIPLET}-windres)

# Headers, libraries and CMake packages come from the MinGW tree only, never from the host;
# programs (the build tools themselves) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLET})
# Libraries built for the target outside the MinGW tree (build/windows-deps, made by
# packaging/windows-deps.sh) are given on CMAKE_PREFIX_PATH; as roots of their own they are
# searched as they are, not looked for inside the MinGW tree.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CLI11, header-only, comes from the host through a package configuration of our own:
# cmake/cross-cli11/CLI11Config.cmake says why Debian's does not serve.
set(CLI11_DIR "${CMAKE_CURRENT_LIST_DIR}/cross-cli11" CACHE PATH
    "Package configuration of CLI11 for the cross build")

# Wine as the emulator. Installed without its recommends, Debian's wine64 puts its loader in
# /usr/lib/wine and nothing on the PATH. Every run gets:
#   WINEPREFIX       a private prefix inside the build tree, created on first use, so no
#                    user's ~/.wine is read or changed;
#   WINEDEBUG        -all: Wine's own diagnostics would mix with the programs' output;
#   WINEDLLOVERRIDES mscoree and mshtml disabled: creating the prefix then neither asks for
#                    nor installs Mono and Gecko, which console programs never use;
#   LC_ALL           C.UTF-8: Wine turns the Unix arguments into the Windows command line with
#                    the Unix locale's character set, so a non-ASCII argument arrives intact
#                    only from a UTF-8 locale (under LANG=C it arrives mangled).
# A value given on the command line (-DCMAKE_CROSSCOMPILING_EMULATOR=...) takes precedence.
find_program(CORVANE_WINE NAMES wine64 wine
    HINTS /usr/lib/wine /usr/lib64/wine
    NO_CMAKE_FIND_ROOT_PATH)
set(CORVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH
    "Private Wine prefix in which the built programs run")
if(CORVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEDEBUG=-all "WINEPREFIX=${CORVANE_WINEPREFIX}" WINEDLLOVERRIDES=mscoree,mshtml=
        LC_ALL=C.UTF-8 "${CORVANE_WINE}"
        CACHE STRING "Runs a built Windows program on this machine")
endif()
