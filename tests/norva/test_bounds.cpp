// Verified error bounds of the dense solver: W >= |I - R A| from bound_c in
// both modes against |I - R A| computed exactly with MPFR, R restored bit for
// bit, the fall-back to the exact bound, failures; the contraction test of
// boxed checked against its mathematical claim with MPFR, and enclosures of
// systems whose solution is known exactly.
#include <gtest/gtest.h>
#include <mpfr.h>
#include <omp.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "norva/solve.h"
#include "support/alloc_sweep.h"
#include "support/callbacks.h"
#include "support/oracle.h"

using namespace testsupport;
using std::vector;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double u = 0x1p-53;
constexpr double realmin = 0x1p-1022;
constexpr double tiny = 0x1p-1000;

double up(double x) { return std::nextafter(x, inf); }
double down(double x) { return std::nextafter(x, -inf); }

struct gen {
    std::mt19937_64 rng;
    explicit gen(uint64_t seed) : rng(seed) {}
    double unit() { return std::ldexp((double)(rng() >> 11), -53); }  // [0, 1)
    double sym() { return 2 * unit() - 1; }                           // [-1, 1)
    int irange(int lo, int hi) { return lo + (int)(rng() % (uint64_t)(hi - lo + 1)); }
};

bool bits_equal(const vector<double> &a, const vector<double> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<uint64_t>(a[i]) != std::bit_cast<uint64_t>(b[i])) return false;
    return true;
}

class threads_scope {
public:
    explicit threads_scope(int t) : saved_(omp_get_max_threads()) { omp_set_num_threads(t); }
    ~threads_scope() { omp_set_num_threads(saved_); }

private:
    int saved_;
};

// Gauss-Jordan inverse with partial pivoting, plain double (an approximate
// inverse of the test's own, independent of the library's).
vector<double> approx_inverse(uint64_t n, const vector<double> &A, uint64_t lda) {
    vector<double> M(n * 2 * n, 0.0);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) M[i * 2 * n + j] = A[i * lda + j];
        M[i * 2 * n + n + i] = 1.0;
    }
    for (uint64_t c = 0; c < n; ++c) {
        uint64_t p = c;
        for (uint64_t r = c + 1; r < n; ++r)
            if (std::fabs(M[r * 2 * n + c]) > std::fabs(M[p * 2 * n + c])) p = r;
        for (uint64_t j = 0; j < 2 * n; ++j) std::swap(M[c * 2 * n + j], M[p * 2 * n + j]);
        const double d = M[c * 2 * n + c];
        for (uint64_t j = 0; j < 2 * n; ++j) M[c * 2 * n + j] /= d;
        for (uint64_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = M[r * 2 * n + c];
            if (f == 0) continue;
            for (uint64_t j = 0; j < 2 * n; ++j) M[r * 2 * n + j] -= f * M[c * 2 * n + j];
        }
    }
    vector<double> R(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) R[i * n + j] = M[i * 2 * n + n + j];
    return R;
}

using testsupport::reverse_gemm;

// ---- bound_c -------------------------------------------------------------------

struct matrix_case {
    const char *name;
    uint64_t n, lda;
    vector<double> A, R;
};

matrix_case random_case(gen &g, uint64_t n, int row_scale) {
    matrix_case c{"random", n, n + 2, vector<double>(n * (n + 2), 3.0), {}};
    for (uint64_t i = 0; i < n; ++i) {
        const int e = row_scale ? g.irange(-row_scale, row_scale) : 0;
        for (uint64_t j = 0; j < n; ++j) c.A[i * c.lda + j] = std::ldexp(g.sym(), e);
        c.A[i * c.lda + i] += std::ldexp(i % 2 ? 0.5 : -0.5, e);
    }
    c.R = approx_inverse(n, c.A, c.lda);
    return c;
}

matrix_case hilbert_case(uint64_t n) {
    matrix_case c{"hilbert", n, n, vector<double>(n * n), {}};
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) c.A[i * n + j] = 1.0 / (double)(i + j + 1);
    c.R = approx_inverse(n, c.A, n);
    return c;
}

