# Cross build of the 32-bit Windows executable on a Debian host.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# The oldest 32-bit Windows runs on the 386; the compiler's default, the
# Pentium Pro, may bring in instructions that fault there (cmov, long NOPs).
set(CMAKE_CXX_FLAGS_INIT -march=i386)
