# Cross-build for Windows with MinGW-w64 (posix threads); MINGW_ARCH names the target (i686 or
# x86_64) and is set by the toolchain file that includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(CMAKE_C_COMPILER ${MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_DLLTOOL ${MINGW_ARCH}-w64-mingw32-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs run under Wine, so that tests can run on Linux: straight through the loader of the
# target's word size (MINGW_WINE_LOADER, set by the toolchain file), never through the "wine"
# script, which picks the 32-bit loader whenever one is installed, even for 64-bit programs and
# on machines that cannot start it. VUDADUV_WINE_LOADER names another loader.
if(NOT VUDADUV_WINE_LOADER)
  set(VUDADUV_WINE_LOADER ${MINGW_WINE_LOADER})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${VUDADUV_WINE_LOADER})
# Self-contained binaries: the C and C++ runtimes and winpthread are linked in, so the DLLs and
# programs depend on system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
