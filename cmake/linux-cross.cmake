# What the Linux cross builds share (cmake/linux-arm64.cmake,
# cmake/linux-armhf.cmake set ORBELM_CROSS_TRIPLET, the Debian architecture
# and the name of qemu-user's program, then include this).
#
# The target's libraries are found where Debian's multiarch packages put
# them (/usr/lib/TRIPLET, the headers shared in /usr/include); CLI11,
# fast_float and GoogleTest, which Debian packages for the build machine
# only, come from their headers and sources (see CMakeLists.txt and
# tests/CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ORBELM_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORBELM_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ORBELM_CROSS_TRIPLET})

# The test programs, and the program that the end-to-end tests start, run
# under qemu-user, which ctest and the test discovery pick up by
# themselves. qemu runs without -L: the target's C library and loader are
# the multiarch ones, installed where the program looks for them (with -L
# the cross compiler's own copy of the loader meets the multiarch C library
# and a program hangs at its first thread).
find_program(ORBELM_QEMU ${ORBELM_QEMU_NAME})
if(ORBELM_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBELM_QEMU})
endif()
