# CPack's post-build step: the ZIP otherwise carries the build's file times
# and the order in which the files were found. strip-nondeterminism sorts the
# entries and gives each the commit's time, so that the same commit gives the
# same archive byte for byte.
find_program(STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND ${STRIP_NONDETERMINISM} --type zip --timestamp ${CPACK_SESSIONEND_SOURCE_DATE_EPOCH} ${archive}
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
