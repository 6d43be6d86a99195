#!/usr/bin/env bash
# Builds the Debian packages quorvel-zentrel_<version>_<arch>.deb (window and
# CLI) and quorvel-zentrel-sim_<version>_<arch>.deb (simulator and firmware,
# with gpsim) into BUILD_DIR (default build-deb/) and shows their control
# data and contents. Install them with
#   sudo apt install ./build-deb/quorvel-zentrel_*.deb [./build-deb/quorvel-zentrel-sim_*.deb]
# ZENTREL_NO_DEPS=1 skips installing the build's Debian packages (the test
# suite sets it: they are there already).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}

[ -n "${ZENTREL_NO_DEPS:-}" ] || bash scripts/install-deps.sh
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# config.txt goes to /etc, where dpkg keeps the user's edits over upgrades.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTREL_BENCH=OFF -DZENTREL_TESTS=OFF \
  -DZENTREL_DEB_BUILDFLAGS=ON -DZENTREL_CONFIG_DIR=/etc/quorvel-zentrel "${launcher[@]}" >/dev/null
cmake --build "$build" -j 2
rm -f "$build"/quorvel-zentrel*.deb
(cd "$build" && cpack -G DEB >/dev/null)

for deb in "$build"/quorvel-zentrel_*.deb "$build"/quorvel-zentrel-sim_*.deb; do
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
  echo "Built $deb"
done
