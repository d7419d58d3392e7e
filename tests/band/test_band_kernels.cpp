// The sequential band Cholesky kernels chol, lsolve and ltsolve: bit for bit
// against plain loops written from the definition (and chol against the
// dense cholesky where both must agree), the solves against MPFR, and the
// edge cases (empty, diagonal, w >= n, failing pivots, shifts, positions left
// of column 0 that must be neither read nor written).
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "band/band.h"
#include "norva/spd.h"
#include "support/oracle.h"
#include "support/test_scale.h"

namespace {

using norva::band::chol;
using norva::band::lsolve;
using norva::band::ltsolve;
using vec = std::vector<double>;

// A NaN with a payload of its own marks positions that must stay untouched.
const double sentinel = std::bit_cast<double>(0x7ff4000000dead01ULL);

// Index of entry (i, j), max(0, i - w) <= j <= i, in lower band storage.
uint64_t at(uint64_t w, uint64_t i, uint64_t j) { return i * (w + 1) + w + j - i; }
uint64_t first(uint64_t w, uint64_t i) { return i > w ? i - w : 0; }

// Equal bits, NaN payloads included.
::testing::AssertionResult same_bits(double got, double want) {
    if (std::bit_cast<uint64_t>(got) == std::bit_cast<uint64_t>(want))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << testsupport::describe(got) << ", want "
                                         << testsupport::describe(want);
}

// ---- the kernels' defining loops, nothing rearranged ----------------------

int ref_chol(uint64_t n, uint64_t w, const vec &a, vec &l, double shift) {
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t j0 = first(w, i);
        for (uint64_t j = j0; j <= i; ++j) {
            double s = j == i ? a[at(w, i, i)] - shift : a[at(w, i, j)];
            for (uint64_t k = j0; k < j; ++k) s = s - l[at(w, i, k)] * l[at(w, j, k)];
            if (j < i) {
                l[at(w, i, j)] = s / l[at(w, j, j)];
            } else {
                if (!(s > 0) || s > 1.7976931348623157e308) return -1;
                l[at(w, i, i)] = std::sqrt(s);
            }
        }
    }
    return 0;
}

void ref_solves(uint64_t n, uint64_t w, const vec &l, vec &x) {
    for (uint64_t i = 0; i < n; ++i) {
        double t = x[i];
        for (uint64_t j = first(w, i); j < i; ++j) t = t - l[at(w, i, j)] * x[j];
        x[i] = t / l[at(w, i, i)];
    }
    for (uint64_t i = n; i-- > 0;) {
        x[i] = x[i] / l[at(w, i, i)];
        for (uint64_t j = first(w, i); j < i; ++j) x[j] = x[j] - l[at(w, i, j)] * x[i];
    }
}

// ---- data -----------------------------------------------------------------

// Lower band of a random symmetric, strictly diagonally dominant M; the
// positions left of column 0 hold NaN.  With zeros, about one off-diagonal
// entry in eight is +0 or -0.
vec random_band(uint64_t n, uint64_t w, std::mt19937_64 &rng, bool zeros) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    vec a(n * (w + 1), std::numeric_limits<double>::quiet_NaN());
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = first(w, i); j < i; ++j) {
            const uint64_t r = rng() % 16;
            a[at(w, i, j)] = zeros && r == 0 ? 0.0 : zeros && r == 1 ? -0.0 : u(rng);
        }
        const double span = (double)(i - first(w, i)) + (double)std::min(w, n - 1 - i);
        a[at(w, i, i)] = span + 1.0 + std::fabs(u(rng));
    }
    return a;
}

// Positions of l outside rows [0, rows) and left of column 0 still hold the
// sentinel.
::testing::AssertionResult untouched(uint64_t n, uint64_t w, const vec &l, uint64_t rows) {
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t p = 0; p <= w; ++p) {
            const bool outside = p + i < w;  // left of column 0
            if ((outside || i >= rows) && !same_bits(l[i * (w + 1) + p], sentinel))
                return ::testing::AssertionFailure() << "l written at row " << i << " pos " << p;
        }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult equal_band(uint64_t w, const vec &got, const vec &want,
                                      uint64_t rows) {
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = first(w, i); j <= i; ++j)
            if (!same_bits(got[at(w, i, j)], want[at(w, i, j)]))
                return ::testing::AssertionFailure()
                       << "L(" << i << ", " << j << ") " << same_bits(got[at(w, i, j)],
                                                                       want[at(w, i, j)])
                                                                 .message();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult equal_vec(const vec &got, const vec &want) {
    for (size_t i = 0; i < got.size(); ++i)
        if (!same_bits(got[i], want[i]))
            return ::testing::AssertionFailure()
                   << "x[" << i << "] " << same_bits(got[i], want[i]).message();
    return ::testing::AssertionSuccess();
}

// ---- bit identity ---------------------------------------------------------

