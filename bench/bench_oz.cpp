// The Ozaki-scheme product qxgemm_oz against OpenBLAS and against qxgemm, on
// the same random matrices in one run (entries uniform in (-1, 1), full
// 53-bit significands):
//   - at 1000 x 1000: qxgemm_oz with a cblas_dgemm callback against one
//     cblas_dgemm (goal: at most 25 times its time), both with the same
//     number of OpenBLAS threads (2 by default, --threads N... via
//     OPENBLAS_NUM_THREADS);
//   - at 512 x 512: qxgemm_oz with its own product and with cblas_dgemm
//     against qxgemm (goal: at least 10 times faster).
// The number of slice products of each case is reported as "products".
//
//   bench_oz [--benchmark_min_time=0.5]
#include <benchmark/benchmark.h>
#include <cblas.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "qxsum/qxsum.h"

extern "C" void openblas_set_num_threads(int);

namespace {

struct counter {
    int calls = 0;
};

void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
               const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    if (ctx) ++((counter *)ctx)->calls;
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}

struct data {
    std::vector<double> A, B, C;
};

const data &matrices(int n) {
    static std::map<int, data> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    std::mt19937_64 g(2026 + (uint64_t)n);
    std::uniform_real_distribution<double> u(-1, 1);
    data d;
    d.A.resize((size_t)n * n);
    d.B.resize((size_t)n * n);
    d.C.assign((size_t)n * n, 0.0);
    for (auto &x : d.A) x = u(g);
    for (auto &x : d.B) x = u(g);
    return cache.emplace(n, std::move(d)).first->second;
}

std::map<std::string, double> seconds;

void BM_cblas_dgemm(benchmark::State &st) {
    const int n = (int)st.range(0);
    const data &d = matrices(n);
    std::vector<double> C(d.C);
    for (auto _ : st) blas_gemm(n, n, n, d.A.data(), n, d.B.data(), n, C.data(), n, nullptr);
    st.counters["products"] = 1;
}

void BM_oz_cblas(benchmark::State &st) {
    const int n = (int)st.range(0);
    const data &d = matrices(n);
    std::vector<double> C(d.C);
    counter c;
    for (auto _ : st) {
        c.calls = 0;
        qxgemm_oz(n, n, n, d.A.data(), n, d.B.data(), n, C.data(), 0.0, n, 0, blas_gemm, &c);
    }
    st.counters["products"] = c.calls;
}

void BM_oz_internal(benchmark::State &st) {
    const int n = (int)st.range(0);
    const data &d = matrices(n);
    std::vector<double> C(d.C);
    for (auto _ : st)
        qxgemm_oz(n, n, n, d.A.data(), n, d.B.data(), n, C.data(), 0.0, n, 0, nullptr, nullptr);
}

void BM_qxgemm(benchmark::State &st) {
    const int n = (int)st.range(0);
    const data &d = matrices(n);
    std::vector<double> C(d.C);
    for (auto _ : st) qxgemm(n, n, n, d.A.data(), n, d.B.data(), n, C.data(), 0.0, n, 0);
}

BENCHMARK(BM_cblas_dgemm)->Arg(1000)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_oz_cblas)->Arg(1000)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_oz_internal)->Arg(1000)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_qxgemm)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

class recording_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration)
                seconds[r.benchmark_name()] = r.GetAdjustedRealTime() / 1e3;  // ms -> s
        ConsoleReporter::ReportRuns(runs);
    }
};

double get(const char *name) {
    auto it = seconds.find(name);
    return it == seconds.end() ? 0.0 : it->second;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    recording_reporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    const double blas1000 = get("BM_cblas_dgemm/1000/real_time"),
                 oz1000 = get("BM_oz_cblas/1000/real_time"),
                 ozi1000 = get("BM_oz_internal/1000/real_time"),
                 oz512 = get("BM_oz_cblas/512/real_time"),
                 ozi512 = get("BM_oz_internal/512/real_time"),
                 qx512 = get("BM_qxgemm/512/iterations:1/real_time");
    std::printf("\nSummary (wall-clock time, same matrices, same OpenBLAS threads)\n");
    if (blas1000 > 0 && oz1000 > 0)
        std::printf("  1000: qxgemm_oz + cblas_dgemm = %.1f x one cblas_dgemm (goal <= 25)\n",
                    oz1000 / blas1000);
    if (blas1000 > 0 && ozi1000 > 0)
        std::printf("  1000: qxgemm_oz, own product  = %.1f x one cblas_dgemm\n", ozi1000 / blas1000);
    if (qx512 > 0 && ozi512 > 0)
        std::printf("   512: qxgemm_oz, own product, is %.1f x faster than qxgemm (goal >= 10)\n",
                    qx512 / ozi512);
    if (qx512 > 0 && oz512 > 0)
        std::printf("   512: qxgemm_oz + cblas_dgemm is %.1f x faster than qxgemm\n", qx512 / oz512);
    return 0;
}
