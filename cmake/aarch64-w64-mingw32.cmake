# Cross build of the ARM64 Windows executable on a Debian host, with clang and
# lld: Debian's MinGW-w64 has no ARM64 compiler or import libraries, but its
# headers serve this target, and the program needs nothing else from it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET aarch64-w64-mingw32)
set(CMAKE_DLLTOOL llvm-dlltool)

# Only the header-only part of the C++ library is used (<array>, <cstdint>),
# taken from the MinGW-w64 GCC tree, whatever GCC release it is.
file(GLOB mingw_cxx LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++)
list(GET mingw_cxx 0 mingw_cxx)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${mingw_cxx} ${mingw_cxx}/x86_64-w64-mingw32 /usr/share/mingw-w64/include)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
# There is no C run-time to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
