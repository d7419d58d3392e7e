// Eigenvalue enclosures: norva_eig_sym against exactly known spectra
// (diagonal, Hadamard similarity transforms with repeated, clustered and
// widely scaled eigenvalues, the all-ones matrix) and against an MPFR count
// of eigenvalues by inertia on random matrices; with and without the
// caller's eigenpairs, both modes, a product callback; tightness; the
// failure paths.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "eig_testing.h"
#include "norva.h"
#include "norva/eig.h"
#include "support/callbacks.h"
#include "support/test_scale.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct eig_result {
    int32_t status;
    std::vector<double> lo, hi;
};

// The caller's eigenpairs: none, or those of the Jacobi method with the
// columns (and d) in a random order.
enum class pairs { none, shuffled };

eig_result run(const std::vector<double> &a, uint64_t n, int32_t mode, pairs given,
               norva_gemm_fn gemm = nullptr, uint64_t seed = 1) {
    eig_result r{-2, std::vector<double>(n, 7.5), std::vector<double>(n, 7.5)};
    std::vector<double> V, d;
    if (given == pairs::shuffled) {
        std::vector<double> V0(n * n), d0(n);
        if (norva::jacobi(n, a.data(), n, V0.data(), d0.data()) != 0) return r;
        std::vector<uint64_t> perm(n);
        std::iota(perm.begin(), perm.end(), 0);
        std::shuffle(perm.begin(), perm.end(), std::mt19937_64(seed));
        V.resize(n * n);
        d.resize(n);
        for (uint64_t j = 0; j < n; ++j) {
            d[j] = d0[perm[j]];
            for (uint64_t i = 0; i < n; ++i) V[i * n + j] = V0[i * n + perm[j]];
        }
    }
    r.status = norva_eig_sym(n, a.data(), n, V.empty() ? nullptr : V.data(), n,
                             d.empty() ? nullptr : d.data(), r.lo.data(), r.hi.data(), mode, gemm,
                             nullptr);
    return r;
}

// Proven, ascending, and enclosing the sorted exact spectrum.
::testing::AssertionResult encloses(const eig_result &r, std::vector<double> spectrum) {
    if (r.status != 0) return ::testing::AssertionFailure() << "status " << r.status;
    std::sort(spectrum.begin(), spectrum.end());
    for (size_t i = 0; i < spectrum.size(); ++i)
        if (!(r.lo[i] <= spectrum[i] && spectrum[i] <= r.hi[i]) ||
            (i > 0 && (r.lo[i] < r.lo[i - 1] || r.hi[i] < r.hi[i - 1])))
            return ::testing::AssertionFailure() << "eigenvalue " << i << " = " << spectrum[i]
                                                 << " not in [" << r.lo[i] << ", " << r.hi[i]
                                                 << "] or bounds not ascending";
    return ::testing::AssertionSuccess();
}

std::vector<double> diag_matrix(const std::vector<double> &d) {
    std::vector<double> a(d.size() * d.size(), 0.0);
    for (size_t i = 0; i < d.size(); ++i) a[i * d.size() + i] = d[i];
    return a;
}

