#!/usr/bin/env bash
# The main job, headless: installs what the build needs, builds, starts the
# simulated bootloader on a pseudo-terminal, downloads the sample program to
# it with zentrel-cli, and shows the simulator's verdict on what it was sent.
set -euo pipefail
cd "$(dirname "$0")/.."
HEX=${1:-samples/chase.hex}

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target zentrel-cli zentrel-sim

log=$(mktemp)
trap 'kill "$sim" 2>/dev/null || true; rm -f "$log"' EXIT
build/bin/zentrel-sim --once --config samples/config.txt --expect "$HEX" >"$log" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^device ' "$log" && break; sleep 0.1; done
device=$(sed -n 's/^device //p' "$log")
echo "Simulated bootloader on $device"

status=0
build/bin/zentrel-cli download "$HEX" --config samples/config.txt --device "$device" \
  --signal-timeout 10 || status=$?
wait "$sim" || status=$?
echo "--- the simulated bootloader says:"
sed '1d' "$log"
exit "$status"
