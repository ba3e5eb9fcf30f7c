#!/usr/bin/env bash
# A live run in a host nobody here wrote: jalv hosts AUQelvoBS7 on a dummy
# audio server while `qelvo replay` posts levels from another process on a
# private bus; jalv's printed control outputs must show the applied level and
# both factors. Arguments: the qelvo program, the folder of LV2 bundles.
set -euo pipefail
# jackd registers servers machine-wide in /dev/shm, where stale entries of
# killed servers pile up ("Too many servers already active"): a private
# /dev/shm when the test may have one.
if [ -z "${QELVO_PRIVATE_SHM:-}" ] && unshare -m --propagation private true 2>/dev/null; then
  exec env QELVO_PRIVATE_SHM=1 unshare -m --propagation private \
    bash -c 'mount -t tmpfs none /dev/shm && exec bash "$0" "$@"' "$0" "$@"
fi
qelvo="$(realpath "$1")"
export LV2_PATH="$(realpath "$2")"
uri="https://qelvo.org/plugins/AUQelvoBS7"

work="$(mktemp -d)"
pids=()
cleanup() {
  exec 3>&- 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # Whatever has not ended after a few seconds is killed: the test must not
  # outlive what it checked (a server stuck in shutdown once held it 2 min).
  for _ in $(seq 1 50); do
    running=0
    for pid in "${pids[@]}"; do
      # Children already ended but not yet waited for show as zombies (Z).
      state="$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null || true)"
      case "$state" in "" | Z) ;; *) running=1 ;; esac
    done
    [ "$running" = 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
  { read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS='$address'; bus_pid=$pid"; })"
pids+=("$bus_pid")

# A server of our own, whatever else runs on the machine.
export JACK_DEFAULT_SERVER="qelvo-test-$$"
export JACK_NO_AUDIO_RESERVATION=1
jackd --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=("$!")
if ! jack_wait -w -t 20 >/dev/null 2>&1; then
  echo "the dummy audio server did not start:" >&2
  cat "$work/jackd.log" >&2
  exit 1
fi

# Preset 1, "LCH Count-Filter": level 10 of BS7V0 gives cutoff factor 0.5 and
# gain factor 0.3. Its stdin stays open so the console host keeps running.
mkfifo "$work/stdin"
stdbuf -oL jalv -p -c preset=1 "$uri" <"$work/stdin" >"$work/jalv.log" 2>&1 &
pids+=("$!")
exec 3>"$work/stdin"

printf 'time_s,symbol,level\n0.0,BS7V0,10\n0.1,BS7V0,10\n' >"$work/levels.csv"
"$qelvo" replay "$work/levels.csv" --loop >"$work/replay.log" 2>&1 &
pids+=("$!")

for _ in $(seq 1 200); do
  # Ask the console host for its output controls.
  echo monitors >&3
  if grep -Eq '(^|> )level = 10\.0+$' "$work/jalv.log" &&
     grep -Eq '(^|> )cutoff_factor = 0\.50*$' "$work/jalv.log" &&
     grep -Eq '(^|> )gain_factor = 0\.30*$' "$work/jalv.log" &&
     grep -Eq '(^|> )mode = 1\.0+$' "$work/jalv.log"; then
    tail -n 4 "$work/jalv.log"
    exit 0
  fi
  sleep 0.1
done
echo "jalv never showed the applied level; its output:" >&2
cat "$work/jalv.log" >&2
echo "replay:" >&2
cat "$work/replay.log" >&2
exit 1
