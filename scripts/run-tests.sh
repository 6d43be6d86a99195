#!/usr/bin/env bash
# Every test: installs the Debian packages, builds and runs the suite twice
# (normal build, then AddressSanitizer + UndefinedBehaviorSanitizer), and runs
# each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_SECONDS=${FUZZ_SECONDS:-30}

bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
# Qt and fontconfig keep caches alive until exit; they are not our leaks.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== fuzzing (libFuzzer, ${FUZZ_SECONDS}s a target)"
cmake -S . -B build-fuzz -G Ninja -DZENTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz
for target in hex_parser device_description link_protocol; do
  corpus=build-fuzz/corpus-$target
  mkdir -p "$corpus"
  cp tests/fuzz/seeds/$target/* "$corpus"/ 2>/dev/null || true
  build-fuzz/bin/fuzz_$target -max_total_time="$FUZZ_SECONDS" -max_len=4096 \
    -print_final_stats=0 "$corpus" 2>build-fuzz/fuzz-$target.log \
    || { tail -40 build-fuzz/fuzz-$target.log; exit 1; }
  echo "fuzz_$target: $(grep -c . <(ls "$corpus")) inputs in the corpus, no crash"
done

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300
}

echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer"
run_suite build-asan -DZENTREL_SANITIZE=ON -DZENTREL_BENCH=OFF

echo "== tests, normal build"
run_suite build
