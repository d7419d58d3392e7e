// Cholesky factorization A - sigma I = L L^T, left-looking, every entry the
// plain sequence (see spd.h):
//   p = A_kk - sigma;  p = p - L_kj L_kj, j = 0 .. k-1;  L_kk = sqrt(p)
//   q = A_rk;          q = q - L_rj L_kj, j = 0 .. k-1;  L_rk = q / L_kk
// The loops are reorganised, never that sequence:
//   - L starts as the lower triangle of A with sigma subtracted on the
//     diagonal; every entry is then updated in place;
//   - recursion on column halves: the left half is factored, the right half
//     (its rows and every row below) receives the left half's terms from an
//     ordered subtracting product, then is factored.  The halves are taken
//     left to right, so every entry gets its terms in ascending j;
//   - leaves of 16 columns: the diagonal block column by column, then the
//     rows below it in groups of 8, all eight rows advancing together (their
//     chains are independent, so they vectorise), split among threads when
//     large.
// The product also writes into the strict upper triangle of the diagonal
// blocks; nothing reads those entries and they are cleared at the end.  On a
// failed pivot at column k the columns from k on are cleared, so L holds
// exactly what the plain loop leaves: the complete columns before k.
#include <omp.h>

#include <cmath>
#include <cstring>

#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "norva/spd.h"
#include "qxsum/dgemm_kernel.h"

