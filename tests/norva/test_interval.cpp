// Interval systems: the midpoint/radius conversion against MPFR, and the
// soundness of norva_solve_interval against the exact solutions of point
// systems drawn from inside the interval data (midpoint and corners).
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "norva.h"
#include "norva/interval.h"
#include "solve_testing.h"
#include "support/test_scale.h"

using namespace solvetest;

namespace {

constexpr double tiny = 0x1p-1074, dmin = 0x1p-1022;

// [mid - rad, mid + rad] contains [lo, hi], decided exactly in MPFR.
bool contains(double mid, double rad, double lo, double hi) {
    mpfr_t t;
    mpfr_init2(t, 2200);
    mpfr_set_d(t, mid, MPFR_RNDN);
    mpfr_sub_d(t, t, rad, MPFR_RNDN);  // exact at 2200 bits
    const bool low = mpfr_cmp_d(t, lo) <= 0;
    mpfr_set_d(t, mid, MPFR_RNDN);
    mpfr_add_d(t, t, rad, MPFR_RNDN);
    const bool high = mpfr_cmp_d(t, hi) >= 0;
    mpfr_clear(t);
    return low && high;
}

TEST(Midrad, Table) {
    struct row {
        double lo, hi, mid, rad;
    } rows[] = {
        {3.25, 3.25, 3.25, 0},                              // a point: no radius
        {-0.0, 0.0, 0, 0},
        {-5.0, 5.0, 0, std::nextafter(5.0, inf)},           // centred at zero
        {tiny, tiny, 0, dmin},                              // halves round to 0
        {1.0, 2.0, 1.5, std::nextafter(0.5, inf)},
    };
    for (const row &r : rows) {
        double mid = -1, rad = -1;
        norva::midrad(&mid, &rad, r.lo, r.hi);
        EXPECT_EQ(mid, r.mid) << r.lo << " " << r.hi;
        EXPECT_EQ(rad, r.rad) << r.lo << " " << r.hi;
    }
}

TEST(Midrad, ContainsEveryInterval) {
    rng g(11);
    const double ends[] = {0, tiny, 3 * tiny, dmin, 1, 0x1p-600, 0x1p600, dmax, 1.0 / 3};
    std::vector<double> v;
    for (double e : ends) {
        v.push_back(e);
        v.push_back(-e);
    }
    for (int it = 0; it < testsupport::scaled(4000); ++it)
        v.push_back(std::ldexp(g.uniform(), (int)g.range(-1074, 1023)));
    for (size_t i = 0; i + 1 < v.size(); ++i) {
        const double lo = std::fmin(v[i], v[i + 1]), hi = std::fmax(v[i], v[i + 1]);
        double mid, rad;
        norva::midrad(&mid, &rad, lo, hi);
        ASSERT_GE(rad, 0);
        ASSERT_TRUE(contains(mid, rad, lo, hi)) << std::hexfloat << lo << " " << hi;
        ASSERT_EQ(rad == 0, lo == hi && mid == lo) << std::hexfloat << lo << " " << hi;
    }
}

struct interval_system {
    uint64_t n, nrhs;
    std::vector<double> alo, ahi, blo, bhi;
};

// A random system widened entrywise by up to rel * |entry| (asymmetrically).
interval_system widen(const dense_system &s, double rel, rng &g) {
    interval_system iv{s.n, s.nrhs, {}, {}, {}, {}};
    auto put = [&](double v, std::vector<double> &lo, std::vector<double> &hi) {
        lo.push_back(v - std::fabs(v) * rel * (g.uniform() + 1) / 2);
        hi.push_back(v + std::fabs(v) * rel * (g.uniform() + 1) / 2);
    };
    for (uint64_t i = 0; i < s.n; ++i)
        for (uint64_t j = 0; j < s.n; ++j) put(s.A(i, j), iv.alo, iv.ahi);
    for (uint64_t i = 0; i < s.n; ++i)
        for (uint64_t k = 0; k < s.nrhs; ++k) put(s.B(i, k), iv.blo, iv.bhi);
    return iv;
}

result run_interval(const interval_system &iv, int32_t mode, norva_gemm_fn gemm = nullptr) {
    result res = blank_result(iv.n, iv.nrhs, iv.nrhs);
    res.status = norva_solve_interval(iv.n, iv.nrhs, iv.alo.data(), iv.ahi.data(), iv.n,
                                      iv.blo.data(), iv.bhi.data(), iv.nrhs, nullptr, 0,
                                      res.lo.data(), res.hi.data(), res.ldx, mode, gemm, nullptr);
    return res;
}

// Point systems inside the data: the midpoints and random corners.
TEST(SolveInterval, EnclosesPointSystemsInside) {
    rng g(7);
    int proven = 0, total = 0;
    for (int it = 0; it < testsupport::scaled(24, 6); ++it) {
        const uint64_t n = (uint64_t)g.range(1, 40), nrhs = (uint64_t)g.range(1, 3);
        dense_system s = make_system(n, nrhs);
        fill_real(s, it % 2 ? real_kind::dominant : real_kind::uniform, g);
        for (auto &v : s.b) v = g.uniform();
        const double rel = std::ldexp(1.0, -(int)g.range(15, 45));
        const interval_system iv = widen(s, rel, g);
        for (int32_t mode : {0, 1}) {
            const result res = run_interval(iv, mode, mode ? reverse_gemm : nullptr);
            ++total;
            proven += res.status == 0;
            for (int corner = 0; corner < 4; ++corner) {
                dense_system p = make_system(n, nrhs);
                for (uint64_t q = 0; q < n * n; ++q)
                    p.a[q] = corner == 0 ? iv.alo[q] / 2 + iv.ahi[q] / 2
                                         : (g.range(0, 1) ? iv.alo[q] : iv.ahi[q]);
                for (uint64_t q = 0; q < n * nrhs; ++q)
                    p.b[q] = corner == 0 ? iv.blo[q] / 2 + iv.bhi[q] / 2
                                         : (g.range(0, 1) ? iv.blo[q] : iv.bhi[q]);
                mp_solution ref(p, 1024);
                ASSERT_FALSE(ref.singular());
                ASSERT_TRUE(sound(res, ref)) << "n " << n << " mode " << mode << " corner " << corner;
            }
        }
    }
    // Well-conditioned data with relative radii of 2^-15 and below prove.
    EXPECT_GE(proven, total / 2);
}

// Data that contain a singular matrix admit no bounded enclosure: never
// proven, whatever the mode; so is data as wide as the doubles.
TEST(SolveInterval, UnboundedSolutionSetsAreNotProven) {
    const double alo[] = {1, 1, 1, 0.5}, ahi[] = {1, 1, 1, 1.5}, b[] = {1, 2};
    const double wlo[] = {-dmax, 0, 0, 1}, whi[] = {dmax, 0, 0, 1};
    for (int32_t mode : {0, 1}) {
        double lo[2] = {sentinel, sentinel}, hi[2] = {sentinel, sentinel};
        EXPECT_EQ(norva_solve_interval(2, 1, alo, ahi, 2, b, b, 1, nullptr, 0, lo, hi, 1, mode,
                                       nullptr, nullptr), 1);
        EXPECT_TRUE(lo[0] == -inf && hi[0] == inf && lo[1] == -inf && hi[1] == inf);
        EXPECT_EQ(norva_solve_interval(2, 1, wlo, whi, 2, b, b, 1, nullptr, 0, lo, hi, 1, mode,
                                       nullptr, nullptr), 1);
        EXPECT_TRUE(lo[0] == -inf && hi[0] == inf);
    }
}

}  // namespace
