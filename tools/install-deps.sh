#!/usr/bin/env bash
# Installs the Debian packages that building iopanel needs, but only those that
# are missing, so a machine that has them all needs no root.
#
#   tools/install-deps.sh [test] [package] [clang] [soak] [network] [a11y] [mqtt]
#
#   test      also what the test suite needs
#   package   also what tools/check-package.sh needs (cpack -G DEB with
#             dpkg-shlibdeps, desktop-file-validate, help2man for the manual
#             pages, lintian, appstreamcli, man -l, systemd-analyze for
#             the bridge's service unit)
#   clang     also clang with its sanitizer and libFuzzer runtimes, and
#             llvm-symbolizer for readable sanitizer stacks
#   soak      also what tools/soak.sh needs: a virtual X display (Xvfb) and
#             the tools that find and close the panel's windows on it
#             (xdotool, x11-utils); tools/check-panel-broker.sh clicks with
#             xdotool and watches for windows with xev
#   network   also what tools/check-network-module.sh needs: ser2net, socat
#             and ss (iproute2) to find a free local TCP port
#   a11y      also what tools/check-accessibility.sh (and, with mqtt and
#             soak, tools/check-panel-broker.sh) needs: Xvfb and xrdb, a
#             private D-Bus session, the accessibility bus (at-spi2-core) and
#             pyatspi to read it as a screen reader does
#   mqtt      also what tools/check-mqtt.sh and the bridge's tests need:
#             Debian's MQTT broker (mosquitto), its command-line clients
#             (mosquitto-clients), ss (iproute2) to find a free local TCP
#             port, openssl for the test certificates, setfacl (acl) for
#             the password files' ACLs and python3-jinja2 to render the
#             discovery messages' templates
#
# The base packages include libmosquitto-dev, the MQTT client library that
# iopanel-mqtt is built on, and libacl1-dev, with which it reads who may use
# its password file.
#
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt the build uses.
set -euo pipefail

qt_major="${IOPANEL_QT_MAJOR:-5}"
packages=(cmake g++ make pkg-config libmosquitto-dev libacl1-dev)
case "$qt_major" in
    # The panel reads the X server's resources through libxcb on Qt 5.
    5) packages+=(qtbase5-dev libqt5serialport5-dev libxcb1-dev) ;;
    # Qt 6's CMake files for Gui require the OpenGL headers (libgl-dev); Debian's
    # qt6-base-dev depends on them already, they are listed to say so.
    6) packages+=(qt6-base-dev qt6-serialport-dev libgl-dev) ;;
    *) echo "install-deps.sh: IOPANEL_QT_MAJOR must be 5 or 6, not '$qt_major'" >&2; exit 2 ;;
esac

for what in "$@"; do
    case "$what" in
        test)
            # Qt 6's test library and moc come with qt6-base-dev.
            if [ "$qt_major" = 5 ]; then
                packages+=(qtbase5-dev-tools)
            fi
            ;;
        package)
            # CPack's dpkg-shlibdeps step needs dpkg-dev and file; the build
            # makes the manual pages with help2man.
            packages+=(dpkg-dev file desktop-file-utils help2man lintian appstream man-db systemd)
            ;;
        clang) packages+=(clang libclang-rt-14-dev llvm) ;;
        soak) packages+=(xvfb xdotool x11-utils) ;;
        network) packages+=(ser2net socat iproute2) ;;
        a11y) packages+=(xvfb x11-xserver-utils dbus-daemon dbus-bin at-spi2-core python3-pyatspi) ;;
        mqtt) packages+=(mosquitto mosquitto-clients iproute2 openssl acl python3-jinja2) ;;
        *) echo "install-deps.sh: unknown argument '$what' (expected: test, package, clang, soak, network, a11y, mqtt)" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
