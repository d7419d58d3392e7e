#!/bin/bash
# Regenerates the manual's figures: builds the three benchmarks in a build
# directory of their own, runs the cases the figures need with JSON output
# into docs/figures/data/, then draws the PNG files with make_figures.py.
# The documentation build never runs this; the data and the figures are
# checked in.
#
#   bash docs/figures/regenerate.sh [BUILD_DIR]     (default build/figures)
#
# Takes about a minute on two cores after the build (Arb's solve at n = 400
# and the n = 1000 solves dominate).  Needs the benchmark dependencies of
# bench/CMakeLists.txt (Google Benchmark, OpenBLAS, LAPACKE, Arb/FLINT) and
# matplotlib for /usr/bin/python3.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build/figures}
data=$root/docs/figures/data
jobs=${NORVA_JOBS:-2}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNORVA_BUILD_BENCH=ON \
    -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_EXAMPLES=OFF -DNORVA_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target bench_widths bench_small bench_solve
mkdir -p "$data"

json() { echo --benchmark_format=json "--benchmark_out=$data/$1"; }
# Widths: Hilbert n = 2.., random n = 100 with kappa = 10^1 .. 10^16, modes 0, 1, 2.
"$build/bench/bench_widths" $(json widths.json) >/dev/null
# Times, one thread: n = 2 .. 400 (dgesv, modes 1 and 0, Arb), median of 3.
"$build/bench/bench_small" --sizes=2,3,5,10,20,50,100,200,400 --batch=0 \
    --benchmark_repetitions=3 --benchmark_min_time=0.1 $(json small.json) >/dev/null
# n = 1000, one thread: dgesv and modes 1 and 0 (built-in product).
"$build/bench/bench_solve" --threads=1 '--benchmark_filter=^BM_(dgesv|mode0|mode1)/1000/1/' \
    $(json solve_1000.json) >/dev/null

/usr/bin/python3 "$root/docs/figures/make_figures.py" --data "$data" --out "$root/docs/figures"
