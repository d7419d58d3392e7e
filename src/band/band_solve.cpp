// Forward and back substitution with a lower band factor L (lower band
// storage, half bandwidth w; row i addressed as l + (i + 1) w with column
// indices, as in chol.cpp).  Both walk stored rows of L with unit stride.
//   lsolve:  x[i] = (x[i] - L(i, j) x[j], j ascending) / L(i, i), i ascending
//   ltsolve: x[i] = x[i] / L(i, i), then x[j] = x[j] - L(i, j) x[i] for j
//            ascending, i descending
// The unrolled copies for small w carry the window of x that a row touches
// in registers; the operations on every entry and their order are the same.
#include "band/band.h"
#include "band/fixed_width.h"

namespace norva::band {
namespace {

// Forward substitution over rows [r0, r1), any w.
void forward_any(uint64_t w, const double *l, double *x, uint64_t r0, uint64_t r1) {
    for (uint64_t i = r0; i < r1; ++i) {
        const double *li = l + (i + 1) * w;
        double t = x[i];
        for (uint64_t j = i > w ? i - w : 0; j < i; ++j) t = t - li[j] * x[j];
        x[i] = t / li[i];
    }
}

// Forward substitution over rows [W, n), n > W; v[q] = x[i - W + q].
template <uint64_t W>
void forward_fixed(const double *l, double *x, uint64_t n) {
    double v[W];
#pragma GCC unroll 16
    for (uint64_t q = 0; q < W; ++q) v[q] = x[q];
    for (uint64_t i = W; i < n; ++i) {
        const double *li = l + i * (W + 1);
        double t = x[i];
#pragma GCC unroll 16
        for (uint64_t q = 0; q < W; ++q) t = t - li[q] * v[q];
        t = t / li[W];
        x[i] = t;
#pragma GCC unroll 16
        for (uint64_t q = 0; q + 1 < W; ++q) v[q] = v[q + 1];
        v[W - 1] = t;
    }
}

// Back substitution over rows r1 - 1 down to 0, any w.
void backward_any(uint64_t w, const double *l, double *x, uint64_t r1) {
    for (uint64_t i = r1; i-- > 0;) {
        const double *li = l + (i + 1) * w;
        const double t = x[i] / li[i];
        x[i] = t;
        for (uint64_t j = i > w ? i - w : 0; j < i; ++j) x[j] = x[j] - li[j] * t;
    }
}

// Back substitution over rows n - 1 down to W, n > W.  c is x[i], complete;
// u[q] is x[i - W + q] with the terms of the rows below i subtracted.  On
// return x[0 .. W - 1] hold the terms of every row from W on.
template <uint64_t W>
void backward_fixed(const double *l, double *x, uint64_t n) {
    double u[W];
#pragma GCC unroll 16
    for (uint64_t q = 0; q < W; ++q) u[q] = x[n - 1 - W + q];
    double c = x[n - 1];
    for (uint64_t i = n - 1;; --i) {
        const double *li = l + i * (W + 1);
        const double t = c / li[W];
        x[i] = t;
#pragma GCC unroll 16
        for (uint64_t q = 0; q < W; ++q) u[q] = u[q] - li[q] * t;
        if (i == W) break;
        c = u[W - 1];
#pragma GCC unroll 16
        for (uint64_t q = W - 1; q > 0; --q) u[q] = u[q - 1];
        u[0] = x[i - 1 - W];
    }
#pragma GCC unroll 16
    for (uint64_t q = 0; q < W; ++q) x[q] = u[q];
}

}  // namespace

void lsolve(uint64_t n, uint64_t w, const double *l, double *x) {
    const uint64_t head = w < n ? w : n;
    forward_any(w, l, x, 0, head);
    if (head == n) return;
    if (!with_fixed_width(w, [&](auto W) { forward_fixed<W()>(l, x, n); }))
        forward_any(w, l, x, head, n);
}

void ltsolve(uint64_t n, uint64_t w, const double *l, double *x) {
    const uint64_t head = w < n ? w : n;
    if (head < n && with_fixed_width(w, [&](auto W) { backward_fixed<W()>(l, x, n); })) {
        backward_any(w, l, x, head);
        return;
    }
    backward_any(w, l, x, n);
}

}  // namespace norva::band
