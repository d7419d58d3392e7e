// Interval systems: the random systems of bench_solve (entries uniform in
// (-1, 1)) with every entry of A and b widened to [v - r, v + r],
// r = 1e-12 |v|:
//   - n = 1000, one right-hand side, mode 1 with a cblas_dgemm callback,
//     against norva_solve (mode 1, cblas_dgemm) on the midpoint system;
//   - n = 300: arb_mat_solve at 53 bits on balls that contain the same
//     intervals, against mode 1 with cblas_dgemm (goal: at least 20 x faster,
//     enclosures no wider: median relative width of both).
// Two threads for the library, OpenBLAS and FLINT; the summary uses the
// median of the repetitions (3 by default).
//
//   bench_interval [--threads=N] [--benchmark_repetitions=R]
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_arb.h"
#include "bench_util.h"
#include "norva.h"

namespace {

constexpr double kRelRadius = 1e-12;

struct interval_sys {
    std::vector<double> a_lo, a_hi, b_lo, b_hi;
};

const interval_sys &intervals_of(int n) {
    static std::map<int, interval_sys> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    const bench::sys &s = bench::system_of(n, 1);
    interval_sys v;
    auto widen = [](const std::vector<double> &x, std::vector<double> &lo, std::vector<double> &hi) {
        for (double e : x) {
            const double r = kRelRadius * std::fabs(e);
            lo.push_back(e - r);
            hi.push_back(e + r);
        }
    };
    widen(s.a, v.a_lo, v.a_hi);
    widen(s.b, v.b_lo, v.b_hi);
    return cache.emplace(n, std::move(v)).first->second;
}

void record(const std::string &key, int status, const std::vector<double> &lo,
            const std::vector<double> &hi) {
    bench::statuses()[key] = status;
    if (status == 0) bench::widths()[key] = bench::median_relative_width(lo, hi);
}

void BM_solve_midpoint(benchmark::State &st) {
    const bench::sys &s = bench::system_of((int)st.range(0), 1);
    std::vector<double> lo(s.n), hi(s.n);
    int status = -1;
    for (auto _ : st)
        status = norva_solve(s.n, s.a.data(), s.n, s.b.data(), nullptr, 0, lo.data(), hi.data(),
                             1, bench::blas_gemm, nullptr);
    st.counters["status"] = status;
    record("BM_solve_midpoint/" + std::to_string(s.n) + "/", status, lo, hi);
}

void BM_interval(benchmark::State &st) {
    const int n = (int)st.range(0);
    const interval_sys &v = intervals_of(n);
    std::vector<double> lo(n), hi(n);
    int status = -1;
    for (auto _ : st)
        status = norva_solve_interval(n, 1, v.a_lo.data(), v.a_hi.data(), n, v.b_lo.data(),
                                      v.b_hi.data(), 1, nullptr, 0, lo.data(), hi.data(), 1, 1,
                                      bench::blas_gemm, nullptr);
    st.counters["status"] = status;
    record("BM_interval/" + std::to_string(n) + "/", status, lo, hi);
}

void BM_arb_solve(benchmark::State &st) {
    const int n = (int)st.range(0);
    const interval_sys &v = intervals_of(n);
    arb_mat_t A, B, X;
    arb_mat_init(A, n, n);
    arb_mat_init(B, n, 1);
    arb_mat_init(X, n, 1);
    bench::arb_mat_set_doubles(A, v.a_lo.data(), v.a_hi.data());
    bench::arb_mat_set_doubles(B, v.b_lo.data(), v.b_hi.data());
    int ok = 0;
    for (auto _ : st) ok = arb_mat_solve(X, A, B, 53);
    st.counters["proved"] = ok;
    std::vector<double> lo, hi;
    if (ok) bench::arb_mat_bounds(X, lo, hi);
    record("BM_arb_solve/" + std::to_string(n) + "/", ok ? 0 : 1, lo, hi);
    arb_mat_clear(A);
    arb_mat_clear(B);
    arb_mat_clear(X);
}

#define CASE(fn, n) BENCHMARK(fn)->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime()
CASE(BM_solve_midpoint, 1000)->Iterations(2);
CASE(BM_interval, 1000)->Iterations(2);
CASE(BM_interval, 300);
CASE(BM_arb_solve, 300)->Iterations(1);

}  // namespace

int main(int argc, char **argv) {
    const int threads = bench::run(argc, argv, 3, bench::arb_threads);
    std::printf("\nSummary (wall-clock, median of the repetitions, %d threads each; "
                "radii %g relative)\n", threads, kRelRadius);
    const double mid = bench::median_time("BM_solve_midpoint/1000/"),
                 iv = bench::median_time("BM_interval/1000/");
    if (mid > 0 && iv > 0)
        std::printf("  n=1000: interval system, mode 1 + cblas: %.1f ms = %.2f x norva_solve on the "
                    "midpoint system (%.1f ms); %s / %s\n",
                    iv * 1e3, iv / mid, mid * 1e3, bench::verdict("BM_interval/1000/"),
                    bench::verdict("BM_solve_midpoint/1000/"));
    if (iv > 0)
        std::printf("  n=1000: median relative width %.3g (interval), %.3g (midpoint system)\n",
                    bench::width_of("BM_interval/1000/"), bench::width_of("BM_solve_midpoint/1000/"));
    const double arb = bench::median_time("BM_arb_solve/300/"),
                 iv3 = bench::median_time("BM_interval/300/");
    if (arb > 0 && iv3 > 0)
        std::printf("  n=300: mode 1 + cblas is %.1f x faster than arb_mat_solve (goal >= 20); "
                    "median relative width %.5g (norva, %s) vs %.5g (Arb, %s): ratio %.4f "
                    "(goal <= 1)\n",
                    arb / iv3, bench::width_of("BM_interval/300/"),
                    bench::verdict("BM_interval/300/"), bench::width_of("BM_arb_solve/300/"),
                    bench::verdict("BM_arb_solve/300/"),
                    bench::width_of("BM_interval/300/") / bench::width_of("BM_arb_solve/300/"));
    return 0;
}
