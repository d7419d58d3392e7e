// The shared pieces every export builds on: the floating-point environment
// guard (also inside parallel regions), the static partition of a region, the
// verdict flag, the directed steps and the finiteness test.
#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "common/steps.h"
#include "common/verdict.h"

namespace {

// 1/3 rounded in the current mode; volatile keeps the division at run time.
double third() {
    volatile double one = 1.0, three = 3.0;
    return one / three;
}

TEST(FenvGuard, InstallsDefaultAndRestoresModeAndFlags) {
    const int modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    const double nearest = third();
    for (int mode : modes) {
        ASSERT_EQ(std::fesetround(mode), 0);
        std::feclearexcept(FE_ALL_EXCEPT);
        std::feraiseexcept(FE_DIVBYZERO);
        {
            norva::fenv_guard guard;
            EXPECT_EQ(std::fegetround(), FE_TONEAREST);
            EXPECT_EQ(third(), nearest);
            EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO));
            (void)third();  // raises inexact inside
        }
        EXPECT_EQ(std::fegetround(), mode);
        EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO));
        EXPECT_FALSE(std::fetestexcept(FE_INEXACT)) << "flags raised inside must be discarded";
    }
    std::fesetround(FE_TONEAREST);
    std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(FenvGuard, EveryThreadOfARegionComputesToNearest) {
    const double nearest = third();
    std::fesetround(FE_UPWARD);
    const int threads = 3;
    std::vector<double> got(threads, 0.0);
    std::vector<int> mode_inside(threads, -1), mode_after(threads, -1);
#pragma omp parallel num_threads(threads)
    {
        const int id = omp_get_thread_num();
        const int entry_mode = std::fegetround();
        std::fesetround(FE_DOWNWARD);  // whatever the thread had
        {
            norva::fenv_guard guard;
            mode_inside[id] = std::fegetround();
            got[id] = third();
#pragma omp barrier
        }
        mode_after[id] = std::fegetround();
        std::fesetround(entry_mode);
    }
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    std::fesetround(FE_TONEAREST);
    for (int id = 0; id < threads; ++id) {
        if (mode_inside[id] < 0) continue;  // the runtime gave fewer threads
        EXPECT_EQ(mode_inside[id], FE_TONEAREST);
        EXPECT_EQ(got[id], nearest);
        EXPECT_EQ(mode_after[id], FE_DOWNWARD);
    }
}

