#!/usr/bin/env bash
# Screen-reader check: the real panel on a virtual X display, with the
# accessibility bus (at-spi2-core) on a private session bus, polls
# iomodule-sim; tools/accessibility/panel-tree.py reads the window through
# AT-SPI as a screen reader does. It checks that output boxes 1..5 and lamps
# 6..10 are named; that while the module's port is missing the status bar
# reads "Can't open" and the lamps "unknown"; that once the simulator answers,
# and again after it changes its inputs, the lamps read its inputs and each
# lamp that changed announced it; and it prints the tree.
#
#   tools/check-accessibility.sh
#
#   IOPANEL_BUILD_DIR=DIR  build directory (default build-a11y)
#   A11Y_DPI=N             the desktop's font density (default 96)
#
# Everything it starts is stopped by pid, and its temporary directory
# removed, also when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh

build="${IOPANEL_BUILD_DIR:-build-a11y}"
dpi="${A11Y_DPI:-96}"
reader=tools/accessibility/panel-tree.py

# The processes the second stage started.
pids=()
stop_started() {
    local all=() pid
    for pid in "${pids[@]}"; do
        # shellcheck disable=SC2207
        all+=($(tree_of "$pid"))
    done
    stop_processes "${all[@]}"
    wait 2>/dev/null || true
}

# Second stage, on the private session bus that dbus-run-session made.
on_session_bus() {
    local tmp="$1" xvfb=started
    trap stop_started EXIT
    trap 'exit 1' INT TERM HUP

    # At the desktop's density, with Xft.dpi set for Qt to read.
    start_xvfb "$tmp" "$tmp/xvfb.log" "$dpi" || xvfb=failed
    pids+=("$xvfb_pid")
    [ $xvfb = started ] || { cat "$tmp/xvfb.log" >&2; echo "check-accessibility.sh: Xvfb did not start" >&2; return 1; }

    local bus=started
    start_atspi "$tmp/atspi.log" || bus=failed
    pids+=("$atspi_pid")
    [ $bus = started ] || { cat "$tmp/atspi.log" >&2; echo "check-accessibility.sh: the accessibility bus did not come" >&2; return 1; }

    # The simulator takes its commands ("inputs 01001") from a FIFO, kept
    # open here so that it never sees its input end. The panel polls
    # $tmp/module, which appears only once the checks are listening.
    mkfifo "$tmp/commands"
    exec 4<>"$tmp/commands"
    "$build/simulator/iomodule-sim/iomodule-sim" --inputs 10110 --link "$tmp/sim" \
        <"$tmp/commands" >"$tmp/sim.log" 2>&1 &
    pids+=($!)
    wait_for 50 test -L "$tmp/sim" || { cat "$tmp/sim.log" >&2; echo "check-accessibility.sh: no simulator" >&2; return 1; }

    # Qt joins the accessibility bus without a desktop session asking it to.
    # --no-remember: the user's saved port is neither read nor written.
    env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_LOGGING_RULES="default.debug=false" \
        "$build/iopanel" --no-remember --port "$tmp/module" >"$tmp/panel.log" 2>&1 &
    pids+=($!)

    local failed=0 read=(/usr/bin/python3 "$reader")
    echo "---- names"
    "${read[@]}" names iopanel || failed=1
    echo "---- no module yet"
    "${read[@]}" status iopanel "Can't open $tmp/module" || failed=1
    "${read[@]}" lamps iopanel "?????" || failed=1
    echo "---- the module's port appears: its inputs 10110"
    "${read[@]}" lamps iopanel 10110 "ln -s \"\$(readlink '$tmp/sim')\" '$tmp/module'" || failed=1
    echo "---- the simulator switches its inputs to 01001"
    "${read[@]}" lamps iopanel 01001 "echo 'inputs 01001' >'$tmp/commands'" || failed=1
    echo "---- the panel's tree as a screen reader reads it"
    "${read[@]}" dump iopanel || failed=1
    if [ $failed -ne 0 ]; then
        echo "---- panel log"
        cat "$tmp/panel.log"
        echo "---- simulator log (last lines)"
        tail -n 5 "$tmp/sim.log"
    fi
    return $failed
}

if [ "${1:-}" = "--on-session-bus" ]; then
    on_session_bus "$2"
    exit
fi

tools/install-deps.sh a11y
# shellcheck source=tools/lib/configure.sh
source tools/lib/configure.sh
configure_once "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target iopanel iomodule-sim

tmp="$(mktemp -d /tmp/iopanel-a11y.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP
# A home of its own for everything started here (the panel, the buses, the
# X tools): nothing reads or writes the user's settings.
mkdir -p "$tmp/home/.config"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config"
# dbus-run-session ends its bus when the second stage ends.
if dbus-run-session -- "$0" --on-session-bus "$tmp"; then
    echo "check-accessibility.sh: passed"
else
    echo "check-accessibility.sh: FAILED" >&2
    exit 1
fi
