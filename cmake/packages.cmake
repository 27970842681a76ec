# CPack's post-build step, for the release ZIP and the Windows Installer
# packages beside it. The ZIP otherwise carries the build's file times and
# the order in which the files were found: strip-nondeterminism sorts the
# entries and gives each the commit's time, so that the same commit gives the
# same archive byte for byte. Each image in it, as shipped (signed where the
# environment names a certificate), then goes into a package of its own,
# signed the same way, and SHA256SUMS lists the ZIP, the packages, their
# codes and, for a signed release, the signer's thumbprint. Where
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
# What deployment tools' detection rules and a verifier need: each package's
# product code, and the signer's thumbprint as Windows shows it (SHA-1).
set(published ${CPACK_PACKAGE_FILE_NAME}-codes.csv)
execute_process(COMMAND ${CPACK_SESSIONEND_PYTHON} ${CPACK_SESSIONEND_SOURCE_DIR}/cmake/msi.py codes
                        ${CPACK_PACKAGE_FILE_NAME} ${CPACK_PACKAGE_VERSION}
                OUTPUT_FILE ${CMAKE_INSTALL_PREFIX}/${published} COMMAND_ERROR_IS_FATAL ANY)
if(NOT "$ENV{SESSIONEND_SIGN_PKCS12}" STREQUAL "")
    set(certificate openssl pkcs12 -in "$ENV{SESSIONEND_SIGN_PKCS12}" -clcerts -nokeys
                    -passin env:SESSIONEND_SIGN_PASSWORD)
elseif(NOT "$ENV{SESSIONEND_SIGN_CERT}" STREQUAL "")
    set(certificate openssl x509 -in "$ENV{SESSIONEND_SIGN_CERT}")
endif()
if(certificate)
    execute_process(COMMAND ${certificate} COMMAND openssl x509 -noout -fingerprint -sha1
                    OUTPUT_VARIABLE thumbprint COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "^.*=|:|\n" "" thumbprint "${thumbprint}")
    file(WRITE ${CMAKE_INSTALL_PREFIX}/${CPACK_PACKAGE_FILE_NAME}-signer.txt "${thumbprint}\n")
    list(APPEND published ${CPACK_PACKAGE_FILE_NAME}-signer.txt)
endif()
foreach(name IN LISTS published)
    file(SHA256 ${CMAKE_INSTALL_PREFIX}/${name} hash)
    string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${CMAKE_INSTALL_PREFIX}/SHA256SUMS "${sums}")
if(NOT "$ENV{SESSIONEND_RELEASE_URL}" STREQUAL "")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${CPACK_SESSIONEND_SOURCE_DATE_EPOCH}
                            ${CPACK_SESSIONEND_PYTHON} ${CPACK_SESSIONEND_SOURCE_DIR}/cmake/manifests.py
                            ${CMAKE_INSTALL_PREFIX} ${archive} ${CPACK_PACKAGE_VERSION}
                            "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
