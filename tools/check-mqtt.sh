#!/usr/bin/env bash
# A module on an MQTT broker, as docs/broker.md's "Many modules, one broker"
# shows, with Debian's own broker and clients, against iomodule-sim on a
# link and mosquitto on a free port of 127.0.0.1 with a configuration of
# its own.
#
# The bridge, iopanel-mqtt --port LINK --broker 127.0.0.1:PORT --topic
# bench/module1: status online and the first state arrive, retained; "outputs
# 10100", "set 3" and "reset 3" reach the simulator in order, each within a
# second, and the outputs topic follows; an input switched at the simulator
# arrives within a second; a bad message and a retained one leave the bridge
# running and are not run; killed with SIGKILL, its last will says offline;
# a command published while it was down reaches the module once it is
# back; after a broker restart state, status and commands flow again; SIGTERM
# says offline and ends it with status 0. docs/broker.md's first example
# configuration runs under the service's ExecStart line.
#
# A broker crash with persistence (tools/lib/brokercrash.sh): a bridge lost
# while the broker was down stops looking online within 60 s.
#
# The pipeline, mosquitto_sub -R | iopanelctl serve --json | mosquitto_pub -l
# -r: the first state arrives, a command reaches the module, a retained
# command is not run, and the end of the commands ends serve with status 0.
#
# The broker on the network of docs/broker-network.md, run with the files in
# docs/broker/ (tools/lib/closedbroker.sh) where the page puts them, under a scratch etc/:
# a CA made for the run (its certificate mode 0644, its key 0600) and the
# broker's certificate, users module1, module2, dashboard and operator, and
# two modules whose bridges are started from docs/broker/module1.conf. Both
# bridges come up over TLS; the operator switches each module; module 1's
# user can neither switch module 2 nor forge its inputs, nor, with module
# 2's client id, throw module 2's bridge off or end the session holding a
# command queued for it; an anonymous client and a wrong password are
# refused, and mosquitto logs the refusal as the page quotes it; a bridge
# given a wrong CA or a wrong password ends with status 2 and says why.
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
# shellcheck source=tools/lib/mqtt.sh
source tools/lib/mqtt.sh
# shellcheck source=tools/lib/closedbroker.sh
source tools/lib/closedbroker.sh
# shellcheck source=tools/lib/brokercrash.sh
source tools/lib/brokercrash.sh

build_for mqtt iopanel-mqtt iopanelctl iomodule-sim
bridge_bin="$build/iopanel-mqtt/iopanel-mqtt"
ctl_bin="$build/iopanelctl/iopanelctl"

make_scratch mqtt
sim_pid="" broker_pid="" watcher_pid="" bridge_pid="" pipeline_pid=""
sim2_pid="" closed_pid="" dashboard_pid="" closed_bridges=() crash_pids=()
# The clients' own settings are read from here, never from the user's.
export XDG_CONFIG_HOME="$tmp/config"

# Whatever happens, everything started here is stopped, by its pid (the
# pipeline's three processes are the children of its subshell), and the
# scratch directory goes.
cleanup() {
    exec 3>&- 4>&- 5>&- 2>/dev/null || true
    local pipeline=()
    [ -z "$pipeline_pid" ] || mapfile -t pipeline < <(pgrep -P "$pipeline_pid" || true)
    stop_processes "${pipeline[@]}" "$pipeline_pid" "$bridge_pid" "${closed_bridges[@]}" "${crash_pids[@]}" "$watcher_pid" \
        "$dashboard_pid" "$broker_pid" "$closed_pid" "$sim_pid" "$sim2_pid"
    remove_scratch
}
on_exit cleanup

fail() { fail_check MQTT "$@"; }

start_bridge() {
    "$bridge_bin" --port "$tmp/module" --broker "127.0.0.1:$mqtt_port" --topic bench/module1 2>>"$tmp/bridge.log" &
    bridge_pid=$!
}

echo "==== a module on an MQTT broker"
echo "  $(mosquitto -h 2>&1 | head -n 1)"
start_simulator --link "$tmp/module"
wait_for 50 test -L "$tmp/module" || fail "the simulator made no link"
start_broker
mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -v -t 'bench/#' >"$tmp/watcher.log" 2>&1 &
watcher_pid=$!
wait_for 50 grep -q 'New client connected' "$tmp/broker.log" || fail "the watching subscriber did not connect"

