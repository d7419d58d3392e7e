// Residual kernels of the dense solver against MPFR: exact residuals rounded
// once to nearest (row region and the residual matrix with fewer and with
// more than seven right-hand sides), the interval residual rounded outward,
// the enclosure of R times a residual box by directed exact dot products,
// the plain update; bit-identity across thread counts and branches, exact
// zeros of integer systems, allocation failures.
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
#include "support/test_scale.h"

using namespace testsupport;
using std::vector;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// Random doubles with random signs and exponents in [-e, e], some zeros of
// both signs.
struct gen {
    std::mt19937_64 rng;
    explicit gen(uint64_t seed) : rng(seed) {}
    double unit() { return std::ldexp((double)(rng() >> 11), -53); }
    int irange(int lo, int hi) { return lo + (int)(rng() % (uint64_t)(hi - lo + 1)); }
    double value(int e) {
        const uint64_t r = rng() % 64;
        if (r == 0) return 0.0;
        if (r == 1) return -0.0;
        const double m = 1.0 + unit();
        const double v = std::ldexp(m, irange(-e, e));
        return (rng() & 1) ? -v : v;
    }
    vector<double> vec(size_t n, int e) {
        vector<double> v(n);
        for (double &x : v) x = value(e);
        return v;
    }
    // Small integers (exact products and sums in double).
    vector<double> ints(size_t n, int range) {
        vector<double> v(n);
        for (double &x : v) x = (double)irange(-range, range);
        return v;
    }
};

// Exact sum_j M_ij v_j + p_i rounded in mode rnd.
double oracle_row(const double *Mi, const double *v, uint64_t n, double p, unsigned rnd) {
    exact_total e;
    for (uint64_t j = 0; j < n; ++j) e.add_product(Mi[j], v[j]);
    e.add(p);
    return e.round(rnd);
}

vector<double> negated(const vector<double> &x) {
    vector<double> y(x.size());
    for (size_t i = 0; i < x.size(); ++i) y[i] = -x[i];
    return y;
}

// A system whose residual b - A x cancels: b_i = fl(A_i x) plus a few units,
// so that the exact residual is small and needs all digits of the products.
void cancelling_system(gen &g, uint64_t n, vector<double> &A, vector<double> &x,
                       vector<double> &b) {
    A = g.vec(n * n, 30);
    x = g.vec(n, 30);
    b.assign(n, 0.0);
    for (uint64_t i = 0; i < n; ++i) {
        double s = 0;
        for (uint64_t j = 0; j < n; ++j) s += A[i * n + j] * x[j];
        b[i] = s;
        if (i % 3 == 1) b[i] = std::nextafter(s, inf);
    }
}

class threads_scope {
public:
    explicit threads_scope(int t) : saved_(omp_get_max_threads()) { omp_set_num_threads(t); }
    ~threads_scope() { omp_set_num_threads(saved_); }

private:
    int saved_;
};

bool bits_equal(const vector<double> &a, const vector<double> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<uint64_t>(a[i]) != std::bit_cast<uint64_t>(b[i])) return false;
    return true;
}

// ---- residual_rows ----------------------------------------------------------

TEST(ResidualRows, ExactResidualRoundedToNearest) {
    gen g(101);
    const uint64_t sizes[] = {1, 2, 7, 63, 64, 65, 130};
    for (uint64_t n : sizes) {
        for (int rep = 0; rep < scaled(3); ++rep) {
            SCOPED_TRACE(::testing::Message() << "n = " << n << ", case " << rep);
            vector<double> A, x, b;
            const uint64_t lda = n + 3;
            if (rep % 2 == 0) {
                cancelling_system(g, n, A, x, b);
                vector<double> padded(n * lda, 7.0);  // leading dimension > n
                for (uint64_t i = 0; i < n; ++i)
                    for (uint64_t j = 0; j < n; ++j) padded[i * lda + j] = A[i * n + j];
                A = padded;
            } else {
                A = g.vec(n * lda, 300);  // wide exponent range, over- and underflowing products
                x = g.vec(n, 300);
                b = g.vec(n, 300);
            }
            const vector<double> nx = negated(x);
            vector<double> out(n, 99.0);
            norva::residual_rows(n, A.data(), lda, nx.data(), b.data(), out.data());
            for (uint64_t i = 0; i < n; ++i)
                ASSERT_TRUE(same_bits(out[i], oracle_row(&A[i * lda], nx.data(), n, b[i], 0)))
                    << "row " << i;
            // out may be the same array as p
            vector<double> inplace = b;
            norva::residual_rows(n, A.data(), lda, nx.data(), inplace.data(), inplace.data());
            EXPECT_TRUE(bits_equal(inplace, out));
        }
    }
}

