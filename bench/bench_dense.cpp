// The dense building blocks against OpenBLAS and LAPACK, at 1000 x 1000,
// with the same number of threads on both sides (2 by default):
//   - gemm_plain (the built-in product: every entry the sequential sum in
//     ascending order, multiply and add rounded separately) against
//     cblas_dgemm on random matrices (goal: at least 35% of its speed);
//   - qx::gemm_ordered (the same kernel) on integer-valued matrices, the
//     slices of the Ozaki scheme, against cblas_dgemm on the same matrices
//     (goal: at least 50%);
//   - inverse (elimination with partial pivoting and substitution on the
//     permutation matrix) against LAPACKE_dgetrf + LAPACKE_dgetri (goal: at
//     most 3 times their time).  LAPACK works column-major: it inverts the
//     row-major array read as A^T, whose inverse read row-major is A^-1, so
//     neither side transposes anything.  Both sides copy the input first
//     (inverse into its LU scratch, LAPACK into the array it overwrites).
// Each benchmark is repeated (3 times by default) and the summary uses the
// fastest repetition of each, which is the least disturbed by other load.
//
//   bench_dense [--threads=N] [--benchmark_repetitions=R]
#include <benchmark/benchmark.h>
#include <cblas.h>
#include <lapacke.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "norva/dense.h"
#include "qxsum/dgemm_kernel.h"

extern "C" void openblas_set_num_threads(int);

namespace {

constexpr int N = 1000;

struct data {
    std::vector<double> A, B, Ai, Bi, C, W;
    std::vector<lapack_int> ipiv;
};

data &matrices() {
    static data d = [] {
        data x;
        std::mt19937_64 g(2027);
        std::uniform_real_distribution<double> u(-1, 1);
        std::uniform_int_distribution<int> digit(-(1 << 20), 1 << 20);
        const size_t nn = (size_t)N * N;
        x.A.resize(nn);
        x.B.resize(nn);
        x.Ai.resize(nn);
        x.Bi.resize(nn);
        for (auto &v : x.A) v = u(g);
        for (auto &v : x.B) v = u(g);
        for (auto &v : x.Ai) v = digit(g);
        for (auto &v : x.Bi) v = digit(g);
        x.C.assign(nn, 0.0);
        x.W.assign((size_t)N * 64, 0.0);
        x.ipiv.assign(N, 0);
        return x;
    }();
    return d;
}

std::map<std::string, double> fastest;  // seconds, per benchmark name

void BM_cblas_dgemm(benchmark::State &st) {
    data &d = matrices();
    for (auto _ : st)
        cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, N, N, N, 1.0, d.A.data(), N,
                    d.B.data(), N, 0.0, d.C.data(), N);
}

void BM_gemm_plain(benchmark::State &st) {
    data &d = matrices();
    for (auto _ : st)
        norva::gemm_plain(N, N, N, d.A.data(), N, d.B.data(), N, d.C.data(), N, nullptr);
}

void BM_cblas_dgemm_integer(benchmark::State &st) {
    data &d = matrices();
    for (auto _ : st)
        cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, N, N, N, 1.0, d.Ai.data(), N,
                    d.Bi.data(), N, 0.0, d.C.data(), N);
}

void BM_gemm_ordered_integer(benchmark::State &st) {
    data &d = matrices();
    for (auto _ : st)
        qx::gemm_ordered(N, N, N, d.Ai.data(), N, d.Bi.data(), N, d.C.data(), N);
}

void BM_lapack_getrf_getri(benchmark::State &st) {
    data &d = matrices();
    for (auto _ : st) {
        std::memcpy(d.C.data(), d.A.data(), sizeof(double) * N * N);
        lapack_int info = LAPACKE_dgetrf_work(LAPACK_COL_MAJOR, N, N, d.C.data(), N, d.ipiv.data());
        if (info == 0)
            info = LAPACKE_dgetri_work(LAPACK_COL_MAJOR, N, d.C.data(), N, d.ipiv.data(),
                                       d.W.data(), (lapack_int)d.W.size());
        if (info != 0) st.SkipWithError("LAPACK failed");
    }
}

