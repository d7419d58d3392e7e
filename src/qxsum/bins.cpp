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

// The calling thread's table.  The empty asm hides the address from the
// optimiser, which would otherwise recompute the thread-local address (a
// call into the dynamic linker) inside the loops.
inline uint64_t *thread_bins() {
    uint64_t *tb = qxsum_tbin;
    asm("" : "+r"(tb));
    return tb;
}

}  // namespace

// Exact classification of one term whose biased exponent is 0 or 2047
// (zeros, subnormals, infinities, NaN), for the careful pass below.
static void add_binned_rare(qxsum_acc *acc, uint64_t *tb, uint64_t u, uint64_t *groups) {
    const uint64_t b = u >> 52, f = u & frac_mask;
    if ((b & 0x7ff) == 0x7ff) {
        if (f)
            acc->nan = 1;
        else if (b & 0x800)
            acc->ninf = 1;
        else
            acc->pinf = 1;
    } else if (f == 0) {
        if (b)
            acc->nzero = 1;
        else
            acc->pzero = 1;
    } else {  // subnormal: significand without the hidden bit, weight 2^-1074
        acc->nonzero = 1;
        uint64_t v = tb[b] + f;
        if (v > bin_limit) {
            put(acc, (int)(b >> 11), v, 0, -1074);
            v = 0;
        }
        tb[b] = v;
        *groups |= 1ULL << (u >> 58);
    }
}

// The fast loop treats every term as a normal number: zeros and subnormals
// land in bins 0 and 2048 with a spurious hidden bit, infinities and NaN in
// bins 2047 and 4095 (never used otherwise).  Those four "dirty" bins are
// saved first; if any of them was touched, they are restored and the terms
// with biased exponent 0 or 2047 are classified exactly in a second pass.
void add_binned(qxsum_acc *acc, const double *x, uint64_t n, uint64_t *mask) {
    if (n == 0) return;
    uint64_t *tb = thread_bins();
    const uint64_t d0 = tb[0], d1 = tb[2047], d2 = tb[2048], d3 = tb[4095];
    uint64_t groups = 0;
    int dirty = 0;
    constexpr uint64_t hidden = 1ULL << 52;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t u = bits(x[i]);
        const uint64_t b = u >> 52;
        uint64_t v = tb[b] + ((u & frac_mask) | hidden);
        if (v > bin_limit) [[unlikely]] {
            if (((b + 1) & 0x7fe) == 0)
                dirty = 1;  // a dirty bin: its contents are redone below
            else
                put(acc, (int)(b >> 11), v, 0, bin_exponent(b));
            v = 0;
        }
        tb[b] = v;
        groups |= 1ULL << (u >> 58);
    }
    if (dirty || tb[0] != d0 || tb[2047] != d1 || tb[2048] != d2 || tb[4095] != d3) [[unlikely]] {
        tb[0] = d0;
        tb[2047] = d1;
        tb[2048] = d2;
        tb[4095] = d3;
        uint64_t normal = 0, sub = 0;
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t u = bits(x[i]);
            if ((((u >> 52) + 1) & 0x7fe) == 0)
                add_binned_rare(acc, tb, u, &sub);
            else
                normal = 1;
        }
        // Groups 0 and 32 (bins 0..63, 2048..2111) and 31, 63 were marked by
        // the fast loop whether or not they hold anything; a clean bin costs
        // only a test at the flush.
        groups |= sub;
        if (normal) acc->nonzero = 1;
    } else {
        acc->nonzero = 1;
    }
    acc->count += n;
    *mask |= groups;
}

void flush_binned(qxsum_acc *acc, uint64_t mask) {
    uint64_t *tb = thread_bins();
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
