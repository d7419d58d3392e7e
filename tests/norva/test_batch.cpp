// norva_solve_batch against norva_solve on each system: the same bits and
// statuses on one to three threads, singular members included, padding
// between systems never read and between bounds never written; and the -1
// contracts.
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "norva.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double sentinel = -12345.678;

struct batch {
    uint64_t count, n, sa, sb, sx;
    std::vector<double> a, b;
};

// count systems of order n with strides padded by `pad` (NaN padding, never
// to be read); every fifth system singular (two equal rows), the others
// random with a dominant diagonal or, every seventh, a Hilbert-like
// ill-conditioned matrix that mode 0 or 1 may fail to prove.
batch make(uint64_t count, uint64_t n, uint64_t pad, uint64_t seed) {
    batch s{count, n, n * n + pad, n + pad, n + pad, {}, {}};
    s.a.assign(count * s.sa, nan);
    s.b.assign(count * s.sb, nan);
    std::mt19937_64 g(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    for (uint64_t k = 0; k < count; ++k) {
        double *a = s.a.data() + k * s.sa, *b = s.b.data() + k * s.sb;
        for (uint64_t i = 0; i < n; ++i) {
            b[i] = u(g);
            for (uint64_t j = 0; j < n; ++j)
                a[i * n + j] = k % 7 == 3 ? 1.0 / (double)(i + j + 1) : u(g) + (i == j ? (double)n : 0);
        }
        if (k % 5 == 2 && n > 1)
            for (uint64_t j = 0; j < n; ++j) a[n + j] = a[j];
    }
    return s;
}

bool same(double x, double y) { return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y); }

TEST(SolveBatch, EverySystemAsNorvaSolveOnOneToThreeThreads) {
    const int saved = omp_get_max_threads();
    struct row {
        uint64_t count, n, pad;
    };
    for (const row r : {row{1, 1, 0}, row{40, 3, 0}, row{2000, 4, 3}, row{30, 12, 1}, row{5, 70, 2}}) {
        const batch s = make(r.count, r.n, r.pad, r.count * 131 + r.n);
        for (int32_t mode : {0, 1, 2}) {
            // The reference: norva_solve system by system.
            std::vector<double> lo1(r.count * s.sx, sentinel), hi1(lo1);
            std::vector<int32_t> st1(r.count);
            int32_t all1 = 0;
            for (uint64_t k = 0; k < r.count; ++k) {
                st1[k] = norva_solve(r.n, s.a.data() + k * s.sa, r.n, s.b.data() + k * s.sb,
                                     nullptr, 0, lo1.data() + k * s.sx, hi1.data() + k * s.sx,
                                     mode, nullptr, nullptr);
                all1 |= st1[k];
            }
            for (int threads = 1; threads <= 3; ++threads) {
                SCOPED_TRACE(std::to_string(r.count) + " systems of order " + std::to_string(r.n) +
                             ", mode " + std::to_string(mode) + ", " + std::to_string(threads) +
                             " threads");
                omp_set_num_threads(threads);
                std::vector<double> lo(r.count * s.sx, sentinel), hi(lo);
                std::vector<int32_t> st(r.count, 7);
                const int32_t all = norva_solve_batch(r.count, r.n, s.a.data(), s.sa, s.b.data(),
                                                      s.sb, lo.data(), hi.data(), s.sx, mode,
                                                      st.data());
                EXPECT_EQ(all, all1);
                EXPECT_EQ(st, st1);
                for (uint64_t q = 0; q < lo.size(); ++q)
                    ASSERT_TRUE(same(lo[q], lo1[q]) && same(hi[q], hi1[q])) << "entry " << q;
            }
            if (r.count >= 10) {
                EXPECT_EQ(all1, 1);  // singular members are never proven
            }
        }
    }
    omp_set_num_threads(saved);
}

TEST(SolveBatch, RefusesWithNothingWritten) {
    const batch s = make(3, 2, 0, 5);
    std::vector<double> bad_a = s.a, bad_b = s.b;
    bad_a[4 + 3] = std::numeric_limits<double>::infinity();  // system 1, entry (1, 1)
    bad_b[2 * 2 + 1] = nan;                                   // system 2, b[1]
    struct call {
        const char *what;
        uint64_t count, n, sa, sb, sx;
        const double *a, *b;
        int32_t mode;
        bool null_status;
    };
    const uint64_t huge = UINT64_MAX / 8;
    const std::vector<call> calls = {
        {"count 0", 0, 2, 4, 2, 2, s.a.data(), s.b.data(), 0, false},
        {"n 0", 3, 0, 4, 2, 2, s.a.data(), s.b.data(), 0, false},
        {"mode 3", 3, 2, 4, 2, 2, s.a.data(), s.b.data(), 3, false},
        {"mode -1", 3, 2, 4, 2, 2, s.a.data(), s.b.data(), -1, false},
        {"status null", 3, 2, 4, 2, 2, s.a.data(), s.b.data(), 0, true},
        {"stride_a below n^2", 3, 2, 3, 2, 2, s.a.data(), s.b.data(), 0, false},
        {"stride_b below n", 3, 2, 4, 1, 2, s.a.data(), s.b.data(), 0, false},
        {"stride_x below n", 3, 2, 4, 2, 1, s.a.data(), s.b.data(), 0, false},
        {"strides beyond the address space", 3, 2, huge, 2, 2, s.a.data(), s.b.data(), 0, false},
        {"n^2 wraps", 1, uint64_t(1) << 32, 0, 0, 0, s.a.data(), s.b.data(), 0, false},
        {"infinity in system 1", 3, 2, 4, 2, 2, bad_a.data(), s.b.data(), 1, false},
        {"NaN in system 2's b", 3, 2, 4, 2, 2, s.a.data(), bad_b.data(), 2, false},
    };
    for (const call &c : calls) {
        std::vector<double> lo(8, sentinel), hi(8, sentinel);
        std::vector<int32_t> st(4, 7);
        EXPECT_EQ(norva_solve_batch(c.count, c.n, c.a, c.sa, c.b, c.sb, lo.data(), hi.data(), c.sx,
                                    c.mode, c.null_status ? nullptr : st.data()),
                  -1)
            << c.what;
        for (uint64_t q = 0; q < 8; ++q) EXPECT_TRUE(lo[q] == sentinel && hi[q] == sentinel) << c.what;
        EXPECT_EQ(st, std::vector<int32_t>(4, 7)) << c.what;
    }
    // One system: its strides are never used.
    std::vector<double> lo(2), hi(2);
    int32_t st = 7;
    EXPECT_EQ(norva_solve_batch(1, 2, s.a.data(), 0, s.b.data(), 0, lo.data(), hi.data(), 0, 0, &st), 0);
    EXPECT_EQ(st, 0);
}

}  // namespace
