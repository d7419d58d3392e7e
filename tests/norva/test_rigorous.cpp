// Rigorous product bounds: prod_abs above |A B| and bound_e above the row and
// column sums of |A - sigma I - L L^T|, both computed exactly with MPFR; both
// methods bit for bit against reference loops written from their definition
// (ascending-order products, MPFR for every exact or directed sum); the
// panels of a triangular factor against the full products; threads,
// callbacks, special values and allocation failures.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "norva/rigorous.h"
#include "norva/spd.h"
#include "support/alloc_sweep.h"
#include "support/callbacks.h"
#include "support/oracle.h"

namespace {

using namespace testsupport;
using mat = std::vector<double>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double tiniest = 0x1p-1074;

double nx_up(double x) { return std::nextafter(x, inf); }
double nx_down(double x) { return std::nextafter(x, -inf); }
bool same(const mat &a, const mat &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
        return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y);
    });
}

const std::vector<std::pair<const char *, norva_gemm_fn>> callbacks = {
    {"built-in", nullptr},
    {"reverse", reverse_gemm},
#ifdef NORVA_TEST_OPENBLAS
    {"openblas", blas_gemm},
#endif
};

std::mt19937_64 rng(2024);
double sym() { return std::ldexp((double)(rng() >> 11), -53) * 2 - 1; }
int exponent(int spread) { return spread ? (int)(rng() % (2 * spread + 1)) - spread : 0; }
// Entries in (-1, 1) times 2^(shift + e), e uniform in [-spread, spread].
mat random_mat(uint64_t count, int spread = 0, int shift = 0) {
    mat X(count);
    for (double &v : X) v = std::ldexp(sym(), exponent(spread) + shift);
    return X;
}

// ---- references: the a priori constants, the entry bound and the products ----------

struct consts {
    double F, G, H;
};
consts constants(uint64_t k) {
    const auto gamma = [](double j) {
        return nx_up(nx_up(j * 0x1p-53) / (1 - nx_up(j * 0x1p-53)));
    };
    const double kd = (double)k;
    return {nx_up(gamma(kd + 1) / (1 - gamma(kd))), nx_up((kd + kd) * 0x1p-1022),
            nx_up((2 * (kd + 1)) * 0x1p-1022)};
}
double widened(const consts &c, double a, double w) {
    return nx_up(c.H + nx_up(a + nx_up(c.F * nx_up(c.G + w))));
}
// X Y (or |X| |Y|) for X r x k, Y k x c, each entry summed from +0 in ascending p.
mat product(uint64_t r, uint64_t c, uint64_t k, const mat &X, const mat &Y, bool abs = false) {
    mat C(r * c, 0.0);
    for (uint64_t i = 0; i < r; ++i)
        for (uint64_t j = 0; j < c; ++j)
            for (uint64_t p = 0; p < k; ++p)
                C[i * c + j] += abs ? std::fabs(X[i * k + p]) * std::fabs(Y[p * c + j])
                                    : X[i * k + p] * Y[p * c + j];
    return C;
}
mat transpose(uint64_t n, const mat &X) {
    mat T(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) T[j * n + i] = X[i * n + j];
    return T;
}
// |exact value| rounded upward.
double abs_up(const exact_total &e) {
    return std::max(std::fabs(e.round(1)), std::fabs(e.round(2)));
}

// ---- prod_abs -------------------------------------------------------------------------

struct product_case {
    uint64_t m, n, k;
    mat A, B;
};

int run_prod(const product_case &c, int32_t mode, norva_gemm_fn gemm, mat *Q) {
    Q->assign(c.m * c.n, -7.0);
    return norva::prod_abs(c.m, c.n, c.k, c.A.data(), c.B.data(), Q->data(), mode, gemm, nullptr);
}

