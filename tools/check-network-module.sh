#!/usr/bin/env bash
# A module behind a serial device server, built from the real Debian tools
# and driven as an operator would:
#
#   iomodule-sim on a pseudo-terminal
#     <- ser2net 4 serving that pseudo-terminal raw on a free local TCP port
#     <- socat making a local pseudo-terminal (a link) from the connection
#     <- the real panel, offscreen, with --port on that link
#
# It checks that the panel's frames reach the simulator in its rhythm (about
# ten a second, queries and output frames alternating) and that the panel
# sees an input change (the reply in its debug log, which is what the lamps
# are drawn from). Then it kills ser2net mid-run (socat ends with the
# connection) and starts both again: the panel must keep running, log
# nothing but replies, and poll again through the new link. Last, the same
# panel checks on a plain socat pseudo-terminal pair, the usual virtual
# null-modem, with the simulator on its other end.
#
#   tools/check-network-module.sh
#
#   IOPANEL_BUILD_DIR=DIR  build directory (default build-tests, which CI
#                          has built already)
set -euo pipefail
cd "$(dirname "$0")/.."

main() {
# shellcheck source=tools/lib/local.sh
source tools/lib/local.sh

build_for network iopanel iomodule-sim
panel_bin="$build/iopanel"

make_scratch network
sim_pid="" ser2net_pid="" socat_pid="" panel_pid=""
mkdir -p "$tmp/home"
# The panel's saved port goes to this home, never to the user's.
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config"

# Whatever happens, everything started here is stopped, by its pid, and the
# scratch directory goes.
cleanup() {
    exec 3>&- 2>/dev/null || true
    stop_processes "$panel_pid" "$socat_pid" "$ser2net_pid" "$sim_pid"
    remove_scratch
}
on_exit cleanup

fail() { fail_check NETWORK "$@"; }


frame_lines() { grep -E '^[0-9:.]{12}  ~' "$tmp/sim.log" || true; }
frame_count() { frame_lines | wc -l; }

start_ser2net() {
    ser2net -d -u -c "$tmp/ser2net.yaml" -P "$tmp/ser2net.pid" >>"$tmp/ser2net.log" 2>&1 &
    ser2net_pid=$!
    wait_for 50 listening || fail "ser2net is not listening on 127.0.0.1:$tcp_port"
}
listening() { [ -n "$(ss -Hltn "sport = :$tcp_port")" ] && kill -0 "$ser2net_pid" 2>/dev/null; }

start_socat() {
    socat -d -d "pty,link=$tmp/net-link,raw,echo=0" "tcp:127.0.0.1:$tcp_port" >>"$tmp/socat.log" 2>&1 &
    socat_pid=$!
    wait_for 50 test -L "$tmp/net-link" || fail "socat made no link"
}

start_panel() {
    env QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="default.debug=true" \
        "$panel_bin" --no-remember --port "$1" >"$tmp/panel.log" 2>&1 &
    panel_pid=$!
}

# Frames for $1 seconds from now: enough of them, queries and output frames
# alternating (one repeat allowed for a tick the busy worker skipped).
check_rhythm() {
    local seconds="$1" before after frames repeats
    before="$(frame_count)"
    sleep "$seconds"
    after="$(frame_count)"
    frames=$((after - before))
    repeats="$(frame_lines | tail -n "+$((before + 1))" | head -n "$frames" | awk '{print $2}' |
        awk 'NR > 1 && $0 == last {n++} {last = $0} END {print n + 0}')"
    echo "  $frames frames in $seconds s ($((frames * 100 / (seconds * 10))) % of one every 100 ms), $repeats out of turn"
    if [ "$frames" -lt $((seconds * 7)) ] || [ "$frames" -gt $((seconds * 11)) ]; then
        fail "expected about $((seconds * 10)) frames in $seconds s, got $frames"
    fi
    [ "$repeats" -le 1 ] || fail "frames do not alternate: $repeats repeats"
    frame_lines | tail -n "+$((before + 1))" | awk '{print $2}' | grep -qvE '^~(A|P00000)$' &&
        fail "frames other than ~A and ~P00000 reached the simulator"
    return 0
}

# An input switched at the simulator comes back in the panel's next reply.
check_input_change() {
    echo "inputs $1" >&3
    wait_for 30 grep -q "\"~A$1\"" "$tmp/panel.log" || fail "the panel never saw inputs $1"
    echo "  inputs $1 set at the simulator reached the panel's lamps"
}