TEST(ResidualRows, IntegerSystemWithItsSolutionGivesZero) {
    gen g(102);
    for (uint64_t n : {3ull, 50ull, 100ull}) {
        const vector<double> A = g.ints(n * n, 1000), x = g.ints(n, 1000);
        vector<double> b(n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) b[i] += A[i * n + j] * x[j];  // exact integers
        const vector<double> nx = negated(x);
        vector<double> out(n, 1.0);
        norva::residual_rows(n, A.data(), n, nx.data(), b.data(), out.data());
        for (uint64_t i = 0; i < n; ++i) EXPECT_TRUE(same_bits(out[i], 0.0)) << "row " << i;
    }
}

// ---- residuals (the residual matrix) -----------------------------------------

// negA, X (n x nrhs), B (n x nrhs with leading dimension ldb).
struct residual_case {
    uint64_t n, nrhs, ldb;
    vector<double> negA, X, B;
};

residual_case make_residual_case(gen &g, uint64_t n, uint64_t nrhs) {
    residual_case c{n, nrhs, nrhs + 2, {}, {}, {}};
    vector<double> A, x, b;
    cancelling_system(g, n, A, x, b);
    c.negA = negated(A);
    c.X.assign(n * nrhs, 0.0);
    c.B.assign(n * c.ldb, 5.0);
    for (uint64_t k = 0; k < nrhs; ++k)
        for (uint64_t i = 0; i < n; ++i) {
            double xv, bv;
            switch (k % 4) {
                case 0: xv = x[i], bv = b[i]; break;               // cancelling column
                case 1: xv = g.value(200), bv = g.value(200); break;  // wide range
                case 2: xv = 0.0, bv = -0.0; break;                // signed zeros
                default: xv = std::ldexp(x[i], -1000), bv = std::ldexp(b[i], -1000); break;
            }
            c.X[i * nrhs + k] = xv;
            c.B[i * c.ldb + k] = bv;
        }
    return c;
}

vector<double> run_residuals(const residual_case &c, int *status, norva_gemm_fn gemm = nullptr) {
    vector<double> res(c.n * c.nrhs, 42.0), t(c.n), q(c.n);
    *status = norva::residuals(c.n, c.nrhs, c.negA.data(), c.X.data(), c.B.data(), c.ldb,
                               res.data(), t.data(), q.data(), gemm, nullptr);
    return res;
}

void expect_residuals_exact(const residual_case &c, const vector<double> &res) {
    vector<double> col(c.n);
    for (uint64_t k = 0; k < c.nrhs; ++k) {
        for (uint64_t i = 0; i < c.n; ++i) col[i] = c.X[i * c.nrhs + k];
        for (uint64_t i = 0; i < c.n; ++i)
            ASSERT_TRUE(same_bits(res[i * c.nrhs + k],
                                  oracle_row(&c.negA[i * c.n], col.data(), c.n, c.B[i * c.ldb + k], 0)))
                << "row " << i << ", column " << k;
    }
}

using testsupport::reverse_gemm;

