// Rigorous product bounds.  prod_abs against |A B| computed exactly with MPFR
// and bound_e against the exact residual A - sigma I - L L^T (its largest row
// and column sums of magnitudes); both methods bit for bit against plain
// reference loops (the built-in product sums in ascending order, MPFR for
// every exact or directed sum); the panelled products of a triangular factor
// against the full ones; thread counts, callbacks, special values and
// allocation failures.
#include <gtest/gtest.h>
#include <mpfr.h>
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "norva/rigorous.h"

#ifdef NORVA_TEST_OPENBLAS
#include <cblas.h>  // before support/callbacks.h, for blas_gemm
#endif

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
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) {
               return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y);
           });
}

struct callback {
    const char *name;
    norva_gemm_fn fn;
};
const std::vector<callback> callbacks = {
    {"built-in", nullptr},
    {"reverse", reverse_gemm},
#ifdef NORVA_TEST_OPENBLAS
    {"openblas", blas_gemm},
#endif
};

// ---- references -------------------------------------------------------------------

// The a priori constants and the entry bound, written out from their
// definition with the library call nextafter.
struct consts {
    double F, G, H;
};
consts constants(uint64_t k) {
    const auto gamma = [](double j) {
        const double ju = nx_up(j * 0x1p-53);
        return nx_up(ju / (1 - ju));
    };
    const double kd = (double)k;
    return {nx_up(gamma(kd + 1) / (1 - gamma(kd))), nx_up((kd + kd) * 0x1p-1022),
            nx_up((2 * (kd + 1)) * 0x1p-1022)};
}
double widened(const consts &c, double a, double w) {
    return nx_up(c.H + nx_up(a + nx_up(c.F * nx_up(c.G + w))));
}

// X (r x k) times Y (k x c), packed, each entry summed from +0 in ascending
// order like the built-in product.
mat plain_product(uint64_t r, uint64_t c, uint64_t k, const mat &X, const mat &Y) {
    mat C(r * c, 0.0);
    for (uint64_t i = 0; i < r; ++i)
        for (uint64_t j = 0; j < c; ++j)
            for (uint64_t p = 0; p < k; ++p) C[i * c + j] += X[i * k + p] * Y[p * c + j];
    return C;
}
mat abs_of(mat X) {
    for (double &v : X) v = std::fabs(v);
    return X;
}
mat transpose(uint64_t n, const mat &X) {
    mat T(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) T[j * n + i] = X[i * n + j];
    return T;
}

// |v| <= q for an exact MPFR value.
bool dominated(const __mpfr_struct *v, double q) {
    mpfr_t t;
    mpfr_init2(t, 64);
    mpfr_set_d(t, q, MPFR_RNDN);
    const bool ok = mpfr_cmpabs(v, t) <= 0;
    mpfr_clear(t);
    return ok;
}

// ---- prod_abs ----------------------------------------------------------------------

struct product_case {
    const char *name;
    uint64_t m, n, k;
    mat A, B;
};

std::mt19937_64 rng(2024);
double sym() { return std::ldexp((double)(rng() >> 11), -53) * 2 - 1; }
int between(int lo, int hi) { return lo + (int)(rng() % (uint64_t)(hi - lo + 1)); }

product_case random_product(const char *name, uint64_t m, uint64_t n, uint64_t k, int spread,
                            int shift = 0) {
    product_case c{name, m, n, k, mat(m * k), mat(k * n)};
    for (double &v : c.A) v = std::ldexp(sym(), between(-spread, spread) + shift);
    for (double &v : c.B) v = std::ldexp(sym(), between(-spread, spread) + shift);
    return c;
}

