# Installation and the release packages (CPack).
#
# The version is written once, in project(). The manual page's header, the
# package names and the Debian changelog take it from there; CHANGELOG.md's
# top release entry must name the same version (a warning here, an error in
# .ci/package.sh) and gives the release date.
#
# What is installed, by component:
#   program    the program and, on Linux, the manual page gzipped
#   documents  README.md, CHANGELOG.md and LICENSE in share/doc/orbelm, and
#              the user's guide as doc/guide.md there, where the README's
#              links find it; on Windows beside orbelm.exe, with CR LF line
#              ends, LICENSE as LICENSE.txt and the manual as plain text
#              (orbelm-manual.txt)
#   debian     share/doc/orbelm/copyright and changelog.gz, what Debian's
#              policy asks for in place of the documents; only in the .deb
#
# `cmake --install` installs program and documents. The .deb holds program
# and debian, the .tar.gz and the Windows .zip program and documents
# (cmake/CPackOptions.cmake chooses them per generator).

include(GNUInstallDirs)

set(ORBELM_MAINTAINER "The orbelm authors <orbelm@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

# The top release entry of CHANGELOG.md, "## [VERSION] - YYYY-MM-DD", or
# "## [VERSION] - unreleased" while a version is under way: its date is
# then the day of configuring (SOURCE_DATE_EPOCH's day when that is set).
# CHANGELOG.md, LICENSE and README.md are read while configuring, so a
# change to them configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE
             ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/guide.md)
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md orbelm_releases
     REGEX "^## \\[[0-9]")
list(GET orbelm_releases 0 orbelm_release)
if(NOT orbelm_release MATCHES "^## \\[([^]]+)\\] - ([0-9-]+|unreleased)")
  message(FATAL_ERROR "CHANGELOG.md: no entry \"## [VERSION] - YYYY-MM-DD\"")
endif()
set(orbelm_release_version ${CMAKE_MATCH_1})
set(ORBELM_RELEASE_DATE ${CMAKE_MATCH_2})
if(ORBELM_RELEASE_DATE STREQUAL "unreleased")
  string(TIMESTAMP ORBELM_RELEASE_DATE "%Y-%m-%d" UTC)
endif()
if(NOT ORBELM_RELEASE_DATE MATCHES
   "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  message(FATAL_ERROR "CHANGELOG.md: no entry \"## [VERSION] - YYYY-MM-DD\"")
