#!/usr/bin/env bash
# Installs the Debian packages that building iopanel (and, with "test", its
# test suite) needs, but only those that are missing, so a machine that has
# them all needs no root.
set -euo pipefail

packages=(cmake g++ make pkg-config qtbase5-dev libqt5serialport5-dev)
if [ "${1:-}" = "test" ]; then
    packages+=(qtbase5-dev-tools)
fi

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