panel_alive() { kill -0 "$panel_pid" 2>/dev/null || fail "the panel died"; }

# Everything the panel wrote to its log after line $1 is a reply: failures go
# to the status bar only. (The lines before are the offscreen platform's
# notes at start.)
check_log_only_replies() {
    local other
    other="$(tail -n "+$(($1 + 1))" "$tmp/panel.log" | grep -vE '^"~' || true)"
    [ -z "$other" ] || fail "the panel logged more than replies:
$other"
}

stop_panel() {
    kill -TERM "$panel_pid"
    local rc=0
    wait "$panel_pid" || rc=$?
    panel_pid=""
    [ "$rc" -eq 0 ] || fail "the panel exited with status $rc on SIGTERM"
}

echo "==== a module behind ser2net, reached through socat"
echo "  $(ser2net -v 2>&1 | head -n 1), $(socat -V | grep -m1 'socat version')"
start_simulator --link "$tmp/sim-link"
wait_for 50 test -L "$tmp/sim-link" || fail "the simulator made no link"
tcp_port="$(free_port)" || fail "no free TCP port on 127.0.0.1"
cat >"$tmp/ser2net.yaml" <<YAML
%YAML 1.1
---
# The simulator's pseudo-terminal, raw on a local TCP port, as a device
# server serves a module's serial line.
connection: &module
  accepter: tcp,127.0.0.1,$tcp_port
  connector: serialdev,$(readlink -f "$tmp/sim-link"),9600n81,local
  options:
    kickolduser: true
YAML
start_ser2net
start_socat
echo "  simulator on $(readlink -f "$tmp/sim-link"), ser2net on 127.0.0.1:$tcp_port, socat link $tmp/net-link -> $(readlink "$tmp/net-link")"
start_panel "$tmp/net-link"
wait_for 100 grep -q '"~A10100"' "$tmp/panel.log" || fail "no reply reached the panel"
check_rhythm 3
check_input_change 01011
panel_alive

echo "  ser2net killed: the connection, and with it socat, ends"
log_mark="$(wc -l <"$tmp/panel.log")"
kill -KILL "$ser2net_pid"
wait "$ser2net_pid" 2>/dev/null || true
ser2net_pid=""
socat_gone() { ! kill -0 "$socat_pid" 2>/dev/null; }
wait_for 50 socat_gone || fail "socat kept running without its connection"
wait "$socat_pid" 2>/dev/null || true
socat_pid=""
outage_start="$(frame_count)"
sleep 1
panel_alive
echo "  after 1 s without the link the panel runs on; $(($(frame_count) - outage_start)) frames reached the simulator meanwhile"
start_ser2net
start_socat
echo "  ser2net and socat started again, link now -> $(readlink "$tmp/net-link")"
polling_again() { [ "$(frame_count)" -gt "$outage_start" ]; }
wait_for 50 polling_again || fail "polling did not resume"
check_rhythm 3
check_input_change 11111
check_log_only_replies "$log_mark"
echo "  the outage cost only status-bar messages: the panel ran on and logged nothing but replies"
stop_panel
kill -TERM "$socat_pid" "$ser2net_pid" "$sim_pid" 2>/dev/null || true
wait "$socat_pid" "$ser2net_pid" "$sim_pid" 2>/dev/null || true
socat_pid="" ser2net_pid="" sim_pid=""
exec 3>&-
rm -f "$tmp/sim.in"

echo "==== a plain socat pseudo-terminal pair (virtual null-modem)"
: >"$tmp/socat.log"
socat -d -d "pty,link=$tmp/pair-a,raw,echo=0" "pty,link=$tmp/pair-b,raw,echo=0" >>"$tmp/socat.log" 2>&1 &
socat_pid=$!
pair_ready() { [ -L "$tmp/pair-a" ] && [ -L "$tmp/pair-b" ]; }
wait_for 50 pair_ready || fail "socat made no pair"
start_simulator --port "$tmp/pair-a"
start_panel "$tmp/pair-b"
wait_for 100 grep -q '"~A10100"' "$tmp/panel.log" || fail "no reply reached the panel"
check_rhythm 3
check_input_change 00110
stop_panel

echo "NETWORK CHECK PASSED"
}

main "$@"
