# Compiles and links orbelm for macOS on Intel processors with Zig's C++ compiler
# (see cmake/zig-macos.cmake), for example:
#
#   cmake -B build-macos-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/macos-x86_64.cmake \
#     -DORBELM_ZIG=/path/to/zig -DORBELM_TESTS=OFF
set(ORBELM_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