TEST(Residuals, SevenAndEightRightHandSidesAreExactAndIdentical) {
    gen g(201);
    for (uint64_t n : {1ull, 9ull, 40ull, 70ull}) {
        SCOPED_TRACE(::testing::Message() << "n = " << n);
        const residual_case c8 = make_residual_case(g, n, 8);
        // the same data, first seven columns only
        residual_case c7{n, 7, 7 + 2, c8.negA, vector<double>(n * 7), vector<double>(n * 9, 5.0)};
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < 7; ++k) {
                c7.X[i * 7 + k] = c8.X[i * 8 + k];
                c7.B[i * c7.ldb + k] = c8.B[i * c8.ldb + k];
            }
        int s7 = -2, s8 = -2, s8r = -2;
        const vector<double> r7 = run_residuals(c7, &s7);
        const vector<double> r8 = run_residuals(c8, &s8);
        const vector<double> r8r = run_residuals(c8, &s8r, reverse_gemm);
        ASSERT_EQ(s7, 0);
        ASSERT_EQ(s8, 0);
        ASSERT_EQ(s8r, 0);
        expect_residuals_exact(c7, r7);
        expect_residuals_exact(c8, r8);
        EXPECT_TRUE(bits_equal(r8, r8r)) << "the callback changed the residuals";
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < 7; ++k)
                ASSERT_TRUE(same_bits(r8[i * 8 + k], r7[i * 7 + k])) << i << ", " << k;
    }
    // more columns on either side of the branch
    for (uint64_t nrhs : {1ull, 6ull, 12ull}) {
        const residual_case c = make_residual_case(g, 33, nrhs);
        int s = -2;
        const vector<double> r = run_residuals(c, &s);
        ASSERT_EQ(s, 0);
        expect_residuals_exact(c, r);
    }
}

TEST(Residuals, IntegerSystemWithItsSolutionGivesZeroInBothBranches) {
    gen g(202);
    const uint64_t n = 30;
    for (uint64_t nrhs : {3ull, 9ull}) {
        residual_case c{n, nrhs, nrhs, {}, g.ints(n * nrhs, 500), vector<double>(n * nrhs, 0.0)};
        const vector<double> A = g.ints(n * n, 500);
        c.negA = negated(A);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < nrhs; ++k)
                for (uint64_t j = 0; j < n; ++j) c.B[i * nrhs + k] += A[i * n + j] * c.X[j * nrhs + k];
        int s = -2;
        const vector<double> r = run_residuals(c, &s);
        ASSERT_EQ(s, 0);
        for (double v : r) EXPECT_TRUE(same_bits(v, 0.0));
    }
}

TEST(Residuals, AllocationFailuresChangeNothing) {
    gen g(203);
    const residual_case c = make_residual_case(g, 20, 9);  // Ozaki branch
    int ref_status = -2;
    const vector<double> ref = run_residuals(c, &ref_status);
    ASSERT_EQ(ref_status, 0);
    vector<double> res(c.n * c.nrhs), t(c.n), q(c.n);
    int status = -2;
    const uint64_t calls = for_each_allocation_failure(
        [&] {
            status = norva::residuals(c.n, c.nrhs, c.negA.data(), c.X.data(), c.B.data(), c.ldb,
                                      res.data(), t.data(), q.data(), nullptr, nullptr);
        },
        [&](uint64_t) {
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(bits_equal(res, ref));
        });
    EXPECT_GT(calls, 0u) << "the Ozaki product allocates its slices";
}

// ---- column_update -------------------------------------------------------------

TEST(ColumnUpdate, PlainSumInRowOrderAddedToX) {
    gen g(301);
    for (uint64_t n : {1ull, 5ull, 300ull}) {
        const vector<double> R = g.vec(n * n, 20), res = g.vec(n, 20), x0 = g.vec(n, 20);
        vector<double> x = x0;
        norva::column_update(n, R.data(), res.data(), x.data());
        for (uint64_t i = 0; i < n; ++i) {
            volatile double s = 0;  // one rounding per operation, j ascending
            for (uint64_t j = 0; j < n; ++j) {
                volatile double p = R[i * n + j] * res[j];
                s = s + p;
            }
            const double want = x0[i] + s;
            ASSERT_TRUE(same_bits(x[i], want)) << "n = " << n << ", row " << i;
        }
    }
}

// ---- column_interval_residual ------------------------------------------------

