// The band solver against the MPFR solution of the dense expansion of the
// band system: symmetric positive definite, symmetric indefinite (the
// normal equations), unsymmetric, ill-conditioned and singular matrices,
// bandwidths beyond the matrix, garbage outside the band; and its
// contracts (invalid arguments, every allocation failing, the caller's
// environment, thread counts, repeated calls).
#include <gtest/gtest.h>
#include <omp.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "norva.h"
#include "norva/solve_testing.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using namespace solvetest;
constexpr double qnan = std::numeric_limits<double>::quiet_NaN();

// A band system in the caller's storage, every stored position NaN unless set.
struct band_system {
    uint64_t n, kl, ku, ldab;
    std::vector<double> ab, b;
    double &at(uint64_t i, uint64_t j) { return ab[i * ldab + kl + j - i]; }
    // The dense expansion (entries outside the clamped band are 0).
    dense_system dense() const {
        dense_system s = make_system(n, 1);
        const uint64_t klc = std::min(kl, n - 1), kuc = std::min(ku, n - 1);
        for (uint64_t i = 0; i < n; ++i) {
            for (uint64_t j = 0; j < n; ++j)
                s.A(i, j) = (j + klc >= i && j <= i + kuc) ? ab[i * ldab + kl + j - i] : 0.0;
            s.B(i, 0) = b[i];
        }
        return s;
    }
};

band_system make_band(uint64_t n, uint64_t kl, uint64_t ku, uint64_t pad = 1) {
    band_system s{n, kl, ku, kl + ku + 1 + pad, {}, std::vector<double>(n, 1.0)};
    s.ab.assign(n * s.ldab, qnan);
    return s;
}

enum class kind { spd, indefinite, unsymmetric, ill, singular, near_singular };

band_system generate(uint64_t n, uint64_t kl, uint64_t ku, kind k, rng &g) {
    band_system s = make_band(n, kl, ku);
    const int64_t lo = -(int64_t)std::min(kl, n - 1), hi = (int64_t)std::min(ku, n - 1);
    for (uint64_t i = 0; i < n; ++i) {
        for (int64_t d = lo; d <= hi; ++d) {
            const int64_t j = (int64_t)i + d;
            if (j < 0 || j >= (int64_t)n) continue;
            double v = k == kind::singular ? 0.0 : g.uniform();
            if (d == 0 && k == kind::spd) v = (double)(kl + ku + 2);
            if (d == 0 && k == kind::indefinite) v = (i % 2 ? -1.0 : 1.0) * (double)(kl + ku + 2);
            if (d == 0 && k == kind::unsymmetric) v += (double)(kl + ku + 2);
            s.at(i, (uint64_t)j) = v;
        }
        s.b[i] = g.uniform();
    }
    if (k == kind::spd || k == kind::indefinite || k == kind::ill)
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = i + 1; j <= std::min(n - 1, i + std::min(kl, ku)); ++j) s.at(j, i) = s.at(i, j);
    if (k == kind::ill)  // the (-1, 2, -1) matrix: condition number about 4 n^2 / pi^2
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = (i ? i - 1 : 0); j <= std::min(n - 1, i + 1); ++j) s.at(i, j) = i == j ? 2.0 : -1.0;
    if (k == kind::near_singular) {  // [1 1; 1 1 + 2^-40]: condition number about 2^42
        s.at(0, 0) = s.at(0, 1) = s.at(1, 0) = 1;
        s.at(1, 1) = 1 + 0x1p-40;
    }
    return s;
}

result run_band(const band_system &s, int32_t mode) {
    result r = blank_result(s.n, 1, 1);
    r.status = norva_solve_band(s.n, s.kl, s.ku, s.ab.data(), s.ldab, s.b.data(), r.lo.data(),
                                r.hi.data(), mode);
    return r;
}

TEST(SolveBand, EnclosesTheSolutionOfTheDenseExpansion) {
    struct row {
        uint64_t n, kl, ku;
        kind k;
        bool must_prove;
    } rows[] = {
        {1, 0, 0, kind::spd, true},          {50, 1, 1, kind::spd, true},
        {70, 2, 2, kind::spd, true},         {40, 3, 3, kind::indefinite, true},
        {45, 2, 1, kind::unsymmetric, true}, {60, 0, 3, kind::unsymmetric, true},
        {5, 7, 9, kind::unsymmetric, true},  {3, 5, 2, kind::spd, true},
        {120, 1, 1, kind::ill, true},        {20, 1, 2, kind::singular, false},
        {2, 1, 1, kind::near_singular, true},
    };
    rng g(3);
    for (const row &r : rows) {
        const band_system s = generate(r.n, r.kl, r.ku, r.k, g);
        const dense_system d = s.dense();
        for (int32_t mode : {0, 1}) {
            const result res = run_band(s, mode);
            SCOPED_TRACE(::testing::Message() << "n " << r.n << " kl " << r.kl << " ku " << r.ku
                                              << " kind " << (int)r.k << " mode " << mode);
            if (r.must_prove) {
                mp_solution ref(d, 2048);
                ASSERT_FALSE(ref.singular());
                EXPECT_EQ(res.status, 0);
                EXPECT_TRUE(sound(res, ref));
            } else {
                EXPECT_EQ(res.status, 1);
                EXPECT_TRUE(res.unproven(0));
            }
        }
    }
}