echo "== the bridge: iopanel-mqtt --port LINK --broker 127.0.0.1:$mqtt_port --topic bench/module1"
start_bridge
first="$(state true false true false false)"
message_arrives 0 50 "bench/module1/status online" || fail "no 'online' on bench/module1/status"
message_arrives 0 50 "$first" || fail "no first state $first on bench/module1/inputs"
echo "  status online, and the first state matches the simulator's inputs 10100:"
echo "    $(last_message bench/module1/inputs)"

command_arrives bench/module1/set "outputs 10100" "~P10100"
command_arrives bench/module1/set "set 3" "~S3"
command_arrives bench/module1/set "reset 3" "~R3"
[ "$(commands_received | tr '\n' ' ')" = "~P10100 ~S3 ~R3 " ] ||
    fail "the simulator got $(commands_received | tr '\n' ' ') instead of ~P10100 ~S3 ~R3, in order"
outputs='"1":true,"2":false,"3":false,"4":false,"5":false}'
message_arrives 0 10 "$outputs" || fail "bench/module1/outputs does not show outputs 10000"
echo "  bench/module1/outputs followed: $(last_message bench/module1/outputs)"

mark="$(message_count)"
echo "7 on" >&3
changed="$(state true true true false false)"
message_arrives "$mark" 10 "$changed" || fail "input 7 switched on did not arrive within a second"
echo "  input 7 switched on at the simulator arrived: $(last_message bench/module1/inputs)"

publish bench/module1/set frobnicate
publish bench/module1/set "outputs 11111" -r
command_arrives bench/module1/set "set 2" "~S2"
grep -q "bad message on bench/module1/set, dropped: unknown command 'frobnicate'" "$tmp/bridge.log" ||
    fail "the bridge did not name the bad message"
grep -q "retained, not run: 'outputs 11111'" "$tmp/bridge.log" || fail "the bridge did not name the retained message"
echo "  'frobnicate' and a retained 'outputs 11111' were named and not run, the bridge ran on:"
grep -E "frobnicate|retained" "$tmp/bridge.log" | sed 's/^/    /'
clear_retained bench/module1/set

mark="$(message_count)"
kill -KILL "$bridge_pid"
wait "$bridge_pid" 2>/dev/null || true
message_arrives "$mark" 20 "bench/module1/status offline" || fail "no last will 'offline' after SIGKILL"
echo "  bridge killed with SIGKILL: its last will said offline"
publish bench/module1/set "reset 2"
echo "  'reset 2' published while the bridge was down"
before="$(commands_received | wc -l)"
start_bridge
wait_for 50 next_command_is "$before" "~R2" || fail "'reset 2' did not reach the simulator after the restart"
echo "  bridge started again: 'reset 2' reached the simulator as ~R2"

echo "  broker stopped and started again"
stop_broker
sleep 1
mark="$(message_count)"
start_broker
wait_for 100 retained_is bench/module1/status online || fail "after the restart no 'online' came back"
[[ "$(retained bench/module1/inputs)" == *"$changed" ]] || fail "after the restart the inputs were not published again"
echo "  after the restart a late subscriber got status online and the inputs again"
command_arrives bench/module1/set "set 4" "~S4"

mark="$(message_count)"
kill -TERM "$bridge_pid"
wait "$bridge_pid" && status=0 || status=$?
bridge_pid=""
[ "$status" = 0 ] || fail "SIGTERM ended the bridge with status $status"
[ "$(retained bench/module1/status)" = offline ] || fail "SIGTERM did not leave 'offline' on bench/module1/status"
echo "  SIGTERM: offline published, the bridge ended with status 0"
first_example_under_unit
broker_crash

