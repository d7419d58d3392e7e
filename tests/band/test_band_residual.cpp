// The row-parallel band kernels: the exact residual against MPFR (correct
// rounding), the double-double residual against MPFR (about u^2 of the
// magnitudes), and the factorization error bound: sound against the exact
// row sums of |M - s I - L L^T| for M = A and M = A^T A in both modes,
// mode 0 bit for bit against the accumulator on hard data, the same bits for
// every team size, NaN and no leak when any allocation fails.  Every matrix
// is stored with NaN outside its clamped band, which must never be read.
#include <gtest/gtest.h>
#include <mpfr.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "band/band.h"
#include "common/small_sum.h"
#include "qxsum/qxsum.h"
#include "support/alloc_sweep.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

namespace {

using norva::band::band_view;
using testsupport::same_bits;

constexpr double u = 0x1p-53;
const double qnan = std::numeric_limits<double>::quiet_NaN();

// A band matrix stored with the caller's kl and ku (possibly beyond n - 1)
// and NaN in every position outside the clamped band.
struct band_matrix {
    uint64_t n, kl, ku, ldab;
    std::vector<double> ab;

    band_matrix(uint64_t n_, uint64_t kl_, uint64_t ku_, uint64_t pad = 0)
        : n(n_), kl(kl_), ku(ku_), ldab(kl_ + ku_ + 1 + pad), ab(n_ * ldab, qnan) {}
    uint64_t klc() const { return std::min(kl, n - 1); }
    uint64_t kuc() const { return std::min(ku, n - 1); }
    bool in(uint64_t i, uint64_t j) const {
        return j <= i ? i - j <= klc() : j - i <= kuc();
    }
    double &at(uint64_t i, uint64_t j) { return ab[i * ldab + kl + j - i]; }
    double get(uint64_t i, uint64_t j) const { return in(i, j) ? ab[i * ldab + kl + j - i] : 0.0; }
    band_view view() const { return {n, klc(), kuc(), kl, ldab, ab.data()}; }
    template <class Gen>
    void fill(Gen &&g) {
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j)
                if (in(i, j)) at(i, j) = g(i, j);
    }
};

// Lower band storage with half bandwidth w; positions left of column 0 NaN.
struct lower_band {
    uint64_t n, w;
    std::vector<double> v;
    lower_band(uint64_t n_, uint64_t w_) : n(n_), w(w_), v(n_ * (w_ + 1), qnan) {}
    double &at(uint64_t i, uint64_t j) { return v[i * (w + 1) + w + j - i]; }
    double get(uint64_t i, uint64_t j) const { return v[i * (w + 1) + w + j - i]; }
    uint64_t first(uint64_t i) const { return i > w ? i - w : 0; }
};

// M = A (symmetric A) or fl(A^T A) in lower band storage with w = kl' + ku'.
lower_band m_of(const band_matrix &A, int normal) {
    const uint64_t w = A.klc() + A.kuc();
    lower_band M(A.n, w);
    for (uint64_t i = 0; i < A.n; ++i)
        for (uint64_t j = M.first(i); j <= i; ++j) {
            double s = 0;
            if (normal == 0) {
                s = A.get(i, j);
            } else {
                for (uint64_t k = 0; k < A.n; ++k) s += A.get(k, i) * A.get(k, j);
            }
            M.at(i, j) = s;
        }
    return M;
}

// A plain rounded Cholesky factor of M - s I (the test's own); false on a
// failed pivot.
bool plain_chol(const lower_band &M, double s, lower_band &L) {
    for (uint64_t i = 0; i < M.n; ++i)
        for (uint64_t j = M.first(i); j <= i; ++j) {
            double t = M.get(i, j) - (i == j ? s : 0.0);
            for (uint64_t k = M.first(i); k < j; ++k) t -= L.get(i, k) * L.get(j, k);
            if (j < i) L.at(i, j) = t / L.get(j, j);
            else if (!(t > 0)) return false;
            else L.at(i, i) = std::sqrt(t);
        }
    return true;
}

