// Helpers of the summation tests: the exact value of an accumulator as an
// MPFR number, normal-form checks and state comparisons.
#ifndef NORVA_TESTS_QXSUM_ACC_UTIL_H
#define NORVA_TESTS_QXSUM_ACC_UTIL_H

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cstring>

#include "qxsum/qxsum_internal.h"
#include "support/oracle.h"

namespace qxtest {

// Enough for 134 limbs of up to 64 bits, weights 2^-2176 .. 2^2080.
constexpr mpfr_prec_t acc_prec = 4480;

// out = sum of limb[i] 2^(32 i - 2176), exactly.  out must have been
// initialised; its precision is set here.
inline void acc_value(mpfr_t out, const qxsum_acc &a) {
    mpfr_set_prec(out, acc_prec);
    mpfr_set_zero(out, 1);
    mpfr_t t;
    mpfr_init2(t, 64);
    for (int i = 0; i < QXSUM_LIMBS; ++i) {
        if (a.limb[i] == 0) continue;
        mpfr_set_si_2exp(t, (long)a.limb[i], 32 * i - 2176, MPFR_RNDN);
        if (mpfr_add(out, out, t, MPFR_RNDN) != 0) testsupport::oracle_inexact("accumulator value");
    }
    mpfr_clear(t);
}

// Limbs 0..132 in [0, 2^32); limb 133 any value.
inline ::testing::AssertionResult normal_form(const qxsum_acc &a) {
    for (int i = 0; i < QXSUM_LIMBS - 1; ++i)
        if (a.limb[i] < 0 || a.limb[i] >= (int64_t(1) << 32))
            return ::testing::AssertionFailure() << "limb " << i << " = " << a.limb[i];
    return ::testing::AssertionSuccess();
}

// The value of acc equals the exact value of e, and the flags and count
// agree with the classification of the same terms.
inline ::testing::AssertionResult holds(const qxsum_acc &acc, const testsupport::exact_total &e) {
    mpfr_t v;
    mpfr_init2(v, acc_prec);
    acc_value(v, acc);
    const bool same = mpfr_equal_p(v, e.value()) || (mpfr_zero_p(v) && mpfr_zero_p(e.value()));
    ::testing::AssertionResult r = ::testing::AssertionSuccess();
    if (!same) {
        mpfr_t d;
        mpfr_init2(d, acc_prec);
        mpfr_sub(d, v, e.value(), MPFR_RNDN);
        r = ::testing::AssertionFailure() << "value differs from the exact total by "
                                          << mpfr_get_d(d, MPFR_RNDN) << " (exact total "
                                          << mpfr_get_d(e.value(), MPFR_RNDN) << ")";
        mpfr_clear(d);
    }
    mpfr_clear(v);
    if (!same) return r;
    if ((acc.nan != 0) != e.nan || (acc.pinf != 0) != e.pinf || (acc.ninf != 0) != e.ninf ||
        (acc.nonzero != 0) != e.nonzero || (acc.pzero != 0) != e.pzero || (acc.nzero != 0) != e.nzero)
        return ::testing::AssertionFailure()
               << "flags nan/pinf/ninf/nonzero/pzero/nzero = " << acc.nan << acc.pinf << acc.ninf
               << acc.nonzero << acc.pzero << acc.nzero << ", want " << e.nan << e.pinf << e.ninf
               << e.nonzero << e.pzero << e.nzero;
    if (acc.count != e.count)
        return ::testing::AssertionFailure() << "count " << acc.count << ", want " << e.count;
    return ::testing::AssertionSuccess();
}

// Identical accumulators after normalisation (limbs, flags, count; the
// number of pending puts depends on the path taken and is not compared).
inline ::testing::AssertionResult same_state(const qxsum_acc &a, const qxsum_acc &b) {
    qxsum_acc x = a, y = b;
    qx::normalise(&x);
    qx::normalise(&y);
    for (int i = 0; i < QXSUM_LIMBS; ++i)
        if (x.limb[i] != y.limb[i])
            return ::testing::AssertionFailure() << "limb " << i << ": " << x.limb[i] << " vs "
                                                 << y.limb[i];
    if (x.nan != y.nan || x.pinf != y.pinf || x.ninf != y.ninf || x.nonzero != y.nonzero ||
        x.pzero != y.pzero || x.nzero != y.nzero)
        return ::testing::AssertionFailure() << "flags differ";
    if (x.count != y.count)
        return ::testing::AssertionFailure() << "count " << x.count << " vs " << y.count;
    return ::testing::AssertionSuccess();
}

inline qxsum_acc empty_acc() {
    qxsum_acc a;
    std::memset(&a, 0x5a, sizeof a);  // qxsum_init must clear everything
    qxsum_init(&a);
    return a;
}

}  // namespace qxtest

#endif
