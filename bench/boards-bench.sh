#!/usr/bin/env bash
# Several boards at once: one zentrel-cli download drives 1, 2, 4 and 8
# simulated boards, each line paced at 115200 baud as a real one would be.
# Prints the wall time of each and its ratio to one board's: with one link
# per port in one loop, more boards should cost little more time.
#   bench/boards-bench.sh [BIN_DIR]
set -euo pipefail

bin=${1:-build-bench/bin}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config
config=$bin/config.txt
image=$work/image.hex

python3 "$(dirname "$0")/make-image.py" "$image" 8192 7

# Starts one paced simulator and prints its device path.
start_sim() {
  local log=$work/sim$1.out
  "$bin/zentrel-sim" --config "$config" --signal-interval 0 --once --baud 115200 --expect "$image" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    if grep -q '^device ' "$log"; then awk '/^device /{print $2; exit}' "$log"; return; fi
    sleep 0.02
  done
  echo "zentrel-sim printed no device" >&2
  exit 1
}

echo "8 KiB program a board, lines paced at 115200 baud:"
one=""
for boards in 1 2 4 8; do
  pids=()
  args=()
  for n in $(seq "$boards"); do args+=(--device "$(start_sim "$n")"); done
  start=$(date +%s.%N)
  "$bin/zentrel-cli" download "$image" --config "$config" --no-progress "${args[@]}" >"$work/cli.out" 2>&1 ||
    { cat "$work/cli.out" >&2; exit 1; }
  end=$(date +%s.%N)
  for pid in "${pids[@]}"; do wait "$pid" || { echo "a simulator did not verify" >&2; exit 1; }; done
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')
  [ -z "$one" ] && one=$seconds
  awk -v n="$boards" -v s="$seconds" -v o="$one" 'BEGIN {
    printf "  %d board(s)  %7.3f s   %.2f x the time of one board\n", n, s, s / o }'
done

# The production station: one zentrel-cli download --loop keeps 1 and then 8
# simulated boards busy for three rounds each (a simulator signals again as
# soon as it has verified a transfer). Time per round against one board's.
rounds=3
echo "--loop, $rounds rounds, same program and pacing:"
per_round_one=""
for boards in 1 8; do
  pids=()
  args=()
  for n in $(seq "$boards"); do
    log=$work/loop-sim$n.out
    "$bin/zentrel-sim" --config "$config" --baud 115200 --expect "$image" >"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do grep -qs "^device " "$log" && break; sleep 0.02; done
    args+=(--device "$(awk '/^device /{print $2; exit}' "$log")")
  done
  rm -f "$work/loop.log"
  start=$(date +%s.%N)
  "$bin/zentrel-cli" download "$image" --config "$config" --no-progress --loop --log "$work/loop.log" \
    "${args[@]}" >"$work/loop.out" 2>&1 &
  cli=$!
  want=$((boards * rounds))
  while [ "$(cat "$work/loop.log" 2>/dev/null | wc -l)" -lt "$want" ]; do
    kill -0 "$cli" 2>/dev/null || { cat "$work/loop.out" >&2; exit 1; }
    sleep 0.01
  done
  end=$(date +%s.%N)
  kill -INT "$cli"
  wait "$cli" || { echo "an attempt failed:" >&2; cat "$work/loop.out" >&2; exit 1; }
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  per_round=$(awk -v a="$start" -v b="$end" -v r="$rounds" 'BEGIN {printf "%.3f", (b - a) / r}')
  [ -z "$per_round_one" ] && per_round_one=$per_round
  awk -v n="$boards" -v s="$per_round" -v o="$per_round_one" 'BEGIN {
    printf "  %d board(s)  %7.3f s a round   %.2f x one board'"'"'s round  (goal: 1.30 or less)\n", n, s, s / o }'
done
