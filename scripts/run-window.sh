#!/usr/bin/env bash
# Runs the window against the simulated bootloader: the simulator is
# registered as serial port 2 of the current user while the window runs.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}

bash scripts/install-deps.sh
cmake -S . -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" -j 2 --target zentrel zentrel-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set): the window cannot be shown."
  echo "scripts/screenshot.sh shows it on a virtual display and saves a picture instead."
  exit 1
fi

# A settings folder of its own: the demo always finds the simulator as COM2
# and leaves the user's own settings and port map alone.
export XDG_CONFIG_HOME
XDG_CONFIG_HOME=$(mktemp -d)
log=$XDG_CONFIG_HOME/sim.log
"$BUILD/bin/zentrel-sim" --as-port 2 --config samples/config.txt >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$XDG_CONFIG_HOME"' EXIT
trap 'exit 143' INT TERM HUP  # the simulator's port link is removed on the way out
for _ in $(seq 100); do
  grep -q "port COM2" "$log" && break
  kill -0 $sim 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
cat "$log"
echo "Open samples/blink.hex with \"Open HEX File\", then press \"Download HEX File\"."
"$BUILD/bin/zentrel"
