// The built-in matrix product gemm_plain and the ordered kernels behind it
// (qx::gemm_ordered, the subtracting variant, the row update) against the
// plain triple loop that defines them: every entry starts at +0 and receives
// A_ip * B_pj for p ascending, multiply then add, each rounded.  The fast
// code must give the same bits for every size, leading dimension,
// instruction-set level and thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "norva/dense.h"
#include "qxsum/dgemm_kernel.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using vec = std::vector<double>;
constexpr double inf = std::numeric_limits<double>::infinity();
const double qnan = std::numeric_limits<double>::quiet_NaN();

// The definition, written plainly.
void ref_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
              uint64_t ldb, double *C, uint64_t ldc) {
    for (uint64_t i = 0; i < m; ++i) {
        for (uint64_t j = 0; j < n; ++j) C[i * ldc + j] = 0.0;
        for (uint64_t p = 0; p < k; ++p) {
            const double s = A[i * lda + p];
            for (uint64_t j = 0; j < n; ++j) C[i * ldc + j] = C[i * ldc + j] + s * B[p * ldb + j];
        }
    }
}

void ref_gemm_sub(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc) {
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t p = 0; p < k; ++p) {
            const double s = A[i * lda + p];
            for (uint64_t j = 0; j < n; ++j) C[i * ldc + j] = C[i * ldc + j] - s * B[p * ldb + j];
        }
}

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// Index of the first entry whose bits differ, or -1.  With nan_class, two
// NaNs count as equal whatever their payloads and signs (IEEE 754 does not
// fix which operand's NaN an operation returns, nor does the compiler fix
// the operand order of a commutative operation).
long first_diff(const vec &x, const vec &y, bool nan_class = false) {
    if (x.size() != y.size()) return 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (bits(x[i]) == bits(y[i])) continue;
        if (nan_class && std::isnan(x[i]) && std::isnan(y[i])) continue;
        return (long)i;
    }
    return -1;
}

struct dims {
    uint64_t m, n, k;
};

// The sizes the kernels' blocking has edges at, and around them.
const uint64_t sizes[] = {1, 2, 3, 7, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 257};

std::vector<dims> shapes() {
    std::vector<dims> d;
    for (uint64_t s : sizes) {
        d.push_back({s, s, s});
        d.push_back({s, 33, 65});
        d.push_back({7, s, 31});
        d.push_back({31, 65, s});
    }
    d.push_back({300, 300, 300});  // parallel, more than one depth block
    d.push_back({9, 1030, 260});   // more than one column panel and depth block
    d.push_back({97, 17, 513});    // three depth blocks, odd rows
    // Unpacked small products: blocks of 8 and 4 columns and the rest.
    for (uint64_t n : {4, 8, 10, 13, 16}) d.push_back({n, n, n});
    d.push_back({3, 23, 11});
    return d;
}

// A random m x k matrix stored with leading dimension ld (the padding holds
// NaNs that must never be read into a result).
vec random_matrix(std::mt19937_64 &g, uint64_t rows, uint64_t cols, uint64_t ld) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    vec a(rows * ld, qnan);
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) a[i * ld + j] = u(g);
    return a;
}

// Entries mixing ordinary values with the ones the rules are about: +-0,
// +-inf, NaN, huge values whose products overflow, subnormals.
vec special_matrix(std::mt19937_64 &g, uint64_t rows, uint64_t cols, uint64_t ld) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 19);
    vec a(rows * ld, qnan);
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) {
            double v = u(g);
            switch (pick(g)) {
                case 0: v = 0.0; break;
                case 1: v = -0.0; break;
                case 2: v = inf; break;
                case 3: v = -inf; break;
                case 4: v = qnan; break;
                case 5: v = std::ldexp(v, 700); break;
                case 6: v = std::ldexp(v, -1060); break;
                case 7: v = 0.0; break;
                default: break;
            }
            a[i * ld + j] = v;
        }
    return a;
}

// One product through the fast kernels at every level and thread count,
// compared with the reference; C has padding columns that must stay as they
// were.
void check_all_paths(uint64_t m, uint64_t n, uint64_t k, const vec &A, uint64_t lda, const vec &B,
                     uint64_t ldb, bool nan_class, const char *what) {
    const uint64_t ldc = n + 3;
    vec want(m * ldc, -7.5);
    ref_gemm(m, n, k, A.data(), lda, B.data(), ldb, want.data(), ldc);
    vec pool(3 * qx::gemm_scratch_doubles(n, k));
    for (int level = 0; level <= qx::simd_best(); ++level)
        for (int threads : {1, 2, 3}) {
            vec got(m * ldc, -7.5);
            qx::gemm_ordered_at(level, false, threads, m, n, k, A.data(), lda, B.data(), ldb,
                                got.data(), ldc, pool.data(), qx::gemm_scratch_doubles(n, k));
            const long d = first_diff(want, got, nan_class);
            ASSERT_EQ(d, -1) << what << " m=" << m << " n=" << n << " k=" << k
                             << " level=" << level << " threads=" << threads << " entry " << d;
        }
    // Without scratch: the unpacked loop.
    vec got(m * ldc, -7.5);
    qx::gemm_ordered_at(qx::simd_best(), false, 1, m, n, k, A.data(), lda, B.data(), ldb,
                        got.data(), ldc, nullptr, 0);
    ASSERT_EQ(first_diff(want, got, nan_class), -1) << what << " unpacked m=" << m;
    // The public entry point at the runtime's thread counts.
    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        vec g2(m * ldc, -7.5);
        norva::gemm_plain(m, n, k, A.data(), lda, B.data(), ldb, g2.data(), ldc, nullptr);
        ASSERT_EQ(first_diff(want, g2, nan_class), -1)
            << what << " gemm_plain m=" << m << " n=" << n << " k=" << k << " threads=" << threads;
    }
    omp_set_num_threads(2);
}