// Exact (I - R A)_ij and (|R| |A|)_ij.
void exact_entry(const matrix_case &c, uint64_t i, uint64_t j, exact_total &e, exact_total &abs) {
    e.clear();
    abs.clear();
    e.add(i == j ? 1.0 : 0.0);
    for (uint64_t l = 0; l < c.n; ++l) {
        e.add_product(-c.R[i * c.n + l], c.A[l * c.lda + j]);
        abs.add_product(std::fabs(c.R[i * c.n + l]), std::fabs(c.A[l * c.lda + j]));
    }
}

// 1 if |v| > w, 0 if equal, -1 if below.
int cmpabs(const __mpfr_struct *v, double w) {
    mpfr_t t;
    mpfr_init2(t, mpfr_get_prec(v));
    mpfr_abs(t, v, MPFR_RNDN);
    const int c = mpfr_cmp_d(t, w);
    mpfr_clear(t);
    return c;
}

vector<double> run_bound(const matrix_case &c, int32_t mode, norva_gemm_fn gemm, int32_t *status,
                         vector<double> *R_after = nullptr) {
    vector<double> R = c.R, W(c.n * c.n, -7.0);
    *status = norva::bound_c(c.n, c.A.data(), c.lda, R.data(), W.data(), mode, gemm, nullptr);
    if (R_after) *R_after = R;
    return W;
}

TEST(BoundC, BothModesBoundIMinusRAFromAbove) {
    gen g(11);
    vector<matrix_case> cases;
    for (uint64_t n : {1ull, 2ull, 9ull, 30ull}) cases.push_back(random_case(g, n, 0));
    cases.push_back(random_case(g, 25, 300));  // rows scaled over a wide range
    cases.push_back(random_case(g, 66, 4));    // parallel regions
    cases.push_back(hilbert_case(9));          // large entries of I - R A
    for (const matrix_case &c : cases) {
        const uint64_t n = c.n;
        for (int32_t mode : {0, 1}) {
            for (norva_gemm_fn gemm : {(norva_gemm_fn) nullptr, reverse_gemm}) {
                SCOPED_TRACE(::testing::Message() << c.name << " n = " << n << ", mode " << mode
                                                  << (gemm ? ", reverse callback" : ""));
                int32_t status = -2;
                vector<double> R_after;
                const vector<double> W = run_bound(c, mode, gemm, &status, &R_after);
                ASSERT_EQ(status, mode == 0 ? 1 : 0);
                EXPECT_TRUE(bits_equal(R_after, c.R)) << "R not restored";
                exact_total e, abs;
                for (uint64_t i = 0; i < n; ++i)
                    for (uint64_t j = 0; j < n; ++j) {
                        exact_entry(c, i, j, e, abs);
                        const double w = W[i * n + j];
                        ASSERT_LT(cmpabs(e.value(), w), 0)
                            << "W_" << i << j << " = " << describe(w) << " not above |I - RA|";
                        if (mode == 0) {
                            // one step up from |I - R A| rounded to nearest: at most
                            // the second double above the exact magnitude
                            ASSERT_TRUE(same_bits(w, up(std::fabs(e.round(0))))) << i << ", " << j;
                            const double below = std::fabs(e.round(3));  // |E| toward zero
                            ASSERT_LE(w, up(up(below))) << i << ", " << j;
                        } else {
                            // not much coarser than the a priori error of the product
                            const double mag = std::max(std::fabs(e.round(1)), std::fabs(e.round(2)));
                            const double cap = mag * (1 + 0x1p-50) +
                                               3.0 * (double)(n + 1) * u * abs.round(1) +
                                               10.0 * (double)(n + 2) * realmin;
                            ASSERT_LE(w, cap) << i << ", " << j;
                        }
                    }
            }
        }
    }
}

TEST(BoundC, IdentityInBothModes) {
    const uint64_t n = 3;
    matrix_case c{"identity", n, n, vector<double>(n * n, 0.0), {}};
    for (uint64_t i = 0; i < n; ++i) c.A[i * n + i] = 1.0;
    c.R = c.A;
    int32_t status = -2;
    const vector<double> W0 = run_bound(c, 0, nullptr, &status);
    ASSERT_EQ(status, 1);
    for (double w : W0) EXPECT_TRUE(same_bits(w, 0x1p-1074));
    const vector<double> W1 = run_bound(c, 1, nullptr, &status);
    ASSERT_EQ(status, 0);
    const double H = 8 * realmin;  // 2 (n + 1) realmin
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double w = W1[i * n + j];
            if (i == j) {  // about gamma_4
                EXPECT_GT(w, 4 * u);
                EXPECT_LT(w, 4 * u * (1 + 0x1p-45));
            } else {  // about H
                EXPECT_GT(w, H);
                EXPECT_LT(w, H * (1 + 0x1p-45));
            }
        }
}

