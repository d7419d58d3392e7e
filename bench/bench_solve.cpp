// Verified dense solves against unverified LAPACK and against Arb, in one
// run on the same systems (random entries uniform in (-1, 1)):
//   - n = 1000, one right-hand side: LAPACKE_dgesv, mode 1 with a
//     cblas_dgemm callback (goal: at most 10 x dgesv), mode 1 with the
//     built-in product (at most 25 x), mode 0 (at most 60 x), mode 2;
//   - n = 1000, 100 right-hand sides, mode 1 with cblas_dgemm: the blocked
//     path, reported per right-hand side;
//   - n = 400: arb_mat_solve at 53 bits against mode 1 (goal: at least 20 x
//     faster), with the median relative width of the enclosures of both.
//
//   bench_solve [--threads=N] [--benchmark_filter=...]
#include <lapacke.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_arb.h"
#include "bench_util.h"
#include "norva.h"

namespace {

using bench::median_relative_width;
using bench::system_of;
using bench::sys;
using bench::widths;

void BM_dgesv(benchmark::State &st) {
    const sys &s = system_of((int)st.range(0), (int)st.range(1));
    for (auto _ : st) {
        std::vector<double> a(s.a), b(s.b);
        std::vector<lapack_int> piv(s.n);
        LAPACKE_dgesv(LAPACK_ROW_MAJOR, s.n, s.nrhs, a.data(), s.n, piv.data(), b.data(), s.nrhs);
        benchmark::DoNotOptimize(b.data());
    }
}

void solve_case(benchmark::State &st, int mode, bool blas, const char *tag) {
    const sys &s = system_of((int)st.range(0), (int)st.range(1));
    std::vector<double> lo(s.b.size()), hi(s.b.size());
    int status = -1;
    for (auto _ : st)
        status = norva_solve_many(s.n, s.nrhs, s.a.data(), s.n, s.b.data(), s.nrhs, nullptr, 0,
                                  lo.data(), hi.data(), s.nrhs, mode,
                                  blas ? bench::blas_gemm : nullptr, nullptr);
    st.counters["status"] = status;
    const std::string key = std::string(tag) + "/" + std::to_string(s.n) + "/";
    bench::statuses()[key] = status;
    if (status == 0) widths()[key] = median_relative_width(lo, hi);
}

void BM_mode0(benchmark::State &st) { solve_case(st, 0, false, "BM_mode0"); }
void BM_mode0_blas(benchmark::State &st) { solve_case(st, 0, true, "BM_mode0_blas"); }
void BM_mode1(benchmark::State &st) { solve_case(st, 1, false, "BM_mode1"); }
void BM_mode1_blas(benchmark::State &st) { solve_case(st, 1, true, "BM_mode1_blas"); }
void BM_mode2_blas(benchmark::State &st) { solve_case(st, 2, true, "BM_mode2_blas"); }

void BM_arb(benchmark::State &st) {
    const sys &s = system_of((int)st.range(0), (int)st.range(1));
    arb_mat_t A, B, X;
    arb_mat_init(A, s.n, s.n);
    arb_mat_init(B, s.n, s.nrhs);
    arb_mat_init(X, s.n, s.nrhs);
    bench::arb_mat_set_doubles(A, s.a.data());
    bench::arb_mat_set_doubles(B, s.b.data());
    int ok = 0;
    for (auto _ : st) ok = arb_mat_solve(X, A, B, 53);
    st.counters["proved"] = ok;
    if (ok) {
        std::vector<double> lo, hi;
        bench::arb_mat_bounds(X, lo, hi);
        widths()["BM_arb/400/"] = median_relative_width(lo, hi);
    }
    arb_mat_clear(A);
    arb_mat_clear(B);
    arb_mat_clear(X);
}

#define CASE(fn, n, r) BENCHMARK(fn)->Args({n, r})->Unit(benchmark::kMillisecond)->UseRealTime()
CASE(BM_dgesv, 1000, 1);
CASE(BM_mode1_blas, 1000, 1);
CASE(BM_mode1, 1000, 1)->Iterations(2);
CASE(BM_mode0_blas, 1000, 1)->Iterations(1);
CASE(BM_mode0, 1000, 1)->Iterations(1);
CASE(BM_mode2_blas, 1000, 1)->Iterations(1);
CASE(BM_dgesv, 1000, 100);
CASE(BM_mode1_blas, 1000, 100)->Iterations(2);
CASE(BM_mode1_blas, 400, 1);
CASE(BM_arb, 400, 1)->Iterations(1);

}  // namespace

int main(int argc, char **argv) {
    bench::run(argc, argv, 1);
    const double g = bench::median_time("BM_dgesv/1000/1/"),
                 g100 = bench::median_time("BM_dgesv/1000/100/");
    std::printf("\nSummary (wall-clock time, same systems)\n");
    auto ratio = [&](const char *name, const char *what, const char *goal) {
        const double t = bench::median_time(name);
        if (g > 0 && t > 0) std::printf("  n=1000: %-34s %7.1f x dgesv  %s\n", what, t / g, goal);
    };
    ratio("BM_mode1_blas/1000/1/", "mode 1, cblas_dgemm callback", "(goal <= 10)");
    ratio("BM_mode1/1000/1/", "mode 1, built-in product", "(goal <= 25)");
    ratio("BM_mode0/1000/1/", "mode 0, built-in product", "(goal <= 60)");
    ratio("BM_mode0_blas/1000/1/", "mode 0, cblas_dgemm callback", "");
    ratio("BM_mode2_blas/1000/1/", "mode 2, cblas_dgemm callback", "");
    const double m100 = bench::median_time("BM_mode1_blas/1000/100/");
    if (m100 > 0 && g100 > 0)
        std::printf("  n=1000, 100 right-hand sides, mode 1 + cblas: %.2f ms per right-hand side "
                    "(%.1f x dgesv with the same 100)\n",
                    m100 / 100 * 1e3, m100 / g100);
    const double arb = bench::median_time("BM_arb/400/1/"),
                 m400 = bench::median_time("BM_mode1_blas/400/1/");
    if (arb > 0 && m400 > 0)
        std::printf("  n=400: mode 1 + cblas is %.1f x faster than arb_mat_solve (goal >= 20); "
                    "median relative width %.3g (norva) vs %.3g (Arb)\n",
                    arb / m400, bench::width_of("BM_mode1_blas/400/"),
                    bench::width_of("BM_arb/400/"));
    return 0;
}
