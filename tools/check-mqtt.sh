#!/usr/bin/env bash
# A module on an MQTT broker, bridged as the README's "Many modules, one
# broker" shows, with Debian's own broker and clients:
#
#   mosquitto_sub -t bench/module1/set | iopanelctl serve --json |
#       mosquitto_pub -t bench/module1/inputs -l -r
#
# against iomodule-sim on a link and mosquitto on a free port of 127.0.0.1
# with a configuration of its own. It checks with the real clients that the
# first state arrives and matches the simulator's inputs; that "outputs
# 10100", "set 3" and "reset 3" published to the set topic reach the
# simulator in that order, each within a second; that an input switched at
# the simulator arrives within a second; that a bad message leaves the
# bridge running and the next good one works; that the retained message
# gives a late subscriber the current state; that after the broker is
# stopped and started again state and commands flow again; and that the
# end of the commands ends serve with status 0.
#
#   tools/check-mqtt.sh
#
#   IOPANEL_BUILD_DIR=DIR  build directory (default build-tests, which CI
#                          has built already)
set -euo pipefail
cd "$(dirname "$0")/.."

main() {
# shellcheck source=tools/lib/local.sh
source tools/lib/local.sh

build_for mqtt iopanelctl iomodule-sim
ctl_bin="$build/iopanelctl/iopanelctl"

make_scratch mqtt
sim_pid="" broker_pid="" watcher_pid="" bridge_pid=""

# Whatever happens, everything started here is stopped, by its pid (the
# bridge's three processes are the children of its subshell), and the
# scratch directory goes.
cleanup() {
    exec 3>&- 2>/dev/null || true
    local bridge=()
    [ -z "$bridge_pid" ] || mapfile -t bridge < <(pgrep -P "$bridge_pid" || true)
    stop_processes "${bridge[@]}" "$bridge_pid" "$watcher_pid" "$broker_pid" "$sim_pid"
    remove_scratch
}
on_exit cleanup

fail() { fail_check MQTT "$@"; }

start_broker() {
    mosquitto -c "$tmp/mosquitto.conf" >>"$tmp/broker.log" 2>&1 &
    broker_pid=$!
    wait_for 50 listening || fail "mosquitto is not listening on 127.0.0.1:$mqtt_port"
}
listening() { [ -n "$(ss -Hltn "sport = :$mqtt_port")" ] && kill -0 "$broker_pid" 2>/dev/null; }

stop_broker() {
    kill -TERM "$broker_pid"
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=""
}

publish() { mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -t bench/module1/set -m "$1"; }
# The simulator's frame lines other than polls, e.g. "~S3".
commands_received() { grep -oE '^[0-9:.]{12}  ~[PSR][0-9]+' "$tmp/sim.log" | awk '{print $2}' || true; }
# The messages on bench/# that the watching subscriber got, topic first.
messages() { cat "$tmp/watcher.log"; }
message_count() { wc -l <"$tmp/watcher.log"; }
state() { printf '"6":%s,"7":%s,"8":%s,"9":%s,"10":%s}' "$@"; }

# Publishes $1 and waits up to a second for frame $2 at the simulator.
command_arrives() {
    local before frame="$2"
    before="$(commands_received | wc -l)"
    publish "$1"
    wait_for 10 next_command_is "$before" "$frame" ||
        fail "'$1' published did not reach the simulator as $frame within a second"
    echo "  '$1' published reached the simulator as $frame"
}
next_command_is() { [ "$(commands_received | tail -n "+$(($1 + 1))" | head -n 1)" = "$2" ]; }

# Waits up to $2 tenths of a second for a message after the first $1 that
# holds state $3.
message_arrives() { wait_for "$2" message_since "$1" "$3"; }
message_since() { messages | tail -n "+$(($1 + 1))" | grep -qF "$2"; }

echo "==== a module on an MQTT broker: mosquitto_sub | iopanelctl serve --json | mosquitto_pub"
echo "  $(mosquitto -h 2>&1 | head -n 1)"
start_simulator --link "$tmp/module"
wait_for 50 test -L "$tmp/module" || fail "the simulator made no link"
mqtt_port="$(free_port)" || fail "no free TCP port on 127.0.0.1"
cat >"$tmp/mosquitto.conf" <<CONF
# This check's own broker: local only, no state kept between its runs.
listener $mqtt_port 127.0.0.1
allow_anonymous true
persistence false
CONF
start_broker
mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -v -t 'bench/#' >"$tmp/watcher.log" 2>&1 &
watcher_pid=$!
wait_for 50 grep -q 'New client connected' "$tmp/broker.log" || fail "the watching subscriber did not connect"

# The bridge, as the README gives it; its statuses come back at its end.
(
    set +e
    mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -t bench/module1/set |
        "$ctl_bin" --port "$tmp/module" serve --json 2>"$tmp/serve.log" |
        mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -t bench/module1/inputs -l -r
    echo "${PIPESTATUS[*]}" >"$tmp/bridge.status"
) &
bridge_pid=$!

first="$(state true false true false false)"
message_arrives 0 50 "$first" || fail "no first state $first on bench/module1/inputs"
echo "  first state on the inputs topic matches the simulator's inputs 10100:"
echo "    $(messages | head -n 1)"
# Both clients of the bridge are connected once the broker has logged
# three; commands published before would reach no one.
subscribed() { [ "$(grep -c 'New client connected' "$tmp/broker.log")" -ge 3 ]; }
wait_for 50 subscribed || fail "the bridge's clients did not connect"

command_arrives "outputs 10100" "~P10100"
command_arrives "set 3" "~S3"
command_arrives "reset 3" "~R3"
[ "$(commands_received | tr '\n' ' ')" = "~P10100 ~S3 ~R3 " ] ||
    fail "the simulator got $(commands_received | tr '\n' ' ') instead of ~P10100 ~S3 ~R3, in order"

mark="$(message_count)"
echo "7 on" >&3
changed="$(state true true true false false)"
message_arrives "$mark" 10 "$changed" || fail "input 7 switched on did not arrive within a second"
echo "  input 7 switched on at the simulator arrived:"
echo "    $(messages | tail -n 1)"

publish frobnicate
command_arrives "set 2" "~S2"
grep -qx "iopanelctl: input line [0-9]*: unknown command 'frobnicate'" "$tmp/serve.log" ||
    fail "serve did not name the bad message"
echo "  'frobnicate' was named ($(grep frobnicate "$tmp/serve.log")), the bridge ran on"

late="$(mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -t bench/module1/inputs -C 1 -W 5)" ||
    fail "a late subscriber got no retained state"
[[ "$late" == *"$changed" ]] || fail "the retained state $late is not the current one"
echo "  a late subscriber got the retained state: $late"

echo "  broker stopped and started again"
stop_broker
sleep 1
start_broker
# The broker kept nothing (persistence false): the bridge's clients
# reconnect by themselves, and "inputs" publishes the current state again.
mark="$(message_count)"
republished() { publish inputs && message_arrives "$mark" 5 "$changed"; }
wait_for 10 republished || fail "after the restart no state came back for 'inputs'"
echo "  after the restart 'inputs' published the state again:"
echo "    $(messages | tail -n 1)"
command_arrives "set 4" "~S4"
mark="$(message_count)"
echo "7 off" >&3
message_arrives "$mark" 10 "$first" || fail "after the restart input 7 switched off did not arrive"
echo "  after the restart input 7 switched off arrived:"
echo "    $(messages | tail -n 1)"
late="$(mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -t bench/module1/inputs -C 1 -W 5)" ||
    fail "after the restart a late subscriber got no retained state"
[[ "$late" == *"$first" ]] || fail "after the restart the retained state $late is not the current one"
echo "  after the restart a late subscriber got the retained state"

# The end of the commands ends the bridge: serve with 0, then mosquitto_pub.
kill -TERM "$(pgrep -P "$bridge_pid" -x mosquitto_sub)"
wait "$bridge_pid" 2>/dev/null || true
bridge_pid=""
statuses="$(cat "$tmp/bridge.status")"
[ "$(echo "$statuses" | awk '{print $2, $3}')" = "0 0" ] ||
    fail "the bridge ended with statuses $statuses (mosquitto_sub, serve, mosquitto_pub)"
echo "  mosquitto_sub stopped: serve and mosquitto_pub ended with status 0"
echo "MQTT CHECK PASSED"
}

main "$@"
