// Correct rounding of the exact total: the specified edge cases in all four
// modes (double and float), and MPFR differentials over accumulators filled
// with hard terms and over arbitrary unnormalised limb states.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "qxsum/acc_util.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

using namespace testsupport;
using qxtest::empty_acc;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double dmax = 0x1.fffffffffffffp+1023;
constexpr double fmax = 0x1.fffffep+127;
const double nan_term = std::nan("");

// A term x, or an exact product x * y.
struct term {
    double x, y;
    bool product;
};
term t(double x) { return {x, 0, false}; }
term pr(double x, double y) { return {x, y, true}; }

struct edge {
    const char *what;
    std::vector<term> terms;
    bool to_float;
    double want[4];  // modes 0..3 (float results held as doubles)
};

void fill(qxsum_acc &a, exact_total &e, const std::vector<term> &terms) {
    for (const term &q : terms) {
        if (q.product) {
            qxsum_add_dot(&a, &q.x, &q.y, 1);
            e.add_product(q.x, q.y);
        } else {
            qxsum_add(&a, &q.x, 1);
            e.add(q.x);
        }
    }
}

TEST(Round, SpecifiedEdgeCases) {
    const double tiny = 0x1p-1074;
    const std::vector<edge> cases = {
        {"empty", {}, false, {0.0, 0.0, 0.0, 0.0}},
        {"empty, float", {}, true, {0.0, 0.0, 0.0, 0.0}},
        {"only -0", {t(-0.0), t(-0.0), t(-0.0)}, false, {-0.0, -0.0, -0.0, -0.0}},
        {"only -0, float", {t(-0.0)}, true, {-0.0, -0.0, -0.0, -0.0}},
        {"only -0 products", {pr(-0.0, 2.0), pr(3.0, -0.0)}, false, {-0.0, -0.0, -0.0, -0.0}},
        {"+0 and -0", {t(0.0), t(-0.0)}, false, {0.0, 0.0, -0.0, 0.0}},
        {"only +0", {t(0.0), t(0.0)}, false, {0.0, 0.0, 0.0, 0.0}},
        {"1 - 1", {t(1.0), t(-1.0)}, false, {0.0, 0.0, -0.0, 0.0}},
        {"1 - 1, float", {t(1.0), t(-1.0)}, true, {0.0, 0.0, -0.0, 0.0}},
        {"-0 and 1 - 1", {t(-0.0), t(1.0), t(-1.0)}, false, {0.0, 0.0, -0.0, 0.0}},
        {"1 + 2^-53", {t(1.0), t(0x1p-53)}, false, {1.0, 1.0 + 0x1p-52, 1.0, 1.0}},
        {"1 + 2^-53 + 2^-1074", {t(1.0), t(0x1p-53), t(tiny)}, false,
         {1.0 + 0x1p-52, 1.0 + 0x1p-52, 1.0, 1.0}},
        {"1 + 2^-53 - 2^-1074", {t(1.0), t(0x1p-53), t(-tiny)}, false,
         {1.0, 1.0 + 0x1p-52, 1.0, 1.0}},
        {"1 + 3 2^-53 (tie, odd)", {t(1.0 + 0x1p-52), t(0x1p-53)}, false,
         {1.0 + 0x1p-51, 1.0 + 0x1p-51, 1.0 + 0x1p-52, 1.0 + 0x1p-52}},
        {"-1 - 2^-53", {t(-1.0), t(-0x1p-53)}, false, {-1.0, -1.0, -1.0 - 0x1p-52, -1.0}},
        {"max + 2^970", {t(dmax), t(0x1p970)}, false, {inf, inf, dmax, dmax}},
        {"-(max + 2^970)", {t(-dmax), t(-0x1p970)}, false, {-inf, -dmax, -inf, -dmax}},
        {"max + 2^970 - 2^-1074", {t(dmax), t(0x1p970), t(-tiny)}, false, {dmax, inf, dmax, dmax}},
        {"max + 2^969", {t(dmax), t(0x1p969)}, false, {dmax, inf, dmax, dmax}},
        {"max + max", {t(dmax), t(dmax)}, false, {inf, inf, dmax, dmax}},
        {"max * 2 - max", {pr(dmax, 2.0), t(-dmax)}, false, {dmax, dmax, dmax, dmax}},
        {"2^-1074 * 1.5", {pr(tiny, 1.5)}, false, {0x1p-1073, 0x1p-1073, tiny, tiny}},
        {"2^-1074 * 2.5 (tie, even)", {pr(tiny, 2.5)}, false, {0x1p-1073, 0x1.8p-1073, 0x1p-1073, 0x1p-1073}},
        {"2^-1074 * 0.5", {pr(tiny, 0.5)}, false, {0.0, tiny, 0.0, 0.0}},
        {"-2^-1074 * 0.5", {pr(-tiny, 0.5)}, false, {-0.0, -0.0, -tiny, -0.0}},
        {"2^-1074 * 0.5 + 2^-2148", {pr(tiny, 0.5), pr(tiny, tiny)}, false, {tiny, tiny, 0.0, 0.0}},
        {"smallest normal minus a half subnormal", {t(0x1p-1022), pr(-tiny, 0.5)}, false,
         {0x1p-1022, 0x1p-1022, 0x1p-1022 - tiny, 0x1p-1022 - tiny}},
        {"float: 1 + 2^-24 + 2^-80", {t(1.0), t(0x1p-24), t(0x1p-80)}, true,
         {1.0 + 0x1p-23, 1.0 + 0x1p-23, 1.0, 1.0}},
        {"float: 1 + 2^-24", {t(1.0), t(0x1p-24)}, true, {1.0, 1.0 + 0x1p-23, 1.0, 1.0}},
        {"float: max + 2^103", {t(fmax), t(0x1p103)}, true, {inf, inf, fmax, fmax}},
        {"float: -(max + 2^103)", {t(-fmax), t(-0x1p103)}, true, {-inf, -fmax, -inf, -fmax}},
        {"float: max + 2^102", {t(fmax), t(0x1p102)}, true, {fmax, inf, fmax, fmax}},
        {"float: double max", {t(dmax)}, true, {inf, inf, fmax, fmax}},
        {"float: 2^-149 * 1.5", {pr(0x1p-149, 1.5)}, true, {0x1p-148, 0x1p-148, 0x1p-149, 0x1p-149}},
        {"float: -2^-150", {t(-0x1p-150)}, true, {-0.0, -0.0, -0x1p-149, -0.0}},
        {"float: 2^-1074", {t(tiny)}, true, {0.0, 0x1p-149, 0.0, 0.0}},
        {"float: 2^-126 - 2^-150", {t(0x1p-126), t(-0x1p-150)}, true,
         {0x1p-126, 0x1p-126, 0x1p-126 - 0x1p-149, 0x1p-126 - 0x1p-149}},
        {"+inf and -inf", {t(inf), t(1.0), t(-inf)}, false, {nan_term, nan_term, nan_term, nan_term}},
        {"-inf alone", {t(-inf), t(dmax)}, false, {-inf, -inf, -inf, -inf}},
        {"-inf alone, float", {t(-inf)}, true, {-inf, -inf, -inf, -inf}},
        {"+inf", {t(inf), t(-dmax), t(-dmax)}, false, {inf, inf, inf, inf}},
        {"inf * 0", {pr(inf, 0.0), t(1.0)}, false, {nan_term, nan_term, nan_term, nan_term}},
        {"inf * -inf", {pr(inf, -inf)}, false, {-inf, -inf, -inf, -inf}},
        {"NaN term", {t(1.0), t(nan_term)}, true, {nan_term, nan_term, nan_term, nan_term}},
        {"NaN payload", {t(std::bit_cast<double>(0xfff0000000000123ULL))}, false,
         {nan_term, nan_term, nan_term, nan_term}},
    };
    for (const edge &c : cases) {
        qxsum_acc a = empty_acc();
        exact_total e;
        fill(a, e, c.terms);
        for (unsigned r = 0; r < 4; ++r) {
            SCOPED_TRACE(::testing::Message() << c.what << ", mode " << mode_name(r));
            if (c.to_float) {
                const float want = (float)c.want[r];
                if (!std::isnan(want)) {
                    ASSERT_EQ((double)want, c.want[r]) << "expectation is not a float";
                }
                EXPECT_TRUE(same_bits(qxsum_roundf(&a, r), want));
                EXPECT_TRUE(same_bits(e.roundf(r), want)) << "oracle";
            } else {
                EXPECT_TRUE(same_bits(qxsum_round(&a, r), c.want[r]));
                EXPECT_TRUE(same_bits(e.round(r), c.want[r])) << "oracle";
            }
        }
    }
}