TEST(ProdAbs, BoundsTheExactProductAndMatchesTheReferences) {
    std::vector<product_case> cases = {
        {7, 5, 9, random_mat(63), random_mat(45)},
        {12, 9, 30, random_mat(360, 300), random_mat(270, 300)},         // entries 2^-300 .. 2^300
        {6, 8, 20, random_mat(120, 4, -520), random_mat(160, 4, -520)},  // products near 2^-1040
        {66, 70, 75, random_mat(66 * 75, 3), random_mat(75 * 70, 3)}};
    // [X | I] [Y; -fl(X Y)]: X Y - fl(X Y) exactly, as in V^T V - I
    const uint64_t m = 9, n = 11, k0 = 13;
    product_case c{m, n, k0 + m, mat(m * (k0 + m), 0.0), random_mat(k0 * n)};
    const mat X = random_mat(m * k0), XY = product(m, n, k0, X, c.B);
    for (uint64_t i = 0; i < m; ++i) {
        std::copy(X.begin() + i * k0, X.begin() + (i + 1) * k0, c.A.begin() + i * c.k);
        c.A[i * c.k + k0 + i] = 1.0;
    }
    for (double v : XY) c.B.push_back(-v);
    cases.push_back(c);

    for (const product_case &c : cases) {
        const mat P = product(c.m, c.n, c.k, c.A, c.B), W = product(c.m, c.n, c.k, c.A, c.B, true);
        mat exact_ref(c.m * c.n), fast_ref(c.m * c.n), above(c.m * c.n);
        exact_total e;
        for (uint64_t i = 0; i < c.m; ++i)
            for (uint64_t j = 0; j < c.n; ++j) {
                e.clear();
                for (uint64_t p = 0; p < c.k; ++p)
                    e.add_product(c.A[i * c.k + p], c.B[p * c.n + j]);
                exact_ref[i * c.n + j] = nx_up(std::fabs(e.round(0)));
                above[i * c.n + j] = abs_up(e);
                fast_ref[i * c.n + j] =
                    widened(constants(c.k), std::fabs(P[i * c.n + j]), W[i * c.n + j]);
            }
        for (int32_t mode : {0, 1})
            for (const auto &[name, fn] : callbacks) {
                SCOPED_TRACE(::testing::Message() << c.m << "x" << c.n << "x" << c.k << ", mode "
                                                  << mode << ", " << name);
                mat Q;
                ASSERT_EQ(run_prod(c, mode, fn, &Q), 0);
                for (uint64_t x = 0; x < Q.size(); ++x) {
                    ASSERT_GE(Q[x], above[x]) << x;
                    // another summation order: within three times the reference
                    if (mode == 1 && fn != nullptr) {
                        ASSERT_LE(Q[x], 3 * fast_ref[x]) << x;
                    }
                }
                if (mode == 0 || fn == nullptr) {
                    EXPECT_TRUE(same(Q, mode == 0 ? exact_ref : fast_ref));
                }
            }
    }
}

TEST(ProdAbs, SubnormalsZerosOverflowAndNaN) {
    mat Q, exact;
    for (int where = 0; where < 2; ++where) {  // a subnormal factor entry: the exact method
        product_case c{5, 6, 7, random_mat(35), random_mat(42)};
        (where == 0 ? c.A[11] : c.B[20]) = -0x1p-1050;
        ASSERT_EQ(run_prod(c, 0, nullptr, &exact), 0);
        for (const auto &[name, fn] : callbacks) {
            ASSERT_EQ(run_prod(c, 1, fn, &Q), 0);
            EXPECT_TRUE(same(Q, exact)) << where << ", " << name;
        }
    }
    product_case zero{4, 3, 5, random_mat(20), random_mat(15)};
    for (uint64_t p = 0; p < 5; ++p) zero.A[2 * 5 + p] = (p % 2) ? 0.0 : -0.0;
    ASSERT_EQ(run_prod(zero, 0, nullptr, &Q), 0);
    EXPECT_TRUE(same(mat(Q.begin() + 6, Q.begin() + 9), mat(3, tiniest)));
    for (int32_t mode : {0, 1}) {  // k = 0
        ASSERT_EQ(run_prod({3, 2, 0, {}, {}}, mode, nullptr, &Q), 0);
        EXPECT_TRUE(same(Q, mat(6, mode == 0 ? tiniest : widened(constants(0), 0, 0))));
    }
    // |A B| above DBL_MAX (the exact product rounds to infinity), or a NaN:
    // no finite bound in either method
    for (int kind = 0; kind < 2; ++kind) {
        product_case c{3, 4, 5, mat(15, 0x1p600), mat(20, 0x1p500)};
        if (kind == 1) c.B = random_mat(20), c.B[7] = std::nan("");
        for (int32_t mode : {0, 1})
            for (const auto &[name, fn] : callbacks)
                EXPECT_EQ(run_prod(c, mode, fn, &Q), -1)
                    << kind << ", mode " << mode << ", " << name;
    }
}

TEST(ProdAbs, AllocationFailures) {
    const product_case c{20, 18, 70, random_mat(1400, 3), random_mat(1260, 3)};
    for (int32_t mode : {0, 1}) {
        mat ref, Q(c.m * c.n);
        ASSERT_EQ(run_prod(c, mode, reverse_gemm, &ref), 0);
        int status = -2;
        const uint64_t calls = for_each_allocation_failure(
            [&] {
                status = norva::prod_abs(c.m, c.n, c.k, c.A.data(), c.B.data(), Q.data(), mode,
                                         reverse_gemm, nullptr);
            },
            [&](uint64_t k) {  // |A|, |B|, |A| |B|; the Ozaki product falls back
                EXPECT_EQ(status, mode == 1 && k > 0 ? -1 : 0);
                if (status == 0) {
                    EXPECT_TRUE(same(Q, ref));
                }
            });
        if (mode == 1) {
            EXPECT_EQ(calls, 3u);
        }
    }
}

