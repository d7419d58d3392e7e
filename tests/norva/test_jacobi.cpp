// The Jacobi method bit for bit against the plain loop that defines it
// (columns of W, then rows, then the zeroing, then columns of V), on random,
// badly scaled, sparse, clustered, huge and tiny matrices; its eigenvalues
// on exactly known spectra; the failure returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "norva/eig.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using vec = std::vector<double>;

int ref_jacobi(uint64_t n, vec W, vec &V, vec &d) {
    V.assign(n * n, 0.0);
    for (uint64_t i = 0; i < n; ++i) V[i * n + i] = 1.0;
    d.assign(n, 0.0);
    auto rotate = [n](double *X, uint64_t i, uint64_t j, uint64_t step, double c, double s) {
        for (uint64_t r = 0; r < n; ++r) {
            const double a = X[i + r * step], b = X[j + r * step];
            X[i + r * step] = c * a - s * b;
            X[j + r * step] = s * a + c * b;
        }
    };
    for (int sweep = 0; sweep < 60; ++sweep) {
        double total = 0, off = 0;
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                total += W[i * n + j] * W[i * n + j];
                if (i != j) off += W[i * n + j] * W[i * n + j];
            }
        if (total * 0x1p-106 >= off) {
            for (uint64_t i = 0; i < n; ++i) d[i] = W[i * n + i];
            return 0;
        }
        for (uint64_t p = 0; p + 1 < n; ++p)
            for (uint64_t q = p + 1; q < n; ++q) {
                const double wpq = W[p * n + q];
                if (wpq == 0) continue;
                const double th = (W[q * n + q] - W[p * n + p]) / (2 * wpq);
                const double t = std::fabs(th) > 0x1p500
                                     ? 0.5 / th
                                     : (th >= 0 ? 1.0 : -1.0) / (std::fabs(th) + std::sqrt(th * th + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                rotate(W.data(), p, q, n, c, s);          // columns p, q
                rotate(W.data(), p * n, q * n, 1, c, s);  // rows p, q
                W[p * n + q] = W[q * n + p] = 0;
                rotate(V.data(), p, q, n, c, s);
            }
    }
    return -1;
}

void expect_bits(const vec &got, const vec &want, const char *what) {
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(std::bit_cast<uint64_t>(got[i]), std::bit_cast<uint64_t>(want[i]))
            << what << " entry " << i << ": " << got[i] << " vs " << want[i];
}

// Runs both on A (packed, passed with lda = n + 2) and compares every bit.
int same_as_plain(uint64_t n, const vec &A) {
    vec Apad(n * (n + 2), std::nan("")), Vr, dr, V(n * n, -7.0), d(n, -7.0);
    for (uint64_t i = 0; i < n; ++i) std::copy_n(&A[i * n], n, &Apad[i * (n + 2)]);
    const int rr = ref_jacobi(n, A, Vr, dr);
    const int rc = norva::jacobi(n, Apad.data(), n + 2, V.data(), d.data());
    EXPECT_EQ(rc, rr);
    if (rr == 0) {
        expect_bits(d, dr, "d");
        expect_bits(V, Vr, "V");
    }
    return rr;
}

enum kind { dense, scaled, sparse, blocks, signed_zeros, coupled, huge, tiny, low };

// A symmetric matrix of the kind; upper triangle drawn, mirrored.
vec make(uint64_t n, kind k, std::mt19937_64 &g) {
    std::uniform_real_distribution<double> U(-1, 1);
    std::uniform_int_distribution<int> E(-40, 40), coin(0, 4);
    vec A(n * n), D(n);
    for (double &x : D) x = std::ldexp(1.0, E(g));
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = i; j < n; ++j) {
            double x = U(g);
            if (k == scaled) x *= D[i] * D[j];
            if ((k == sparse || k == signed_zeros) && coin(g) != 0) x = 0;
            if (k == blocks && i / 5 != j / 5) x = 0;
            // The last two rows couple at 1e-200 and 1e-306 to the rest
            // and not to each other, with diagonal +-1e3: theta beyond
            // 2^500, and beyond the largest double.
            if (k == coupled && i != j && j >= n - 2) x *= j == n - 1 ? 1e-200 : 1e-306;
            if (k == coupled && i != j && i >= n - 2) x *= i == n - 1 ? 1e-200 : 1e-306;
            if (k == coupled && i == j && i >= n - 2) x = i == n - 1 ? 1e3 : -1e3;
            if (k == huge) x *= 1e200;
            if (k == tiny) x *= 1e-170;
            if (k == low) x *= 1e-160;  // squares subnormal: converged only at off = 0
            A[i * n + j] = A[j * n + i] = x;
            if (k == signed_zeros && x == 0 && coin(g) < 2) A[j * n + i] = -0.0;
        }
    return A;
}

