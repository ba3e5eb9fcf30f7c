#!/usr/bin/env bash
# Builds the Debian package and checks its name, fields, contents and
# dependencies; then installs it with dpkg in a private mount namespace, on
# throw-away layers over the machine's own /usr, /etc and /var, hides the
# source and build trees, and runs the installed programs from their system
# places. Arguments: the build folder, the source folder, the version, the
# deliverable names.
set -euo pipefail
build="$(realpath "$1")"
source="$(realpath "$2")"
version="$3"
shift 3
here="$(dirname "$(realpath "$0")")"
source "$here/checks.sh"
if ! unshare -m --propagation private true 2>/dev/null; then
  echo "installing the package needs a private mount namespace (unshare -m, as root): skipped" >&2
  exit 77
fi
scratch="$(mktemp -d /tmp/qelvo-package-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb="$scratch/package/qelvo_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$scratch/package")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = qelvo ] && [ "$(field Version)" = "$version" ] && [ "$(field Architecture)" = amd64 ] ||
  fail "package fields: $(dpkg-deb -f "$deb")"
depends=",$(field Depends | tr -d ' '),"
[[ $depends == *,dbus,* ]] || fail "no dependency on dbus: $depends"

dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$scratch/contents"
has() { grep -qxF -- "$1" "$scratch/contents" || fail "the package lacks $1"; }
has /usr/bin/qelvo
has /usr/share/man/man1/qelvo.1.gz
has /usr/share/bash-completion/completions/qelvo
has /usr/share/doc/qelvo/README.md
for map in "$source"/examples/*.map; do has "/usr/share/qelvo/examples/$(basename "$map")"; done
for name in "$@"; do
  has "/usr/lib/qelvo/plugins/$name.bundle/$name.so"
  has "/usr/lib/lv2/$name.lv2/manifest.ttl"
  has "/usr/lib/lv2/$name.lv2/$name.so"
done
[ "$(grep -c '^/usr/lib/qelvo/plugins/[^/]*\.bundle/$' "$scratch/contents")" -eq $# ] || fail "other native bundles"
[ "$(grep -c '^/usr/lib/lv2/[^/]*\.lv2/$' "$scratch/contents")" -eq $# ] || fail "other LV2 bundles"

# Every library a packaged program or plug-in needs is ours or comes from a
# package the control file depends on.
dpkg-deb -x "$deb" "$scratch/root"
ldconfig -p >"$scratch/libraries"
find "$scratch/root" -type f \( -name '*.so*' -o -path '*/bin/*' \) -exec readelf -d {} + 2>/dev/null |
  sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u >"$scratch/needed"
[ -s "$scratch/needed" ] || fail "no packaged file needs any library"
while IFS= read -r needed; do
  [ "$needed" = libqelvoplatform.so.1 ] && continue
  path="$(awk -v lib="$needed" '$1 == lib && /x86-64/ { print $NF; exit }' "$scratch/libraries")"
  [ -n "$path" ] || fail "the package needs $needed, which this machine does not have"
  owner="$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null || true)"
  owner="${owner%%:*}"
  [ -n "$owner" ] || fail "no package owns $path"
  [[ $depends == *",$owner,"* || $depends == *",$owner("* ]] || fail "the package needs $needed from $owner, not in: $depends"
done <"$scratch/needed"

cp "$here/checks.sh" "$here/../lv2/jalv_live_test.sh" "$scratch/"
cat >"$scratch/inner.sh" <<'INNER'
set -euo pipefail
scratch=$1 source=$2 build=$3 deb=$4
shift 4
source "$scratch/checks.sh"
cd "$scratch"
# dpkg writes to /usr, /etc and /var: each gets a layer that goes with the namespace.
mkdir -p "$scratch/layers"
mount -t tmpfs none "$scratch/layers"
for dir in usr etc var; do
  mkdir -p "$scratch/layers/$dir" "$scratch/layers/$dir.work"
  mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$scratch/layers/$dir,workdir=$scratch/layers/$dir.work" "/$dir"
done
mount -t tmpfs none "$source"
[[ "$build/" == "$source/"* ]] || mount -t tmpfs none "$build"

dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -i failed"; }
[ "$(command -v qelvo)" = /usr/bin/qelvo ] || fail "qelvo is not on the PATH"
check_libraries /usr/lib/qelvo
check_libraries /usr/lib/lv2
check_qelvo qelvo /usr/lib/qelvo/plugins "$scratch" "$@"
mkdir -p "$scratch/home"
HOME="$scratch/home" env -u LV2_PATH bash -c "source '$scratch/checks.sh'; check_lv2 qelvo '$scratch' $*"
check_jalv /usr/bin/qelvo /usr/lib/lv2 "$scratch/jalv_live_test.sh"
bash -c 'source /usr/share/bash-completion/completions/qelvo && complete -p qelvo' >/dev/null ||
  fail "the bash completion does not load"
zcat /usr/share/man/man1/qelvo.1.gz | grep -q '^\.SH' || fail "the man page is empty"
dpkg -r qelvo >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -r failed"; }
[ ! -e /usr/bin/qelvo ] && [ ! -e /usr/lib/lv2/$1.lv2 ] || fail "dpkg -r left files behind"
echo "the package installs qelvo, $# native bundles and $((2 * $#)) LV2 plug-ins that work, and removes them"
INNER
unshare -m --propagation private bash "$scratch/inner.sh" "$scratch" "$source" "$build" "$deb" "$@"
