# CLI11 for cross builds (cmake/mingw-w64-x86_64.cmake points CLI11_DIR here).
#
# CLI11 is header-only, so the host's copy from Debian's libcli11-dev serves any target. Its own
# package configuration is not used: it lies outside the MinGW root, where find_package looks
# when cross-compiling, and its target adds /usr/include to the include path, whose host headers
# (glibc's among them) then replace MinGW's. Instead the target CLI11::CLI11 gets a folder of
# the build tree that holds nothing but the CLI/ headers, linked (or copied) from the host.

find_path(CORVANE_CLI11_HOST_INCLUDE CLI/CLI.hpp
    PATHS /usr/include /usr/local/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "Host folder that holds CLI11's CLI/ headers")
if(NOT CORVANE_CLI11_HOST_INCLUDE)
    set(CLI11_FOUND FALSE)
    set(CLI11_NOT_FOUND_MESSAGE "CLI/CLI.hpp not found on the host; install libcli11-dev")
    return()
endif()

set(_corvane_cli11_dir "${CMAKE_BINARY_DIR}/cli11-include")
if(NOT EXISTS "${_corvane_cli11_dir}/CLI/CLI.hpp")
    file(MAKE_DIRECTORY "${_corvane_cli11_dir}")
    file(CREATE_LINK "${CORVANE_CLI11_HOST_INCLUDE}/CLI" "${_corvane_cli11_dir}/CLI"
        SYMBOLIC COPY_ON_ERROR)
endif()

if(NOT TARGET CLI11::CLI11)
    add_library(CLI11::CLI11 INTERFACE IMPORTED)
    set_target_properties(CLI11::CLI11 PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${_corvane_cli11_dir}")
endif()
unset(_corvane_cli11_dir)
set(CLI11_FOUND TRUE)
