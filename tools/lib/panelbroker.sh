# shellcheck shell=bash
# For tools/check-panel-broker.sh, which sources this file after local.sh,
# mqtt.sh, closedbroker.sh and xvfb.sh: a desktop with a screen reader's bus,
# the panels on it, and what a screen reader reads from them. Uses $tmp,
# $build, $closed_port and fail; sets xvfb_pid, atspi_pid and panel_pids.

reader=(/usr/bin/python3 tools/accessibility/panel-tree.py)
panel_pids=()

# tree_of PID: a process and its descendants, children first: the
# accessibility bus launcher starts the bus's own daemon, which starts the
# registry.
tree_of() {
    local child
    for child in $(pgrep -P "$1" || true); do tree_of "$child"; done
    echo "$1"
}

# start_desktop: a virtual display at 96 dpi and the accessibility bus
# (at-spi2-core) on the session bus that dbus-run-session made.
start_desktop() {
    start_xvfb "$tmp" "$tmp/xvfb.log" 96 || fail "Xvfb did not start"
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$tmp/atspi.log" 2>&1 &
    atspi_pid=$!
    # Asked without activating it: an activated second launcher would race this one.
    wait_for 50 has_bus_owner org.a11y.Bus || fail "the accessibility bus did not come"
}
has_bus_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# stop_desktop: the accessibility bus with its daemons, then the display.
stop_desktop() {
    # shellcheck disable=SC2046 # one pid a word
    [ -z "${atspi_pid:-}" ] || stop_processes $(tree_of "$atspi_pid")
    stop_xvfb
}

# desk N: the home of desk N's user, $tmp/deskN, with its settings folder.
desk() { echo "$tmp/desk$1"; }

# panel_options N USER PASSWORD: the options with which desk N's panel
# connects as USER, the password in a file only the desk's user may read, in
# its home; the site's CA where docs/broker-network.md puts it.
panel_options() {
    local home
    home="$(desk "$1")"
    mkdir -p "$home/.config"
    (umask 077; printf '%s\n' "$3" >"$home/.panel.password")
    echo --broker "localhost:$closed_port" --topic 'bench/+' --tls-ca "$tmp/etc/ssl/certs/iopanel-ca.crt" \
        --username "$2" --password-file "$home/.panel.password"
}

# desk_env N: sets desk_vars to the environment of desk N: its home,
# settings and runtime folder, the display, and the toolkit on the accessibility bus without a
# desktop session asking it to.
desk_env() {
    local home
    home="$(desk "$1")"
    install -d -m 0700 "$home/runtime"
    desk_vars=(HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY"
        QT_QPA_PLATFORM=xcb
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_LOGGING_RULES="default.debug=false")
}

# start_panel N: desk N's panel on bench/+ as user panelN, its output in
# $tmp/panelN.log; sets panel_pids[N].
start_panel() {
    local options
    read -r -a options <<<"$(panel_options "$1" "panel$1" "secret-panel$1")"
    desk_env "$1"
    env "${desk_vars[@]}" "$build/iopanel" "${options[@]}" >"$tmp/panel$1.log" 2>&1 &
    panel_pids[$1]=$!
}

# panel N: desk N's panel as panel-tree.py names it among the two.
panel() { echo "iopanel@${panel_pids[$1]}"; }

# see WHAT COMMAND ARG...: panel-tree.py COMMAND ARG..., waiting up to
# $within seconds (default 10), its lines indented; fails the check with
# WHAT unless it holds. What it said is left in $tmp/seen.
see() {
    "${reader[@]}" --within "${within:-10}" "${@:2}" 2>&1 | tee "$tmp/seen" | sed 's/^/    /' || fail "$1"
}

# both WHAT COMMAND ARG...: see for each panel, the panel's name before ARG.
both() {
    local n
    for n in 1 2; do
        see "panel $n: $1" "$2" "$(panel "$n")" "${@:3}"
    done
}

# refused_panel: a panel on desk 3 as user panel1 with a wrong password ends
# with status 2 within 5 s, saying why in one line "iopanel: ...", before
# any window: xev, watching the root window, sees none mapped, and no new
# iopanel comes onto the accessibility bus meanwhile. Sets xev_pid while xev
# runs.
refused_panel() {
    local options status started elapsed
    read -r -a options <<<"$(panel_options 3 panel1 not-the-password)"
    desk_env 3
    {
        printf '%q ' timeout 10 env "${desk_vars[@]}" "$build/iopanel" "${options[@]}"
        printf '2>%q\necho $? >%q\n' "$tmp/refused.err" "$tmp/refused.status"
    } >"$tmp/refused.sh"
    stdbuf -oL xev -root -event substructure -event property >"$tmp/xev.out" 2>&1 &
    xev_pid=$!
    wait_for 50 xev_watches || fail "xev does not watch the root window"
    started="$(date +%s%N)"
    see "a refused panel came onto the accessibility bus" quiet iopanel "sh '$tmp/refused.sh'"
    elapsed=$((($(date +%s%N) - started) / 1000000))
    stop_processes "$xev_pid"
    xev_pid=""
    status="$(cat "$tmp/refused.status")"
    [ "$status" = 2 ] || fail "a panel with a wrong password ended with status $status: $(cat "$tmp/refused.err")"
    [ "$elapsed" -le 5000 ] || fail "a panel with a wrong password took $elapsed ms to end"
    [ "$(wc -l <"$tmp/refused.err")" = 1 ] && grep -q '^iopanel: ' "$tmp/refused.err" ||
        fail "a panel with a wrong password said, on standard error: $(cat "$tmp/refused.err")"
    ! grep -q MapNotify "$tmp/xev.out" ||
        fail "a panel with a wrong password mapped a window: $(grep -A2 MapNotify "$tmp/xev.out")"
    echo "  iopanel as panel1 with a wrong password ended with status 2 after $elapsed ms, saying:"
    sed 's/^/    /' "$tmp/refused.err"
    echo "  no window mapped ($(grep -c CreateNotify "$tmp/xev.out" || true) made), nothing new on the accessibility bus"
}
# xev_watches: xev has seen a change of the root window's resources, made
# now: it watches the root window.
xev_watches() {
    echo "iopanel-check.xev: $RANDOM" | xrdb -nocpp -merge
    grep -q PropertyNotify "$tmp/xev.out"
}