// [X | I] [Y; -fl(X Y)]: the exact product X Y - fl(X Y) is the tiny rounding
// error, the computed one cancels, as in the products V^T V - I.
product_case cancelling(uint64_t m, uint64_t n, uint64_t k0) {
    const product_case xy = random_product("", m, n, k0, 0);
    const mat F = plain_product(m, n, k0, xy.A, xy.B);
    const uint64_t k = k0 + m;
    product_case c{"cancelling", m, n, k, mat(m * k, 0.0), mat(k * n)};
    for (uint64_t i = 0; i < m; ++i) {
        for (uint64_t p = 0; p < k0; ++p) c.A[i * k + p] = xy.A[i * k0 + p];
        c.A[i * k + k0 + i] = 1.0;
    }
    for (uint64_t p = 0; p < k0; ++p)
        for (uint64_t j = 0; j < n; ++j) c.B[p * n + j] = xy.B[p * n + j];
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) c.B[(k0 + i) * n + j] = -F[i * n + j];
    return c;
}

int run_prod(const product_case &c, int32_t mode, norva_gemm_fn gemm, mat *Q) {
    Q->assign(c.m * c.n, -7.0);
    return norva::prod_abs(c.m, c.n, c.k, c.A.data(), c.B.data(), Q->data(), mode, gemm, nullptr);
}

// Every entry above |exact (A B)_ij|; bit for bit the exact method (and the
// fast one with the built-in product) written out.
void check_product(const product_case &c) {
    exact_total e;
    mat exact_up(c.m * c.n);
    const mat W = plain_product(c.m, c.n, c.k, abs_of(c.A), abs_of(c.B));
    const mat P = plain_product(c.m, c.n, c.k, c.A, c.B);
    const consts k = constants(c.k);
    mat fast_ref(c.m * c.n);
    for (uint64_t i = 0; i < c.m; ++i)
        for (uint64_t j = 0; j < c.n; ++j) {
            e.clear();
            for (uint64_t p = 0; p < c.k; ++p) e.add_product(c.A[i * c.k + p], c.B[p * c.n + j]);
            exact_up[i * c.n + j] = nx_up(std::fabs(e.round(0)));
            fast_ref[i * c.n + j] = widened(k, std::fabs(P[i * c.n + j]), W[i * c.n + j]);
        }
    for (int32_t mode : {0, 1})
        for (const callback &cb : callbacks) {
            SCOPED_TRACE(::testing::Message() << c.name << " " << c.m << "x" << c.n << "x" << c.k
                                              << ", mode " << mode << ", " << cb.name);
            mat Q;
            ASSERT_EQ(run_prod(c, mode, cb.fn, &Q), 0);
            for (uint64_t i = 0; i < c.m; ++i)
                for (uint64_t j = 0; j < c.n; ++j) {
                    e.clear();
                    for (uint64_t p = 0; p < c.k; ++p)
                        e.add_product(c.A[i * c.k + p], c.B[p * c.n + j]);
                    ASSERT_TRUE(dominated(e.value(), Q[i * c.n + j])) << i << ", " << j;
                }
            if (mode == 0) EXPECT_TRUE(same(Q, exact_up));
            else if (cb.fn == nullptr) EXPECT_TRUE(same(Q, fast_ref));
            else  // another summation order: within three times the reference
                for (uint64_t x = 0; x < Q.size(); ++x)
                    ASSERT_LE(Q[x], 3 * fast_ref[x]) << x;
        }
}

TEST(ProdAbs, BoundsTheExactProductInBothMethods) {
    check_product(random_product("random", 7, 5, 9, 0));
    check_product(random_product("scaled", 12, 9, 30, 300));          // entries 2^-300 .. 2^300
    check_product(random_product("underflowing", 6, 8, 20, 4, -520));  // products near 2^-1040
    check_product(random_product("one row", 1, 40, 70, 2));
    check_product(random_product("blocked", 66, 70, 75, 3));
    check_product(cancelling(9, 11, 13));
}

