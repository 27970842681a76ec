# Installing any build puts its image under x64/, x86/ or arm64/ of the
# prefix, signed when the environment names a certificate (cmake/sign.cmake),
# beside the README, the LICENSE and a SHA256SUMS of every image there; the
# release ZIP is the three builds installed into one tree.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS sessionend RUNTIME DESTINATION ${SESSIONEND_ARCH})
install(CODE "set(SESSIONEND_IMAGE ${SESSIONEND_ARCH}/sessionend.exe)")
install(SCRIPT cmake/sign.cmake)
install(FILES README.md LICENSE DESTINATION .)
install(CODE [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(GLOB images RELATIVE "${root}" "${root}/*/sessionend.exe")
    list(SORT images)
    set(sums "")
    foreach(image IN LISTS images)
        file(SHA256 "${root}/${image}" hash)
        string(APPEND sums "${hash}  ${image}\n")
    endforeach()
    file(WRITE "${root}/SHA256SUMS" "${sums}")
    file(CHMOD "${root}/SHA256SUMS" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
]])

if(SESSIONEND_ARCH STREQUAL "x64")
    set(SESSIONEND_OTHER_BUILD_DIRS "${PROJECT_SOURCE_DIR}/build/winarm64;${PROJECT_SOURCE_DIR}/build/win32" CACHE STRING
        "The ARM64 and x86 build trees whose images the release ZIP also holds")
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "sessionend-${PROJECT_VERSION}")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    # Each tree writes SHA256SUMS anew, so the one installed last covers all.
    set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};sessionend;ALL;/")
    foreach(tree IN LISTS SESSIONEND_OTHER_BUILD_DIRS)
        list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${tree};sessionend;ALL;/")
    endforeach()

    # The archive's entries take the time of the commit they are built from:
    # SOURCE_DATE_EPOCH where it is set, else the last commit's time, else
    # (a source tarball) the time of this project's top CMakeLists.txt.
    set(source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
    if(source_date_epoch STREQUAL "")
        execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                        OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    if(source_date_epoch STREQUAL "")
        file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt source_date_epoch "%s" UTC)
    endif()
    set(CPACK_SESSIONEND_SOURCE_DATE_EPOCH ${source_date_epoch})
    # Beside the ZIP, a Windows Installer package of each image; Debian's
    # own interpreter, where its libmsi bindings import.
    find_program(SESSIONEND_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
    set(CPACK_SESSIONEND_PYTHON ${SESSIONEND_PYTHON})
    set(CPACK_SESSIONEND_SOURCE_DIR ${PROJECT_SOURCE_DIR})
    set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/packages.cmake)
    include(CPack)
endif()
