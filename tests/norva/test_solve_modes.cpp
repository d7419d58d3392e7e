// The paths of the dense driver: the blocked mode 1 path with callbacks that
// are not the built-in product (and OpenBLAS natively), its dispatch and its
// zero columns; the double-length mode 2 path, whose results do not depend
// on the callback at all and stay tight on ill-conditioned systems; and the
// radius branch of interval systems through the driver itself.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <thread>
#include <vector>

#include "norva.h"
#include "norva/dense.h"
#include "norva/solve.h"
#include "solve_testing.h"
#include "support/test_scale.h"

#ifdef NORVA_TEST_OPENBLAS
#include <cblas.h>
#endif

namespace {

using namespace solvetest;
using testsupport::scaled;

#ifdef NORVA_TEST_OPENBLAS
void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
               uint64_t ldb, double *C, uint64_t ldc, void *) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A, (int)lda,
                B, (int)ldb, 0.0, C, (int)ldc);
}
#endif

// A reverse-order product that records where and with which context it was
// called.
struct call_log {
    std::thread::id caller;
    int calls = 0;
    bool wrong_thread = false, in_region = false, wrong_ctx = false;
};

void logging_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    call_log *log = (call_log *)ctx;
    if (log == nullptr || log->calls < 0) {
        if (log) log->wrong_ctx = true;
    } else {
        ++log->calls;
        if (std::this_thread::get_id() != log->caller) log->wrong_thread = true;
        if (omp_in_parallel()) log->in_region = true;
    }
    reverse_gemm(m, n, k, A, lda, B, ldb, C, ldc, nullptr);
}

struct callback {
    const char *name;
    norva_gemm_fn fn;
};

std::vector<callback> callbacks() {
    std::vector<callback> c = {{"reverse", reverse_gemm}, {"pairwise", pairwise_gemm}};
#ifdef NORVA_TEST_OPENBLAS
    c.push_back({"openblas", blas_gemm});
#endif
    return c;
}

dense_system dominant(uint64_t n, uint64_t nrhs, uint64_t seed) {
    rng g(seed);
    dense_system s = make_system(n, nrhs, 1, 1);
    fill_real(s, real_kind::dominant, g);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t k = 0; k < nrhs; ++k) s.B(i, k) = g.uniform();
    return s;
}

// ---- mode 1 and the callback ---------------------------------------------------------

TEST(SolveCallbacks, OtherProductsAreSoundInEveryMode) {
    rng g(501);
    for (const callback &cb : callbacks())
        for (uint64_t n : {3ull, 17ull, 64ull, 130ull}) {
            if (n > 64 && cb.fn == pairwise_gemm) continue;  // slow
            SCOPED_TRACE(::testing::Message() << cb.name << " n " << n);
            // Exact integer systems and a nearly singular real one against MPFR.
            dense_system s = make_system(n, 9, 0, 0);
            const exact_solution ref = fill_integer(s, n % 2 ? int_kind::scaled : int_kind::random, g);
            dense_system t = make_system(n <= 64 ? n : 20, 2, 1, 1);
            fill_real(t, real_kind::near_singular, g);
            for (uint64_t i = 0; i < t.n; ++i) t.B(i, 0) = g.uniform(), t.B(i, 1) = 1.0;
            mp_solution tref(t);
            for (int32_t mode = 0; mode < 3; ++mode) {
                const result r = run(s, mode, cb.fn);
                ASSERT_TRUE(sound(r, ref)) << "mode " << mode;
                EXPECT_EQ(r.status, 0) << "mode " << mode;
                const result q = run(t, mode, cb.fn);
                ASSERT_TRUE(sound(q, tref)) << "mode " << mode;
                // The exact parts do not depend on the callback: mode 2
                // entirely (exact products and an internal inverse), mode 0
                // when no improvement attempt is made (well-conditioned).
                if (mode == 2) {
                    EXPECT_TRUE(identical(q, run(t, 2)));
                    EXPECT_TRUE(identical(r, run(s, 2)));
                }
                if (mode == 0) {
                    EXPECT_TRUE(identical(r, run(s, 0)));
                }
            }
        }
}

TEST(SolveCallbacks, CalledFromTheCallingThreadWithTheCallersContext) {
    const dense_system s = dominant(300, 3, 502);  // parallel regions all around
    for (int32_t mode = 0; mode < 3; ++mode) {
        call_log log;
        log.caller = std::this_thread::get_id();
        const result r = run(s, mode, logging_gemm, &log);
        EXPECT_EQ(r.status, 0) << "mode " << mode;
        EXPECT_GT(log.calls, 0) << "mode " << mode;
        EXPECT_FALSE(log.wrong_thread) << "mode " << mode;
        EXPECT_FALSE(log.in_region) << "mode " << mode;
        EXPECT_FALSE(log.wrong_ctx) << "mode " << mode;
    }
}

