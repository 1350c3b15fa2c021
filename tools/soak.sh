#!/usr/bin/env bash
# Soak run: the real panel, on a virtual X display, polls iomodule-sim in
# chaos mode (random reports, garbage, floods, split replies, the line lost
# and back) for MINUTES minutes. Once a second it samples the panel's memory,
# descriptors, threads, CPU time and windows into a CSV, closes any "About"
# box now and then through its Ok button as an operator would, and at the
# end prints a summary and a verdict. It fails (exit 1) when the panel died
# or stopped polling, its memory kept growing after the warm-up, its
# descriptors or threads were not flat, more than one "About" box was ever
# open, or it did not end cleanly on SIGTERM.
#
# The simulator repeats the same chaos events over and over (a cycle of
# cycle_events), so that whatever the panel caches per distinct text (glyphs
# of random firmware versions) is filled in the first cycles and then stays:
# memory that still grows over identical cycles after the warm-up is a leak.
#
#   tools/soak.sh [MINUTES]        (default 2, at least 2)
#
#   SOAK_SECONDS=N         run N seconds instead (at least 60), for many short
#                          runs; the warm-up is then the first half
#   SOAK_SEED=N            chaos seed (default: a random one, printed)
#   IOPANEL_BUILD_DIR=DIR  build directory (default build-soak), as the
#                          other scripts take it
#   SOAK_RESULTS=DIR       where the CSV and the logs go (default
#                          BUILD_DIR/soak-results); only the script's own
#                          four files there are replaced
set -euo pipefail
cd "$(dirname "$0")/.."

# All of it in one function that is called on the last line: bash has then
# read the whole file before it runs any of it, so editing this script
# during an hour-long run cannot change the run.
main() {
# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh
# shellcheck source=tools/lib/configure.sh
source tools/lib/configure.sh

minutes="${1:-2}"
if ! [[ "$minutes" =~ ^[0-9]+$ ]] || [ "$minutes" -lt 2 ]; then
    # The memory check compares the end with the 60 s mark: it needs a
    # second minute (SOAK_SECONDS allows shorter runs).
    echo "soak.sh: MINUTES must be a whole number, at least 2, not '$minutes'" >&2
    exit 2
fi
seed="${SOAK_SEED:-$(((RANDOM << 15) | RANDOM))}"
build="${IOPANEL_BUILD_DIR:-build-soak}"
results="${SOAK_RESULTS:-$build/soak-results}"
duration=$((minutes * 60))
if [ -n "${SOAK_SECONDS:-}" ]; then
    if ! [[ "$SOAK_SECONDS" =~ ^[0-9]+$ ]] || [ "$SOAK_SECONDS" -lt 60 ]; then
        echo "soak.sh: SOAK_SECONDS must be a whole number, at least 60, not '$SOAK_SECONDS'" >&2
        exit 2
    fi
    duration="$SOAK_SECONDS"
fi

# Limits of the verdict. The warm-up ends at mark_s: at 60 s, or halfway
# through a shorter run; "at the mark" is the window mark_s +- mark_window_s.
mark_s=$((duration >= 120 ? 60 : duration / 2))
mark_window_s=$((mark_s / 6))
end_samples=$((duration >= 120 ? 30 : duration / 4)) # "at the end": their median
cycle_events=150         # chaos events per repeat, about 20 s of polling
rss_growth_limit_kb=256  # RSS growth after the warm-up
flat_limit=2             # descriptors and threads: max after the mark minus the max around it
alive_window_s=10        # the panel must have sent a frame this recently
close_every_s=5          # how often open About boxes are closed

echo "==== soak run: $duration s, chaos seed $seed (repeat with SOAK_SEED=$seed)"

tools/install-deps.sh soak
if ! configure_output="$(configure_once "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF 2>&1)"; then
    printf '%s\n' "$configure_output" >&2
    echo "soak.sh: configuring $build failed (output above)" >&2
    exit 1
fi
cmake --build "$build" -j2 --target iopanel iomodule-sim
panel_bin="$build/iopanel"
sim_bin="$build/simulator/iomodule-sim/iomodule-sim"