TEST(EigSym, KnownSpectra) {
    struct row {
        const char *what;
        std::vector<double> a, spectrum;
    };
    std::vector<row> rows;
    rows.push_back({"n = 1", {5.0}, {5.0}});
    rows.push_back({"zero 1 x 1", {0.0}, {0.0}});
    rows.push_back({"diagonal, wide scale", diag_matrix({0x1p300, -3, 0x1p-300, 7, -0x1p200}), {}});
    rows.back().spectrum = {0x1p300, -3, 0x1p-300, 7, -0x1p200};
    rows.push_back({"all ones 3 x 3", std::vector<double>(9, 1.0), {0, 0, 3}});
    rows.push_back({"all ones 8 x 8", std::vector<double>(64, 1.0), {0, 0, 0, 0, 0, 0, 0, 8}});
    const std::vector<double> cluster = {1, 1, 1 + 0x1p-40, 1 + 0x1p-39, 5, -2, -2, 0};
    rows.push_back({"Hadamard, double and clustered", eigtest::hadamard_similar(cluster), cluster});
    std::vector<double> wide(16);
    for (int k = 0; k < 16; ++k) wide[k] = std::ldexp((k % 3) - 1.0, 2 * k - 16);  // 2^-16 .. 2^14, zeros
    rows.push_back({"Hadamard, scaled spectrum", eigtest::hadamard_similar(wide), wide});
    for (const row &r : rows) {
        const uint64_t n = r.spectrum.size();
        for (int32_t mode : {0, 1})
            for (pairs given : {pairs::none, pairs::shuffled}) {
                SCOPED_TRACE(::testing::Message() << r.what << ", mode " << mode << ", "
                                                  << (given == pairs::none ? "own" : "caller's")
                                                  << " eigenpairs");
                EXPECT_TRUE(encloses(run(r.a, n, mode, given), r.spectrum));
                EXPECT_TRUE(encloses(run(r.a, n, mode, given, testsupport::reverse_gemm), r.spectrum));
            }
    }
}

std::vector<double> random_symmetric(uint64_t n, int spread, std::mt19937_64 &g) {
    std::uniform_real_distribution<double> U(-1, 1);
    std::uniform_int_distribution<int> E(-spread, spread);
    std::vector<int> e(n);
    for (auto &x : e) x = E(g);
    std::vector<double> a(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j <= i; ++j)
            a[i * n + j] = a[j * n + i] = std::ldexp(U(g), e[i] + e[j]);
    return a;
}

// Random matrices, uniform and scaled by 2^(e_i + e_j): every enclosure
// holds its eigenvalue, counted by inertia in MPFR.
TEST(EigSym, RandomMatricesAgainstInertia) {
    std::mt19937_64 g(3);
    for (int it = 0; it < testsupport::scaled(6, 2); ++it) {
        const uint64_t n = 3 + 4 * (uint64_t)it;
        const std::vector<double> a = random_symmetric(n, it % 2 ? 20 : 0, g);
        for (int32_t mode : {0, 1})
            for (pairs given : {pairs::none, pairs::shuffled}) {
                const eig_result r = run(a, n, mode, given, nullptr, (uint64_t)it);
                ASSERT_EQ(r.status, 0) << "n " << n << " mode " << mode;
                EXPECT_TRUE(eigtest::encloses_by_inertia(a, n, r.lo.data(), r.hi.data()))
                    << "n " << n << " mode " << mode;
            }
    }
}

// The caller's order of the eigenpairs does not change a bit: d is sorted,
// and every bound is a sum over a permuted set of the same entries.
TEST(EigSym, CallerOrderIsIrrelevant) {
    std::mt19937_64 g(5);
    const std::vector<double> a = random_symmetric(40, 0, g);
    for (int32_t mode : {0, 1}) {
        const eig_result x = run(a, 40, mode, pairs::shuffled, nullptr, 1);
        const eig_result y = run(a, 40, mode, pairs::shuffled, nullptr, 2);
        ASSERT_EQ(x.status, 0);
        EXPECT_EQ(0, std::memcmp(x.lo.data(), y.lo.data(), 40 * sizeof(double)));
        EXPECT_EQ(0, std::memcmp(x.hi.data(), y.hi.data(), 40 * sizeof(double)));
    }
}

// (hi - lo) in units in the last place of the smaller end's magnitude.
double ulps(double lo, double hi) {
    const double m = std::max(std::min(std::fabs(lo), std::fabs(hi)), 0x1p-1022);
    return (hi - lo) / (std::nextafter(m, inf) - m);
}