// ---- bound_e ----------------------------------------------------------------------------

struct residual_case {
    const char *name;
    uint64_t n, lda;
    mat A, L;
    double sigma;
};

// A = D (X X^T + n I) D, D = diag(2^e_i) with |e_i| <= spread, exactly
// symmetric, NaN in the padding (lda = n + 1); L its Cholesky factor for
// sigma = frac times the smallest diagonal entry.
residual_case spd_case(const char *name, uint64_t n, int spread, double frac) {
    const uint64_t lda = n + 1;
    const mat X = random_mat(n * n), XXt = product(n, n, n, X, transpose(n, X));
    std::vector<int> d(n);
    for (int &e : d) e = exponent(spread);
    residual_case c{name, n, lda, mat(n * lda, std::nan("")), mat(n * n), inf};
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j)
            c.A[i * lda + j] = std::ldexp(XXt[i * n + j] + (i == j ? (double)n : 0.0), d[i] + d[j]);
        c.sigma = std::min(c.sigma, frac * c.A[i * lda + i]);
    }
    EXPECT_EQ(norva::cholesky(n, c.A.data(), lda, c.L.data(), c.sigma), 0) << name;
    return c;
}

double run_e(const residual_case &c, int32_t mode, norva_gemm_fn gemm, const mat *L = nullptr) {
    return norva::bound_e(c.n, c.A.data(), c.lda, (L ? *L : c.L).data(), mode, gemm, nullptr,
                          c.sigma);
}

// max_i of sum_j max(M_ij, M_ji), each sum rounded upward by MPFR.
double combined(uint64_t n, const mat &M) {
    double g = 0;
    mat row(n);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) row[j] = std::max(M[i * n + j], M[j * n + i]);
        g = std::max(g, oracle_sum(row.data(), n, 1));
    }
    return g;
}

struct residual_refs {
    double exact, fast, above;  // the two methods written out; the largest row or column sum of |E|
};
residual_refs references(const residual_case &c) {
    const uint64_t n = c.n;
    const mat P = product(n, n, n, c.L, transpose(n, c.L)),
              W = product(n, n, n, c.L, transpose(n, c.L), true);
    const consts k = constants(n);
    mat exact(n * n), fast(n * n), E(n * n);
    exact_total e;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double a = c.A[i * c.lda + j];
            e.clear();
            e.add(a);
            for (uint64_t p = 0; p < n; ++p) e.add_product(-c.L[i * n + p], c.L[j * n + p]);
            const double r = e.round(0);  // A - L L^T to nearest
            exact[i * n + j] = nx_up(std::fabs(r));
            double f = nx_up(std::fabs(a - P[i * n + j]));
            if (i == j) {
                double t[3] = {nx_down(r), -c.sigma, 0};
                const double lo = oracle_sum(t, 2, 2);
                t[0] = nx_up(r);
                exact[i * n + i] = std::max(std::fabs(lo), std::fabs(oracle_sum(t, 2, 1)));
                const double s[3] = {a, -c.sigma, -P[i * n + i]};
                f = std::max(std::fabs(oracle_sum(s, 3, 2)), std::fabs(oracle_sum(s, 3, 1)));
                e.add(-c.sigma);
            }
            fast[i * n + j] = widened(k, f, W[i * n + j]);
            E[i * n + j] = abs_up(e);
        }
    return {combined(n, exact), combined(n, fast), combined(n, E)};
}

// L with the zeros above its diagonal written as -0: the same matrix, taken
// through the full products instead of the panels of a triangular factor.
mat negative_zeros(uint64_t n, mat L) {
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = i + 1; j < n; ++j) L[i * n + j] = L[i * n + j] == 0 ? -0.0 : L[i * n + j];
    return L;
}