TEST(Round, InvalidModesGiveTheDefaultNaN) {
    qxsum_acc a = empty_acc();
    const double one = 1.0;
    qxsum_add(&a, &one, 1);
    for (uint32_t r : {4u, 5u, 255u, 0x80000000u, 0xffffffffu}) {
        EXPECT_EQ(std::bit_cast<uint64_t>(qxsum_round(&a, r)), default_nan_bits) << r;
        EXPECT_EQ(std::bit_cast<uint32_t>(qxsum_roundf(&a, r)), default_nanf_bits) << r;
        EXPECT_EQ(std::bit_cast<uint64_t>(qx::finish(&a, r, qx::dbl_format)), default_nan_bits) << r;
    }
    qxsum_acc empty = empty_acc();
    EXPECT_EQ(std::bit_cast<uint64_t>(qxsum_round(&empty, 4)), default_nan_bits);
}

// Accumulators filled through the add operations with hard sums and dot
// products, rounded to double and to float in every mode.
TEST(Round, HardAccumulatorsAgainstMpfr) {
    hard_gen<double> g(101);
    const int reps = scaled(80, 4);
    for (int rep = 0; rep < reps; ++rep) {
        for (int kind = 0; kind < hard_gen<double>::dot_kinds; ++kind) {
            const size_t n = (size_t)g.irange(0, 12) + (rep % 3 == 0 ? 100 : 0);
            std::vector<double> x = g.sum_case(n, kind), p, q;
            g.dot_case(n, kind, p, q);
            qxsum_acc a = empty_acc(), b = empty_acc();
            exact_total ea, eb;
            qxsum_add(&a, x.data(), n);
            for (double v : x) ea.add(v);
            qxsum_add_dot(&b, p.data(), q.data(), n);
            for (size_t i = 0; i < n; ++i) eb.add_product(p[i], q[i]);
            for (unsigned r = 0; r < 4; ++r) {
                SCOPED_TRACE(::testing::Message() << "rep " << rep << ", kind " << kind << ", n " << n
                                                  << ", mode " << mode_name(r));
                ASSERT_TRUE(same_bits(qxsum_round(&a, r), ea.round(r))) << "sum";
                ASSERT_TRUE(same_bits(qxsum_roundf(&a, r), ea.roundf(r))) << "sum to float";
                ASSERT_TRUE(same_bits(qxsum_round(&b, r), eb.round(r))) << "dot";
                ASSERT_TRUE(same_bits(qxsum_roundf(&b, r), eb.roundf(r))) << "dot to float";
                ASSERT_TRUE(same_bits(qx::finish(&b, r, qx::dbl_format), eb.round(r))) << "finish";
                ASSERT_TRUE(same_bits((float)qx::finish(&b, r, qx::flt_format), eb.roundf(r)))
                    << "finish, float";
            }
        }
    }
}