TEST(BoundC, SubnormalEntryFallsBackToTheExactBound) {
    gen g(12);
    for (int where = 0; where < 4; ++where) {
        SCOPED_TRACE(::testing::Message() << "case " << where);
        matrix_case c = random_case(g, 7, 0);
        const double sub = where % 2 ? -1e-310 : 1e-310;
        if (where < 2) c.A[3 * c.lda + 5] = sub;
        else c.R[6 * c.n + 0] = sub;
        int32_t s0 = -2, s1 = -2;
        const vector<double> W0 = run_bound(c, 0, nullptr, &s0);
        vector<double> R_after;
        const vector<double> W1 = run_bound(c, 1, reverse_gemm, &s1, &R_after);
        EXPECT_EQ(s0, 1);
        EXPECT_EQ(s1, 1) << "mode 1 must report the exact bound";
        EXPECT_TRUE(bits_equal(W1, W0));
        EXPECT_TRUE(bits_equal(R_after, c.R));
    }
    // the smallest normal number is not a reason to fall back
    matrix_case c = random_case(g, 7, 0);
    c.A[2 * c.lda + 2] = realmin;
    int32_t s = -2;
    run_bound(c, 1, nullptr, &s);
    EXPECT_EQ(s, 0);
}

TEST(BoundC, RestoresRBitForBitAndReportsNonFiniteProducts) {
    gen g(13);
    matrix_case c = random_case(g, 5, 0);
    c.R[1] = -0.0;
    c.R[7] = 0.0;
    c.R[12] = std::bit_cast<double>(0x7ff8dead0000beefULL);  // NaN with a payload
    c.R[13] = std::bit_cast<double>(0xfff4000000000001ULL);  // signalling NaN, sign set
    for (int32_t mode : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        int32_t status = -2;
        vector<double> R_after;
        const vector<double> W = run_bound(c, mode, nullptr, &status, &R_after);
        EXPECT_TRUE(bits_equal(R_after, c.R));
        if (mode == 0) {
            EXPECT_EQ(status, 1);  // the exact product does not fail; NaN where R was NaN
            EXPECT_TRUE(std::isnan(W[2 * 5 + 0]));
            EXPECT_FALSE(std::isnan(W[0]));
        } else {
            EXPECT_EQ(status, -1);
        }
    }
    // an overflowing floating-point product fails mode 1; mode 0 gives infinities
    matrix_case big = random_case(g, 4, 0);
    for (double &v : big.A) v *= 0x1p600;
    for (double &v : big.R) v *= 0x1p500;
    int32_t status = -2;
    vector<double> R_after;
    run_bound(big, 1, nullptr, &status, &R_after);
    EXPECT_EQ(status, -1);
    EXPECT_TRUE(bits_equal(R_after, big.R));
    const vector<double> W = run_bound(big, 0, nullptr, &status, &R_after);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(W[0], inf);
    EXPECT_TRUE(bits_equal(R_after, big.R));
}

TEST(BoundC, AllocationFailures) {
    gen g(14);
    for (uint64_t n : {6ull, 70ull}) {
        SCOPED_TRACE(::testing::Message() << "n = " << n);
        const matrix_case c = random_case(g, n, 2);
        for (int32_t mode : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode);
            int32_t ref_status = -2;
            const vector<double> ref = run_bound(c, mode, reverse_gemm, &ref_status);
            ASSERT_EQ(ref_status, mode == 0 ? 1 : 0);
            vector<double> R = c.R, W(n * n);
            int32_t status = -2;
            const uint64_t calls = for_each_allocation_failure(
                [&] {
                    status = norva::bound_c(n, c.A.data(), c.lda, R.data(), W.data(), mode,
                                            reverse_gemm, nullptr);
                },
                [&](uint64_t k) {
                    EXPECT_TRUE(bits_equal(R, c.R)) << "R changed";
                    if (mode == 1 && k > 0) {
                        EXPECT_EQ(status, -1);  // the scratch of the floating-point bound
                    } else {
                        // the exact bound: failures only make the Ozaki product
                        // fall back, with the same result
                        EXPECT_EQ(status, ref_status);
                        EXPECT_TRUE(bits_equal(W, ref));
                    }
                });
            if (mode == 1) EXPECT_EQ(calls, 3u) << "|R|, |A| and |R| |A|";
            else EXPECT_GT(calls, 0u);
        }
    }
}

