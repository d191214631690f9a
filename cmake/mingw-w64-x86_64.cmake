# Cross-compiles orbelm for 64-bit Windows with Debian's MinGW-w64 compiler
# (package g++-mingw-w64-x86-64), for example:
#
#   cmake -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The posix-threads variant is used because GoogleTest needs std::mutex.
# The test programs run under Wine (CMAKE_CROSSCOMPILING_EMULATOR), which
# ctest and the test discovery pick up by themselves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORBELM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORBELM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBELM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBELM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORBELM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime libraries of libgcc and libstdc++ are linked in, so that the
# .exe files run without DLLs beside them, on Windows and under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# zlib too (package libz-mingw-w64-dev): its libz.a, not the import library
# of a DLL.
set(ZLIB_USE_STATIC_LIBS ON)

find_program(ORBELM_WINE NAMES wine wine64)
if(ORBELM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBELM_WINE})
endif()
