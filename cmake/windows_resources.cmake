# The version resource and application manifest of a Windows program, made from the
# project's version and the licence's copyright line, so that a version bump in project()
# is the only edit a release needs.

# The licence's copyright line names the years and the authors, for the version
# resources here and Debian's copyright file.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE COFF2EFW_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
if(NOT COFF2EFW_COPYRIGHT MATCHES "^Copyright \\(c\\) ([0-9, -]*[0-9]) (.+)$")
    message(FATAL_ERROR "no 'Copyright (c) YEARS AUTHORS' line in LICENSE")
endif()
set(COFF2EFW_COPYRIGHT_YEARS ${CMAKE_MATCH_1})
set(COFF2EFW_AUTHORS ${CMAKE_MATCH_2})

if(NOT WIN32)
    function(coff2efw_windows_resources target)
    endfunction()
    return()
endif()

enable_language(RC)

# What Explorer shows as each program's description.
set(COFF2EFW_DESCRIPTION_coff2efw "Converts a linked COFF object into a ROM image")
set(COFF2EFW_DESCRIPTION_efwdump "Lists and checks a ROM image")

function(coff2efw_windows_resources target)
    set(COFF2EFW_RC_NAME ${target})
    set(COFF2EFW_RC_DESCRIPTION "${COFF2EFW_DESCRIPTION_${target}}")
    if(COFF2EFW_RC_DESCRIPTION STREQUAL "")
        message(FATAL_ERROR "no COFF2EFW_DESCRIPTION_${target} for its version resource")
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
    set(manifest ${dir}/${target}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest.in ${manifest} @ONLY)
    if(MSVC)
        # The MSVC linker merges a listed manifest into the one it writes.
        set(COFF2EFW_RC_MANIFEST "")
        target_sources(${target} PRIVATE ${manifest})
    else()
        # 1 is the process's own manifest, 24 RT_MANIFEST.
        set(COFF2EFW_RC_MANIFEST "1 24 \"${manifest}\"")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${dir}/${target}.rc @ONLY)
    set_source_files_properties(${dir}/${target}.rc PROPERTIES OBJECT_DEPENDS ${manifest})
    # A library of its own, so that the program's C++ warning options stay off the
    # resource compiler's command line.
    add_library(${target}_resources OBJECT ${dir}/${target}.rc)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_resources>)
endfunction()