TEST(BoundC, ThreadCountsGiveIdenticalBounds) {
    gen g(15);
    const matrix_case c = random_case(g, 80, 3);
    for (int32_t mode : {0, 1}) {
        int32_t status = -2;
        vector<double> one;
        {
            threads_scope t(1);
            one = run_bound(c, mode, reverse_gemm, &status);
        }
        for (int threads : {2, 3}) {
            threads_scope t(threads);
            EXPECT_TRUE(bits_equal(run_bound(c, mode, reverse_gemm, &status), one))
                << "mode " << mode << ", " << threads << " threads";
        }
    }
}

// ---- boxed -------------------------------------------------------------------------

struct box_case {
    uint64_t n;
    vector<double> W, x, x_lo, c_lo, c_hi, z;  // x_lo empty: absent
};

struct box_result {
    int status = -2;
    vector<double> y, t1, lo, hi;
};

constexpr double sentinel = 12345.0;

box_result run_boxed(const box_case &c) {
    const uint64_t n = c.n;
    box_result r{-2, vector<double>(n), vector<double>(n), vector<double>(n, sentinel),
                 vector<double>(n, sentinel)};
    vector<double> t2(n);
    r.status = norva::boxed(n, c.W.data(), c.x.data(), c.x_lo.empty() ? nullptr : c.x_lo.data(),
                            c.c_lo.data(), c.c_hi.data(), c.z.data(), r.y.data(), r.t1.data(),
                            t2.data(), r.lo.data(), r.hi.data());
    return r;
}

// On success, with y and W y as left by boxed: z + W y < y holds exactly,
// and out_lo <= x (+ x_lo) + c_lo - W y, out_hi >= x (+ x_lo) + c_hi + W y.
void expect_proof_holds(const box_case &c, const box_result &r) {
    const uint64_t n = c.n;
    exact_total wy, e;
    for (uint64_t i = 0; i < n; ++i) {
        wy.clear();
        for (uint64_t j = 0; j < n; ++j) wy.add_product(c.W[i * n + j], r.y[j]);
        ASSERT_LE(mpfr_cmp_d(wy.value(), r.t1[i]), 0) << "row " << i;
        e.clear();
        e.add_exact(wy.value());
        e.add(c.z[i]);
        ASSERT_LT(mpfr_cmp_d(e.value(), r.y[i]), 0) << "z + W y < y fails in row " << i;
        for (int side = 0; side < 2; ++side) {
            e.clear();
            e.add(c.x[i]);
            if (!c.x_lo.empty()) e.add(c.x_lo[i]);
            e.add(side == 0 ? c.c_lo[i] : c.c_hi[i]);
            if (side == 0) mpfr_neg(wy.value(), wy.value(), MPFR_RNDN);
            e.add_exact(wy.value());
            if (side == 0) {
                ASSERT_GE(mpfr_cmp_d(e.value(), r.lo[i]), 0) << "lower bound, row " << i;
                mpfr_neg(wy.value(), wy.value(), MPFR_RNDN);
            } else {
                ASSERT_LE(mpfr_cmp_d(e.value(), r.hi[i]), 0) << "upper bound, row " << i;
            }
        }
    }
}

// W with non-negative entries and every row sum about `rows`.
vector<double> contracting_w(gen &g, uint64_t n, double rows) {
    vector<double> W(n * n);
    for (uint64_t i = 0; i < n; ++i) {
        double s = 0;
        for (uint64_t j = 0; j < n; ++j) s += (W[i * n + j] = g.unit() + 0x1p-20);
        for (uint64_t j = 0; j < n; ++j) W[i * n + j] *= rows / s;
    }
    return W;
}

