#!/usr/bin/env bash
# Draws docs/images/bridge-levels.png: a Muse-like alpha stream through
# examples/muse.map, as `qelvo monitor --plot` sees it. 45 s of a drifting
# log10 band power with a slow rhythm, three blinks, and the headband
# slipping between 27 s and 31 s. Runs in real time (about a minute) on a
# private session bus; needs oscsend (liblo-tools) and a built qelvo.
# Usage: scripts/make-bridge-picture.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
QELVO="$(realpath "${1:-build}")/tools/qelvo"
PORT="${PORT:-9311}"
OUT=docs/images/bridge-levels.png
mkdir -p docs/images

run() {
  "$QELVO" monitor --timeout 60 --plot "$OUT" > /dev/null &
  local monitor=$!
  sleep 1
  "$QELVO" bridge --osc-port "$PORT" --map examples/muse.map --timeout 58 &
  local bridge=$!
  sleep 1
  # Ten values a second; the contact report once a second, as Mind Monitor does.
  awk 'BEGIN {
    srand(7)
    for (i = 0; i < 450; i++) {
      t = i / 10
      v = 0.55 + 0.15 * t / 45 + 0.12 * sin(2 * 3.14159 * t / 8) + 0.04 * (rand() + rand() + rand() - 1.5)
      if (i == 170 || i == 240 || i == 330) v += 1.3
      bad = (t >= 27 && t < 31)
      if (bad) v = 1.8 + 0.5 * rand()
      if (i % 10 == 0) printf "horseshoe %s\n", bad ? "1 4 4 1" : "1 1 2 1"
      printf "alpha %.4f\n", v
    }
  }' | while read -r what a b c d; do
    if [ "$what" = horseshoe ]; then
      oscsend localhost "$PORT" /muse/elements/horseshoe ffff "$a" "$b" "$c" "$d"
    else
      oscsend localhost "$PORT" /muse/elements/alpha_absolute f "$a"
      sleep 0.1
    fi
  done
  wait "$bridge" "$monitor"
}
export -f run
export QELVO PORT OUT
dbus-run-session -- bash -c run
echo "wrote $OUT"
