// Binned dot products: the exact 106-bit product of two significands is
// split into its low 53 bits and the rest, which go into two bins of a bank
// (positive or negative products) indexed by the product's exponent.
#include <cstdlib>

#include "qxsum/qxsum_internal.h"

namespace qx {

uint64_t *dot_bins_alloc() { return (uint64_t *)std::calloc(2 * dot_bank, sizeof(uint64_t)); }

void dot_bins_free(uint64_t *bins) { std::free(bins); }

namespace {

// Nonzero when some entry of the block has biased exponent 0 or 2047 (zero,
// subnormal, infinity, NaN): adding 2^52 wraps those exponents to 1 and 0,
// so masking the exponent and subtracting 1 borrows into the top bit.
typedef uint64_t v2u64 __attribute__((vector_size(16)));

template <bool Unit>
inline uint64_t screen(const double *x, uint64_t inc, uint64_t n) {
    constexpr uint64_t h = 1ULL << 52, em = 0x7feULL << 52;
    uint64_t r = 0;
    uint64_t i = 0;
    if constexpr (Unit) {
        const v2u64 vh = {h, h}, vm = {em, em}, one = {1, 1};
        v2u64 acc = {0, 0};
        for (; i + 4 <= n; i += 4) {
            v2u64 a, b;
            __builtin_memcpy(&a, x + i, sizeof a);
            __builtin_memcpy(&b, x + i + 2, sizeof b);
            acc |= ((a + vh) & vm) - one;
            acc |= ((b + vh) & vm) - one;
        }
        r = acc[0] | acc[1];
    }
    for (; i < n; ++i) r |= ((bits(x[Unit ? i : i * inc]) + h) & em) - 1;
    return r >> 63;
}

struct dot_state {
    int32_t lo, hi;
    int nan, pinf, ninf, pzero, nzero, any;
};

// Products of two normal numbers only.
template <bool Unit>
inline void dot_block_normal(qxsum_acc *acc, const double *x, uint64_t incx, const double *y,
                             uint64_t incy, uint64_t n, uint64_t *bins, dot_state &st) {
    constexpr uint64_t low53 = (1ULL << 53) - 1, hidden = 1ULL << 52;
    int32_t elo = st.lo, ehi = st.hi;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t ua = bits(x[Unit ? i : i * incx]), ub = bits(y[Unit ? i : i * incy]);
        const uint64_t s = (ua ^ ub) >> 63;
        const int E = (int)((ua >> 52) & 0x7ff) + (int)((ub >> 52) & 0x7ff) - 2150;
        const u128 p = (u128)((ua & frac_mask) | hidden) * ((ub & frac_mask) | hidden);
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
    }
    st.lo = elo;
    st.hi = ehi;
    if (n) st.any = 1;
}

// Any products, classified one by one.
void dot_block_general(qxsum_acc *acc, const double *x, uint64_t incx, const double *y,
                       uint64_t incy, uint64_t n, uint64_t *bins, dot_state &st) {
    constexpr uint64_t low53 = (1ULL << 53) - 1;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t ua = bits(x[i * incx]), ub = bits(y[i * incy]);
        const uint64_t s = (ua ^ ub) >> 63;
        const uint64_t ea = (ua >> 52) & 0x7ff, eb = (ub >> 52) & 0x7ff;
        const bool za = (ua << 1) == 0, zb = (ub << 1) == 0;
        if (ea == 0x7ff || eb == 0x7ff) {
            if ((ea == 0x7ff && (ua & frac_mask)) || (eb == 0x7ff && (ub & frac_mask)) || za || zb)
                st.nan = 1;
            else if (s)
                st.ninf = 1;
            else
                st.pinf = 1;
            continue;
        }
        if (za || zb) {
            if (s)
                st.nzero = 1;
            else
                st.pzero = 1;
            continue;
        }
        const sig a = split(ua), b = split(ub);
        const int E = a.e + b.e;
        const u128 p = (u128)a.m * b.m;
        uint64_t *bank = bins + (s ? dot_bank : 0) + (E + dot_bias);
        uint64_t v0 = bank[0] + ((uint64_t)p & low53);
        if (v0 > bin_limit) {
            put(acc, (int)s, v0, 0, E);
            v0 = 0;
        }
        bank[0] = v0;
        uint64_t v1 = bank[53] + (uint64_t)(p >> 53);
        if (v1 > bin_limit) {
            put(acc, (int)s, v1, 0, E + 53);
            v1 = 0;
        }
        bank[53] = v1;
        st.lo = E < st.lo ? E : st.lo;
        st.hi = E > st.hi ? E : st.hi;
        st.any = 1;
    }
}

// Blocks of 256 pairs are first screened for zeros, subnormals and special
// values; clean blocks take a loop without classification.
template <bool Unit>
void dot_blocks(qxsum_acc *acc, const double *x, uint64_t incx, const double *y, uint64_t incy,
                uint64_t n, uint64_t *bins, dot_state &st) {
    constexpr uint64_t block = 256;
    for (uint64_t i0 = 0; i0 < n; i0 += block) {
        const uint64_t c = n - i0 < block ? n - i0 : block;
        const double *xb = x + i0 * incx, *yb = y + i0 * incy;
        if (screen<Unit>(xb, incx, c) | screen<Unit>(yb, incy, c))
            dot_block_general(acc, xb, incx, yb, incy, c, bins, st);
        else
            dot_block_normal<Unit>(acc, xb, incx, yb, incy, c, bins, st);
    }
}

}  // namespace

void add_dot_binned(qxsum_acc *acc, const double *x, uint64_t incx, const double *y, uint64_t incy,
                    uint64_t n, uint64_t *bins, int32_t *lo, int32_t *hi) {
    dot_state st = {*lo, *hi, 0, 0, 0, 0, 0, 0};
    if (incx == 1 && incy == 1)
        dot_blocks<true>(acc, x, 1, y, 1, n, bins, st);
    else
        dot_blocks<false>(acc, x, incx, y, incy, n, bins, st);
    if (st.any) acc->nonzero = 1;
    acc->nan |= st.nan;
    acc->pinf |= st.pinf;
    acc->ninf |= st.ninf;
    acc->pzero |= st.pzero;
    acc->nzero |= st.nzero;
    acc->count += n;
    *lo = st.lo;
    *hi = st.hi;
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