TEST(ProdAbs, SubnormalFactorTakesTheExactMethod) {
    for (int where = 0; where < 2; ++where) {
        product_case c = random_product("subnormal", 5, 6, 7, 2);
        (where == 0 ? c.A[11] : c.B[20]) = -0x1p-1050;
        mat exact, q;
        ASSERT_EQ(run_prod(c, 0, nullptr, &exact), 0);
        for (const callback &cb : callbacks) {
            ASSERT_EQ(run_prod(c, 1, cb.fn, &q), 0);
            EXPECT_TRUE(same(q, exact)) << "subnormal in " << (where ? "B" : "A") << ", " << cb.name;
        }
    }
}

TEST(ProdAbs, ZeroProductsOverflowAndNaN) {
    product_case zero = random_product("zero", 4, 3, 5, 0);
    for (uint64_t p = 0; p < zero.k; ++p) zero.A[2 * zero.k + p] = (p % 2) ? 0.0 : -0.0;
    mat Q;
    ASSERT_EQ(run_prod(zero, 0, nullptr, &Q), 0);
    for (uint64_t j = 0; j < 3; ++j) EXPECT_EQ(Q[2 * 3 + j], tiniest);
    product_case empty{"k = 0", 3, 2, 0, {}, {}};
    for (int32_t mode : {0, 1}) {
        ASSERT_EQ(run_prod(empty, mode, nullptr, &Q), 0);
        for (double q : Q) EXPECT_EQ(q, mode == 0 ? tiniest : widened(constants(0), 0, 0));
    }
    // |A B| above DBL_MAX: no finite bound in either method (the exact
    // product rounds to infinity); a NaN factor entry likewise.
    for (int kind = 0; kind < 2; ++kind) {
        product_case c = random_product("bad", 3, 4, 5, 0);
        if (kind == 0) {
            for (double &v : c.A) v = std::ldexp(std::fabs(v) + 1, 600);
            for (double &v : c.B) v = std::ldexp(std::fabs(v) + 1, 500);
        } else {
            c.B[7] = std::nan("");
        }
        for (int32_t mode : {0, 1})
            for (const callback &cb : callbacks)
                EXPECT_EQ(run_prod(c, mode, cb.fn, &Q), -1)
                    << (kind ? "NaN" : "overflow") << ", mode " << mode << ", " << cb.name;
    }
}

TEST(ProdAbs, AllocationFailures) {
    const product_case c = random_product("alloc", 20, 18, 70, 3);
    for (int32_t mode : {0, 1}) {
        mat ref, Q(c.m * c.n);
        ASSERT_EQ(run_prod(c, mode, reverse_gemm, &ref), 0);
        int status = -2;
        const uint64_t calls = for_each_allocation_failure(
            [&] {
                status = norva::prod_abs(c.m, c.n, c.k, c.A.data(), c.B.data(), Q.data(), mode,
                                         reverse_gemm, nullptr);
            },
            [&](uint64_t k) {
                if (mode == 1 && k > 0) {
                    EXPECT_EQ(status, -1);
                } else {  // the Ozaki product falls back with the same bits
                    EXPECT_EQ(status, 0);
                    EXPECT_TRUE(same(Q, ref));
                }
            });
        if (mode == 1) {
            EXPECT_EQ(calls, 3u) << "|A|, |B| and |A| |B|";
        }
    }
}

// ---- bound_e -------------------------------------------------------------------------

struct residual_case {
    const char *name;
    uint64_t n, lda;
    mat A, L;
    double sigma;
};

// Lower factor of a - sigma I by the plain Cholesky algorithm (the test's own).
mat cholesky_of(uint64_t n, const mat &a, uint64_t lda, double sigma) {
    mat L(n * n, 0.0);
    for (uint64_t k = 0; k < n; ++k) {
        double d = a[k * lda + k] - sigma;
        for (uint64_t j = 0; j < k; ++j) d -= L[k * n + j] * L[k * n + j];
        L[k * n + k] = std::sqrt(d);
        for (uint64_t r = k + 1; r < n; ++r) {
            double q = a[r * lda + k];
            for (uint64_t j = 0; j < k; ++j) q -= L[r * n + j] * L[k * n + j];
            L[r * n + k] = q / L[k * n + k];
        }
    }
    return L;
}

