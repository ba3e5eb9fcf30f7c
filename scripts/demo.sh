#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is needed, builds
# the plug-ins and the host program in Release, and runs `qelvo demo`.
# Environment: BUILD_DIR (default build-release), OUT (default qelvo-demo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

BUILD_DIR="${BUILD_DIR:-build-release}"
OUT="${OUT:-qelvo-demo}"
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQELVO_BENCH=OFF
cmake --build "$BUILD_DIR" -j "$JOBS" --target qelvo qelvo_native_plugins

"$BUILD_DIR/tools/qelvo" demo --out "$OUT"
echo
echo "The program is $BUILD_DIR/tools/qelvo (try: $BUILD_DIR/tools/qelvo --help)."
echo "Listen to $(cd "$OUT" && pwd)/filter-mode.wav and gain-mode.wav; the PNG files show what happened."
