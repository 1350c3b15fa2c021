#!/usr/bin/env bash
# The panel on the broker, with the real tools: the broker on the network of
# docs/broker-network.md (docs/broker/iopanel.conf and iopanel.acl: TLS,
# users, the ACL; tools/lib/closedbroker.sh), iomodule-sim on a link, its
# bridge started from docs/broker/module1.conf, a dashboard (mosquitto_sub
# as user dashboard) and two desks' panels, iopanel --broker localhost:PORT
# --topic 'bench/+' --tls-ca CA as users panel1 and panel2, each with its
# password in a file mode 0600 in its own home, on a virtual X display with
# the accessibility bus; tools/accessibility/panel-tree.py reads both windows
# as a screen reader does. It checks that:
#
#   the port list holds bench/module1, selected, the status is empty and the
#     lamps read the module's inputs; desk 1's saved port is not polled;
#   a. the lamps of both panels follow the simulator's inputs, switched twice;
#   b. Output 3 pressed in panel 1 by the box's action, as a screen reader's
#     user presses it, reaches the simulator (~S3) and panel 2's box
#     follows; clicked with the mouse in panel 2 (~R3), panel 1's follows;
#     the dashboard saw the outputs of both commands;
#   c. the bridge killed with SIGKILL: both panels say "bench/module1:
#     offline since" the time of the kill within 10 s, the lamps keep their
#     state; the bridge started again: the status clears;
#   d. the broker stopped: both say "can't reach localhost:PORT: ...; trying
#     again" and keep their lamps while an input is switched; started again
#     on that port: the status clears and the lamps show the new inputs;
#   e. a panel given a wrong password, a CA that did not sign the broker's
#     certificate, a host name the certificate is not for, --port beside
#     --broker or a password file mode 0644 ends with status 2 within 5 s,
#     one line on standard error, "iopanel: ..." with the reason, with no
#     window mapped (xev watches the root window) and nothing on the
#     accessibility bus;
#   closed, the panels leave desk 1's settings as they were and write none
#     on desk 2.
#
#   tools/check-panel-broker.sh
#
#   IOPANEL_BUILD_DIR=DIR  build directory (default build-tests, which CI
#                          has built already)
#
# Everything it starts is stopped by pid, and its scratch directory removed,
# also when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/lib/local.sh
source tools/lib/local.sh
# shellcheck source=tools/lib/mqtt.sh
source tools/lib/mqtt.sh
# shellcheck source=tools/lib/closedbroker.sh
source tools/lib/closedbroker.sh
# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh
# shellcheck source=tools/lib/panelbroker.sh
source tools/lib/panelbroker.sh

fail() { fail_check "PANEL ON THE BROKER" "$@"; }

