#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test.
# Environment: BUILD_DIR (default build), CMAKE_ARGS (extra configure flags),
# CTEST_ARGS (extra ctest flags).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

BUILD_DIR="${BUILD_DIR:-build}"
JOBS="${JOBS:-$(nproc)}"
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j "$JOBS"
# shellcheck disable=SC2086
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS" ${CTEST_ARGS:-}
