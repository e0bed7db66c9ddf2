# Debian packages, built with `cpack -G DEB` in a build directory configured
# with -DCMAKE_INSTALL_PREFIX=/usr (packaging/check-packages.sh does it all).
#
#   libqz417link1     the shared library                      MIT
#   libqz417link-dev  header, CMake package, pkg-config file,
#                     the examples                            MIT
#   qz417setup        the setup program, desktop entry, icon  GPL-3.0-or-later
#                     (it links QCustomPlot)
#   qz417-tools       qz417ctl and the qz417sim emulator      MIT
#
# Every file of a package is installed here under that package's component,
# so the packages do not depend on how the rest of the tree names its install
# components; files installed without a component ("Unspecified") are for
# `cmake --install` and are not packaged.

# The packages install below /usr; configure the build with
# -DCMAKE_INSTALL_PREFIX=/usr as well so that the library directory is
# Debian's multiarch one (lib/<triplet>).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(STATUS "Packaging: configure with -DCMAKE_INSTALL_PREFIX=/usr for Debian packages")
endif()
set(QZ417_PKG_DOC ${CMAKE_INSTALL_DATADIR}/doc)
set(QZ417_PKG_SRC ${PROJECT_SOURCE_DIR}/packaging)

# libqz417link1 gets the library, libqz417link-dev its namelink.
install(TARGETS qz417link EXPORT qz417linkPackageTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT libqz417link1 NAMELINK_COMPONENT libqz417link-dev
  # The target's PUBLIC_HEADER path is relative to link/, so the header is
  # installed by path below; this rule only satisfies the target property.
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
                COMPONENT qz417link-header-by-path EXCLUDE_FROM_ALL
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/link/include/qz417link.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libqz417link-dev)
install(FILES ${QZ417_PKG_SRC}/copyright/qz417link
  DESTINATION ${QZ417_PKG_DOC}/libqz417link1 RENAME copyright COMPONENT libqz417link1)

# libqz417link-dev
include(CMakePackageConfigHelpers)
set(QZ417_PKG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qz417link)
install(EXPORT qz417linkPackageTargets
  NAMESPACE qz417::
  DESTINATION ${QZ417_PKG_CMAKE_DIR}
  COMPONENT libqz417link-dev)
configure_package_config_file(${QZ417_PKG_SRC}/qz417linkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/qz417linkConfig.cmake
  INSTALL_DESTINATION ${QZ417_PKG_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/qz417linkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/packaging/qz417linkConfig.cmake
  ${PROJECT_BINARY_DIR}/packaging/qz417linkConfigVersion.cmake
  DESTINATION ${QZ417_PKG_CMAKE_DIR} COMPONENT libqz417link-dev)
configure_file(${QZ417_PKG_SRC}/qz417link.pc.in ${PROJECT_BINARY_DIR}/packaging/qz417link.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/qz417link.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libqz417link-dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${QZ417_PKG_DOC}/libqz417link-dev/examples COMPONENT libqz417link-dev
  PATTERN "__pycache__" EXCLUDE)
install(FILES ${QZ417_PKG_SRC}/copyright/qz417link
  DESTINATION ${QZ417_PKG_DOC}/libqz417link-dev RENAME copyright COMPONENT libqz417link-dev)

# qz417setup
if(TARGET qz417setup)
  install(TARGETS qz417setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT qz417setup)
  install(FILES ${QZ417_PKG_SRC}/qz417setup.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT qz417setup)
  install(FILES ${QZ417_PKG_SRC}/qz417setup.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT qz417setup)
  install(FILES ${QZ417_PKG_SRC}/copyright/qz417setup
    DESTINATION ${QZ417_PKG_DOC}/qz417setup RENAME copyright COMPONENT qz417setup)
endif()

# qz417-tools
set(QZ417_TOOL_TARGETS)
foreach(tool qz417ctl qz417sim)
  if(TARGET ${tool})
    list(APPEND QZ417_TOOL_TARGETS ${tool})
  endif()
endforeach()
install(TARGETS ${QZ417_TOOL_TARGETS}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT qz417-tools)
install(FILES ${QZ417_PKG_SRC}/copyright/qz417link
  DESTINATION ${QZ417_PKG_DOC}/qz417-tools RENAME copyright COMPONENT qz417-tools)

set(CPACK_COMPONENTS_ALL libqz417link1 libqz417link-dev qz417-tools)
if(TARGET qz417setup)
  list(APPEND CPACK_COMPONENTS_ALL qz417setup)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qz417)
set(CPACK_PACKAGE_VENDOR "QZ417 software developers")
set(CPACK_PACKAGE_CONTACT "QZ417 software developers <qz417@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: the first line of each component's
# description is its package summary.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# Dependencies on system libraries come from dpkg-shlibdeps; the library of
# this project is found in the build tree and named explicitly below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/link)
set(QZ417_LINK_DEPENDS "libqz417link1 (= ${PROJECT_VERSION}-1)")

set(CPACK_DEBIAN_LIBQZ417LINK1_PACKAGE_NAME libqz417link1)
set(CPACK_DEBIAN_LIBQZ417LINK1_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBQZ417LINK1_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_LIBQZ417LINK1_DESCRIPTION
  "Device link library for QZ417 laser profile scanners\n\
Finds QZ417 scanners by their UDP announcements, talks to one of them over\n\
the TCP command channel (profiles, camera image, parameter block, angle) and\n\
receives the UDP profile stream. Thirteen plain C functions. License: MIT.")

set(CPACK_DEBIAN_LIBQZ417LINK-DEV_PACKAGE_NAME libqz417link-dev)
set(CPACK_DEBIAN_LIBQZ417LINK-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBQZ417LINK-DEV_PACKAGE_DEPENDS "${QZ417_LINK_DEPENDS}")
set(CPACK_DEBIAN_LIBQZ417LINK-DEV_PACKAGE_SUGGESTS "qz417-tools, python3")
set(CPACK_COMPONENT_LIBQZ417LINK-DEV_DESCRIPTION
  "Development files of the QZ417 device link library\n\
The header qz417link.h, the CMake package (find_package(qz417link)), the\n\
pkg-config file qz417link.pc, and examples in C and Python under\n\
/usr/share/doc/libqz417link-dev/examples. License: MIT.")

set(CPACK_DEBIAN_QZ417SETUP_PACKAGE_NAME qz417setup)
set(CPACK_DEBIAN_QZ417SETUP_PACKAGE_SECTION science)
set(CPACK_DEBIAN_QZ417SETUP_PACKAGE_DEPENDS "${QZ417_LINK_DEPENDS}")
set(CPACK_COMPONENT_QZ417SETUP_DESCRIPTION
  "Setup program for QZ417 laser profile scanners\n\
Searches the network for scanners, shows their description, edits their\n\
parameters, shows live profiles and the camera image, calibrates the mounting\n\
angle and saves profiles. License: GPL-3.0-or-later (links QCustomPlot).")

set(CPACK_DEBIAN_QZ417-TOOLS_PACKAGE_NAME qz417-tools)
set(CPACK_DEBIAN_QZ417-TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_QZ417-TOOLS_PACKAGE_DEPENDS "${QZ417_LINK_DEPENDS}")
set(CPACK_COMPONENT_QZ417-TOOLS_DESCRIPTION
  "Command-line tools for QZ417 laser profile scanners\n\
qz417ctl scripts a scanner (search, info, parameters, profiles, image, UDP\n\
stream, angle); qz417sim emulates scanners on loopback. License: MIT.")

include(CPack)
