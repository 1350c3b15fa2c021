#!/usr/bin/env bash
# Installs what is missing, builds iopanel and starts it.
# IOPANEL_QT_MAJOR=6 builds against Qt 6 (into build-qt6/ instead of build/).
set -euo pipefail
cd "$(dirname "$0")/.."

qt_major="${IOPANEL_QT_MAJOR:-5}"
build_dir=build
[ "$qt_major" = 5 ] || build_dir="build-qt$qt_major"

IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh
cmake -S . -B "$build_dir" -DBUILD_TESTING=OFF -DIOPANEL_QT_MAJOR="$qt_major"
# Only the panel itself, so it starts as soon as possible.
cmake --build "$build_dir" --target iopanel -j"$(nproc)"
exec "./$build_dir/iopanel" "$@"
