# shellcheck shell=bash
# For the scripts in tools/, which source this file: how a script configures
# its build directory.

# configure_once DIR ARG...: configures DIR with cmake ARG... unless DIR is
# configured already. A check can then build its targets in a build that
# another step made (CI's test build) without changing its settings, which
# would rebuild all of it. IOPANEL_CMAKE_ARGS adds arguments to a first
# configuration (CI compiles each target as one unit with
# -DCMAKE_UNITY_BUILD=ON, which halves its builds).
configure_once() {
    local dir="$1" extra
    shift
    [ -f "$dir/CMakeCache.txt" ] && return 0
    read -r -a extra <<<"${IOPANEL_CMAKE_ARGS:-}"
    cmake -S . -B "$dir" "$@" "${extra[@]}"
}
