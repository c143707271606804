# Cross build for 32-bit Windows with MinGW-w64; programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MX_TRIPLE i686-w64-mingw32)
set(MX_WINE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
