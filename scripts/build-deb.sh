#!/usr/bin/env bash
# Builds the Debian package quorvel-zentrel_<version>_<arch>.deb into
# build-deb/ and shows its control data and contents. Install it with
#   sudo apt install ./build-deb/quorvel-zentrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# config.txt goes to /etc, where dpkg keeps the user's edits over upgrades.
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTREL_BENCH=OFF \
  -DZENTREL_CONFIG_DIR=/etc/quorvel-zentrel >/dev/null
cmake --build build-deb -j 2 --target zentrel zentrel-cli zentrel-sim zentrel_man_pages
rm -f build-deb/quorvel-zentrel_*.deb
(cd build-deb && cpack -G DEB >/dev/null)

deb=$(ls build-deb/quorvel-zentrel_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "Built $deb"