// The exact E_ij = M_ij - s [i = j] - sum_k L_ik L_jk into e.
void exact_e(const band_matrix &A, int normal, const lower_band &L, double s, uint64_t i,
             uint64_t j, testsupport::exact_total &e) {
    e.clear();
    if (normal == 0) {
        e.add(A.get(i, j));
    } else {
        for (uint64_t k = 0; k < A.n; ++k) e.add_product(A.get(k, i), A.get(k, j));
    }
    if (i == j) e.add(-s);
    for (uint64_t k = std::max(L.first(i), L.first(j)); k <= std::min(i, j); ++k)
        e.add_product(-L.get(i, k), L.get(j, k));
}

// The largest exact row sum of |E| (rounded upward) as a double.
double exact_max_row(const band_matrix &A, int normal, const lower_band &L, double s) {
    testsupport::exact_total e;
    mpfr_t row, t;
    mpfr_init2(row, 8800);
    mpfr_init2(t, 8800);
    double top = 0;
    for (uint64_t i = 0; i < A.n; ++i) {
        mpfr_set_zero(row, 1);
        for (uint64_t j = L.first(i); j < A.n && j <= i + L.w; ++j) {
            exact_e(A, normal, L, s, i, j, e);
            mpfr_abs(t, e.value(), MPFR_RNDN);
            mpfr_add(row, row, t, MPFR_RNDU);
        }
        top = std::max(top, mpfr_get_d(row, MPFR_RNDU));
    }
    mpfr_clear(row);
    mpfr_clear(t);
    return top;
}

// The mode 0 result through the long accumulator, entry by entry.
double accumulator_bound(const band_matrix &A, int normal, const lower_band &L, double s) {
    qxsum_acc acc;
    double top = 0;
    std::vector<double> row;
    for (uint64_t i = 0; i < A.n; ++i) {
        row.clear();
        for (uint64_t j = L.first(i); j < A.n && j <= i + L.w; ++j) {
            qxsum_init(&acc);
            const double d[2] = {normal == 0 ? A.get(i, j) : 0.0, -s};
            qxsum_add(&acc, d, i == j ? 2 : 1);
            for (uint64_t k = 0; k < A.n && normal == 1; ++k) {
                const double x = A.get(k, i), y = A.get(k, j);
                qxsum_add_dot(&acc, &x, &y, 1);
            }
            for (uint64_t k = std::max(L.first(i), L.first(j)); k <= std::min(i, j); ++k) {
                const double x = -L.get(i, k), y = L.get(j, k);
                qxsum_add_dot(&acc, &x, &y, 1);
            }
            row.push_back(std::nextafter(std::fabs(qxsum_round(&acc, 0)), INFINITY));
        }
        const double r = qxsum(row.data(), row.size(), 1);
        if (!(std::fabs(r) <= std::numeric_limits<double>::max())) return qnan;
        top = std::max(top, r);
    }
    return top;
}

// A random band matrix, diagonally dominant (symmetric when asked), with an
// all-zero row 1 when `zero_row`.
band_matrix random_band(std::mt19937_64 &rng, uint64_t n, uint64_t kl, uint64_t ku, bool sym,
                        bool zero_row = false) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    band_matrix A(n, kl, ku, rng() % 3);
    A.fill([&](uint64_t i, uint64_t j) {
        if (zero_row && i == 1) return 0.0;
        return i == j ? 4.0 + (double)(kl + ku) + d(rng) : d(rng);
    });
    if (sym)
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = i + 1; j < n; ++j)
                if (A.in(i, j)) A.at(i, j) = A.get(j, i);
    return A;
}

struct shape {
    uint64_t n, kl, ku;
};
// Clamped bandwidths (beyond n - 1) included.
const shape shapes[] = {{1, 0, 0}, {1, 3, 2}, {5, 1, 1}, {7, 2, 9}, {9, 12, 0},
                        {40, 2, 1}, {70, 1, 2}, {130, 3, 3}};

// ------------------------------------------------------------- residuals

