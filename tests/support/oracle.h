// MPFR oracle for correctly rounded sums and products, and bit-exact
// comparisons of results.
//
// exact_total holds the exact sum of IEEE terms (doubles, floats, exact
// products of two of them) in an MPFR number wide enough to hold any such sum
// without rounding, plus the IEEE special-value state of the same terms.
// round() and roundf() give the IEEE result of the whole sum rounded once:
//   - an invalid mode (> 3), a NaN term, an invalid product (inf * 0), or
//     +inf together with -inf: the default quiet NaN;
//   - otherwise an infinite term decides the infinite result;
//   - an exactly zero total: -0 when every term was -0; +0 when no term was
//     nonzero or -0 (no terms, or only +0 terms); otherwise -0 when rounding
//     downward, +0 in the other modes;
//   - otherwise mpfr_get_d / mpfr_get_flt of the exact value, which is one
//     correct rounding including subnormals, underflow to a signed zero and
//     overflow to infinity or the largest finite value by mode.
// Every operation of the oracle is checked to be exact; an inexact step (a
// too small precision) aborts the program.
//
// Rounding modes are numbered as in the library: 0 nearest-even, 1 upward,
// 2 downward, 3 toward zero.  The oracle itself must run under the default
// floating-point environment (it converts with ordinary arithmetic).
#ifndef NORVA_TESTS_ORACLE_H
#define NORVA_TESTS_ORACLE_H

#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport {

// Wide enough for any sum of up to 2^60 doubles (2^-1074 .. 2^1084) ...
constexpr mpfr_prec_t sum_prec = 2240;
// ... and for any sum of up to 2^60 exact products (2^-2148 .. 2^2108).
constexpr mpfr_prec_t product_prec = 4320;

constexpr uint64_t default_nan_bits = 0x7ff8000000000000ULL;
constexpr uint32_t default_nanf_bits = 0x7fc00000u;

inline double nan_d() { return std::bit_cast<double>(default_nan_bits); }
inline float nan_f() { return std::bit_cast<float>(default_nanf_bits); }

inline mpfr_rnd_t mpfr_mode(unsigned rnd) {
    switch (rnd) {
        case 0: return MPFR_RNDN;
        case 1: return MPFR_RNDU;
        case 2: return MPFR_RNDD;
        default: return MPFR_RNDZ;
    }
}

[[noreturn]] inline void oracle_inexact(const char *what) {
    std::fprintf(stderr, "oracle: inexact %s (precision too small)\n", what);
    std::abort();
}

class exact_total {
public:
    explicit exact_total(mpfr_prec_t prec = product_prec) {
        mpfr_init2(v_, prec);
        mpfr_set_zero(v_, 1);
        mpfr_init2(t_, 128);
    }
    ~exact_total() {
        mpfr_clear(v_);
        mpfr_clear(t_);
    }
    exact_total(const exact_total &) = delete;
    exact_total &operator=(const exact_total &) = delete;

    void clear() {
        mpfr_set_zero(v_, 1);
        nan = pinf = ninf = nonzero = pzero = nzero = false;
        count = 0;
    }

    void add(double x) {
        ++count;
        if (std::isnan(x)) {
            nan = true;
        } else if (std::isinf(x)) {
            (x > 0 ? pinf : ninf) = true;
        } else if (x == 0) {
            (std::signbit(x) ? nzero : pzero) = true;
        } else {
            nonzero = true;
            if (mpfr_add_d(v_, v_, x, MPFR_RNDN) != 0) oracle_inexact("sum");
        }
    }

    void add_product(double x, double y) {
        ++count;
        const bool neg = std::signbit(x) != std::signbit(y);
        if (std::isnan(x) || std::isnan(y)) {
            nan = true;
        } else if ((std::isinf(x) && y == 0) || (std::isinf(y) && x == 0)) {
            nan = true;
        } else if (std::isinf(x) || std::isinf(y)) {
            (neg ? ninf : pinf) = true;
        } else if (x == 0 || y == 0) {
            (neg ? nzero : pzero) = true;
        } else {
            nonzero = true;
            if (mpfr_set_d(t_, x, MPFR_RNDN) != 0 || mpfr_mul_d(t_, t_, y, MPFR_RNDN) != 0)
                oracle_inexact("product");
            if (mpfr_add(v_, v_, t_, MPFR_RNDN) != 0) oracle_inexact("sum of products");
        }
    }