// Mode 1 takes the blocked path only with the floating-point bound.  A
// subnormal entry of A or of R makes bound_c use the exact bound, and then
// the per-column path runs exactly as in mode 0.
TEST(SolveBlocked, SubnormalEntriesFallBackToTheExactPath) {
    // The second right-hand side is zero: its enclosure tells the paths
    // apart (about 2^-1074 times the row sums of |R| plus W y in the
    // per-column path, multiples of realmin in the blocked one).
    dense_system s = dominant(12, 2, 503);
    for (uint64_t i = 0; i < 12; ++i) s.B(i, 1) = 0.0;
    s.A(3, 7) = 1e-310;
    const result s1 = run(s, 1);
    EXPECT_TRUE(identical(s1, run(s, 0)));
    EXPECT_EQ(s1.status, 0);
    // An entry of 2^1023 gives R an entry of 2^-1023.
    dense_system t = dominant(5, 2, 504);
    for (uint64_t i = 0; i < 5; ++i) t.B(i, 1) = 0.0;
    for (uint64_t j = 0; j < 5; ++j) t.A(2, j) = j == 2 ? 0x1p1023 : 0.0;
    const result t1 = run(t, 1);
    EXPECT_TRUE(identical(t1, run(t, 0)));
    EXPECT_EQ(t1.status, 0);
    // Without them, mode 1 takes the blocked path: a different computation
    // from mode 0, though both are proven.
    dense_system u = s;
    u.A(3, 7) = 0.25;
    const result u1 = run(u, 1), u0 = run(u, 0);
    EXPECT_EQ(u1.status, 0);
    EXPECT_EQ(u0.status, 0);
    EXPECT_FALSE(identical(u1, u0));
    for (uint64_t i = 0; i < 12; ++i) EXPECT_GE(u1.H(i, 1), 0x1p-1022);
}

// A zero right-hand side in the blocked path: X = 0, Res = 0, E = realmin,
// S = eta2 + kappa |R| realmin, and the half-width S + E, where E bounds
// W Y with Y about 2^-1000 and W (row sums of order n gamma_n cond) far
// below 2^-22, so that W Y stays under realmin.  The result is 0 enclosed
// by a few realmin times (1 + the row sum of |R|) plus 4 (n + 1) realmin.
TEST(SolveBlocked, ZeroColumnIsEnclosedByMultiplesOfRealmin) {
    const uint64_t n = 20;
    dense_system s = dominant(n, 2, 506);
    for (uint64_t i = 0; i < n; ++i) s.B(i, 1) = 0.0;
    std::vector<double> R(n * n);
    ASSERT_EQ(norva::inverse(n, s.a.data(), s.lda, R.data()), 0);
    const result r = run(s, 1);
    ASSERT_EQ(r.status, 0);
    for (uint64_t i = 0; i < n; ++i) {
        double rowsum = 0;
        for (uint64_t j = 0; j < n; ++j) rowsum += std::fabs(R[i * n + j]);
        const double bound = 4 * 0x1p-1022 * (1 + rowsum + 4 * (double)(n + 1));
        EXPECT_LE(r.L(i, 1), 0.0);
        EXPECT_GE(r.H(i, 1), 0.0);
        EXPECT_LE(r.H(i, 1), bound) << "row " << i;
        EXPECT_GE(r.L(i, 1), -bound) << "row " << i;
        EXPECT_GT(r.H(i, 1), 0.0);
    }
}

// ---- mode 2 -------------------------------------------------------------------------------

// Ill-conditioned Hilbert systems: where mode 2 proves, its enclosures
// are x* rounded outward as for well-conditioned systems in mode 0, since
// x_hi + x_lo after six corrections is within far less than an ulp of x*
// and the enclosure is rounded from the exact sum, not from x_hi.
TEST(SolveDouble, IllConditionedEnclosuresStayTight) {
    for (uint64_t n = 8; n <= 16; ++n) {
        dense_system s = make_system(n, 1);
        fill_hilbert(s);
        for (uint64_t i = 0; i < n; ++i) s.B(i, 0) = 1.0;
        mp_solution ref(s);
        const result r = run(s, 2);
        ASSERT_TRUE(sound(r, ref));
        ASSERT_EQ(r.status, 0) << "order " << n;
        double worst = 0;
        for (uint64_t i = 0; i < n; ++i) worst = std::max(worst, width_ulps(r.L(i, 0), r.H(i, 0)));
        EXPECT_LE(worst, 4.0) << "order " << n;
    }
}

// ---- radius branch -----------------------------------------------------------------------

struct interval_system {
    dense_system mid;
    std::vector<double> ra, rb;  // n x n and n x nrhs, packed
};

