# Read by cpack once per generator: which installed components go into
# which package (see cmake/Packaging.cmake). The .deb carries Debian's
# copyright file and changelog instead of README, CHANGELOG and LICENSE;
# the archives unpack into a folder of their own, named as the archive.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL program debian)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_COMPONENTS_ALL program documents)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
