#!/usr/bin/env bash
# Bounded fuzzing runs, called by scripts/ci-extra.sh: the saved-state restore,
# the bus payload decoder (user info from the wire) and the OSC packet
# reader, and qelvo's level-recording and map readers. Safe to re-run: it rebuilds incrementally and fuzzes into scratch
# corpora, leaving the seed corpora untouched.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh  # clang-14 and its libFuzzer runtime

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
# The two wire readers are smaller; half a minute each keeps CI short.
WIRE_FUZZ_SECONDS="${WIRE_FUZZ_SECONDS:-30}"
BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"

CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -G Ninja -DQELVO_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}" --target restore_state_fuzz bus_user_info_fuzz osc_packet_fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# fuzz TARGET SECONDS SEED_CORPUS...
fuzz() {
  echo "=== $1 fuzzing ($2 s) ==="
  mkdir -p "$scratch/$1"
  # Crash inputs, if any, land in the build folder for inspection.
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "$BUILD_DIR/tests/fuzz/$1" -max_total_time="$2" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$BUILD_DIR/" "$scratch/$1" "${@:3}"
}

fuzz restore_state_fuzz "$FUZZ_SECONDS" tests/fuzz/corpus
fuzz bus_user_info_fuzz "$WIRE_FUZZ_SECONDS" tests/fuzz/bus_user_info_corpus
fuzz osc_packet_fuzz "$WIRE_FUZZ_SECONDS" tests/fuzz/osc_packet_corpus

# qelvo's text readers: level recordings and OSC map files, seeded with their
# own corpora and the shipped examples.
FILE_FUZZ_SECONDS="${FILE_FUZZ_SECONDS:-30}"
cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}" --target level_csv_fuzz bridge_map_fuzz
fuzz level_csv_fuzz "$FILE_FUZZ_SECONDS" tests/fuzz/level_csv_corpus examples
fuzz bridge_map_fuzz "$FILE_FUZZ_SECONDS" tests/fuzz/bridge_map_corpus examples
