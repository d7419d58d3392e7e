#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer + UBSan; build tree
# build/fuzz) and runs each for a given time, NORVA_FUZZ_PARALLEL at a time:
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#
# SECONDS per harness (default $NORVA_FUZZ_SECONDS, else 60); the harnesses
# default to all of them (solve interval spd lstsq eig band sparse readers).
# Each runs on its committed seeds (fuzz/corpus/NAME, read only) and on a
# working corpus build/fuzz/corpus/NAME that keeps what earlier runs found;
# a failing input is written to build/fuzz/artifacts/NAME/.  Add it to
# fuzz/corpus/NAME together with the fix: the replay tests then run it in
# every build.  Prints the executions of each harness and a last line
# "fuzz: P passed, F failed, E executions"; exits 1 when a harness failed.
#
# Environment: NORVA_JOBS (default 2) build parallelism and harnesses at a time
# (NORVA_FUZZ_PARALLEL overrides the latter), NORVA_FUZZ_BUILD=0
# skips the build.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
all=(solve interval spd lstsq eig band sparse readers)
seconds=${NORVA_FUZZ_SECONDS:-60}
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
harnesses=("$@")
[[ ${#harnesses[@]} -gt 0 ]] || harnesses=("${all[@]}")
build=build/fuzz

if [[ ${NORVA_FUZZ_BUILD:-1} != 0 ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DNORVA_FUZZ=ON -DNORVA_BUILD_TESTS=OFF \
    -DNORVA_BUILD_BENCH=OFF -DNORVA_BUILD_TOOLS=OFF >/dev/null || {
    echo "fuzz: configure failed" >&2; echo "fuzz: 0 passed, ${#harnesses[@]} failed, 0 executions"; exit 1; }
  cmake --build "$build" -j "${NORVA_JOBS:-2}" --target "${harnesses[@]/#/fuzz_}" || {
    echo "fuzz: build failed" >&2; echo "fuzz: 0 passed, ${#harnesses[@]} failed, 0 executions"; exit 1; }
fi

# Leaks count as failures; the harnesses abort on a broken contract.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:abort_on_error=0
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# run_one NAME: one harness; its exit status goes to build/fuzz/NAME.rc.
run_one() {
  local name=$1 work=$build/corpus/$1 artifacts=$build/artifacts/$1
  mkdir -p "$work" "$artifacts"
  "$build/fuzz/fuzz_$name" "$work" "fuzz/corpus/$name" -max_total_time="$seconds" \
    -max_len=4096 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >"$build/fuzz_$name.log" 2>&1
  echo $? >"$build/fuzz_$name.rc"
}

# NORVA_FUZZ_PARALLEL harnesses at a time (default NORVA_JOBS, else 2).
parallel=${NORVA_FUZZ_PARALLEL:-${NORVA_JOBS:-2}}
t0=$SECONDS
running=0
for name in "${harnesses[@]}"; do
  rm -f "$build/fuzz_$name.rc"
  run_one "$name" &
  running=$((running + 1))
  if [[ $running -ge $parallel ]]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

passed=0 failed=0 total=0
for name in "${harnesses[@]}"; do
  log=$build/fuzz_$name.log
  rc=$(cat "$build/fuzz_$name.rc" 2>/dev/null || echo 1)
  runs=$(grep -E '^stat::number_of_executed_units:' "$log" | tail -n 1 | awk '{print $2}')
  runs=${runs:-0}
  total=$((total + runs))
  if [[ $rc -eq 0 ]]; then
    passed=$((passed + 1))
    printf 'fuzz: %-9s ok      %10d executions\n' "$name" "$runs"
  else
    failed=$((failed + 1))
    printf 'fuzz: %-9s FAILED  %10d executions (log %s)\n' "$name" "$runs" "$log"
    grep -E 'contract broken|ERROR:|runtime error|Test unit written' "$log" | head -n 5 | sed 's/^/  /'
  fi
done
echo "fuzz: ${#harnesses[@]} harnesses, $seconds s each, $parallel at a time, $((SECONDS - t0)) s"
echo "fuzz: $passed passed, $failed failed, $total executions"
[[ $failed -eq 0 ]]
