# shellcheck shell=bash
# For tools/check-mqtt.sh, which sources this file after mqtt.sh: a broker
# that crashes with persistence on, as Debian runs it. Two bridges, one on
# the simulator at $tmp/module and one on a simulator of its own, connect
# to a broker with persistence; the broker saves (SIGUSR1, as its autosave
# does), is killed with SIGKILL, the first bridge is killed while the broker
# is down, and the broker starts again from what it saved. The broker sends
# no last will for the session it restored, so a new subscriber first gets
# the gone bridge's "online"; it must stop within the message expiry
# (RetainedState::expirySeconds, 60 s) of the bridge's end, while the live
# bridge's status, published again every 20 s, is still there after it.
# Uses $tmp, $bridge_bin, $sim_bin; sets crash_pids for the cleanup.

broker_crash() {
    echo "== a broker crash with persistence: saved, killed, a bridge lost meanwhile, started again"
    local port dir="$tmp/crash" gone_pid killed first waited live_seen live_expiry
    port="$(free_port)" || fail "no free TCP port on 127.0.0.1"
    mkdir "$dir"
    printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\npersistence true\npersistence_location %s/\nautosave_interval 1800\n' \
        "$port" "$(id -un)" "$dir" >"$dir/mosquitto.conf"
    crash_port="$port"
    launch_mosquitto "$dir/mosquitto.conf" "$tmp/crash-broker.log" "$port"
    crash_pids=("$launched_pid")
    mkfifo "$dir/live.in"
    "$sim_bin" --link "$dir/live-module" <"$dir/live.in" >"$tmp/crash-sim.log" 2>&1 &
    crash_pids+=($!)
    exec 5<>"$dir/live.in"
    wait_for 50 test -L "$dir/live-module" || fail "the second simulator made no link"
    "$bridge_bin" --port "$tmp/module" --broker "127.0.0.1:$port" --topic crash/gone 2>>"$tmp/crash-bridges.log" &
    gone_pid=$!
    crash_pids+=("$gone_pid")
    "$bridge_bin" --port "$dir/live-module" --broker "127.0.0.1:$port" --topic crash/live 2>>"$tmp/crash-bridges.log" &
    crash_pids+=($!)
    for topic in crash/gone/status crash/live/status; do
        wait_for 50 crash_status_is "$topic" online || fail "no 'online' retained on $topic"
    done

    kill -USR1 "${crash_pids[0]}"
    wait_for 50 grep -q 'Saving in-memory database' "$tmp/crash-broker.log" || fail "the broker did not save"
    sleep 1
    kill -KILL "${crash_pids[0]}"
    wait "${crash_pids[0]}" 2>/dev/null || true
    kill -KILL "$gone_pid"
    wait "$gone_pid" 2>/dev/null || true
    killed="$(date +%s)"
    echo "  both bridges online; the broker saved and was killed (SIGKILL); crash/gone's bridge killed meanwhile"
    sleep 2
    launch_mosquitto "$dir/mosquitto.conf" "$tmp/crash-broker.log" "$port"
    crash_pids[0]="$launched_pid"
    first="$(crash_retained crash/gone/status '%p (expires in %E s)')"
    echo "  broker started again from what it saved; a new subscriber got crash/gone/status ${first:-nothing}"
    # The living bridge's status as it published it on connecting again: due to expire then.
    wait_for 100 crash_connections_are 2 || fail "the living bridge did not connect again"
    live_expiry="$(crash_retained crash/live/status '%E')"
    live_seen="$(date +%s)"
    wait_for 700 crash_status_gone crash/gone/status || fail "crash/gone/status was still online 70 s after its bridge ended"
    waited=$(($(date +%s) - killed))
    [ "$waited" -le 62 ] || fail "crash/gone/status stayed online for $waited s after its bridge ended, more than 60 s"
    echo "  crash/gone/status no longer online for a new subscriber $waited s after its bridge was killed (bound: 60 s)"
    [ -n "$live_expiry" ] || fail "crash/live/status had no expiry after the restart"
    waited=$((live_seen + live_expiry + 3 - $(date +%s)))
    sleep $((waited > 0 ? waited : 0))
    crash_status_is crash/live/status online || fail "the live bridge's status expired: it was not published again"
    echo "  crash/live/status still online $(($(date +%s) - live_seen)) s after it said it would expire in $live_expiry s:" \
        "published again every 20 s"
    exec 5>&-
    stop_processes "${crash_pids[@]}"
    crash_pids=()
}

# crash_retained TOPIC FORMAT: the message retained on TOPIC of the crashed
# broker, in mosquitto_sub's FORMAT; nothing after a second without one.
crash_retained() {
    mosquitto_sub -h 127.0.0.1 -p "$crash_port" -V mqttv5 -t "$1" -C 1 -W 1 -F "$2" 2>/dev/null || true
}
crash_connections_are() { [ "$(grep -c 'as iopanel-mqtt-crash-live$' "$tmp/crash-bridges.log")" -ge "$1" ]; }
crash_status_is() { [ "$(crash_retained "$1" '%p')" = "$2" ]; }
crash_status_gone() { [ "$(crash_retained "$1" '%p')" != online ]; }
