#!/usr/bin/env bash
# Installs what is missing, builds iopanel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake -S . -B build -DBUILD_TESTING=OFF
cmake --build build -j"$(nproc)"
exec ./build/iopanel "$@"
