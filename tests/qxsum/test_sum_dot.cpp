// Correctly rounded sums and dot products (double and float) against MPFR
// over hard random inputs, every length class around the binned threshold
// and the 1024-element chunks of the float versions, all four modes.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "qxsum/qxsum.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

using namespace testsupport;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double dmax = 0x1.fffffffffffffp+1023;
const size_t lengths[] = {0, 1, 2, 3, 63, 64, 65, 1023, 1024, 1025, 2000, 5000};

TEST(SumDot, SpecifiedCases) {
    for (unsigned r = 0; r < 4; ++r) {
        SCOPED_TRACE(mode_name(r));
        EXPECT_TRUE(same_bits(qxsum(nullptr, 0, r), 0.0));
        EXPECT_TRUE(same_bits(qxsumf(nullptr, 0, r), 0.0f));
        EXPECT_TRUE(same_bits(qxdot(nullptr, nullptr, 0, r), 0.0));
        EXPECT_TRUE(same_bits(qxdotf(nullptr, nullptr, 0, r), 0.0f));
        const double mz[] = {-0.0, -0.0};
        EXPECT_TRUE(same_bits(qxsum(mz, 2, r), -0.0));
        const float mzf[] = {-0.0f, -0.0f};
        EXPECT_TRUE(same_bits(qxsumf(mzf, 2, r), -0.0f));
        const double big[] = {1e308, 1e308, -1e308};
        EXPECT_TRUE(same_bits(qxsum(big, 3, r), 1e308));
        const double hidden[] = {1, 1e100, 1, -1e100};
        EXPECT_TRUE(same_bits(qxsum(hidden, 4, r), 2.0));
        const double a = 1e308, ten = 10, pinf = inf, zero = 0;
        EXPECT_TRUE(same_bits(qxdot(&a, &ten, 1, r), (r == 0 || r == 1) ? inf : dmax));
        EXPECT_TRUE(same_bits(qxdot(&pinf, &zero, 1, r), nan_d()));
        const float fa = 3e38f, f10 = 10, finf = INFINITY, fz = 0;
        EXPECT_TRUE(same_bits(qxdotf(&fa, &f10, 1, r), (r == 0 || r == 1)
                                                           ? std::numeric_limits<float>::infinity()
                                                           : std::numeric_limits<float>::max()));
        EXPECT_TRUE(same_bits(qxdotf(&finf, &fz, 1, r), nan_f()));
    }
    const double one = 1.0;
    const float onef = 1.0f;
    for (uint32_t r : {4u, 17u, 0xffffffffu}) {
        EXPECT_EQ(std::bit_cast<uint64_t>(qxsum(&one, 1, r)), default_nan_bits);
        EXPECT_EQ(std::bit_cast<uint64_t>(qxdot(&one, &one, 1, r)), default_nan_bits);
        EXPECT_EQ(std::bit_cast<uint32_t>(qxsumf(&onef, 1, r)), default_nanf_bits);
        EXPECT_EQ(std::bit_cast<uint32_t>(qxdotf(&onef, &onef, 1, r)), default_nanf_bits);
        EXPECT_EQ(std::bit_cast<uint64_t>(qxsum(nullptr, 0, r)), default_nan_bits);
    }
}

// The float versions widen in chunks of 1024; a tie and its sticky bit in
// different chunks, behind fillers that cancel across chunks, still round once.
TEST(SumDot, FloatRoundsOnceAcrossChunks) {
    for (size_t n : {size_t(1100), size_t(2000), size_t(3100)}) {
        std::vector<float> x(n, 0.0f);
        for (size_t i = 0; i + 1024 < n; i += 7) {
            x[i] = std::ldexp(1.0f, (int)(i % 200) - 100);
            x[i + 1024] = -x[i];
        }
        x[3] = 1.0f;         // chunk 0
        x[1030] = 0x1p-24f;  // chunk 1: half a unit of 1
        for (float sticky : {0x1p-80f, -0x1p-80f}) {
            x[n - 1] = sticky;  // last chunk
            const float want_nearest = sticky > 0 ? 1.0f + 0x1p-23f : 1.0f;
            EXPECT_TRUE(same_bits(qxsumf(x.data(), n, 0), want_nearest)) << n;
            for (unsigned r = 0; r < 4; ++r)
                EXPECT_TRUE(same_bits(qxsumf(x.data(), n, r), oracle_sumf(x.data(), n, r))) << n << " " << r;
            // The same as a dot product with ones.
            std::vector<float> ones(n, 1.0f);
            EXPECT_TRUE(same_bits(qxdotf(x.data(), ones.data(), n, 0), want_nearest)) << n;
            for (unsigned r = 0; r < 4; ++r)
                EXPECT_TRUE(same_bits(qxdotf(ones.data(), x.data(), n, r),
                                      oracle_dotf(x.data(), ones.data(), n, r)))
                    << n << " " << r;
        }
    }
}