TEST(IntervalResidual, OutwardRoundedEnds) {
    gen g(401);
    for (uint64_t n : {1ull, 6ull, 64ull, 90ull}) {
        SCOPED_TRACE(::testing::Message() << "n = " << n);
        const uint64_t lda = n + 1;
        vector<double> A0, x, b;
        cancelling_system(g, n, A0, x, b);
        vector<double> A(n * lda, -3.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) A[i * lda + j] = A0[i * n + j];
        vector<double> rad(n * n), rb(n);
        for (double &v : rad) v = std::fabs(g.value(40)) * 0x1p-40;
        for (double &v : rb) v = std::fabs(g.value(40)) * 0x1p-40;
        rad[0] = 0.0;
        const vector<double> nx = negated(x);
        vector<double> absx2(2 * n);
        for (uint64_t j = 0; j < n; ++j) {
            absx2[j] = std::fabs(x[j]);
            absx2[n + j] = -std::fabs(x[j]);
        }
        vector<double> lo(n, 9.0), hi(n, 9.0);
        norva::column_interval_residual(n, A.data(), lda, b.data(), rad.data(), rb.data(),
                                        nx.data(), absx2.data(), lo.data(), hi.data());
        for (uint64_t i = 0; i < n; ++i) {
            exact_total el, eh;
            for (uint64_t j = 0; j < n; ++j) {
                el.add_product(A[i * lda + j], -x[j]);
                eh.add_product(A[i * lda + j], -x[j]);
                el.add_product(rad[i * n + j], -std::fabs(x[j]));
                eh.add_product(rad[i * n + j], std::fabs(x[j]));
            }
            el.add(b[i]);
            el.add(-rb[i]);
            eh.add(b[i]);
            eh.add(rb[i]);
            ASSERT_TRUE(same_bits(lo[i], el.round(2))) << "row " << i;
            ASSERT_TRUE(same_bits(hi[i], eh.round(1))) << "row " << i;
            EXPECT_LE(lo[i], hi[i]);
        }
    }
}

// ---- column_enclose ---------------------------------------------------------------

struct enclose_out {
    vector<double> lo, hi, z;
    int status = -2;
};

enclose_out run_enclose(uint64_t n, const vector<double> &R, const vector<double> &rlo,
                        const vector<double> &rhi) {
    enclose_out o{vector<double>(n, 7.0), vector<double>(n, 7.0), vector<double>(n, 7.0), -2};
    o.status = norva::column_enclose(n, R.data(), rlo.data(), rhi.data(), o.lo.data(), o.hi.data(),
                                     o.z.data());
    return o;
}

// Exact sum_j R_ij r_j for the r of the box [rlo, rhi] chosen by `pick`.
template <class Pick>
void exact_row(exact_total &e, const double *Ri, const vector<double> &rlo,
               const vector<double> &rhi, Pick pick) {
    e.clear();
    for (size_t j = 0; j < rlo.size(); ++j) e.add_product(Ri[j], pick(j, Ri[j], rlo[j], rhi[j]));
}

TEST(ColumnEnclose, ContainsEveryProductOverTheBox) {
    gen g(501);
    for (uint64_t n : {1ull, 4ull, 33ull, 64ull, 80ull}) {
        SCOPED_TRACE(::testing::Message() << "n = " << n);
        const vector<double> R = g.vec(n * n, 30);
        vector<double> rlo(n), rhi(n);
        for (uint64_t j = 0; j < n; ++j) {
            const double a = g.value(30), w = std::fabs(g.value(30)) * (j % 5 == 0 ? 0.0 : 0x1p-20);
            rlo[j] = a;
            rhi[j] = a + w;  // rounded: still rlo <= rhi
            if (j % 7 == 3) {  // straddles zero
                rhi[j] = std::fabs(rhi[j]);
                rlo[j] = -rhi[j];
            }
        }
        const enclose_out o = run_enclose(n, R, rlo, rhi);
        ASSERT_EQ(o.status, 0);
        exact_total e;
        std::mt19937_64 rng(7 * n + 1);
        for (uint64_t i = 0; i < n; ++i) {
            const double *Ri = &R[i * n];
            // The minimum over the box of a linear function: each term at the
            // end that makes it smallest (either end when R_ij is zero).
            exact_row(e, Ri, rlo, rhi, [](size_t, double r, double lo, double hi) {
                return r > 0 ? lo : r < 0 ? hi : lo;
            });
            const double min_down = e.round(2);
            ASSERT_GE(mpfr_cmp_d(e.value(), o.lo[i]), 0) << "c_lo above the minimum, row " << i;
            exact_row(e, Ri, rlo, rhi, [](size_t, double r, double lo, double hi) {
                return r > 0 ? hi : r < 0 ? lo : hi;
            });
            const double max_up = e.round(1);
            ASSERT_LE(mpfr_cmp_d(e.value(), o.hi[i]), 0) << "c_hi below the maximum, row " << i;
            // and tight: the directed roundings of the extremes themselves
            EXPECT_EQ(o.lo[i], min_down) << "row " << i;
            EXPECT_EQ(o.hi[i], max_up) << "row " << i;
            EXPECT_TRUE(same_bits(o.z[i], std::fmax(std::fabs(o.lo[i]), std::fabs(o.hi[i]))));
            // a few points inside the box
            for (int p = 0; p < 3; ++p) {
                exact_row(e, Ri, rlo, rhi, [&](size_t, double, double lo, double hi) {
                    return (rng() & 1) ? lo : hi;
                });
                EXPECT_GE(mpfr_cmp_d(e.value(), o.lo[i]), 0);
                EXPECT_LE(mpfr_cmp_d(e.value(), o.hi[i]), 0);
            }
        }
    }
}

