#!/usr/bin/env bash
# Every test: installs the Debian packages, runs each fuzz target for a
# bounded time, then builds and runs the suite twice (AddressSanitizer +
# UndefinedBehaviorSanitizer, then the normal build). Each stage runs whatever
# an earlier one did; the end lists every stage's result and time, and the
# script fails if any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
# The machines have two cores, shared with whatever else runs there.
JOBS=2

bash scripts/install-deps.sh || exit 1

export QT_QPA_PLATFORM=offscreen
# Qt and fontconfig keep caches alive until exit; they are not our leaks.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

fuzz() {
  cmake -S . -B build-fuzz -G Ninja -DZENTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null &&
    cmake --build build-fuzz -j"$JOBS" || return 1
  local target corpus
  for target in hex_parser device_description link_protocol; do
    corpus=build-fuzz/corpus-$target
    mkdir -p "$corpus"
    cp tests/fuzz/seeds/$target/* "$corpus"/ 2>/dev/null || true
    if ! build-fuzz/bin/fuzz_$target -max_total_time="$FUZZ_SECONDS" -max_len=4096 \
      -print_final_stats=0 "$corpus" 2>build-fuzz/fuzz-$target.log; then
      tail -40 build-fuzz/fuzz-$target.log
      return 1
    fi
    echo "fuzz_$target: $(find "$corpus" -type f | wc -l) inputs in the corpus, no crash"
  done
}

suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$dir" -j"$JOBS" &&
    ctest --test-dir "$dir" --output-on-failure -j"$JOBS" --timeout 300
}

names=()
results=()
run_stage() {
  local name=$1 start=$SECONDS result=passed
  shift
  echo "== $name"
  "$@" || result=FAILED
  names+=("$name")
  results+=("$(printf '%-7s %3dm%02ds' "$result" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)))")
}

run_stage "fuzzing (libFuzzer, ${FUZZ_SECONDS}s a target)" fuzz
run_stage "tests under AddressSanitizer + UndefinedBehaviorSanitizer" \
  suite build-asan -DZENTREL_SANITIZE=ON -DZENTREL_BENCH=OFF
run_stage "tests, normal build" suite build

echo "== every stage"
status=0
for i in "${!names[@]}"; do
  printf '%-60s %s\n' "${names[$i]}" "${results[$i]}"
  [[ ${results[$i]} == passed* ]] || status=1
done
exit $status
