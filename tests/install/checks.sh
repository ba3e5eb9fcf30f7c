# Checks of an installed Qelvo, sourced by the install and package tests.
# They run the installed programs only: qelvo info and demo, lv2ls, lv2apply
# and jalv.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# make_wav FILE CHANNELS FRAMES: 32-bit float WAV at 48 kHz, a +-0.25 square wave.
make_wav() {
  local file=$1 channels=$2 frames=$3 i
  local bytes=$((frames * channels * 4))
  le() { local v=$1 n=$2 k; for ((k = 0; k < n; k++)); do printf "\\x$(printf %02x $(((v >> (8 * k)) & 255)))"; done; }
  {
    printf 'RIFF'; le $((36 + bytes)) 4; printf 'WAVEfmt '; le 16 4; le 3 2; le "$channels" 2
    le 48000 4; le $((48000 * channels * 4)) 4; le $((channels * 4)) 2; le 32 2
    printf 'data'; le "$bytes" 4
    for ((i = 0; i < frames * channels; i++)); do
      if (((i / (channels * 8)) % 2)); then printf '\x00\x00\x80\xbe'; else printf '\x00\x00\x80\x3e'; fi
    done
  } >"$file"
}

# No installed file may miss a library.
check_libraries() {
  local root=$1 file
  while IFS= read -r file; do
    if ldd "$file" 2>&1 | grep -q 'not found'; then
      ldd "$file" >&2
      fail "$file misses a library"
    fi
  done < <(find "$root" -type f \( -name '*.so*' -o -path '*/bin/*' \))
}

# check_qelvo QELVO PLUGIN_DIR WORK NAME...: qelvo lists exactly the bundles
# of PLUGIN_DIR and runs its demo.
check_qelvo() {
  local qelvo=$1 plugins=$2 work=$3 name listing
  shift 3
  listing=$(env -u QELVO_PLUGIN_PATH -u QELVO_PLUGIN_PATH_ONLY "$qelvo" info) || fail "qelvo info failed"
  for name in "$@"; do
    grep -Eq "^$name +.* $plugins/$name\.bundle\$" <<<"$listing" || fail "qelvo info: no $name in $plugins:
$listing"
  done
  [ "$(grep -c '\.bundle$' <<<"$listing")" -eq $# ] || fail "qelvo info lists other bundles too:
$listing"
  ! grep -q '^skipped:' <<<"$listing" || fail "qelvo info skipped bundles:
$listing"
  "$qelvo" demo --out "$work/demo" >"$work/demo.log" 2>&1 || { cat "$work/demo.log" >&2; fail "qelvo demo failed"; }
  for file in input.wav filter-mode.wav gain-mode.wav filter-mode.png gain-mode.png; do
    [ -s "$work/demo/$file" ] || fail "qelvo demo wrote no $file"
  done
}

# check_lv2 QELVO WORK NAME...: the LV2 hosts (LV2_PATH as the caller set it)
# list both plug-ins of every deliverable, and lv2apply renders each exactly
# as the installed native unit does through qelvo.
check_lv2() {
  local qelvo=$1 work=$2 name uri channels suffix
  shift 2
  local listed
  listed=$(lv2ls) || fail "lv2ls failed"
  [ "$(grep -c '^https://qelvo.org/plugins/' <<<"$listed")" -eq $((2 * $#)) ] || fail "lv2ls lists:
$listed"
  make_wav "$work/stereo.wav" 2 2400
  make_wav "$work/mono.wav" 1 2400
  for name in "$@"; do
    for suffix in "" -mono; do
      uri="https://qelvo.org/plugins/$name$suffix"
      grep -qx "$uri" <<<"$listed" || fail "lv2ls does not list $uri"
      if [ -z "$suffix" ]; then channels=stereo; else channels=mono; fi
      lv2apply -c preset 1 -c cutoff 700 -i "$work/$channels.wav" -o "$work/lv2.wav" "$uri" 2>"$work/lv2apply.log" ||
        { cat "$work/lv2apply.log" >&2; fail "lv2apply $uri failed"; }
      [ ! -s "$work/lv2apply.log" ] || { cat "$work/lv2apply.log" >&2; fail "lv2apply $uri complained"; }
      "$qelvo" render --plugin "$name" --preset 1 --param cutoff=700 "$work/$channels.wav" "$work/native.wav" \
        >/dev/null 2>&1 || fail "qelvo render $name failed"
      local bytes=$((2400 * 4 * (${#suffix} == 0 ? 2 : 1)))
      cmp -s <(tail -c "$bytes" "$work/lv2.wav") <(tail -c "$bytes" "$work/native.wav") ||
        fail "lv2apply $uri does not render as the native unit"
    done
  done
}

# check_jalv QELVO LV2_DIR JALV_TEST: jalv hosts a plug-in live while qelvo
# posts levels on a private bus.
check_jalv() {
  bash "$3" "$1" "$2" >/dev/null || fail "jalv with $2 failed"
}
