// Random products for the Ozaki-scheme tests (double and int8 slices): entries
// of several kinds, padded leading dimensions, the problems of the random
// differential tests, and the comparison with qxgemm bit for bit.
#ifndef NORVA_TESTS_QXSUM_OZ_PROBLEMS_H
#define NORVA_TESTS_QXSUM_OZ_PROBLEMS_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "qxsum/qxsum.h"
#include "support/alloc_sweep.h"
#include "support/oracle.h"

namespace oztest {

// Random entries of one of several kinds.
struct gen {
    std::mt19937_64 g;
    explicit gen(uint64_t seed) : g(seed) {}
    double uniform() { return std::uniform_real_distribution<double>(-1, 1)(g); }
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); }
    double entry(int kind) {
        switch (kind) {
            case 0: return uniform();                                   // full significands
            case 1: return std::ldexp(uniform(), range(-60, 60));       // moderate range
            case 2: {                                                   // zeros mixed in
                const int r = range(0, 9);
                if (r == 0) return 0.0;
                if (r == 1) return -0.0;
                return std::ldexp(uniform(), range(-20, 20));
            }
            case 3: return (double)range(-5, 5);                        // small integers
            case 4: return std::ldexp(uniform(), range(-1074, 1000));   // whole range
            default: return std::ldexp(uniform(), range(-1070, -1000)); // subnormal products
        }
    }
};

struct problem {
    uint64_t m, n, k, lda, ldb, ldc;
    std::vector<double> A, B, C;
    double beta;
};

inline problem make_problem(gen &g, int kind, uint64_t m, uint64_t n, uint64_t k) {
    problem p{m, n, k, k + (uint64_t)g.range(0, 2), n + (uint64_t)g.range(0, 2),
              n + (uint64_t)g.range(0, 2), {}, {}, {}, 0.0};
    p.A.resize(m * p.lda);
    p.B.resize(k * p.ldb);
    p.C.resize(m * p.ldc);
    for (auto &x : p.A) x = g.entry(kind);
    for (auto &x : p.B) x = g.entry(kind);
    for (auto &x : p.C) x = g.entry(1);
    return p;
}

// Problem number `it` of a random differential test: kind it % 6, short or
// longer inner dimension, beta 0, 1, -2.5 or 2^-600, exact cancellations
// (pairs of opposite products) every 9th, a zero row of A (+-0) and a zero
// column of B every 13th.
inline problem random_case(gen &g, int it) {
    const int kind = it % 6;
    const uint64_t k = (it % 5 == 0) ? (uint64_t)g.range(60, 140) : (uint64_t)g.range(1, 12);
    problem p = make_problem(g, kind, (uint64_t)g.range(1, 8), (uint64_t)g.range(1, 8), k);
    const double betas[] = {0.0, 1.0, -2.5, 0x1p-600};
    p.beta = betas[it % 4];
    if (it % 9 == 0) {
        for (uint64_t i = 0; i < p.m; ++i)
            for (uint64_t l = 0; l + 1 < p.k; l += 2) p.A[i * p.lda + l + 1] = -p.A[i * p.lda + l];
        for (uint64_t l = 0; l + 1 < p.k; l += 2)
            for (uint64_t j = 0; j < p.n; ++j) p.B[(l + 1) * p.ldb + j] = p.B[l * p.ldb + j];
    }
    if (it % 13 == 0) {
        for (uint64_t l = 0; l < p.k; ++l) p.A[l] = (l % 2) ? -0.0 : 0.0;
        for (uint64_t l = 0; l < p.k; ++l) p.B[l * p.ldb + p.n - 1] = 0.0;
    }
    return p;
}

// Runs qxgemm and product(C) (returning its status) on copies of p.C and
// compares every entry, the padding between rows included: neither may
// write there.
template <class F>
void expect_as_qxgemm(const problem &p, unsigned rnd, F &&product, const char *what) {
    std::vector<double> c1 = p.C, c2 = p.C;
    ASSERT_EQ(qxgemm(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, c1.data(), p.beta, p.ldc,
                     rnd),
              0);
    ASSERT_EQ(product(c2.data()), 0);
    for (size_t q = 0; q < c1.size(); ++q)
        ASSERT_TRUE(testsupport::same_bits(c2[q], c1[q]))
            << what << ": entry " << q << " of " << p.m << "x" << p.n << "x" << p.k << ", rnd "
            << rnd << ", beta " << p.beta;
}

// product(C) (returning its status) gives qxgemm's result with beta = 0 and
// status 0 under every allocation failure; returns the number of
// allocations of a run.
template <class F>
uint64_t expect_as_qxgemm_without_memory(const problem &p, F &&product) {
    std::vector<double> want = p.C;
    EXPECT_EQ(qxgemm(p.m, p.n, p.k, p.A.data(), p.lda, p.B.data(), p.ldb, want.data(), 0.0, p.ldc,
                     0),
              0);
    std::vector<double> got(p.C.size());
    int status = 0;
    return testsupport::for_each_allocation_failure(
        [&] {
            std::memcpy(got.data(), p.C.data(), got.size() * sizeof(double));
            status = product(got.data());
        },
        [&](uint64_t) {
            EXPECT_EQ(status, 0);
            for (size_t q = 0; q < got.size(); ++q)
                ASSERT_TRUE(testsupport::same_bits(got[q], want[q])) << q;
        });
}

}  // namespace oztest

#endif
