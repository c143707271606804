# Cross build for 64-bit Windows with MinGW-w64; programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MX_TRIPLE x86_64-w64-mingw32)
set(MX_WINE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
