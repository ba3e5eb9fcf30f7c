#!/usr/bin/env bash
# Extra CI steps, run by .ci/run after the test builds. Each area adds its own
# section; every section is safe to re-run.
set -euo pipefail
cd "$(dirname "$0")/.."

# The suite once more, built with clang 14.
bash scripts/ci-clang.sh

# Effect rendering under the real-time sanitizer.
bash scripts/ci-rtsan.sh

# Fuzzing: saved-state restore 60 s, bus user info and OSC packets 30 s each.
bash scripts/ci-fuzz.sh
