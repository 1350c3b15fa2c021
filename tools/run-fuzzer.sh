#!/usr/bin/env bash
# Builds the reply-decoder fuzzer (fuzz/, libFuzzer with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checks) with clang in build-fuzz/ and
# runs it on a scratch copy of fuzz/corpus/, so the repository's corpus stays
# as it is. Any crash, leak, time-out or sanitizer report fails the script;
# the input that caused it is kept in build-fuzz/artifacts/.
#
#   tools/run-fuzzer.sh [SECONDS]   (default 60)
#
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt, as for tools/run-tests.sh;
# IOPANEL_BUILD_DIR builds elsewhere than build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
qt_major="${IOPANEL_QT_MAJOR:-5}"
build_dir="${IOPANEL_BUILD_DIR:-build-fuzz}"
case "$build_dir" in /*) ;; *) build_dir="$PWD/$build_dir" ;; esac

IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh clang

# Debug: Qt's inline checks (Q_ASSERT, e.g. QByteArray::at() in range) stay on.
cmake -S . -B "$build_dir" \
    -DIOPANEL_FUZZ=ON \
    -DIOPANEL_QT_MAJOR="$qt_major" \
    -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-g -O1"
cmake --build "$build_dir" --target fuzz_replies -j"$(nproc)"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp -r fuzz/corpus "$scratch/corpus"
tools/split-sanitizers-supp.sh "$scratch"
mkdir -p "$build_dir/artifacts"

export QT_QPA_PLATFORM=offscreen
export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer)}"
export ASAN_OPTIONS="halt_on_error=1"
export LSAN_OPTIONS="suppressions=$scratch/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$scratch/ubsan.supp"
# -timeout: an About box that never closes is a hang, reported as a failure.
# -max_len: 128 bytes hold six firmware reports. The decoder keeps little
# state, so longer inputs mostly repeat frames, and every firmware report in
# them costs an About box (see docs/fuzzer.md).
"$build_dir/fuzz/fuzz_replies" \
    -max_total_time="$seconds" \
    -max_len=128 \
    -timeout=10 \
    -detect_leaks=1 \
    -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/" \
    "$scratch/corpus"
echo "fuzz_replies: no crash, leak or sanitizer report in ${seconds}s"