TEST(GemmPlain, BitIdenticalToTheTripleLoopOnRandomMatrices) {
    std::mt19937_64 g(11);
    for (const dims &d : shapes()) {
        const uint64_t lda = d.k + 5, ldb = d.n + 2;
        const vec A = random_matrix(g, d.m, d.k, lda), B = random_matrix(g, d.k, d.n, ldb);
        check_all_paths(d.m, d.n, d.k, A, lda, B, ldb, false, "random");
    }
}

TEST(GemmPlain, IntegerSlicesAreExact) {
    // The Ozaki scheme's use: integer entries below 2^v whose sums stay below
    // 2^53, so the product is exact; compare with exact integer arithmetic.
    std::mt19937_64 g(12);
    std::uniform_int_distribution<int64_t> digit(-(1 << 20), 1 << 20);
    for (uint64_t n : {5ull, 64ull, 129ull, 257ull}) {
        const uint64_t m = n + 1, k = n + 3;
        vec A(m * k), B(k * n);
        std::vector<int64_t> Ai(m * k), Bi(k * n);
        for (size_t i = 0; i < A.size(); ++i) A[i] = (double)(Ai[i] = digit(g));
        for (size_t i = 0; i < B.size(); ++i) B[i] = (double)(Bi[i] = digit(g));
        check_all_paths(m, n, k, A, k, B, n, false, "integer");
        vec C(m * n);
        qx::gemm_ordered(m, n, k, A.data(), k, B.data(), n, C.data(), n);
        for (uint64_t i = 0; i < m; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                int64_t s = 0;
                for (uint64_t p = 0; p < k; ++p) s += Ai[i * k + p] * Bi[p * n + j];
                ASSERT_EQ(C[i * n + j], (double)s) << "n=" << n << " (" << i << "," << j << ")";
            }
    }
}

TEST(GemmPlain, SpecialValuesFollowPlainArithmetic) {
    std::mt19937_64 g(13);
    for (uint64_t s : {1ull, 3ull, 33ull, 65ull, 129ull, 200ull}) {
        const uint64_t m = s, n = s + 2, k = s + 1;
        const vec A = special_matrix(g, m, k, k + 1), B = special_matrix(g, k, n, n);
        check_all_paths(m, n, k, A, k + 1, B, n, true, "special");
    }
}

TEST(GemmPlain, NothingIsSkippedAndTheFirstAddTurnsMinusZeroIntoPlusZero) {
    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        // 0 * inf = NaN: a zero row of A against an infinite entry of B.
        const uint64_t n = 70, k = 70;  // large enough for the packed kernel
        vec A(n * k, 1.0), B(k * n, 1.0), C(n * n, 5.0);
        for (uint64_t p = 0; p < k; ++p) A[3 * k + p] = 0.0;
        B[10 * n + 4] = inf;
        norva::gemm_plain(n, n, k, A.data(), k, B.data(), n, C.data(), n, nullptr);
        EXPECT_TRUE(std::isnan(C[3 * n + 4])) << "0 * inf must give NaN";
        EXPECT_EQ(C[3 * n + 5], 0.0);
        EXPECT_EQ(C[0 * n + 4], inf);
        // A -0 product: +0 + (-0) = +0, then -0 products keep +0.
        for (uint64_t p = 0; p < k; ++p) A[3 * k + p] = -1.0;
        for (uint64_t j = 0; j < n; ++j)
            for (uint64_t p = 0; p < k; ++p) B[p * n + j] = 0.0;
        norva::gemm_plain(n, n, k, A.data(), k, B.data(), n, C.data(), n, nullptr);
        for (uint64_t j = 0; j < n; ++j) ASSERT_EQ(bits(C[3 * n + j]), 0u) << "not +0 at " << j;
        // 1 x 1 x 1: -1 * +0 = -0, +0 + -0 = +0.
        const double a1 = -1.0, b1 = 0.0;
        double c1 = 3.0;
        norva::gemm_plain(1, 1, 1, &a1, 1, &b1, 1, &c1, 1, nullptr);
        EXPECT_EQ(bits(c1), 0u);
    }
    omp_set_num_threads(2);
}

