#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and
# the screenshot script use. Safe to run again: apt skips what is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-intelhex srecord gputils socat
  xvfb xauth x11-utils x11-apps imagemagick
  desktop-file-utils dpkg-dev file groff-base
  gpsim gpsim-dev libglib2.0-dev lintian appstream tmux xdotool systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
