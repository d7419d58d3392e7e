// Shifted band Cholesky factorization L L^T = M - shift I, row by row, in
// lower band storage.  With base = (i + 1) w, entry (i, j) of row i lies at
// base + j, so a row is addressed by a pointer into the array and column
// indices: no position left of column 0 is ever formed or touched.
//
// Every entry is the plain sequence
//   s = M(i, j)  (M(i, i) - shift on the diagonal)
//   s = s - L(i, k) L(j, k)   for k = max(0, i - w) .. j - 1, ascending
//   L(i, j) = s / L(j, j)     or, on the diagonal, L(i, i) = sqrt(s)
// each operation rounded to nearest.  The unrolled copies for small w keep
// that sequence and only change where the operands come from.
#include <cmath>

#include "band/band.h"
#include "band/fixed_width.h"
#include "common/finite.h"

namespace norva::band {
namespace {

// A pivot that is NaN, not positive, or +inf fails.
inline bool bad_pivot(double s) { return !(s > 0.0) || s > dbl_max; }

// Rows [r0, r1), any w.  Returns the first failed row, or r1.
uint64_t rows_any(uint64_t w, const double *a, double *l, double shift, uint64_t r0,
                  uint64_t r1) {
    for (uint64_t i = r0; i < r1; ++i) {
        const uint64_t j0 = i > w ? i - w : 0;
        const double *ai = a + (i + 1) * w;  // ai[j] = M(i, j)
        double *li = l + (i + 1) * w;        // li[j] = L(i, j)
        for (uint64_t j = j0; j < i; ++j) {
            const double *lj = l + (j + 1) * w;
            double s = ai[j];
            for (uint64_t k = j0; k < j; ++k) s = s - li[k] * lj[k];
            li[j] = s / lj[j];
        }
        double s = ai[i] - shift;
        for (uint64_t k = j0; k < i; ++k) s = s - li[k] * li[k];
        if (bad_pivot(s)) return i;
        li[i] = std::sqrt(s);
    }
    return r1;
}

// Rows [W, n) for a fixed W with n > W: every row spans the full W + 1
// columns.  r holds row i as it is formed, p the whole of row i - 1 (its
// diagonal last), so the chain from one pivot to the next does not pass
// through memory.  Returns the first failed row, or n.
template <uint64_t W>
uint64_t rows_fixed(const double *a, double *l, double shift, uint64_t n) {
    constexpr uint64_t ld = W + 1;
    double p[W];  // p[q] = L(i - 1, i - W + q)
#pragma GCC unroll 16
    for (uint64_t q = 0; q < W; ++q) p[q] = l[W * W + q];
    for (uint64_t i = W; i < n; ++i) {
        const double *ai = a + i * ld;  // ai[q] = M(i, i - W + q)
        double *li = l + i * ld;
        double r[W];
#pragma GCC unroll 16
        for (uint64_t q = 0; q + 1 < W; ++q) {
            // row j = i - W + q: lj[k] = L(j, i - W + k), lj[q] its diagonal
            const double *lj = l + (i - W + q) * ld + W - q;
            double s = ai[q];
#pragma GCC unroll 16
            for (uint64_t k = 0; k < q; ++k) s = s - r[k] * lj[k];
            r[q] = s / lj[q];
            li[q] = r[q];
        }
        {
            double s = ai[W - 1];
#pragma GCC unroll 16
            for (uint64_t k = 0; k + 1 < W; ++k) s = s - r[k] * p[k];
            r[W - 1] = s / p[W - 1];
            li[W - 1] = r[W - 1];
        }
        double s = ai[W] - shift;
#pragma GCC unroll 16
        for (uint64_t k = 0; k < W; ++k) s = s - r[k] * r[k];
        if (bad_pivot(s)) return i;
        const double d = std::sqrt(s);
        li[W] = d;
#pragma GCC unroll 16
        for (uint64_t q = 0; q + 1 < W; ++q) p[q] = r[q + 1];
        p[W - 1] = d;
    }
    return n;
}

}  // namespace

int32_t chol(uint64_t n, uint64_t w, const double *a, double *l, double shift) {
    if (n == 0) return 0;
    // Rows 0 .. w - 1 start at column 0 and are shorter than the rest.
    const uint64_t head = w < n ? w : n;
    if (rows_any(w, a, l, shift, 0, head) != head) return -1;
    if (head == n) return 0;
    uint64_t end = n;
    if (!with_fixed_width(w, [&](auto W) { end = rows_fixed<W()>(a, l, shift, n); }))
        end = rows_any(w, a, l, shift, head, n);
    return end == n ? 0 : -1;
}

}  // namespace norva::band
