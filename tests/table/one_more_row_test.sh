#!/usr/bin/env bash
# The plug-in of the extra table row (tests/deliverable_table.cmake): its
# bundle carries the manifest of its row; qelvo lists it, opens it, knows the
# measures its presets follow and reads its curve under the row's property
# ID; the LV2 hosts list its two plug-ins, which render as the native unit.
# Arguments: qelvo, the bundle folder, the LV2 folder (empty: no LV2 part),
# then the row: name, subtype, variant index, response property.
set -euo pipefail
qelvo=$1 plugins=$2 lv2=$3 name=$4 subtype=$5 variant=$6 property=$7
source "$(dirname "$(realpath "$0")")/../install/checks.sh"
work="$(mktemp -d /tmp/qelvo-table-XXXXXX)"
trap 'rm -rf "$work"' EXIT

manifest="$plugins/$name.bundle/Manifest.txt"
[ -f "$manifest" ] || fail "no $manifest"
for line in "identifier = org.qelvo.audiounit.$name" "name = $name" "subtype = $subtype"; do
  grep -qxF "$line" "$manifest" || fail "$manifest lacks '$line':
$(cat "$manifest")"
done

export QELVO_PLUGIN_PATH="$plugins" QELVO_PLUGIN_PATH_ONLY=1
listing=$("$qelvo" info) || fail "qelvo info failed"
grep -Eq "^$name +.* $plugins/$name\.bundle\$" <<<"$listing" || fail "qelvo info does not list $name:
$listing"

info=$("$qelvo" info "$name" --response) || fail "qelvo info $name failed"
grep -Eq "frequency response +property $property, 512 points" <<<"$info" ||
  fail "qelvo info $name names no curve under property $property:
$info"
# A band row follows BS<band>V0 with preset 0, a peak row its V measure.
if ((variant <= 9)); then measure="BS$((variant + 1))V0"; elif ((variant == 10)); then measure=peakLV; else measure=peakRV; fi
grep -Eq "^ +0  .* follows $measure " <<<"$info" || fail "qelvo info $name: preset 0 does not follow $measure:
$info"
points=$(grep -Ec '^ +[0-9.]+ +[0-9.]+ +-?[0-9.]+$' <<<"$info" || true)
((points >= 100)) || fail "qelvo info $name --response printed $points points of its curve:
$info"

if [ -n "$lv2" ]; then
  LV2_PATH="$lv2" check_lv2 "$qelvo" "$work" "$name"
fi
echo "$name, added by one row, works in qelvo${lv2:+ and the LV2 hosts}"
