# Compiles and links orbelm for macOS on Apple silicon with Zig's C++ compiler
# (see cmake/zig-macos.cmake), for example:
#
#   cmake -B build-macos-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/macos-aarch64.cmake \
#     -DORBELM_ZIG=/path/to/zig -DORBELM_TESTS=OFF
set(ORBELM_MACOS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
