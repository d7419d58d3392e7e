// The Ozaki-scheme product against qxgemm (bit for bit) and against MPFR,
// with callbacks that sum in other orders, the fall-backs, and allocation
// failures.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "qxsum/qxsum.h"
#include "qxsum/qxsum_internal.h"
#include "qxsum/oz_problems.h"
#include "support/alloc_sweep.h"
#include "support/callbacks.h"
#include "support/oracle.h"
#include "support/test_scale.h"

#ifdef NORVA_TEST_OPENBLAS
#include <cblas.h>
#endif

namespace {

using testsupport::same_bits;
using testsupport::scaled;

constexpr double inf = std::numeric_limits<double>::infinity();

using testsupport::reverse_gemm;
using oztest::expect_as_qxgemm;
using oztest::gen;
using oztest::make_problem;
using oztest::problem;
using oztest::random_case;

// Pairwise sums in blocks of 7, each block summed separately, then combined
// from the last block down.
void blocked_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            double total = 0;
            for (uint64_t b0 = (k / 7) * 7 + 7; b0 >= 7;) {
                b0 -= 7;
                double s = 0;
                for (uint64_t l = b0; l < b0 + 7 && l < k; ++l) s += A[i * lda + l] * B[l * ldb + j];
                total += s;
            }
            C[i * ldc + j] = total;
        }
}

#ifdef NORVA_TEST_OPENBLAS
void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
               const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}
#endif

// Counts the calls and checks that every slice entry is an integer below 2^26.
struct recorder {
    int calls = 0;
    bool integers = true;
    std::vector<std::vector<double>> a_slices, b_slices;
};

void recording_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                    const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    recorder *r = (recorder *)ctx;
    ++r->calls;
    EXPECT_EQ(lda, k);
    EXPECT_EQ(ldb, n);
    EXPECT_EQ(ldc, n);
    r->a_slices.emplace_back(A, A + m * k);
    r->b_slices.emplace_back(B, B + k * n);
    for (uint64_t q = 0; q < m * k; ++q)
        if (A[q] != std::trunc(A[q]) || std::fabs(A[q]) >= 0x1p26) r->integers = false;
    for (uint64_t q = 0; q < k * n; ++q)
        if (B[q] != std::trunc(B[q]) || std::fabs(B[q]) >= 0x1p26) r->integers = false;
    reverse_gemm(m, n, k, A, lda, B, ldb, C, ldc, nullptr);
}

// Runs qxgemm and qxgemm_oz on the same problem and compares every entry
// (the padding between rows included: neither may write there).
void expect_same(const problem &p, unsigned rnd, norva_gemm_fn gemm, const char *what) {
    expect_as_qxgemm(
        p, rnd,
        [&](double *c) {
            return qxgemm_oz(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, c, p.beta, p.ldc,
                             rnd, gemm, nullptr);
        },
        what);
}

