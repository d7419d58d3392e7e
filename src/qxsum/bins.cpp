// Binned sums: terms of 64 or more doubles first go into a thread-local table
// of 4096 per-exponent bins of integer significands, which are moved into the
// limbs only when a bin grows past 2^62 - 1 and once at the end.
#include "qxsum/qxsum_internal.h"

namespace qx {

namespace {

// Zero whenever no binned sum is in progress on the thread.
thread_local uint64_t qxsum_tbin[sum_bins];

// Weight exponent of bin b (sign bit and biased exponent).
constexpr int bin_exponent(uint64_t b) {
    const int e = (int)(b & 0x7ff);
    return e == 0 ? -1074 : e - 1075;
}

}  // namespace

void add_binned(qxsum_acc *acc, const double *x, uint64_t n, uint64_t *mask) {
    uint64_t *tb = qxsum_tbin;
    uint64_t groups = 0;
    uint64_t seen = 0;  // OR of the top-12-bit patterns of the binned terms (nonzero if any)
    int nan = 0, pinf = 0, ninf = 0, pzero = 0, nzero = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t u = bits(x[i]);
        const uint64_t b = u >> 52;
        const uint64_t e = b & 0x7ff;
        if (e == 0x7ff) [[unlikely]] {
            if (u & frac_mask)
                nan = 1;
            else if (b & 0x800)
                ninf = 1;
            else
                pinf = 1;
            continue;
        }
        const uint64_t f = u & frac_mask;
        if ((e | f) == 0) [[unlikely]] {
            if (b)
                nzero = 1;
            else
                pzero = 1;
            continue;
        }
        const uint64_t m = f | ((uint64_t)(e != 0) << 52);
        uint64_t v = tb[b] + m;
        if (v > bin_limit) [[unlikely]] {
            put(acc, (int)(b >> 11), v, 0, bin_exponent(b));
            v = 0;
        }
        tb[b] = v;
        groups |= 1ULL << (u >> 58);
        seen = 1;
    }
    if (seen) acc->nonzero = 1;
    acc->nan |= nan;
    acc->pinf |= pinf;
    acc->ninf |= ninf;
    acc->pzero |= pzero;
    acc->nzero |= nzero;
    acc->count += n;
    *mask |= groups;
}

void flush_binned(qxsum_acc *acc, uint64_t mask) {
    uint64_t *tb = qxsum_tbin;
    while (mask) {
        const int g = std::countr_zero(mask);
        mask &= mask - 1;
        for (int b = 64 * g; b < 64 * g + 64; ++b) {
            if (tb[b]) {
                put(acc, b >= 2048, tb[b], 0, bin_exponent((uint64_t)b));
                tb[b] = 0;
            }
        }
    }
}

}  // namespace qx
