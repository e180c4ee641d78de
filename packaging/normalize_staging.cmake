# CPack runs this after installing into its staging directory and before it writes a
# package (CPACK_PRE_BUILD_SCRIPTS): every file and directory gets the last commit's time
# and a mode that depends on nothing but whether it is a program, so that the archives
# do not record when or under which umask the tree was built.
set(stage ${CPACK_TEMPORARY_DIRECTORY})
if(NOT IS_DIRECTORY "${stage}")
    message(FATAL_ERROR "normalize_staging: no staging directory '${stage}'")
endif()
set(epoch ${CPACK_COFF2EFW_SOURCE_DATE_EPOCH})
execute_process(COMMAND find ${stage} -type d -exec chmod 0755 {} +
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${stage} -type f -perm /0111 -exec chmod 0755 {} +
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${stage} -type f ! -perm /0111 -exec chmod 0644 {} +
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${stage} -exec touch -h -d @${epoch} {} +
                COMMAND_ERROR_IS_FATAL ANY)