struct shape {
    uint64_t n, w;
};
// Every unrolled width and the general loop, the short first rows, w >= n.
const shape shapes[] = {{1, 0},  {7, 0},  {1, 3},  {2, 1},   {6, 1},   {9, 2},  {13, 3},
                        {17, 4}, {20, 5}, {40, 6}, {33, 7},  {50, 8},  {50, 9}, {31, 14},
                        {5, 4},  {5, 5},  {6, 10}, {300, 2}, {300, 6}, {90, 20}};
const double shifts[] = {0.0, 0.5, -0.25};

TEST(BandKernels, MatchTheDefiningLoopsBitForBit) {
    std::mt19937_64 rng(7);
    const int reps = testsupport::scaled(4);
    for (const shape &c : shapes)
        for (double shift : shifts)
            for (int rep = 0; rep < reps; ++rep) {
                SCOPED_TRACE(::testing::Message() << "n " << c.n << " w " << c.w << " shift "
                                                  << shift << " rep " << rep);
                const vec a = random_band(c.n, c.w, rng, true);
                const vec a_copy = a;
                vec l(a.size(), sentinel), want(a.size(), sentinel);
                ASSERT_EQ(ref_chol(c.n, c.w, a, want, shift), 0);
                ASSERT_EQ(chol(c.n, c.w, a.data(), l.data(), shift), 0);
                EXPECT_TRUE(equal_band(c.w, l, want, c.n));
                EXPECT_TRUE(untouched(c.n, c.w, l, c.n));
                EXPECT_TRUE(equal_vec(a, a_copy)) << "a modified";

                vec x(c.n), x_want;
                for (double &v : x) v = std::ldexp((double)(rng() >> 11), -53) - 0.5;
                x_want = x;
                ref_solves(c.n, c.w, want, x_want);
                lsolve(c.n, c.w, l.data(), x.data());
                ltsolve(c.n, c.w, l.data(), x.data());
                EXPECT_TRUE(equal_vec(x, x_want));
            }
}

// With the entries outside the band exact +0, the dense factorization's extra
// terms s - (+0) L(j, k) leave s unchanged unless s is -0 at that point; an
// input -0 is the only way to get there, so on inputs without -0 the two
// factors agree bit for bit.  (With a -0 entry M(i, j) and a negative L(j, k)
// left of the band, the dense sequence turns -0 into +0; hence the plain
// loops above as the reference for inputs with signed zeros.)
TEST(BandKernels, CholMatchesDenseCholeskyWithoutNegativeZeros) {
    std::mt19937_64 rng(11);
    for (const shape &c : shapes)
        for (double shift : shifts) {
            SCOPED_TRACE(::testing::Message() << "n " << c.n << " w " << c.w << " shift "
                                              << shift);
            const vec a = random_band(c.n, c.w, rng, false);
            vec dense(c.n * c.n, 0.0), ld(c.n * c.n), l(a.size(), sentinel);
            for (uint64_t i = 0; i < c.n; ++i)
                for (uint64_t j = first(c.w, i); j <= i; ++j)
                    dense[i * c.n + j] = dense[j * c.n + i] = a[at(c.w, i, j)];
            ASSERT_EQ(norva::cholesky(c.n, dense.data(), c.n, ld.data(), shift), 0);
            ASSERT_EQ(chol(c.n, c.w, a.data(), l.data(), shift), 0);
            for (uint64_t i = 0; i < c.n; ++i)
                for (uint64_t j = first(c.w, i); j <= i; ++j)
                    ASSERT_TRUE(same_bits(l[at(c.w, i, j)], ld[i * c.n + j]))
                        << "L(" << i << ", " << j << ")";
        }
}

// ---- accuracy of the solves against MPFR ----------------------------------

// x* = (L L^T)^-1 b for the double entries of L, at 1024 bits: far beyond
// what the comparison can see.
vec mpfr_solve(uint64_t n, uint64_t w, const vec &l, const vec &b) {
    std::vector<mpfr_t> x(n);
    mpfr_t t;
    mpfr_init2(t, 1024);
    for (uint64_t i = 0; i < n; ++i) {
        mpfr_init2(x[i], 1024);
        mpfr_set_d(x[i], b[i], MPFR_RNDN);
    }
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = first(w, i); j < i; ++j) {
            mpfr_mul_d(t, x[j], l[at(w, i, j)], MPFR_RNDN);
            mpfr_sub(x[i], x[i], t, MPFR_RNDN);
        }
        mpfr_div_d(x[i], x[i], l[at(w, i, i)], MPFR_RNDN);
    }
    for (uint64_t i = n; i-- > 0;) {
        mpfr_div_d(x[i], x[i], l[at(w, i, i)], MPFR_RNDN);
        for (uint64_t j = first(w, i); j < i; ++j) {
            mpfr_mul_d(t, x[i], l[at(w, i, j)], MPFR_RNDN);
            mpfr_sub(x[j], x[j], t, MPFR_RNDN);
        }
    }
    vec out(n);
    for (uint64_t i = 0; i < n; ++i) {
        out[i] = mpfr_get_d(x[i], MPFR_RNDN);
        mpfr_clear(x[i]);
    }
    mpfr_clear(t);
    return out;
}

