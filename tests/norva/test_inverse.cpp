// The approximate inverse against the algorithm it is defined by, written
// plainly: elimination column by column with partial pivoting (strictly
// larger magnitude wins, ties keep the upper row, NaN never wins, whole rows
// exchanged), R = the permutation matrix, then per block of 32 columns the
// forward and backward substitution skipping exactly zero multipliers.
// The library's blocked, recursive, vectorised and parallel version must
// give the same bits for every matrix and thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "norva/dense.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using vec = std::vector<double>;
constexpr double inf = std::numeric_limits<double>::infinity();
const double qnan = std::numeric_limits<double>::quiet_NaN();

// The reference.  lower_wins flips the tie rule (used only to show that the
// tests can tell the two apart).
int ref_inverse(uint64_t n, const double *a, uint64_t lda, double *R, bool lower_wins = false) {
    vec LU(n * n);
    std::vector<int64_t> perm(n);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) LU[i * n + j] = a[i * lda + j];
        perm[i] = (int64_t)i;
    }
    for (uint64_t j = 0; j < n; ++j) {
        uint64_t p = j;
        for (uint64_t i = j + 1; i < n; ++i) {
            const double v = std::fabs(LU[i * n + j]), b = std::fabs(LU[p * n + j]);
            if (lower_wins ? v >= b : v > b) p = i;
        }
        if (LU[p * n + j] == 0.0) return -1;
        if (p != j) {
            for (uint64_t c = 0; c < n; ++c) std::swap(LU[j * n + c], LU[p * n + c]);
            std::swap(perm[j], perm[p]);
        }
        for (uint64_t i = j + 1; i < n; ++i) {
            const double l = LU[i * n + j] / LU[j * n + j];
            LU[i * n + j] = l;
            for (uint64_t c = j + 1; c < n; ++c) LU[i * n + c] = LU[i * n + c] - l * LU[j * n + c];
        }
    }
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t c = 0; c < n; ++c) R[i * n + c] = (uint64_t)perm[i] == c ? 1.0 : 0.0;
    for (uint64_t c0 = 0; c0 < n; c0 += 32) {
        const uint64_t c1 = std::min<uint64_t>(c0 + 32, n);
        for (uint64_t k = 1; k < n; ++k)
            for (uint64_t i = 0; i < k; ++i) {
                const double l = LU[k * n + i];
                if (l == 0.0) continue;
                for (uint64_t c = c0; c < c1; ++c) R[k * n + c] = R[k * n + c] - l * R[i * n + c];
            }
        for (uint64_t k = n; k-- > 0;) {
            for (uint64_t i = k + 1; i < n; ++i) {
                const double u = LU[k * n + i];
                if (u == 0.0) continue;
                for (uint64_t c = c0; c < c1; ++c) R[k * n + c] = R[k * n + c] - u * R[i * n + c];
            }
            for (uint64_t c = c0; c < c1; ++c) R[k * n + c] = R[k * n + c] / LU[k * n + k];
        }
    }
    return 0;
}

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// First entry whose bits differ (two NaNs count as equal with nan_class:
// their payloads are not defined by the arithmetic), or -1.
long first_diff(const vec &x, const vec &y, bool nan_class = false) {
    for (size_t i = 0; i < x.size(); ++i) {
        if (bits(x[i]) == bits(y[i])) continue;
        if (nan_class && std::isnan(x[i]) && std::isnan(y[i])) continue;
        return (long)i;
    }
    return -1;
}

// inverse at 1, 2 and 3 threads against the reference; the matrix is stored
// with a leading dimension of n + 3 (padding NaNs must not be read).
void check_matrix(uint64_t n, const vec &a_packed, const char *what, bool nan_class = false) {
    const uint64_t lda = n + 3;
    vec a(n * lda, qnan);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) a[i * lda + j] = a_packed[i * n + j];
    vec want(n * n);
    const int rw = ref_inverse(n, a.data(), lda, want.data());
    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        vec got(n * n, -5.0);
        const int r = norva::inverse(n, a.data(), lda, got.data());
        ASSERT_EQ(r, rw) << what << " n=" << n << " threads=" << threads;
        if (rw != 0) continue;
        const long d = first_diff(want, got, nan_class);
        ASSERT_EQ(d, -1) << what << " n=" << n << " threads=" << threads << " entry (" << d / (long)n
                         << "," << d % (long)n << ") want " << want[d] << " got " << got[d];
    }
    omp_set_num_threads(2);
}

const uint64_t sizes[] = {1, 2, 3, 7, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 257};

vec random_matrix(std::mt19937_64 &g, uint64_t n) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    vec a(n * n);
    for (double &x : a) x = u(g);
    return a;
}

TEST(Inverse, BitIdenticalOnRandomMatrices) {
    std::mt19937_64 g(21);
    for (uint64_t n : sizes) check_matrix(n, random_matrix(g, n), "random");
    const int extra = testsupport::scaled(4);
    for (int r = 0; r < extra; ++r) check_matrix(100 + 37 * r, random_matrix(g, 100 + 37 * r), "random");
}

