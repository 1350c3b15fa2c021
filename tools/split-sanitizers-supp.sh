#!/usr/bin/env bash
# Splits tools/sanitizers.supp by entry kind into one file per tool, since
# each sanitizer refuses kinds that are not its own:
#
#   tools/split-sanitizers-supp.sh DIR   writes DIR/lsan.supp, DIR/tsan.supp, DIR/ubsan.supp
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"

tsan_kinds='race|race_top|thread|mutex|signal|deadlock|called_from_lib'
entries() { grep -E "^($1):" tools/sanitizers.supp || true; }
entries 'leak' >"$dir/lsan.supp"
entries "$tsan_kinds" >"$dir/tsan.supp"
# Everything else names a UBSan check (vptr:, alignment:, ...).
entries '[a-z_-]+' | grep -vE "^(leak|$tsan_kinds):" >"$dir/ubsan.supp" || true
