#!/usr/bin/env bash
# Checks that the tool scripts leave the user's saved port alone. Each runs
# with HOME and XDG_CONFIG_HOME on a temporary directory whose settings
# (iopanel/iopanel.conf) hold a saved port, and the settings must be exactly
# as they were afterwards:
#
#   tools/run-panel.sh --simulator, ended as an operator ends it: once by
#     quitting the simulator ("quit", as q on its terminal), once by closing
#     the panel (SIGTERM, which ends it as closing its window does);
#   tools/check-accessibility.sh.
#
#   tools/check-saved-port.sh
#
# It prints the saved port before and after each script.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/lib/processes.sh
source tools/lib/processes.sh

tmp="$(mktemp -d /tmp/iopanel-saved-port.XXXXXX)"
try_pid=""
trap 'stop_processes "$try_pid"; rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP

export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config"
settings="$XDG_CONFIG_HOME/iopanel/iopanel.conf"
mkdir -p "$(dirname "$settings")"
printf '[General]\nport=%s\n' /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0 >"$settings"
cp "$settings" "$tmp/expected.conf"

saved_port() {
    sed -n 's/^port=//p' "$1" 2>/dev/null || echo "(no settings file)"
}

failed=0
# settings_unchanged WHAT: the settings must be as they were before WHAT.
settings_unchanged() {
    echo "saved port before: $(saved_port "$tmp/expected.conf")"
    echo "saved port after:  $(saved_port "$settings")"
    if cmp -s "$settings" "$tmp/expected.conf"; then
        echo "ok: $1 left the saved port alone"
    else
        echo "FAILED: $1 changed the settings:" >&2
        diff "$tmp/expected.conf" "$settings" >&2 || true
        failed=1
        cp "$tmp/expected.conf" "$settings"
    fi
}

# True once process $1 is gone: ended, or a zombie no one has reaped yet.
gone() {
    local state
    state="$(ps -o stat= -p "$1" 2>/dev/null)" || return 0
    [[ "$state" == Z* ]]
}

# try_simulator quit|close: tools/run-panel.sh --simulator, headless, its
# simulator taking commands from a FIFO; once the panel polls, ended as said.
try_simulator() {
    local how="$1" log="$tmp/try-$1.log" watcher panel
    rm -f "$tmp/keys"
    mkfifo "$tmp/keys"
    exec 5<>"$tmp/keys"
    QT_QPA_PLATFORM=offscreen tools/run-panel.sh --simulator <"$tmp/keys" >"$log" 2>&1 &
    try_pid=$!
    # It builds first; then the simulator (the script's own process) logs
    # every frame the panel sends.
    until grep -q '  ~A  outputs' "$log"; do
        if gone "$try_pid"; then
            tail -n 20 "$log" >&2
            echo "FAILED: run-panel.sh --simulator ended before the panel polled" >&2
            failed=1
            return
        fi
        sleep 0.2
    done
    # The script's background watcher starts the panel and ends the other
    # program when one of them ends.
    watcher="$(pgrep -P "$try_pid" | head -n 1)" || true
    panel="$(pgrep -P "${watcher:-0}" -x iopanel | head -n 1)" || true
    if [ -z "$panel" ]; then
        echo "FAILED: no panel under run-panel.sh --simulator" >&2
        failed=1
        stop_processes "$try_pid"
        try_pid=""
        return
    fi
    if [ "$how" = quit ]; then
        echo quit >&5
    else
        kill -TERM "$panel"
    fi
    # The simulator is this shell's child: reaped here, so that the watcher
    # sees it gone.
    wait "$try_pid" || true
    try_pid=""
    exec 5>&-
    for _ in $(seq 100); do
        gone "$panel" && gone "$watcher" && break
        sleep 0.1
    done
    if ! gone "$panel"; then
        echo "FAILED: the panel went on after the simulator" >&2
        failed=1
        stop_processes "$panel"
    fi
}

echo "==== tools/run-panel.sh --simulator, ended by quitting the simulator"
try_simulator quit
settings_unchanged "run-panel.sh --simulator (simulator quit)"
echo "==== tools/run-panel.sh --simulator, ended by closing the panel"
try_simulator close
settings_unchanged "run-panel.sh --simulator (panel closed)"
echo "==== tools/check-accessibility.sh"
tools/check-accessibility.sh >"$tmp/a11y.log" 2>&1 || {
    tail -n 30 "$tmp/a11y.log" >&2
    echo "FAILED: check-accessibility.sh" >&2
    failed=1
}
settings_unchanged "check-accessibility.sh"

if [ $failed -ne 0 ]; then
    echo "check-saved-port.sh: FAILED" >&2
    exit 1
fi
echo "check-saved-port.sh: passed"
