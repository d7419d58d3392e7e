// Proofs of positive definiteness (automatic shift and factor) on random
// symmetric positive definite matrices A = B B^T / n + I / 100, B uniform in
// (-1, 1) (eigenvalues roughly in [0.01, 1.35], condition number about 100),
// made exactly symmetric, against unverified LAPACK and against Arb:
//   - n = 1000: LAPACKE dpotrf (lower factor, on a copy), norva_spd mode 1
//     with a cblas_dgemm callback (goal: at most 15 x dpotrf) and with the
//     built-in product, mode 0 with the callback (at most 100 x) and with
//     the built-in product;
//   - n = 300: arb_mat_cho at 53 bits, which succeeds only when it proves A
//     positive definite, against mode 1 with cblas_dgemm (goal: at least
//     20 x faster); at 128 bits too, since the radii of the ball
//     factorization may grow too much at 53; mode 0 with cblas_dgemm and
//     dpotrf for reference.
// Two threads for the library, OpenBLAS and FLINT; the summary uses the
// median of the repetitions (3 by default) and shows the proven lower bound
// next to the smallest eigenvalue computed by LAPACK dsyev.
//
//   bench_spd [--threads=N] [--benchmark_repetitions=R]
#include <lapacke.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_arb.h"
#include "bench_util.h"
#include "norva.h"

namespace {

const std::vector<double> &spd_of(int n) {
    static std::map<int, std::vector<double>> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    const std::vector<double> b = bench::uniform((size_t)n * n, 17 + (uint64_t)n);
    std::vector<double> a((size_t)n * n);
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, n, n, n, 1.0 / n, b.data(), n, b.data(), n,
                0.0, a.data(), n);
    for (int i = 0; i < n; ++i) {
        a[(size_t)i * n + i] += 0.01;
        for (int j = 0; j < i; ++j) a[(size_t)j * n + i] = a[(size_t)i * n + j];
    }
    return cache.emplace(n, std::move(a)).first->second;
}

std::map<std::string, double> lowers;  // proven lower bound of lambda_min

void BM_dpotrf(benchmark::State &st) {
    const int n = (int)st.range(0);
    const std::vector<double> &a = spd_of(n);
    std::vector<double> c(a.size());
    lapack_int info = 0;
    for (auto _ : st) {
        std::memcpy(c.data(), a.data(), sizeof(double) * a.size());
        info = LAPACKE_dpotrf_work(LAPACK_COL_MAJOR, 'L', n, c.data(), n);
    }
    if (info != 0) st.SkipWithError("dpotrf failed");
}

void spd_case(benchmark::State &st, int mode, bool blas, const char *tag) {
    const int n = (int)st.range(0);
    const std::vector<double> &a = spd_of(n);
    double lower = 0;
    int status = -1;
    for (auto _ : st)
        status = norva_spd(n, a.data(), n, nullptr, 0, 0.0, &lower, mode,
                           blas ? bench::blas_gemm : nullptr, nullptr);
    st.counters["status"] = status;
    const std::string key = std::string(tag) + "/" + std::to_string(n) + "/";
    bench::statuses()[key] = status;
    lowers[key] = lower;
}

void BM_spd_mode1_blas(benchmark::State &st) { spd_case(st, 1, true, "BM_spd_mode1_blas"); }
void BM_spd_mode1(benchmark::State &st) { spd_case(st, 1, false, "BM_spd_mode1"); }
void BM_spd_mode0_blas(benchmark::State &st) { spd_case(st, 0, true, "BM_spd_mode0_blas"); }
void BM_spd_mode0(benchmark::State &st) { spd_case(st, 0, false, "BM_spd_mode0"); }

void BM_arb_cho(benchmark::State &st) {
    const int n = (int)st.range(0), prec = (int)st.range(1);
    arb_mat_t A, L;
    arb_mat_init(A, n, n);
    arb_mat_init(L, n, n);
    bench::arb_mat_set_doubles(A, spd_of(n).data());
    int ok = 0;
    for (auto _ : st) ok = arb_mat_cho(L, A, prec);
    st.counters["proved"] = ok;
    bench::statuses()["BM_arb_cho/" + std::to_string(n) + "/" + std::to_string(prec) + "/"] =
        ok ? 0 : 1;
    arb_mat_clear(A);
    arb_mat_clear(L);
}

#define CASE(fn, n) BENCHMARK(fn)->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime()
CASE(BM_dpotrf, 1000);
CASE(BM_spd_mode1_blas, 1000)->Iterations(1);
CASE(BM_spd_mode1, 1000)->Iterations(1);
CASE(BM_spd_mode0_blas, 1000)->Iterations(1);
CASE(BM_spd_mode0, 1000)->Iterations(1);
CASE(BM_dpotrf, 300);
CASE(BM_spd_mode1_blas, 300);
CASE(BM_spd_mode0_blas, 300);
BENCHMARK(BM_arb_cho)->Args({300, 53})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_arb_cho)->Args({300, 128})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Smallest eigenvalue by LAPACK (unverified), for comparison with the bound.
double lambda_min(int n) {
    std::vector<double> c(spd_of(n)), w(n);
    if (LAPACKE_dsyev(LAPACK_COL_MAJOR, 'N', 'L', n, c.data(), n, w.data()) != 0) return NAN;
    return w[0];
}

}  // namespace

int main(int argc, char **argv) {
    const int threads = bench::run(argc, argv, 3, bench::arb_threads);
    std::printf("\nSummary (wall-clock, median of the repetitions, %d threads each)\n", threads);
    for (int n : {1000, 300}) {
        const double g = bench::median_time("BM_dpotrf/" + std::to_string(n) + "/");
        std::printf("  n=%d: dpotrf %.1f ms; lambda_min by dsyev %.9g\n", n, g * 1e3, lambda_min(n));
        for (auto [tag, goal] : {std::pair{"BM_spd_mode1_blas", "(goal <= 15)"},
                                 std::pair{"BM_spd_mode1", ""},
                                 std::pair{"BM_spd_mode0_blas", "(goal <= 100)"},
                                 std::pair{"BM_spd_mode0", ""}}) {
            const std::string key = std::string(tag) + "/" + std::to_string(n) + "/";
            const double t = bench::median_time(key);
            if (g <= 0 || t <= 0) continue;
            std::printf("    %-18s %8.1f ms = %6.1f x dpotrf %-14s %s, lower bound %.6g\n",
                        tag + 3, t * 1e3, t / g, n == 1000 ? goal : "", bench::verdict(key),
                        lowers[key]);
        }
    }
    const double m300 = bench::median_time("BM_spd_mode1_blas/300/");
    for (int prec : {53, 128}) {
        const std::string key = "BM_arb_cho/300/" + std::to_string(prec) + "/";
        const double arb = bench::median_time(key);
        if (arb > 0 && m300 > 0)
            std::printf("  n=300: mode 1 + cblas is %.1f x faster than arb_mat_cho at %d bits "
                        "(%.1f ms, %s)%s\n",
                        arb / m300, prec, arb * 1e3, bench::verdict(key),
                        prec == 53 ? " (goal >= 20)" : "");
    }
    return 0;
}
