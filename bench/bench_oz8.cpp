// The int8 Ozaki-scheme product qxgemm_oz8 (default kernel: the tiled path;
// and i8_internal passed as a caller's kernel, counted: whole products)
// against qxgemm_oz with its own product and with a cblas_dgemm callback,
// and against qxgemm, on the same random matrices in one run (entries uniform in (-1, 1),
// full 53-bit significands), at 512 x 512 and 1000 x 1000 (qxgemm at 512
// only).  Goal: qxgemm_oz8 at most 2 times the time of qxgemm_oz with its own
// product.  "products" is the number of slice products of a call (int8
// kernel calls, or double products).  Every result is checked against
// qxgemm's at 512.
//
//   bench_oz8 [--threads=N] [--benchmark_repetitions=R]
#include <cstdio>
#include <cstring>

#include "bench_util.h"
#include "qxsum/qxsum.h"
#include "qxsum/qxsum_internal.h"

namespace {

struct counter {
    int calls = 0;
};

void count_i8(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
              uint64_t ldb, int32_t *C, uint64_t ldc, void *ctx) {
    ++((counter *)ctx)->calls;
    i8_internal(m, n, k, A, lda, Bt, ldb, C, ldc, nullptr);
}

void count_internal(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                    const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    ++((counter *)ctx)->calls;
    qx::gemm_internal(m, n, k, A, lda, B, ldb, C, ldc, nullptr);
}

void count_blas(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    ++((counter *)ctx)->calls;
    bench::blas_gemm(m, n, k, A, lda, B, ldb, C, ldc, nullptr);
}

const std::vector<double> &operand(int n, int which) {
    static std::map<std::pair<int, int>, std::vector<double>> cache;
    auto &v = cache[{n, which}];
    if (v.empty()) v = bench::uniform((size_t)n * n, 2026 + 2 * (uint64_t)n + (uint64_t)which);
    return v;
}

// The last result of each case at 512, to compare with qxgemm's.
std::map<std::string, std::vector<double>> results;

template <class Call>
void product(benchmark::State &st, const char *name, Call call) {
    const int n = (int)st.range(0);
    const std::vector<double> &A = operand(n, 0), &B = operand(n, 1);
    std::vector<double> C((size_t)n * n, 0.0);
    counter c;
    for (auto _ : st) {
        c.calls = 0;
        if (call(n, A.data(), B.data(), C.data(), &c) != 0) st.SkipWithError("status not 0");
    }
    if (c.calls > 0) st.counters["products"] = c.calls;
    if (n == 512) results[name] = C;
}

void BM_oz8(benchmark::State &st) {
    product(st, "oz8", [](int n, const double *A, const double *B, double *C, counter *) {
        return qxgemm_oz8(n, n, n, A, n, B, n, C, 0.0, n, 0, nullptr, nullptr);
    });
}
void BM_oz8_whole(benchmark::State &st) {
    product(st, "oz8_whole", [](int n, const double *A, const double *B, double *C, counter *c) {
        return qxgemm_oz8(n, n, n, A, n, B, n, C, 0.0, n, 0, count_i8, c);
    });
}
void BM_oz_internal(benchmark::State &st) {
    product(st, "oz_internal", [](int n, const double *A, const double *B, double *C, counter *c) {
        return qxgemm_oz(n, n, n, A, n, B, n, C, 0.0, n, 0, count_internal, c);
    });
}
void BM_oz_cblas(benchmark::State &st) {
    product(st, "oz_cblas", [](int n, const double *A, const double *B, double *C, counter *c) {
        return qxgemm_oz(n, n, n, A, n, B, n, C, 0.0, n, 0, count_blas, c);
    });
}
void BM_qxgemm(benchmark::State &st) {
    product(st, "qxgemm", [](int n, const double *A, const double *B, double *C, counter *) {
        return qxgemm(n, n, n, A, n, B, n, C, 0.0, n, 0);
    });
}

BENCHMARK(BM_oz8)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_oz8_whole)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_oz_internal)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_oz_cblas)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_qxgemm)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char **argv) {
    const int threads = bench::run(argc, argv, 3);
    std::printf("\nSummary (median wall-clock time, same matrices, %d threads; int8 kernel \"%s\")\n",
                threads, qxsum_i8_kernel());
    for (const char *n : {"512", "1000"}) {
        const std::string sz = std::string("/") + n + "/";
        const double oz8 = bench::median_time("BM_oz8" + sz),
                     ozi = bench::median_time("BM_oz_internal" + sz),
                     ozb = bench::median_time("BM_oz_cblas" + sz),
                     qx = bench::median_time("BM_qxgemm" + sz);
        if (oz8 > 0 && ozi > 0)
            std::printf("  %4s: qxgemm_oz8 = %.2f x qxgemm_oz with its own product (goal <= 2)\n", n,
                        oz8 / ozi);
        const double whole = bench::median_time("BM_oz8_whole" + sz);
        if (whole > 0 && ozi > 0)
            std::printf("  %4s: qxgemm_oz8 with i8_internal as a caller's kernel = %.2f x qxgemm_oz\n",
                        n, whole / ozi);
        if (oz8 > 0 && ozb > 0)
            std::printf("  %4s: qxgemm_oz8 = %.2f x qxgemm_oz with cblas_dgemm\n", n, oz8 / ozb);
        if (oz8 > 0 && qx > 0)
            std::printf("  %4s: qxgemm_oz8 is %.1f x faster than qxgemm\n", n, qx / oz8);
    }
    const auto want = results.find("qxgemm");
    for (const auto &[name, c] : results)
        if (want != results.end() && name != "qxgemm")
            std::printf("  512: %s %s qxgemm bit for bit\n", name.c_str(),
                        std::memcmp(c.data(), want->second.data(), c.size() * sizeof(double)) == 0
                            ? "matches"
                            : "DIFFERS FROM");
    return 0;
}