TEST(BandResidual, ExactResidualIsCorrectlyRoundedAndDoubleDoubleIsClose) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    testsupport::exact_total e;
    for (int rep = 0; rep < testsupport::scaled(8); ++rep)
        for (const shape &sh : shapes) {
            band_matrix A = random_band(rng, sh.n, sh.kl, sh.ku, false, true);
            std::vector<double> b(sh.n), hi(sh.n), lo(sh.n), nhi(sh.n), nlo(sh.n), r(sh.n),
                rdd(sh.n);
            for (uint64_t j = 0; j < sh.n; ++j) {
                hi[j] = std::ldexp(d(rng), (int)(rng() % 40) - 20);
                lo[j] = rep % 2 ? hi[j] * 0x1p-60 * d(rng) : 0.0;
                nhi[j] = -hi[j];
                nlo[j] = -lo[j];
            }
            // b close to A x: the residual cancels.
            for (uint64_t i = 0; i < sh.n; ++i) {
                double s = 0;
                for (uint64_t j = 0; j < sh.n; ++j) s += A.get(i, j) * hi[j];
                b[i] = rep % 4 == 3 ? 0.0 : s;
            }
            const band_view v = A.view();
            norva::band::residual(&v, b.data(), r.data(), nhi.data(), nlo.data(), sh.n);
            norva::band::residual_dd(&v, b.data(), hi.data(), lo.data(), rdd.data(), sh.n);
            for (uint64_t i = 0; i < sh.n; ++i) {
                e.clear();
                e.add(b[i]);
                double mag = std::fabs(b[i]);
                for (uint64_t j = 0; j < sh.n; ++j) {
                    e.add_product(A.get(i, j), nhi[j]);
                    e.add_product(A.get(i, j), nlo[j]);
                    mag += std::fabs(A.get(i, j) * hi[j]);
                }
                const double want = e.round(0);
                EXPECT_TRUE(same_bits(r[i], want)) << "n " << sh.n << " row " << i;
                if (i == 1 && sh.n > 1) {
                    EXPECT_TRUE(same_bits(r[i], b[i]));
                }
                const double err = std::fabs(rdd[i] - want);
                EXPECT_LE(err, u * std::fabs(want) + 16 * u * u * mag) << "row " << i;
            }
        }
}

// ------------------------------------------------------------- the bound

// A problem of the bound: A, the formulation, the factor and the shift.
struct bound_case {
    band_matrix A;
    int normal;
    lower_band L;
    double s;
};

// L a rounded factor of M - s I (E small) or, with `garbage`, random.
bound_case make_case(std::mt19937_64 &rng, const shape &sh, int normal, bool garbage) {
    // A symmetric A has equal bandwidths.
    band_matrix A = normal == 0 ? random_band(rng, sh.n, sh.kl, sh.kl, true)
                                : random_band(rng, sh.n, sh.kl, sh.ku, false);
    const lower_band M = m_of(A, normal);
    lower_band L(sh.n, M.w);
    const double s = (rng() % 2) ? 0.5 : 0.0;
    std::uniform_real_distribution<double> d(-3.0, 3.0);
    if (garbage || !plain_chol(M, s, L))
        for (uint64_t i = 0; i < sh.n; ++i)
            for (uint64_t k = L.first(i); k <= i; ++k) L.at(i, k) = d(rng);
    return {A, normal, L, s};
}

double run_bound(const bound_case &c, int mode) {
    const band_view v = c.A.view();
    return norva::band::bound_e(&v, c.normal, c.L.w, c.L.v.data(), mode, c.s);
}

TEST(BandBound, SoundForBothFormulationsAndModes) {
    std::mt19937_64 rng(5);
    for (int rep = 0; rep < testsupport::scaled(4); ++rep)
        for (const shape &sh : shapes)
            for (int normal = 0; normal < 2; ++normal)
                for (int garbage = 0; garbage < 2; ++garbage) {
                    const bound_case c = make_case(rng, sh, normal, garbage);
                    const double exact = exact_max_row(c.A, normal, c.L, c.s);
                    const double e0 = run_bound(c, 0), e1 = run_bound(c, 1);
                    SCOPED_TRACE(::testing::Message() << "n " << sh.n << " normal " << normal
                                                      << " garbage " << garbage);
                    EXPECT_GE(e0, exact);
                    EXPECT_GE(e1, exact);
                    // Mode 0 is about one unit per entry above the exact sums.
                    const double slack = (2.0 * (double)c.L.w + 1.0) * (4 * u * exact + 0x1p-1070);
                    EXPECT_LE(e0, exact + slack);
                    EXPECT_TRUE(same_bits(e0, accumulator_bound(c.A, normal, c.L, c.s)));
                    if (!garbage) {
                        EXPECT_LT(e1, 1e-10);
                    }
                }
}