echo "== the pipeline: mosquitto_sub -R | iopanelctl serve --json | mosquitto_pub -l -r"
publish bench/module2/set "outputs 11111" -r
(
    set +e
    mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -R -t bench/module2/set |
        "$ctl_bin" --port "$tmp/module" serve --json 2>"$tmp/serve.log" |
        mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -t bench/module2/inputs -l -r
    echo "${PIPESTATUS[*]}" >"$tmp/pipeline.status"
) &
pipeline_pid=$!
message_arrives "$mark" 50 "bench/module2/inputs {" || fail "no first state on bench/module2/inputs"
echo "  first state: $(last_message bench/module2/inputs)"
# Both clients are connected once the broker has counted them; commands
# published before would reach no one.
subscribed() { [ "$(ss -Htn "dport = :$mqtt_port" | wc -l)" -ge 3 ]; }
wait_for 50 subscribed || fail "the pipeline's clients did not connect"
command_arrives bench/module2/set "reset 4" "~R4"
commands_received | grep -q '~P11111' && fail "the retained 'outputs 11111' was run"
echo "  the retained 'outputs 11111' was not run (mosquitto_sub -R)"
kill -TERM "$(pgrep -P "$pipeline_pid" -x mosquitto_sub)"
wait "$pipeline_pid" 2>/dev/null || true
pipeline_pid=""
statuses="$(cat "$tmp/pipeline.status")"
[ "$(echo "$statuses" | awk '{print $2, $3}')" = "0 0" ] ||
    fail "the pipeline ended with statuses $statuses (mosquitto_sub, serve, mosquitto_pub)"
echo "  mosquitto_sub stopped: serve and mosquitto_pub ended with status 0"
closed_broker
echo "MQTT CHECK PASSED"
}

# The broker on the network of docs/broker-network.md, with its own files: TLS,
# users and the ACL; two modules, their bridges started from its configuration.
closed_broker() {
    echo "== the broker on the network: docs/broker/iopanel.conf, iopanel.acl and module1.conf"
    docs_show docs/broker/iopanel.conf docs/broker/iopanel.acl docs/broker/module1.conf
    make_certificates
    make_users module1:secret-one module2:secret-two dashboard:secret-dash operator:secret-op
    start_closed_broker
    mkfifo "$tmp/sim2.in"
    "$sim_bin" --inputs 01010 --link "$tmp/module2" <"$tmp/sim2.in" >"$tmp/sim2.log" 2>&1 &
    sim2_pid=$!
    exec 4<>"$tmp/sim2.in"
    wait_for 50 test -L "$tmp/module2" || fail "the second simulator made no link"
    client_config dashboard dashboard secret-dash
    client_config operator operator secret-op
    client_config module1-user module1 secret-one
    client_config anonymous "" ""
    client_config wrong-password dashboard not-the-password
    # By its own pid, so that the cleanup stops it.
    XDG_CONFIG_HOME="$tmp/dashboard" mosquitto_sub -v -t 'bench/#' >"$tmp/dashboard.log" 2>&1 &
    dashboard_pid=$!
    bridge_config module1 secret-one "$tmp/module"
    bridge_config module2 secret-two "$tmp/module2"
    for module in module1 module2; do
        "$bridge_bin" --config "$tmp/etc/iopanel-mqtt/$module.conf" 2>>"$tmp/$module-bridge.log" &
        closed_bridges+=($!)
    done
    for module in module1 module2; do
        wait_for 50 grep -qx "bench/$module/status online" "$tmp/dashboard.log" ||
            fail "$module's bridge did not come up over TLS"
    done
    echo "  both bridges connected over TLS as their users; the dashboard sees them online:"
    grep -E '^bench/module[12]/(status|inputs) ' "$tmp/dashboard.log" | sed 's/^/    /'

    as operator mosquitto_pub -q 1 -t bench/module1/set -m "outputs 01011"
    as operator mosquitto_pub -q 1 -t bench/module2/set -m "set 5"
    wait_for 10 grep -q '~P01011' "$tmp/sim.log" || fail "the operator's 'outputs 01011' did not reach module 1"
    wait_for 10 grep -q '~S5' "$tmp/sim2.log" || fail "the operator's 'set 5' did not reach module 2"
    echo "  the operator switched the outputs of module 1 to 01011 and output 5 of module 2 on"

    as module1-user mosquitto_pub -q 1 -t bench/module2/set -m "set 1"
    as module1-user mosquitto_pub -q 1 -r -t bench/module2/inputs -m '{"forged":true}'
    as operator mosquitto_pub -q 1 -t bench/module2/set -m "reset 5"
    wait_for 10 grep -q '~R5' "$tmp/sim2.log" || fail "the operator's 'reset 5' did not reach module 2"
    ! grep -q '~S1' "$tmp/sim2.log" || fail "module 1's user switched output 1 of module 2"
    ! grep -q forged "$tmp/dashboard.log" || fail "module 1's user forged module 2's inputs"
    echo "  module 1's user could neither switch module 2 nor forge its inputs (the ACL dropped both)"

    for client in anonymous wrong-password; do
        ! as "$client" mosquitto_pub -t bench/module1/set -m "set 1" 2>"$tmp/$client.log" ||
            fail "the broker took a message from the $client client"
        grep -q "not authorised" "$tmp/$client.log" || fail "the $client client was not refused: $(cat "$tmp/$client.log")"
    done
    echo "  an anonymous client and a wrong password were refused: $(head -n 1 "$tmp/anonymous.log")"
    refused_logged
    takeover_refused

    refused_bridge "a wrong CA" "does not verify" --tls-ca "$tmp/other-ca.crt"
    printf 'not-the-password\n' >"$tmp/wrong.password" && chmod 600 "$tmp/wrong.password"
    refused_bridge "a wrong password" "refused user 'module1'" --password-file "$tmp/wrong.password"
}

