// The Cholesky factorization against the plain left-looking loop that
// defines it (every size around the leaf and the recursion splits, failed
// pivots, overflow to inf and NaN in the factor, 1/2/3 threads, the plain
// fallback when scratch is missing), and the smallest-eigenvalue estimate.
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "norva/spd.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using vec = std::vector<double>;
const double qnan = std::numeric_limits<double>::quiet_NaN();

int ref_cholesky(uint64_t n, const double *A, uint64_t lda, double *L, double sigma) {
    for (uint64_t i = 0; i < n * n; ++i) L[i] = 0.0;
    for (uint64_t k = 0; k < n; ++k) {
        double p = A[k * lda + k] - sigma;
        for (uint64_t j = 0; j < k; ++j) p = p - L[k * n + j] * L[k * n + j];
        if (!(p > 0.0) || p > std::numeric_limits<double>::max()) return -1;
        L[k * n + k] = std::sqrt(p);
        for (uint64_t r = k + 1; r < n; ++r) {
            double q = A[r * lda + k];
            for (uint64_t j = 0; j < k; ++j) q = q - L[r * n + j] * L[k * n + j];
            L[r * n + k] = q / L[k * n + k];
        }
    }
    return 0;
}

// Bits equal, any NaN equal to any NaN (operand order may pick the payload).
void expect_same(const vec &a, const vec &b) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        ASSERT_EQ(std::bit_cast<uint64_t>(a[i]), std::bit_cast<uint64_t>(b[i]))
            << "entry " << i << ": " << a[i] << " vs " << b[i];
    }
}

enum kind { spd, fail_mid, overflow_mid };

// A (n x n, lda = n + 3) whose upper triangle and padding are NaN: only the
// lower triangle may be read.  spd: G G^T / n + I rounded; fail_mid: a
// negative diagonal entry at n/2; overflow_mid: at n/2 a subnormal pivot,
// decoupled from the columns before, with huge entries from row n/2 + 5 on,
// so columns n/2 .. n/2 + 4 hold inf and NaN before the pivot fails.
vec make(uint64_t n, kind k, std::mt19937_64 &g) {
    const uint64_t lda = n + 3;
    std::normal_distribution<double> N;
    vec G(n * n), A(n * lda, qnan);
    for (double &x : G) x = N(g);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j <= i; ++j) {
            double s = 0;
            for (uint64_t t = 0; t < n; ++t) s += G[i * n + t] * G[j * n + t];
            A[i * lda + j] = s / (double)n + (i == j ? 1.0 : 0.0);
        }
    const uint64_t m = n / 2;
    if (k == fail_mid) A[m * lda + m] = -1.0;
    if (k == overflow_mid) {
        for (uint64_t j = 0; j < m; ++j) A[m * lda + j] = 0.0;
        A[m * lda + m] = 0x1p-1074;
        for (uint64_t r = m + 1; r < n; ++r) A[r * lda + m] = r >= m + 5 ? 1e200 : 0.0;
    }
    return A;
}

struct chol_case {
    kind k;
    std::vector<uint64_t> sizes;
    double sigma;
};

TEST(Cholesky, BitsOfThePlainLoop) {
    const chol_case cases[] = {
        {spd, {1, 2, 3, 5, 15, 16, 17, 31, 32, 33, 47, 48, 49, 64, 65, 100, 129, 200, 257, 300}, 0},
        {spd, {40, 150}, 0.25},
        // A shift past the smallest eigenvalue fails somewhere inside.
        {spd, {20, 90, 170}, 1.5},
        {fail_mid, {2, 17, 33, 70, 161, 290}, 0},
        {overflow_mid, {12, 40, 100, 280}, 0},
    };
    std::mt19937_64 g(11);
    for (const chol_case &c : cases)
        for (uint64_t n : c.sizes) {
            SCOPED_TRACE(::testing::Message() << "kind " << c.k << " n " << n << " sigma " << c.sigma);
            const vec A = make(n, c.k, g);
            vec ref(n * n), L(n * n, qnan);
            const int rr = ref_cholesky(n, A.data(), n + 3, ref.data(), c.sigma);
            if (c.k != spd) {
                EXPECT_EQ(rr, -1);
            } else if (c.sigma == 0) {
                EXPECT_EQ(rr, 0);
            }
            if (c.k == overflow_mid) {
                EXPECT_TRUE(std::isinf(ref[(n - 1) * n + n / 2]));
                EXPECT_TRUE(std::isnan(ref[(n - 1) * n + n / 2 + 1]));
            }
            for (int t : {1, 2, 3}) {
                if (t > 1 && n < 100) continue;
                omp_set_num_threads(t);
                EXPECT_EQ(norva::cholesky(n, A.data(), n + 3, L.data(), c.sigma), rr);
                expect_same(L, ref);
            }
            omp_set_num_threads(2);
        }
    omp_set_num_threads(omp_get_num_procs());
}

