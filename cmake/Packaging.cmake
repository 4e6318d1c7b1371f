# Install rules and the Debian packages.
#
#   cmake --install build [--prefix P]         (DESTDIR honoured)
#   cmake --build build --target package       (the .deb files, see README)
#
# Two components, one package each: "server" (chronavel, chronavel-check,
# the service scripts, the example configuration, the IDL contract) and
# "tools" (chronavel-sim and the operator tools). The prefix is the
# installation's or the package's (cpack -D CPACK_PACKAGING_INSTALL_PREFIX):
# /usr for a workstation, /opt/quorvane on the board (cmake/ChronavelPaths.cmake).
include(GNUInstallDirs)

set(CHRONAVEL_DATA_DIR "${CMAKE_INSTALL_DATADIR}/chronavel")

install(TARGETS chronavel DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT server)
install(TARGETS chronavel-check DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(TARGETS chronavel-sim utctime-source chronavel-cmd eventlog-monitor
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/src/aspn2_msgs/idl/" DESTINATION "${CHRONAVEL_DATA_DIR}/idl"
        COMPONENT server)
# Manual pages, compressed as Debian wants them, as is the changelog.
set(_man_pages chronavel.8 chronavel-check.1 chronavel-sim.1 utctime-source.1 chronavel-cmd.1
    eventlog-monitor.1)
find_program(CHRONAVEL_GZIP gzip)
foreach(_page ${_man_pages})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" _section ${_page})
  set(_gz ${PROJECT_BINARY_DIR}/packaging/man/${_page}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging/man
    COMMAND ${CHRONAVEL_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/doc/man/${_page} > ${_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/man/${_page} VERBATIM)
  list(APPEND _man_gz ${_gz})
  set(_component tools)
  if(_page MATCHES "^chronavel(-check)?\\.")
    set(_component server)
  endif()
  install(FILES ${_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section} COMPONENT ${_component})
endforeach()
set(_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CHRONAVEL_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(man_pages ALL DEPENDS ${_man_gz} ${_changelog})

# The rest depends on the prefix of the installation: the configuration,
# the service scripts, the documents (cmake/InstallConfigured.cmake).
foreach(_package chronavel chronavel-tools)
  set(_component tools)
  if(_package STREQUAL "chronavel")
    set(_component server)
  endif()
  install(CODE "
    set(CHRONAVEL_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
    set(CHRONAVEL_STAGE \"${PROJECT_BINARY_DIR}/packaging/stage\")
    set(CHRONAVEL_SBINDIR \"${CMAKE_INSTALL_SBINDIR}\")
    set(CHRONAVEL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(CHRONAVEL_PACKAGE \"${_package}\")
    set(CHRONAVEL_CHANGELOG \"${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/InstallConfigured.cmake\")" COMPONENT ${_component})
endforeach()

# ---- CPack: Debian packages ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chronavel)
set(CPACK_PACKAGE_VENDOR "Zelmar")
set(CPACK_PACKAGE_CONTACT "Chronavel developers <chronavel@zelmar.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_COMPONENTS_ALL server tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the programs' shared libraries, not written by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME chronavel)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "time server of the Quorvane navigation platform
Chronavel disciplines the board's clocks from the platform's UTCTime
messages (ASPN 2 over DDS): it qualifies the PPS, steps the system clock,
feeds ntpd through the NTP shared-memory reference clock, sets the PTP
hardware clock to TAI and starts ptp4l as grandmaster.
.
This package holds the server, chronavel-check (a check of a configuration
before it reaches the board), its SysV init script and systemd unit, an
example configuration and the IDL contract of its messages.")
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${PROJECT_BINARY_DIR}/packaging/conffiles;${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/prerm;${PROJECT_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProject.cmake.in
               ${PROJECT_BINARY_DIR}/packaging/CPackProject.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/CPackProject.cmake)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME chronavel-tools)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "simulator and operator tools for the Chronavel time server
chronavel-sim runs the Chronavel time server on a simulated board (FPGA
registers, clocks, PPS and time daemons); utctime-source plays the GNSS
receiver, chronavel-cmd sends the server a command and eventlog-monitor
prints the health events of the platform.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)

include(CPack)