TEST(BandKernels, SolvesApplyTheInverseOfLLt) {
    std::mt19937_64 rng(3);
    const shape small[] = {{1, 0}, {8, 0}, {8, 1}, {12, 2}, {15, 6}, {10, 9}, {9, 12}, {24, 10}};
    for (const shape &c : small) {
        SCOPED_TRACE(::testing::Message() << "n " << c.n << " w " << c.w);
        const vec a = random_band(c.n, c.w, rng, false);
        vec l(a.size(), sentinel);
        ASSERT_EQ(chol(c.n, c.w, a.data(), l.data(), 0.0), 0);
        // A random right-hand side and the unit vectors e_0 and e_(n-1)
        // (whose solutions are columns of (L L^T)^-1).
        std::vector<vec> rhs(3, vec(c.n, 0.0));
        for (double &v : rhs[0]) v = std::ldexp((double)(rng() >> 11), -53) - 0.5;
        rhs[1][0] = 1.0;
        rhs[2][c.n - 1] = 1.0;
        for (const vec &b : rhs) {
            const vec want = mpfr_solve(c.n, c.w, l, b);
            vec x = b;
            lsolve(c.n, c.w, l.data(), x.data());
            ltsolve(c.n, c.w, l.data(), x.data());
            double scale = 0;
            for (double v : want) scale = std::max(scale, std::fabs(v));
            // M is diagonally dominant (condition below 2(w + 1)), so
            // rounding alone stays far below this.
            const double tol = 64.0 * (double)(c.n * (c.w + 1)) * 0x1p-53 * scale;
            for (uint64_t i = 0; i < c.n; ++i) EXPECT_NEAR(x[i], want[i], tol) << "x[" << i << "]";
        }
    }
}

// ---- edge cases -----------------------------------------------------------

TEST(BandKernels, EmptyMatrixDoesNothing) {
    double a[2] = {1.0, 2.0}, l[2] = {sentinel, sentinel}, x[2] = {sentinel, sentinel};
    for (uint64_t w : {0, 3}) {
        EXPECT_EQ(chol(0, w, a, l, 0.0), 0);
        lsolve(0, w, l, x);
        ltsolve(0, w, l, x);
        for (double v : {l[0], l[1], x[0], x[1]}) EXPECT_TRUE(same_bits(v, sentinel));
    }
}

// A pivot that fails in row k: -1, rows before k as the plain loop leaves
// them, no row after k written.
struct failing {
    uint64_t n, w, k;
    double diag;   // M(k, k)
    double shift;
};
const failing failures[] = {
    {6, 0, 3, 0.25, 0.25},                                   // exact +0 pivot
    {6, 0, 0, -1.0, 0.0},                                    // first row
    {10, 2, 1, -0.0, 0.0},                                   // among the short first rows
    {10, 2, 6, -3.0, 0.0},                                   // unrolled copy
    {10, 2, 9, std::numeric_limits<double>::quiet_NaN(), 0}, // last row, NaN
    {12, 3, 3, std::numeric_limits<double>::infinity(), 0},  // first full row, +inf
    {30, 12, 20, 0.0, 0.0},                                  // general loop
    {40, 6, 25, 8.0, 7.9999},                                // a shift makes it fail
};

TEST(BandKernels, FailingPivotStopsAtOnce) {
    std::mt19937_64 rng(5);
    for (const failing &c : failures) {
        SCOPED_TRACE(::testing::Message() << "n " << c.n << " w " << c.w << " k " << c.k);
        vec a = random_band(c.n, c.w, rng, true);
        a[at(c.w, c.k, c.k)] = c.diag;
        vec l(a.size(), sentinel), want(a.size(), sentinel);
        ASSERT_EQ(ref_chol(c.n, c.w, a, want, c.shift), -1);
        EXPECT_EQ(chol(c.n, c.w, a.data(), l.data(), c.shift), -1);
        EXPECT_TRUE(equal_band(c.w, l, want, c.k));
        EXPECT_TRUE(untouched(c.n, c.w, l, c.k + 1));
    }
}

// tridiag(-1, 2, -1) of order n has smallest eigenvalue 2 - 2 cos(pi/(n+1)):
// shifts clearly below it factor, shifts clearly above it fail.
TEST(BandKernels, ShiftAboveTheSmallestEigenvalueFails) {
    for (uint64_t w : {1, 2, 9}) {
        const uint64_t n = 20;
        vec a(n * (w + 1), std::numeric_limits<double>::quiet_NaN());
        for (uint64_t i = 0; i < n; ++i) {
            for (uint64_t j = first(w, i); j < i; ++j) a[at(w, i, j)] = j + 1 == i ? -1.0 : 0.0;
            a[at(w, i, i)] = 2.0;
        }
        const double lambda = 2.0 - 2.0 * std::cos(M_PI / (double)(n + 1));
        vec l(a.size());
        EXPECT_EQ(chol(n, w, a.data(), l.data(), 0.9 * lambda), 0) << "w " << w;
        EXPECT_EQ(chol(n, w, a.data(), l.data(), 1.1 * lambda), -1) << "w " << w;
    }
}

}  // namespace
