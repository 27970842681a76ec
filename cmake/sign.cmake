# Install step: signs the installed image with Authenticode (osslsigncode)
# when the environment names a certificate, either a PKCS#12 file and its
# password (SESSIONEND_SIGN_PKCS12, SESSIONEND_SIGN_PASSWORD) or a PEM
# certificate and key (SESSIONEND_SIGN_CERT, SESSIONEND_SIGN_KEY), with an
# RFC 3161 timestamp when SESSIONEND_SIGN_TIMESTAMP_URL names a server.
# Without one the image stays as built.
set(image "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${SESSIONEND_IMAGE}")
if("$ENV{SESSIONEND_SIGN_PKCS12}$ENV{SESSIONEND_SIGN_CERT}" STREQUAL "")
    return()
endif()
# Before any password is written, so that none can be left behind.
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
if(NOT "$ENV{SESSIONEND_SIGN_PKCS12}" STREQUAL "")
    # The password goes through a file, so that no process list shows it.
    set(password_file "${image}.password")
    file(TOUCH "${password_file}")
    file(CHMOD "${password_file}" PERMISSIONS OWNER_READ OWNER_WRITE)
    file(WRITE "${password_file}" "$ENV{SESSIONEND_SIGN_PASSWORD}")
    set(credentials -pkcs12 "$ENV{SESSIONEND_SIGN_PKCS12}" -readpass "${password_file}")
else()
    set(credentials -certs "$ENV{SESSIONEND_SIGN_CERT}" -key "$ENV{SESSIONEND_SIGN_KEY}")
endif()
if(NOT "$ENV{SESSIONEND_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND credentials -ts "$ENV{SESSIONEND_SIGN_TIMESTAMP_URL}")
endif()
execute_process(COMMAND ${OSSLSIGNCODE} sign -h sha256 ${credentials} -in "${image}" -out "${image}.signed"
                OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE failed)
if(password_file)
    file(REMOVE "${password_file}")
endif()
if(failed)
    file(REMOVE "${image}.signed")
    # Its OpenSSL error stack buries the one line that matters.
    if(output MATCHES "timestamping failed")
        message(FATAL_ERROR "osslsigncode got no timestamp from $ENV{SESSIONEND_SIGN_TIMESTAMP_URL} for ${image}")
    endif()
    message(FATAL_ERROR "osslsigncode could not sign ${image}:\n${output}")
endif()
file(RENAME "${image}.signed" "${image}")
message(STATUS "Signed: ${image}")
