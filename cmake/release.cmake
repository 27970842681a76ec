# Installing either build puts its image under x64/ or x86/ of the prefix,
# beside the README, the LICENSE and a SHA256SUMS of every image there; the
# release ZIP is both builds installed into one tree.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(SESSIONEND_ARCH x64)
else()
    set(SESSIONEND_ARCH x86)
endif()

install(TARGETS sessionend RUNTIME DESTINATION ${SESSIONEND_ARCH})
install(FILES README.md LICENSE DESTINATION .)
install(CODE [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(GLOB images RELATIVE "${root}" "${root}/x64/sessionend.exe" "${root}/x86/sessionend.exe")
    list(SORT images)
    set(sums "")
    foreach(image IN LISTS images)
        file(SHA256 "${root}/${image}" hash)
        string(APPEND sums "${hash}  ${image}\n")
    endforeach()
    file(WRITE "${root}/SHA256SUMS" "${sums}")
]])

if(SESSIONEND_ARCH STREQUAL "x64")
    set(SESSIONEND_X86_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/win32" CACHE PATH
        "The 32-bit build tree whose image the release ZIP also holds")
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "sessionend-${PROJECT_VERSION}")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    # The 32-bit tree goes last, so that its SHA256SUMS covers both images.
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${PROJECT_BINARY_DIR};sessionend;ALL;/"
        "${SESSIONEND_X86_BUILD_DIR};sessionend;ALL;/")
    include(CPack)
endif()
