// The exact accumulator: a long fixed-point number of 134 signed 64-bit
// limbs (limb i has weight 2^(32 i - 2176)) plus sticky special-value flags.
#include <cstring>

#include "qxsum/qxsum_internal.h"

namespace qx {

void normalise(int64_t *limb, int from, int to) {
    for (int i = from; i < to; ++i) {
        // v = (v >> 32) 2^32 + (v mod 2^32), the shift being arithmetic.
        const int64_t v = limb[i];
        limb[i] = (int64_t)((uint64_t)v & 0xffffffffULL);
        limb[i + 1] += v >> 32;
    }
}

void put(qxsum_acc *acc, int negative, uint64_t lo, uint64_t hi, int shift) {
    const int p = shift + limb_bias;
    int i = p >> 5;
    const int b = p & 31;
    // The 128-bit value shifted left by b, as three words; its 32-bit chunks
    // go to limbs i, i + 1, ...  (each limb changes by less than 2^32).
    uint64_t w0 = lo << b, w1 = hi << b, w2 = 0;
    if (b) {
        w1 |= lo >> (64 - b);
        w2 = hi >> (64 - b);
    }
    int64_t *l = acc->limb;
    const uint64_t m32 = 0xffffffffULL;
    if (negative) {
        while (w0 | w1 | w2) {
            l[i] -= (int64_t)(w0 & m32);
            w0 = (w0 >> 32) | (w1 << 32);
            w1 = (w1 >> 32) | (w2 << 32);
            w2 >>= 32;
            ++i;
        }
    } else {
        while (w0 | w1 | w2) {
            l[i] += (int64_t)(w0 & m32);
            w0 = (w0 >> 32) | (w1 << 32);
            w1 = (w1 >> 32) | (w2 << 32);
            w2 >>= 32;
            ++i;
        }
    }
    if (++acc->pending > pending_limit) {
        normalise(acc);
        acc->pending = 0;
    }
}

void add_term(qxsum_acc *acc, double x) {
    const uint64_t u = bits(x);
    const int neg = (int)(u >> 63);
    acc->count += 1;
    if (((u >> 52) & 0x7ff) == 0x7ff) {
        if (u & frac_mask)
            acc->nan = 1;
        else if (neg)
            acc->ninf = 1;
        else
            acc->pinf = 1;
    } else if ((u << 1) == 0) {
        if (neg)
            acc->nzero = 1;
        else
            acc->pzero = 1;
    } else {
        acc->nonzero = 1;
        const sig s = split(u);
        put(acc, neg, s.m, 0, s.e);
    }
}

void add_product(qxsum_acc *acc, double x, double y) {
    const uint64_t ux = bits(x), uy = bits(y);
    const int neg = (int)((ux ^ uy) >> 63);
    acc->count += 1;
    const bool xspec = ((ux >> 52) & 0x7ff) == 0x7ff, yspec = ((uy >> 52) & 0x7ff) == 0x7ff;
    const bool xzero = (ux << 1) == 0, yzero = (uy << 1) == 0;
    if ((xspec && (ux & frac_mask)) || (yspec && (uy & frac_mask))) {
        acc->nan = 1;
    } else if ((xspec && yzero) || (yspec && xzero)) {
        acc->nan = 1;
    } else if (xspec || yspec) {
        if (neg)
            acc->ninf = 1;
        else
            acc->pinf = 1;
    } else if (xzero || yzero) {
        if (neg)
            acc->nzero = 1;
        else
            acc->pzero = 1;
    } else {
        acc->nonzero = 1;
        const sig a = split(ux), b = split(uy);
        const u128 prod = (u128)a.m * b.m;
        put(acc, neg, (uint64_t)prod, (uint64_t)(prod >> 64), a.e + b.e);
    }
}

}  // namespace qx

using namespace qx;

extern "C" {

void qxsum_init(qxsum_acc *acc) { std::memset(acc, 0, sizeof *acc); }

void qxsum_add(qxsum_acc *acc, const double *x, uint64_t n) {
    if (n >= 64) {
        uint64_t mask = 0;
        add_binned(acc, x, n, &mask);
        flush_binned(acc, mask);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) add_term(acc, x[i]);
}

void qxsum_add_dot(qxsum_acc *acc, const double *x, const double *y, uint64_t n) {
    if (n >= 64) {
        uint64_t *bins = dot_bins_thread();
        int32_t lo = INT_MAX, hi = INT_MIN;
        add_dot_binned(acc, x, 1, y, 1, n, bins, &lo, &hi);
        flush_dot_binned(acc, bins, &lo, &hi);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) add_product(acc, x[i], y[i]);
}

void qxsum_merge(qxsum_acc *dst, const qxsum_acc *src) {
    qxsum_acc copy;
    std::memcpy(&copy, src, sizeof copy);  // src may be dst
    normalise(&copy);
    normalise(dst);
    dst->pending = 0;
    for (int i = 0; i < limbs; ++i) dst->limb[i] += copy.limb[i];
    normalise(dst);
    dst->nan |= copy.nan;
    dst->pinf |= copy.pinf;
    dst->ninf |= copy.ninf;
    dst->nonzero |= copy.nonzero;
    dst->pzero |= copy.pzero;
    dst->nzero |= copy.nzero;
    dst->count += copy.count;
}

}  // extern "C"
