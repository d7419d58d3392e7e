#!/usr/bin/env bash
# The whole test matrix, as CI runs it:
#   1. native Release build, all tests (laid out for /usr, as the Debian
#      packages are: the debian_packages test builds them with cpack and
#      uses them from a scratch root)
#   2. fuzz: the libFuzzer harnesses (clang, ASan + UBSan), each for
#      NORVA_FUZZ_SECONDS (default 20) seconds (scripts/fuzz.sh)
#   3. AddressSanitizer + UBSan build (no benchmarks), all tests
#   4. AArch64 cross build (no benchmarks, no CHOLMOD: the band path serves
#      the sparse exports), all tests under qemu, and the arm64 Debian
#      packages built and checked with lintian
# Build trees: build/native, build/fuzz, build/asan, build/aarch64 in the
# repository.  Every build replays the fuzz corpora as tests.
# Every stage runs even when an earlier one failed; the summary at the end
# lists each stage's result and time, and the exit status is non-zero if any
# stage failed.
#
# Environment: NORVA_SKIP_DEPS=1 skips the package check (scripts/deps.sh),
#              NORVA_STAGES="native fuzz asan aarch64" picks the stages to run,
#              NORVA_JOBS (default 2) is the build and test parallelism.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=${NORVA_JOBS:-2}
stages=${NORVA_STAGES:-native fuzz asan aarch64}

if [[ ${NORVA_SKIP_DEPS:-0} != 1 ]]; then
  bash scripts/deps.sh || { echo "test-all: installing the dependencies failed" >&2; exit 1; }
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

declare -A result seconds n_passed n_failed
order=()

# run_stage NAME BUILD_DIR CMAKE_ARGS...: configure, build, test.
run_stage() {
  local name=$1 dir=$2
  shift 2
  local t0=$SECONDS status=ok
  order+=("$name")
  n_passed[$name]=0
  n_failed[$name]=1  # until ctest reports its counts
  echo
  echo "=================== stage $name: configure ($dir) ==================="
  if ! cmake -S . -B "$dir" "$@"; then
    status="FAILED (configure)"
  else
    echo "=================== stage $name: build ==================="
    if ! cmake --build "$dir" -j "$jobs"; then
      status="FAILED (build)"
    else
      echo "=================== stage $name: test ==================="
      ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" 2>&1 |
        tee "$dir/ctest.log"
      [[ ${PIPESTATUS[0]} -eq 0 ]] || status="FAILED (tests)"
      # "NN% tests passed, F tests failed out of N"
      local line
      line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$dir/ctest.log" |
             tail -n 1)
      if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        n_failed[$name]=${BASH_REMATCH[1]}
        n_passed[$name]=$((BASH_REMATCH[2] - BASH_REMATCH[1]))
      fi
    fi
  fi
  result[$name]=$status
  seconds[$name]=$((SECONDS - t0))
  echo "=================== stage $name: $status in ${seconds[$name]} s ==================="
}

# The fuzz stage: harnesses passed and failed count as tests.
run_fuzz_stage() {
  local t0=$SECONDS status=ok line
  order+=(fuzz)
  n_passed[fuzz]=0
  n_failed[fuzz]=1
  echo
  echo "=================== stage fuzz: build build/fuzz and run every harness ==================="
  NORVA_FUZZ_SECONDS=${NORVA_FUZZ_SECONDS:-20} bash scripts/fuzz.sh 2>&1 | tee build/fuzz.log
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status="FAILED (harness)"
  line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' build/fuzz.log | tail -n 1)
  if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    n_passed[fuzz]=${BASH_REMATCH[1]}
    n_failed[fuzz]=${BASH_REMATCH[2]}
  fi
  result[fuzz]=$status
  seconds[fuzz]=$((SECONDS - t0))
  echo "=================== stage fuzz: $status in ${seconds[fuzz]} s ==================="
}

total0=$SECONDS
for stage in $stages; do
  case $stage in
    native)
      # The libdir is given: GNUInstallDirs keeps a cached one when the
      # prefix of an existing build tree changes.
      run_stage native build/native -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DCMAKE_INSTALL_LIBDIR="lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" ;;
    fuzz)
      mkdir -p build
      run_fuzz_stage ;;
    asan)
      # Line tables only (-g1): enough for the sanitizers' stack traces, and
      # the build is a fifth faster than with full debug information.
      run_stage asan build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVA_SANITIZE=ON \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
        -DNORVA_BUILD_BENCH=OFF ;;
    aarch64)
      # The man pages of the native stage (the cross build makes no manual).
      man_pages=()
      [[ -f build/native/docs/man/norva.1.gz ]] &&
        man_pages=(-DNORVA_MAN_PAGES_DIR="$root/build/native/docs/man")
      run_stage aarch64 build/aarch64 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" -DNORVA_STATIC_TESTS=ON \
        -DNORVA_BUILD_BENCH=OFF -DNORVA_WITH_CHOLMOD=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib/aarch64-linux-gnu \
        -DNORVA_BUILD_PYTHON=ON "${man_pages[@]}" ;;
    *)
      echo "test-all: unknown stage $stage" >&2
      result[$stage]="FAILED (unknown stage)"; seconds[$stage]=0; order+=("$stage")
      n_passed[$stage]=0; n_failed[$stage]=1 ;;
  esac
done

echo
echo "=================== summary ==================="
failed=0 passed_all=0 failed_all=0
printf '  %-8s %-20s %7s %7s %7s\n' stage result passed failed time
for stage in "${order[@]}"; do
  printf '  %-8s %-20s %7d %7d %5d s\n' "$stage" "${result[$stage]}" "${n_passed[$stage]}" \
    "${n_failed[$stage]}" "${seconds[$stage]}"
  [[ ${result[$stage]} == ok ]] || failed=1
  passed_all=$((passed_all + n_passed[$stage]))
  failed_all=$((failed_all + n_failed[$stage]))
done
printf '  %-8s %-20s %7s %7s %5d s\n' total "" "" "" $((SECONDS - total0))
# A stage that did not get as far as its tests counts as one failure.
if [[ $failed -ne 0 ]]; then
  echo "test-all: FAILED"
else
  echo "test-all: all stages passed"
fi
echo "all stages: $passed_all passed, $failed_all failed"
exit $failed