# Second stage, on the private session bus that dbus-run-session made.
on_session_bus() {
    tmp="$1" build="$2"
    sim_bin="$build/simulator/iomodule-sim/iomodule-sim"
    bridge_bin="$build/iopanel-mqtt/iopanel-mqtt"
    sim_pid="" closed_pid="" bridge_pid="" dashboard_pid="" xev_pid=""
    cleanup() {
        exec 3>&- 2>/dev/null || true
        stop_processes "${panel_pids[@]}" "$xev_pid" "$bridge_pid" "$dashboard_pid" "$closed_pid" "$sim_pid"
        stop_desktop
    }
    on_exit cleanup

    start_desktop
    make_certificates
    make_users module1:secret-one dashboard:secret-dash panel1:secret-panel1 panel2:secret-panel2
    start_closed_broker
    start_simulator --link "$tmp/module"
    wait_for 50 test -L "$tmp/module" || fail "the simulator made no link"
    client_config dashboard dashboard secret-dash
    XDG_CONFIG_HOME="$tmp/dashboard" mosquitto_sub -v -t 'bench/#' >"$tmp/dashboard.log" 2>&1 &
    dashboard_pid=$!
    bridge_config module1 secret-one "$tmp/module"
    start_bridge
    wait_for 50 grep -qx "bench/module1/status online" "$tmp/dashboard.log" || fail "the bridge did not come up over TLS"
    echo "==== the module's bridge on the broker at localhost:$closed_port (TLS, users, ACL); the dashboard sees:"
    grep -E '^bench/module1/(status|inputs|outputs) ' "$tmp/dashboard.log" | sed 's/^/    /'

    # Desk 1 has a saved port, the simulator's link, which a panel in
    # serial mode would poll.
    mkdir -p "$(desk 1)/.config/iopanel"
    printf '[General]\nport=%s\n' "$tmp/module" >"$(desk 1)/.config/iopanel/iopanel.conf"
    cp "$(desk 1)/.config/iopanel/iopanel.conf" "$tmp/desk1-settings.before"
    start_panel 1
    echo "==== two desks' panels: iopanel $panel_command"
    start_panel 2
    echo "     and the same with panel2: pids ${panel_pids[1]} and ${panel_pids[2]}"
    both "the outputs and lamps are not named" names
    both "the port list does not hold the module alone" ports bench/module1
    both "the status is not empty with the module online" status-is ""
    see "the lamps do not read the module's inputs 10100" lamps "$(panel 1),$(panel 2)" 10100

    echo "==== a. the lamps follow the simulator's inputs"
    for bits in 01001 11010; do
        see "the lamps did not follow inputs $bits" lamps "$(panel 1),$(panel 2)" "$bits" "echo 'inputs $bits' >'$tmp/sim.in'"
    done

    echo "==== b. the outputs, pressed in one panel, followed in the other"
    press 1 click "Output 3" "~S3"
    see "panel 2's box 3 did not follow" boxes "$(panel 2)" --1--
    see "panel 1's box 3 did not follow its own press" boxes "$(panel 1)" --1--
    press 2 mouse "Output 3" "~R3"
    see "panel 1's box 3 did not follow" boxes "$(panel 1)" --0--
    see "panel 2's box 3 did not follow its own press" boxes "$(panel 2)" --0--
    dashboard_saw '^bench/module1/outputs .*"3":true' '^bench/module1/outputs .*"3":false'
    echo "  the dashboard saw both commands' outputs:"
    grep '^bench/module1/outputs ' "$tmp/dashboard.log" | tail -n 2 | sed 's/^/    /'

    echo "==== c. the bridge killed with SIGKILL, then started again"
    local killed
    killed="$(date +%s)"
    kill -KILL "$bridge_pid"
    wait "$bridge_pid" 2>/dev/null || true
    bridge_pid=""
    for n in 1 2; do
        within=10 see "panel $n: no 'offline since' within 10 s of the bridge's end" status-matches "$(panel "$n")" \
            'bench/module1: offline since [0-9]{2}:[0-9]{2}:[0-9]{2}'
        since_kill "$killed"
    done
    within=1 see "the lamps lost their last state" lamps "$(panel 1),$(panel 2)" 11010
    start_bridge
    within=15 both "the status did not clear with the bridge back" status-is ""

    echo "==== d. the broker stopped, then started again on its port"
    stop_processes "$closed_pid"
    closed_pid=""
    within=15 both "the broker's absence is not told" status-matches \
        "can't reach localhost:$closed_port: .+; trying again"
    echo "inputs 00111" >&3
    wait_for 20 grep -q 'inputs 6..10: 00111' "$tmp/sim.log" || fail "the simulator did not switch to 00111"
    echo "  inputs switched to 00111 meanwhile: the lamps keep the last state they heard of"
    within=1 see "the lamps lost their last state" lamps "$(panel 1),$(panel 2)" 11010
    within=0 both "the broker's absence is no longer told while it lasts" status-matches \
        "can't reach localhost:$closed_port: .+; trying again"
    launch_mosquitto "$tmp/etc/mosquitto/iopanel.conf" "$tmp/closed-broker.log" "$closed_port"
    closed_pid=$launched_pid
    within=20 both "the status did not clear with the broker back" status-is ""
    see "the lamps did not show inputs 00111, switched while the broker was away" \
        lamps "$(panel 1),$(panel 2)" 00111

    echo "==== e. refusals: one line on standard error, status 2, before any window"
    start_xev
    read -r -a options <<<"$(panel_options 3 panel1 not-the-password)"
    refused_panel "a wrong password" "refused user 'panel1'" "${options[@]}"
    # With the right password: each of these must be refused for its own reason.
    read -r -a options <<<"$(panel_options 3 panel1 secret-panel1)"
    set_option tls-ca "$tmp/other-ca.crt"
    refused_panel "a CA that did not sign the broker's certificate" "does not verify against" "${options[@]}"
    read -r -a options <<<"$(panel_options 3 panel1 secret-panel1)"
    set_option broker "127.0.0.1:$closed_port"
    refused_panel "a host name not in the certificate" "not for the host name 127.0.0.1" "${options[@]}"
    read -r -a options <<<"$(panel_options 3 panel1 secret-panel1)"
    refused_panel "--port beside --broker" "" "${options[@]}" --port "$tmp/module"
    chmod 0644 "$(desk 3)/.config/iopanel/panel1.password"
    refused_panel "a password file others may read" "for this user alone" "${options[@]}"
    stop_processes "$xev_pid"
    xev_pid=""

    echo "==== the panels closed (SIGTERM): no saved port read or written"
    stop_processes "${panel_pids[@]}"
    cmp -s "$tmp/desk1-settings.before" "$(desk 1)/.config/iopanel/iopanel.conf" ||
        fail "desk 1's settings changed: $(cat "$(desk 1)/.config/iopanel/iopanel.conf")"
    [ ! -e "$(desk 2)/.config/iopanel/iopanel.conf" ] ||
        fail "desk 2's panel wrote settings: $(cat "$(desk 2)/.config/iopanel/iopanel.conf")"
    echo "  desk 1's settings as they were; desk 2 has none"
}

