#!/usr/bin/env bash
# Renders the panel against a simulated module (inputs 6, 8, 9 on, output
# boxes 1 and 3 ticked) and saves docs/screenshot.png.
#
#   tools/take-screenshot.sh [--dpi N] [iopanel-screenshot options]
#
# Without --dpi: headless (Qt's offscreen platform) at twice the window's
# size. With --dpi N: on a virtual X display whose desktop sets the font
# density to N dpi (Xvfb -dpi N and Xft.dpi: N), as a desktop at N/96 scale
# does (96: 100 %, 144: 150 %, 192: 200 %), with the desktop's default font.
# Other arguments go to iopanel-screenshot (see its --help), e.g.
# --port /dev/pts/7 to use a running iomodule-sim instead, or
# --output /tmp/panel.png to write elsewhere.
# IOPANEL_QT_MAJOR=6 builds against Qt 6 (into build-qt6/ instead of build/);
# IOPANEL_BUILD_DIR picks another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh

dpi=""
if [ "${1:-}" = "--dpi" ]; then
    dpi="${2:-}"
    [[ "$dpi" =~ ^[1-9][0-9]*$ ]] || { echo "take-screenshot.sh: --dpi takes a number, e.g. 192" >&2; exit 2; }
    shift 2
fi

qt_major="${IOPANEL_QT_MAJOR:-5}"
build_dir=build
[ "$qt_major" = 5 ] || build_dir="build-qt$qt_major"
build_dir="${IOPANEL_BUILD_DIR:-$build_dir}"

if [ -n "$dpi" ]; then
    IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh a11y
else
    IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh
fi

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
tool="./$build_dir/tools/screenshot/iopanel-screenshot"
# The panel prints every reply as a debug message; the picture needs none of them.
export QT_LOGGING_RULES="default.debug=false"
if [ -z "$dpi" ]; then
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 "$tool" --output docs/screenshot.png "$@"
    exit
fi

tmp="$(mktemp -d /tmp/iopanel-screenshot.XXXXXX)"
xvfb_pid=""
trap 'stop_xvfb; rm -rf "$tmp"' EXIT
start_xvfb "$tmp" "$tmp/xvfb.log" "$dpi" || { cat "$tmp/xvfb.log" >&2; exit 1; }
QT_QPA_PLATFORM=xcb "$tool" --output docs/screenshot.png "$@"
