// The exact accumulator: put, normalisation, term and product
// classification, the binned sum and dot-product paths and merging, checked
// against the exact value computed with MPFR.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "qxsum/acc_util.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

using namespace testsupport;
using qxtest::acc_value;
using qxtest::empty_acc;
using qxtest::holds;
using qxtest::normal_form;
using qxtest::same_state;

namespace {

// Integer significand exponent of a finite nonzero double.
int sig_exp(double x) {
    const int be = (int)((std::bit_cast<uint64_t>(x) >> 52) & 0x7ff);
    return be == 0 ? -1074 : be - 1075;
}

TEST(Accumulator, InitClearsEverything) {
    qxsum_acc a = empty_acc();
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&a);
    for (size_t i = 0; i < sizeof a; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
    for (unsigned r = 0; r < 4; ++r) EXPECT_TRUE(same_bits(qxsum_round(&a, r), 0.0)) << r;
}

TEST(Put, ValueThreeAtLowestShifts) {
    // p = -2145 + 2176 = 31: the low bit lands on bit 31 of limb 0.
    qxsum_acc a = empty_acc();
    qx::put(&a, 0, 3, 0, -2145);
    EXPECT_EQ(a.limb[0], int64_t(1) << 31);
    EXPECT_EQ(a.limb[1], 1);
    for (int i = 2; i < QXSUM_LIMBS; ++i) EXPECT_EQ(a.limb[i], 0) << i;
    EXPECT_EQ(a.pending, 1u);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(a.nonzero, 0);

    qxsum_acc b = empty_acc();
    qx::put(&b, 1, 3, 0, -2145);
    EXPECT_EQ(b.limb[0], -(int64_t(1) << 31));
    EXPECT_EQ(b.limb[1], -1);
    for (int i = 2; i < QXSUM_LIMBS; ++i) EXPECT_EQ(b.limb[i], 0) << i;

    // The lowest weight itself, and a zero value (still counted as a put).
    qxsum_acc c = empty_acc();
    qx::put(&c, 0, 1, 0, -2176);
    EXPECT_EQ(c.limb[0], 1);
    qx::put(&c, 1, 0, 0, 100);
    EXPECT_EQ(c.pending, 2u);
    EXPECT_EQ(c.limb[0], 1);
}

TEST(Put, RandomValuesAgainstMpfr) {
    std::mt19937_64 rng(11);
    mpfr_t want, t, got;
    mpfr_init2(want, qxtest::acc_prec);
    mpfr_init2(t, 128);
    mpfr_init2(got, qxtest::acc_prec);
    const int rounds = scaled(200, 10);
    for (int r = 0; r < rounds; ++r) {
        qxsum_acc a = empty_acc();
        mpfr_set_zero(want, 1);
        const int puts = 1 + (int)(rng() % 40);
        for (int k = 0; k < puts; ++k) {
            const int neg = (int)(rng() & 1);
            uint64_t lo = rng(), hi = rng();
            switch (rng() % 4) {
                case 0: hi = 0; break;                       // 64-bit values
                case 1: hi >>= (rng() % 64); break;          // up to 128 bits
                case 2: lo = 0; hi = 0; lo = rng() >> 11; break;  // a significand
                default: break;                              // full 128 bits
            }
            // The value must end below limb 133: shift + bit length <= 2080.
            const int len = hi ? 128 - std::countl_zero(hi) : (lo ? 64 - std::countl_zero(lo) : 0);
            const int top = 2080 - len;
            const int shift = -2176 + (int)(rng() % (uint64_t)(top + 2176 + 1));
            qx::put(&a, neg, lo, hi, shift);
            mpfr_set_ui(t, (unsigned long)hi, MPFR_RNDN);
            mpfr_mul_2ui(t, t, 64, MPFR_RNDN);
            mpfr_add_ui(t, t, (unsigned long)lo, MPFR_RNDN);
            mpfr_mul_2si(t, t, shift, MPFR_RNDN);
            if (neg) mpfr_neg(t, t, MPFR_RNDN);
            ASSERT_EQ(mpfr_add(want, want, t, MPFR_RNDN), 0);
        }
        EXPECT_EQ(a.pending, (uint64_t)puts);
        acc_value(got, a);
        ASSERT_TRUE(mpfr_equal_p(got, want) || (mpfr_zero_p(got) && mpfr_zero_p(want))) << "round " << r;
        qx::normalise(&a);
        ASSERT_TRUE(normal_form(a));
        acc_value(got, a);
        ASSERT_TRUE(mpfr_equal_p(got, want) || (mpfr_zero_p(got) && mpfr_zero_p(want)));
    }
    mpfr_clear(want);
    mpfr_clear(t);
    mpfr_clear(got);
}

TEST(Put, NormalisesWhenPendingPassesTheLimit) {
    // Just below the limit: no carry pass yet, limbs may be negative.
    qxsum_acc a = empty_acc();
    a.pending = qx::pending_limit - 1;
    qx::put(&a, 1, 12345, 0, 0);
    EXPECT_EQ(a.pending, qx::pending_limit);
    EXPECT_FALSE(normal_form(a)) << "a negative value without normalisation has a negative limb";

    // The next put exceeds the limit: the limbs are normalised, pending reset.
    mpfr_t before, after;
    mpfr_init2(before, qxtest::acc_prec);
    mpfr_init2(after, qxtest::acc_prec);
    qx::put(&a, 0, 7, 0, -1000);
    EXPECT_EQ(a.pending, 0u);
    EXPECT_TRUE(normal_form(a));
    acc_value(after, a);
    mpfr_set_si(before, -12345, MPFR_RNDN);
    mpfr_t t;
    mpfr_init2(t, 64);
    mpfr_set_ui_2exp(t, 7, -1000, MPFR_RNDN);
    mpfr_add(before, before, t, MPFR_RNDN);
    EXPECT_TRUE(mpfr_equal_p(before, after));
    EXPECT_LT(a.limb[QXSUM_LIMBS - 1], 0) << "the top limb carries the sign";
    mpfr_clear(before);
    mpfr_clear(after);
    mpfr_clear(t);
}

TEST(Normalise, SubrangesAndFullPassKeepTheValue) {
    std::mt19937_64 rng(5);
    mpfr_t v0, v1;
    mpfr_init2(v0, qxtest::acc_prec);
    mpfr_init2(v1, qxtest::acc_prec);
    for (int r = 0; r < scaled(300, 20); ++r) {
        qxsum_acc a = empty_acc();
        for (int i = 0; i < QXSUM_LIMBS; ++i) {
            const int w = (int)(rng() % 63);  // magnitudes below 2^62
            a.limb[i] = (int64_t)(rng() >> (64 - w - 1) >> 1) * ((rng() & 1) ? -1 : 1);
            if (rng() % 3 == 0) a.limb[i] = 0;
        }
        acc_value(v0, a);
        const int from = (int)(rng() % (QXSUM_LIMBS - 1));
        const int to = from + 1 + (int)(rng() % (QXSUM_LIMBS - 1 - from));
        qxsum_acc b = a;
        qx::normalise(b.limb, from, to);
        acc_value(v1, b);
        ASSERT_TRUE(mpfr_equal_p(v0, v1)) << "from " << from << " to " << to;
        for (int i = 0; i < QXSUM_LIMBS; ++i) {
            if (i < from || i > to) {
                ASSERT_EQ(b.limb[i], a.limb[i]) << "limb " << i << " outside [" << from << ", " << to << "]";
            } else if (i < to) {
                ASSERT_GE(b.limb[i], 0) << i;
                ASSERT_LT(b.limb[i], int64_t(1) << 32) << i;
            }
        }
        qx::normalise(&a);
        ASSERT_TRUE(normal_form(a));
        acc_value(v1, a);
        ASSERT_TRUE(mpfr_equal_p(v0, v1));
    }
    mpfr_clear(v0);
    mpfr_clear(v1);
}

// Specified cases of the accumulator's exactness.
TEST(Accumulator, ExactCancellationAndExtremeProducts) {
    {
        const double x[] = {1e308, -1e308, 1.0};
        qxsum_acc a = empty_acc();
        qxsum_add(&a, x, 3);
        exact_total e;
        for (double v : x) e.add(v);
        EXPECT_TRUE(holds(a, e));
        for (unsigned r = 0; r < 4; ++r) EXPECT_TRUE(same_bits(qxsum_round(&a, r), 1.0));
    }
    {
        const double tiny = std::ldexp(1.0, -1074);
        const double x[] = {tiny, -tiny};
        qxsum_acc a = empty_acc();
        qxsum_add(&a, x, 2);
        qx::normalise(&a);
        for (int i = 0; i < QXSUM_LIMBS; ++i) EXPECT_EQ(a.limb[i], 0) << i;
        EXPECT_EQ(a.nonzero, 1);
        EXPECT_TRUE(same_bits(qxsum_round(&a, 0), 0.0));
        EXPECT_TRUE(same_bits(qxsum_round(&a, 2), -0.0));
    }
    {
        // 2^-1074 * 2^-1074 = 2^-2148 = 2^28 at the lowest limb.
        const double tiny = std::ldexp(1.0, -1074), one = 1.0, mone = -1.0;
        qxsum_acc a = empty_acc();
        qxsum_add_dot(&a, &tiny, &tiny, 1);
        qxsum_add(&a, &one, 1);
        qxsum_add(&a, &mone, 1);
        qx::normalise(&a);
        EXPECT_EQ(a.limb[0], int64_t(1) << 28);
        for (int i = 1; i < QXSUM_LIMBS; ++i) EXPECT_EQ(a.limb[i], 0) << i;
        EXPECT_TRUE(same_bits(qxsum_round(&a, 1), tiny));
        EXPECT_TRUE(same_bits(qxsum_round(&a, 0), 0.0));
    }
    {
        // The largest product, once and 1000 times (the top limb absorbs the carries).
        const double big = 0x1.fffffffffffffp+1023;
        std::vector<double> x(1000, big), y(1000, big);
        for (uint64_t n : {uint64_t(1), uint64_t(63), uint64_t(1000)}) {
            qxsum_acc a = empty_acc();
            qxsum_add_dot(&a, x.data(), y.data(), n);
            exact_total e;
            for (uint64_t i = 0; i < n; ++i) e.add_product(big, big);
            EXPECT_TRUE(holds(a, e)) << n;
            qxsum_acc b = empty_acc();
            for (uint64_t i = 0; i < n; ++i) qxsum_add_dot(&b, &big, &big, 1);
            EXPECT_TRUE(holds(b, e)) << n;
            EXPECT_TRUE(same_bits(qxsum_round(&a, 0), (double)INFINITY));
            EXPECT_TRUE(same_bits(qxsum_round(&a, 3), big));
            // And cancelled again down to one small term.
            std::vector<double> nx(n, -big);
            qxsum_add_dot(&a, nx.data(), y.data(), n);
            const double half = 0.5;
            qxsum_add(&a, &half, 1);
            for (unsigned r = 0; r < 4; ++r) EXPECT_TRUE(same_bits(qxsum_round(&a, r), 0.5)) << n;
        }
    }
}

TEST(Accumulator, SpecialTermsSetTheirFlags) {
    const double inf = INFINITY, nan = std::nan("");
    struct pair_case {
        double x, y;
        int nan, pinf, ninf, pzero, nzero, nonzero;
    };
    const pair_case products[] = {
        {inf, 0.0, 1, 0, 0, 0, 0, 0},    {-0.0, inf, 1, 0, 0, 0, 0, 0},
        {nan, 0.0, 1, 0, 0, 0, 0, 0},    {2.0, nan, 1, 0, 0, 0, 0, 0},
        {inf, -inf, 0, 0, 1, 0, 0, 0},   {-inf, -2.0, 0, 1, 0, 0, 0, 0},
        {-0.0, 3.0, 0, 0, 0, 0, 1, 0},   {-0.0, -3.0, 0, 0, 0, 1, 0, 0},
        {0.0, 0.0, 0, 0, 0, 1, 0, 0},    {-2.0, 3.0, 0, 0, 0, 0, 0, 1},
        {1e-300, 1e-300, 0, 0, 0, 0, 0, 1},
    };
    for (const pair_case &c : products) {
        for (uint64_t n : {uint64_t(1), uint64_t(64)}) {  // per pair and binned
            std::vector<double> x(n, c.x), y(n, c.y);
            qxsum_acc a = empty_acc();
            qxsum_add_dot(&a, x.data(), y.data(), n);
            SCOPED_TRACE(::testing::Message() << c.x << " * " << c.y << ", n = " << n);
            EXPECT_EQ(a.nan, c.nan);
            EXPECT_EQ(a.pinf, c.pinf);
            EXPECT_EQ(a.ninf, c.ninf);
            EXPECT_EQ(a.pzero, c.pzero);
            EXPECT_EQ(a.nzero, c.nzero);
            EXPECT_EQ(a.nonzero, c.nonzero);
            EXPECT_EQ(a.count, n);
        }
    }
    const double terms[] = {nan, inf, -inf, 0.0, -0.0, 5.0};
    const int flags[][6] = {{1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0},
                            {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 1}, {0, 0, 0, 1, 0, 0}};
    for (int t = 0; t < 6; ++t) {
        for (uint64_t n : {uint64_t(1), uint64_t(64)}) {
            std::vector<double> x(n, terms[t]);
            qxsum_acc a = empty_acc();
            qxsum_add(&a, x.data(), n);
            SCOPED_TRACE(::testing::Message() << "term " << terms[t] << ", n = " << n);
            EXPECT_EQ(a.nan, flags[t][0]);
            EXPECT_EQ(a.pinf, flags[t][1]);
            EXPECT_EQ(a.ninf, flags[t][2]);
            EXPECT_EQ(a.nonzero, flags[t][3]);
            EXPECT_EQ(a.pzero, flags[t][4]);
            EXPECT_EQ(a.nzero, flags[t][5]);
            EXPECT_EQ(a.count, n);
        }
    }
    // Both infinities in one accumulator.
    qxsum_acc a = empty_acc();
    const double both[] = {inf, 1.0, -inf};
    qxsum_add(&a, both, 3);
    EXPECT_EQ(a.pinf, 1);
    EXPECT_EQ(a.ninf, 1);
    EXPECT_EQ(a.nan, 0);
}

TEST(Accumulator, FullSignificandCopiesForceBinFlushes) {
    const double m = 0x1.fffffffffffffp0;
    for (int e : {-1022, -1, 0, 500, 1023}) {
        for (double s : {1.0, -1.0}) {
            const double v = s * std::ldexp(m, e);
            // 5000 copies overflow a 64-bit bin unless it is flushed on the way.
            for (size_t n : {size_t(600), size_t(2000), size_t(5000)}) {
                std::vector<double> x(n, v);
                exact_total e1;
                for (size_t i = 0; i < n; ++i) e1.add(v);
                qxsum_acc a = empty_acc();
                qxsum_add(&a, x.data(), n);
                EXPECT_TRUE(holds(a, e1)) << v << " x " << n;
                // Dot products: all in one bin pair, again past the bin limit.
                std::vector<double> y(n, std::ldexp(m, -e / 2));
                exact_total e2;
                for (size_t i = 0; i < n; ++i) e2.add_product(v, y[i]);
                qxsum_acc b = empty_acc();
                qxsum_add_dot(&b, x.data(), y.data(), n);
                EXPECT_TRUE(holds(b, e2)) << v << " x " << n;
                for (unsigned r = 0; r < 4; ++r) {
                    EXPECT_TRUE(same_bits(qxsum_round(&a, r), e1.round(r)));
                    EXPECT_TRUE(same_bits(qxsum_round(&b, r), e2.round(r)));
                }
            }
        }
    }
    // The largest subnormal, 600 times.
    std::vector<double> x(600, std::bit_cast<double>(uint64_t(0x000fffffffffffff)));
    exact_total e;
    for (double v : x) e.add(v);
    qxsum_acc a = empty_acc();
    qxsum_add(&a, x.data(), x.size());
    EXPECT_TRUE(holds(a, e));
}

// Term-by-term and binned paths give identical accumulators.
TEST(Accumulator, BinnedAndTermPathsAgree) {
    hard_gen<double> g(21);
    const int reps = scaled(15, 2);
    for (int rep = 0; rep < reps; ++rep) {
        for (int kind = 0; kind < hard_gen<double>::sum_kinds; ++kind) {
            for (size_t n : {size_t(63), size_t(64), size_t(65), size_t(700)}) {
                std::vector<double> x = g.sum_case(n, kind);
                SCOPED_TRACE(::testing::Message() << "kind " << kind << ", n = " << n);
                exact_total e(sum_prec);
                for (double v : x) e.add(v);
                qxsum_acc binned = empty_acc(), split = empty_acc(), single = empty_acc();
                qxsum_add(&binned, x.data(), n);
                qxsum_add(&split, x.data(), 63);
                qxsum_add(&split, x.data() + 63, n - 63);
                for (double v : x) qx::add_term(&single, v);
                EXPECT_TRUE(holds(binned, e));
                EXPECT_TRUE(same_state(binned, single));
                EXPECT_TRUE(same_state(binned, split));

                std::vector<double> a, b;
                g.dot_case(n, kind, a, b);
                exact_total d;
                for (size_t i = 0; i < n; ++i) d.add_product(a[i], b[i]);
                qxsum_acc dbinned = empty_acc(), dsplit = empty_acc(), dsingle = empty_acc();
                qxsum_add_dot(&dbinned, a.data(), b.data(), n);
                qxsum_add_dot(&dsplit, a.data(), b.data(), 63);
                qxsum_add_dot(&dsplit, a.data() + 63, b.data() + 63, n - 63);
                for (size_t i = 0; i < n; ++i) qx::add_product(&dsingle, a[i], b[i]);
                EXPECT_TRUE(holds(dbinned, d));
                EXPECT_TRUE(same_state(dbinned, dsingle));
                EXPECT_TRUE(same_state(dbinned, dsplit));
            }
        }
    }
}

TEST(BinnedSum, SharedMaskAcrossCallsThenOneFlush) {
    hard_gen<double> g(33);
    for (int rep = 0; rep < scaled(20, 4); ++rep) {
        qxsum_acc a = empty_acc();
        exact_total e(sum_prec);
        uint64_t mask = 0, want_mask = 0;
        uint64_t total = 0;
        const int parts = 1 + rep % 4;
        for (int p = 0; p < parts; ++p) {
            const size_t n = (size_t)g.irange(0, 300);
            std::vector<double> x = g.sum_case(n, g.irange(0, hard_gen<double>::sum_kinds - 1));
            for (double v : x) {
                e.add(v);
                const uint64_t u = std::bit_cast<uint64_t>(v);
                if (std::isfinite(v) && v != 0) want_mask |= uint64_t(1) << (u >> 58);
            }
            qx::add_binned(&a, x.data(), n, &mask);
            total += n;
        }
        EXPECT_EQ(mask & want_mask, want_mask) << "a touched group is missing from the mask";
        EXPECT_EQ(a.count, total);
        qx::flush_binned(&a, mask);
        EXPECT_TRUE(holds(a, e)) << "rep " << rep;
        // The thread's bins are clean again: a new binned sum is exact.
        std::vector<double> y = g.sum_case(100, 1);
        exact_total f(sum_prec);
        for (double v : y) f.add(v);
        qxsum_acc b = empty_acc();
        uint64_t m2 = 0;
        qx::add_binned(&b, y.data(), y.size(), &m2);
        qx::flush_binned(&b, m2);
        EXPECT_TRUE(holds(b, f));
    }
}

TEST(DotBins, StridesTrackersAndCleanBuffer) {
    hard_gen<double> g(44);
    uint64_t *bins = qx::dot_bins_alloc();
    ASSERT_NE(bins, nullptr);
    auto all_zero = [&] {
        for (int i = 0; i < 2 * qx::dot_bank; ++i)
            if (bins[i] != 0) return false;
        return true;
    };
    ASSERT_TRUE(all_zero()) << "the buffer must start zero-filled";
    for (int rep = 0; rep < scaled(30, 6); ++rep) {
        qxsum_acc a = empty_acc();
        exact_total e;
        int32_t lo = INT_MAX, hi = INT_MIN;
        int32_t want_lo = INT_MAX, want_hi = INT_MIN;
        uint64_t total = 0;
        for (int part = 0; part < 1 + rep % 3; ++part) {
            const size_t n = (size_t)g.irange(0, 200);
            const uint64_t incx = 1 + g.irange(0, 3), incy = 1 + g.irange(0, 3);
            std::vector<double> x, y;
            g.dot_case(n, g.irange(0, hard_gen<double>::dot_kinds - 1), x, y);
            std::vector<double> xs(n * incx + 1, std::nan("")), ys(n * incy + 1, std::nan(""));
            for (size_t i = 0; i < n; ++i) {
                xs[i * incx] = x[i];
                ys[i * incy] = y[i];
                e.add_product(x[i], y[i]);
                if (std::isfinite(x[i]) && std::isfinite(y[i]) && x[i] != 0 && y[i] != 0) {
                    const int E = sig_exp(x[i]) + sig_exp(y[i]);
                    want_lo = std::min(want_lo, E);
                    want_hi = std::max(want_hi, E);
                }
            }
            qx::add_dot_binned(&a, xs.data(), incx, ys.data(), incy, n, bins, &lo, &hi);
            total += n;
        }
        // The trackers cover the exponents used, to the 64-bin group that
        // holds them (the buffer marks groups rather than keeping a running
        // minimum and maximum); nothing binned leaves them empty.
        if (want_lo > want_hi) {
            EXPECT_GT(lo, hi);
        } else {
            EXPECT_LE(lo, want_lo);
            EXPECT_GT(lo, want_lo - 64);
            EXPECT_GE(hi, want_hi);
            EXPECT_LT(hi, want_hi + 64);
        }
        EXPECT_EQ(a.count, total);
        qx::flush_dot_binned(&a, bins, &lo, &hi);
        EXPECT_EQ(lo, INT_MAX);
        EXPECT_EQ(hi, INT_MIN);
        EXPECT_TRUE(all_zero()) << "bins left after the flush";
        EXPECT_TRUE(holds(a, e)) << "rep " << rep;
    }
    qx::dot_bins_free(bins);
}

TEST(Merge, SumsValuesOrsFlagsAddsCounts) {
    hard_gen<double> g(55);
    for (int rep = 0; rep < scaled(40, 8); ++rep) {
        std::vector<double> x = g.sum_case((size_t)g.irange(0, 100), g.irange(0, 8));
        std::vector<double> p, q;
        g.dot_case((size_t)g.irange(0, 100), g.irange(0, 8), p, q);
        qxsum_acc a = empty_acc(), b = empty_acc();
        exact_total ea, eab;
        qxsum_add(&a, x.data(), x.size());
        for (double v : x) {
            ea.add(v);
            eab.add(v);
        }
        qxsum_add_dot(&b, p.data(), q.data(), p.size());
        for (size_t i = 0; i < p.size(); ++i) eab.add_product(p[i], q[i]);
        // Leave b unnormalised with negative limbs.
        const double m1 = -1.0, tiny = 0x1p-1000;
        qxsum_add(&b, &m1, 1);
        qxsum_add(&b, &tiny, 1);
        eab.add(m1);
        eab.add(tiny);

        const qxsum_acc b_before = b;
        qxsum_acc dst = a;
        qxsum_merge(&dst, &b);
        EXPECT_EQ(std::memcmp(&b, &b_before, sizeof b), 0) << "src changed";
        EXPECT_TRUE(holds(dst, eab));
        EXPECT_EQ(dst.pending, 0u);
        EXPECT_TRUE(normal_form(dst));

        // merge(a, a): value and count doubled, flags kept.
        qxsum_acc self = a;
        qxsum_merge(&self, &self);
        exact_total twice;
        for (double v : x) {
            twice.add(v);
            twice.add(v);
        }
        EXPECT_TRUE(holds(self, twice));
        EXPECT_EQ(self.pending, 0u);

        // Into an empty accumulator.
        qxsum_acc z = empty_acc();
        qxsum_merge(&z, &a);
        EXPECT_TRUE(holds(z, ea));
        for (unsigned r = 0; r < 4; ++r) {
            EXPECT_TRUE(same_bits(qxsum_round(&dst, r), eab.round(r)));
            EXPECT_TRUE(same_bits(qxsum_round(&self, r), twice.round(r)));
        }
    }
}

TEST(Accumulator, RoundingLeavesTheAccumulatorAlone) {
    hard_gen<double> g(66);
    std::vector<double> x = g.sum_case(500, 2), y = g.sum_case(30, 3);
    qxsum_acc a = empty_acc();
    exact_total e(sum_prec);
    qxsum_add(&a, x.data(), x.size());
    for (double v : x) e.add(v);
    const qxsum_acc before = a;
    for (unsigned r = 0; r < 5; ++r) {
        EXPECT_TRUE(same_bits(qxsum_round(&a, r), e.round(r)));
        EXPECT_TRUE(same_bits(qxsum_roundf(&a, r), e.roundf(r)));
    }
    EXPECT_EQ(std::memcmp(&a, &before, sizeof a), 0);
    // Keep adding, round again.
    qxsum_add(&a, y.data(), y.size());
    for (double v : y) e.add(v);
    for (unsigned r = 0; r < 4; ++r) EXPECT_TRUE(same_bits(qxsum_round(&a, r), e.round(r)));
}

}  // namespace