    // Adds an already exact MPFR value as one nonzero term (used to check
    // raw accumulator states).
    void add_exact(const mpfr_t x) {
        if (mpfr_add(v_, v_, x, MPFR_RNDN) != 0) oracle_inexact("raw value");
    }

    double round(unsigned rnd) const {
        if (rnd > 3 || nan || (pinf && ninf)) return nan_d();
        if (pinf) return INFINITY;
        if (ninf) return -INFINITY;
        if (mpfr_zero_p(v_)) return zero(rnd) ? -0.0 : 0.0;
        const double d = mpfr_get_d(v_, mpfr_mode(rnd));
        return d == 0 ? std::copysign(0.0, mpfr_sgn(v_)) : d;
    }

    float roundf(unsigned rnd) const {
        if (rnd > 3 || nan || (pinf && ninf)) return nan_f();
        if (pinf) return INFINITY;
        if (ninf) return -INFINITY;
        if (mpfr_zero_p(v_)) return zero(rnd) ? -0.0f : 0.0f;
        const float f = mpfr_get_flt(v_, mpfr_mode(rnd));
        return f == 0 ? std::copysign(0.0f, (float)mpfr_sgn(v_)) : f;
    }

    const __mpfr_struct *value() const { return v_; }
    __mpfr_struct *value() { return v_; }

    bool nan = false, pinf = false, ninf = false, nonzero = false, pzero = false, nzero = false;
    uint64_t count = 0;

private:
    // Sign of an exactly zero total: true for -0.
    bool zero(unsigned rnd) const {
        if (!nonzero && count > 0 && !pzero) return true;
        if (!nonzero && !nzero) return false;
        return rnd == 2;
    }

    mpfr_t v_;
    mpfr_t t_;
};

inline double oracle_sum(const double *x, uint64_t n, unsigned rnd) {
    exact_total e(sum_prec);
    for (uint64_t i = 0; i < n; ++i) e.add(x[i]);
    return e.round(rnd);
}
inline double oracle_dot(const double *x, const double *y, uint64_t n, unsigned rnd) {
    exact_total e;
    for (uint64_t i = 0; i < n; ++i) e.add_product(x[i], y[i]);
    return e.round(rnd);
}
inline float oracle_sumf(const float *x, uint64_t n, unsigned rnd) {
    exact_total e(sum_prec);
    for (uint64_t i = 0; i < n; ++i) e.add((double)x[i]);
    return e.roundf(rnd);
}
inline float oracle_dotf(const float *x, const float *y, uint64_t n, unsigned rnd) {
    exact_total e;
    for (uint64_t i = 0; i < n; ++i) e.add_product((double)x[i], (double)y[i]);
    return e.roundf(rnd);
}

inline std::string describe(double d) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%a (0x%016llx)", d,
                  (unsigned long long)std::bit_cast<uint64_t>(d));
    return buf;
}
inline std::string describe(float f) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%a (0x%08x)", (double)f, (unsigned)std::bit_cast<uint32_t>(f));
    return buf;
}

// Bit-for-bit equality; an expected NaN requires the default quiet NaN.
inline ::testing::AssertionResult same_bits(double got, double want) {
    const uint64_t g = std::bit_cast<uint64_t>(got);
    const uint64_t w = std::isnan(want) ? default_nan_bits : std::bit_cast<uint64_t>(want);
    if (g == w) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << describe(got) << ", want "
                                         << describe(std::bit_cast<double>(w));
}
inline ::testing::AssertionResult same_bits(float got, float want) {
    const uint32_t g = std::bit_cast<uint32_t>(got);
    const uint32_t w = std::isnan(want) ? default_nanf_bits : std::bit_cast<uint32_t>(want);
    if (g == w) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << describe(got) << ", want "
                                         << describe(std::bit_cast<float>(w));
}

// Rounding mode names for messages.
inline const char *mode_name(unsigned rnd) {
    static const char *names[] = {"nearest", "upward", "downward", "toward-zero"};
    return rnd < 4 ? names[rnd] : "invalid";
}

}  // namespace testsupport

#endif
