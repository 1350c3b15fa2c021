# shellcheck shell=bash
# For the scripts in tools/, which source this file.

# wait_for TENTHS COMMAND...: waits up to TENTHS tenths of a second for
# COMMAND to succeed, trying it every tenth and once more at the end; its
# last status is returned.
wait_for() {
    local tenths="$1"
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}
