# shellcheck shell=bash
# For the scripts in tools/, which source this file: the simulator and a
# free local TCP port, for the checks that build a module's surroundings
# from real tools.

# start_simulator ARG...: starts iomodule-sim ($sim_bin) with inputs 10100
# and ARG..., its log in $tmp/sim.log, taking commands from the FIFO
# $tmp/sim.in, which the script holds open on fd 3 so that the simulator
# never sees its input end (`echo "7 on" >&3` switches an input); sets
# sim_pid.
start_simulator() {
    mkfifo "$tmp/sim.in"
    "$sim_bin" --inputs 10100 "$@" <"$tmp/sim.in" >"$tmp/sim.log" 2>&1 &
    sim_pid=$!
    # Read-write: opening a FIFO so does not wait for the other end.
    exec 3<>"$tmp/sim.in"
}

# free_port: a TCP port on 127.0.0.1 that nothing listens on now; the
# server's start then shows whether it got it.
free_port() {
    local port
    for port in $(seq $((20000 + $$ % 20000)) $((20000 + $$ % 20000 + 50))); do
        if [ -z "$(ss -Hltn "sport = :$port")" ]; then
            echo "$port"
            return 0
        fi
    done
    return 1
}