template <class T, class Sum, class Dot>
void differential(uint64_t seed, int reps, Sum sum, Dot dot) {
    hard_gen<T> g(seed);
    for (int rep = 0; rep < reps; ++rep) {
        for (size_t n : lengths) {
            for (int kind = 0; kind < hard_gen<T>::sum_kinds; ++kind) {
                // The longest inputs only for a few kinds: the oracle is slow.
                if (n >= 2000 && (kind + rep) % 2 != 0) continue;
                std::vector<T> x = g.sum_case(n, kind);
                const std::vector<T> x0 = x;
                std::vector<T> p, q;
                g.dot_case(n, kind, p, q);
                const std::vector<T> p0 = p, q0 = q;
                exact_total es(sum_prec), ed;
                for (T v : x) es.add((double)v);
                for (size_t i = 0; i < n; ++i) ed.add_product((double)p[i], (double)q[i]);
                for (unsigned r = 0; r < 4; ++r) {
                    SCOPED_TRACE(::testing::Message() << "seed " << seed << ", rep " << rep << ", n "
                                                      << n << ", kind " << kind << ", mode "
                                                      << mode_name(r));
                    if constexpr (sizeof(T) == 8) {
                        ASSERT_TRUE(same_bits(sum(x.data(), n, r), es.round(r))) << "sum";
                        ASSERT_TRUE(same_bits(dot(p.data(), q.data(), n, r), ed.round(r))) << "dot";
                    } else {
                        ASSERT_TRUE(same_bits(sum(x.data(), n, r), es.roundf(r))) << "sum";
                        ASSERT_TRUE(same_bits(dot(p.data(), q.data(), n, r), ed.roundf(r))) << "dot";
                    }
                }
                if (n > 0) {
                    ASSERT_EQ(std::memcmp(x.data(), x0.data(), n * sizeof(T)), 0) << "input changed";
                    ASSERT_EQ(std::memcmp(p.data(), p0.data(), n * sizeof(T)), 0) << "input changed";
                    ASSERT_EQ(std::memcmp(q.data(), q0.data(), n * sizeof(T)), 0) << "input changed";
                }
            }
        }
    }
}

TEST(SumDot, DoubleAgainstMpfr) { differential<double>(1001, scaled(30, 2), qxsum, qxdot); }
TEST(SumDot, FloatAgainstMpfr) { differential<float>(2002, scaled(30, 2), qxsumf, qxdotf); }

// Float sums and dot products of extreme float data that only a direct
// rounding to 24 bits gets right: totals just off a float tie by a tiny
// amount (a rounding to double first would lose the sticky bit).
TEST(SumDot, FloatTiesWithStickyBitsBeyondDouble) {
    hard_gen<float> g(3003);
    for (int rep = 0; rep < scaled(300, 30); ++rep) {
        const int e = g.irange(-40, 100);  // keeps the sticky term a normal float
        const float a = g.flip(g.with_exp(e));
        const float half = std::ldexp(1.0f, std::ilogb(a) - 24);
        const float sticky = g.flip(std::ldexp(1.0f, std::ilogb(a) - 24 - g.irange(30, 60)));
        const size_t n = (size_t)g.irange(3, 200);
        std::vector<float> x(n, 0.0f);
        for (size_t i = 3; i + 1 < n; i += 2) {
            x[i] = g.flip(g.with_exp(g.irange(-120, 120)));
            x[i + 1] = -x[i];
        }
        x[0] = a;
        x[1] = std::copysign(half, g.one_in(2) ? a : -a);
        x[2] = sticky;
        for (unsigned r = 0; r < 4; ++r) {
            ASSERT_TRUE(same_bits(qxsumf(x.data(), n, r), oracle_sumf(x.data(), n, r)))
                << "rep " << rep << " mode " << r;
        }
    }
}

