#!/usr/bin/env bash
# Window-scale check: the real panel on a virtual X display, measured as the
# X server sees its window. Where the desktop sets no font density (Xft.dpi)
# the window keeps its 96 dpi size, whatever density the screen reports;
# where it sets one, the window is that density / 96 times as large.
#
#   tools/check-window-scale.sh           checks 100 dpi without Xft.dpi and
#                                         144 dpi with it against 96 dpi
#   tools/check-window-scale.sh --table   prints the size at 96, 100, 120,
#                                         144 and 192 dpi, with and without Xft.dpi
#
#   IOPANEL_QT_MAJOR=6      builds against Qt 6 (default 5)
#   IOPANEL_BUILD_DIR=DIR   build directory (default build-a11y, shared with
#                           the screen-reader check; build-a11y-qt6 for Qt 6)
#
# Everything it starts is stopped by pid, and its temporary directory removed.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh
# shellcheck source=tools/lib/configure.sh
source tools/lib/configure.sh

qt_major="${IOPANEL_QT_MAJOR:-5}"
build=build-a11y
[ "$qt_major" = 5 ] || build="build-a11y-qt$qt_major"
build="${IOPANEL_BUILD_DIR:-$build}"

IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh soak a11y
configure_once "$build" -DIOPANEL_QT_MAJOR="$qt_major" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target iopanel

tmp="$(mktemp -d /tmp/iopanel-scale.XXXXXX)"
xvfb_pid=""
panel_pid=""
trap 'stop_processes "$panel_pid"; stop_xvfb; rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP

# window_size DPI xft|none: prints the panel's window size ("249x209") on a
# screen of DPI dots per inch, with Xft.dpi set to it or with no Xft.dpi.
# The Qt variables that change the scale are cleared, and its port is a
# path that does not exist.
window_size() {
    local dpi="$1" xft="$2" size=""
    start_xvfb "$tmp" "$tmp/xvfb.log" "$dpi" || { cat "$tmp/xvfb.log" >&2; return 1; }
    [ "$xft" = xft ] || xrdb -remove
    env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_FONT_DPI -u QT_ENABLE_HIGHDPI_SCALING \
        -u QT_AUTO_SCREEN_SCALE_FACTOR -u QT_USE_PHYSICAL_DPI QT_QPA_PLATFORM=xcb \
        HOME="$tmp" XDG_CONFIG_HOME="$tmp" QT_LOGGING_RULES="default.debug=false" \
        "$build/iopanel" --no-remember --port "$tmp/no-module" >"$tmp/panel.log" 2>&1 &
    panel_pid=$!
    if wait_for 100 sh -c 'xwininfo -name MainWindow 2>/dev/null | grep -q IsViewable'; then
        size="$(xwininfo -name MainWindow | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')"
    fi
    stop_processes "$panel_pid"
    panel_pid=""
    stop_xvfb
    [ -n "$size" ] || { cat "$tmp/panel.log" >&2; echo "check-window-scale.sh: no window at $dpi dpi" >&2; return 1; }
    echo "$size"
}

if [ "${1:-}" = "--table" ]; then
    echo "Qt $qt_major: dpi, with Xft.dpi, without"
    for dpi in 96 100 120 144 192; do
        echo "$dpi $(window_size "$dpi" xft) $(window_size "$dpi" none)"
    done
    exit
fi

failed=0
reference="$(window_size 96 xft)"
echo "96 dpi, Xft.dpi 96: $reference"
plain="$(window_size 100 none)"
echo "100 dpi, no Xft.dpi: $plain (expected $reference)"
[ "$plain" = "$reference" ] || failed=1
scaled="$(window_size 144 xft)"
echo "144 dpi, Xft.dpi 144: $scaled (expected 1.5 times $reference, within 2 pixels)"
awk -v ref="$reference" -v got="$scaled" 'BEGIN {
    split(ref, r, "x"); split(got, g, "x")
    for (i = 1; i <= 2; i++) { d = g[i] - 1.5 * r[i]; if (d < -2 || d > 2) exit 1 }
}' || failed=1
if [ $failed -ne 0 ]; then
    echo "check-window-scale.sh: FAILED" >&2
    exit 1
fi
echo "check-window-scale.sh: passed"
