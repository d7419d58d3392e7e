// Binned dot products: the exact 106-bit product of two significands is
// split into its low 53 bits and the rest, which go into two bins of a bank
// (positive or negative products) indexed by the product's exponent.
#include <cstdlib>

#include "qxsum/qxsum_internal.h"

namespace qx {

uint64_t *dot_bins_alloc() { return (uint64_t *)std::calloc(2 * dot_bank, sizeof(uint64_t)); }

void dot_bins_free(uint64_t *bins) { std::free(bins); }

void add_dot_binned(qxsum_acc *acc, const double *x, uint64_t incx, const double *y, uint64_t incy,
                    uint64_t n, uint64_t *bins, int32_t *lo, int32_t *hi) {
    int32_t elo = *lo, ehi = *hi;
    int nan = 0, pinf = 0, ninf = 0, pzero = 0, nzero = 0, any = 0;
    constexpr uint64_t low53 = (1ULL << 53) - 1;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t ua = bits(x[i * incx]), ub = bits(y[i * incy]);
        const uint64_t s = (ua ^ ub) >> 63;
        const uint64_t ea = (ua >> 52) & 0x7ff, eb = (ub >> 52) & 0x7ff;
        const bool za = (ua << 1) == 0, zb = (ub << 1) == 0;
        if (ea == 0x7ff || eb == 0x7ff) [[unlikely]] {
            if ((ea == 0x7ff && (ua & frac_mask)) || (eb == 0x7ff && (ub & frac_mask)) || za || zb)
                nan = 1;
            else if (s)
                ninf = 1;
            else
                pinf = 1;
            continue;
        }
        if (za || zb) [[unlikely]] {
            if (s)
                nzero = 1;
            else
                pzero = 1;
            continue;
        }
        const uint64_t ma = (ua & frac_mask) | ((uint64_t)(ea != 0) << 52);
        const uint64_t mb = (ub & frac_mask) | ((uint64_t)(eb != 0) << 52);
        const int E = (int)(ea ? ea : 1) + (int)(eb ? eb : 1) - 2150;
        const u128 p = (u128)ma * mb;
        uint64_t *bank = bins + (s ? dot_bank : 0) + (E + dot_bias);
        uint64_t v0 = bank[0] + ((uint64_t)p & low53);
        if (v0 > bin_limit) [[unlikely]] {
            put(acc, (int)s, v0, 0, E);
            v0 = 0;
        }
        bank[0] = v0;
        uint64_t v1 = bank[53] + (uint64_t)(p >> 53);
        if (v1 > bin_limit) [[unlikely]] {
            put(acc, (int)s, v1, 0, E + 53);
            v1 = 0;
        }
        bank[53] = v1;
        elo = E < elo ? E : elo;
        ehi = E > ehi ? E : ehi;
        any = 1;
    }
    if (any) acc->nonzero = 1;
    acc->nan |= nan;
    acc->pinf |= pinf;
    acc->ninf |= ninf;
    acc->pzero |= pzero;
    acc->nzero |= nzero;
    acc->count += n;
    *lo = elo;
    *hi = ehi;
}

void flush_dot_binned(qxsum_acc *acc, uint64_t *bins, int32_t *lo, int32_t *hi) {
    if (*lo <= *hi) {
        for (int bank = 0; bank < 2; ++bank) {
            uint64_t *b = bins + bank * dot_bank;
            for (int j = *lo + dot_bias; j <= *hi + dot_bias + 53; ++j) {
                if (b[j]) {
                    put(acc, bank, b[j], 0, j - dot_bias);
                    b[j] = 0;
                }
            }
        }
    }
    *lo = INT_MAX;
    *hi = INT_MIN;
}

}  // namespace qx