// Random limb states, unnormalised (negative limbs, limbs above 2^32, a
// nonzero top limb), over every span of the accumulator.
TEST(Round, ArbitraryLimbStatesAgainstMpfr) {
    std::mt19937_64 rng(202);
    mpfr_t v;
    mpfr_init2(v, qxtest::acc_prec);
    const int reps = scaled(10000, 200);
    for (int rep = 0; rep < reps; ++rep) {
        qxsum_acc a = empty_acc();
        const int lo = (int)(rng() % QXSUM_LIMBS);
        const int hi = lo + (int)(rng() % (uint64_t)std::min(QXSUM_LIMBS - lo, 1 + (int)(rng() % 8)));
        const int style = (int)(rng() % 5);
        for (int i = lo; i <= hi; ++i) {
            switch (style) {
                case 0: a.limb[i] = (int64_t)(rng() >> 32); break;  // normal form
                case 1: a.limb[i] = (int64_t)(rng() >> 24) - (int64_t(1) << 39); break;  // signed, wide
                case 2: a.limb[i] = (rng() & 1) ? 0xffffffff : 0; break;  // long carry chains
                case 3: a.limb[i] = (int64_t)(rng() >> 3) - (int64_t(1) << 60); break;  // near the bound
                default: a.limb[i] = (rng() % 4 == 0) ? (int64_t)(rng() >> 32) : 0; break;  // sparse
            }
        }
        if (rng() % 4 == 0 && hi + 1 < QXSUM_LIMBS) {
            // Cancel the value exactly: subtract its normalised self one limb up.
            qxsum_acc c = a;
            qx::normalise(&c);
            if (c.limb[QXSUM_LIMBS - 1] == 0 && rng() % 2) {
                for (int i = 0; i < QXSUM_LIMBS; ++i) a.limb[i] -= c.limb[i];
            }
        }
        a.pending = rng() % 1000;
        a.nonzero = 1;
        a.count = 1 + rng() % 10;
        a.pzero = (int)(rng() & 1);
        a.nzero = (int)(rng() & 1);
        const qxsum_acc before = a;

        exact_total e;
        e.nonzero = true;
        e.count = a.count;
        e.pzero = a.pzero;
        e.nzero = a.nzero;
        qxtest::acc_value(v, a);
        e.add_exact(v);
        for (unsigned r = 0; r < 4; ++r) {
            SCOPED_TRACE(::testing::Message() << "rep " << rep << ", limbs " << lo << ".." << hi
                                              << ", style " << style << ", mode " << mode_name(r));
            ASSERT_TRUE(same_bits(qxsum_round(&a, r), e.round(r)));
            ASSERT_TRUE(same_bits(qxsum_roundf(&a, r), e.roundf(r)));
            ASSERT_TRUE(same_bits(qx::round_to(&a, r, qx::dbl_format), e.round(r)));
        }
        ASSERT_EQ(std::memcmp(&a, &before, sizeof a), 0) << "rounding changed the accumulator";
        // With -infinity recorded the value no longer matters.
        a.ninf = 1;
        for (unsigned r = 0; r < 4; ++r) {
            ASSERT_TRUE(same_bits(qx::round_to(&a, r, qx::dbl_format), -inf));
            ASSERT_TRUE(same_bits(qxsum_round(&a, r), -inf));
            a.pinf = 1;
            ASSERT_TRUE(same_bits(qxsum_round(&a, r), nan_term));
            a.pinf = 0;
        }
    }
    mpfr_clear(v);
}

