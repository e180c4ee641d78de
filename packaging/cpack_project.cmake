# Read by every CPack run of this project (CPACK_PROJECT_CONFIG_FILE). The strip of the
# Windows programs and the archive writers take their time stamps from SOURCE_DATE_EPOCH,
# so it is the one the tree was configured with, the last commit's.
if(NOT "${CPACK_COFF2EFW_SOURCE_DATE_EPOCH}" STREQUAL "")
    set(ENV{SOURCE_DATE_EPOCH} "${CPACK_COFF2EFW_SOURCE_DATE_EPOCH}")
endif()
