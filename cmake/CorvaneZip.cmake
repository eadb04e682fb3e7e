# corvane::zip, the one target through which Corvane reads and writes zip archives (sigrok
# session files are zip archives): libzip.
#
#   include(CorvaneZip)
#   target_link_libraries(mytarget PRIVATE corvane::zip)
#
# Natively it is the system's libzip (Debian: libzip-dev), found by pkg-config. A Windows cross build links the static libzip that packaging/windows-deps.sh
# builds from Debian's source package into build/windows-deps (on CMAKE_PREFIX_PATH in the
# windows preset), with the static zlib of libz-mingw-w64-dev, so that the programs need no
# DLL beyond Windows' own.
include_guard(GLOBAL)

if(TARGET corvane::zip)
    return()
endif()

add_library(corvane_zip INTERFACE)
add_library(corvane::zip ALIAS corvane_zip)

if(WIN32 AND CMAKE_CROSSCOMPILING)
    # zlib's archive by its path: find_package(ZLIB) would take the import library libz.dll.a
    # beside it, and the programs would need zlib1.dll.
    find_library(CORVANE_ZLIB_STATIC NAMES libz.a
        DOC "Static zlib of the target (libz-mingw-w64-dev)")
    find_path(CORVANE_ZLIB_INCLUDE_DIR zlib.h
        DOC "zlib's headers for the target (libz-mingw-w64-dev)")
    if(NOT CORVANE_ZLIB_STATIC OR NOT CORVANE_ZLIB_INCLUDE_DIR)
        message(FATAL_ERROR "corvane::zip: no static zlib for the target; "
            "install libz-mingw-w64-dev")
    endif()
    # libzip's package configuration names ZLIB::ZLIB without finding it.
    if(NOT TARGET ZLIB::ZLIB)
        add_library(ZLIB::ZLIB STATIC IMPORTED)
        set_target_properties(ZLIB::ZLIB PROPERTIES
            IMPORTED_LOCATION "${CORVANE_ZLIB_STATIC}"
            INTERFACE_INCLUDE_DIRECTORIES "${CORVANE_ZLIB_INCLUDE_DIR}")
    endif()
    find_package(libzip 1.7 CONFIG)
    if(NOT libzip_FOUND)
        message(FATAL_ERROR "corvane::zip: no libzip for the target. "
            "Run packaging/windows-deps.sh, which builds it into build/windows-deps, "
            "and configure with that folder on CMAKE_PREFIX_PATH (the windows preset does).")
    endif()
    get_target_property(_corvane_zip_type libzip::zip TYPE)
    if(NOT _corvane_zip_type STREQUAL "STATIC_LIBRARY")
        message(FATAL_ERROR "corvane::zip: the libzip found for the target is not static")
    endif()
    # Without ZIP_STATIC, zip.h declares every function __declspec(dllimport).
    target_compile_definitions(corvane_zip INTERFACE ZIP_STATIC)
    target_link_libraries(corvane_zip INTERFACE libzip::zip)
else()
    # By pkg-config: Debian 12's libzip-dev also installs a CMake package, but that one
    # names the tools of libzip-tools (/usr/bin/zipcmp ...) and stops the configuration with
    # an error where they are not installed.
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(CORVANE_LIBZIP REQUIRED IMPORTED_TARGET libzip>=1.7)
    target_link_libraries(corvane_zip INTERFACE PkgConfig::CORVANE_LIBZIP)
endif()
