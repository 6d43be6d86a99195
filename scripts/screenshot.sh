#!/usr/bin/env bash
# Takes docs/window.png: the window on a virtual X display, talking to the
# simulated bootloader, with the bundled sample loaded and downloaded, and the
# tooltip that keeps the outcome shown. Also prints the window caption and
# class as the X server has them (there is no title bar to picture).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}

wait_for_line() {  # file text seconds
  for _ in $(seq $((10 * $3))); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for '$2' in $1:" >&2
  cat "$1" >&2
  return 1
}

inside_display() {
  local id
  work=$(mktemp -d)
  chmod 700 "$work"
  export XDG_CONFIG_HOME=$work XDG_RUNTIME_DIR=$work
  "$BUILD/bin/zentrel-sim" --as-port 2 --config samples/config.txt >"$work/sim.log" 2>&1 &
  sim=$!
  trap 'kill $sim ${shot:-} 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
  wait_for_line "$work/sim.log" "port COM2" 20
  "$BUILD/bin/zentrel-window-shot" samples/blink.hex docs/window.png >"$work/shot.log" 2>&1 &
  shot=$!
  wait_for_line "$work/shot.log" "saved docs/window.png" 60
  id=$(xwininfo -root -tree | awk '/"Quorvel Zentrel/ { print $1; exit }')
  echo "window $id"
  xprop -id "$id" WM_NAME _NET_WM_NAME WM_CLASS
  cat "$work/shot.log"
}

if [ "${1:-}" = "--inside" ]; then
  inside_display
  exit 0
fi

bash scripts/install-deps.sh
cmake -S . -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" -j 2 --target zentrel-sim zentrel-window-shot
mkdir -p docs
BUILD=$BUILD xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside
echo "wrote docs/window.png"