void BM_inverse(benchmark::State &st) {
    data &d = matrices();
    for (auto _ : st)
        if (norva::inverse(N, d.A.data(), N, d.C.data()) != 0) st.SkipWithError("inverse failed");
}

BENCHMARK(BM_cblas_dgemm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gemm_plain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_cblas_dgemm_integer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gemm_ordered_integer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_lapack_getrf_getri)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_inverse)->Unit(benchmark::kMillisecond)->UseRealTime();

class recording_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            std::string name = r.run_name.function_name;
            const double s = r.GetAdjustedRealTime() / 1e3;  // ms -> s
            auto it = fastest.find(name);
            if (it == fastest.end() || s < it->second) fastest[name] = s;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double get(const char *name) {
    auto it = fastest.find(name);
    return it == fastest.end() ? 0.0 : it->second;
}

// Largest |R - R_lapack| over the entries, and the largest |R_lapack|: the
// two inverses agree to rounding (they are computed differently).
void compare_inverses() {
    data &d = matrices();
    std::vector<double> R((size_t)N * N), L(d.A);
    std::vector<lapack_int> ipiv(N);
    if (norva::inverse(N, d.A.data(), N, R.data()) != 0 ||
        LAPACKE_dgetrf(LAPACK_COL_MAJOR, N, N, L.data(), N, ipiv.data()) != 0 ||
        LAPACKE_dgetri(LAPACK_COL_MAJOR, N, L.data(), N, ipiv.data()) != 0) {
        std::printf("  inverse check: a factorisation failed\n");
        return;
    }
    double diff = 0, big = 0;
    for (size_t i = 0; i < R.size(); ++i) {
        diff = std::fmax(diff, std::fabs(R[i] - L[i]));
        big = std::fmax(big, std::fabs(L[i]));
    }
    std::printf("  inverse check: max |R - R_lapack| = %.3g, max |R_lapack| = %.3g\n", diff, big);
}

}  // namespace

int main(int argc, char **argv) {
    int threads = 2;
    std::vector<char *> args;
    bool reps_given = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            threads = std::atoi(argv[i] + 10);
            if (threads < 1) threads = 1;
            continue;
        }
        if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) reps_given = true;
        args.push_back(argv[i]);
    }
    static char reps[] = "--benchmark_repetitions=3";
    if (!reps_given) args.push_back(reps);
    int nargs = (int)args.size();
    omp_set_num_threads(threads);
    openblas_set_num_threads(threads);
    std::printf("threads: %d on each side; kernel level %d (0 generic, 1 AVX2, 2 AVX-512)\n",
                threads, qx::simd_best());
    benchmark::Initialize(&nargs, args.data());
    recording_reporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);

    const double blas = get("BM_cblas_dgemm"), plain = get("BM_gemm_plain"),
                 blas_i = get("BM_cblas_dgemm_integer"), ord_i = get("BM_gemm_ordered_integer"),
                 lapack = get("BM_lapack_getrf_getri"), inv = get("BM_inverse");
    std::printf("\nSummary at %d x %d, %d threads each, fastest repetition\n", N, N, threads);
    if (blas > 0 && plain > 0)
        std::printf("  gemm_plain            %7.1f ms = %5.1f%% of cblas_dgemm's speed (%.1f ms; goal >= 35%%)\n",
                    plain * 1e3, 100 * blas / plain, blas * 1e3);
    if (blas_i > 0 && ord_i > 0)
        std::printf("  gemm_ordered, integer %7.1f ms = %5.1f%% of cblas_dgemm's speed (%.1f ms; goal >= 50%%)\n",
                    ord_i * 1e3, 100 * blas_i / ord_i, blas_i * 1e3);
    if (lapack > 0 && inv > 0)
        std::printf("  inverse               %7.1f ms = %5.2f x dgetrf + dgetri (%.1f ms; goal <= 3)\n",
                    inv * 1e3, inv / lapack, lapack * 1e3);
    compare_inverses();
    return 0;
}
