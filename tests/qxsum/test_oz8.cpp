// The int8 Ozaki-scheme product against qxgemm, bit for bit: random and hard
// data with the default kernel and with a kernel of the caller, an inner
// dimension cut into chunks, the slice-count limit, the fall-backs and
// allocation failures; the paths of the default kernel on 1 to 3 threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "qxsum/oz_problems.h"
#include "qxsum/qxsum.h"
#include "qxsum/qxsum_internal.h"
#include "support/alloc_sweep.h"
#include "support/hard_inputs.h"
#include "support/test_scale.h"

namespace {

using oztest::expect_as_qxgemm;
using oztest::gen;
using oztest::problem;
using testsupport::same_bits;
using testsupport::scaled;

// A kernel of the caller: sums in decreasing l, in 64 bits, and checks the
// contract qxgemm_oz8 promises (k <= 32768, digits in [-127, 127], the
// packed layout).
struct audit {
    int calls = 0;
    uint64_t kmax = 0;
    bool digits_ok = true, layout_ok = true;
};

void audit_kernel(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                  const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc, void *ctx) {
    audit *a = (audit *)ctx;
    ++a->calls;
    a->kmax = std::max(a->kmax, k);
    if (ldc != n || lda != ldb) a->layout_ok = false;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            int64_t s = 0;
            for (uint64_t l = k; l-- > 0;) {
                if (A[i * lda + l] == -128 || Bt[j * ldb + l] == -128) a->digits_ok = false;
                s += (int64_t)A[i * lda + l] * Bt[j * ldb + l];
            }
            C[i * ldc + j] = (int32_t)s;
        }
}

int oz8(const problem &p, unsigned rnd, double *c, qxsum_i8_fn kernel, void *ctx) {
    return qxgemm_oz8(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, c, p.beta, p.ldc, rnd,
                      kernel, ctx);
}

TEST(Int8OzakiProduct, MatchesQxgemmOnRandomProblems) {
    gen g(81);
    const int iters = scaled(600, 40);
    for (int it = 0; it < iters; ++it) {
        const problem p = oztest::random_case(g, it);
        audit a;
        const bool own = it % 2;
        expect_as_qxgemm(
            p, (unsigned)(it % 4),
            [&](double *c) { return oz8(p, (unsigned)(it % 4), c, own ? audit_kernel : nullptr, &a); },
            own ? "caller kernel" : "default kernel");
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(a.digits_ok && a.layout_ok) << it;
    }
}