TEST(BandBound, ExactFactorOfPerfectSquares) {
    band_matrix A(2, 0, 0);
    A.at(0, 0) = 4;
    A.at(1, 1) = 9;
    lower_band L(2, 0);
    L.at(0, 0) = 2;
    L.at(1, 1) = 3;
    const band_view v = A.view();
    EXPECT_TRUE(same_bits(norva::band::bound_e(&v, 0, 0, L.v.data(), 0, 0.0), 0x1p-1074));
    const double e1 = norva::band::bound_e(&v, 0, 0, L.v.data(), 1, 0.0);
    EXPECT_GT(e1, 0.0);
    EXPECT_LT(e1, 8 * u * 18);
}

// ---------------------------------------- the small exact sum of mode 0

// The small sum of the doubles d and the products x y: when it succeeds,
// the accumulator's values to nearest and upward, bit for bit (a zero total
// of either sign).  Returns whether it succeeded.
bool small_matches(const std::vector<double> &d, const std::vector<double> &x,
                   const std::vector<double> &y) {
    norva::small_sum s;
    norva::small_init(s);
    for (double v : d) norva::small_add(s, v);
    for (size_t t = 0; t < x.size(); ++t) norva::small_add_product(s, x[t], y[t]);
    double got[2];
    const bool ok = norva::small_round(s, &got[0]);
    EXPECT_EQ(norva::small_round_up(s, &got[1]), ok);
    if (!ok) return false;
    qxsum_acc acc;
    qxsum_init(&acc);
    qxsum_add(&acc, d.data(), d.size());
    qxsum_add_dot(&acc, x.data(), y.data(), x.size());
    for (unsigned rnd = 0; rnd < 2; ++rnd) {
        const double want = qxsum_round(&acc, rnd);
        if (want == 0) {
            EXPECT_EQ(got[rnd], 0.0);
        } else {
            EXPECT_TRUE(same_bits(got[rnd], want)) << testsupport::mode_name(rnd);
        }
    }
    return true;
}

TEST(SmallSum, AccumulatorBitsOnHardTerms) {
    testsupport::hard_gen<double> g(21);
    std::mt19937_64 rng(22);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> x, y;
    for (int rep = 0; rep < testsupport::scaled(20000); ++rep) {
        const size_t nd = rep % 4, np = rep % 9;
        // Benign terms of one scale must never need the accumulator.
        std::vector<double> ds(nd), xs(np), ys(np);
        for (double &v : ds) v = d(rng);
        for (size_t t = 0; t < np; ++t) {
            xs[t] = d(rng);
            ys[t] = d(rng);
        }
        EXPECT_TRUE(small_matches(ds, xs, ys));
        // Hard terms: ties, cancellation, wide ranges, subnormals, overflow.
        g.dot_case(np, rep % testsupport::hard_gen<double>::dot_kinds, x, y);
        small_matches(g.sum_case(nd, (rep / 9) % testsupport::hard_gen<double>::sum_kinds), x, y);
    }
}

TEST(SmallSum, TiesDecidedByTheRest) {
    const double tiny[] = {0.0, 0x1p-200, -0x1p-200, 0x1p-106, -0x1p-900};
    const double ties[][3] = {{1.0, 0x1p-53, 0},        {1.0 + 0x1p-52, 0x1p-53, 0},
                              {1.0, -0x1p-54, 0},       {-1.0, 0x1p-54, 0x1p-90},
                              {0x1p1000, 0x1p947, 0},   {3.0, 0x1p-52, -0x1p-60}};
    for (const auto &t : ties)
        for (double r : tiny) {
            EXPECT_TRUE(small_matches({t[0], t[1], t[2], r}, {}, {}));
            EXPECT_TRUE(small_matches({t[0]}, {t[1], r}, {1.0, 1.0}));
        }
    // Terms the expansion must refuse: not finite, splitting or product
    // out of range.
    EXPECT_FALSE(small_matches({qnan}, {}, {}));
    EXPECT_FALSE(small_matches({}, {0x1p1000}, {0x1p20}));
    EXPECT_FALSE(small_matches({}, {0x1p-500}, {0x1p-500}));
    EXPECT_FALSE(small_matches({0x1.fffffffffffffp1023, 0x1p1023}, {}, {}));
}

