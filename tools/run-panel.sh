#!/usr/bin/env bash
# Installs what is missing, builds iopanel and starts it. Arguments go to the
# panel (e.g. --port /dev/serial/by-id/...). It starts the panel with
# --no-remember, so a build tried from the source tree neither polls nor
# replaces the port the installed panel remembers.
#
#   tools/run-panel.sh --simulator [simulator options]
#
# tries the panel without a module: it also builds iomodule-sim, runs it in
# this terminal on a new pseudo-terminal (its keys switch the inputs) and
# starts the panel polling it. Quitting either one ends both. The simulator
# options (e.g. --inputs 10100, --silent-outputs) go to iomodule-sim. The
# simulator's temporary link is never saved either.
#
# IOPANEL_QT_MAJOR=6 builds against Qt 6 (into build-qt6/ instead of build/);
# IOPANEL_BUILD_DIR=DIR builds in DIR, as the other scripts take it.
set -euo pipefail
cd "$(dirname "$0")/.."

qt_major="${IOPANEL_QT_MAJOR:-5}"
build_dir=build
[ "$qt_major" = 5 ] || build_dir="build-qt$qt_major"
build_dir="${IOPANEL_BUILD_DIR:-$build_dir}"
# shellcheck source=tools/lib/configure.sh
source tools/lib/configure.sh

simulator=0
if [ "${1:-}" = --simulator ]; then
    simulator=1
    shift
fi

IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh
configure_once "$build_dir" -DBUILD_TESTING=OFF -DIOPANEL_QT_MAJOR="$qt_major"
if [ "$simulator" = 0 ]; then
    # Only the panel itself, so it starts as soon as possible.
    cmake --build "$build_dir" --target iopanel -j"$(nproc)"
    exec "$build_dir/iopanel" --no-remember "$@"
fi

cmake --build "$build_dir" --target iopanel iomodule-sim -j"$(nproc)"
panel="$(realpath "$build_dir")/iopanel"
sim="$(realpath "$build_dir")/simulator/iomodule-sim/iomodule-sim"

# Without a display the panel says how to get one; say it before the
# simulator takes the terminal.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    exec "$panel" --no-remember
fi

# The simulator keeps a link to its pseudo-terminal here; the panel polls it.
work="$(mktemp -d "${TMPDIR:-/tmp}/iopanel-try.XXXXXX")"
link="$work/module"
sim_pid=$$ # the simulator replaces this shell below

# In the background: wait for the link, run the panel (its debug lines, one
# per reply, would flood the terminal), and when either program ends, end
# the other and clean up. Closing the terminal hangs up this watcher too: it
# then ends both and cleans up all the same.
(
    panel_pid=""
    finish() {
        kill -TERM $panel_pid "$sim_pid" 2>/dev/null || true
        [ -z "$panel_pid" ] || wait "$panel_pid" 2>/dev/null || true
        rm -rf "$work"
        exit 0
    }
    trap finish HUP INT TERM
    for _ in $(seq 100); do
        [ -L "$link" ] && break
        sleep 0.05
    done
    QT_LOGGING_RULES="${QT_LOGGING_RULES:-default.debug=false}" "$panel" --no-remember --port "$link" &
    panel_pid=$!
    while kill -0 "$panel_pid" 2>/dev/null && kill -0 "$sim_pid" 2>/dev/null; do
        sleep 0.2
    done
    finish
) &

exec "$sim" --link "$link" "$@"
