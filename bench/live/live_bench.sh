#!/usr/bin/env bash
# qelvo live under load, in a private PipeWire graph with no hardware: at
# each quantum it processes noise for a while with the machine kept busy and
# reports its xruns and the time its callback takes as a share of the
# quantum; then it measures the latency it adds (how far apart a player's
# own output and the sink's monitor are, with and without qelvo live in
# between). Not part of the test suite: it runs for minutes.
#
#   bench/live/live_bench.sh [BUILD_DIR] [SECONDS_PER_QUANTUM] [BUSY_PROCESSES]
#
# Defaults: build, 180 s, 2 busy loops (one per core of the 2-core machine).
set -euo pipefail
cd "$(dirname "$0")/../.."

BUILD="${1:-build}"
SECONDS_EACH="${2:-180}"
BUSY="${3:-2}"
QUANTA=(${QUANTA:-64 256 1024})
RATE=48000
QELVO="$PWD/$BUILD/tools/qelvo"
[ -x "$QELVO" ] || { echo "no $QELVO: build first" >&2; exit 1; }

work="$(mktemp -d /tmp/qelvo-live-bench-XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

for d in run config state data; do mkdir -m 700 "$work/$d"; done
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data"
unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR

dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/run/bus" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus"
until [ -S "$work/run/bus" ]; do sleep 0.1; done

pipewire >"$work/pipewire.log" 2>&1 &
pids+=($!)
until pw-cli info 0 >/dev/null 2>&1; do sleep 0.1; done
wireplumber >"$work/wireplumber.log" 2>&1 &
pids+=($!)
until pw-cli ls Metadata 2>/dev/null | grep -q '"default"'; do sleep 0.1; done
for sink in test-sink bench-source; do
  pw-cli create-node adapter "{ factory.name=support.null-audio-sink node.name=$sink media.class=Audio/Sink audio.position=[FL FR] object.linger=true }" >/dev/null
done
until pw-link -i | grep -q "bench-source:playback_FR"; do sleep 0.1; done
pw-metadata 0 default.configured.audio.sink '{ "name": "test-sink" }' >/dev/null

# Stereo float noise, long enough for one whole run without restarting the
# player (a player joining the graph costs a cycle or two).
python3 - "$work/noise.wav" $((SECONDS_EACH + 20)) "$work/short.wav" <<'PY'
import array, random, struct, sys
def write(path, seconds):
    random.seed(seconds)
    n = seconds * 48000
    data = array.array('f', (random.uniform(-0.5, 0.5) for _ in range(2 * n)))
    fmt = struct.pack('<HHIIHH', 3, 2, 48000, 48000 * 8, 8, 32)
    body = b'WAVEfmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(data) * 4) + data.tobytes()
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', len(body)) + body)
write(sys.argv[1], int(sys.argv[2]))
write(sys.argv[3], 4)
PY

# PipeWire's own count of xruns (pw-top's ERR column), read off a terminal
# that tmux keeps: "ours" for qelvo live's two nodes, "driver" for the
# drivers. A dash without tmux.
graph_errors() {
  command -v tmux >/dev/null || { echo "-"; return; }
  tmux -L qelvo-live-bench new-session -d -x 200 -y 50 "pw-top"
  sleep 2
  local screen
  screen="$(tmux -L qelvo-live-bench capture-pane -p)"
  tmux -L qelvo-live-bench kill-server
  if [ "$1" = ours ]; then
    awk '/qelvo-AUQelvoBS7/ { n += $9 } END { print n + 0 }' <<<"$screen"
  else
    awk '$1 == "R" && $NF != "" && $(NF-1) != "+" && ($NF == "test-sink" || $NF == "bench-source") { n += $9 } END { print n + 0 }' <<<"$screen"
  fi
}

