# What the macOS cross builds share (cmake/macos-aarch64.cmake and
# cmake/macos-x86_64.cmake set ORBELM_MACOS_ARCH, then include this): Zig's
# C++ compiler, which is clang with libc++, the macOS SDK's headers (zlib's
# among them) and a Mach-O linker, all in one download (Zig 0.11.0; see
# .ci/macos.sh). The programs cannot run on Linux; the build shows that
# orbelm compiles and links for macOS 11 or later.
#
# Zig is the program ORBELM_ZIG names, else `zig` on the PATH. libc++ is
# linked in statically, so that the program needs only the system's zlib
# and libSystem. Zig gives no library stub of zlib for macOS: the small
# text stub cmake/macos/libz.tbd names /usr/lib/libz.1.dylib and its
# functions for the linker.
set(CMAKE_SYSTEM_NAME Darwin)
if(ORBELM_MACOS_ARCH STREQUAL aarch64)
  set(CMAKE_SYSTEM_PROCESSOR arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()

if(NOT ORBELM_ZIG)
  find_program(ORBELM_ZIG zig REQUIRED)
endif()
# A compiler is one program for CMake: small scripts run `zig c++`, `zig cc`,
# `zig ar` and `zig ranlib` for the target. They drop -Wl,-v, which CMake's
# look at the compiler passes and Zig's linker refuses.
set(zig_wrappers ${CMAKE_BINARY_DIR}/zig-${ORBELM_MACOS_ARCH})
foreach(tool c++ cc ar ranlib)
  set(target_option "")
  if(tool STREQUAL "c++" OR tool STREQUAL "cc")
    set(target_option "-target ${ORBELM_MACOS_ARCH}-macos")
  endif()
  file(WRITE ${zig_wrappers}/${tool} "#!/bin/sh
for word do shift; [ \"$word\" = -Wl,-v ] || set -- \"$@\" \"$word\"; done
exec '${ORBELM_ZIG}' ${tool} ${target_option} \"$@\"
")
  file(CHMOD ${zig_wrappers}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE
       OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${zig_wrappers}/cc)
set(CMAKE_CXX_COMPILER ${zig_wrappers}/c++)
set(CMAKE_AR ${zig_wrappers}/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${zig_wrappers}/ranlib CACHE FILEPATH "")
# Nothing is installed from this build: no tool edits the install names.
find_program(ORBELM_TRUE true REQUIRED)
set(CMAKE_INSTALL_NAME_TOOL ${ORBELM_TRUE} CACHE FILEPATH "")

# Nothing of the build machine is found: zlib is the SDK's header (copied
# alone, since the SDK's whole include folder on the path would come
# before libc++'s) and the stub.
get_filename_component(zig_home ${ORBELM_ZIG} DIRECTORY)
set(zig_zlib ${zig_home}/lib/libc/include/any-macos-any)
file(COPY ${zig_zlib}/zlib.h ${zig_zlib}/zconf.h
     DESTINATION ${CMAKE_BINARY_DIR}/zig-zlib)
set(ZLIB_INCLUDE_DIR ${CMAKE_BINARY_DIR}/zig-zlib CACHE PATH "")
set(ZLIB_LIBRARY ${CMAKE_CURRENT_LIST_DIR}/macos/libz.tbd CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH ${CMAKE_BINARY_DIR}/zig-zlib)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORBELM_ZIG)
# <util.h> (the pseudo-terminal functions of the end-to-end tests) is
# missing from Zig's headers; cmake/macos/include stands in for it.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${CMAKE_CURRENT_LIST_DIR}/macos/include)
# The test programs are built but cannot run here, not even to list their
# tests: that waits for ctest, on a Mac.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
