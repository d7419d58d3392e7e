// The short paths of the exact routines (a small expansion of error-free
// terms, taken under a guard of the library) against the long accumulator
// (taken outside any guard): qxsum, qxdot and qxgemm_oz with the module's
// own product give the same bits in all four rounding modes, on hard terms
// (the whole exponent range, cancellation, ties, zeros of either sign,
// special values) and on benign ones, for every short length.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "common/fenv_guard.h"
#include "qxsum/qxsum.h"
#include "support/hard_inputs.h"
#include "support/test_scale.h"

namespace {

bool same(double x, double y) {
    return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) || (x != x && y != y);
}

TEST(ShortPaths, SameBitsAsTheAccumulator) {
    testsupport::hard_gen<double> g(31);
    std::mt19937_64 rng(32);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int rep = 0; rep < testsupport::scaled(3000); ++rep) {
        const size_t n = 1 + rep % 40;
        const bool benign = rep % 3 == 0;
        std::vector<double> x, y;
        if (benign) {
            for (size_t i = 0; i < n; ++i) x.push_back(u(rng)), y.push_back(u(rng));
        } else {
            x = g.sum_case(n, rep % g.sum_kinds);
            g.dot_case(n, rep % g.dot_kinds, x, y);
        }
        // B (k x 2): row l is (y[l], y[l + 1 mod n]).
        const size_t k = std::min<size_t>(n, 16);
        std::vector<double> b(2 * k);
        for (size_t l = 0; l < k; ++l) b[2 * l] = y[l], b[2 * l + 1] = y[(l + 1) % n];
        const std::vector<double> c = {u(rng), -0.0};
        for (uint32_t rnd = 0; rnd < 4; ++rnd) {
            SCOPED_TRACE("n " + std::to_string(n) + ", rnd " + std::to_string(rnd) +
                         (benign ? ", benign" : ", hard"));
            const double s0 = qxsum(x.data(), n, rnd), d0 = qxdot(x.data(), y.data(), n, rnd);
            // A 1 x 2 product of inner dimension k, C = A B + beta C.
            double c0[2] = {c[0], c[1]}, c1[2] = {c[0], c[1]};
            ASSERT_EQ(qxgemm_oz(1, 2, k, x.data(), k, b.data(), 2, c0, 0.5, 2, rnd, nullptr,
                                nullptr),
                      0);
            double s1, d1;
            {
                norva::fenv_guard guard;  // the short paths from here
                s1 = qxsum(x.data(), n, rnd);
                d1 = qxdot(x.data(), y.data(), n, rnd);
                ASSERT_EQ(qxgemm_oz(1, 2, k, x.data(), k, b.data(), 2, c1, 0.5, 2, rnd, nullptr,
                                    nullptr),
                          0);
            }
            EXPECT_TRUE(same(s0, s1)) << s0 << " " << s1;
            EXPECT_TRUE(same(d0, d1)) << d0 << " " << d1;
            EXPECT_TRUE(same(c0[0], c1[0]) && same(c0[1], c1[1]));
        }
    }
}

}  // namespace
