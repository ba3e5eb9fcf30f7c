#!/usr/bin/env bash
# Renders the effect in a small host built with clang-22 and the real-time
# sanitizer: any allocation, lock or blocking call inside a render call fails
# the step. Safe to re-run: the build is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh  # clang-22 and its sanitizer runtime

BUILD_DIR="${RTSAN_BUILD_DIR:-build-rtsan}"

# qelvo live's callback is checked too when the main build is there to host
# a deliverable from (CI builds it first).
MAIN_BUILD="$(pwd)/${MAIN_BUILD_DIR:-build}"
LIVE_ARGS=()
if [ -f "$MAIN_BUILD/platform/libqelvoplatform.so" ] && [ -d "$MAIN_BUILD/plugins/AUQelvoBS7.bundle" ]; then
  LIVE_ARGS=(-DQELVO_MAIN_BUILD="$MAIN_BUILD")
fi

echo "=== effect rendering under RealtimeSanitizer ==="
CC=clang-22 CXX=clang++-22 cmake -S tests/rtsan -B "$BUILD_DIR" -G Ninja "${LIVE_ARGS[@]}"
cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}"

# The check must be armed: an allocation in a real-time function kills the host.
if "$BUILD_DIR/rtsan_host" --canary >"$BUILD_DIR/canary.log" 2>&1; then
  echo "the real-time sanitizer let an allocation through" >&2
  exit 1
fi
grep -q "RealtimeSanitizer" "$BUILD_DIR/canary.log"

"$BUILD_DIR/rtsan_host"

if [ "${#LIVE_ARGS[@]}" -gt 0 ]; then
  echo "=== qelvo live's processing callback under RealtimeSanitizer ==="
  if "$BUILD_DIR/rtsan_live" --canary >"$BUILD_DIR/live-canary.log" 2>&1; then
    echo "the real-time sanitizer let an allocation through in rtsan_live" >&2
    exit 1
  fi
  grep -q "RealtimeSanitizer" "$BUILD_DIR/live-canary.log"
  QELVO_PLUGIN_PATH="$MAIN_BUILD/plugins" QELVO_PLUGIN_PATH_ONLY=1 "$BUILD_DIR/rtsan_live"
else
  echo "qelvo live's callback not checked: no main build at $MAIN_BUILD (build it first)"
fi
