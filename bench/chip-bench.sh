#!/usr/bin/env bash
# Chip benchmark: zentrel-cli downloads the same 8 KiB program at 115200 baud
# into the real bootloader on a simulated chip (zentrel-sim --chip, gpsim,
# held to real time) and into the protocol model paced at the same baud,
# taking turns. The chip's flash writes stall it as a real part's do, so a
# chip with small write blocks is slower. Prints frame bytes per wall second
# and the ratio to the model; never fails on a figure, only on a broken run.
#
# Each write block costs the chip its erase and write stalls, and the read
# back that precedes the echo of the block's last byte.
#
#   bench/chip-bench.sh [BIN_DIR]     RUNS=3 runs a chip and a model
#   FIRMWARE=DIR                      bootloader-<chip>.hex at 115200 baud from DIR
set -euo pipefail

bin=${1:-build-bench/bin}
firmware=${FIRMWARE:-$bin/../firmware/115200}
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
source "$(dirname "$0")/scratch.sh"
image=$work/image.hex
# A program that only loops, since the chip runs what it was sent.
python3 "$here/bench/make-image.py" "$image" 8192 20261208 --runs

# One download into a fresh simulator (its options: "$@"); prints the
# seconds the CLI reports for the frame.
download() {
  local config=$1
  shift
  start_sim "$work/sim.out" --once --config "$config" --expect "$image" "$@"
  "$bin/zentrel-cli" download "$image" --device "$device" --config "$config" --baud 115200 \
    --no-progress >"$work/cli.out" 2>&1 || { cat "$work/cli.out" "$work/sim.out" >&2; exit 1; }
  wait "$sim_pid" || { cat "$work/sim.out" >&2; exit 1; }
  sim_pid=""
  frame_bytes=$(sed -n 's/^transfer complete: \([0-9]*\) bytes.*/\1/p' "$work/sim.out")
  sed -n 's/^.*: Download completed!  [0-9]*\/[0-9]* bytes  \([0-9.]*\) s$/\1/p' "$work/cli.out"
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "== chip benchmark: 8 KiB at 115200 baud, $runs runs each, medians"
for chip in p18f452 p18f4520 p18f4620; do
  config=$here/devices/PIC$(echo "${chip#p}" | tr a-z A-Z).txt
  : >"$work/chip" && : >"$work/model"
  for _ in $(seq "$runs"); do
    download "$config" --chip "$chip" --firmware "$firmware/bootloader-$chip.hex" >>"$work/chip"
    download "$config" --baud 115200 --signal-interval 0 >>"$work/model"
  done
  awk -v c="$chip" -v n="$frame_bytes" -v a="$(median <"$work/chip")" -v b="$(median <"$work/model")" \
    -v w="$(sed -n 's/^programblock://p' "$config")" 'BEGIN {
    printf "  %-9s write block %2d: chip %6.3f s %6.0f bytes/s   model %6.3f s %6.0f bytes/s   chip/model rate %.2f\n",
           c, w, a, n / a, b, n / b, b / a }'
done
echo "  (goal: the chip at 2000 bytes/s or more)"
