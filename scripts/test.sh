#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test.
# Environment: BUILD_DIR (default build), CMAKE_ARGS (extra configure flags),
# CTEST_ARGS (extra ctest flags), BUILD_TARGETS_REGEX (build only matching targets).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

BUILD_DIR="${BUILD_DIR:-build}"
JOBS="${JOBS:-$(nproc)}"
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja ${CMAKE_ARGS:-}
if [ -n "${BUILD_TARGETS_REGEX:-}" ]; then
  # Build only the test programs whose names match (e.g. the concurrency tests).
  mapfile -t targets < <(cmake --build "$BUILD_DIR" --target help | sed -n 's/^\([A-Za-z0-9_]*\): .*/\1/p' | grep -E "$BUILD_TARGETS_REGEX" || true)
  if [ "${#targets[@]}" -gt 0 ]; then
    cmake --build "$BUILD_DIR" -j "$JOBS" --target "${targets[@]}"
  fi
else
  cmake --build "$BUILD_DIR" -j "$JOBS"
fi
# shellcheck disable=SC2086
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS" ${CTEST_ARGS:-}
