# Debian packages: `cpack -G DEB` in a build configured by scripts/build-deb.sh
# makes quorvel-zentrel (window, CLI) and quorvel-zentrel-sim (simulator,
# firmware), one a component of Install.cmake.

set(CPACK_PACKAGE_NAME quorvel-zentrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvel Zentrel developers")
# Each package's description begins with its own synopsis; no summary of
# the project is set, since CPack would put it in front of both.
set(CPACK_DEBIAN_MAIN_DESCRIPTION
  "download firmware to PIC18 chips through their serial bootloader
Quorvel Zentrel loads an Intel HEX file, checks every record against the
device's address areas, and sends the program byte by byte to the serial
bootloader already on a PIC18 chip, checking each echo. It has a desktop
window (zentrel) and a command-line tool for scripts and production
stations (zentrel-cli), with a systemd unit that runs a station.
Device templates for common PIC18 parts are in
/usr/share/quorvel-zentrel/devices; the simulated bootloader and the
bootloader firmware are in quorvel-zentrel-sim.")
set(CPACK_DEBIAN_SIM_DESCRIPTION
  "simulated PIC18 serial bootloader and its firmware
zentrel-sim serves the bootloader's side of the link on a pseudo-terminal,
as a fast protocol model with fault injection, or as a real PIC18 running
the bootloader firmware in gpsim, for trying Quorvel Zentrel without
hardware. The firmware, one build per supported part, is in
/usr/share/quorvel-zentrel/firmware, ready for a programmer.")
set(CPACK_PACKAGE_CONTACT "Quorvel Zentrel maintainers <maintainers@quorvel-zentrel.invalid>")
# config.txt may go to /etc (an absolute destination), so stage through DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped as Debian strips: CPack's own strip keeps .comment and .note.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripPrograms.cmake)
set(CPACK_ZENTREL_PROGRAMS ${ZENTREL_PROGRAMS})
set(CPACK_ZENTREL_PROGRAM_DIR ${ZENTREL_PROGRAM_DIR})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL main sim)
set(CPACK_DEBIAN_MAIN_PACKAGE_NAME quorvel-zentrel)
set(CPACK_DEBIAN_SIM_PACKAGE_NAME quorvel-zentrel-sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library packages come from the programs' links; Qt loads its platform
# plugin at run time, which no link shows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# zentrel-sim reads config.txt beside it, from the main package.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "quorvel-zentrel (= ${PROJECT_VERSION})")

# The user's device description must survive upgrades.
if(ZENTREL_CONFIG_DIR)
  set(_zentrel_conffiles ${CMAKE_BINARY_DIR}/debian/conffiles)
  file(WRITE ${_zentrel_conffiles} "${ZENTREL_CONFIG_DIR}/config.txt\n")
  set(CPACK_DEBIAN_MAIN_PACKAGE_CONTROL_EXTRA ${_zentrel_conffiles})
endif()

include(CPack)
