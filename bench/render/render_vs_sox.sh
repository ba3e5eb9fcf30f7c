#!/usr/bin/env bash
# qelvo render against sox on the same file, in one paired hyperfine run:
# ten minutes of stereo 48 kHz float WAV, AUQelvoBS7 in filter mode at the
# default block, against `sox in.wav out.wav lowpass 1000`. Both write a
# float WAV to the same scratch directory, so both pay the same disk.
# Not part of the test suite: it takes a minute or two.
#
#   bench/render/render_vs_sox.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."

BUILD="${1:-build}"
RUNS="${2:-10}"
QELVO="$PWD/$BUILD/tools/qelvo"
[ -x "$QELVO" ] || { echo "no $QELVO: build first" >&2; exit 1; }
for tool in sox hyperfine; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install $tool)" >&2; exit 1; }
done

work="$(mktemp -d /tmp/qelvo-render-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
sox -n -r 48000 -c 2 -e floating-point -b 32 "$work/in.wav" synth 600 whitenoise vol 0.5

hyperfine --warmup 2 --runs "$RUNS" --export-markdown "$work/result.md" \
  -n "qelvo render (filter mode)" "$QELVO render -q --plugin AUQelvoBS7 --preset 1 $work/in.wav $work/qelvo.wav" \
  -n "sox lowpass 1000" "sox $work/in.wav -e floating-point -b 32 $work/sox.wav lowpass 1000"
cat "$work/result.md"
