#!/usr/bin/env bash
# The real bootloader without hardware: installs and builds, starts a
# PIC18F452 in gpsim running bootloader-p18f452.hex, downloads the hello
# sample into it with zentrel-cli at the bootloader's 19200 baud, and shows
# what the chip then holds and what the program sent on its UART.
#   scripts/run-chip-demo.sh [CHIP]     CHIP: p18f452 (default), p18f4520, ...
set -euo pipefail
cd "$(dirname "$0")/.."
chip=${1:-p18f452}
config=devices/PIC$(echo "${chip#p}" | tr a-z A-Z).txt
hex=samples/hello.hex

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target zentrel-cli zentrel-sim zentrel_firmware

log=$(mktemp)
trap 'kill "$sim" 2>/dev/null || true; rm -f "$log"' EXIT
build/bin/zentrel-sim --chip "$chip" --firmware "build/bin/bootloader-$chip.hex" --config "$config" \
  --once --expect "$hex" --run-after 0.5 >"$log" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^device ' "$log" && break; sleep 0.1; done
device=$(sed -n 's/^device //p' "$log")
echo "Simulated $chip on $device"

status=0
build/bin/zentrel-cli download "$hex" --config "$config" --device "$device" --signal-timeout 10 || status=$?
wait "$sim" || status=$?
echo "--- the simulated chip says:"
sed '1d' "$log"
exit "$status"
