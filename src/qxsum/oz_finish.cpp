// The final pass of the Ozaki-scheme products: the level sums of an entry are
// combined into one small signed big integer, whose magnitude is rounded
// directly.  Cancellations to zero, empty rows or
// columns and beta != 0 go through the exact accumulator instead.
#include <cmath>
#include <limits>

#include "common/scratch.h"
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

// Round +-D 2^O (D > 0, nw words) to double in mode rnd.
double round_big(const uint64_t *d, int nw, bool negative, int O, uint32_t rnd) {
    int top = nw - 1;
    while (d[top] == 0) --top;
    const int h = 64 * top + 63 - std::countl_zero(d[top]);  // index of the top bit
    int e = O + h - 52;
    if (e < -1074) e = -1074;
    const int lo = e - O;  // index of the result's last bit (may be negative)
    uint64_t m, r;
    bool sticky;
    if (lo <= 0) {  // every bit is kept (a subnormal or exact result)
        m = d[0] << -lo;
        r = 0;
        sticky = false;
    } else if (lo - 1 > h) {  // below half the smallest subnormal
        m = 0;
        r = 0;
        sticky = true;
    } else {
        // 128-bit window of the two top words; bit 0 of it has index base.
        const int base = top > 0 ? 64 * (top - 1) : 0;
        const u128 w = top > 0 ? ((u128)d[top] << 64) | d[top - 1] : (u128)d[0];
        m = lo <= h ? (uint64_t)(w >> (lo - base)) : 0;  // at most 53 bits: nothing above h
        const int ri = lo - 1 - base;                      // round bit within the window (>= 0)
        r = (uint64_t)(w >> ri) & 1;
        sticky = ri > 0 && (w & (((u128)1 << ri) - 1)) != 0;
        for (int q = 0; q < top - 1 && !sticky; ++q) sticky = d[q] != 0;
    }
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
    const double v = compose(m, e);
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

int oz_finish_words(int v, int W) { return (v * (W - 1) + 64) / 64 + 2; }

void oz_finish(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
               uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd, int v, int W,
               const int64_t *level, const int *rowlo, const int *collo, const int *rowflag,
               const int *colflag) {
    norva::freer<1> scope;
    uint64_t *words =
        beta == 0.0 ? scope.own(norva::alloc<uint64_t>((uint64_t)oz_finish_words(v, W))) : nullptr;
    oz_finish_with(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd, v, W, level, rowlo, collo, rowflag,
                   colflag, words);
}

void oz_finish_with(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                    const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                    uint32_t rnd, int v, int W, const int64_t *level, const int *rowlo,
                    const int *collo, const int *rowflag, const int *colflag, uint64_t *words,
                    uint64_t level_stride) {
    const int nw = oz_finish_words(v, W);
    uint64_t *big = beta == 0.0 ? words : nullptr;
    const uint64_t mn = level_stride != 0 ? level_stride : m * n;
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
