#!/usr/bin/env bash
# Installs what is missing, builds iopanel with its tests and runs them all
# through ctest, headless. Arguments go to ctest.
#
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt; the build goes to
# build-tests/ for Qt 5 and build-tests-qt6/ for Qt 6, or to IOPANEL_BUILD_DIR.
# IOPANEL_CMAKE_ARGS adds arguments to cmake's configuration.
set -euo pipefail
cd "$(dirname "$0")/.."

qt_major="${IOPANEL_QT_MAJOR:-5}"
if [ "$qt_major" = 5 ]; then
    build_dir="${IOPANEL_BUILD_DIR:-build-tests}"
else
    build_dir="${IOPANEL_BUILD_DIR:-build-tests-qt$qt_major}"
fi

# mqtt: the bridge's tests run a broker of their own.
IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh test mqtt
read -r -a extra <<<"${IOPANEL_CMAKE_ARGS:-}"
cmake -S . -B "$build_dir" -DBUILD_TESTING=ON -DIOPANEL_QT_MAJOR="$qt_major" "${extra[@]}"
cmake --build "$build_dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure "$@"
