# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package and what ships beside the programs: the version header, manual pages,
# AppStream metadata, the copyright file and the changelog. Included from the top-level
# CMakeLists.txt. The version is project(VERSION ...) there, the release date
# VELMORA_RELEASE_DATE beside it; everything here takes them from there.

include(GNUInstallDirs)

set(VELMORA_MAINTAINER "Velmora maintainers <maintainers@users.noreply.c-seed-8baa97eb.example>"
    CACHE STRING "Maintainer named in the package and its changelog")
set(VELMORA_APPSTREAM_ID "io.github.velmora.velmora")
set(VELMORA_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELMORA_MAN_SOURCES ${CMAKE_SOURCE_DIR}/docs/man)

# ---- the version, for programs that print it ---------------------------------------------
# Link velmora_version and #include "velmora/version.h" for VELMORA_VERSION.
configure_file(${VELMORA_PACKAGING_DIR}/version.h.in
               ${CMAKE_BINARY_DIR}/generated/velmora/version.h @ONLY)
add_library(velmora_version INTERFACE)
target_include_directories(velmora_version INTERFACE ${CMAKE_BINARY_DIR}/generated)

# ---- compressed documents -----------------------------------------------------------------
# gzip -9n as Debian wants: best compression, no name or time stamp inside.
function(velmora_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
endfunction()

# "Mon, 07 Dec 2026 00:00:00 +0000" of VELMORA_RELEASE_DATE, for the changelog.
function(velmora_rfc2822_date iso out)
  string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" matched "${iso}")
  if(NOT matched)
    message(FATAL_ERROR "VELMORA_RELEASE_DATE must be YYYY-MM-DD, not '${iso}'")
  endif()
  math(EXPR y "${CMAKE_MATCH_1}")
  math(EXPR m "${CMAKE_MATCH_2}")
  math(EXPR d "${CMAKE_MATCH_3}")
  # Sakamoto's day of the week: 0 is Sunday.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR month_index "${m} - 1")
  list(GET offsets ${month_index} offset)
  if(m LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${d}) % 7")
  set(day_names Sun Mon Tue Wed Thu Fri Sat)
  set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET day_names ${weekday} day_name)
  list(GET month_names ${month_index} month_name)
  set(${out} "${day_name}, ${CMAKE_MATCH_3} ${month_name} ${CMAKE_MATCH_1} 00:00:00 +0000"
      PARENT_SCOPE)
endfunction()