# refused_bridge WHAT TEXT OPTION...: module 1's bridge with OPTION... on
# top of its configuration ends with status 2 within 10 s, saying TEXT.
refused_bridge() {
    local status=0
    timeout 10 "$bridge_bin" --config "$tmp/etc/iopanel-mqtt/module1.conf" "${@:3}" 2>"$tmp/refused.log" || status=$?
    [ "$status" = 2 ] && grep -q "$2" "$tmp/refused.log" ||
        fail "a bridge with $1 ended with status $status: $(cat "$tmp/refused.log")"
    echo "  a bridge with $1 ended with status 2: $(grep "$2" "$tmp/refused.log")"
}

# first_example_under_unit: docs/broker.md's first configuration example,
# as /etc/iopanel-mqtt/example.conf under a scratch etc/ (only its port and
# broker changed), run by the shipped unit's ExecStart line, which always
# passes the credential's --password-file, connects and ends with status 0.
first_example_under_unit() {
    local unit=iopanel-mqtt/iopanel-mqtt@.service command status=0
    mkdir -p "$tmp/etc/iopanel-mqtt" "$tmp/credentials"
    python3 - docs/broker.md >"$tmp/etc/iopanel-mqtt/example.conf" <<'PY' || fail "docs/broker.md has no first example"
import re, sys
block = re.search(r"\n((?:    .*\n)+)", open(sys.argv[1]).read().split("# module 1 on the bench", 1)[1])
sys.stdout.write("# module 1 on the bench\n" + "".join(l[4:] + "\n" for l in block.group(1).splitlines()))
PY
    sed -i -e "s#^port = .*#port = $tmp/module#" -e "s#^broker = .*#broker = 127.0.0.1:$mqtt_port#" \
        "$tmp/etc/iopanel-mqtt/example.conf"
    (umask 077; echo any-word >"$tmp/credentials/password")
    command="$(sed -n 's/^ExecStart=//p' "$unit")"
    command="${command//\/usr\/bin\/iopanel-mqtt/$bridge_bin}"
    command="${command//\/etc\//$tmp/etc/}"
    command="${command//%i/example}"
    command="${command//%d/$tmp/credentials}"
    # shellcheck disable=SC2086 # the unit's words, split as systemd splits them
    $command 2>"$tmp/example.log" &
    bridge_pid=$!
    wait_for 50 grep -q "connected to 127.0.0.1:$mqtt_port" "$tmp/example.log" ||
        fail "docs/broker.md's first example did not run under the unit: $(cat "$tmp/example.log")"
    kill -TERM "$bridge_pid"
    wait "$bridge_pid" || status=$?
    bridge_pid=""
    [ "$status" = 0 ] || fail "docs/broker.md's first example under the unit ended with status $status"
    echo "  docs/broker.md's first example ran under the unit's ExecStart: $(grep connected "$tmp/example.log")"
}

retained_is() { [ "$(retained "$1" 2>/dev/null)" = "$2" ]; }

main "$@"
