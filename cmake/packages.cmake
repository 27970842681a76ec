# CPack's post-build step, for the release ZIP and the Windows Installer
# packages beside it. The ZIP otherwise carries the build's file times and
# the order in which the files were found: strip-nondeterminism sorts the
# entries and gives each the commit's time, so that the same commit gives the
# same archive byte for byte. Each image in it, as shipped (signed where the
# environment names a certificate), then goes into a package of its own,
# signed the same way, and SHA256SUMS lists the ZIP and the packages. Where
# the environment names the https folder that the release will be published
# under (SESSIONEND_RELEASE_URL), winget's and Scoop's manifests for it go
# beside them.
find_program(STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
list(GET CPACK_PACKAGE_FILES 0 archive)
execute_process(COMMAND ${STRIP_NONDETERMINISM} --type zip --timestamp ${CPACK_SESSIONEND_SOURCE_DATE_EPOCH} ${archive}
                COMMAND_ERROR_IS_FATAL ANY)

# The ZIP is still in CPack's own folder; what this step makes goes straight
# to the package folder, where the ZIP is copied afterwards.
get_filename_component(unpacked ${archive} DIRECTORY)
set(unpacked ${unpacked}/images)
set(CMAKE_INSTALL_PREFIX ${CPACK_PACKAGE_DIRECTORY})
file(REMOVE_RECURSE ${unpacked})
file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${unpacked} PATTERNS */sessionend.exe)
get_filename_component(archive_name ${archive} NAME)
file(SHA256 ${archive} hash)
set(sums "${hash}  ${archive_name}\n")
foreach(arch x86 x64 arm64)
    set(SESSIONEND_IMAGE ${CPACK_PACKAGE_FILE_NAME}-${arch}.msi)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${CPACK_SESSIONEND_SOURCE_DATE_EPOCH}
                            ${CPACK_SESSIONEND_PYTHON} ${CPACK_SESSIONEND_SOURCE_DIR}/cmake/msi.py
                            ${CMAKE_INSTALL_PREFIX}/${SESSIONEND_IMAGE} ${CPACK_PACKAGE_VERSION} ${arch}
                            ${unpacked}/${arch}/sessionend.exe
                    COMMAND_ERROR_IS_FATAL ANY)
    include(${CPACK_SESSIONEND_SOURCE_DIR}/cmake/sign.cmake)
    file(SHA256 ${CMAKE_INSTALL_PREFIX}/${SESSIONEND_IMAGE} hash)
    string(APPEND sums "${hash}  ${SESSIONEND_IMAGE}\n")
endforeach()
file(REMOVE_RECURSE ${unpacked})
file(WRITE ${CMAKE_INSTALL_PREFIX}/SHA256SUMS "${sums}")
if(NOT "$ENV{SESSIONEND_RELEASE_URL}" STREQUAL "")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${CPACK_SESSIONEND_SOURCE_DATE_EPOCH}
                            ${CPACK_SESSIONEND_PYTHON} ${CPACK_SESSIONEND_SOURCE_DIR}/cmake/manifests.py
                            ${CMAKE_INSTALL_PREFIX} ${archive} ${CPACK_PACKAGE_VERSION}
                            "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
