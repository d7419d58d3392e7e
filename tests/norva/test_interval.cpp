// Interval systems: the midpoint/radius conversion against MPFR, the
// soundness of norva_solve_interval against the exact solutions of point
// systems drawn from inside the interval data (midpoint and corners), wide
// systems near the edge of the contraction criterion against their vertex
// systems, and the hull of the preconditioned system against the formula
// evaluated in exact rationals.
#include <gmpxx.h>
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "norva.h"
#include "norva/interval.h"
#include "norva/solve.h"
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

// Wide systems whose preconditioned comparison matrix |R| rad(A) has
// spectral radius rho from 0.9 to 0.99 (twelve inflation sweeps cannot reach
// the fixed point there: the candidate comes from (I - W) y = z).  The
// midpoint D P (D powers of two, P a signed permutation) has an exact
// inverse and rad(A) = D P (rho / n) J gives |R| rad(A) = (rho / n) J
// exactly, J all ones; b has radii of 1/64 of its entries.  Every vertex
// system (all of them for n <= 2, 256 random ones above) has its exact
// solution (MPFR, far beyond the condition) inside the enclosure.  The
// classic 2 x 2 system [[2, -2], [-1, 2]] .. [[4, 1], [2, 4]], b in [-2, 2]^2,
// whose preconditioned hull is [-14, 14]^2, must come within [-14.01, 14.01].
TEST(SolveInterval, WideSystemsNearTheCriterion) {
    rng g(11);
    struct row {
        uint64_t n;
        double rho;
    };
    const row rows[] = {{2, 0.95}, {3, 0.9}, {3, 0.99}, {4, 0.97}, {5, 0.99}, {6, 0.99}};
    for (int32_t mode : {0, 1})
        for (const row &r : rows) {
            const uint64_t n = r.n;
            interval_system iv{n, 1, {}, {}, {}, {}};
            std::vector<uint64_t> perm(n);
            for (uint64_t i = 0; i < n; ++i) perm[i] = i;
            for (uint64_t i = n; i > 1; --i) std::swap(perm[i - 1], perm[(uint64_t)g.range(0, (int)i - 1)]);
            const double c = r.rho / (double)n;
            for (uint64_t i = 0; i < n; ++i) {
                const double d = std::ldexp(g.range(0, 1) ? 1.0 : -1.0, (int)g.range(-3, 3));
                for (uint64_t j = 0; j < n; ++j) {
                    const double mid = j == perm[i] ? d : 0.0, rad = std::fabs(d) * c;
                    iv.alo.push_back(mid - rad);
                    iv.ahi.push_back(mid + rad);
                }
                const double b = g.uniform();
                iv.blo.push_back(b - std::fabs(b) / 64);
                iv.bhi.push_back(b + std::fabs(b) / 64);
            }
            SCOPED_TRACE(::testing::Message() << "n " << n << ", rho " << r.rho << ", mode " << mode);
            const result res = run_interval(iv, mode);
            ASSERT_EQ(res.status, 0);
            const uint64_t corners = n <= 2 ? (1u << (n * n + n)) : 256;
            for (uint64_t v = 0; v < corners; ++v) {
                dense_system p = make_system(n, 1);
                for (uint64_t q = 0; q < n * n + n; ++q) {
                    const bool top = n <= 2 ? (v >> q) & 1 : g.range(0, 1);
                    if (q < n * n) p.a[q] = top ? iv.ahi[q] : iv.alo[q];
                    else p.b[q - n * n] = top ? iv.bhi[q - n * n] : iv.blo[q - n * n];
                }
                mp_solution ref(p, 1024);
                if (ref.singular()) continue;
                ASSERT_TRUE(sound(res, ref)) << "vertex " << v;
            }
        }
    const interval_system bn{2, 1, {2, -2, -1, 2}, {4, 1, 2, 4}, {-2, -2}, {2, 2}};
    for (int32_t mode : {0, 1}) {
        const result res = run_interval(bn, mode);
        ASSERT_EQ(res.status, 0) << "mode " << mode;
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(res.lo[i] >= -14.01 && res.hi[i] <= 14.01 && res.lo[i] <= -14 && res.hi[i] >= 14)
                << "mode " << mode << ": [" << res.lo[i] << ", " << res.hi[i] << "]";
    }
}

