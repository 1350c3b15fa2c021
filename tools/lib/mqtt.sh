# shellcheck shell=bash
# For tools/check-mqtt.sh, which sources this file after local.sh: a broker
# of the check's own, its clients, and what the simulator and a watching
# subscriber saw. Uses $tmp, $sim_pid's log $tmp/sim.log and sets
# broker_pid, mqtt_port.

# start_broker: mosquitto with $tmp/mosquitto.conf, on $mqtt_port (picked
# and written into that file at the first start: local only, nothing kept
# between starts).
start_broker() {
    if [ -z "${mqtt_port:-}" ]; then
        mqtt_port="$(free_port)" || fail "no free TCP port on 127.0.0.1"
        printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$mqtt_port" >"$tmp/mosquitto.conf"
    fi
    launch_mosquitto "$tmp/mosquitto.conf" "$tmp/broker.log" "$mqtt_port"
    broker_pid=$launched_pid
}

# launch_mosquitto CONF LOG PORT: mosquitto with CONF, its output added to
# LOG; sets launched_pid and waits up to 5 s for it to listen on PORT.
launch_mosquitto() {
    mosquitto -c "$1" >>"$2" 2>&1 &
    launched_pid=$!
    wait_for 50 listening_on "$3" || fail "mosquitto is not listening on 127.0.0.1:$3"
}
listening_on() { [ -n "$(ss -Hltn "sport = :$1")" ] && kill -0 "$launched_pid" 2>/dev/null; }

stop_broker() {
    kill -TERM "$broker_pid"
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=""
}

# publish TOPIC MESSAGE [OPTION...]: one message at QoS 1, as a dashboard sends it.
publish() { mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -q 1 -t "$1" -m "$2" "${@:3}"; }

# The simulator's frame lines other than polls, e.g. "~S3".
commands_received() { grep -oE '^[0-9:.]{12}  ~[PSR][0-9]+' "$tmp/sim.log" | awk '{print $2}' || true; }

# command_arrives TOPIC MESSAGE FRAME: publishes MESSAGE and waits up to a
# second for FRAME as the next command at the simulator.
command_arrives() {
    local before
    before="$(commands_received | wc -l)"
    publish "$1" "$2"
    wait_for 10 next_command_is "$before" "$3" ||
        fail "'$2' published to $1 did not reach the simulator as $3 within a second"
    echo "  '$2' published reached the simulator as $3"
}
next_command_is() { [ "$(commands_received | tail -n "+$(($1 + 1))" | head -n 1)" = "$2" ]; }

# The messages the watching subscriber ($tmp/watcher.log) got, topic first.
message_count() { wc -l <"$tmp/watcher.log"; }
# message_arrives AFTER TENTHS LINE: waits up to TENTHS tenths of a second
# for a message after the first AFTER that holds LINE.
message_arrives() { wait_for "$2" message_since "$1" "$3"; }
message_since() { tail -n "+$(($1 + 1))" "$tmp/watcher.log" | grep -qF -- "$2"; }
# last_message TEXT: the last message that holds TEXT.
last_message() { grep -F -- "$1" "$tmp/watcher.log" | tail -n 1; }

# retained TOPIC: the message retained on TOPIC, as a subscriber that
# starts now gets it.
retained() { mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -t "$1" -C 1 -W 5; }

# The inputs object for states 6 to 10, e.g. state true false true false false.
state() { printf '"6":%s,"7":%s,"8":%s,"9":%s,"10":%s}' "$@"; }

# clear_retained TOPIC: an empty retained message takes the retained one away.
clear_retained() { mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -t "$1" -r -n; }
