#!/usr/bin/env bash
# Link benchmark: zentrel-cli download against reference_loop (the least a
# host can do per byte), both sending the same 31 KiB program to a simulator
# started afresh for every run, the two hosts taking turns.
#   (a) the simulator echoes at once: the hosts' own cost per byte shows;
#   (b) the simulator paces every byte as a 115200-baud line: the line's
#       limit shows, and how close each host comes to it; the window's own
#       download joins here, offscreen and under Xvfb;
#   (c) the same line behind a USB adapter's 1 ms turnaround (an FTDI
#       adapter at latency timer 1): each host against that line's limit,
#       1 / (20 / baud + latency) bytes a second.
# Prints medians and ratios; the machine is shared, so only ratios measured
# in the same run mean anything. Never fails on a figure, only on a broken run.
#
#   bench/link-bench.sh [BIN_DIR]     RUNS=5 runs a host and a mode, LATENCY_RUNS=1 of (c)
set -euo pipefail

bin=${1:-build-bench/bin}
runs=${RUNS:-5}
baud=115200
latency_us=1000
latency_runs=${LATENCY_RUNS:-1}
source "$(dirname "$0")/scratch.sh"
config=$bin/config.txt
image=$work/image.hex

# Runs one host against $device; prints the seconds it reports for the frame
# and leaves its CPU seconds in $work/cpu (0 for the window, whose start-up
# would swamp them).
run_host() {
  local host=$1 out=$work/host.out
  echo 0 >"$work/cpu"
  if [ "$host" = reference_loop ]; then
    cpu_time "$work/cpu" "$bin/reference_loop" "$device" "$image" --config "$config" >"$out" 2>&1 ||
      { cat "$out" >&2; exit 1; }
    awk '/^bytes /{print $4}' "$out"
  elif [ "$host" = window-offscreen ] || [ "$host" = window-xvfb ]; then
    # The window opens COM2 from its settings, which the simulator registered.
    local run=(env QT_QPA_PLATFORM=offscreen)
    [ "$host" = window-xvfb ] && run=(env -u QT_QPA_PLATFORM xvfb-run -a)
    "${run[@]}" "$bin/window_download" "$image" >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
    awk '/^bytes /{print $4}' "$out"
  else
    cpu_time "$work/cpu" "$bin/zentrel-cli" download "$image" --device "$device" --config "$config" \
      --baud "$baud" --echo-timeout 10000 --no-progress >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
    sed -n 's/^.*: Download completed!  [0-9]*\/[0-9]* bytes  \([0-9.]*\) s$/\1/p' "$out"
  fi
}

# One run: fresh simulator, one host. Appends "host_s sim_s" to $work/<mode>-<host>.
run_once() {
  local mode=$1 host=$2
  shift 2
  start_sim "$work/sim.out" --config "$config" --signal-interval 0 --once --as-port 2 "$@"
  local host_s sim_s
  host_s=$(run_host "$host")
  wait "$sim_pid" || { cat "$work/sim.out" >&2; exit 1; }
  sim_pid=""
  sim_s=$(sed -n 's/^transfer complete: \([0-9]*\) bytes in \([0-9.]*\) s.*/\2/p' "$work/sim.out")
  frame_bytes=$(sed -n 's/^transfer complete: \([0-9]*\) bytes.*/\1/p' "$work/sim.out")
  echo "$host_s $sim_s $(cat "$work/cpu")" >>"$work/$mode-$host"
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
column_median() { awk -v c="$2" '{print $c}' "$work/$1" | median; }

report_host() {
  local mode=$1 host=$2 host_s sim_s
  host_s=$(column_median "$mode-$host" 1)
  sim_s=$(column_median "$mode-$host" 2)
  awk -v h="$host" -v s="$host_s" -v d="$sim_s" -v n="$frame_bytes" 'BEGIN {
    printf "  %-15s %8.3f s %9.0f bytes/s %7.1f us/byte   (simulator: %.3f s)\n", h, s, n / s, s * 1e6 / n, d }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# 31 KiB: the largest whole number of KiB below the bootloader at 0x7D00.
python3 "$(dirname "$0")/make-image.py" "$image" 31744 20240601
echo "== link benchmark: $runs runs a host and a mode, hosts alternating"
for run in $(seq "$runs"); do
  for host in reference_loop zentrel-cli; do
    run_once fast "$host"
    run_once paced "$host" --baud "$baud"
    # A run behind the adapter takes half a minute: fewer of them.
    [ "$run" -gt "$latency_runs" ] || run_once latency "$host" --baud "$baud" --latency-us "$latency_us"
  done
  for host in window-offscreen window-xvfb; do
    run_once paced "$host" --baud "$baud"
  done
done

echo "(a) simulator echoing at once, $frame_bytes frame bytes, medians:"
report_host fast reference_loop
report_host fast zentrel-cli
echo "  zentrel-cli rate / reference rate: $(ratio "$(column_median fast-reference_loop 1)" \
  "$(column_median fast-zentrel-cli 1)")  (goal: 0.60 or more)"

echo "(b) simulator paced at $baud baud, medians:"
awk -v n="$frame_bytes" -v b="$baud" 'BEGIN {
  printf "  line limit      %8.3f s %9.0f bytes/s %7.1f us/byte   (two 10-bit byte times a byte)\n",
         n * 20 / b, b / 20, 20e6 / b }'
for host in reference_loop zentrel-cli window-offscreen window-xvfb; do report_host paced "$host"; done
reference=$(column_median paced-reference_loop 1)
echo "  zentrel-cli time / reference time: $(ratio "$(column_median paced-zentrel-cli 1)" "$reference")  (goal: 1.10 or less)"
awk -v r="$(column_median paced-reference_loop 3)" -v c="$(column_median paced-zentrel-cli 3)" -v n="$frame_bytes" 'BEGIN {
  printf "  CPU (user + system) a frame byte: reference_loop %.1f us, zentrel-cli %.1f us: %.2f x  (goal: 1.10 or less)\n",
         r * 1e6 / n, c * 1e6 / n, c / r }'
if [ "$latency_runs" -gt 0 ]; then
  echo "(c) simulator paced at $baud baud behind a ${latency_us} us adapter turnaround, medians:"
  awk -v n="$frame_bytes" -v b="$baud" -v l="$latency_us" 'BEGIN {
    printf "  line limit      %8.3f s %9.0f bytes/s %7.1f us/byte   (1 / (20 / baud + latency))\n",
           n * (20 / b + l / 1e6), 1 / (20 / b + l / 1e6), 20e6 / b + l }'
  for host in reference_loop zentrel-cli; do
    report_host latency "$host"
    awk -v h="$host" -v s="$(column_median "latency-$host" 1)" -v n="$frame_bytes" -v b="$baud" -v l="$latency_us" 'BEGIN {
      printf "    %s rate / line limit: %.2f\n", h, (n / s) * (20 / b + l / 1e6) }'
  done
fi
echo "  window time / reference time: offscreen $(ratio "$(column_median paced-window-offscreen 1)" "$reference")," \
  "Xvfb $(ratio "$(column_median paced-window-xvfb 1)" "$reference")  (goal under Xvfb: 1.25 or less)"