velmora_rfc2822_date(${VELMORA_RELEASE_DATE} VELMORA_CHANGELOG_DATE)
configure_file(${VELMORA_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
velmora_gzip(${CMAKE_BINARY_DIR}/doc/changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(velmora_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${VELMORA_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# velmora-scan carries OpenSeadragon's script for --viewer's pages: its licence goes with it.
install(FILES ${PROJECT_SOURCE_DIR}/third_party/openseadragon/LICENSE.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME openseadragon-LICENSE.txt)

# ---- the nightly run ----------------------------------------------------------------------
# velmora-scan's service and timer, installed disabled (the package runs no systemctl), and
# their settings in /etc/default, a conffile: an edited one survives upgrades.
install(FILES ${VELMORA_PACKAGING_DIR}/systemd/velmora-scan-nightly.service
              ${VELMORA_PACKAGING_DIR}/systemd/velmora-scan-nightly.timer
        DESTINATION lib/systemd/system)
install(FILES ${VELMORA_PACKAGING_DIR}/systemd/velmora-scan.default
        DESTINATION /etc/default RENAME velmora-scan)
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "/etc/default/velmora-scan\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)

# ---- the programs -------------------------------------------------------------------------
# A program is an executable target with a manual page in docs/man/. They are gathered once
# every folder has been read, so a program added in any subfolder is found.

function(velmora_executables dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  set(found)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      list(APPEND found ${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    velmora_executables(${subdir} below)
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# The manual page's one-line summary (its NAME section), for the metainfo.
function(velmora_man_summary program out)
  file(STRINGS ${VELMORA_MAN_SOURCES}/${program}.1.in lines)
  list(FIND lines ".SH NAME" at)
  math(EXPR at "${at} + 1")
  list(GET lines ${at} line)
  string(REPLACE "\\-" "-" line "${line}")
  string(REGEX REPLACE "^[^ ]+ - " "" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

function(velmora_install_man_page program)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  configure_file(${VELMORA_MAN_SOURCES}/${program}.1.in ${page} @ONLY)
  velmora_gzip(${page} ${page}.gz)
  add_custom_target(velmora_man_${program} ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# One program: its manual page, and its lines in the metainfo and in programs.txt (a macro,
# so that the lines gather in the caller's variables).
macro(velmora_add_program target)
  velmora_install_man_page(${target})
  velmora_man_summary(${target} summary)
  string(APPEND VELMORA_METAINFO_PROGRAMS "      <li>${target}: ${summary}</li>\n")
  string(APPEND VELMORA_METAINFO_BINARIES "    <binary>${target}</binary>\n")
  # A program with a desktop entry opens a window; the others run in a terminal.
  if(EXISTS ${CMAKE_SOURCE_DIR}/desktop/${target}.desktop)
    string(APPEND VELMORA_METAINFO_LAUNCHABLES
           "  <launchable type=\"desktop-id\">${target}.desktop</launchable>\n")
    string(APPEND listing "${target} window\n")
  else()
    string(APPEND listing "${target} command\n")
  endif()
endmacro()

function(velmora_finish_programs)
  velmora_executables(${CMAKE_SOURCE_DIR} executables)
  foreach(gathered programs listing VELMORA_METAINFO_PROGRAMS VELMORA_METAINFO_BINARIES
          VELMORA_METAINFO_LAUNCHABLES)
    set(${gathered})
  endforeach()
  foreach(target IN LISTS executables)
    if(EXISTS ${VELMORA_MAN_SOURCES}/${target}.1.in)
      list(APPEND programs ${target})
      velmora_add_program(${target})
    endif()
  endforeach()
  message(STATUS "Programs: ${programs}")
  # For the package test: which programs the build makes, and how each is started.
  file(WRITE ${CMAKE_BINARY_DIR}/programs.txt "${listing}")
  # Libraries a program opens only when it needs them ("program soname" lines), which
  # dpkg-shlibdeps cannot see: Depends names the packages that hold them here.
  get_property(opened GLOBAL PROPERTY VELMORA_OPENED_LIBRARIES)
  set(opened_listing)
  set(opened_packages)
  foreach(line IN LISTS opened)
    string(APPEND opened_listing "${line}\n")
    string(REGEX REPLACE "^[^ ]+ " "" soname "${line}")
    execute_process(COMMAND dpkg-query -S "*/${soname}" OUTPUT_VARIABLE holder
                    ERROR_QUIET RESULT_VARIABLE found)
    if(found EQUAL 0)
      string(REGEX REPLACE ":.*" "" holder "${holder}")
      list(APPEND opened_packages ${holder})
    endif()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/opened_libraries.txt "${opened_listing}")
  list(REMOVE_DUPLICATES opened_packages)
  # The Python module is imported by python3 and hands its arrays to NumPy: neither shows
  # in what it links against.
  if(TARGET velmora_python)
    list(APPEND opened_packages python3 python3-numpy)
  endif()
  list(JOIN opened_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

  foreach(part PROGRAMS LAUNCHABLES BINARIES)
    string(REGEX REPLACE "\n$" "" VELMORA_METAINFO_${part} "${VELMORA_METAINFO_${part}}")
  endforeach()
  set(metainfo ${CMAKE_BINARY_DIR}/metainfo/${VELMORA_APPSTREAM_ID}.metainfo.xml)
  configure_file(${VELMORA_PACKAGING_DIR}/velmora.metainfo.xml.in ${metainfo} @ONLY)
  install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

  string(REGEX REPLACE "      <li>([^<]*)</li>" " * \\1" CPACK_PACKAGE_DESCRIPTION
         "${VELMORA_PACKAGE_DESCRIPTION}\n${VELMORA_METAINFO_PROGRAMS}\nEach has a manual page.")
  include(CPack)
endfunction()
cmake_language(DEFER CALL velmora_finish_programs)

# ---- the package --------------------------------------------------------------------------
# `cpack` in the build folder (or ./dev.sh package) writes package/velmora_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "${VELMORA_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn a video clip into one streak image")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows ask for IPAPGothic; without a Japanese face their captions are empty boxes.
# Qt's own texts (the file dialog, the message boxes' buttons) follow the desktop's
# language where Qt has a translation.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The list of programs follows once they are known (velmora_finish_programs), and CPack's
# configuration is written there.
set(VELMORA_PACKAGE_DESCRIPTION
    "Velmora turns a video clip into one still streak image (a slit-scan picture):
it copies a thin band of the picture out of frame after frame and lays the
strips side by side, so whatever moved through the band is drawn out along the
time axis. The package holds these programs:")