box_case random_box(gen &g, uint64_t n, double rows, bool two_part) {
    box_case c{n, contracting_w(g, n, rows), vector<double>(n), {}, vector<double>(n),
               vector<double>(n), vector<double>(n)};
    for (uint64_t i = 0; i < n; ++i) {
        c.x[i] = std::ldexp(g.sym(), g.irange(-5, 5));
        const double a = std::ldexp(g.sym(), -40), b = std::ldexp(g.sym(), -40);
        c.c_lo[i] = std::min(a, b);
        c.c_hi[i] = std::max(a, b);
        c.z[i] = std::fmax(std::fabs(c.c_lo[i]), std::fabs(c.c_hi[i]));
    }
    if (two_part) {
        c.x_lo.resize(n);
        for (uint64_t i = 0; i < n; ++i) c.x_lo[i] = std::ldexp(g.sym(), -60);
    }
    return c;
}

TEST(Boxed, ProofConditionAndEnclosureHold) {
    gen g(21);
    for (uint64_t n : {1ull, 3ull, 40ull, 64ull, 90ull}) {
        for (double rows : {0.0, 0.25, 0.8}) {
            for (bool two_part : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "n = " << n << ", row sums " << rows
                                                  << (two_part ? ", two-part x" : ""));
                const box_case c = random_box(g, n, rows, two_part);
                const box_result r = run_boxed(c);
                ASSERT_EQ(r.status, 0);
                expect_proof_holds(c, r);
                // outward rounding of the enclosure, no wider than a few units
                for (uint64_t i = 0; i < n; ++i) {
                    ASSERT_LE(r.lo[i], r.hi[i]);
                    EXPECT_LE(r.hi[i] - r.lo[i],
                              2 * (c.c_hi[i] - c.c_lo[i]) + 2 * r.t1[i] + 0x1p-45 * std::fabs(c.x[i]) +
                                  0x1p-1000);
                }
            }
        }
    }
}

TEST(Boxed, ZeroZProvesAtOnceFromTheSmallestStart) {
    gen g(22);
    const uint64_t n = 8;
    box_case c = random_box(g, n, 0.5, false);
    for (uint64_t i = 0; i < n; ++i) c.c_lo[i] = c.c_hi[i] = c.z[i] = 0.0;
    const box_result r = run_boxed(c);
    ASSERT_EQ(r.status, 0);
    for (uint64_t i = 0; i < n; ++i) {
        EXPECT_EQ(r.y[i], tiny) << "more than one sweep";  // 0 * 1.0625 + 2^-1000
        EXPECT_EQ(r.lo[i], down(c.x[i]));
        EXPECT_EQ(r.hi[i], up(c.x[i]));
    }
    expect_proof_holds(c, r);
}

TEST(Boxed, SeveralSweepsWhenTheFirstGuessIsTooSmall) {
    // Row sums 0.8 and z = 1: y grows like y <- 1 + 0.85 y until 1.0625 y > 1 + 0.85 y.
    gen g(23);
    const uint64_t n = 5;
    box_case c = random_box(g, n, 0.8, false);
    for (uint64_t i = 0; i < n; ++i) {
        c.c_lo[i] = -1.0;
        c.c_hi[i] = 0.5;
        c.z[i] = 1.0;
    }
    const box_result r = run_boxed(c);
    ASSERT_EQ(r.status, 0);
    for (uint64_t i = 0; i < n; ++i) EXPECT_GT(r.y[i], 4.0) << "the first guesses cannot pass";
    expect_proof_holds(c, r);
}