// Widths on a random matrix, whose eigenvalues are all separated far beyond
// the first stage's widths: every one gets the second stage.  Its enclosure
// is the Rayleigh quotient of the pair, enclosed to an outward rounding
// each way, plus eps^2 / gap with eps of order u ||A|| and a gap of order
// ||A|| / n, far below an ulp: so in mode 0 (exact residuals) at most a
// few ulps (measured: 1, the two doubles around lambda).  In mode 1 the a
// priori bound of fl(A V - V D) enters the quotient's enclosure, about
// gamma_2n sum_k |x_k| (|A| |x| + |x| |d|)_k, hundreds of ulps (measured
// median 620 at n = 60); the first stage was of order n^2 u ||A||.
TEST(EigSym, Tightness) {
    std::mt19937_64 g(7);
    const uint64_t n = 60;
    const std::vector<double> a = random_symmetric(n, 0, g);
    double norm = 0;
    for (uint64_t i = 0; i < n; ++i) {
        double s = 0;
        for (uint64_t j = 0; j < n; ++j) s += std::fabs(a[i * n + j]);
        norm = std::max(norm, s);
    }
    for (int32_t mode : {0, 1}) {
        const eig_result r = run(a, n, mode, pairs::none);
        ASSERT_EQ(r.status, 0);
        std::vector<double> w(n);
        for (uint64_t i = 0; i < n; ++i) {
            w[i] = ulps(r.lo[i], r.hi[i]);
            EXPECT_LT(r.hi[i] - r.lo[i], 3.0 * n * n * 0x1p-53 * norm) << "mode 1's first stage";
        }
        std::sort(w.begin(), w.end());
        if (mode == 0) EXPECT_LE(w[n - 1], 4.0);
        else EXPECT_LE(w[n / 2], 8192.0);
    }
}

// The second stage on the caller's pairs as they come: exact pairs, pairs
// in the wrong order (d permuted against V), poor vectors (noise 2^-20 in
// every entry), vectors scaled far down, and a matrix scaled by powers of
// two from 2^-900 to 2^900.  Every enclosure holds its eigenvalue (the known
// one, or counted by inertia); the scaled matrices get the unscaled bits
// scaled, since every step scales with A; exact pairs of a diagonal matrix
// give point enclosures.
TEST(EigSym, SecondStageOnAnyPairs) {
    std::mt19937_64 g(11);
    const uint64_t n = 12;
    const std::vector<double> a = random_symmetric(n, 0, g);
    std::vector<double> V(n * n), d(n);
    ASSERT_EQ(norva::jacobi(n, a.data(), n, V.data(), d.data()), 0);
    auto solve = [&](const std::vector<double> &m, const std::vector<double> &v,
                     const std::vector<double> &e, int32_t mode) {
        eig_result r{-2, std::vector<double>(n), std::vector<double>(n)};
        r.status = norva_eig_sym(n, m.data(), n, v.data(), n, e.data(), r.lo.data(), r.hi.data(),
                                 mode, nullptr, nullptr);
        return r;
    };
    struct variant {
        const char *what;
        std::vector<double> V, d;
    };
    std::vector<variant> vs = {{"exact pairs", V, d}};
    std::vector<double> dp(d);
    std::rotate(dp.begin(), dp.begin() + 1, dp.end());
    vs.push_back({"d permuted against V", V, dp});
    std::vector<double> noisy(V), tiny(V);
    std::uniform_real_distribution<double> U(-0x1p-20, 0x1p-20);
    for (auto &x : noisy) x += U(g);
    for (auto &x : tiny) x = std::ldexp(x, -560);
    vs.push_back({"noisy vectors", noisy, d});
    vs.push_back({"vectors scaled by 2^-560", tiny, d});
    for (int32_t mode : {0, 1})
        for (const variant &v : vs) {
            SCOPED_TRACE(::testing::Message() << v.what << ", mode " << mode);
            const eig_result r = solve(a, v.V, v.d, mode);
            if (r.status != 0) {
                EXPECT_EQ(r.status, 1);
                continue;
            }
            EXPECT_TRUE(eigtest::encloses_by_inertia(a, n, r.lo.data(), r.hi.data()));
        }
    for (int32_t mode : {0, 1}) {
        const eig_result base = solve(a, V, d, mode);
        ASSERT_EQ(base.status, 0);
        for (int e : {-900, -450, 450, 900}) {
            std::vector<double> as(a), ds(d);
            for (auto &x : as) x = std::ldexp(x, e);
            for (auto &x : ds) x = std::ldexp(x, e);
            const eig_result r = solve(as, V, ds, mode);
            ASSERT_EQ(r.status, 0) << "2^" << e;
            for (uint64_t i = 0; i < n; ++i)
                EXPECT_TRUE(r.lo[i] == std::ldexp(base.lo[i], e) &&
                            r.hi[i] == std::ldexp(base.hi[i], e))
                    << "2^" << e << ", mode " << mode << ", eigenvalue " << i;
        }
    }
    // The case that once bottomed out at +-2^-537: diag(2^-700, 2^-699) with
    // its exact pairs.  R = 0 exactly, but its bound is one unit of the
    // smallest subnormal per entry in mode 0 (a step each way of lambda: 3
    // units of the ulp below a power of two) and the a priori gamma_5 (|A|
    // |V| + |V| |D|) in mode 1 (23 units).
    const std::vector<double> D = {0x1p-700, 0, 0, 0x1p-699}, I = {1, 0, 0, 1};
    const std::vector<double> dd = {0x1p-700, 0x1p-699};
    for (int32_t mode : {0, 1}) {
        double lo[2], hi[2];
        ASSERT_EQ(norva_eig_sym(2, D.data(), 2, I.data(), 2, dd.data(), lo, hi, mode, nullptr,
                                nullptr),
                  0);
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(lo[i] <= dd[i] && dd[i] <= hi[i]);
            EXPECT_LE(ulps(lo[i], hi[i]), mode == 0 ? 3.0 : 32.0) << "mode " << mode;
        }
    }
}