// Very long dot products and sums of full-significand terms (every bin near
// its capacity, all the way through) with massive cancellation and a
// leftover far below: the exact total is known in closed form.
TEST(SumDot, LongInputsOfFullSignificands) {
    const double M = 0x1.fffffffffffffp0;
    struct pattern {
        double sx;
        int ex, ey;
    };
    // Per period: cancelling pairs at three exponents, plus one small term.
    const pattern per[] = {{1, 0, 0}, {-1, 0, 0}, {1, 100, 0}, {-1, 50, 50},
                           {-1, 900, 60}, {1, 480, 480}, {1, -500, -500}};
    const size_t P = sizeof per / sizeof per[0];
    for (size_t n : {size_t(1) << 20, (size_t(1) << 20) + 3333, (size_t(1) << 21) + 17}) {
        std::vector<double> x(n), y(n);
        std::vector<uint64_t> cnt(P, 0);
        for (size_t i = 0; i < n; ++i) {
            const pattern &t = per[i % P];
            x[i] = t.sx * std::ldexp(M, t.ex);
            y[i] = std::ldexp(M, t.ey);
            ++cnt[i % P];
        }
        y[n - 1] = std::ldexp(1.0, -1074);  // the last product becomes tiny
        exact_total e;
        e.count = n;
        e.nonzero = true;
        mpfr_t term;
        mpfr_init2(term, 256);
        for (size_t t = 0; t < P; ++t) {
            const uint64_t c = cnt[t] - ((n - 1) % P == t ? 1 : 0);
            mpfr_set_d(term, per[t].sx * M, MPFR_RNDN);
            mpfr_mul_d(term, term, M, MPFR_RNDN);
            mpfr_mul_2si(term, term, per[t].ex + per[t].ey, MPFR_RNDN);
            mpfr_mul_ui(term, term, (unsigned long)c, MPFR_RNDN);
            e.add_exact(term);
        }
        mpfr_clear(term);
        e.add_product(x[n - 1], y[n - 1]);
        e.count = n;
        for (unsigned r = 0; r < 4; ++r)
            EXPECT_TRUE(same_bits(qxdot(x.data(), y.data(), n, r), e.round(r))) << n << " " << mode_name(r);

        // The same terms as a sum (the products' values are doubles here: scale
        // every term to a double with the same exponent pattern).
        exact_total s(sum_prec);
        for (size_t i = 0; i < n; ++i) x[i] = per[i % P].sx * std::ldexp(M, per[i % P].ex);
        x[n - 1] = 0x1p-1074;
        mpfr_t v;
        mpfr_init2(v, 128);
        for (size_t t = 0; t < P; ++t) {
            const uint64_t c = cnt[t] - ((n - 1) % P == t ? 1 : 0);
            mpfr_set_d(v, per[t].sx * std::ldexp(M, per[t].ex), MPFR_RNDN);
            mpfr_mul_ui(v, v, (unsigned long)c, MPFR_RNDN);
            s.add_exact(v);
        }
        mpfr_clear(v);
        s.add(x[n - 1]);
        s.count = n;
        for (unsigned r = 0; r < 4; ++r)
            EXPECT_TRUE(same_bits(qxsum(x.data(), n, r), s.round(r))) << n << " " << mode_name(r);
    }
}

// One bin's worth of products: 2.5 million products of the largest
// significands at a single exponent, all positive, overflow any fixed-width
// bin (64 bits, or 128 bits after 2^21 such products) that is not flushed in
// time.
TEST(SumDot, OneBinOverflowsWithoutFlushes) {
    const double M = 0x1.fffffffffffffp0;
    const size_t n = (size_t(1) << 21) + (size_t(1) << 19);
    std::vector<double> x(n, M);
    mpfr_t v;
    mpfr_init2(v, 256);
    exact_total d, s(sum_prec);
    mpfr_set_d(v, M, MPFR_RNDN);
    mpfr_mul_d(v, v, M, MPFR_RNDN);
    mpfr_mul_ui(v, v, (unsigned long)n, MPFR_RNDN);
    d.add_exact(v);
    d.nonzero = true;
    d.count = n;
    mpfr_set_d(v, M, MPFR_RNDN);
    mpfr_mul_ui(v, v, (unsigned long)n, MPFR_RNDN);
    s.add_exact(v);
    s.nonzero = true;
    s.count = n;
    mpfr_clear(v);
    for (unsigned r = 0; r < 4; ++r) {
        EXPECT_TRUE(same_bits(qxdot(x.data(), x.data(), n, r), d.round(r))) << mode_name(r);
        EXPECT_TRUE(same_bits(qxsum(x.data(), n, r), s.round(r))) << mode_name(r);
    }
}

}  // namespace
