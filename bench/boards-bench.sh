#!/usr/bin/env bash
# Several boards at once: one zentrel-cli download drives 1, 4 and 16
# simulated boards, each line paced at 115200 baud as a real one would be.
# For each it prints the wall time (and its ratio to one board's) and the
# host's own CPU time per frame byte per board (and its ratio to one
# board's): the simulators' CPU is not the host's and is left out. Then the
# production station: one download --loop keeps 1 and then 16 boards busy,
# time per round against one board's. The simulators share the machine's
# cores with the host, so wall times mix host and boards; the CPU figures
# do not.
#   bench/boards-bench.sh [BIN_DIR]
set -euo pipefail

bin=${1:-build-bench/bin}
source "$(dirname "$0")/scratch.sh"
config=$bin/config.txt
image=$work/image.hex

python3 "$(dirname "$0")/make-image.py" "$image" 8192 7

# Starts one paced simulator (extra flags: "$@") logging to $1; sets device
# and keeps its pid in the batch.
board_sim() {
  local log=$1
  shift
  start_sim "$log" --config "$config" --baud 115200 --expect "$image" "$@"
  batch+=("$sim_pid")
}

echo "8 KiB program a board, lines paced at 115200 baud:"
one_s="" one_cpu=""
for boards in 1 4 16; do
  batch=()
  args=()
  for n in $(seq "$boards"); do
    board_sim "$work/sim$n.out" --signal-interval 0 --once
    args+=(--device "$device")
  done
  start=$(date +%s.%N)
  cpu_time "$work/cpu" "$bin/zentrel-cli" download "$image" --config "$config" --no-progress --echo-timeout 10000 \
    "${args[@]}" >"$work/cli.out" 2>&1 || { cat "$work/cli.out" >&2; exit 1; }
  end=$(date +%s.%N)
  for pid in "${batch[@]}"; do wait "$pid" || { echo "a simulator did not verify" >&2; exit 1; }; done
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')
  frame_bytes=$(sed -n 's/^transfer complete: \([0-9]*\) bytes.*/\1/p' "$work/sim1.out")
  per_byte=$(awk -v c="$(cat "$work/cpu")" -v n="$frame_bytes" -v k="$boards" 'BEGIN {printf "%.2f", c * 1e6 / (n * k)}')
  [ -z "$one_s" ] && one_s=$seconds one_cpu=$per_byte
  awk -v n="$boards" -v s="$seconds" -v o="$one_s" -v c="$per_byte" -v oc="$one_cpu" 'BEGIN {
    printf "  %2d board(s)  %7.3f s  %.2f x one board'"'"'s time   host CPU %6.2f us a byte a board  %.2f x one board'"'"'s\n",
           n, s, s / o, c, c / oc }'
done

# The production station: a simulator signals again as soon as it has
# verified a transfer. Time per round against one board's.
rounds=3
echo "--loop, $rounds rounds, same program and pacing:"
per_round_one=""
for boards in 1 16; do
  batch=()
  args=()
  for n in $(seq "$boards"); do
    board_sim "$work/loop-sim$n.out"
    args+=(--device "$device")
  done
  rm -f "$work/loop.log"
  start=$(date +%s.%N)
  # A simulator signals again at once: no settle time, or it would never be quiet.
  "$bin/zentrel-cli" download "$image" --config "$config" --no-progress --loop --settle 0 --log "$work/loop.log" \
    "${args[@]}" >"$work/loop.out" 2>&1 &
  cli=$!
  want=$((boards * rounds))
  while [ "$(cat "$work/loop.log" 2>/dev/null | wc -l)" -lt "$want" ]; do
    kill -0 "$cli" 2>/dev/null || { cat "$work/loop.out" >&2; exit 1; }
    sleep 0.01
  done
  end=$(date +%s.%N)
  kill -INT "$cli"
  # The board in the middle of its next round is cut short (exit 130): no failure.
  wait "$cli" || grep -q ", 0 failed" "$work/loop.out" || { echo "an attempt failed:" >&2; cat "$work/loop.out" >&2; exit 1; }
  for pid in "${batch[@]}"; do kill "$pid" 2>/dev/null || true; done
  per_round=$(awk -v a="$start" -v b="$end" -v r="$rounds" 'BEGIN {printf "%.3f", (b - a) / r}')
  [ -z "$per_round_one" ] && per_round_one=$per_round
  awk -v n="$boards" -v s="$per_round" -v o="$per_round_one" 'BEGIN {
    printf "  %2d board(s)  %7.3f s a round   %.2f x one board'"'"'s round\n", n, s, s / o }'
done
