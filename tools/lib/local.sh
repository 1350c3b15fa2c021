# shellcheck shell=bash
# For the scripts in tools/, which source this file: what the checks that
# build a module's surroundings from real tools share (their build, scratch
# directory and failure report, the simulator, a free local TCP port).

# shellcheck source=tools/lib/wait.sh
source "$(dirname "${BASH_SOURCE[0]}")/wait.sh"
# shellcheck source=tools/lib/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

# build_for GROUP TARGET...: installs what the check needs
# (tools/install-deps.sh GROUP) and builds TARGET... in $build, which
# IOPANEL_BUILD_DIR names (default build-tests, which CI has built already);
# sets sim_bin to the simulator there.
build_for() {
    local group="$1"
    shift
    build="${IOPANEL_BUILD_DIR:-build-tests}"
    tools/install-deps.sh "$group"
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target "$@" >/dev/null
    sim_bin="$build/simulator/iomodule-sim/iomodule-sim"
}

# start_simulator ARG...: starts iomodule-sim ($sim_bin) with inputs 10100
# and ARG..., its log in $tmp/sim.log, taking commands from the FIFO
# $tmp/sim.in, which the script holds open on fd 3 so that the simulator
# never sees its input end (`echo "7 on" >&3` switches an input); sets
# sim_pid.
start_simulator() {
    mkfifo "$tmp/sim.in"
    "$sim_bin" --inputs 10100 "$@" <"$tmp/sim.in" >"$tmp/sim.log" 2>&1 &
    # shellcheck disable=SC2034 # for the script that sourced this file
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

# make_scratch NAME: a scratch directory $tmp for this run.
make_scratch() {
    tmp="$(mktemp -d "/tmp/iopanel-$1.XXXXXX")"
}

# on_exit FUNCTION: FUNCTION runs whenever the script ends, also through a
# signal, which ends it through the exit trap.
on_exit() {
    # shellcheck disable=SC2064 # the function's name is fixed now
    trap "$1" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
}

# remove_scratch: the scratch directory.
remove_scratch() {
    rm -rf "$tmp"
}

# fail_check CHECK MESSAGE...: says why the check failed, with the last
# lines of every log in $tmp, and exits 1.
fail_check() {
    local check="$1" log
    shift
    echo "FAILED: $*"
    for log in "$tmp"/*.log; do
        [ -e "$log" ] || continue
        echo "---- last lines of $(basename "$log")"
        tail -n 12 "$log"
    done
    echo "$check CHECK FAILED"
    exit 1
}
