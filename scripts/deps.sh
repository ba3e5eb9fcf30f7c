#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; safe to re-run.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang-14 libclang-rt-14-dev
  clang-22 libclang-rt-22-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsystemd-dev dbus-daemon dbus-bin
  libicu-dev
  libcli11-dev libsndfile1-dev libcairo2-dev libfontconfig-dev libplist-dev liblo-dev liblo-tools
  lv2-dev liblilv-dev lilv-utils sordi serdi jalv jackd2
  libfftw3-dev
  help2man groff-base dpkg-dev dbus
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber pipewire-jack
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