namespace norva {
namespace {

constexpr uint64_t leaf_cols = 16;
constexpr uint64_t group = 8;  // rows advancing together below a leaf

struct chol_state {
    int level;
    int threads;
    uint64_t n;
    double *L;
    double *T;     // transposed right-half rows, (n/2 + leaf_cols)^2 doubles
    double *pool;  // threads x stride doubles of product scratch, or null
    uint64_t stride;
};

struct below_args {
    uint64_t n;
    double *L;
    uint64_t c0, c1;  // columns [c0, c1), diagonal block final
    uint64_t r0;      // first row below the block
};

// Rows [r, r + cnt) of the columns [c0, c1): cnt <= group rows at once.
void below_group(const below_args &g, uint64_t r, uint64_t cnt) {
    const uint64_t n = g.n, w = g.c1 - g.c0;
    double t[leaf_cols][group];
    for (uint64_t i = 0; i < cnt; ++i)
        for (uint64_t c = 0; c < w; ++c) t[c][i] = g.L[(r + i) * n + g.c0 + c];
    for (uint64_t i = cnt; i < group; ++i)
        for (uint64_t c = 0; c < w; ++c) t[c][i] = 0.0;
    for (uint64_t c = 0; c < w; ++c) {
        const double *lc = g.L + (g.c0 + c) * n + g.c0;
        for (uint64_t j = 0; j < c; ++j) {
            const double f = lc[j];
            for (uint64_t i = 0; i < group; ++i) t[c][i] = t[c][i] - t[j][i] * f;
        }
        const double d = lc[c];
        for (uint64_t i = 0; i < group; ++i) t[c][i] = t[c][i] / d;
    }
    for (uint64_t i = 0; i < cnt; ++i)
        for (uint64_t c = 0; c < w; ++c) g.L[(r + i) * n + g.c0 + c] = t[c][i];
}

void below_rows(const below_args &g, uint64_t gb, uint64_t ge) {
    for (uint64_t q = gb; q < ge; ++q) {
        const uint64_t r = g.r0 + q * group;
        below_group(g, r, g.n - r < group ? g.n - r : group);
    }
}

void below_body(const below_args &g) {
    fenv_region env;
    const share sh = my_share((g.n - g.r0 + group - 1) / group);
    below_rows(g, sh.begin, sh.end);
}

// Columns [c0, c1) with every term from the columns before c0 applied, the
// plain way for the diagonal block.  Returns the first failed column, or c1.
uint64_t leaf(const chol_state &s, uint64_t c0, uint64_t c1) {
    const uint64_t n = s.n;
    double *L = s.L;
    uint64_t k = c0;
    for (; k < c1; ++k) {
        const double *lk = L + k * n;
        double p = lk[k];
        for (uint64_t j = c0; j < k; ++j) p = p - lk[j] * lk[j];
        if (!(p > 0.0) || p > dbl_max) break;
        const double d = std::sqrt(p);
        L[k * n + k] = d;
        for (uint64_t r = k + 1; r < c1; ++r) {
            double *lr = L + r * n;
            double q = lr[k];
            for (uint64_t j = c0; j < k; ++j) q = q - lr[j] * lk[j];
            lr[k] = q / d;
        }
    }
    // The rows below need the columns that succeeded, even after a failure.
    if (k > c0 && c1 < n) {
        const below_args g = {n, L, c0, k, c1};
        const uint64_t groups = (n - c1 + group - 1) / group;
        const uint64_t w = k - c0;
        const int t = (n - c1) * w * w < 65536 ? 1 : s.threads;
        if (t == 1) {
            below_rows(g, 0, groups);
        } else {
#pragma omp parallel num_threads(t)
            below_body(g);
        }
    }
    return k;
}

// Columns [c0, c1) with every term from the columns before c0 applied.
// Returns the first failed column, or c1.
uint64_t factor(const chol_state &s, uint64_t c0, uint64_t c1) {
    if (c1 - c0 <= leaf_cols || !s.T) return leaf(s, c0, c1);
    const uint64_t cm = c0 + ((c1 - c0) / 2 + leaf_cols - 1) / leaf_cols * leaf_cols;
    const uint64_t f = factor(s, c0, cm);
    if (f < cm) return f;
    const uint64_t n = s.n, k = cm - c0, w = c1 - cm, m = n - cm;
    // T (k x w) = rows [cm, c1) of the columns [c0, cm), transposed.
    for (uint64_t c = 0; c < w; ++c) {
        const double *src = s.L + (cm + c) * n + c0;
        for (uint64_t j = 0; j < k; ++j) s.T[j * w + c] = src[j];
    }
    const int gt = qx::gemm_team(m, w, k) < s.threads ? qx::gemm_team(m, w, k) : s.threads;
    qx::gemm_ordered_at(s.level, true, gt, m, w, k, s.L + cm * n + c0, n, s.T, w,
                        s.L + cm * n + cm, n, s.pool, s.stride);
    return factor(s, cm, c1);
}

}  // namespace

int cholesky(uint64_t n, const double *A, uint64_t lda, double *L, double sigma) {
    if (n == 0) return 0;
    fenv_region env;  // the calling thread computes like the threads of the regions
    for (uint64_t i = 0; i < n; ++i) {
        double *li = L + i * n;
        std::memcpy(li, A + i * lda, i * sizeof(double));
        li[i] = A[i * lda + i] - sigma;
        std::memset(li + i + 1, 0, (n - 1 - i) * sizeof(double));
    }
    int threads = omp_in_parallel() ? 1 : omp_get_max_threads();
    if (threads < 1) threads = 1;

    // Scratch of the blocked path; without it the whole matrix is one leaf
    // (the plain loop), with the same bits.
    freer<2> scope;
    double *T = nullptr, *pool = nullptr;
    uint64_t stride = 0;
    if (n > leaf_cols) {
        const uint64_t h = n / 2 + leaf_cols;
        stride = qx::gemm_scratch_doubles(h, h);
        T = scope.own(alloc<double>(h * h));
        pool = scope.own(alloc<double>((uint64_t)threads * stride));  // optional
    }
    const chol_state s = {qx::simd_best(), threads, n, L, T, pool, stride};
    const uint64_t f = factor(s, 0, n);
    // Clear the strict upper triangle, and on failure every column from f on.
    for (uint64_t i = 0; i < n; ++i) {
        double *li = L + i * n;
        const uint64_t from = i < f ? i + 1 : f;
        std::memset(li + from, 0, (n - from) * sizeof(double));
    }
    return f < n ? -1 : 0;
}

}  // namespace norva
