#!/usr/bin/env bash
# Installs what is missing, builds iopanel with its tests and runs them all
# through ctest, headless.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh test
cmake -S . -B build-tests -DBUILD_TESTING=ON
cmake --build build-tests -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-tests --output-on-failure "$@"
