#!/usr/bin/env bash
# The whole suite built with clang 14 as well: the other compiler catches
# warnings and reliance on behaviour gcc happens to give. Warnings fail the
# build here. Safe to re-run: the build is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "=== tests built with clang 14 ==="
BUILD_DIR="${CLANG_BUILD_DIR:-build-clang}" \
  CMAKE_ARGS="-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DQELVO_BENCH=OFF -DCMAKE_CXX_FLAGS=-Werror" \
  bash scripts/test.sh
