# Installing any build puts its image under x64/, x86/ or arm64/ of the
# prefix, beside the README, the LICENSE and a SHA256SUMS of every image
# there; the release ZIP is the three builds installed into one tree.
install(TARGETS sessionend RUNTIME DESTINATION ${SESSIONEND_ARCH})
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
    include(CPack)
endif()
