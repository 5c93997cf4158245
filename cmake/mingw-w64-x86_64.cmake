# Cross-build for 64-bit Windows with Debian's mingw-w64 (win32 thread
# model). The C and C++ runtimes of gcc are linked statically, so that the
# component libraries need only the DLLs that Windows itself ships.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARROW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARROW_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QUARROW_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QUARROW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARROW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Windows programs built here run under Wine (CTest's emulator); the build
# tree sets the emulator with its own prefix when none is given.