TEST(Jacobi, BitsOfThePlainLoop) {
    std::mt19937_64 g(3);
    const int reps = testsupport::scaled(2);
    for (int rep = 0; rep < reps; ++rep)
        for (kind k : {dense, scaled, sparse, blocks, signed_zeros, coupled, low})
            for (uint64_t n : {1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 31, 33, 64, 70}) {
                SCOPED_TRACE(::testing::Message() << "kind " << k << " n " << n);
                EXPECT_EQ(same_as_plain(n, make(n, k, g)), 0);
            }
    for (uint64_t n : {100, 129}) EXPECT_EQ(same_as_plain(n, make(n, dense, g)), 0);
}

// Squares overflowing (total = off = inf) or vanishing (both 0): no
// rotation, V = I, d = diag(A).
TEST(Jacobi, HugeAndTinyConvergeAtOnce) {
    std::mt19937_64 g(8);
    for (kind k : {huge, tiny}) {
        const uint64_t n = 6;
        const vec A = make(n, k, g);
        EXPECT_EQ(same_as_plain(n, A), 0);
        vec V(n * n), d(n);
        ASSERT_EQ(norva::jacobi(n, A.data(), n, V.data(), d.data()), 0);
        for (uint64_t i = 0; i < n; ++i) {
            EXPECT_EQ(d[i], A[i * n + i]);
            for (uint64_t j = 0; j < n; ++j) EXPECT_EQ(V[i * n + j], i == j ? 1.0 : 0.0);
        }
    }
}

// H diag(lambda) H with H = I - (2/n) 1 1^T, n a power of two: exactly
// orthogonal and symmetric, every entry exact for the small dyadic lambda
// used here, so the spectrum is lambda exactly.
TEST(Jacobi, KnownSpectra) {
    std::mt19937_64 g(5);
    std::uniform_int_distribution<int> I(-64, 64);
    for (uint64_t n : {2, 8, 32, 64})
        for (int cluster : {0, 1}) {
            vec lam(n);
            for (uint64_t i = 0; i < n; ++i) lam[i] = cluster && i % 3 ? 1.0 + (i % 2) * 0x1p-40 : I(g) / 8.0;
            const double h = 2.0 / (double)n;
            double sum = 0;
            for (double l : lam) sum += l;
            vec A(n * n);
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = 0; j < n; ++j)
                    A[i * n + j] = (i == j ? lam[i] : 0.0) - h * (lam[i] + lam[j]) + h * h * sum;
            vec V(n * n), d(n);
            ASSERT_EQ(norva::jacobi(n, A.data(), n, V.data(), d.data()), 0);
            double big = 0;
            for (double l : lam) big = std::max(big, std::fabs(l));
            std::sort(lam.begin(), lam.end());
            std::sort(d.begin(), d.end());
            for (uint64_t i = 0; i < n; ++i)
                EXPECT_NEAR(d[i], lam[i], 1e-14 * (double)n * big) << "n " << n << " i " << i;
        }
}

TEST(Jacobi, Failures) {
    std::mt19937_64 g(2);
    const uint64_t n = 20;
    const vec A = make(n, dense, g);
    vec V(n * n), d(n);
    int rc = 0;
    const uint64_t calls = testsupport::for_each_allocation_failure(
        [&] { rc = norva::jacobi(n, A.data(), n, V.data(), d.data()); },
        [&](uint64_t k) { EXPECT_EQ(rc, k == 0 ? 0 : -1); });
    EXPECT_GE(calls, 1u);
    // n^2 not addressable: refused before any allocation.
    EXPECT_EQ(norva::jacobi(uint64_t(1) << 32, A.data(), n, V.data(), d.data()), -1);
}

}  // namespace
