# CPack runs this after it has made a package and before it copies it out of its work
# area (CPACK_POST_BUILD_SCRIPTS). It makes the archives reproducible, puts the package
# into CPACK_COFF2EFW_PACKAGES_DIR when that is given (the package presets give
# build/package/packages, which then holds the release and nothing else), and records
# its SHA-256 there in SHA256SUMS, in the form `sha256sum -c SHA256SUMS` checks. Each run
# replaces its own packages' lines and keeps those of the other runs of the same
# version, so that the Linux and the Windows run together leave one file naming all
# three.
if(NOT "${CPACK_COFF2EFW_PACKAGES_DIR}" STREQUAL "")
    set(dest ${CPACK_COFF2EFW_PACKAGES_DIR})
    set(copy TRUE)
else()
    set(dest ${CPACK_PACKAGE_DIRECTORY})
    set(copy FALSE)
endif()
file(MAKE_DIRECTORY ${dest})
set(release "${CPACK_PACKAGE_NAME}[-_]${CPACK_PACKAGE_VERSION}[-_]")

# CPack's archive writer takes the files in the order the file system lists them and
# records the owner of the files; the .deb's writer sorts and writes root. The tar.gz
# and the zip are written again from the same staging directory, in name order, owned
# by root (no owner at all in the zip), the gzip header without a time, and the zip's
# DOS times in UTC.
get_filename_component(stage_parent ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
get_filename_component(stage_top ${CPACK_TEMPORARY_DIRECTORY} NAME)
set(epoch ${CPACK_COFF2EFW_SOURCE_DATE_EPOCH})
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(package MATCHES "\\.tar\\.gz$")
        execute_process(
            COMMAND tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner
                    --mtime=@${epoch} -C ${stage_parent} -cf - ${stage_top}
            COMMAND gzip -9n
            OUTPUT_FILE ${package}
            COMMAND_ERROR_IS_FATAL ANY)
    elseif(package MATCHES "\\.zip$")
        file(REMOVE ${package})
        execute_process(
            COMMAND find ${stage_top} -type f
            COMMAND env LC_ALL=C sort
            COMMAND env TZ=UTC zip -q -9 -X -D -@ ${package}
            WORKING_DIRECTORY ${stage_parent}
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()

set(made)
set(entries)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(name ${package} NAME)
    file(SHA256 ${package} hash)
    if(copy)
        file(COPY_FILE ${package} ${dest}/${name} ONLY_IF_DIFFERENT)
    endif()
    list(APPEND made ${name})
    list(APPEND entries "${name}|${hash}")
endforeach()

if(copy)
    # CPack's work area of earlier versions of this script lay here.
    file(REMOVE_RECURSE ${dest}/_CPack_Packages)
    # Packages of another version are not this release's.
    file(GLOB present RELATIVE ${dest} ${dest}/*.zip ${dest}/*.tar.gz ${dest}/*.deb)
    foreach(name IN LISTS present)
        if(NOT name MATCHES "^${release}")
            file(REMOVE ${dest}/${name})
        endif()
    endforeach()
endif()

set(sums ${dest}/SHA256SUMS)
if(EXISTS ${sums})
    file(STRINGS ${sums} lines)
    foreach(line IN LISTS lines)
        if(line MATCHES "^([0-9a-f]+)  (.+)$")
            set(hash ${CMAKE_MATCH_1})
            set(name ${CMAKE_MATCH_2})
            if(NOT name IN_LIST made AND name MATCHES "^${release}" AND EXISTS ${dest}/${name})
                list(APPEND entries "${name}|${hash}")
            endif()
        endif()
    endforeach()
endif()
list(SORT entries)
set(text "")
foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 hash)
    string(APPEND text "${hash}  ${name}\n")
endforeach()
file(WRITE ${sums} "${text}")