TEST(EigSym, FailurePaths) {
    // A poor caller basis: V = 2 I has V^T V - I = 3 I.
    const std::vector<double> a = {2, 1, 1, 2}, v2 = {2, 0, 0, 2}, d = {1, 3};
    double lo[2] = {7, 7}, hi[2] = {7, 7};
    EXPECT_EQ(norva_eig_sym(2, a.data(), 2, v2.data(), 2, d.data(), lo, hi, 0, nullptr, nullptr), 1);
    EXPECT_TRUE(lo[0] == -inf && lo[1] == -inf && hi[0] == inf && hi[1] == inf);

    // Entries whose squares overflow: no rotation, V = I, and J K overflows;
    // the eigenvalues 5e307 +- 1e307 are still enclosed (in mode 1 too: the
    // sums of |A| |V| + |V| |D| stay finite).
    const double big = 5e307, off = 1e307;
    const std::vector<double> b = {big, off, off, big};
    mpfr_t s;
    mpfr_init2(s, 2200);
    for (int32_t mode : {0, 1}) {
        const eig_result r = run(b, 2, mode, pairs::none);
        ASSERT_EQ(r.status, 0) << "mode " << mode;
        mpfr_set_d(s, big, MPFR_RNDN);
        mpfr_sub_d(s, s, off, MPFR_RNDN);
        EXPECT_TRUE(mpfr_cmp_d(s, r.lo[0]) >= 0 && mpfr_cmp_d(s, r.hi[0]) <= 0);
        mpfr_set_d(s, big, MPFR_RNDN);
        mpfr_add_d(s, s, off, MPFR_RNDN);
        EXPECT_TRUE(mpfr_cmp_d(s, r.lo[1]) >= 0 && mpfr_cmp_d(s, r.hi[1]) <= 0);
    }
    mpfr_clear(s);

    // An eigenvalue beyond the doubles (2e308) cannot be enclosed.
    const std::vector<double> c = {1e308, 1e308, 1e308, 1e308};
    for (int32_t mode : {0, 1}) {
        const eig_result r = run(c, 2, mode, pairs::none);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.lo[0] == -inf && r.hi[1] == inf);
    }
}

}  // namespace
