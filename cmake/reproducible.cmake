# The same commit built in two places must give the same programs and packages, byte for
# byte. Every time stamp that ends up in a file is the last commit's (SOURCE_DATE_EPOCH),
# and no build path ends up in a program.

# SOURCE_DATE_EPOCH from the environment when a distributor sets it, else the last
# commit's time; an unpacked source tree without git takes the time of its top
# CMakeLists.txt, which an archive keeps.
# A tree built inside another (the package preset's win64/) is given the outer one's.
if(DEFINED CACHE{COFF2EFW_SOURCE_DATE_EPOCH} AND COFF2EFW_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(COFF2EFW_SOURCE_DATE_EPOCH $CACHE{COFF2EFW_SOURCE_DATE_EPOCH})
elseif(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    set(COFF2EFW_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
    set(COFF2EFW_SOURCE_DATE_EPOCH "")
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE git_result ERROR_QUIET)
        if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
            set(COFF2EFW_SOURCE_DATE_EPOCH ${commit_time})
            # A new commit or checkout configures again, so that the packages take its time.
            execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
                            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                            OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE
                            ERROR_QUIET)
            if(git_dir AND EXISTS ${git_dir}/logs/HEAD)
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
            endif()
        endif()
    endif()
    if(COFF2EFW_SOURCE_DATE_EPOCH STREQUAL "")
        file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt COFF2EFW_SOURCE_DATE_EPOCH "%s" UTC)
    endif()
endif()

# Build paths out of the programs: __FILE__, debug information and with it the build-id
# that covers it. A Debug build keeps its absolute paths, for a debugger to find sources.
# The compiler tries the last map first, and the build tree may lie in the source tree.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    foreach(dir IN ITEMS ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
        add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:-ffile-prefix-map=${dir}/=>")
    endforeach()
endif()

if(MINGW)
    # The linker stamps a PE file with the time it links it; none here, and the packaging
    # strip (which stamps it again) runs with SOURCE_DATE_EPOCH set.
    add_link_options(-Wl,--no-insert-timestamp)
endif()