# Only this script's own files are replaced: SOAK_RESULTS may name a
# directory that holds other things.
mkdir -p "$results"
csv="$results/samples.csv"
sim_log="$results/sim.log"
panel_log="$results/panel.log"
xvfb_log="$results/xvfb.log"
rm -f "$csv" "$sim_log" "$panel_log" "$xvfb_log"
tmp="$(mktemp -d /tmp/iopanel-soak.XXXXXX)"
xvfb_pid="" sim_pid="" panel_pid=""

# Whatever happens, nothing of this run is left running and the scratch
# directory goes. Only the processes started here are signalled, by pid.
# shellcheck disable=SC2086,SC2317 # each is a pid or empty; run by the trap
cleanup() {
    stop_processes "$panel_pid" "$sim_pid" "$xvfb_pid"
    rm -rf "$tmp"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it is ready.
start_xvfb "$tmp" "$xvfb_log" || { echo "soak.sh: Xvfb did not start (see $xvfb_log)" >&2; exit 1; }

# The simulator keeps $tmp/module pointing at its current pseudo-terminal,
# also when a lost line comes back on a new one. Standard input from
# /dev/null: it takes no commands, and it serves on until SIGTERM.
"$sim_bin" --chaos "$seed" --chaos-repeat "$cycle_events" --link "$tmp/module" </dev/null >"$sim_log" 2>&1 &
sim_pid=$!
wait_for 50 test -L "$tmp/module" || { echo "soak.sh: the simulator made no link (see $sim_log)" >&2; exit 1; }

# A real X window, so that boxes can be counted from outside; the panel's
# per-reply debug lines are switched off, they would fill the disk. The
# user's saved port is left alone (--no-remember).
env QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="default.debug=false" \
    "$panel_bin" --no-remember --port "$tmp/module" >"$panel_log" 2>&1 &
panel_pid=$!

clk_tck="$(getconf CLK_TCK)"
echo "display $DISPLAY, simulator pid $sim_pid, panel pid $panel_pid; samples in $csv"

# Visible top-level windows of the panel, optionally only those titled
# "About". --all: xdotool otherwise takes a window matching any one of the
# conditions. It exits 1 when it finds none.
windows_of_panel() {
    xdotool search --all --onlyvisible --pid "$panel_pid" "$@" 2>/dev/null || true
}
count_lines() {
    if [ -z "$1" ]; then echo 0; else printf '%s\n' "$1" | wc -l; fi
}

echo "t_s,rss_kb,fds,threads,cpu_ticks,about_boxes,windows,frames" >"$csv"
start="${EPOCHREALTIME/./}"
boxes_closed=0
died_at=""
for ((t = 0; t <= duration; t++)); do
    # Samples on the second, however long the previous one took.
    due=$((start + t * 1000000))
    now="${EPOCHREALTIME/./}"
    [ "$now" -lt "$due" ] && sleep "$(printf '0.%06d' $((due - now)))"

    kill -0 "$panel_pid" 2>/dev/null || { died_at=$t; break; }
    rss="$(awk '/^VmRSS:/ {print $2}' "/proc/$panel_pid/status" 2>/dev/null || echo 0)"
    fds="$(find "/proc/$panel_pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)"
    threads="$(find "/proc/$panel_pid/task" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)"
    # utime and stime, fields 14 and 15; counted after the ")" that ends the
    # command name, which could hold spaces.
    cpu="$(sed 's/^.*) //' "/proc/$panel_pid/stat" 2>/dev/null | awk '{print $12 + $13}' || echo 0)"
    about_ids="$(windows_of_panel --name '^About$')"
    about="$(count_lines "$about_ids")"
    windows="$(count_lines "$(windows_of_panel)")"
    frames="$(grep -c '  outputs 1\.\.5: ' "$sim_log" || true)"
    echo "$t,${rss:-0},$fds,$threads,${cpu:-0},$about,$windows,$frames" >>"$csv"

    # Counted above, closed now: Return presses the box's default button, Ok,
    # so the panel gets on as it would with an operator, and a later report
    # can open a box again. The key goes through the X test extension to the
    # focused box, pressed and released like a real one: a key sent to the
    # window (key --window) arrives as a press whose release fails once the
    # box is gone, and later boxes then closed themselves at once.
    if [ $((t % close_every_s)) -eq 0 ] && [ -n "$about_ids" ]; then
        for id in $about_ids; do
            xdotool windowfocus --sync "$id" key Return 2>/dev/null && boxes_closed=$((boxes_closed + 1))
        done
    fi
    if [ $((t % 60)) -eq 0 ] && [ "$t" -gt 0 ]; then
        echo "  $((t / 60)) min: rss ${rss} kB, fds $fds, threads $threads, frames $frames"
    fi
