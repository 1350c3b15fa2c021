#!/usr/bin/env bash
# Builds iopanel with its tests under the compiler's sanitizers and runs the
# whole suite through ctest, headless:
#
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer, with LeakSanitizer
#         checking every test program at exit; builds in build-asan/
#   tsan  ThreadSanitizer; builds in build-tsan/
#
#   tools/run-sanitizers.sh [asan] [tsan]   (no argument: both, in that order)
#
# Any report stops the test program with a non-zero exit code, so ctest and
# this script fail. Reports that come from inside the uninstrumented toolkit
# are suppressed by tools/sanitizers.supp (see docs/robustness.md).
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt, as for tools/run-tests.sh;
# the tsan run needs Qt 5 (see docs/robustness.md), so with Qt 6 the default
# is the asan run alone. IOPANEL_BUILD_DIR=DIR builds in DIR-asan/ and
# DIR-tsan/ instead; IOPANEL_CMAKE_ARGS adds arguments to cmake's
# configuration. Only the test programs and what they run are built.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

qt_major="${IOPANEL_QT_MAJOR:-5}"
build_prefix="${IOPANEL_BUILD_DIR:-build}"
case "$build_prefix" in /*) ;; *) build_prefix="$root/$build_prefix" ;; esac
runs=("$@")
if [ ${#runs[@]} -eq 0 ]; then
    runs=(asan tsan)
    [ "$qt_major" = 5 ] || runs=(asan)
fi
for run in "${runs[@]}"; do
    case "$run" in
        asan) ;;
        tsan)
            if [ "$qt_major" != 5 ]; then
                echo "run-sanitizers.sh: the tsan run needs Qt 5 (IOPANEL_QT_MAJOR=5)" >&2
                exit 2
            fi
            ;;
        *) echo "run-sanitizers.sh: unknown run '$run' (expected: asan, tsan)" >&2; exit 2 ;;
    esac
done

# What the build needs, then clang with its sanitizer runtimes; only missing
# packages are installed.
IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh test mqtt clang

# One suppressions file for all tools, split into one file per tool.
supp_dir="$(mktemp -d)"
trap 'rm -rf "$supp_dir"' EXIT
tools/split-sanitizers-supp.sh "$supp_dir"
# Readable by all: tst_faults runs a child as nobody, whose sanitizers read
# these files too.
chmod -R a+rX "$supp_dir"

export QT_QPA_PLATFORM=offscreen
# Stack traces name functions and lines.
export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer)}"

# Configures, builds and runs the suite in one build directory.
#   $1 build directory   $2 compile and link flags   $3 library preloaded into the tests
build_and_test() {
    local dir="$1" flags="$2 -fno-omit-frame-pointer -g -O1" preload="${3:-}" extra
    read -r -a extra <<<"${IOPANEL_CMAKE_ARGS:-}"
    cmake -S . -B "$dir" \
        -DBUILD_TESTING=ON \
        -DIOPANEL_QT_MAJOR="$qt_major" \
        -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" \
        -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
        "${extra[@]}"
    cmake --build "$dir" -j"$(nproc)" --target iopanel_tests
    LD_PRELOAD="$preload" ctest --test-dir "$dir" --output-on-failure
}

for run in "${runs[@]}"; do
    start=$SECONDS
    case "$run" in
        asan)
            echo "==== AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer ($build_prefix-asan/)"
            # Qt is built without frame pointers: the slow unwinder records
            # whole allocation stacks, which the leak suppressions match on.
            export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
            export LSAN_OPTIONS="suppressions=$supp_dir/lsan.supp:print_suppressions=0"
            export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp_dir/ubsan.supp"
            build_and_test "$build_prefix-asan" "-fsanitize=address,undefined -fno-sanitize-recover=all"
            ;;
        tsan)
            echo "==== ThreadSanitizer ($build_prefix-tsan/)"
            # Qt's mutexes and wait conditions lock inside uninstrumented Qt:
            # tools/tsan/qtsync.cpp annotates them, preloaded into the tests.
            mkdir -p "$build_prefix-tsan"
            clang++ -std=c++17 -shared -fPIC -O1 -g -Wall -Wextra -DQT_NO_VERSION_TAGGING \
                $(pkg-config --cflags Qt5Core) tools/tsan/qtsync.cpp \
                -o "$build_prefix-tsan/libqtsync-tsan.so"
            export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$supp_dir/tsan.supp:print_suppressions=0"
            build_and_test "$build_prefix-tsan" "-fsanitize=thread" "$build_prefix-tsan/libqtsync-tsan.so"
            ;;
    esac
    echo "==== $run: passed in $((SECONDS - start))s"
done
echo "sanitizer runs passed: ${runs[*]}"
