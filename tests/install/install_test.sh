#!/usr/bin/env bash
# Installs the build twice: at a prefix given at install time, and with
# DESTDIR at the configured prefix. Then, with the source and build trees
# hidden, runs the installed programs of each (qelvo info and demo, lv2ls,
# lv2apply, jalv), and one LV2 bundle copied alone into ~/.lv2 with both
# installs hidden too. Arguments: the build folder, the source folder, the
# deliverable names.
set -euo pipefail
build="$(realpath "$1")"
source="$(realpath "$2")"
shift 2
here="$(dirname "$(realpath "$0")")"
scratch="$(mktemp -d /tmp/qelvo-install-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
DESTDIR="$scratch/destdir" cmake --install "$build" >/dev/null
configured="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
# The hidden trees hold these scripts too.
cp "$here/checks.sh" "$here/../lv2/jalv_live_test.sh" "$scratch/"

cat >"$scratch/inner.sh" <<'INNER'
set -euo pipefail
scratch=$1 source=$2 build=$3 configured=$4
shift 4
source "$scratch/checks.sh"
cd "$scratch"
mount -t tmpfs none "$source"
[[ "$build/" == "$source/"* ]] || mount -t tmpfs none "$build"
first=$1

for root in "$scratch/prefix" "$scratch/destdir$configured"; do
  runtime="$(find "$root" -name libqelvoplatform.so.1 -not -path '*/lv2/*' | head -n 1)"
  lv2dir="$(dirname "$(find "$root" -type d -name "$first.lv2")")"
  qelvo="$(find "$root" -path '*/bin/qelvo' -type f)"
  [ -n "$runtime" ] && [ -n "$qelvo" ] && [ "$lv2dir" != . ] || fail "incomplete install in $root"
  mkdir -p "$root.work"
  check_libraries "$root"
  check_qelvo "$qelvo" "$(dirname "$runtime")/qelvo/plugins" "$root.work" "$@"
  LV2_PATH="$lv2dir" check_lv2 "$qelvo" "$root.work" "$@"
  check_jalv "$qelvo" "$lv2dir" "$scratch/jalv_live_test.sh"
  echo "installed at $root: qelvo, $# native bundles and $((2 * $#)) LV2 plug-ins work"
done

# One LV2 bundle alone in ~/.lv2, everything else out of sight.
mkdir -p "$scratch/home/.lv2" "$scratch/alone"
cp -r "$lv2dir/$first.lv2" "$scratch/home/.lv2/"
make_wav "$scratch/alone/in.wav" 2 2400
"$qelvo" render --plugin "$first" --preset 1 "$scratch/alone/in.wav" "$scratch/alone/native.wav" >/dev/null
mount -t tmpfs none "$scratch/prefix"
mount -t tmpfs none "$scratch/destdir"
# Only ours: the machine may have other LV2 plug-ins installed (the peers
# the benchmarks compare with).
listed="$(HOME="$scratch/home" env -u LV2_PATH lv2ls)"
listed="$(grep '^https://qelvo.org/plugins/' <<<"$listed" || true)"
[ "$listed" = "https://qelvo.org/plugins/$first
https://qelvo.org/plugins/$first-mono" ] || fail "lv2ls with the bundle alone in ~/.lv2: $listed"
HOME="$scratch/home" env -u LV2_PATH lv2apply -c preset 1 -i "$scratch/alone/in.wav" -o "$scratch/alone/lv2.wav" \
  "https://qelvo.org/plugins/$first" || fail "lv2apply of the bundle alone in ~/.lv2 failed"
cmp -s <(tail -c 19200 "$scratch/alone/lv2.wav") <(tail -c 19200 "$scratch/alone/native.wav") ||
  fail "the bundle alone in ~/.lv2 does not render as the native unit"
echo "$first.lv2 copied alone into ~/.lv2 works"
INNER

if unshare -m --propagation private true 2>/dev/null; then
  unshare -m --propagation private bash "$scratch/inner.sh" "$scratch" "$source" "$build" "$configured" "$@"
else
  echo "not allowed to hide the trees (unshare -m needs root): skipped" >&2
  exit 77
fi