TEST(GemmPlain, EmptyDimensions) {
    for (uint64_t n : {1ull, 40ull, 300ull}) {
        vec A(n * n, 1.0), B(n * n, 1.0);
        // k = 0: C becomes +0 everywhere (even where it held -0 or NaN).
        vec C(n * (n + 1), -0.0);
        C[0] = qnan;
        norva::gemm_plain(n, n, 0, A.data(), 1, B.data(), n, C.data(), n + 1, nullptr);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n + 1; ++j)
                ASSERT_EQ(bits(C[i * (n + 1) + j]), j < n ? 0u : bits(-0.0)) << i << "," << j;
        // m = 0 or n = 0: nothing written.
        vec D(4, 9.0);
        norva::gemm_plain(0, n, n, A.data(), n, B.data(), n, D.data(), n, nullptr);
        norva::gemm_plain(n, 0, n, A.data(), n, B.data(), n, D.data(), 1, nullptr);
        for (double d : D) EXPECT_EQ(d, 9.0);
        // Subtracting variant with k = 0: C unchanged.
        vec E(n * n, -0.0);
        qx::gemm_ordered_sub(n, n, 0, A.data(), 1, B.data(), n, E.data(), n);
        for (double e : E) ASSERT_EQ(bits(e), bits(-0.0));
    }
}

TEST(GemmOrderedSub, BitIdenticalAtEveryLevelAndThreadCount) {
    std::mt19937_64 g(14);
    for (const dims &d : shapes()) {
        const uint64_t lda = d.k + 1, ldb = d.n + 4, ldc = d.n + 1;
        const vec A = random_matrix(g, d.m, d.k, lda), B = random_matrix(g, d.k, d.n, ldb);
        const vec C0 = random_matrix(g, d.m, d.n, ldc);
        vec want = C0;
        ref_gemm_sub(d.m, d.n, d.k, A.data(), lda, B.data(), ldb, want.data(), ldc);
        const uint64_t stride = qx::gemm_scratch_doubles(d.n, d.k);
        vec pool(3 * stride);
        for (int level = 0; level <= qx::simd_best(); ++level)
            for (int threads : {1, 2, 3}) {
                vec got = C0;
                qx::gemm_ordered_at(level, true, threads, d.m, d.n, d.k, A.data(), lda, B.data(),
                                    ldb, got.data(), ldc, pool.data(), stride);
                ASSERT_EQ(first_diff(want, got), -1)
                    << "m=" << d.m << " n=" << d.n << " k=" << d.k << " level=" << level
                    << " threads=" << threads;
            }
        vec got = C0;
        qx::gemm_ordered_sub(d.m, d.n, d.k, A.data(), lda, B.data(), ldb, got.data(), ldc);
        ASSERT_EQ(first_diff(want, got), -1) << "gemm_ordered_sub m=" << d.m;
    }
}

TEST(RowSub, BitIdenticalAtEveryLevel) {
    std::mt19937_64 g(15);
    for (uint64_t w : {1ull, 3ull, 4ull, 8ull, 15ull, 32ull, 33ull, 40ull, 64ull, 100ull}) {
        for (uint64_t cnt : {0ull, 1ull, 7ull, 64ull, 300ull}) {
            const uint64_t ldb = w + 3;
            const vec a = random_matrix(g, 1, cnt, cnt + 1);
            const vec B = random_matrix(g, cnt, w, ldb);
            const vec c0 = random_matrix(g, 1, w, w);
            vec want = c0;
            for (uint64_t j = 0; j < w; ++j)
                for (uint64_t t = 0; t < cnt; ++t) want[j] = want[j] - a[t] * B[t * ldb + j];
            for (int level = 0; level <= qx::simd_best(); ++level) {
                vec got = c0;
                qx::row_sub(level, cnt, a.data(), B.data(), ldb, got.data(), w);
                ASSERT_EQ(first_diff(want, got), -1) << "w=" << w << " cnt=" << cnt
                                                     << " level=" << level;
            }
        }
    }
}

TEST(GemmPlain, WithoutScratchTheResultIsTheSame) {
    std::mt19937_64 g(16);
    const uint64_t m = 150, n = 130, k = 140;
    const vec A = random_matrix(g, m, k, k), B = random_matrix(g, k, n, n);
    vec want(m * n);
    ref_gemm(m, n, k, A.data(), k, B.data(), n, want.data(), n);
    vec got(m * n);
    omp_set_num_threads(2);
    const auto run = [&] {
        std::fill(got.begin(), got.end(), -1.0);
        norva::gemm_plain(m, n, k, A.data(), k, B.data(), n, got.data(), n, nullptr);
    };
    const auto check = [&](uint64_t) { EXPECT_EQ(first_diff(want, got), -1); };
    const uint64_t calls = testsupport::for_each_allocation_failure(run, check);
    EXPECT_EQ(calls, 1u) << "one scratch allocation expected";
}

}  // namespace