// Without scratch the factorization is one plain leaf: same bits.
TEST(Cholesky, SameBitsWithoutScratch) {
    std::mt19937_64 g(5);
    const uint64_t n = 90;
    const vec A = make(n, spd, g);
    vec ref(n * n), L(n * n);
    ASSERT_EQ(ref_cholesky(n, A.data(), n + 3, ref.data(), 0.0), 0);
    int rc = 1;
    const uint64_t calls = testsupport::for_each_allocation_failure(
        [&] { rc = norva::cholesky(n, A.data(), n + 3, L.data(), 0.0); },
        [&](uint64_t) {
            EXPECT_EQ(rc, 0);
            expect_same(L, ref);
        });
    EXPECT_GE(calls, 1u);
}

TEST(Smallest, StartVector) {
    // With L = I every round keeps the normalised start vector.
    const double start[3] = {-0.3245402495965425, 0.1660226166951394, 0.20221807305384065};
    const double nrm = std::sqrt(start[0] * start[0] + start[1] * start[1] + start[2] * start[2]);
    const vec L = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    vec v(3), y(3);
    EXPECT_NEAR(norva::smallest(3, L.data(), v.data(), y.data()), 1.0, 4e-16);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[i], start[i] / nrm, 4e-16) << i;
}

TEST(Smallest, EstimateAndBreakdown) {
    // Diagonal 1 .. 40 in a scrambled order: the estimate converges to 1
    // (the ratio to the next eigenvalue is 1/2 per solve).
    const uint64_t n = 40;
    const uint64_t perm[] = {7, 3};
    vec A(n * n, 0.0), L(n * n), v(n), y(n);
    for (uint64_t i = 0; i < n; ++i) A[((i * perm[0] + perm[1]) % n) * (n + 1)] = 1.0 + (double)i;
    ASSERT_EQ(norva::cholesky(n, A.data(), n, L.data(), 0.0), 0);
    EXPECT_NEAR(norva::smallest(n, L.data(), v.data(), y.data()), 1.0, 1e-6);
    // The tridiagonal (-1, 2, -1) of order 30: lambda_min = 2 - 2 cos(pi/31).
    vec T(n * n, 0.0);
    const uint64_t m = 30;
    for (uint64_t i = 0; i < m; ++i) {
        T[i * m + i] = 2;
        if (i > 0) T[i * m + i - 1] = T[(i - 1) * m + i] = -1;
    }
    ASSERT_EQ(norva::cholesky(m, T.data(), m, L.data(), 0.0), 0);
    const double lam = 2 - 2 * std::cos(M_PI / 31);
    EXPECT_NEAR(norva::smallest(m, L.data(), v.data(), y.data()), lam, 1e-6 * lam);
    // A factor whose inverse overflows: breakdown gives 0.
    vec D(9, 0.0);
    D[0] = D[4] = D[8] = 1e-300;
    EXPECT_EQ(norva::smallest(3, D.data(), v.data(), y.data()), 0.0);
    EXPECT_EQ(norva::smallest(0, D.data(), v.data(), y.data()), 0.0);
}

}  // namespace