done

# Polling in the last seconds, judged by the simulator's log: the time of
# day of the newest frame against the time now (both local, across midnight).
last_frame="$(grep '  outputs 1\.\.5: ' "$sim_log" | tail -n 1 | cut -c1-8)"
frame_age=""
if [ -n "$last_frame" ]; then
    IFS=: read -r h m s <<<"$last_frame"
    IFS=: read -r nh nm ns <<<"$(date +%H:%M:%S)"
    frame_age=$((((10#$nh * 3600 + 10#$nm * 60 + 10#$ns) - (10#$h * 3600 + 10#$m * 60 + 10#$s) + 86400) % 86400))
fi

# Stop both programs as an operator's session would, and check that they go.
stopped_cleanly=yes
stop() {
    local name="$1" pid="$2" rc=0
    kill -TERM "$pid" 2>/dev/null || { echo "$name had already ended"; stopped_cleanly=no; return; }
    if ! wait_for 100 test ! -e "/proc/$pid"; then
        echo "$name did not end within 10 s of SIGTERM"
        stopped_cleanly=no
        return
    fi
    wait "$pid" || rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "$name exited with status $rc after SIGTERM"
        stopped_cleanly=no
    fi
}
stop "the panel" "$panel_pid"
stop "the simulator" "$sim_pid"
left=()
kill -0 "$panel_pid" 2>/dev/null && left+=("iopanel $panel_pid")
kill -0 "$sim_pid" 2>/dev/null && left+=("iomodule-sim $sim_pid")
# The panel's serial-port lock files name its pid on their first line; the
# one for the link would also carry the scratch directory's name.
stale_locks=()
for lock in /run/lock/LCK..*; do
    [ -e "$lock" ] || continue
    if [ "$(head -n 1 "$lock" 2>/dev/null | tr -d ' ')" = "$panel_pid" ] || [[ "$lock" == *"$(basename "$tmp")"* ]]; then
        stale_locks+=("$lock")
    fi
done
stop_xvfb
kill -0 "$xvfb_pid" 2>/dev/null && left+=("Xvfb $xvfb_pid")
# All ended and waited for: the exit trap must not signal their pids again.
xvfb_pid="" sim_pid="" panel_pid=""

# Figures from the CSV. For memory, "at the mark" is the median of the
# samples within mark_window_s of mark_s and "at the end" the median of the
# last end_samples, so that one sample taken with a box open or mid-flood
# does not decide the verdict. Descriptors and threads swing with every
# exchange (while the port is open the panel holds it and its notifiers, 3
# descriptors and a thread more), so "at the mark" is the highest count
# around it, and flat means that no count after it is more than flat_limit
# above that.
read -r samples rss60 rss_end rss_max fds60 fds_max threads60 threads_max cpu_avg about_max windows_max frames_total < <(
    awk -F, -v tck="$clk_tck" -v mark="$mark_s" -v win="$mark_window_s" -v endn="$end_samples" '
        function median(a, n,    i, j, x) {
            for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
            return n % 2 ? a[(n + 1) / 2] : int((a[n / 2] + a[n / 2 + 1]) / 2)
        }
        NR == 1 { next }
        {
            n++; t[n] = $1; rss[n] = $2; fds[n] = $3; thr[n] = $4; cpu[n] = $5
            if ($2 > rssmax) rssmax = $2
            if ($6 > aboutmax) aboutmax = $6
            if ($7 > winmax) winmax = $7
            if ($1 >= mark - win && $1 <= mark + win) { k++; r60[k] = $2; if ($3 > f60) f60 = $3; if ($4 > h60) h60 = $4 }
            if ($1 > mark) { if ($3 > fdsmax) fdsmax = $3; if ($4 > thrmax) thrmax = $4 }
            frames = $8
        }
        END {
            m = n < endn ? n : endn
            for (i = 1; i <= m; i++) last[i] = rss[n - m + i]
            secs = t[n] - t[1]
            cpuavg = secs > 0 ? (cpu[n] - cpu[1]) / tck / secs * 100 : 0
            printf "%d %d %d %d %d %d %d %d %.1f %d %d %d\n", n, k ? median(r60, k) : 0, m ? median(last, m) : 0,
                rssmax, f60, fdsmax, h60, thrmax, cpuavg, aboutmax, winmax, frames
        }' "$csv")
count_events() { grep -c "$1" "$sim_log" || true; }

failures=()
[ -n "$died_at" ] && failures+=("the panel died after ${died_at} s (see $panel_log)")
if [ -z "$frame_age" ] || [ "$frame_age" -gt "$alive_window_s" ]; then
    failures+=("no frame from the panel in the last ${alive_window_s} s (newest: ${last_frame:-none})")
fi
# Growth is judged only when the panel lived past the mark's window.
if [ "$samples" -gt $((mark_s + mark_window_s)) ]; then
    [ $((rss_end - rss60)) -ge "$rss_growth_limit_kb" ] &&
        failures+=("RSS grew by $((rss_end - rss60)) kB after the warm-up of $mark_s s (limit $rss_growth_limit_kb kB)")
    [ $((fds_max - fds60)) -gt "$flat_limit" ] &&
        failures+=("descriptors not flat: $fds60 at $mark_s s, up to $fds_max later (allowed +$flat_limit)")
    [ $((threads_max - threads60)) -gt "$flat_limit" ] &&
        failures+=("threads not flat: $threads60 at $mark_s s, up to $threads_max later (allowed +$flat_limit)")
fi
[ "$about_max" -gt 1 ] && failures+=("$about_max About boxes open at once")
[ "$stopped_cleanly" = yes ] || failures+=("the programs did not end cleanly on SIGTERM")
[ ${#left[@]} -eq 0 ] || failures+=("still running: ${left[*]}")
[ ${#stale_locks[@]} -eq 0 ] || failures+=("lock files left: ${stale_locks[*]}")

echo
echo "==== soak summary (results in $results)"
printf '%-34s %s\n' \
    "duration" "$duration s ($samples samples)" \
    "chaos seed" "$seed (the same $cycle_events events over and over)" \
    "RSS at $mark_s s / at the end" "$rss60 kB / $rss_end kB (growth $((rss_end - rss60)) kB, limit <$rss_growth_limit_kb)" \
    "RSS max" "$rss_max kB" \
    "descriptors at $mark_s s / max after" "$fds60 / $fds_max (limit +$flat_limit)" \
    "threads at $mark_s s / max after" "$threads60 / $threads_max (limit +$flat_limit)" \
    "CPU, average" "$cpu_avg % of one core" \
    "About boxes open at once, max" "$about_max (closed by the script: $boxes_closed)" \
    "panel windows at once, max" "$windows_max" \
    "frames sent by the panel" "$frames_total (newest ${frame_age:-?} s before the end)" \
    "chaos events" "$(count_events ' chaos #')" \
    "  all inputs / single inputs" "$(count_events 'chaos #[0-9]* all inputs') / $(count_events 'chaos #[0-9]* single inputs')" \
    "  firmware / split / garbage" "$(count_events 'chaos #[0-9]* firmware') / $(count_events 'chaos #[0-9]* split reply') / $(count_events 'chaos #[0-9]* garbage')" \
    "  silence / floods" "$(count_events 'chaos #[0-9]* silence') / $(count_events 'chaos #[0-9]* flood:')" \
    "  lines lost / back" "$(count_events 'chaos line lost:') / $(count_events 'chaos line back on')" \
    "panel log lines (warnings)" "$(wc -l <"$panel_log")"
echo
if [ ${#failures[@]} -eq 0 ]; then
    echo "SOAK PASSED"
    exit 0
fi
printf 'FAILED: %s\n' "${failures[@]}"
echo "SOAK FAILED (repeat with SOAK_SEED=$seed)"
exit 1
}

main "$@"
