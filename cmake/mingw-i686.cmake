# Cross-build for 32-bit Windows.
set(MINGW_ARCH i686)
set(MINGW_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# 32-bit callers written in other languages guarantee only 4-byte stack alignment.
set(CMAKE_C_FLAGS_INIT "-mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-mincoming-stack-boundary=2")
