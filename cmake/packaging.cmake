# What ships beside the programs: the manual pages and, for the Debian
# packages (QUARNEL_DEB), the licence in Debian's machine-readable form, the
# Debian changelog and CPack's settings. Everything installs into one of two
# components: cli (the quarnel package) and gui (the quarnel-gui package).
include(GNUInstallDirs)

set(QUARNEL_MAINTAINER "Quarnel developers <quarnel-dev@example.org>")

# The release's date comes from its section of CHANGELOG.md, so the pages and
# the packages carry the same one and every build of a release is alike.
string(REPLACE "." "\\." version_pattern "${PROJECT_VERSION}")
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md release_line REGEX "^## \\[${version_pattern}\\] - [0-9-]+$")
string(REGEX REPLACE ".* - " "" QUARNEL_MAN_DATE "${release_line}")
if(NOT QUARNEL_MAN_DATE)
  message(FATAL_ERROR "CHANGELOG.md has no section \"## [${PROJECT_VERSION}] - DATE\"")
endif()

# Made when CMake configures (it runs again when a page changes), so an
# install needs no build of its own: cmake --install works after any target.
function(quarnel_man_page name component)
  set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/${name}.1.in ${page} @ONLY)
  # -n: no name or time stamp in the archive.
  execute_process(COMMAND gzip -9nc ${page} OUTPUT_FILE ${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

if(WIN32)
  return()
endif()
quarnel_man_page(quarnel cli)
if(TARGET quarnel-gui)
  quarnel_man_page(quarnel-gui gui)
endif()

if(NOT QUARNEL_DEB)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarnel COMPONENT cli)
  return()
endif()
if(NOT TARGET quarnel-gui)
  message(FATAL_ERROR "QUARNEL_DEB builds both packages and needs Qt 6 (QUARNEL_QT)")
endif()

# quarnel-gui carries the browser page too, for machines where nothing may be
# installed; fflate, which the page holds, comes with its own licence.
set(QUARNEL_PAGE ${PROJECT_SOURCE_DIR}/build/web/index.html CACHE FILEPATH
  "The browser page, as scripts/build-web.sh builds it, for the quarnel-gui package")
set(QUARNEL_PAGE_LICENSE ${PROJECT_SOURCE_DIR}/build/web-deps/node_modules/fflate/LICENSE CACHE FILEPATH
  "The licence of fflate, the zip library inside the page")
foreach(file IN ITEMS ${QUARNEL_PAGE} ${QUARNEL_PAGE_LICENSE})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} is missing: build the page with scripts/build-web.sh")
  endif()
endforeach()
install(FILES ${QUARNEL_PAGE} DESTINATION ${CMAKE_INSTALL_DATADIR}/quarnel RENAME quarnel.html COMPONENT gui)

# A licence file's text as a copyright file's License field continues it: each
# line indented, blank lines as " .", its title and copyright lines left out.
function(quarnel_license_field license_file out)
  file(STRINGS ${license_file} license_lines)
  list(FILTER license_lines EXCLUDE REGEX "^(MIT License|Copyright .*)$")
  set(text "")
  set(previous_blank TRUE)
  foreach(line IN LISTS license_lines)
    if(line STREQUAL "")
      if(NOT previous_blank)
        string(APPEND text " .\n")
      endif()
      set(previous_blank TRUE)
    else()
      string(APPEND text " ${line}\n")
      set(previous_blank FALSE)
    endif()
  endforeach()
  string(REGEX REPLACE " \\.\n$" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The machine-readable copyright files, with the licences' texts.
quarnel_license_field(${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(CONCAT copyright_text
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: Quarnel\n"
  "Upstream-Contact: ${QUARNEL_MAINTAINER}\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 Quarnel developers\n"
  "License: Expat\n"
  "${license_text}")
file(WRITE ${PROJECT_BINARY_DIR}/debian/quarnel/copyright "${copyright_text}")
file(STRINGS ${QUARNEL_PAGE_LICENSE} page_copyright REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright (\\([cC]\\) )?" "" page_copyright "${page_copyright}")
quarnel_license_field(${QUARNEL_PAGE_LICENSE} page_license_text)
file(WRITE ${PROJECT_BINARY_DIR}/debian/quarnel-gui/copyright "${copyright_text}"
  "\n"
  "Files: usr/share/quarnel/quarnel.html\n"
  "Copyright: 2026 Quarnel developers\n"
  "           ${page_copyright} (fflate, the zip library inside the page)\n"
  "License: Expat\n"
  "${page_license_text}")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(package quarnel quarnel-gui)
  set(changelog ${PROJECT_BINARY_DIR}/debian/${package}/changelog)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian/${package})
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.py
      ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${package} ${QUARNEL_MAINTAINER} ${changelog}
    COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND gzip -9nf ${changelog} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE ${QUARNEL_PAGE_LICENSE}
  ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.py)

foreach(component cli gui)
  set(package quarnel)
  if(component STREQUAL "gui")
    set(package quarnel-gui)
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/debian/${package}/copyright ${PROJECT_BINARY_DIR}/debian/${package}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarnel)
set(CPACK_PACKAGE_VENDOR "Quarnel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUARNEL_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL cli gui)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUARNEL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries each program links to decide its dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME quarnel)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME quarnel-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "quarnel (= ${PROJECT_VERSION})")
# Their triggers register the format-file type and the desktop entry's
# MimeType= once the package is in place.
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
# Each package's own synopsis is the first line of its description; an
# empty summary keeps CPack from putting the project's in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_CLI_DESCRIPTION "convert total-station format files for the QZ21/25/27 family
quarnel converts format files (.frt) made for the KRV110, KRV330, KRV440
and KRV880 total stations into format files for the QZ21/25/27 family. It
rewrites the header and format lines and reports which instrument variables
must be moved by hand in the office software and which application entries
it removed. It converts one file, or whole folders in one batch, and can
write a JSON record of every conversion.

This package holds the command line program; quarnel-gui is its dialog.")
set(CPACK_DEBIAN_GUI_DESCRIPTION "convert total-station format files in a dialog
quarnel-gui is the dialog of quarnel, on Qt 6: choose or drop a format file
made for the KRV110, KRV330, KRV440 or KRV880 total station, press Convert,
and read the report on what the QZ21/25/27 family's file needs.")
include(CPack)