TEST(OzakiProduct, MatchesQxgemmOnRandomProblems) {
    gen g(11);
    const norva_gemm_fn callbacks[] = {nullptr, reverse_gemm, blocked_gemm};
    const int iters = scaled(600, 40);
    for (int it = 0; it < iters; ++it) {
        const problem p = random_case(g, it);
        expect_same(p, (unsigned)(it % 4), callbacks[it % 3], "random");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Products large enough for a team (300 x 250 outputs: the slicing, the level
// sums and the finish shared out over rows) on 1 to 3 threads, against
// qxgemm: full significands with beta = 0 (the direct rounding of the
// levels), +-2^20 ranges with beta != 0, small integers (cancellations).
TEST(OzakiProduct, SameBitsOnEveryThreadCount) {
    gen g(86);
    const int kinds[] = {0, 2, 3};
    const double betas[] = {0.0, -2.5, 0.0};
    const int saved = omp_get_max_threads();
    for (int c = 0; c < 3; ++c) {
        problem p = make_problem(g, kinds[c], 300, 250, 20);
        p.beta = betas[c];
        for (int threads = 1; threads <= 3; ++threads) {
            omp_set_num_threads(threads);
            expect_same(p, (unsigned)(threads + c) % 4, c == 1 ? reverse_gemm : nullptr,
                        "threads");
            omp_set_num_threads(saved);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(OzakiProduct, SpecialValuesAnywhereFallBackIdentically) {
    gen g(12);
    const double specials[] = {inf, -inf, std::numeric_limits<double>::quiet_NaN()};
    for (int it = 0; it < scaled(120, 20); ++it) {
        problem p = make_problem(g, it % 4, (uint64_t)g.range(1, 6), (uint64_t)g.range(1, 6),
                                 (uint64_t)g.range(1, 80));
        p.beta = (it % 2) ? 1.0 : 0.0;
        const double s = specials[it % 3];
        if (it % 2)
            p.A[(uint64_t)g.range(0, (int)p.m - 1) * p.lda + (uint64_t)g.range(0, (int)p.k - 1)] = s;
        else
            p.B[(uint64_t)g.range(0, (int)p.k - 1) * p.ldb + (uint64_t)g.range(0, (int)p.n - 1)] = s;
        if (it % 5 == 0) p.A[0] = 0.0;  // infinity times zero somewhere, perhaps
        expect_same(p, (unsigned)(it % 4), reverse_gemm, "special");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(OzakiProduct, AgreesWithMpfrOnSmallProducts) {
    gen g(13);
    for (int it = 0; it < scaled(200, 20); ++it) {
        problem p = make_problem(g, it % 6, (uint64_t)g.range(1, 4), (uint64_t)g.range(1, 4),
                                 (uint64_t)g.range(1, 70));
        p.beta = (it % 3 == 0) ? 0.75 : 0.0;
        const unsigned rnd = (unsigned)(it % 4);
        std::vector<double> c = p.C;
        ASSERT_EQ(qxgemm_oz(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, c.data(), p.beta,
                            p.ldc, rnd, nullptr, nullptr),
                  0);
        for (uint64_t i = 0; i < p.m; ++i)
            for (uint64_t j = 0; j < p.n; ++j) {
                testsupport::exact_total t;
                for (uint64_t l = 0; l < p.k; ++l) t.add_product(p.A[i * p.lda + l], p.B[l * p.ldb + j]);
                if (p.beta != 0.0) t.add_product(p.beta, p.C[i * p.ldc + j]);
                ASSERT_TRUE(same_bits(c[i * p.ldc + j], t.round(rnd)))
                    << "entry (" << i << ", " << j << "), rnd " << rnd;
            }
    }
}

TEST(OzakiProduct, SlicesOfAWideRow) {
    // k = 2 gives v = floor((53 - 1) / 2) = 26; the row [1.5, 2^40] has its
    // lowest bit at 2^-1 and a span of 42 bits: two slices of 26-bit digits
    // of [3, 2^41], namely [3, 0] and [0, 2^15].
    const double A[2] = {1.5, 0x1p40};
    const double B[2] = {1.0, 1.0};  // 2 x 1: one slice
    double C = 0;
    recorder r;
    ASSERT_EQ(qxgemm_oz(1, 1, 2, A, 2, B, 1, &C, 0.0, 1, 0, recording_gemm, &r), 0);
    ASSERT_EQ(r.a_slices.size(), 2u);
    EXPECT_EQ(r.a_slices[0], (std::vector<double>{3.0, 0.0}));
    EXPECT_EQ(r.a_slices[1], (std::vector<double>{0.0, 0x1p15}));
    EXPECT_TRUE(same_bits(C, 1.5 + 0x1p40));

    // The literal k = 1 case: one entry per row, [1.5] and [2^40] in two rows.
    const double A1[2] = {1.5, 0x1p40};
    double C1[2] = {0, 0};
    const double B1 = 1.0;
    recorder r1;
    ASSERT_EQ(qxgemm_oz(2, 1, 1, A1, 1, &B1, 1, C1, 0.0, 1, 0, recording_gemm, &r1), 0);
    EXPECT_EQ(r1.calls, 1);  // each row alone has a span of at most 2 bits
    EXPECT_TRUE(same_bits(C1[0], 1.5));
    EXPECT_TRUE(same_bits(C1[1], 0x1p40));
}

TEST(OzakiProduct, OneByOneFullSignificands) {
    gen g(14);
    for (int it = 0; it < 200; ++it) {
        const double a = 1.0 + g.uniform() * 0.5, b = std::ldexp(1.0 + g.uniform() * 0.5, g.range(-50, 50));
        for (unsigned rnd = 0; rnd < 4; ++rnd) {
            double c = 0;
            recorder r;
            ASSERT_EQ(qxgemm_oz(1, 1, 1, &a, 1, &b, 1, &c, 0.0, 1, rnd, recording_gemm, &r), 0);
            EXPECT_TRUE(same_bits(c, qxdot(&a, &b, 1, rnd)));
            EXPECT_TRUE(r.integers);
            // 53-bit significands in 26-bit digits: three slices each (fewer
            // when the significand has trailing zeros).
            EXPECT_LE(r.calls, 9);
        }
    }
}

TEST(OzakiProduct, FallBacks) {
    // A row spanning 1001 bits needs 39 slices of 26 bits; with B needing two,
    // 78 > 64 products: the call falls back without calling the product.
    {
        const double A[2] = {0x1p500, 0x1p-500};
        const double B[2] = {1.0 + 0x1p-40, 3.0};
        double C = 7.0, want = 7.0;
        recorder r;
        ASSERT_EQ(qxgemm_oz(1, 1, 2, A, 2, B, 1, &C, 0.0, 1, 0, recording_gemm, &r), 0);
        ASSERT_EQ(qxgemm(1, 1, 2, A, 2, B, 1, &want, 0.0, 1, 0), 0);
        EXPECT_EQ(r.calls, 0);
        EXPECT_TRUE(same_bits(C, want));
    }
    // A NaN in the last column of B: fall-back, NaN only where it reaches.
    {
        const double A[4] = {1, 2, 3, 4};  // 2 x 2
        const double B[4] = {1, 5, 2, std::numeric_limits<double>::quiet_NaN()};
        double C[4], want[4];
        recorder r;
        ASSERT_EQ(qxgemm_oz(2, 2, 2, A, 2, B, 2, C, 0.0, 2, 0, recording_gemm, &r), 0);
        ASSERT_EQ(qxgemm(2, 2, 2, A, 2, B, 2, want, 0.0, 2, 0), 0);
        EXPECT_EQ(r.calls, 0);
        for (int q = 0; q < 4; ++q) EXPECT_TRUE(same_bits(C[q], want[q]));
        EXPECT_TRUE(same_bits(C[0], 5.0));
        EXPECT_TRUE(std::isnan(C[1]) && std::isnan(C[3]));
    }
    // All-zero A: fall-back; the zero's sign comes from the products.
    {
        const double A[2] = {-0.0, -0.0};
        const double B[2] = {1.0, 2.0};
        for (unsigned rnd = 0; rnd < 4; ++rnd) {
            double C = 1.0;
            ASSERT_EQ(qxgemm_oz(1, 1, 2, A, 2, B, 1, &C, 0.0, 1, rnd, nullptr, nullptr), 0);
            EXPECT_TRUE(same_bits(C, -0.0));
        }
    }
    // Invalid mode: -1, C untouched.
    {
        const double A = 1, B = 1;
        double C = 42;
        EXPECT_EQ(qxgemm_oz(1, 1, 1, &A, 1, &B, 1, &C, 0.0, 1, 4, nullptr, nullptr), -1);
        EXPECT_EQ(C, 42.0);
    }
}

// A callback that breaks its contract in one entry of every product: the
// call fails and leaves C alone (NaN would pass for 0 on AArch64).
void faulty_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                 const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    reverse_gemm(m, n, k, A, lda, B, ldb, C, ldc, nullptr);
    C[ldc + 1] = *(const double *)ctx;
}

TEST(OzakiProduct, ProductsBreakingTheContractAreNotTaken) {
    gen g(5);
    const double faults[] = {std::numeric_limits<double>::quiet_NaN(), -INFINITY, 0.5, 0x1p60,
                             -0x1p54};
    for (const double f : faults) {
        problem p = make_problem(g, 0, 4, 3, 40);
        const std::vector<double> before = p.C;
        EXPECT_EQ(qxgemm_oz(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, p.C.data(), p.beta,
                            p.ldc, 0, faulty_gemm, (void *)&f),
                  -1)
            << f;
        EXPECT_EQ(0, std::memcmp(before.data(), p.C.data(), before.size() * sizeof(double))) << f;
    }
}

TEST(OzakiProduct, SignedZerosAndSingleRounding) {
    // A row of -0 against a positive column inside a product that otherwise
    // goes through the scheme: that entry is -0, as qxgemm gives.
    const double A[4] = {-0.0, -0.0, 1.5, 2.0};  // 2 x 2
    const double B[4] = {1.0, 3.0, 2.0, 1.0};
    double C[4];
    ASSERT_EQ(qxgemm_oz(2, 2, 2, A, 2, B, 2, C, 0.0, 2, 0, nullptr, nullptr), 0);
    EXPECT_TRUE(same_bits(C[0], -0.0));
    EXPECT_TRUE(same_bits(C[1], -0.0));
    EXPECT_TRUE(same_bits(C[2], 5.5));
    // An exact cancellation: +0, and -0 when rounding downward.
    const double a2[2] = {0x1.23456789abcdep3, -0x1.23456789abcdep3};
    const double b2[2] = {0x1.fedcba9876543p-7, 0x1.fedcba9876543p-7};
    for (unsigned rnd = 0; rnd < 4; ++rnd) {
        double c = 9.0;
        ASSERT_EQ(qxgemm_oz(1, 1, 2, a2, 2, b2, 1, &c, 0.0, 1, rnd, reverse_gemm, nullptr), 0);
        EXPECT_TRUE(same_bits(c, rnd == 2 ? -0.0 : 0.0)) << "rnd " << rnd;
    }
    // beta = 2: one rounding of A B + 2 C.
    const double a3 = 1.0, b3 = 0x1p-60;
    for (unsigned rnd = 0; rnd < 4; ++rnd) {
        double c = 0.5;
        ASSERT_EQ(qxgemm_oz(1, 1, 1, &a3, 1, &b3, 1, &c, 2.0, 1, rnd, nullptr, nullptr), 0);
        EXPECT_TRUE(same_bits(c, rnd == 1 ? 1.0 + 0x1p-52 : 1.0)) << "rnd " << rnd;
    }
}

TEST(OzakiProduct, RoundingBoundariesOfTheFinalPass) {
    // Ties, sticky bits far below, subnormal and overflowing results, each as
    // a 1 x 2 times 2 x 1 product that goes through the scheme.
    const double dmax = std::numeric_limits<double>::max();
    const double cases[][4] = {
        {1.0, 0x1p-53, 1.0, 1.0},               // 1 + 2^-53: tie, even
        {1.0 + 0x1p-52, 0x1p-53, 1.0, 1.0},     // tie, odd: rounds away
        {1.0, 0x1p-53, 1.0, 1.0 + 0x1p-40},     // just above the tie
        {-1.0, -0x1p-53, 1.0, 1.0 + 0x1p-40},   // negative, just beyond the tie
        {0x1p-1074, 0x1p-1074, 0.75, 0.75},      // 1.5 2^-1074: subnormal tie
        {0x1p-1074, -0x1p-1074, 0.25, 0.5},      // -2^-1076: below the smallest subnormal
        {dmax, 0x1p970, 1.0, 1.0},               // half an ulp above the largest double
        {-dmax, -0x1p969, 1.0, 1.0},             // a quarter ulp: stays finite to nearest
        {0x1p1000, 0x1p1000, 0x1p23, 0x1p23},    // 2^1024: overflow in every direction but one
    };
    for (const auto &c : cases) {
        const double A[2] = {c[0], c[1]}, B[2] = {c[2], c[3]};
        for (unsigned rnd = 0; rnd < 4; ++rnd) {
            double got = 0, want = 0;
            recorder r;
            ASSERT_EQ(qxgemm_oz(1, 1, 2, A, 2, B, 1, &got, 0.0, 1, rnd, recording_gemm, &r), 0);
            ASSERT_EQ(qxgemm(1, 1, 2, A, 2, B, 1, &want, 0.0, 1, rnd), 0);
            testsupport::exact_total t;
            t.add_product(A[0], B[0]);
            t.add_product(A[1], B[1]);
            EXPECT_TRUE(same_bits(got, t.round(rnd))) << c[0] << " " << c[1] << " rnd " << rnd;
            EXPECT_TRUE(same_bits(got, want));
        }
    }
}

TEST(OzakiProduct, IdenticalUnderEveryAllocationFailure) {
    gen g(15);
    problem p = make_problem(g, 1, 5, 4, 70);
    const uint64_t calls = oztest::expect_as_qxgemm_without_memory(p, [&](double *c) {
        return qxgemm_oz(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, c, 0.0, p.ldc, 0,
                         nullptr, nullptr);
    });
    EXPECT_GE(calls, 10u);  // scales, slices, scratch, levels, markers, final pass
}

#ifdef NORVA_TEST_OPENBLAS
TEST(OzakiProduct, OpenBlasCallback) {
    gen g(16);
    for (int it = 0; it < scaled(30, 5); ++it) {
        problem p = make_problem(g, it % 4, (uint64_t)g.range(20, 90), (uint64_t)g.range(20, 90),
                                 (uint64_t)g.range(20, 200));
        p.beta = (it % 2) ? 0.0 : 1.0;
        expect_same(p, (unsigned)(it % 4), blas_gemm, "openblas");
        if (::testing::Test::HasFatalFailure()) return;
    }
}
#endif

TEST(OzakiProduct, AddAtCarriesAcrossWords) {
    std::mt19937_64 g(17);
    for (int it = 0; it < 2000; ++it) {
        uint64_t w[4] = {g(), g(), g(), 0};
        if (it % 3 == 0) w[0] = w[1] = ~0ULL;  // long carry chains
        const uint64_t v = g() >> (it % 64);
        const int pos = (int)(g() % 120);
        // Reference: 256-bit arithmetic in two 128-bit halves.
        unsigned __int128 lo = ((unsigned __int128)w[1] << 64) | w[0];
        unsigned __int128 hi = ((unsigned __int128)w[3] << 64) | w[2];
        unsigned __int128 addlo = 0, addhi = 0;
        if (pos < 128) {
            addlo = (unsigned __int128)v << pos;
            addhi = pos == 0 ? 0 : (pos > 64 ? (unsigned __int128)v >> (128 - pos) : 0);
        } else {
            addhi = (unsigned __int128)v << (pos - 128);
        }
        const unsigned __int128 nlo = lo + addlo;
        hi += addhi + (nlo < lo);
        qx::add_at(w, 4, v, pos);
        EXPECT_EQ(w[0], (uint64_t)nlo);
        EXPECT_EQ(w[1], (uint64_t)(nlo >> 64));
        EXPECT_EQ(w[2], (uint64_t)hi);
        EXPECT_EQ(w[3], (uint64_t)(hi >> 64));
    }
}

}  // namespace