TEST(BoundE, DominatesTheExactResidualAndMatchesTheReferences) {
    std::vector<residual_case> cases = {
        spd_case("spd", 1, 0, 0.5),
        spd_case("spd", 6, 0, 0.5),
        spd_case("scaled", 40, 200, 0.25),
        spd_case("spd", 64, 0, 0.7),
        spd_case("three panels", 130, 3, 0.5),
        // 3 - (-2^-60) - fl(1.1^2) is not a double: the directed diagonal sums show
        {"inexact diagonal", 1, 1, {3.0}, {1.1}, -0x1p-60}};
    // column 7 of E about 1 below the diagonal, the rest tiny: a column sum
    // far above every row sum
    residual_case skew = spd_case("not symmetric", 100, 1, 0.5);
    for (uint64_t i = 8; i < skew.n; ++i) skew.A[i * skew.lda + 7] += 1.0;
    cases.push_back(skew);
    // factors unrelated to A (triangular, and full): the residual dominates
    for (uint64_t n : {3ull, 70ull}) {
        residual_case c = spd_case("unrelated factor", n, 0, 0.5);
        for (uint64_t x = 0; x < n * n; ++x) c.L[x] = (x % n <= x / n || n > 3) ? sym() : 0.0;
        cases.push_back(c);
    }
    for (const residual_case &c : cases) {
        const residual_refs ref = references(c);
        const mat full = negative_zeros(c.n, c.L);
        for (int32_t mode : {0, 1})
            for (const auto &[name, fn] : callbacks) {
                SCOPED_TRACE(::testing::Message()
                             << c.name << ", n = " << c.n << ", mode " << mode << ", " << name);
                const double g = run_e(c, mode, fn);
                ASSERT_LT(g, inf);
                EXPECT_GE(g, ref.above) << "a row or column sum of |E| is larger";
                if (mode == 0 || fn == nullptr) {
                    EXPECT_TRUE(same_bits(g, mode ? ref.fast : ref.exact));
                } else {
                    EXPECT_LE(g, 3 * ref.fast);
                }
                // the panels give the full products' bits, except in a tuned product's order
                if (mode == 0 || fn == nullptr || fn == reverse_gemm) {
                    EXPECT_TRUE(same_bits(run_e(c, mode, fn, &full), g)) << "full products";
                }
            }
    }
}

TEST(BoundE, SpecialCases) {
    for (uint64_t n : {3ull, 70ull}) {  // 4 I = (2 I)^2 exactly: every entry bound is 2^-1074
        residual_case c{"square root", n, n, mat(n * n, 0.0), mat(n * n, 0.0), 0.0};
        for (uint64_t i = 0; i < n; ++i) c.A[i * n + i] = 4.0, c.L[i * n + i] = 2.0;
        for (norva_gemm_fn fn : {(norva_gemm_fn) nullptr, reverse_gemm})
            EXPECT_EQ(run_e(c, 0, fn), (double)n * tiniest) << n;
    }
    residual_case c = spd_case("subnormal", 20, 0, 0.5);  // mode 1 takes the exact method
    c.L[13 * 20 + 4] = 0x1p-1060;
    for (const auto &[name, fn] : callbacks)
        EXPECT_TRUE(same_bits(run_e(c, 1, fn), run_e(c, 0, fn))) << name;
    for (int kind = 0; kind < 3; ++kind) {  // no finite bound: NaN
        residual_case c = spd_case("bad", kind == 2 ? 80 : 12, 0, 0.5);
        if (kind == 0) c.L[5 * c.n + 2] = 0x1p520;  // L L^T overflows
        if (kind == 1) c.L[7 * c.n + 7] = std::nan("");
        if (kind == 2) c.sigma = -std::numeric_limits<double>::max();  // A_ii - sigma overflows
        for (int32_t mode : {0, 1})
            for (const auto &[name, fn] : callbacks)
                EXPECT_TRUE(std::isnan(run_e(c, mode, fn)))
                    << kind << ", mode " << mode << ", " << name;
    }
}

TEST(BoundE, ThreadCountsAndPanelsGiveIdenticalBounds) {
    const int saved = omp_get_max_threads();
    for (uint64_t n : {100ull, 260ull}) {  // two exact panels at n = 260
        const residual_case c = spd_case("threads", n, 2, 0.5);
        const mat full = negative_zeros(n, c.L);
        for (int32_t mode : {0, 1}) {
            omp_set_num_threads(1);
            const double one = run_e(c, mode, nullptr);
            ASSERT_TRUE(one > 0 && one < inf);
            for (int t : {2, 3}) {  // the full products on 2 threads, the panels on 3
                omp_set_num_threads(t);
                EXPECT_TRUE(same_bits(run_e(c, mode, nullptr, t == 2 ? &full : nullptr), one))
                    << n << ", mode " << mode << ", " << t << " threads";
            }
        }
    }
    omp_set_num_threads(saved);
}

TEST(BoundE, AllocationFailuresGiveNaN) {
    const residual_case c = spd_case("alloc", 70, 1, 0.5);
    for (int32_t mode : {0, 1}) {
        const double ref = run_e(c, mode, nullptr);
        double g = 0;
        for_each_allocation_failure(
            [&] { g = run_e(c, mode, nullptr); },
            [&](uint64_t k) {  // T, P, M (and W); then the products fall back
                const bool scratch_failed = k > 0 && k <= (mode == 1 ? 4u : 3u);
                EXPECT_TRUE(scratch_failed ? std::isnan(g) : same_bits(g, ref));
            });
    }
}

}  // namespace
