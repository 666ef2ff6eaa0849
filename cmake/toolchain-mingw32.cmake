# Cross build for Windows on i686 with the Debian MinGW-w64 compilers (the posix thread model, which the
# engine's std::mutex needs). Used by scripts/windows; binaries are linked statically so that they run
# without the compiler's DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QORVEX_MINGW_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${QORVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QORVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QORVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QORVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks only among the target's own .pc files (none from the build machine's libraries).
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
