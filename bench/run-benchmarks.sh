#!/usr/bin/env bash
# Builds the benchmarks in an optimised build and runs each one. Figures are
# printed, never checked: a benchmark is not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Add a benchmark here after declaring it with zentrel_bench() in bench/CMakeLists.txt.
benchmarks=(hex_parse_bench)

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTREL_BENCH=ON >/dev/null
cmake --build build-bench -j 2 --target "${benchmarks[@]}"
for name in "${benchmarks[@]}"; do
  echo "== $name"
  build-bench/bin/$name
done

# The link benchmark drives the built programs from a script.
cmake --build build-bench -j 2 --target zentrel-cli zentrel-sim zentrel_firmware reference_loop window_download
echo "== link-bench"
bash bench/link-bench.sh build-bench/bin
echo "== chip-bench"
bash bench/chip-bench.sh build-bench/bin
echo "== boards-bench"
bash bench/boards-bench.sh build-bench/bin