// ---- contracts -----------------------------------------------------------------

TEST(SolveBand, InvalidArgumentsWriteNothing) {
    rng g(5);
    band_system s = generate(6, 1, 2, kind::unsymmetric, g);
    auto rejected = [&](uint64_t n, uint64_t kl, uint64_t ku, uint64_t ldab, const double *ab,
                        const double *b, int32_t mode) {
        double lo[8], hi[8];
        for (int k = 0; k < 8; ++k) lo[k] = hi[k] = sentinel;
        std::fesetround(FE_UPWARD);
        std::feclearexcept(FE_ALL_EXCEPT);
        const int32_t rc = norva_solve_band(n, kl, ku, ab, ldab, b, lo, hi, mode);
        const bool clean = std::fetestexcept(FE_ALL_EXCEPT) == 0 && std::fegetround() == FE_UPWARD;
        std::fesetround(FE_TONEAREST);
        bool untouched = true;
        for (int k = 0; k < 8; ++k) untouched = untouched && lo[k] == sentinel && hi[k] == sentinel;
        return rc == -1 && clean && untouched;
    };
    const double *ab = s.ab.data(), *b = s.b.data();
    EXPECT_TRUE(rejected(0, 1, 2, s.ldab, ab, b, 0));
    EXPECT_TRUE(rejected(6, 1, 2, 3, ab, b, 0));                        // ldab < kl + ku + 1
    EXPECT_TRUE(rejected(6, UINT64_MAX - 1, 1, 4, ab, b, 0));           // kl + ku + 1 wraps to 1
    EXPECT_TRUE(rejected(6, UINT64_MAX / 2, UINT64_MAX / 2 + 1, 1, ab, b, 0));  // wraps to 1
    EXPECT_TRUE(rejected(6, 1, 2, s.ldab, ab, b, 2));
    EXPECT_TRUE(rejected(6, 1, 2, s.ldab, ab, b, -1));
    for (double v : {qnan, std::numeric_limits<double>::infinity()}) {
        band_system t = s;
        t.b[3] = v;
        EXPECT_TRUE(rejected(6, 1, 2, t.ldab, t.ab.data(), t.b.data(), 1));
        t = s;
        t.at(4, 5) = v;
        EXPECT_TRUE(rejected(6, 1, 2, t.ldab, t.ab.data(), t.b.data(), 0));
    }
    // NaN outside the clamped band (left of column 0, right of column n - 1,
    // the padding) is not an input.
    const result ok = run_band(s, 0);
    EXPECT_EQ(ok.status, 0);
}

TEST(SolveBand, EveryAllocationFailing) {
    rng g(7);
    for (kind k : {kind::spd, kind::indefinite, kind::unsymmetric}) {
        const band_system s = generate(8, 2, 2, k, g);
        mp_solution ref(s.dense(), 1024);
        // The outputs are allocated here: the watched call allocates nothing
        // of the test's (static builds count the test's own allocations too).
        result res = blank_result(s.n, 1, 1);
        for (int32_t mode : {0, 1}) {
            const uint64_t sites = testsupport::for_each_allocation_failure(
                [&] {
                    res.status = norva_solve_band(s.n, s.kl, s.ku, s.ab.data(), s.ldab, s.b.data(),
                                                  res.lo.data(), res.hi.data(), mode);
                },
                [&](uint64_t fail) {
                    EXPECT_TRUE(sound(res, ref)) << "kind " << (int)k << " allocation " << fail;
                    if (fail == 0) {
                        EXPECT_EQ(res.status, 0);
                    }
                });
            EXPECT_GT(sites, 0u);
        }
    }
}

TEST(SolveBand, EnvironmentThreadsAndRepeatedCalls) {
    rng g(9);
    const int saved = omp_get_max_threads();
    for (kind k : {kind::spd, kind::unsymmetric}) {
        const band_system s = generate(300, 3, 3, k, g);
        for (int32_t mode : {0, 1}) {
            omp_set_num_threads(1);
            const result one = run_band(s, mode);
            omp_set_num_threads(2);
            const result two = run_band(s, mode), again = run_band(s, mode);
            omp_set_num_threads(3);
            std::fesetround(FE_UPWARD);
            std::feraiseexcept(FE_INEXACT);
            const result three = run_band(s, mode);
            const int flags = std::fetestexcept(FE_ALL_EXCEPT), rm = std::fegetround();
            std::fesetround(FE_TONEAREST);
            std::feclearexcept(FE_ALL_EXCEPT);
            omp_set_num_threads(saved);
            EXPECT_EQ(one.status, 0);
            EXPECT_TRUE(identical(two, one) && identical(again, one) && identical(three, one))
                << "kind " << (int)k << " mode " << mode;
            EXPECT_EQ(flags, FE_INEXACT);
            EXPECT_EQ(rm, FE_UPWARD);
        }
    }
}

}  // namespace