TEST(Boxed, NoContractionReturnsOneAfterTwelveSweeps) {
    // W = 1, z = 0: every sweep fails with t2 = y, so y is inflated exactly
    // once per sweep from 0.
    box_case c{1, {1.0}, {2.0}, {}, {0.0}, {0.0}, {0.0}};
    box_result r = run_boxed(c);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lo[0], sentinel);
    EXPECT_EQ(r.hi[0], sentinel);
    double y[14] = {0.0};
    for (int k = 1; k < 14; ++k) y[k] = y[k - 1] * 1.0625 + tiny;
    EXPECT_EQ(r.y[0], y[12]);
    EXPECT_NE(r.y[0], y[11]);
    EXPECT_NE(r.y[0], y[13]);

    // one diagonal entry of 1 or more among contracting rows
    gen g(24);
    for (uint64_t n : {3ull, 70ull}) {
        for (double d : {1.0, 1.5}) {
            box_case b = random_box(g, n, 0.1, n == 3);
            b.W[(n - 1) * n + (n - 1)] = d;
            r = run_boxed(b);
            EXPECT_EQ(r.status, 1) << "n = " << n << ", diagonal " << d;
            for (uint64_t i = 0; i < n; ++i) {
                EXPECT_EQ(r.lo[i], sentinel);
                EXPECT_EQ(r.hi[i], sentinel);
            }
        }
    }
    // row sums of 1: no positive y has W y < y
    box_case b = random_box(g, 6, 1.0, false);
    EXPECT_EQ(run_boxed(b).status, 1);
}

TEST(Boxed, NonFiniteInputsAreNotProven) {
    gen g(25);
    const uint64_t n = 4;
    // a NaN end of the enclosure of R (b - A x), although z (NaN ignored by
    // its maximum) is finite
    for (int side = 0; side < 2; ++side) {
        box_case c = random_box(g, n, 0.1, false);
        (side == 0 ? c.c_lo : c.c_hi)[2] = std::nan("");
        c.z[2] = std::fabs((side == 0 ? c.c_hi : c.c_lo)[2]);
        const box_result r = run_boxed(c);
        EXPECT_EQ(r.status, 1) << "side " << side;
        EXPECT_EQ(r.lo[0], sentinel);
    }
    box_case c = random_box(g, n, 0.1, false);
    c.W[5] = std::nan("");
    EXPECT_EQ(run_boxed(c).status, 1);
    c = random_box(g, n, 0.1, false);
    c.z[1] = inf;
    c.c_hi[1] = inf;
    EXPECT_EQ(run_boxed(c).status, 1);
}

TEST(Boxed, ThreadCountsGiveIdenticalResults) {
    gen g(26);
    const box_case c = random_box(g, 100, 0.7, true);
    box_result one;
    {
        threads_scope t(1);
        one = run_boxed(c);
    }
    ASSERT_EQ(one.status, 0);
    for (int threads : {2, 3}) {
        threads_scope t(threads);
        const box_result r = run_boxed(c);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(bits_equal(r.lo, one.lo) && bits_equal(r.hi, one.hi) && bits_equal(r.y, one.y))
            << threads << " threads";
    }
}

// ---- the pieces together on systems with a known solution --------------------------

// Integer A, solution x* with few digits (b = A x* exact), an approximate x
// perturbed away from x*: bound_c, the exact residual, its enclosure, boxed.
TEST(Enclosure, ContainsTheExactSolution) {
    gen g(31);
    for (uint64_t n : {1ull, 4ull, 25ull, 70ull}) {
        for (int32_t mode : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "n = " << n << ", mode " << mode);
            vector<double> A(n * n), xs(n), b(n, 0.0);
            for (uint64_t i = 0; i < n; ++i) {
                for (uint64_t j = 0; j < n; ++j) A[i * n + j] = g.irange(-20, 20);
                A[i * n + i] += 30.0 * (double)n;  // diagonally dominant
                xs[i] = g.irange(-4096, 4096) * 0.25;
            }
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = 0; j < n; ++j) b[i] += A[i * n + j] * xs[j];  // exact
            vector<double> R = approx_inverse(n, A, n), W(n * n);
            ASSERT_GE(norva::bound_c(n, A.data(), n, R.data(), W.data(), mode, nullptr, nullptr), 0);
            vector<double> x(n), nx(n), res(n), rlo(n), rhi(n), clo(n), chi(n), z(n), y(n),
                t1(n), t2(n), lo(n), hi(n);
            for (uint64_t i = 0; i < n; ++i) {
                x[i] = xs[i] * (1 + 1e-9 * g.sym()) + 1e-7 * g.sym();
                nx[i] = -x[i];
            }
            norva::residual_rows(n, A.data(), n, nx.data(), b.data(), res.data());
            for (uint64_t i = 0; i < n; ++i) rlo[i] = down(res[i]), rhi[i] = up(res[i]);
            ASSERT_EQ(norva::column_enclose(n, R.data(), rlo.data(), rhi.data(), clo.data(),
                                            chi.data(), z.data()),
                      0);
            ASSERT_EQ(norva::boxed(n, W.data(), x.data(), nullptr, clo.data(), chi.data(), z.data(),
                                   y.data(), t1.data(), t2.data(), lo.data(), hi.data()),
                      0);
            for (uint64_t i = 0; i < n; ++i) {
                EXPECT_LE(lo[i], xs[i]) << "row " << i;
                EXPECT_GE(hi[i], xs[i]) << "row " << i;
                EXPECT_LE(hi[i] - lo[i], 1e-9 * (1 + std::fabs(xs[i])));
            }
        }
    }
}

