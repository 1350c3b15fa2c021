#!/usr/bin/env bash
# Renders the panel headless against a simulated module (inputs 6, 8, 9 on,
# output boxes 1 and 3 ticked) and saves docs/screenshot.png at twice the
# window's size. Arguments go to iopanel-screenshot (see its --help), e.g.
# --port /dev/pts/7 to use a running iomodule-sim instead.
# IOPANEL_QT_MAJOR=6 builds against Qt 6 (into build-qt6/ instead of build/);
# IOPANEL_BUILD_DIR picks another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

qt_major="${IOPANEL_QT_MAJOR:-5}"
build_dir=build
[ "$qt_major" = 5 ] || build_dir="build-qt$qt_major"
build_dir="${IOPANEL_BUILD_DIR:-$build_dir}"

IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh

# Without a font the offscreen platform draws no text at all.
if ! command -v fc-list >/dev/null || [ -z "$(fc-list)" ]; then
    missing=()
    for p in fontconfig fonts-dejavu-core; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -ne 0 ]; then
        echo "Installing: ${missing[*]}"
        sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
    fi
fi

cmake -S . -B "$build_dir" -DIOPANEL_QT_MAJOR="$qt_major"
cmake --build "$build_dir" -j"$(nproc)" --target iopanel-screenshot

mkdir -p docs
# The panel prints every reply as a debug message; the picture needs none of them.
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 QT_LOGGING_RULES="default.debug=false" \
    "./$build_dir/tools/screenshot/iopanel-screenshot" --output docs/screenshot.png "$@"
