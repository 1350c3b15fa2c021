# shellcheck shell=bash
# For the scripts in tools/, which source this file: a virtual X display,
# and the accessibility bus a screen reader reads it through.

# shellcheck source=tools/lib/wait.sh
source "$(dirname "${BASH_SOURCE[0]}")/wait.sh"
# shellcheck source=tools/lib/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

# start_xvfb DIR LOG [DPI]: starts Xvfb, its errors in LOG, on a free display
# that it picks itself and whose number it writes to DIR/display once it is
# ready; sets xvfb_pid, then exports DISPLAY. With DPI, the screen and the
# desktop's font setting (Xft.dpi, which Qt reads) have that density;
# -noreset, as Xvfb otherwise drops the root window's properties, Xft.dpi
# with them, whenever its last client leaves. Fails if no display came
# within 10 s.
start_xvfb() {
    local dir="$1" log="$2" dpi="${3:-}" density=()
    [ -z "$dpi" ] || density=(-dpi "$dpi" -noreset)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 "${density[@]}" -nolisten tcp 3>"$dir/display" 2>"$log" &
    xvfb_pid=$!
    wait_for 100 test -s "$dir/display" || return 1
    DISPLAY=":$(head -n 1 "$dir/display")"
    export DISPLAY
    [ -z "$dpi" ] || echo "Xft.dpi: $dpi" | xrdb -nocpp -merge
}

# stop_xvfb: ends the Xvfb that start_xvfb started, if any, and waits for it.
stop_xvfb() {
    stop_processes "${xvfb_pid:-}"
}

# start_atspi LOG: the accessibility bus (at-spi2-core) on the session bus
# that dbus-run-session made, its output in LOG; sets atspi_pid. Fails if
# the bus has no owner within 5 s. Asked without activating it: an
# activated second launcher would race this one.
start_atspi() {
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$1" 2>&1 &
    atspi_pid=$!
    wait_for 50 has_bus_owner org.a11y.Bus
}
has_bus_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
