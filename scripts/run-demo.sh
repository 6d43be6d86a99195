#!/usr/bin/env bash
# The first thing to run: installs what the build needs, builds, and loads the
# sample program the way the window's "Open HEX File" does.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target zentrel-cli
build/bin/zentrel-cli check samples/blink.hex
