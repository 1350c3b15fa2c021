#!/usr/bin/env bash
# Installs clang with its sanitizer and libFuzzer runtimes and llvm-symbolizer
# (readable sanitizer stacks), but only the Debian packages that are missing.
# Used by tools/run-sanitizers.sh and tools/run-fuzzer.sh.
set -euo pipefail

missing=()
for p in clang libclang-rt-14-dev llvm; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