TEST(Inverse, BitIdenticalOnStructuredMatrices) {
    std::mt19937_64 g(22);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> coin(0, 3);
    for (uint64_t n : {3ull, 33ull, 65ull, 129ull, 200ull}) {
        // Many exact zeros (multipliers and U entries to skip), signed zeros.
        vec a(n * n);
        for (double &x : a) {
            const int c = coin(g);
            x = c == 0 ? u(g) : (c == 1 ? -0.0 : 0.0);
        }
        for (uint64_t i = 0; i < n; ++i) a[i * n + i] = 2.0 + u(g);
        check_matrix(n, a, "sparse");
        // Triangular with negative diagonal: R has -0 entries from +0 / -d.
        vec t(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = i; j < n; ++j) t[i * n + j] = j == i ? -1.5 - u(g) : u(g);
        check_matrix(n, t, "upper");
        vec lt(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j <= i; ++j) lt[i * n + j] = j == i ? -3.0 : u(g) / (double)n;
        check_matrix(n, lt, "lower");
        // Small integers: exact eliminations, many ties in the pivot search.
        std::uniform_int_distribution<int> small(-2, 2);
        vec z(n * n);
        for (double &x : z) x = small(g);
        for (uint64_t i = 0; i < n; ++i) z[i * n + i] += 9.0;
        check_matrix(n, z, "integer");
        // Ill-conditioned: Hilbert-like, entries 1 / (i + j + 1).
        vec h(n * n);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) h[i * n + j] = 1.0 / (double)(i + j + 1);
        check_matrix(n, h, "hilbert");
        // Widely scaled rows and columns.
        vec s = random_matrix(g, n);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j)
                s[i * n + j] = std::ldexp(s[i * n + j], (int)((i * 7 + j * 13) % 200) - 100);
        check_matrix(n, s, "scaled");
    }
}

TEST(Inverse, OverflowAndNaNTakeThePlainPathWithTheSameResult) {
    for (uint64_t n : {40ull, 70ull, 150ull}) {
        // Upper triangular with tiny diagonal: the back substitution overflows
        // to infinities and then NaNs.
        vec t(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = i; j < n; ++j) t[i * n + j] = j == i ? 1e-200 : 1.0;
        check_matrix(n, t, "overflowing substitution", true);
        // Wilkinson's growth matrix scaled near the top of the range: the
        // last column of U overflows during the elimination.
        vec w(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i) {
            for (uint64_t j = 0; j < i; ++j) w[i * n + j] = -1e300;
            w[i * n + i] = 1e300;
            w[i * n + n - 1] = 1e300;
        }
        check_matrix(n, w, "growth overflow", true);
        // A NaN below the diagonal (never the pivot) and one on it.
        std::mt19937_64 g(23 + n);
        vec a = random_matrix(g, n);
        a[5 * n + 0] = qnan;
        check_matrix(n, a, "NaN below", true);
        a = random_matrix(g, n);
        a[0] = qnan;
        check_matrix(n, a, "NaN pivot", true);
        // An infinite entry: multipliers inf / x and NaN in L.
        a = random_matrix(g, n);
        a[3 * n + 1] = inf;
        check_matrix(n, a, "infinite entry", true);
        // Zero multipliers next to non-finite values: here skipping a zero
        // multiplier (x - 0 * inf not computed) is what keeps entries finite.
        std::uniform_int_distribution<int> coin(0, 2);
        for (double bad : {inf, qnan}) {
            vec s(n * n, 0.0);
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = 0; j < n; ++j)
                    if (i == j || coin(g) == 0) s[i * n + j] = 1.0 + (double)((i * 3 + j) % 7);
            s[(n / 2) * n + 2] = bad;
            s[1 * n + (n - 3)] = bad;
            check_matrix(n, s, "sparse with a non-finite entry", true);
        }
    }
}

TEST(Inverse, OneByOne) {
    for (double v : {4.0, -3.0, 1e-300, 3.0e300, 0x1.fffffffffffffp+1023}) {
        double R = 0.0;
        ASSERT_EQ(norva::inverse(1, &v, 1, &R), 0);
        EXPECT_EQ(bits(R), bits(1.0 / v)) << v;
    }
    double R = 7.0;
    const double zero = 0.0, mzero = -0.0;
    EXPECT_EQ(norva::inverse(1, &zero, 1, &R), -1);
    EXPECT_EQ(norva::inverse(1, &mzero, 1, &R), -1);
}