// Midpoints k/16 with small integers k (diagonally dominant), radii that are
// powers of two: every a + t rad with t a multiple of 1/2 in [-1, 1] is an
// exact double inside the interval.
interval_system make_interval(uint64_t n, uint64_t nrhs, int ea, int eb, rng &g) {
    interval_system s;
    s.mid = make_system(n, nrhs, 1, 1);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) s.mid.A(i, j) = (double)g.range(-16, 16) / 16;
        s.mid.A(i, i) = (double)(n + 1) * (g.range(0, 1) ? 1 : -1);
        for (uint64_t k = 0; k < nrhs; ++k) s.mid.B(i, k) = (double)g.range(-100, 100);
    }
    s.ra.resize(n * n);
    s.rb.resize(n * nrhs);
    for (auto &v : s.ra) v = g.range(0, 3) ? std::ldexp(1.0, ea - (int)g.range(0, 4)) : 0.0;
    for (auto &v : s.rb) v = std::ldexp(1.0, eb);
    return s;
}

result run_interval(const interval_system &s, int32_t mode, norva_gemm_fn gemm = nullptr,
                    bool no_ra = false) {
    result r;
    r.n = s.mid.n;
    r.nrhs = s.mid.nrhs;
    r.ldx = r.nrhs + 1;
    r.lo.assign(r.n * r.ldx, sentinel);
    r.hi.assign(r.n * r.ldx, sentinel);
    r.status = norva::solve(s.mid.n, s.mid.nrhs, s.mid.a.data(), s.mid.lda, s.mid.b.data(),
                            s.mid.ldb, no_ra ? nullptr : s.ra.data(), s.rb.data(), nullptr, 0,
                            r.lo.data(), r.hi.data(), r.ldx, mode, gemm, nullptr);
    return r;
}

// Every point system of the interval (vertices and inner points) has its
// solution inside the enclosure, in modes 0 and 1.
TEST(SolveRadius, PointSystemsOfTheIntervalAreEnclosed) {
    rng g(601);
    for (uint64_t n : {1ull, 4ull, 9ull, 70ull}) {
        const interval_system s = make_interval(n, 2, -12, -14, g);
        for (int32_t mode = 0; mode < 2; ++mode) {
            const result r = run_interval(s, mode);
            ASSERT_EQ(r.status, 0) << "n " << n << " mode " << mode;
            const int samples = n >= 70 ? scaled(3) : scaled(12);
            for (int q = 0; q < samples; ++q) {
                dense_system p = s.mid;
                for (uint64_t i = 0; i < n; ++i) {
                    for (uint64_t j = 0; j < n; ++j)
                        p.A(i, j) += s.ra[i * n + j] * (double)g.range(-2, 2) / 2;
                    for (uint64_t k = 0; k < 2; ++k) p.B(i, k) += s.rb[i * 2 + k] * (double)g.range(-1, 1);
                }
                mp_solution ref(p, 1024);
                ASSERT_TRUE(sound(r, ref)) << "n " << n << " mode " << mode << " sample " << q;
            }
        }
    }
}

TEST(SolveRadius, ExactRadiusRulesAndFailures) {
    rng g(602);
    const interval_system s = make_interval(8, 3, -10, -12, g);
    // Mode 2 with radii is handled as mode 0: radii are never ignored.
    EXPECT_TRUE(identical(run_interval(s, 2), run_interval(s, 0)));
    // A subnormal entry in the midpoint: the exact bound, hence the exact
    // radius product, in mode 1 as in mode 0.
    interval_system t = s;
    t.mid.A(0, 5) = 1e-312;
    const result r1 = run_interval(t, 1), r0 = run_interval(t, 0);
    EXPECT_EQ(r0.status, 0);
    EXPECT_TRUE(identical(r1, r0));
    // Zero radii: the enclosure contains the midpoint system's solution, and
    // the point solver's enclosure (proven from the same R) is inside it...
    interval_system z = s;
    for (auto &v : z.ra) v = 0.0;
    for (auto &v : z.rb) v = 0.0;
    mp_solution ref(z.mid);
    for (int32_t mode = 0; mode < 2; ++mode) {
        const result ri = run_interval(z, mode);
        ASSERT_TRUE(sound(ri, ref));
        EXPECT_EQ(ri.status, 0);
    }
    // ... while radii as large as the midpoints defeat the contraction, and
    // radii near DBL_MAX make W infinite: both fail every column.
    interval_system wide = s, huge = s;
    for (uint64_t i = 0; i < 8; ++i)
        for (uint64_t j = 0; j < 8; ++j) wide.ra[i * 8 + j] = std::fabs(s.mid.A(i, j)) + 1;
    for (auto &v : huge.ra) v = 0.5 * dmax;
    for (const interval_system *bad : {&wide, &huge})
        for (int32_t mode = 0; mode < 2; ++mode) {
            const result rb = run_interval(*bad, mode);
            EXPECT_EQ(rb.status, 1);
            for (uint64_t k = 0; k < 3; ++k) EXPECT_TRUE(rb.unproven(k));
        }
    // A radius of b without one of A is not a system the driver accepts.
    const result half = run_interval(s, 0, nullptr, true);
    EXPECT_EQ(half.status, 1);
    for (uint64_t k = 0; k < 3; ++k) EXPECT_TRUE(half.unproven(k));
}

}  // namespace
