// Correctly rounded sums and dot products of double and float vectors.
#include <cstdlib>

#include "common/fenv_guard.h"
#include "common/small_sum.h"
#include "qxsum/qxsum_internal.h"

using namespace qx;

namespace {

constexpr uint64_t chunk = 1024;  // floats are widened to doubles this many at a time

// Short sums and dot products first go to a small expansion of error-free
// terms (at most two components per product); it gives the same correctly
// rounded value whenever it succeeds, and the long accumulator takes the
// rest: terms it cannot split exactly (huge, tiny, not finite), an exactly
// zero total (whose sign the accumulator keeps as IEEE arithmetic would),
// an expansion that outgrows its capacity.  The expansion computes in
// floating point, so it runs only under a guard of the library (the
// default environment, flags discarded there); a caller of these routines
// in an environment of its own gets the accumulator, which uses none.
constexpr uint64_t short_sum = 40, short_dot = 16;

}  // namespace

extern "C" {

double qxsum(const double *x, uint64_t n, uint32_t rnd) {
    if (n <= short_sum && norva::under_guard()) {
        norva::small_sum s;
        norva::small_init(s);
        for (uint64_t i = 0; i < n; ++i) norva::small_add(s, x[i]);
        double r;
        if (norva::small_round_mode(s, rnd, &r)) return r;
    }
    qxsum_acc acc;
    qxsum_init(&acc);
    qxsum_add(&acc, x, n);
    return finish(&acc, rnd, dbl_format);
}

double qxdot(const double *x, const double *y, uint64_t n, uint32_t rnd) {
    if (n <= short_dot && norva::under_guard()) {
        norva::small_sum s;
        norva::small_init(s);
        for (uint64_t i = 0; i < n; ++i) norva::small_add_product(s, x[i], y[i]);
        double r;
        if (norva::small_round_mode(s, rnd, &r)) return r;
    }
    qxsum_acc acc;
    qxsum_init(&acc);
    qxsum_add_dot(&acc, x, y, n);
    return finish(&acc, rnd, dbl_format);
}

float qxsumf(const float *x, uint64_t n, uint32_t rnd) {
    qxsum_acc acc;
    qxsum_init(&acc);
    double w[chunk];
    if (n >= 64) {
        uint64_t mask = 0;
        for (uint64_t i0 = 0; i0 < n; i0 += chunk) {
            const uint64_t c = n - i0 < chunk ? n - i0 : chunk;
            for (uint64_t i = 0; i < c; ++i) w[i] = (double)x[i0 + i];
            add_binned(&acc, w, c, &mask);
        }
        flush_binned(&acc, mask);
    } else {
        for (uint64_t i = 0; i < n; ++i) w[i] = (double)x[i];
        qxsum_add(&acc, w, n);
    }
    return (float)finish(&acc, rnd, flt_format);
}

float qxdotf(const float *x, const float *y, uint64_t n, uint32_t rnd) {
    qxsum_acc acc;
    qxsum_init(&acc);
    uint64_t *bins = n >= 64 ? dot_bins_alloc() : nullptr;
    int32_t lo = INT_MAX, hi = INT_MIN;
    double wx[chunk], wy[chunk];
    for (uint64_t i0 = 0; i0 < n; i0 += chunk) {
        const uint64_t c = n - i0 < chunk ? n - i0 : chunk;
        for (uint64_t i = 0; i < c; ++i) {
            wx[i] = (double)x[i0 + i];
            wy[i] = (double)y[i0 + i];
        }
        if (bins)
            add_dot_binned(&acc, wx, 1, wy, 1, c, bins, &lo, &hi);
        else
            qxsum_add_dot(&acc, wx, wy, c);
    }
    if (bins) {
        flush_dot_binned(&acc, bins, &lo, &hi);
        dot_bins_free(bins);
    }
    return (float)finish(&acc, rnd, flt_format);
}

}  // extern "C"
