// The final pass of the Ozaki-scheme products: the level sums of an entry are
// combined into one small signed big integer, whose magnitude is rounded
// directly.  Cancellations to zero, empty rows or
// columns and beta != 0 go through the exact accumulator instead.
#include <cmath>
#include <limits>

#include "norva/scratch.h"
#include "qxsum/qxsum_internal.h"

namespace qx {

void add_at(uint64_t *words, int nwords, uint64_t value, int bitpos) {
    int w = bitpos >> 6;
    const int b = bitpos & 63;
    if (w >= nwords) return;
    uint64_t lo = value << b, hi = b ? value >> (64 - b) : 0;
    uint64_t old = words[w];
    words[w] = old + lo;
    uint64_t carry = (words[w] < old) + hi;
    for (++w; carry && w < nwords; ++w) {
        old = words[w];
        words[w] = old + carry;
        carry = words[w] < old;
    }
}

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
using i128 = __int128;

// Bit i of the big integer (0 for i < 0 or beyond the top word).
inline uint64_t big_bit(const uint64_t *d, int nw, int i) {
    if (i < 0 || (i >> 6) >= nw) return 0;
    return (d[i >> 6] >> (i & 63)) & 1;
}

// Bits lo .. hi (hi - lo < 64) as an integer; indices below 0 read as zero.
inline uint64_t big_bits(const uint64_t *d, int lo, int hi) {
    uint64_t r = 0;
    // at most 53 bits: gather word by word
    for (int i = hi; i >= lo;) {
        if (i < 0) {
            r <<= (i - lo + 1);
            break;
        }
        const int w = i >> 6, wlo = w << 6;
        const int from = lo > wlo ? lo : wlo;  // lowest bit taken from this word
        const int cnt = i - from + 1;
        const uint64_t chunk = (d[w] >> (from & 63)) & (cnt >= 64 ? ~0ULL : ((1ULL << cnt) - 1));
        r = (cnt >= 64 ? 0 : r << cnt) | chunk;
        i = from - 1;
    }
    return r;
}

// Any bit below index i set?
inline bool big_sticky(const uint64_t *d, int i) {
    if (i <= 0) return false;
    const int w = i >> 6;
    for (int q = 0; q < w; ++q)
        if (d[q]) return true;
    const int b = i & 63;
    return b && (d[w] & ((1ULL << b) - 1)) != 0;
}

// Round +-D 2^O (D > 0, nw words) to double in mode rnd.
double round_big(const uint64_t *d, int nw, bool negative, int O, uint32_t rnd) {
    int top = nw - 1;
    while (d[top] == 0) --top;
    const int h = 64 * top + 63 - std::countl_zero(d[top]);
    int e = O + h - 52;
    if (e < -1074) e = -1074;
    const int lo = e - O;  // index of the result's last bit
    uint64_t m = lo <= h ? big_bits(d, lo, h) : 0;
    const uint64_t r = big_bit(d, nw, lo - 1);
    const bool sticky = lo - 1 > h ? true : big_sticky(d, lo - 1 < 0 ? 0 : lo - 1);
    bool inc = false;
    switch (rnd) {
        case 0: inc = r && (sticky || (m & 1)); break;
        case 1: inc = (r || sticky) && !negative; break;
        case 2: inc = (r || sticky) && negative; break;
        default: break;
    }
    if (inc && ++m == (1ULL << 53)) {
        m >>= 1;
        ++e;
    }
    if (m == 0) return negative ? -0.0 : 0.0;
    if (e + (64 - std::countl_zero(m)) > 1024) {
        const bool to_inf = rnd == 0 || (rnd == 1 && !negative) || (rnd == 2 && negative);
        const double mag = to_inf ? inf : dbl_format.maxval;
        return negative ? -mag : mag;
    }
    const double v = std::ldexp((double)m, e);
    return negative ? -v : v;
}

// The entry through the exact accumulator, from the original products.
double exact_entry(qxsum_acc *acc, uint64_t k, const double *a, const double *B, uint64_t ldb,
                   const double *c, double beta, uint32_t rnd) {
    qxsum_init(acc);
    for (uint64_t l = 0; l < k; ++l) add_product(acc, a[l], B[l * ldb]);
    if (beta != 0.0) add_product(acc, beta, *c);
    return finish(acc, rnd, dbl_format);
}

}  // namespace

void oz_finish(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
               uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd, int v, int W,
               const int64_t *level, const int *rowlo, const int *collo, const int *rowflag,
               const int *colflag) {
    const int f = (v * (W - 1) + 64) / 64;
    const int nw = f + 2;
    norva::freer<1> scope;
    uint64_t *big = beta == 0.0 ? scope.own(norva::alloc<uint64_t>((uint64_t)nw)) : nullptr;
    const uint64_t mn = m * n;
    qxsum_acc acc;
    for (uint64_t i = 0; i < m; ++i) {
        const double *a = A + i * lda;
        for (uint64_t j = 0; j < n; ++j) {
            double *c = C + i * ldc + j;
            const int64_t *lv = level + i * n + j;
            if (!rowflag[i] || !colflag[j]) {
                *c = exact_entry(&acc, k, a, B + j, ldb, c, beta, rnd);
                continue;
            }
            const int O = rowlo[i] + collo[j];
            if (big) {
                // The signed total sum_q level_q 2^(q v) in nw words of two's
                // complement; the words above a carry's reach stay as they are.
                uint64_t *w = big;
                for (int q = 0; q < nw; ++q) w[q] = 0;
                for (int q = 0; q < W; ++q) {
                    const int64_t x = lv[(uint64_t)q * mn];
                    if (x == 0) continue;
                    const int pos = q * v, wi = pos >> 6;
                    const i128 t = (i128)x << (pos & 63);  // |t| < 2^127
                    const u128 lo = (u128)w[wi] + (uint64_t)t;
                    w[wi] = (uint64_t)lo;
                    i128 carry = (i128)(lo >> 64) + (t >> 64);
                    for (int r = wi + 1; carry != 0 && r < nw; ++r) {
                        const i128 sum = (i128)w[r] + carry;
                        w[r] = (uint64_t)sum;
                        carry = sum >> 64;
                    }
                }
                uint64_t any = 0;
                for (int q = 0; q < nw; ++q) any |= w[q];
                if (any) {
                    const bool negative = (int64_t)w[nw - 1] < 0;
                    if (negative) {  // magnitude: two's complement negation
                        uint64_t c = 1;
                        for (int q = 0; q < nw; ++q) {
                            const uint64_t y = ~w[q] + c;
                            c = c && y == 0;
                            w[q] = y;
                        }
                    }
                    *c = round_big(w, nw, negative, O, rnd);
                    continue;
                }
            }
            // Slow path: the levels through the exact accumulator.
            qxsum_init(&acc);
            bool any = false;
            for (int q = 0; q < W; ++q) {
                const int64_t x = lv[(uint64_t)q * mn];
                if (x == 0) continue;
                put(&acc, x < 0, x < 0 ? -(uint64_t)x : (uint64_t)x, 0, O + q * v);
                any = true;
            }
            if (!any) {
                *c = exact_entry(&acc, k, a, B + j, ldb, c, beta, rnd);
                continue;
            }
            acc.nonzero = 1;
            if (beta != 0.0) add_product(&acc, beta, *c);
            *c = finish(&acc, rnd, dbl_format);
        }
    }
}

}  // namespace qx