// A = D (X X^T + n I) D with D = diag(2^e_i), |e_i| <= spread, exactly
// symmetric, with the padding of lda = n + 1 NaN; L its factor for sigma.
residual_case spd_case(const char *name, uint64_t n, int spread, double sigma_frac) {
    const uint64_t lda = n + 1;
    mat X(n * n), A(n * lda, std::nan(""));
    for (double &v : X) v = sym();
    std::vector<int> e(n);
    for (int &v : e) v = between(-spread, spread);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j <= i; ++j) {
            double s = i == j ? (double)n : 0.0;
            for (uint64_t p = 0; p < n; ++p) s += X[i * n + p] * X[j * n + p];
            A[i * lda + j] = A[j * lda + i] = std::ldexp(s, e[i] + e[j]);
        }
    double dmin = inf;
    for (uint64_t i = 0; i < n; ++i) dmin = std::min(dmin, A[i * lda + i]);
    const double sigma = sigma_frac * dmin;
    return {name, n, lda, A, cholesky_of(n, A, lda, sigma), sigma};
}

// A general square factor F with A = fl(F F^T) (symmetric): every entry of F
// takes part, the residual is the rounding error of A.
residual_case general_case(uint64_t n) {
    mat F(n * n), A(n * n);
    for (double &v : F) v = sym();
    const mat P = plain_product(n, n, n, F, transpose(n, F));
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j <= i; ++j) A[i * n + j] = A[j * n + i] = P[i * n + j];
    return {"general factor", n, n, A, F, 0.0};
}

double run_e(const residual_case &c, int32_t mode, norva_gemm_fn gemm, const mat *L = nullptr) {
    return norva::bound_e(c.n, c.A.data(), c.lda, (L ? *L : c.L).data(), mode, gemm, nullptr,
                          c.sigma);
}

// max_i sum_j max(M_ij, M_ji), each row sum rounded upward by MPFR.
double combined(uint64_t n, const mat &M) {
    double g = 0;
    mat row(n);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) row[j] = std::max(M[i * n + j], M[j * n + i]);
        g = std::max(g, oracle_sum(row.data(), n, 1));
    }
    return g;
}

// The fast method with the built-in product, written out: fl(L L^T),
// fl(|L| |L|^T) in ascending order, the entry bounds, the combination.
double fast_reference(const residual_case &c) {
    const uint64_t n = c.n;
    const mat P = plain_product(n, n, n, c.L, transpose(n, c.L));
    const mat W = plain_product(n, n, n, abs_of(c.L), transpose(n, abs_of(c.L)));
    const consts k = constants(n);
    mat M(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            double a = nx_up(std::fabs(c.A[i * c.lda + j] - P[i * n + j]));
            if (i == j) {
                const double t[3] = {c.A[i * c.lda + i], -c.sigma, -P[i * n + i]};
                a = std::max(std::fabs(oracle_sum(t, 3, 2)), std::fabs(oracle_sum(t, 3, 1)));
            }
            M[i * n + j] = widened(k, a, W[i * n + j]);
        }
    return combined(n, M);
}

