#!/usr/bin/env bash
# Installs the build into a scratch prefix: the LV2 host tools must list all
# twenty plug-ins there, and every installed wrapper must find the platform
# runtime next to it. Arguments: the build folder.
set -euo pipefail
build="$(realpath "$1")"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
lv2dir="$(dirname "$(find "$prefix" -path '*/lv2/AUQelvoBS7.lv2' -type d)")"
[ -d "$lv2dir" ] || { echo "no LV2 folder under $prefix" >&2; exit 1; }

listed="$(LV2_PATH="$lv2dir" lv2ls | grep -c '^https://qelvo.org/plugins/' || true)"
if [ "$listed" -ne 20 ]; then
  echo "lv2ls lists $listed of our plug-ins, not 20:" >&2
  LV2_PATH="$lv2dir" lv2ls >&2
  exit 1
fi
native="$(find "$prefix" -name '*.bundle' -maxdepth 5 -type d | wc -l)"
[ "$native" -eq 10 ] || { echo "$native native bundles installed, not 10" >&2; exit 1; }
for wrapper in "$lv2dir"/*.lv2/*.so; do
  if ldd "$wrapper" | grep -q 'not found'; then
    echo "$wrapper misses a library:" >&2
    ldd "$wrapper" >&2
    exit 1
  fi
done
echo "20 LV2 plug-ins and 10 native bundles installed under $prefix"
