# Shared part of the MinGW-w64 toolchain files: the caller sets MX_TRIPLE,
# CMAKE_SYSTEM_PROCESSOR and MX_WINE_BITS. The compilers are the posix-thread
# variants (GoogleTest needs std::mutex); programs run under Wine through
# scripts/wine-run, which CTest uses as the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${MX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${MX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run;${MX_WINE_BITS}")