// A two-part approximate solution: x_hi is off by many units and x_lo
// carries the difference, so the enclosure is right only if it is formed
// from x_hi + x_lo.  A = diag(3, 7, 11), x* = b / diag is not a double; the
// check a_ii lo_i <= b_i <= a_ii hi_i is exact in MPFR.
TEST(Enclosure, TwoPartSolutionIsUsedInFull) {
    const uint64_t n = 3;
    const double d[3] = {3.0, 7.0, 11.0}, bb[3] = {1.0, -2.0, 5.0};
    vector<double> A(n * n, 0.0), b(bb, bb + 3), xh(n), xl(n);
    for (uint64_t i = 0; i < n; ++i) A[i * n + i] = d[i];
    mpfr_t q, t;
    mpfr_init2(q, 200);
    mpfr_init2(t, 200);
    for (uint64_t i = 0; i < n; ++i) {
        mpfr_set_d(q, bb[i], MPFR_RNDN);
        mpfr_div_d(q, q, d[i], MPFR_RNDN);                                 // x* to 200 bits
        xh[i] = mpfr_get_d(q, MPFR_RNDN) * (1 + 64 * u);                   // 64 units off
        mpfr_sub_d(t, q, xh[i], MPFR_RNDN);
        xl[i] = mpfr_get_d(t, MPFR_RNDN);  // x* - x_hi to double precision
    }
    vector<double> R = approx_inverse(n, A, n), W(n * n);
    ASSERT_EQ(norva::bound_c(n, A.data(), n, R.data(), W.data(), 0, nullptr, nullptr), 1);
    // residual of x_hi + x_lo, exact, rounded outward
    vector<double> rlo(n), rhi(n), clo(n), chi(n), z(n), y(n), t1(n), t2(n), lo(n), hi(n);
    for (uint64_t i = 0; i < n; ++i) {
        exact_total e;
        e.add(b[i]);
        for (uint64_t j = 0; j < n; ++j) {
            e.add_product(A[i * n + j], -xh[j]);
            e.add_product(A[i * n + j], -xl[j]);
        }
        rlo[i] = e.round(2);
        rhi[i] = e.round(1);
    }
    ASSERT_EQ(norva::column_enclose(n, R.data(), rlo.data(), rhi.data(), clo.data(), chi.data(),
                                    z.data()),
              0);
    ASSERT_EQ(norva::boxed(n, W.data(), xh.data(), xl.data(), clo.data(), chi.data(), z.data(),
                           y.data(), t1.data(), t2.data(), lo.data(), hi.data()),
              0);
    for (uint64_t i = 0; i < n; ++i) {
        mpfr_set_d(t, lo[i], MPFR_RNDN);
        mpfr_mul_d(t, t, d[i], MPFR_RNDN);  // exact: 53 x 4 bits
        EXPECT_LE(mpfr_cmp_d(t, bb[i]), 0) << "row " << i;
        mpfr_set_d(t, hi[i], MPFR_RNDN);
        mpfr_mul_d(t, t, d[i], MPFR_RNDN);
        EXPECT_GE(mpfr_cmp_d(t, bb[i]), 0) << "row " << i;
        EXPECT_LE(hi[i], up(up(lo[i]))) << "not tight: row " << i;
    }
    mpfr_clear(q);
    mpfr_clear(t);
}

}  // namespace
