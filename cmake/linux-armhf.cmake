# Cross-compiles orbelm for 32-bit ARM Linux (Debian's armhf, ARMv7 with
# hardware floating point: Raspberry Pi OS 32-bit on a Raspberry Pi 2 or
# later or a Zero 2, not on a Pi 1 or Zero) with Debian's cross compiler
# and the target's libraries from Debian's multiarch packages, for example:
#
#   dpkg --add-architecture armhf && apt-get update
#   apt-get install g++-arm-linux-gnueabihf zlib1g-dev:armhf libstdc++6:armhf \
#     qemu-user googletest
#   cmake -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/linux-armhf.cmake
#
# cmake/linux-cross.cmake holds what all such builds share, the tests under
# qemu-user among it.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(ORBELM_CROSS_TRIPLET arm-linux-gnueabihf)
set(ORBELM_DEBIAN_ARCHITECTURE armhf)
set(ORBELM_QEMU_NAME qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