TEST(Inverse, ZeroPivotsFail) {
    std::mt19937_64 g(24);
    for (uint64_t n : {2ull, 33ull, 129ull}) {
        // A zero first column fails at once, however well scaled the rest.
        vec a = random_matrix(g, n);
        for (uint64_t i = 0; i < n; ++i) a[i * n] = (i % 2) ? 0.0 : -0.0;
        vec R(n * n);
        EXPECT_EQ(norva::inverse(n, a.data(), n, R.data()), -1) << n;
        EXPECT_EQ(ref_inverse(n, a.data(), n, R.data()), -1);
    }
    // Singular discovered mid-way: [B C; 0 D] with D's first column zero
    // fails at column size(B) (inside the recursive elimination).
    for (uint64_t nb : {1ull, 17ull, 100ull}) {
        const uint64_t n = nb + 50;
        vec a = random_matrix(g, n);
        for (uint64_t i = nb; i < n; ++i) {
            for (uint64_t j = 0; j < nb; ++j) a[i * n + j] = 0.0;
            a[i * n + nb] = 0.0;
        }
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            vec R(n * n);
            EXPECT_EQ(norva::inverse(n, a.data(), n, R.data()), -1) << nb;
        }
        vec R(n * n);
        EXPECT_EQ(ref_inverse(n, a.data(), n, R.data()), -1);
    }
    // Exact cancellation to a zero pivot: rows 2 = row 0 + row 1.
    const double s[9] = {1, 2, 3, 2, 4, 7, 3, 6, 10};
    vec R(9);
    EXPECT_EQ(norva::inverse(3, s, 3, R.data()), -1);
    omp_set_num_threads(2);
}

TEST(Inverse, TiesKeepTheUpperRow) {
    std::mt19937_64 g(25);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    int told_apart = 0;
    for (uint64_t n : {4ull, 33ull, 70ull, 140ull}) {
        // Every column has entries of equal magnitude: +-1 in column 0, and
        // the other columns drawn from a few values.
        vec a(n * n);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j)
                a[i * n + j] = j == 0 ? ((i * 5) % 3 ? 1.0 : -1.0) : u(g);
        check_matrix(n, a, "ties");
        vec x(n * n), y(n * n);
        ref_inverse(n, a.data(), n, x.data(), false);
        ref_inverse(n, a.data(), n, y.data(), true);
        if (first_diff(x, y) != -1) ++told_apart;
    }
    EXPECT_GE(told_apart, 3) << "the tie rule must be observable in these matrices";
    // 2 x 2: |1| = |-1|, the upper row stays the pivot: l = -1, U = [1 1; 0 2].
    const double a[4] = {1.0, 1.0, -1.0, 1.0};
    vec R(4);
    ASSERT_EQ(norva::inverse(2, a, 2, R.data()), 0);
    EXPECT_EQ(R, (vec{0.5, -0.5, 0.5, 0.5}));
    // Here the lower row would give different bits.
    const double b[4] = {3.0, 1.0, -3.0, 0.1};
    vec Rb(4), want(4), other(4);
    ASSERT_EQ(norva::inverse(2, b, 2, Rb.data()), 0);
    ref_inverse(2, b, 2, want.data(), false);
    ref_inverse(2, b, 2, other.data(), true);
    EXPECT_EQ(first_diff(Rb, want), -1);
    EXPECT_NE(first_diff(other, want), -1);
}

TEST(Inverse, PermutationMatricesAreInvertedExactly) {
    std::mt19937_64 g(26);
    for (uint64_t n : sizes) {
        std::vector<uint64_t> p(n);
        std::iota(p.begin(), p.end(), 0);
        std::shuffle(p.begin(), p.end(), g);
        vec a(n * n, 0.0);
        for (uint64_t i = 0; i < n; ++i) a[i * n + p[i]] = 1.0;
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            vec R(n * n, -1.0);
            ASSERT_EQ(norva::inverse(n, a.data(), n, R.data()), 0);
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = 0; j < n; ++j)
                    ASSERT_EQ(bits(R[i * n + j]), bits(a[j * n + i]))
                        << "n=" << n << " (" << i << "," << j << ")";
        }
    }
    omp_set_num_threads(2);
}

TEST(Inverse, ScratchFailures) {
    // LU and pivots are required (-1 without them); the product scratch and
    // the substitution blocks are optional and their absence changes no bit.
    std::mt19937_64 g(27);
    for (uint64_t n : {20ull, 150ull}) {
        const vec a = random_matrix(g, n);
        vec want(n * n);
        ASSERT_EQ(ref_inverse(n, a.data(), n, want.data()), 0);
        for (int threads : {1, 2}) {
            omp_set_num_threads(threads);
            vec got(n * n);
            int r = 99;
            const auto run = [&] {
                std::fill(got.begin(), got.end(), -1.0);
                r = norva::inverse(n, a.data(), n, got.data());
            };
            const auto check = [&](uint64_t k) {
                if (k == 1 || k == 2) {
                    EXPECT_EQ(r, -1) << "allocation " << k;
                } else {
                    ASSERT_EQ(r, 0) << "allocation " << k;
                    EXPECT_EQ(first_diff(want, got), -1) << "allocation " << k;
                }
            };
            const uint64_t calls = testsupport::for_each_allocation_failure(run, check);
            EXPECT_EQ(calls, 4u) << "n=" << n;
        }
    }
    omp_set_num_threads(2);
}

TEST(Inverse, SizeWhoseSquareOverflowsFails) {
    const double a = 1.0;
    double R = 0.0;
    EXPECT_EQ(norva::inverse(1ull << 33, &a, 1, &R), -1);
}

}  // namespace