TEST(ColumnEnclose, NegativeZeroSelectsTheSameEndsAsPositiveZero) {
    // With an infinite upper end at column 1, whichever sum takes that end
    // from a zero entry of R becomes NaN (0 * inf); the other stays finite.
    const uint64_t n = 3;
    const vector<double> rlo = {1.0, 2.0, -4.0}, rhi = {1.5, inf, -3.0};
    for (double zero : {0.0, -0.0}) {
        SCOPED_TRACE(::testing::Message() << "R_01 = " << zero);
        const vector<double> R = {0.5, zero, -0.25, 1.0, 2.0, 3.0, -1.0, zero, 0.0};
        const enclose_out o = run_enclose(n, R, rlo, rhi);
        ASSERT_EQ(o.status, 0);
        // row 0: zero counts as non-negative, so c_lo takes rlo_1 = 2 and
        // c_hi takes rhi_1 = inf.
        EXPECT_EQ(o.lo[0], 0.5 * 1.0 + 0.0 + -0.25 * -3.0);
        EXPECT_TRUE(std::isnan(o.hi[0]));
        // the maximum ignores the NaN end
        EXPECT_EQ(o.z[0], 1.25);
        // row 1: all positive, upper end infinite
        EXPECT_EQ(o.lo[1], 1.0 + 4.0 - 12.0);
        EXPECT_EQ(o.hi[1], inf);
        EXPECT_EQ(o.z[1], inf);
        // row 2: -1 takes the upper end for the lower bound
        EXPECT_EQ(o.lo[2], -1.5);
        EXPECT_TRUE(std::isnan(o.hi[2]));
        EXPECT_EQ(o.z[2], 1.5);
    }
}

TEST(ColumnEnclose, ExactZeroResidualGivesSubnormalEnclosure) {
    // Integer system with its exact solution: residual 0, widened to one
    // subnormal step on either side.
    gen g(502);
    const uint64_t n = 70;
    const vector<double> A = g.ints(n * n, 100), x = g.ints(n, 100);
    vector<double> b(n, 0.0);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) b[i] += A[i * n + j] * x[j];
    const vector<double> nx = negated(x);
    vector<double> res(n);
    norva::residual_rows(n, A.data(), n, nx.data(), b.data(), res.data());
    vector<double> rlo(n), rhi(n);
    for (uint64_t i = 0; i < n; ++i) {
        ASSERT_EQ(res[i], 0.0);
        rlo[i] = std::nextafter(res[i], -inf);
        rhi[i] = std::nextafter(res[i], inf);
    }
    const vector<double> R = g.vec(n * n, 3);
    const enclose_out o = run_enclose(n, R, rlo, rhi);
    ASSERT_EQ(o.status, 0);
    for (uint64_t i = 0; i < n; ++i) {
        EXPECT_LE(o.lo[i], 0.0);
        EXPECT_GE(o.hi[i], 0.0);
        EXPECT_LT(o.z[i], 0x1p-1022) << "row " << i;
        EXPECT_GT(o.z[i], 0.0);
    }
}

