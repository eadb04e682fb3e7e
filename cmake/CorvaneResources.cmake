# Windows resources of Corvane's executables: the version record, which every executable takes
# from project() through a generated header, corvane_version.h.
#
#   corvane_write_version_header(<path>)
#       Writes the shared header (version numbers, product, company, copyright) to <path>.
#       res/corvane.rc and res/corvane-decode.rc include it.
#
#   corvane_add_version_resource(<target> DESCRIPTION <text>
#                                [SCRIPT <file.rc>] [MANIFEST <file.manifest>])
#       On Windows, compiles a resource script into <target>: by default res/corvane-decode.rc
#       with res/corvane-decode.manifest, the script of the console programs. Besides
#       corvane_version.h the script includes corvane_target.h, written here per target, with
#       the description (FileDescription) and the executable's name (InternalName,
#       OriginalFilename). Elsewhere it does nothing, so callers need no if(WIN32).

include_guard(GLOBAL)

get_filename_component(CORVANE_RES_DIR "${CMAKE_CURRENT_LIST_DIR}/../res" ABSOLUTE)

# The version record takes its numbers from project(); a missing component reads 0, as
# Windows expects four.
set(CORVANE_RC_VERSION_PARTS)
foreach(part MAJOR MINOR PATCH TWEAK)
    set(_v "${PROJECT_VERSION_${part}}")
    if(_v STREQUAL "")
        set(_v 0)
    endif()
    list(APPEND CORVANE_RC_VERSION_PARTS "${_v}")
endforeach()
unset(_v)
list(JOIN CORVANE_RC_VERSION_PARTS "," CORVANE_RC_VERSION_COMMAS)
list(JOIN CORVANE_RC_VERSION_PARTS "." CORVANE_RC_VERSION_DOTS)
set(CORVANE_RC_COMPANY "Corvane developers")
set(CORVANE_RC_COPYRIGHT "Copyright (C) 2024 Corvane developers")

function(corvane_write_version_header path)
    file(CONFIGURE OUTPUT "${path}" @ONLY CONTENT
"// Written by CMake from project(); included by the resource scripts in res/.
#define CORVANE_VERSION_COMMAS @CORVANE_RC_VERSION_COMMAS@
#define CORVANE_VERSION_TEXT \"@CORVANE_RC_VERSION_DOTS@\"
#define CORVANE_PRODUCT_TEXT \"@CORVANE_PRODUCT_NAME@\"
#define CORVANE_EXE_TEXT \"@CORVANE_PRODUCT_NAME@.exe\"
#define CORVANE_COMPANY_TEXT \"@CORVANE_RC_COMPANY@\"
#define CORVANE_COPYRIGHT_TEXT \"@CORVANE_RC_COPYRIGHT@\"
")
endfunction()

function(corvane_add_version_resource target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;SCRIPT;MANIFEST" "")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "corvane_add_version_resource: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT TARGET "${target}")
        message(FATAL_ERROR "corvane_add_version_resource: ${target} is not a target")
    endif()
    if(arg_DESCRIPTION STREQUAL "")
        message(FATAL_ERROR "corvane_add_version_resource(${target}): DESCRIPTION is required")
    endif()
    # The text goes into a C string literal of the resource script as it is.
    if(arg_DESCRIPTION MATCHES "[\"\\\\\n]")
        message(FATAL_ERROR "corvane_add_version_resource(${target}): DESCRIPTION must not "
            "contain quotes, backslashes or line breaks")
    endif()
    if(NOT WIN32)
        return()
    endif()
    if(NOT arg_SCRIPT)
        set(arg_SCRIPT "${CORVANE_RES_DIR}/corvane-decode.rc")
        if(NOT arg_MANIFEST)
            set(arg_MANIFEST "${CORVANE_RES_DIR}/corvane-decode.manifest")
        endif()
    endif()

    # Per target, so that two executables in one directory do not share corvane_target.h.
    # The names come from the target as built ($<TARGET_FILE_NAME>), whatever OUTPUT_NAME is
    # set after this call. (With a multi-config generator the name must be the same in every
    # configuration: no per-configuration postfix.)
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
    corvane_write_version_header("${dir}/corvane_version.h")
    file(GENERATE OUTPUT "${dir}/corvane_target.h" CONTENT
"// Written by CMake for the resources of ${target}.
#define CORVANE_TARGET_DESCRIPTION_TEXT \"${arg_DESCRIPTION}\"
#define CORVANE_TARGET_NAME_TEXT \"$<TARGET_FILE_BASE_NAME:${target}>\"
#define CORVANE_TARGET_FILE_TEXT \"$<TARGET_FILE_NAME:${target}>\"
")

    target_sources(${target} PRIVATE "${arg_SCRIPT}")
    # The resource compiler finds both headers and, through the same search path, the icon
    # and the manifest that the script names.
    target_include_directories(${target} PRIVATE
        "$<$<COMPILE_LANGUAGE:RC>:${dir}>"
        "$<$<COMPILE_LANGUAGE:RC>:${CORVANE_RES_DIR}>")
    set(depends "${dir}/corvane_version.h" "${dir}/corvane_target.h" "${CORVANE_RES_DIR}/corvane.ico")
    if(arg_MANIFEST)
        list(APPEND depends "${arg_MANIFEST}")
        if(MSVC)
            # The MSVC linker merges a listed manifest with the one it generates; GNU
            # toolchains get it from the script (resource 1 of type RT_MANIFEST).
            target_sources(${target} PRIVATE "${arg_MANIFEST}")
        endif()
    endif()
    # Rebuild the resources when what the script pulls in changes. Source properties are per
    # directory: set them where the target is defined.
    set_property(SOURCE "${arg_SCRIPT}" TARGET_DIRECTORY ${target}
        APPEND PROPERTY OBJECT_DEPENDS ${depends})
endfunction()