TEST(Int8OzakiProduct, MatchesQxgemmOnHardDotProducts) {
    // Rows of A and columns of B from the hard dot-product cases: entries
    // (i, i) are the hard sums (ties, cancellation, overflow, underflow,
    // signed zeros, NaN and infinity), the others mixtures of them.
    testsupport::hard_gen<double> h(82);
    for (int it = 0; it < scaled(300, 40); ++it) {
        const uint64_t m = 2, n = 2, k = (uint64_t)h.irange(1, 40);
        problem p{m, n, k, k, n, n, std::vector<double>(m * k), std::vector<double>(k * n),
                  std::vector<double>(m * n, 0.5), it % 3 == 0 ? 0.0 : (it % 3 == 1 ? 1.0 : -3.0)};
        for (uint64_t i = 0; i < 2; ++i) {
            std::vector<double> x, y;
            h.dot_case(k, it % testsupport::hard_gen<double>::dot_kinds, x, y);
            for (uint64_t l = 0; l < k; ++l) {
                p.A[i * k + l] = x[l];
                p.B[l * n + i] = y[l];
            }
        }
        audit a;
        for (unsigned rnd = 0; rnd < 4; ++rnd)
            expect_as_qxgemm(
                p, rnd, [&](double *c) { return oz8(p, rnd, c, it % 2 ? audit_kernel : nullptr, &a); },
                "hard");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Int8OzakiProduct, InnerDimensionCutIntoChunks) {
    // k = 40000 > 32768: two kernel calls per slice pair, the chunk sums
    // added in 64 bits.
    gen g(83);
    const uint64_t m = 3, n = 3, k = 40000;
    problem p{m, n, k, k, n, n, std::vector<double>(m * k), std::vector<double>(k * n),
              std::vector<double>(m * n, 1.0), 0.0};
    // Short significands keep it to a few slices (and quick under emulation).
    for (auto &x : p.A) x = g.range(-255, 255);
    for (auto &x : p.B) x = std::ldexp(g.range(-255, 255), g.range(-2, 2));
    for (int variant = 0; variant < 3; ++variant) {
        audit a;
        p.beta = variant == 2 ? -1.0 : 0.0;
        const unsigned rnd = (unsigned)variant;
        expect_as_qxgemm(
            p, rnd, [&](double *c) { return oz8(p, rnd, c, variant ? audit_kernel : nullptr, &a); },
            "k = 40000");
        if (variant) {
            EXPECT_EQ(a.kmax, 32768u);
            EXPECT_EQ(a.calls % 2, 0);
            EXPECT_TRUE(a.digits_ok && a.layout_ok);
        }
    }
}

TEST(Int8OzakiProduct, SliceLimitAndFallBacks) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Row spans of 1001 bits: 143 slices of 7 bits.  Against a column of two
    // slices (286 products) the scheme runs where qxgemm_oz falls back;
    // against three (429 > 400) it falls back without calling the kernel.
    const double A[2] = {0x1p500, -0x1p-500};
    const struct {
        double b0, b1;
        bool runs;
    } cases[] = {{1.0 + 0x1p-10, 3.0, true}, {1.0 + 0x1p-16, 3.0, false}};
    for (const auto &c : cases) {
        const double B[2] = {c.b0, c.b1};
        problem p{1, 1, 2, 2, 1, 1, {A, A + 2}, {B, B + 2}, {7.0}, 0.0};
        for (unsigned rnd = 0; rnd < 4; ++rnd) {
            audit a;
            expect_as_qxgemm(p, rnd, [&](double *cc) { return oz8(p, rnd, cc, audit_kernel, &a); },
                             "wide row");
            EXPECT_EQ(a.calls > 0, c.runs);
        }
    }
    // NaN, infinity, all-zero operands, empty shapes: qxgemm's results, no
    // kernel call; an invalid mode: -1 and C untouched.
    const problem special[] = {
        {2, 2, 2, 2, 2, 2, {1, 2, 3, 4}, {1, 5, 2, nan}, {0, 0, 0, 0}, 0.0},
        {2, 2, 2, 2, 2, 2, {1, -INFINITY, 3, 4}, {1, 5, 2, 0}, {1, 1, 1, 1}, 1.0},
        {1, 1, 2, 2, 1, 1, {-0.0, -0.0}, {1, 2}, {1}, 0.0},
        {1, 2, 0, 1, 2, 2, {0}, {0}, {3, 4}, 2.0},
    };
    for (const problem &p : special)
        for (unsigned rnd = 0; rnd < 4; ++rnd) {
            audit a;
            expect_as_qxgemm(p, rnd, [&](double *cc) { return oz8(p, rnd, cc, audit_kernel, &a); },
                             "special");
            EXPECT_EQ(a.calls, 0);
        }
    double c = 42;
    const double one = 1;
    EXPECT_EQ(qxgemm_oz8(1, 1, 1, &one, 1, &one, 1, &c, 0.0, 1, 4, nullptr, nullptr), -1);
    EXPECT_EQ(c, 42.0);
}

// The paths of the default kernel: tiles with panels where the processor
// takes them (qxgemm_oz8 itself), tiles with the serial kernel, whole
// products as for a caller's kernel.
constexpr int paths[] = {qx::oz8_auto, qx::oz8_tiles, qx::oz8_whole};

TEST(Int8OzakiProduct, IdenticalUnderEveryAllocationFailure) {
    gen g(84);
    problem p = oztest::make_problem(g, 2, 9, 7, 70);
    for (int path : paths) {
        const uint64_t calls = oztest::expect_as_qxgemm_without_memory(p, [&](double *c) {
            return qx::oz8_product(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, c, 0.0,
                                   p.ldc, 0, nullptr, nullptr, path);
        });
        EXPECT_GE(calls, 9u) << path;  // scales, markers, slices, levels or tile buffers
    }
}

TEST(Int8OzakiProduct, SameBitsOnEveryPathAndThreadCount) {
    // 100 x 150 output: 2 x 3 tiles with short edges, enough work for a
    // team; every path on 1, 2 and 3 threads against qxgemm.  Full
    // significands with beta = 0 (the direct rounding of the levels), zeros
    // and +-2^20 ranges with beta != 0, small integers (exact cancellations).
    gen g(85);
    const int kinds[] = {0, 2, 3};
    const double betas[] = {0.0, -2.5, 0.0};
    const int saved = omp_get_max_threads();
    for (int c = 0; c < 3; ++c) {
        problem p = oztest::make_problem(g, kinds[c], 100, 150, 30);
        p.beta = betas[c];
        for (int path : paths)
            for (int threads = 1; threads <= 3; ++threads) {
                omp_set_num_threads(threads);
                const unsigned rnd = (unsigned)(path + threads + c) % 4;
                expect_as_qxgemm(
                    p, rnd,
                    [&](double *cc) {
                        return qx::oz8_product(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(),
                                               p.ldb, cc, p.beta, p.ldc, rnd, nullptr, nullptr,
                                               path);
                    },
                    "path and threads");
                omp_set_num_threads(saved);
                if (::testing::Test::HasFatalFailure()) return;
            }
    }
}

}  // namespace