# The player's own output and the sink's monitor in one recording: how many
# frames lie between them.
distance() {
  local target="$1" file="$work/both.wav"
  rm -f "$file"
  pw-record -P '{ node.autoconnect=false node.name=bench-both }' --format f32 --rate $RATE --channels 2 "$file" &
  local rec=$!
  until pw-link -i | grep -q "bench-both:input_FR"; do sleep 0.05; done
  pw-play -P '{ node.name=bench-play }' --target "$target" "$work/short.wav" &
  local play=$!
  until pw-link -o | grep -q "bench-play:output_FL"; do sleep 0.05; done
  pw-link bench-play:output_FL bench-both:input_FL
  pw-link test-sink:monitor_FL bench-both:input_FR
  wait $play
  kill -INT $rec; wait $rec || true
  python3 - "$file" <<'PY'
import struct, sys
b = open(sys.argv[1], 'rb').read()
i, data = 12, None
while i < len(b):
    cid, size = b[i:i+4], struct.unpack('<I', b[i+4:i+8])[0]
    if cid == b'data': data = b[i+8:i+8+size]
    i += 8 + size + (size & 1)
v = struct.unpack('<%df' % (len(data) // 4), data)
x, y = v[0::2], v[1::2]
first = next(k for k, s in enumerate(x) if s != 0)
# Several stretches from 1 s in, past the glitches of linking; the most
# common distance wins.
found = []
for at in range(first + 48000, len(x) - 48000, 24000):
    for d in range(0, 8193):  # the monitor never leads the player
        if all(0 <= at + k + d < len(y) and y[at + k + d] == x[at + k] for k in range(128)):
            found.append(d); break
print(max(set(found), key=found.count) if found else 'none')
PY
}

kinds_seen=()
busy=()
for _ in $(seq "$BUSY"); do
  sh -c 'while :; do :; done' &
  busy+=($!)
  pids+=($!)
done

printf '%-8s %-8s %-6s %-10s %-10s %-10s %-10s %-10s %-10s %-6s\n' quantum seconds xruns "graph ERR" "ours ERR" \
  "mean share" "max share" "longest" latency "added"
for q in "${QUANTA[@]}"; do
  pw-metadata -n settings 0 clock.force-quantum "$q" >/dev/null
  sleep 0.5
  # The player first, so its arrival is not counted; qelvo live processes it
  # from the sink it plays into.
  pw-play --target bench-source "$work/noise.wav" &
  player=$!
  pids+=($player)
  sleep 1
  driverBefore="$(graph_errors driver)"
  "$QELVO" live --plugin AUQelvoBS7 --preset 1 --capture bench-source --target test-sink --quiet \
    --duration "$SECONDS_EACH" >"$work/live.out" &
  live=$!
  sleep $((SECONDS_EACH > 5 ? SECONDS_EACH - 3 : 2))
  ours="$(graph_errors ours)"
  driverAfter="$(graph_errors driver)"
  wait $live
  summary="$(tail -1 "$work/live.out")"
  kill "$player" 2>/dev/null || true
  wait "$player" 2>/dev/null || true
  xruns="$(grep -o '[0-9]* xruns\{0,1\}' <<<"$summary" | head -1 | cut -d' ' -f1)"
  kinds="$(sed -n 's/.* xruns (\([^)]*\)).*/\1/p' <<<"$summary")"
  [ -z "$kinds" ] || kinds_seen+=("quantum $q: $kinds")
  seconds="$(sed -n 's/.*stopped after \([0-9.]*\) s.*/\1/p' <<<"$summary")"
  longest="$(sed -n 's/.*longest callback \([0-9]*\) us.*/\1 us/p' <<<"$summary")"
  maxShare="$(sed -n 's/.*at most \([0-9.]*%\).*/\1/p' <<<"$summary")"
  meanShare="$(sed -n 's/.*, \([0-9.]*%\) on average.*/\1/p' <<<"$summary")"

  direct="$(distance test-sink)"
  "$QELVO" live --plugin AUQelvoBS7 --preset 0 --target test-sink --quiet --duration 30 >/dev/null &
  live=$!
  until pw-link -i | grep -q "qelvo-AUQelvoBS7:playback_FR"; do sleep 0.1; done
  through="$(distance qelvo-AUQelvoBS7)"
  kill -INT "$live"; wait "$live" || true
  added="?"
  if [[ "$direct" =~ ^-?[0-9]+$ && "$through" =~ ^-?[0-9]+$ ]]; then added=$((through - direct)); fi
  graphErr="-"
  if [[ "$driverBefore" =~ ^[0-9]+$ && "$driverAfter" =~ ^[0-9]+$ ]]; then graphErr=$((driverAfter - driverBefore)); fi
  printf '%-8s %-8s %-6s %-10s %-10s %-10s %-10s %-10s %-10s %-6s\n' "$q" "$seconds" "$xruns" "$graphErr" "$ours" \
    "$meanShare" "$maxShare" "$longest" "$through/$direct" "$added"
done
pw-metadata -n settings 0 clock.force-quantum 0 >/dev/null
for k in "${kinds_seen[@]}"; do echo "xruns at $k"; done
echo "(xruns: as qelvo live counts them; graph ERR: the drivers' xruns meanwhile, ours ERR: its nodes', as pw-top shows them)"
echo "(latency: frames from the player's output to the sink's monitor through qelvo live / without it; added: the difference)"