start_bridge() {
    "$bridge_bin" --config "$tmp/etc/iopanel-mqtt/module1.conf" 2>>"$tmp/bridge.log" &
    bridge_pid=$!
}

# press N HOW BOX FRAME: BOX pressed in panel N reaches the simulator as
# FRAME within 5 s; HOW: click (the box's action, as a screen reader's user
# presses it) or mouse.
press() {
    local before
    before="$(commands_received | wc -l)"
    see "panel $1 could not press $3" "$2" "$(panel "$1")" "$3"
    wait_for 50 next_command_is "$before" "$4" ||
        fail "$3 pressed ($2) in panel $1 did not reach the simulator as $4; the dashboard's last commands:" \
            "$(grep '^bench/module1/set ' "$tmp/dashboard.log" | tail -n 2 | tr '\n' ' ' || echo none)"
    echo "  $3 pressed ($2) in panel $1 reached the simulator as $4"
}

# dashboard_saw RE...: the dashboard got lines matching each RE, in order,
# within 5 s.
dashboard_saw() {
    wait_for 50 lines_in_order "$tmp/dashboard.log" "$@" || fail "the dashboard did not see $*"
}
lines_in_order() {
    local file="$1" line=0 re found
    for re in "${@:2}"; do
        found="$(tail -n "+$((line + 1))" "$file" | grep -n -m 1 -E "$re" | cut -d: -f1)" || return 1
        line=$((line + found))
    done
}

# since_kill SECONDS: the time in the status the reader saw last is the
# kill's, at SECONDS since the epoch, or up to 10 s after it (the will's bound).
since_kill() {
    local said late
    said="$(grep -oE '[0-9]{2}:[0-9]{2}:[0-9]{2}' "$tmp/seen" | head -n 1)"
    late=$(($(date -d "$said" +%s) - $1))
    [ "$late" -ge 0 ] && [ "$late" -le 10 ] ||
        fail "the status says offline since $said, the bridge was killed at $(date -d "@$1" +%T)"
    echo "  offline since $said: the bridge was killed at $(date -d "@$1" +%T)"
}

if [ "${1:-}" = "--on-session-bus" ]; then
    on_session_bus "$2" "$3"
    exit
fi

build_for mqtt iopanel iopanel-mqtt iomodule-sim
tools/install-deps.sh a11y soak
make_scratch panel-broker
session_pid=""
# Ended early (SIGTERM), the second stage is told to end too, and stops what
# it started, before the scratch directory goes.
end_session() {
    local stage
    if [ -n "$session_pid" ]; then
        stage="$(pgrep -P "$session_pid" -f -- --on-session-bus || true)"
        [ -z "$stage" ] || kill -TERM "$stage" 2>/dev/null || true
        wait "$session_pid" 2>/dev/null || true
    fi
    remove_scratch
}
on_exit end_session
# A home of its own for everything started here (the buses, the X tools,
# the clients); each panel has one of its own beside it.
mkdir -p "$tmp/home/.config"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config"
# dbus-run-session ends its bus when the second stage ends.
dbus-run-session -- "$0" --on-session-bus "$tmp" "$build" &
session_pid=$!
wait "$session_pid" && status=0 || status=$?
session_pid=""
[ "$status" = 0 ] || exit 1
echo "PANEL ON THE BROKER CHECK PASSED"
