# shellcheck shell=bash
# For tools/check-panel-broker.sh, which sources this file after local.sh,
# mqtt.sh, closedbroker.sh and xvfb.sh: a desktop with a screen reader's bus,
# the panels on it, and what a screen reader reads from them. Uses $tmp,
# $build, $closed_port and fail; sets xvfb_pid, atspi_pid, panel_pids and
# xev_pid.

reader=(/usr/bin/python3 tools/accessibility/panel-tree.py)
panel_pids=()

# start_desktop: a virtual display at 96 dpi and the accessibility bus
# (at-spi2-core) on the session bus that dbus-run-session made.
start_desktop() {
    start_xvfb "$tmp" "$tmp/xvfb.log" 96 || fail "Xvfb did not start"
    start_atspi "$tmp/atspi.log" || fail "the accessibility bus did not come"
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
# connects as USER, the password in a file only the desk's user may read
# where docs/panel-on-broker.md puts it, the site's CA where
# docs/broker-network.md puts it.
panel_options() {
    local folder
    folder="$(desk "$1")/.config/iopanel"
    mkdir -p "$folder"
    install -m 0600 /dev/null "$folder/$2.password"
    printf '%s\n' "$3" >"$folder/$2.password"
    echo --broker "localhost:$closed_port" --topic 'bench/+' --tls-ca "$tmp/etc/ssl/certs/iopanel-ca.crt" \
        --username "$2" --password-file "$folder/$2.password"
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
# $tmp/panelN.log; sets panel_pids[N], and panel_command to its options.
start_panel() {
    local options
    read -r -a options <<<"$(panel_options "$1" "panel$1" "secret-panel$1")"
    # shellcheck disable=SC2034 # for the script that sourced this file
    panel_command="${options[*]}"
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

# start_xev: xev watches the root window for windows made and mapped, its
# lines in $tmp/xev.out; sets xev_pid.
start_xev() {
    stdbuf -oL xev -root -event substructure -event property >"$tmp/xev.out" 2>&1 &
    # shellcheck disable=SC2034 # stopped by the script that sourced this file
    xev_pid=$!
    wait_for 50 xev_watches || fail "xev does not watch the root window"
}
# xev_watches: xev has seen a change of the root window's resources made
# since the last time it held, and so every event before that change.
xev_watches() {
    local seen
    echo "iopanel-check.xev: $RANDOM" | xrdb -nocpp -merge
    seen="$(grep -c PropertyNotify "$tmp/xev.out" || true)"
    [ "$seen" -gt "${properties_seen:-0}" ] && properties_seen="$seen"
}

# set_option NAME VALUE: the value of --NAME in the array options is VALUE.
set_option() {
    local i
    for i in "${!options[@]}"; do
        [ "${options[$i]}" != "--$1" ] || options[i + 1]="$2"
    done
}

# refused_panel WHAT TEXT OPTION...: a panel on desk 3 with OPTION... ends
# with status 2 within 5 s, saying why in one line "iopanel: ..." that holds
# TEXT, before any window: xev (start_xev) sees none mapped, and no new
# iopanel comes onto the accessibility bus meanwhile.
refused_panel() {
    local status started elapsed maps
    desk_env 3
    {
        printf '%q ' timeout 10 env "${desk_vars[@]}" "$build/iopanel" "${@:3}"
        printf '2>%q\necho $? >%q\n' "$tmp/refused.err" "$tmp/refused.status"
    } >"$tmp/refused.sh"
    maps="$(grep -c MapNotify "$tmp/xev.out" || true)"
    started="$(date +%s%N)"
    see "a panel with $1 came onto the accessibility bus" quiet iopanel "sh '$tmp/refused.sh'"
    elapsed=$((($(date +%s%N) - started) / 1000000))
    wait_for 50 xev_watches || fail "xev stopped watching the root window"
    status="$(cat "$tmp/refused.status")"
    [ "$status" = 2 ] || fail "a panel with $1 ended with status $status: $(cat "$tmp/refused.err")"
    [ "$elapsed" -le 5000 ] || fail "a panel with $1 took $elapsed ms to end"
    [ "$(wc -l <"$tmp/refused.err")" = 1 ] && grep -q "^iopanel: .*$2" "$tmp/refused.err" ||
        fail "a panel with $1 said, on standard error (expected one line 'iopanel: ...$2...'): $(cat "$tmp/refused.err")"
    [ "$(grep -c MapNotify "$tmp/xev.out" || true)" = "$maps" ] ||
        fail "a panel with $1 mapped a window: $(grep -A2 MapNotify "$tmp/xev.out" | tail -n 3)"
    echo "  $1: status 2 after $elapsed ms, no window mapped:"
    sed 's/^/    /' "$tmp/refused.err"
}
