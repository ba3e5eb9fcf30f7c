#!/usr/bin/env bash
# Renders the effect in a small host built with clang-22 and the real-time
# sanitizer: any allocation, lock or blocking call inside a render call fails
# the step. Safe to re-run: the build is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh  # clang-22 and its sanitizer runtime

BUILD_DIR="${RTSAN_BUILD_DIR:-build-rtsan}"

echo "=== effect rendering under RealtimeSanitizer ==="
CC=clang-22 CXX=clang++-22 cmake -S tests/rtsan -B "$BUILD_DIR" -G Ninja
cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}"

# The check must be armed: an allocation in a real-time function kills the host.
if "$BUILD_DIR/rtsan_host" --canary >"$BUILD_DIR/canary.log" 2>&1; then
  echo "the real-time sanitizer let an allocation through" >&2
  exit 1
fi
grep -q "RealtimeSanitizer" "$BUILD_DIR/canary.log"

"$BUILD_DIR/rtsan_host"
