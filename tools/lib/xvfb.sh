# shellcheck shell=bash
# For the scripts in tools/, which source this file: a virtual X display.

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