TEST(ColumnEnclose, AllocationFailureReturnsMinusOne) {
    gen g(503);
    for (uint64_t n : {10ull, 70ull}) {
        SCOPED_TRACE(::testing::Message() << "n = " << n);
        const vector<double> R = g.vec(n * n, 10), rlo = g.vec(n, 10);
        vector<double> rhi(n);
        for (uint64_t j = 0; j < n; ++j) rhi[j] = rlo[j] + std::fabs(rlo[j]) * 0x1p-30;
        const enclose_out ref = run_enclose(n, R, rlo, rhi);
        ASSERT_EQ(ref.status, 0);
        enclose_out o{vector<double>(n), vector<double>(n), vector<double>(n), -2};
        const uint64_t calls = for_each_allocation_failure(
            [&] {
                o.status = norva::column_enclose(n, R.data(), rlo.data(), rhi.data(), o.lo.data(),
                                                 o.hi.data(), o.z.data());
            },
            [&](uint64_t k) {
                if (k == 0 || (n < 64 && k > 1)) {
                    ASSERT_EQ(o.status, 0);
                } else if (k == 1) {
                    // the first allocation of the call is a thread's scratch
                    ASSERT_EQ(o.status, -1);
                    return;
                } else if (o.status == -1) {
                    return;  // another thread's scratch failed
                }
                // a failure of the optional buffers of the dot products
                ASSERT_EQ(o.status, 0);
                EXPECT_TRUE(bits_equal(o.lo, ref.lo));
                EXPECT_TRUE(bits_equal(o.hi, ref.hi));
                EXPECT_TRUE(bits_equal(o.z, ref.z));
            });
        if (n < 64) EXPECT_EQ(calls, 1u) << "one scratch vector on a team of one";
        else EXPECT_GE(calls, 1u);
    }
}

// ---- thread counts -------------------------------------------------------------------

TEST(Threads, ResultsDoNotDependOnTheTeamSize) {
    gen g(601);
    const uint64_t n = 150, nu = 300;
    vector<double> A, x, b;
    cancelling_system(g, n, A, x, b);
    const vector<double> nx = negated(x);
    const vector<double> R = g.vec(n * n, 10);
    vector<double> rad(n * n), rb(n), absx2(2 * n);
    for (double &v : rad) v = std::fabs(g.value(10)) * 0x1p-45;
    for (double &v : rb) v = std::fabs(g.value(10)) * 0x1p-45;
    for (uint64_t j = 0; j < n; ++j) absx2[j] = std::fabs(x[j]), absx2[n + j] = -std::fabs(x[j]);
    const vector<double> Ru = g.vec(nu * nu, 10), resu = g.vec(nu, 10), xu = g.vec(nu, 10);
    const residual_case c3 = make_residual_case(g, 80, 3), c9 = make_residual_case(g, 80, 9);

    auto all = [&] {
        vector<double> out;
        vector<double> r(n), lo(n), hi(n), clo(n), chi(n), z(n), xv = xu;
        norva::residual_rows(n, A.data(), n, nx.data(), b.data(), r.data());
        norva::column_interval_residual(n, A.data(), n, b.data(), rad.data(), rb.data(), nx.data(),
                                        absx2.data(), lo.data(), hi.data());
        const int s = norva::column_enclose(n, R.data(), lo.data(), hi.data(), clo.data(),
                                            chi.data(), z.data());
        norva::column_update(nu, Ru.data(), resu.data(), xv.data());
        int s3 = -2, s9 = -2;
        const vector<double> r3 = run_residuals(c3, &s3), r9 = run_residuals(c9, &s9);
        for (const vector<double> *v : {&r, &lo, &hi, &clo, &chi, &z, &xv})
            out.insert(out.end(), v->begin(), v->end());
        out.insert(out.end(), r3.begin(), r3.end());
        out.insert(out.end(), r9.begin(), r9.end());
        out.push_back(s);
        out.push_back(s3);
        out.push_back(s9);
        return out;
    };
    vector<double> one;
    {
        threads_scope t(1);
        one = all();
    }
    for (int threads : {2, 3}) {
        threads_scope t(threads);
        EXPECT_TRUE(bits_equal(all(), one)) << threads << " threads";
    }
    // and the serial results are right where cheap to check
    vector<double> r(n);
    norva::residual_rows(n, A.data(), n, nx.data(), b.data(), r.data());
    for (uint64_t i = 0; i < n; i += 17)
        EXPECT_TRUE(same_bits(r[i], oracle_row(&A[i * n], nx.data(), n, b[i], 0)));
}

}  // namespace
