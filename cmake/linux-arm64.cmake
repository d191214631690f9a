# Cross-compiles orbelm for 64-bit ARM Linux (Debian's arm64: Raspberry Pi
# OS 64-bit, ARM servers and laptops) with Debian's cross compiler and the
# target's libraries from Debian's multiarch packages, for example:
#
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install g++-aarch64-linux-gnu zlib1g-dev:arm64 libstdc++6:arm64 \
#     qemu-user googletest
#   cmake -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-arm64.cmake
#
# cmake/linux-cross.cmake holds what all such builds share, the tests under
# qemu-user among it.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ORBELM_CROSS_TRIPLET aarch64-linux-gnu)
set(ORBELM_DEBIAN_ARCHITECTURE arm64)
set(ORBELM_QEMU_NAME qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
