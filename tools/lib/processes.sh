# shellcheck shell=bash
# For the scripts in tools/, which source this file.

# stop_processes PID...: asks each process to end (SIGTERM), gives them up to
# 5 s together to do so, then kills whatever is left and reaps it. Only the
# given pids are signalled; empty arguments are passed over.
stop_processes() {
    local pids=() pid
    for pid in "$@"; do
        [ -n "$pid" ] && pids+=("$pid")
    done
    [ ${#pids[@]} -eq 0 ] && return 0
    kill -TERM "${pids[@]}" 2>/dev/null || true
    # kill -0 succeeds while any of them is still there.
    for _ in $(seq 50); do
        kill -0 "${pids[@]}" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
}

# tree_of PID: a process and its descendants, children first (the
# accessibility bus launcher starts the bus's own daemon, which starts the
# registry), for stop_processes.
tree_of() {
    local child
    for child in $(pgrep -P "$1" || true); do tree_of "$child"; done
    echo "$1"
}
