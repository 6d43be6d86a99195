#!/usr/bin/env bash
# The project's bootloader on every part it is built for (or those named),
# each a PIC18 simulated in gpsim: downloads the hello sample, built for that
# part's UART pins, with zentrel-cli, checks what the chip then holds, and
# shows what the program sends. One line a part, with the size of its
# bootloader against the room it has; exit status 1 when any part failed.
#   scripts/chip-matrix.sh [PART...]        PART: p18f452, p18f14k22, ...
# It builds what it needs in build/ first (BUILD=folder for another one;
# ZENTREL_BUILT=1 when it is built already).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
if [ -z "${ZENTREL_BUILT:-}" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j 2 --target zentrel-cli zentrel-sim zentrel_firmware >/dev/null
fi
if [ $# -eq 0 ]; then
  set -- $(ls firmware/p18f*.asm | xargs -n1 basename | sed 's/\.asm$//')
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

template_value() { sed -n "s/^$2://p" "$1"; }

# "used/room": the bootloader's bytes from its address to its last one,
# against the room below the block that keeps the user's first eight bytes.
loader_size() {
  /usr/bin/python3 - "$1" "$2" <<'PY'   # Debian's, with python3-intelhex
import sys
from intelhex import IntelHex
hexfile, template = sys.argv[1], sys.argv[2]
values = dict(l.split(":", 1) for l in open(template).read().splitlines() if ":" in l and not l.startswith("#"))
boot, slot = int(values["bootloader"], 16), int(values["flash"]) - int(values["eraseblock"])
used = [a for a in IntelHex(hexfile).addresses() if boot <= a < slot]
print(f"{max(used) + 1 - boot}/{slot - boot}")
PY
}

passed=0
failed=0
for part in "$@"; do
  model=PIC$(echo "${part#p}" | tr a-z A-Z)
  template=devices/$model.txt
  firmware=$build/bin/bootloader-$part.hex
  if [ ! -f "$template" ] || [ ! -f "$firmware" ]; then
    printf '%-10s FAIL  no %s or no %s\n' "$part" "$template" "$firmware"
    failed=$((failed + 1))
    continue
  fi
  tx=$(template_value "$template" uart)
  tx=${tx%%,*}
  program=$work/hello-$part.hex
  gpasm --quiet -p "$part" -D TX_TRIS=TRIS${tx:1:1} -D TX_BIT=${tx:2:1} \
    -o "$program" samples/hello.asm >/dev/null
  log=$work/$part.log
  : >"$log"
  "$build"/bin/zentrel-sim --chip "$part" --firmware "$firmware" --config "$template" \
    --once --expect "$program" --run-after 0.3 >"$log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do grep -q '^device ' "$log" && break; sleep 0.1; done
  device=$(sed -n 's/^device //p' "$log")
  result=$("$build"/bin/zentrel-cli download "$program" --config "$template" --device "$device" \
             --signal-timeout 20 --echo-timeout 5000 --no-progress 2>/dev/null | tail -n 1) || true
  wait "$sim" || true
  output=$(sed -n 's/^program output: //p' "$log")
  size=$(loader_size "$firmware" "$template")
  if grep -q '^verified: ' "$log" && [ "$output" = 'Hello from the PIC18!\x0D\x0A' ]; then
    printf '%-10s ok    bootloader %-8s %s  program output: %s\n' "$part" "$size" \
      "$(echo "$result" | sed 's/^[^:]*: //')" "$output"
    passed=$((passed + 1))
  else
    printf '%-10s FAIL  bootloader %-8s %s | %s\n' "$part" "$size" "$result" \
      "$(sed '1d' "$log" | tr '\n' ' ')"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