// Mode 0 bit for bit against the accumulator on matrices and factors with
// hard entries.
TEST(BandBound, ModeZeroMatchesTheAccumulatorOnHardData) {
    testsupport::hard_gen<double> g(31);
    std::mt19937_64 rng(32);
    for (int rep = 0; rep < testsupport::scaled(60); ++rep) {
        const shape sh = shapes[rep % 8];
        const int normal = rep % 2, kind = (rep / 2) % 5;
        auto hard = [&]() -> double {
            switch (kind) {
                case 0: return g.near(0, 600);             // wide exponent range
                case 1: return g.near(-1000, 60);          // subnormal products
                case 2: return g.near(500, 20);            // overflow
                case 3: return g.flip((double)g.irange(1, 5) * std::ldexp(1.0, g.irange(-60, 0)));
                default: return g.with_exp(g.irange(-3, 3)) * (g.one_in(2) ? 1 : -1);
            }
        };
        bound_case c = make_case(rng, sh, normal, false);
        c.A.fill([&](uint64_t, uint64_t) { return hard(); });
        if (normal == 0)
            for (uint64_t i = 0; i < sh.n; ++i)
                for (uint64_t j = i + 1; j < sh.n; ++j)
                    if (c.A.in(i, j)) c.A.at(i, j) = c.A.get(j, i);
        for (uint64_t i = 0; i < sh.n; ++i)
            for (uint64_t k = c.L.first(i); k <= i; ++k) c.L.at(i, k) = hard();
        c.s = kind == 3 ? c.A.get(0, 0) : hard();
        SCOPED_TRACE(::testing::Message() << "rep " << rep << " kind " << kind);
        EXPECT_TRUE(same_bits(run_bound(c, 0), accumulator_bound(c.A, normal, c.L, c.s)));
    }
}

// ------------------------------------------------------- teams and memory

TEST(BandKernels, SameBitsForOneTwoAndThreeThreads) {
    std::mt19937_64 rng(3);
    const shape sh{150, 2, 3};
    band_matrix A = random_band(rng, sh.n, sh.kl, sh.ku, false);
    const bound_case c = make_case(rng, sh, 1, false);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> b(sh.n), hi(sh.n), lo(sh.n), nhi(sh.n), nlo(sh.n);
    for (uint64_t j = 0; j < sh.n; ++j) {
        b[j] = d(rng);
        hi[j] = d(rng);
        lo[j] = hi[j] * 0x1p-55 * d(rng);
        nhi[j] = -hi[j];
        nlo[j] = -lo[j];
    }
    const band_view v = A.view();
    std::vector<double> r0, d0, r(sh.n), rdd(sh.n);
    double e00 = 0, e10 = 0;
    const int saved = omp_get_max_threads();
    for (int t = 1; t <= 3; ++t) {
        omp_set_num_threads(t);
        norva::band::residual(&v, b.data(), r.data(), nhi.data(), nlo.data(), sh.n);
        norva::band::residual_dd(&v, b.data(), hi.data(), lo.data(), rdd.data(), sh.n);
        const double e0 = run_bound(c, 0), e1 = run_bound(c, 1);
        if (t == 1) {
            r0 = r;
            d0 = rdd;
            e00 = e0;
            e10 = e1;
            continue;
        }
        for (uint64_t i = 0; i < sh.n; ++i) {
            EXPECT_TRUE(same_bits(r[i], r0[i])) << t << " threads, row " << i;
            EXPECT_TRUE(same_bits(rdd[i], d0[i])) << t << " threads, row " << i;
        }
        EXPECT_TRUE(same_bits(e0, e00)) << t << " threads";
        EXPECT_TRUE(same_bits(e1, e10)) << t << " threads";
    }
    omp_set_num_threads(saved);
}

TEST(BandBound, EveryFailedAllocationGivesNaN) {
    std::mt19937_64 rng(9);
    for (const shape sh : {shape{10, 1, 1}, shape{100, 2, 1}})
        for (int mode = 0; mode < 2; ++mode) {
            const bound_case c = make_case(rng, sh, 1, false);
            double got = 0;
            const uint64_t calls = testsupport::for_each_allocation_failure(
                [&] { got = run_bound(c, mode); },
                [&](uint64_t k) {
                    if (k == 0) {
                        EXPECT_TRUE(std::isfinite(got));
                    } else {
                        EXPECT_TRUE(same_bits(got, qnan));
                    }
                });
            EXPECT_GE(calls, 3u);
        }
}

}  // namespace