// The exact method written out with MPFR, and the exact residual E: its
// largest row and column sums of |E_ij| go to *row_max and *col_max.
double exact_reference(const residual_case &c, mpfr_t row_max, mpfr_t col_max) {
    const uint64_t n = c.n;
    mat M(n * n);
    exact_total e;
    std::vector<exact_total> rows(n), cols(n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            e.clear();
            e.add(c.A[i * c.lda + j]);
            for (uint64_t p = 0; p < n; ++p) e.add_product(-c.L[i * n + p], c.L[j * n + p]);
            const double p = e.round(0);  // A - L L^T to nearest
            M[i * n + j] = nx_up(std::fabs(p));
            if (i == j) {
                double t[2] = {nx_down(p), -c.sigma};
                const double lo = oracle_sum(t, 2, 2);
                t[0] = nx_up(p);
                M[i * n + i] = std::max(std::fabs(lo), std::fabs(oracle_sum(t, 2, 1)));
                e.add(-c.sigma);
            }
            mpfr_abs(e.value(), e.value(), MPFR_RNDN);
            rows[i].add_exact(e.value());
            cols[j].add_exact(e.value());
        }
    mpfr_set_zero(row_max, 1);
    mpfr_set_zero(col_max, 1);
    for (uint64_t i = 0; i < n; ++i) {
        mpfr_max(row_max, row_max, rows[i].value(), MPFR_RNDN);
        mpfr_max(col_max, col_max, cols[i].value(), MPFR_RNDN);
    }
    return combined(n, M);
}

// L with the zeros above its diagonal written as -0: the same matrix, taken
// through the full products instead of the panels of a triangular factor.
mat negative_zeros(uint64_t n, mat L) {
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = i + 1; j < n; ++j)
            if (L[i * n + j] == 0) L[i * n + j] = -0.0;
    return L;
}

TEST(BoundE, DominatesTheExactResidualAndMatchesTheReferences) {
    std::vector<residual_case> cases = {spd_case("spd", 1, 0, 0.5),
                                        spd_case("spd", 6, 0, 0.5),
                                        spd_case("spd, scaled", 40, 200, 0.25),
                                        spd_case("spd", 64, 0, 0.7),
                                        spd_case("spd, three panels", 130, 3, 0.5),
                                        general_case(70)};
    // Column 7 of E below the diagonal about 1, the rest of E tiny: a column
    // sum far above every row sum of |E|.
    residual_case skew = spd_case("not symmetric", 100, 1, 0.5);
    for (uint64_t i = 8; i < skew.n; ++i) skew.A[i * skew.lda + 7] += 1.0;
    cases.push_back(skew);
    // 3 - (-2^-60) - fl(1.1^2) is not a double: the directed sums of the
    // diagonal show in the bound.
    cases.push_back({"inexact diagonal", 1, 1, {3.0}, {1.1}, -0x1p-60});
    // A factor unrelated to A: the residual dominates the rounding errors.
    for (uint64_t n : {3ull, 70ull}) {
        residual_case c = spd_case("unrelated factor", n, 0, 0.5);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j <= i; ++j) c.L[i * n + j] = sym();
        cases.push_back(c);
    }
    mpfr_t row_max, col_max;
    mpfr_init2(row_max, product_prec);
    mpfr_init2(col_max, product_prec);
    for (const residual_case &c : cases) {
        for (double v : c.L) ASSERT_TRUE(std::isfinite(v)) << c.name;
        const double exact_ref = exact_reference(c, row_max, col_max);
        const double fast_ref = fast_reference(c);
        const mat full = negative_zeros(c.n, c.L);
        for (int32_t mode : {0, 1})
            for (const callback &cb : callbacks) {
                SCOPED_TRACE(::testing::Message() << c.name << ", n = " << c.n << ", mode " << mode
                                                  << ", " << cb.name);
                const double g = run_e(c, mode, cb.fn);
                ASSERT_TRUE(g >= 0 && g < inf) << g;
                EXPECT_LE(mpfr_cmp_d(row_max, g), 0) << "a row sum of |E| above " << g;
                EXPECT_LE(mpfr_cmp_d(col_max, g), 0) << "a column sum of |E| above " << g;
                if (mode == 0 || cb.fn == nullptr)
                    EXPECT_TRUE(same_bits(g, mode == 0 ? exact_ref : fast_ref));
                else
                    EXPECT_LE(g, 3 * fast_ref);
                // the panels of the triangular factor give the full products' bits
                if (cb.fn != nullptr && cb.fn != reverse_gemm && mode == 1) continue;
                EXPECT_TRUE(same_bits(run_e(c, mode, cb.fn, &full), g)) << "full products";
            }
    }
    mpfr_clear(row_max);
    mpfr_clear(col_max);
}