// Totals just around every rounding boundary of double (and of float): x,
// x plus or minus half a unit of x, and plus or minus a sticky bit far below,
// for random x over the range.  Half a unit need not be a double; it enters
// as an exact product of two powers of two.
template <class T>
void neighbourhoods(uint64_t seed, int p, int emin) {
    hard_gen<T> g(seed);
    const int reps = scaled(6000, 100);
    for (int rep = 0; rep < reps; ++rep) {
        const double x = (double)g.any();
        const int ex = std::max(std::ilogb(x), emin);
        const int h = ex - p;  // exponent of half a unit in the last place
        std::vector<term> terms = {t(x)};
        const int form = rep % 6;
        if (form >= 1) {
            const double s = (form & 1) ? 1.0 : -1.0;
            terms.push_back(pr(s * std::ldexp(1.0, h / 2), std::ldexp(1.0, h - h / 2)));
        }
        if (form >= 3) {
            const int low = std::max(h - g.irange(1, 120), -2148);
            const double s = ((form >> 1) & 1) ? 1.0 : -1.0;
            terms.push_back(pr(s * std::ldexp(1.0, low / 2), std::ldexp(1.0, low - low / 2)));
        }
        qxsum_acc a = empty_acc();
        exact_total e;
        fill(a, e, terms);
        for (unsigned r = 0; r < 4; ++r) {
            ASSERT_TRUE(same_bits(qxsum_round(&a, r), e.round(r)))
                << "x = " << describe(x) << ", form " << form << ", mode " << mode_name(r);
            ASSERT_TRUE(same_bits(qxsum_roundf(&a, r), e.roundf(r)))
                << "x = " << describe(x) << ", form " << form << ", mode " << mode_name(r);
        }
    }
}

TEST(Round, NeighbourhoodsOfDoubles) { neighbourhoods<double>(303, 53, -1022); }
TEST(Round, NeighbourhoodsOfFloats) { neighbourhoods<float>(304, 24, -126); }

}  // namespace