// The hull of the errors of the preconditioned system, [I - W, I + W] e in
// [c_lo, c_hi], against the Hansen-Bliek-Rohn formula evaluated exactly in
// rationals (M = (I - W)^-1 by Gauss-Jordan): random W >= 0 with row sums
// 0.5 to 0.99, right-hand sides of either sign and straddling zero.  The
// library's ends must contain the exact ones and lie within 2^-30 of the
// largest |c| from them (its bounds of M are of the order n u cond).
TEST(SolveInterval, HullAgainstExactFormula) {
    rng g(13);
    for (int it = 0; it < 24; ++it) {
        const uint64_t n = 1 + (uint64_t)it % 4;
        const double rowsum = 0.5 + 0.49 * std::fabs(g.uniform());
        std::vector<double> W(n * n), clo(n), chi(n), elo(n), ehi(n), scratch(2 * n);
        double scale = 0;
        for (uint64_t i = 0; i < n; ++i) {
            double s = 0;
            for (uint64_t j = 0; j < n; ++j) s += (W[i * n + j] = std::fabs(g.uniform()) + 0x1p-10);
            for (uint64_t j = 0; j < n; ++j) W[i * n + j] = W[i * n + j] / s * rowsum;
            const double m = g.uniform() * 2, r = std::fabs(g.uniform()) * (it % 3 == 0 ? 4 : 0.5);
            clo[i] = m - r;
            chi[i] = m + r;
            scale = std::max({scale, std::fabs(clo[i]), std::fabs(chi[i])});
        }
        norva::hull_state h;
        ASSERT_TRUE(norva::hull_tighten(n, W.data(), &h, clo.data(), chi.data(), elo.data(),
                                        ehi.data(), scratch.data()));
        // [I - W | I] -> [I | M]: an M-matrix needs no pivoting.
        const uint64_t w = 2 * n;
        std::vector<mpq_class> q(n * w);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                q[i * w + j] = mpq_class(i == j) - mpq_class(W[i * n + j]);
                q[i * w + n + j] = i == j;
            }
        for (uint64_t k = 0; k < n; ++k)
            for (uint64_t r = 0; r < n; ++r)
                if (r != k) {
                    const mpq_class f = q[r * w + k] / q[k * w + k];
                    for (uint64_t c = 0; c < w; ++c) q[r * w + c] -= f * q[k * w + c];
                }
        for (uint64_t i = 0; i < n; ++i) {
            auto M = [&](uint64_t r, uint64_t c) { return mpq_class(q[r * w + n + c] / q[r * w + r]); };
            mpq_class xs = 0;
            for (uint64_t j = 0; j < n; ++j) {
                const mpq_class bc = (mpq_class(clo[j]) + chi[j]) / 2, beta = (mpq_class(chi[j]) - clo[j]) / 2;
                xs += M(i, j) * (abs(bc) + beta);
            }
            const mpq_class mu = M(i, i), nu = 1 / (2 * mu - 1), bc = (mpq_class(clo[i]) + chi[i]) / 2;
            mpq_class xh = xs + mu * (bc - abs(bc)), xl = mu * (bc + abs(bc)) - xs;
            xh = std::max<mpq_class>(xh, nu * xh);  // upper = max(xh, nu xh)
            xl = std::min<mpq_class>(xl, nu * xl);  // lower = min(xl, nu xl)
            SCOPED_TRACE(::testing::Message() << "case " << it << ", component " << i);
            EXPECT_TRUE(mpq_class(ehi[i]) >= xh && mpq_class(elo[i]) <= xl);
            EXPECT_LE(ehi[i] - xh.get_d(), std::ldexp(scale, -30));
            EXPECT_LE(xl.get_d() - elo[i], std::ldexp(scale, -30));
        }
    }
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
