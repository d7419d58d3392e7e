// Binned dot products.  The buffer holds two banks (positive and negative
// products) of one unsigned 128-bit bin per product exponent E (bin
// E + 2148 for E from -2148 to 1942): the exact product of two significands
// (below 2^106) is added to the bin of its exponent in the bank of its
// sign.  2^20 such products cannot overflow a bin, so the bins are
// flushed into the limbs after at most that many terms; the count of terms
// since the last flush is kept in the word after the bins, followed by one
// mark byte per group of 64 bins that may be nonzero (cheaper to keep per
// term than a running minimum and maximum exponent).
#include <cstdlib>
#include <cstring>

#include "qxsum/qxsum_internal.h"

namespace qx {

namespace {

using i128 = __int128;

constexpr uint64_t neg_bank = 2 * dot_bank;            // first word of the negative bank
constexpr uint64_t count_word = 4 * dot_bank;          // index of the term counter
constexpr uint64_t mark_word = count_word + 2;         // first word of the group marks
constexpr int groups = (dot_bank + 63) / 64;            // 65 groups of 64 bins
constexpr uint64_t buffer_words = mark_word + (groups + 7) / 8;

inline unsigned char *marks(uint64_t *bins) { return (unsigned char *)(bins + mark_word); }
constexpr uint64_t flush_every = 1ULL << 20;           // terms between forced flushes
constexpr uint64_t hidden = 1ULL << 52;

inline i128 load_bin(const uint64_t *bins, int j) {
    i128 v;
    std::memcpy(&v, bins + 2 * j, sizeof v);
    return v;
}
inline void store_bin(uint64_t *bins, int j, i128 v) { std::memcpy(bins + 2 * j, &v, sizeof v); }

// Nonzero when some entry of the block has biased exponent 0 or 2047 (zero,
// subnormal, infinity, NaN): adding 2^52 wraps those exponents to 1 and 0,
// so masking the exponent and subtracting 1 borrows into the top bit.
typedef uint64_t v2u64 __attribute__((vector_size(16)));

template <bool Unit>
inline uint64_t screen(const double *x, uint64_t inc, uint64_t n) {
    constexpr uint64_t em = 0x7feULL << 52;
    uint64_t r = 0;
    uint64_t i = 0;
    if constexpr (Unit) {
        const v2u64 vh = {hidden, hidden}, vm = {em, em}, one = {1, 1};
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
    for (; i < n; ++i) r |= ((bits(x[Unit ? i : i * inc]) + hidden) & em) - 1;
    return r >> 63;
}

struct dot_state {
    int32_t lo, hi;
    int nan, pinf, ninf, pzero, nzero, any;
};

// Adds M 2^E to the bin of E in the bank of its sign (s: 0 or 1): two
// unsigned banks spare the conditional negation of every product; the
// flush takes their difference.
inline void bin_add(uint64_t *bins, int E, uint64_t s, u128 p) {
    uint64_t *w = bins + s * neg_bank + 2 * (uint64_t)(E + dot_bias);
    u128 v;
    std::memcpy(&v, w, sizeof v);
    v += p;
    std::memcpy(w, &v, sizeof v);
}

// Products of two normal numbers only.
template <bool Unit>
inline void dot_block_normal(const double *x, uint64_t incx, const double *y, uint64_t incy,
                             uint64_t n, uint64_t *bins, dot_state &st) {
    unsigned char *mk = marks(bins);
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t ua = bits(x[Unit ? i : i * incx]), ub = bits(y[Unit ? i : i * incy]);
        const int E = (int)((ua >> 52) & 0x7ff) + (int)((ub >> 52) & 0x7ff) - 2150;
        const u128 p = (u128)((ua & frac_mask) | hidden) * ((ub & frac_mask) | hidden);
        bin_add(bins, E, (ua ^ ub) >> 63, p);
        mk[(E + dot_bias) >> 6] = 1;
    }
    if (n) st.any = 1;
}

// Any products, classified one by one.
void dot_block_general(const double *x, uint64_t incx, const double *y, uint64_t incy, uint64_t n,
                       uint64_t *bins, dot_state &st) {
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
        bin_add(bins, E, s, (u128)a.m * b.m);
        marks(bins)[(E + dot_bias) >> 6] = 1;
        st.any = 1;
    }
}

// Moves the bins of every marked group into the limbs and clears them.
void flush_marked(qxsum_acc *acc, uint64_t *bins) {
    unsigned char *mk = marks(bins);
    for (int g = 0; g < groups; ++g) {
        if (!mk[g]) continue;
        mk[g] = 0;
        const int end = 64 * g + 64 < dot_bank ? 64 * g + 64 : dot_bank;
        for (int j = 64 * g; j < end; ++j) {
            // Each bank holds fewer than 2^20 products below 2^106: the
            // difference fits.
            const i128 pos = load_bin(bins, j), neg = load_bin(bins + neg_bank, j);
            if (pos == 0 && neg == 0) continue;
            store_bin(bins, j, 0);
            store_bin(bins + neg_bank, j, 0);
            const i128 v = pos - neg;
            if (v == 0) continue;
            const u128 mag = v < 0 ? -(u128)v : (u128)v;
            put(acc, v < 0, (uint64_t)mag, (uint64_t)(mag >> 64), j - dot_bias);
        }
    }
}

// The exponent range of the marked groups (a superset of the exponents used).
void marked_range(const uint64_t *bins, int32_t *lo, int32_t *hi) {
    const unsigned char *mk = (const unsigned char *)(bins + mark_word);
    for (int g = 0; g < groups; ++g)
        if (mk[g]) {
            const int32_t l = 64 * g - dot_bias, h = 64 * g + 63 - dot_bias;
            *lo = l < *lo ? l : *lo;
            *hi = h > *hi ? h : *hi;
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
        if (bins[count_word] + c > flush_every) {
            flush_marked(acc, bins);
            bins[count_word] = 0;
        }
        bins[count_word] += c;
        const double *xb = x + i0 * incx, *yb = y + i0 * incy;
        if (screen<Unit>(xb, incx, c) | screen<Unit>(yb, incy, c))
            dot_block_general(xb, incx, yb, incy, c, bins, st);
        else
            dot_block_normal<Unit>(xb, incx, yb, incy, c, bins, st);
    }
}

}  // namespace

uint64_t *dot_bins_alloc() {
    return (uint64_t *)std::calloc(buffer_words, sizeof(uint64_t));
}

namespace {
// The calling thread's buffer for single dot products: all zero whenever
// no dot product is running on the thread (every flush clears what it
// used), so that a product of a few hundred terms does not allocate and
// clear 66 KiB first.
thread_local uint64_t qxsum_tdot[buffer_words];
}  // namespace

uint64_t *dot_bins_thread() {
    uint64_t *b = qxsum_tdot;
    asm("" : "+r"(b));  // the address once, not inside the loops
    return b;
}

void dot_bins_free(uint64_t *bins) { std::free(bins); }

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
    marked_range(bins, &st.lo, &st.hi);
    *lo = st.lo;
    *hi = st.hi;
}

void flush_dot_binned(qxsum_acc *acc, uint64_t *bins, int32_t *lo, int32_t *hi) {
    if (*lo <= *hi) flush_marked(acc, bins);
    bins[count_word] = 0;
    *lo = INT_MAX;
    *hi = INT_MIN;
}

}  // namespace qx
