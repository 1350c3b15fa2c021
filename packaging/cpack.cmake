# Debian packages, made by cpack -G DEB in the build directory: one package per
# install component, iopanel (the panel), iopanel-tools (iopanelctl and the
# MQTT bridge, for a machine without a display) and iomodule-sim (the
# simulator), all from the source package iopanel. packaging/CMakeLists.txt assigns the
# files to the components.
set(IOPANEL_MAINTAINER "Seed ef6d9c97 maintainers <maintainers@users.noreply.c-seed-ef6d9c97.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_NAME iopanel)
set(CPACK_PACKAGE_VENDOR "iopanel")
set(CPACK_PACKAGE_CONTACT "${IOPANEL_MAINTAINER}")
# Empty: CPackDeb would put the one summary in front of each package's own
# description, whose first line is that package's synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_INSTALL_DIRECTORY iopanel)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL iopanel iopanel-tools iomodule-sim)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${IOPANEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE iopanel)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps derives Depends (the Qt runtime, libc6, libstdc++6) from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_IOPANEL_PACKAGE_NAME iopanel)
# The panel's package still gives iopanelctl; dpkg-shlibdeps adds the libraries.
set(CPACK_DEBIAN_IOPANEL_PACKAGE_DEPENDS "iopanel-tools (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_IOPANEL_PACKAGE_SUGGESTS iomodule-sim)
set(CPACK_DEBIAN_IOPANEL_DESCRIPTION "${PROJECT_DESCRIPTION}
A desktop panel for a digital input/output module on a serial line.
Pick the module's port, tick five check boxes to drive outputs 1 to 5
and watch five lamps that show inputs 6 to 10. The panel polls the
module every 100 ms.")

set(CPACK_DEBIAN_IOPANEL-TOOLS_PACKAGE_NAME iopanel-tools)
set(CPACK_DEBIAN_IOPANEL-TOOLS_PACKAGE_SUGGESTS "mosquitto-clients")
set(CPACK_DEBIAN_IOPANEL-TOOLS_DESCRIPTION "Digital I/O module from a shell and on an MQTT broker
The parts of iopanel that need no display: iopanelctl drives and
watches the module from scripts, and iopanel-mqtt puts it on an MQTT
broker (its inputs, outputs and status published, its outputs switched
from a topic, Home Assistant discovery), with a systemd service for
each module, iopanel-mqtt@NAME, configured in /etc/iopanel-mqtt.")

set(CPACK_DEBIAN_IOMODULE-SIM_PACKAGE_NAME iomodule-sim)
set(CPACK_DEBIAN_IOMODULE-SIM_DESCRIPTION "Simulator of the digital I/O module that iopanel drives
A stand-in for the module, for trying iopanel without one: five
outputs set by the panel, five inputs set from the keyboard or from
standard input. It serves a new pseudo-terminal or a serial port and
prints every frame it receives.")

# The packages must never ship without their manual pages: cpack checks that
# the build made them before it packs anything.
set(CPACK_IOPANEL_MANPAGES "")
foreach(program iopanel iopanelctl iopanel-mqtt iomodule-sim)
    list(APPEND CPACK_IOPANEL_MANPAGES ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
endforeach()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpackmanpages.cmake)

include(CPack)