// The region guard: a full guard on a thread outside any guard of the
// library; under an export's guard (thread 0 of its regions) it leaves the
// default environment in place, and the export's guard still discards the
// flags raised inside and restores the caller's mode.
TEST(FenvGuard, RegionGuardUnderAnExportGuardAndAlone) {
    const double nearest = third();
    for (bool under_export : {false, true}) {
        SCOPED_TRACE(under_export ? "under an export's guard" : "alone");
        std::fesetround(FE_UPWARD);
        std::feclearexcept(FE_ALL_EXCEPT);
        std::vector<int> mode_inside(3, -1);
        std::vector<double> got(3, 0.0);
        {
            std::optional<norva::fenv_guard> outer;
            if (under_export) outer.emplace();
#pragma omp parallel num_threads(3)
            {
                const int id = omp_get_thread_num();
                if (id != 0) std::fesetround(FE_DOWNWARD);  // whatever a worker had
                {
                    norva::fenv_region region;
                    mode_inside[id] = std::fegetround();
                    got[id] = third();
#pragma omp barrier
                }
                if (id != 0) {
                    EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
                    std::fesetround(FE_TONEAREST);
                }
            }
            if (under_export) {
                EXPECT_EQ(std::fegetround(), FE_TONEAREST);
            }
        }
        EXPECT_EQ(std::fegetround(), FE_UPWARD);
        EXPECT_FALSE(std::fetestexcept(FE_INEXACT)) << "flags raised inside must be discarded";
        for (int id = 0; id < 3; ++id) {
            if (mode_inside[id] < 0) continue;  // the runtime gave fewer threads
            EXPECT_EQ(mode_inside[id], FE_TONEAREST) << id;
            EXPECT_EQ(got[id], nearest) << id;
        }
    }
    std::fesetround(FE_TONEAREST);
    std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(Partition, SharesAreContiguousCompleteAndBalanced) {
    for (uint64_t count : {0ull, 1ull, 2ull, 7ull, 63ull, 64ull, 100ull, 1001ull}) {
        for (uint64_t threads = 1; threads <= 9; ++threads) {
            uint64_t next = 0;
            for (uint64_t id = 0; id < threads; ++id) {
                const norva::share s = norva::static_share(count, id, threads);
                EXPECT_EQ(s.begin, next) << count << " items, thread " << id << " of " << threads;
                const uint64_t size = s.end - s.begin;
                // the first count mod T threads take one item more
                EXPECT_EQ(size, count / threads + (id < count % threads ? 1 : 0));
                next = s.end;
            }
            EXPECT_EQ(next, count);
        }
    }
    EXPECT_EQ(norva::team_size(63, 64), 1);
    EXPECT_EQ(norva::team_size(64, 64), omp_get_max_threads());
}

TEST(Verdict, ConcurrentSetAndClear) {
    uint32_t failed = 0, proven = 0xffffffffu;
#pragma omp parallel num_threads(4)
    {
        const uint32_t id = (uint32_t)omp_get_thread_num();
        for (int r = 0; r < 1000; ++r) {
            if (r % 250 == 0) norva::verdict_set(&failed, 1u << id);
            if (r % 500 == 1) norva::verdict_clear(&proven, 1u << (8 + id));
        }
    }
    const uint32_t team = (1u << 4) - 1;
    // every thread that ran left its bit; nobody lost another's update
    EXPECT_EQ(failed & ~team, 0u);
    EXPECT_NE(failed, 0u);
    EXPECT_EQ(proven | (team << 8), 0xffffffffu);
    EXPECT_EQ(__builtin_popcount(failed), __builtin_popcount(~proven));
}

TEST(Steps, UpDownAndGamma) {
    EXPECT_EQ(norva::up(1.0), 1.0 + 0x1p-52);
    EXPECT_EQ(norva::down(1.0), 1.0 - 0x1p-53);
    EXPECT_EQ(norva::up(0.0), 0x1p-1074);
    EXPECT_EQ(norva::down(0.0), -0x1p-1074);
    EXPECT_EQ(norva::up(std::numeric_limits<double>::max()), std::numeric_limits<double>::infinity());
    // The steps on the bits agree with nextafter everywhere, NaN apart.
    std::mt19937_64 rng(5);
    std::vector<double> xs = {0.0, -0.0, 0x1p-1074, -0x1p-1074, 0x1p-1022, -0x1p-1022,
                              0x1.fffffffffffffp-1023, std::numeric_limits<double>::max(),
                              -std::numeric_limits<double>::max(), 1.0, -1.0,
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity()};
    for (int k = 0; k < 10000; ++k) xs.push_back(std::bit_cast<double>(rng()));
    for (double x : xs) {
        if (std::isnan(x)) {
            EXPECT_TRUE(std::isnan(norva::up(x)) && std::isnan(norva::down(x)));
            continue;
        }
        const double inf = std::numeric_limits<double>::infinity();
        EXPECT_EQ(std::bit_cast<uint64_t>(norva::up(x)), std::bit_cast<uint64_t>(std::nextafter(x, inf)))
            << x;
        EXPECT_EQ(std::bit_cast<uint64_t>(norva::down(x)),
                  std::bit_cast<uint64_t>(std::nextafter(x, -inf)))
            << x;
    }
    // gamma_n bounds n u / (1 - n u) from above and is tight to a few units.
    for (uint64_t n : {1ull, 2ull, 3ull, 10ull, 1000ull, 123456789ull, (1ull << 40) + 1}) {
        const long double nu = (long double)n * 0x1p-53L;
        const long double exact = nu / (1.0L - nu);
        const double g = norva::gamma_n(n);
        EXPECT_GE((long double)g, exact) << n;
        EXPECT_LE((long double)g, exact * (1.0L + 0x1p-50L)) << n;
    }
}

TEST(Finite, RejectsInfinitiesAndNaN) {
    EXPECT_TRUE(norva::finite(std::numeric_limits<double>::max()));
    EXPECT_TRUE(norva::finite(-std::numeric_limits<double>::max()));
    EXPECT_TRUE(norva::finite(-0.0));
    EXPECT_TRUE(norva::finite(0x1p-1074));
    EXPECT_FALSE(norva::finite(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(norva::finite(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(norva::finite(std::numeric_limits<double>::quiet_NaN()));
    const double m[6] = {1, 2, NAN, 4, 5, 6};  // 2 x 2 inside rows of 3
    EXPECT_TRUE(norva::all_finite(m, 2, 2, 3));
    EXPECT_FALSE(norva::all_finite(m, 2, 3, 3));
}

}  // namespace
