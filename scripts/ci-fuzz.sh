#!/usr/bin/env bash
# A bounded fuzzing run of the saved-state restore, called by
# scripts/ci-extra.sh. Safe to re-run: it rebuilds incrementally and fuzzes
# into a scratch corpus, leaving the seed corpus untouched.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh  # clang-14 and its libFuzzer runtime

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"

echo "=== saved-state restore fuzzing (${FUZZ_SECONDS} s) ==="
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -G Ninja -DQELVO_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}" --target restore_state_fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# Crash inputs, if any, land in the build folder for inspection.
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  "$BUILD_DIR/tests/fuzz/restore_state_fuzz" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$BUILD_DIR/" "$scratch" tests/fuzz/corpus

# --- qelvo's text readers: level recordings and OSC map files ---------------
# Seeded with their own corpora and the shipped examples; new inputs go to
# the scratch folder.
FILE_FUZZ_SECONDS="${FILE_FUZZ_SECONDS:-30}"
cmake --build "$BUILD_DIR" -j "${JOBS:-$(nproc)}" --target level_csv_fuzz bridge_map_fuzz
for target in level_csv bridge_map; do
  echo "=== ${target} fuzzing (${FILE_FUZZ_SECONDS} s) ==="
  mkdir -p "$scratch/$target"
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "$BUILD_DIR/tests/fuzz/${target}_fuzz" -max_total_time="$FILE_FUZZ_SECONDS" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$BUILD_DIR/${target}-" \
    "$scratch/$target" "tests/fuzz/${target}_corpus" examples
done
# --- end of qelvo's text readers ---------------------------------------------