endif()
set(orbelm_release_ymd ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
if(NOT orbelm_release_version STREQUAL PROJECT_VERSION)
  message(WARNING "CHANGELOG.md's top entry is ${orbelm_release_version}, "
                  "the project's version ${PROJECT_VERSION}")
endif()

# The release date as Debian's changelog writes it ("Tue, 08 Dec 2026
# 00:00:00 +0000"). Days since 1970-01-01 by the proleptic Gregorian
# calendar with the year starting in March; 1970-01-01 was a Thursday.
# Example: 2026-12-08 is day 20795, and (20795 + 4) % 7 = 2, a Tuesday.
function(orbelm_debian_date year month day out)
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  math(EXPR m "${month} + 0")  # drops a leading zero
  set(y ${year})
  if(m LESS_EQUAL 2)
    math(EXPR y "${year} - 1")  # January and February end the year before
  endif()
  math(EXPR shifted "(${m} + 9) % 12")  # March 0 .. February 11
  math(EXPR doy "(153 * ${shifted} + 2) / 5 + ${day} - 1")
  math(EXPR days
       "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${doy} - 719468")
  math(EXPR weekday "(${days} + 4) % 7")
  math(EXPR month_index "${m} - 1")
  list(GET weekdays ${weekday} wd)
  list(GET months ${month_index} mon)
  set(${out} "${wd}, ${day} ${mon} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# The body of the top release entry of CHANGELOG.md in the layout of a
# Debian changelog entry: every line indented by two, top-level items
# starting with "*", "### Added" as "Added:".
function(orbelm_debian_changes heading out)
  file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md text)
  string(FIND "${text}" "${heading}\n" start)
  string(LENGTH "${heading}\n" length)
  math(EXPR start "${start} + ${length}")
  string(SUBSTRING "${text}" ${start} -1 body)
  string(FIND "${body}" "\n## " end)
  if(end GREATER -1)
    string(SUBSTRING "${body}" 0 ${end} body)
  endif()
  string(STRIP "${body}" body)
  string(REPLACE "\n" "\n  " body "  ${body}")
  string(REPLACE "\n  \n" "\n\n" body "${body}")
  string(REGEX REPLACE "\n  ### ([^\n]*)" "\n  \\1:" body "${body}")
  string(REPLACE "\n  - " "\n  * " body "${body}")
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

# Text files for Windows users, with CR LF line ends.
function(orbelm_crlf_file in out)
  file(READ ${in} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${out} "${text}")
endfunction()

# The manual page, with the version and the release date filled in.
configure_file(${PROJECT_SOURCE_DIR}/doc/orbelm.1.in
               ${PROJECT_BINARY_DIR}/orbelm.1 @ONLY)

if(WIN32)
  install(TARGETS orbelm RUNTIME DESTINATION . COMPONENT program)
  set(windows_docs ${PROJECT_BINARY_DIR}/windows)
  orbelm_crlf_file(${PROJECT_SOURCE_DIR}/README.md ${windows_docs}/README.md)
  orbelm_crlf_file(${PROJECT_SOURCE_DIR}/CHANGELOG.md
                   ${windows_docs}/CHANGELOG.md)
  orbelm_crlf_file(${PROJECT_SOURCE_DIR}/LICENSE ${windows_docs}/LICENSE.txt)
  orbelm_crlf_file(${PROJECT_SOURCE_DIR}/doc/guide.md
                   ${windows_docs}/doc/guide.md)
  install(FILES ${windows_docs}/README.md ${windows_docs}/CHANGELOG.md
                ${windows_docs}/LICENSE.txt
          DESTINATION . COMPONENT documents)
  install(FILES ${windows_docs}/doc/guide.md DESTINATION doc
          COMPONENT documents)
  # The manual as plain text, made from the manual page by groff (Debian:
  # groff-base): ASCII only, no bold, underline, overstrike or hyphens.
  find_program(ORBELM_GROFF groff)
  if(ORBELM_GROFF)
    execute_process(
      COMMAND ${ORBELM_GROFF} -man -rHY=0 -Tascii -P-c -P-b -P-o -P-u
              ${PROJECT_BINARY_DIR}/orbelm.1
      OUTPUT_FILE ${windows_docs}/orbelm-manual.lf.txt
      COMMAND_ERROR_IS_FATAL ANY)
    orbelm_crlf_file(${windows_docs}/orbelm-manual.lf.txt
                     ${windows_docs}/orbelm-manual.txt)
    install(FILES ${windows_docs}/orbelm-manual.txt DESTINATION .
            COMPONENT documents)
  else()
    message(WARNING "groff not found: the manual is left out of the "
                    "Windows package (Debian: apt-get install groff-base)")
  endif()
else()
  install(TARGETS orbelm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT program)
  # Manual pages are installed gzipped; -n keeps the time and name out of
  # the archive, so that a rebuild gives the same bytes.
  find_program(ORBELM_GZIP gzip)
  set(manual ${PROJECT_BINARY_DIR}/orbelm.1)
  if(ORBELM_GZIP)
    execute_process(COMMAND ${ORBELM_GZIP} -9n -c ${manual}
                    OUTPUT_FILE ${manual}.gz COMMAND_ERROR_IS_FATAL ANY)
    set(manual ${manual}.gz)
  endif()
  install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)
  install(FILES README.md CHANGELOG.md LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT documents)
  install(FILES doc/guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc
          COMPONENT documents)

  # Debian's copyright file in its machine-readable format, the license
  # text taken from LICENSE; and the changelog of this native package.
  set(debian_docs ${PROJECT_BINARY_DIR}/debian)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(FIND "${license}" "Permission is hereby granted" grant)
  string(SUBSTRING "${license}" ${grant} -1 license)
  string(STRIP "${license}" license)
  string(REPLACE "\n\n" "\n.\n" license "${license}")
  string(REPLACE "\n" "\n " license "${license}")
  file(WRITE ${debian_docs}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: orbelm
Upstream-Contact: ${ORBELM_MAINTAINER}

Files: *
Copyright: 2026 The orbelm authors
License: Expat
 ${license}
")
  orbelm_debian_date(${orbelm_release_ymd} debian_date)
  orbelm_debian_changes("${orbelm_release}" debian_changes)
  file(WRITE ${debian_docs}/changelog
"orbelm (${PROJECT_VERSION}) unstable; urgency=medium

${debian_changes}

 -- ${ORBELM_MAINTAINER}  ${debian_date}
")
  if(ORBELM_GZIP)
    execute_process(COMMAND ${ORBELM_GZIP} -9n -c ${debian_docs}/changelog
                    OUTPUT_FILE ${debian_docs}/changelog.gz
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  install(FILES ${debian_docs}/copyright ${debian_docs}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian
          EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME orbelm)
set(CPACK_PACKAGE_VENDOR "The orbelm authors")
set(CPACK_PACKAGE_CONTACT "${ORBELM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert minor-planet and comet orbit records into element files")
# Debian shows the description as it stands, so it is broken into lines.
set(CPACK_PACKAGE_DESCRIPTION [[
orbelm reads the orbital elements of minor planets and comets as the
Minor Planet Center publishes them (one record per line in fixed
columns) and writes for every record one small element file,
DESIGNATION.elm, for planetarium programs to read: one line with the
time of perihelion and the epoch as Julian Days, the perihelion
distance, the eccentricity, the angles in radians, a magnitude code
and the names.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
endif()
# One package per generator, holding the components that
# cmake/CPackOptions.cmake names for it.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build's package is for the target's Debian architecture (the
# toolchain file names it), not the build machine's.
if(ORBELM_DEBIAN_ARCHITECTURE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ORBELM_DEBIAN_ARCHITECTURE})
endif()
include(CPack)