TEST(BoundE, ExactSquareRootGivesTheSmallestBounds) {
    for (uint64_t n : {3ull, 70ull}) {
        residual_case c{"4 I = (2 I)^2", n, n, mat(n * n, 0.0), mat(n * n, 0.0), 0.0};
        for (uint64_t i = 0; i < n; ++i) {
            c.A[i * n + i] = 4.0;
            c.L[i * n + i] = 2.0;
        }
        EXPECT_EQ(run_e(c, 0, nullptr), (double)n * tiniest) << n;
        EXPECT_EQ(run_e(c, 0, reverse_gemm), (double)n * tiniest) << n;
    }
}

TEST(BoundE, SubnormalFactorTakesTheExactMethod) {
    residual_case c = spd_case("subnormal", 20, 0, 0.5);
    c.L[13 * 20 + 4] = 0x1p-1060;
    for (const callback &cb : callbacks)
        EXPECT_TRUE(same_bits(run_e(c, 1, cb.fn), run_e(c, 0, cb.fn))) << cb.name;
}

TEST(BoundE, NoFiniteBoundGivesNaN) {
    for (int kind = 0; kind < 3; ++kind) {
        residual_case c = spd_case("bad", kind == 2 ? 80 : 12, 0, 0.5);
        if (kind == 0) c.L[5 * c.n + 2] = 0x1p520;  // L L^T overflows
        if (kind == 1) c.L[7 * c.n + 7] = std::nan("");
        if (kind == 2) c.sigma = -std::numeric_limits<double>::max();  // A_ii - sigma overflows
        for (int32_t mode : {0, 1})
            for (const callback &cb : callbacks)
                EXPECT_TRUE(std::isnan(run_e(c, mode, cb.fn)))
                    << "kind " << kind << ", mode " << mode << ", " << cb.name;
    }
}

TEST(BoundE, ThreadCountsGiveIdenticalBounds) {
    const int saved = omp_get_max_threads();
    for (uint64_t n : {100ull, 300ull}) {
        const residual_case c = spd_case("threads", n, 2, 0.5);
        const mat full = negative_zeros(n, c.L);
        for (int32_t mode : {0, 1})
            for (const mat *L : {&c.L, &full}) {
                omp_set_num_threads(1);
                const double one = run_e(c, mode, nullptr, L);
                ASSERT_TRUE(one > 0 && one < inf);
                for (int t : {2, 3}) {
                    omp_set_num_threads(t);
                    EXPECT_TRUE(same_bits(run_e(c, mode, nullptr, L), one))
                        << "n = " << n << ", mode " << mode << ", " << t << " threads";
                }
                // more than one exact panel at n = 300: still the full product's bits
                if (L == &full) continue;
                omp_set_num_threads(saved);
                EXPECT_TRUE(same_bits(run_e(c, mode, nullptr, &full), one));
            }
    }
    omp_set_num_threads(saved);
}

TEST(BoundE, AllocationFailuresGiveNaN) {
    const residual_case c = spd_case("alloc", 70, 1, 0.5);
    for (int32_t mode : {0, 1}) {
        const double ref = run_e(c, mode, nullptr);
        ASSERT_TRUE(ref > 0 && ref < inf);
        double g = 0;
        for_each_allocation_failure([&] { g = run_e(c, mode, nullptr); },
                                    [&](uint64_t k) {
                                        // T, P, M (and W): no bound; later ones only
                                        // make the products fall back
                                        if (k > 0 && k <= (mode == 1 ? 4u : 3u))
                                            EXPECT_TRUE(std::isnan(g));
                                        else
                                            EXPECT_TRUE(same_bits(g, ref));
                                    });
    }
}

}  // namespace
