# Cross build of the 32-bit Windows executable on a Debian host. There is no
# emulator: 32-bit Wine is not available here, so the image is checked
# statically.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
