// Approximate inverse: Gaussian elimination with partial pivoting, then
// forward and back substitution on the permutation matrix.
//
// The result is defined operation by operation by the plain algorithm:
//   - for every column j: pivot = the first row i >= j of largest |LU_ij|
//     (strictly larger wins, NaN never); a zero pivot fails; whole rows j
//     and pivot are exchanged; every row i > j gets l = LU_ij / LU_jj, stored
//     in LU_ij, and LU_ic = LU_ic - l LU_jc for c > j;
//   - R = the permutation matrix; for every column of R: forward, for rows
//     k ascending and i < k ascending, R_k = R_k - L_ki R_i unless L_ki is
//     zero; backward, for rows k descending and i > k ascending,
//     R_k = R_k - U_ki R_i unless U_ki is zero, then R_k = R_k / U_kk.
// The code below reorganises the loops, never the sequence of operations
// that an entry sees, so it gives the same bits:
//   - elimination: recursive, column halves.  The left half is factored, the
//     right half receives the left half's updates by a triangular solve (its
//     rows in the left half) and an ordered subtracting product (the rows
//     below), then is factored.  Every entry gets its updates in ascending
//     j.  Rows are exchanged whole at pivot time, as in the plain algorithm.
//   - substitution: column blocks of 32, in the column order of the
//     permutation (column perm_r of R has its 1 in row r), so that a block
//     starts as 32 columns of the identity and its rows above the block stay
//     exactly +0.  The forward solve is blocked (ordered products for the
//     rows already done, then the triangle), the backward solve goes row by
//     row as it must (row k needs rows k+1.. finished, nearest first).
//   - zero multipliers: the fast path does not skip them.  Skipping
//     x - 0 * y is observable only when y is not finite or x is -0; x is
//     never -0 during the updates (values start as +0 or 1, and a
//     subtraction gives -0 only from -0), so when every multiplier of L and
//     every value used is finite the two agree bit for bit.  The block is
//     checked after each phase; a block that fails the check (overflow,
//     NaN) is computed again by the plain loops with the skips.
#include <omp.h>

#include <cmath>
#include <cstring>

#include "norva/dense.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "qxsum/dgemm_kernel.h"

namespace norva {
namespace {

constexpr uint64_t leaf_cols = 16;  // columns factored by plain elimination
constexpr uint64_t blk = 32;        // columns of R per substitution block
constexpr uint64_t tri_rows = 64;   // row tile of the blocked triangular solves

constexpr uint64_t min_u(uint64_t a, uint64_t b) { return a < b ? a : b; }

struct lu_state {
    int level;
    int threads;
    uint64_t n;
    double *LU;
    int64_t *perm;
    double *pool;  // threads x stride doubles of product scratch, or null
    uint64_t stride;
};

// X (m x w, ldx): every row j becomes X_j - sum over t < j of L_jt X_t, t
// ascending, no term skipped (L unit lower triangular, ldl).  Serial.
void tri_lower(int level, uint64_t m, uint64_t w, const double *L, uint64_t ldl, double *X,
               uint64_t ldx, double *scratch, uint64_t stride) {
    for (uint64_t jb = 0; jb < m; jb += tri_rows) {
        const uint64_t je = min_u(jb + tri_rows, m);
        if (jb > 0)
            qx::gemm_ordered_at(level, true, 1, je - jb, w, jb, L + jb * ldl, ldl, X, ldx,
                                X + jb * ldx, ldx, scratch, stride);
        for (uint64_t j = jb + 1; j < je; ++j)
            qx::row_sub(level, j - jb, L + j * ldl + jb, X + jb * ldx, ldx, X + j * ldx, w);
    }
}

// Columns [c0, c1) with every update from the columns before c0 applied:
// plain elimination, rows exchanged whole.  False on a zero pivot.
bool factor_leaf(const lu_state &s, uint64_t c0, uint64_t c1) {
    const uint64_t n = s.n;
    double *LU = s.LU;
    for (uint64_t j = c0; j < c1; ++j) {
        uint64_t p = j;
        double best = std::fabs(LU[j * n + j]);
        for (uint64_t i = j + 1; i < n; ++i) {
            const double v = std::fabs(LU[i * n + j]);
            if (v > best) {
                best = v;
                p = i;
            }
        }
        if (LU[p * n + j] == 0.0) return false;
        if (p != j) {
            double *x = LU + j * n, *y = LU + p * n;
            for (uint64_t c = 0; c < n; ++c) {
                const double t = x[c];
                x[c] = y[c];
                y[c] = t;
            }
            const int64_t t = s.perm[j];
            s.perm[j] = s.perm[p];
            s.perm[p] = t;
        }
        const double *u = LU + j * n;
        const double d = u[j];
        for (uint64_t i = j + 1; i < n; ++i) {
            double *r = LU + i * n;
            const double l = r[j] / d;
            r[j] = l;
            for (uint64_t c = j + 1; c < c1; ++c) r[c] = r[c] - l * u[c];
        }
    }
    return true;
}

struct tri_args {
    const lu_state *s;
    uint64_t c0, cm, c1;
};

// Rows [c0, cm) of the columns [cm, c1): the updates from the columns
// [c0, cm), split by columns among the threads.
void tri_body(const tri_args &g, uint64_t id, uint64_t threads) {
    const lu_state &s = *g.s;
    const uint64_t n = s.n, w = g.c1 - g.cm;
    const share sh = static_share((w + 7) / 8, id, threads);
    const uint64_t a = sh.begin * 8, b = min_u(sh.end * 8, w);
    double *scratch = s.pool ? s.pool + id * s.stride : nullptr;
    if (a < b)
        tri_lower(s.level, g.cm - g.c0, b - a, s.LU + g.c0 * n + g.c0, n,
                  s.LU + g.c0 * n + g.cm + a, n, scratch, s.stride);
}

// Columns [c0, c1), every update from the columns before c0 applied.
bool factor(const lu_state &s, uint64_t c0, uint64_t c1) {
    if (c1 - c0 <= leaf_cols) return factor_leaf(s, c0, c1);
    const uint64_t cm = c0 + ((c1 - c0) / 2 + leaf_cols - 1) / leaf_cols * leaf_cols;
    if (!factor(s, c0, cm)) return false;
    const uint64_t n = s.n, k = cm - c0, w = c1 - cm;
    // Rows of the left half, right half: unit lower triangular solve.
    const tri_args g = {&s, c0, cm, c1};
    const int tt = qx::gemm_team(k / 2 + 1, w, k) < s.threads ? qx::gemm_team(k / 2 + 1, w, k)
                                                                : s.threads;
    on_team(tt, [&](uint64_t id, uint64_t t) { tri_body(g, id, t); });
    // Rows below: LU_ic = LU_ic - sum over t in [c0, cm) of l_it U_tc.
    const uint64_t m = n - cm;
    const int gt = qx::gemm_team(m, w, k) < s.threads ? qx::gemm_team(m, w, k) : s.threads;
    qx::gemm_ordered_at(s.level, true, gt, m, w, k, s.LU + cm * n + c0, n, s.LU + c0 * n + cm, n,
                        s.LU + cm * n + cm, n, s.pool, s.stride);
    return factor(s, cm, c1);
}

// ---- substitution ----------------------------------------------------------

// The plain substitution of w columns X (ldx) that hold their start values,
// with the zero skips.
void plain_block(uint64_t n, const double *LU, double *X, uint64_t ldx, uint64_t w) {
    for (uint64_t k = 1; k < n; ++k) {
        double *xk = X + k * ldx;
        const double *l = LU + k * n;
        for (uint64_t i = 0; i < k; ++i) {
            const double f = l[i];
            if (f == 0.0) continue;
            const double *xi = X + i * ldx;
            for (uint64_t c = 0; c < w; ++c) xk[c] = xk[c] - f * xi[c];
        }
    }
    for (uint64_t k = n; k-- > 0;) {
        double *xk = X + k * ldx;
        const double *u = LU + k * n;
        for (uint64_t i = k + 1; i < n; ++i) {
            const double f = u[i];
            if (f == 0.0) continue;
            const double *xi = X + i * ldx;
            for (uint64_t c = 0; c < w; ++c) xk[c] = xk[c] - f * xi[c];
        }
        const double d = u[k];
        for (uint64_t c = 0; c < w; ++c) xk[c] = xk[c] / d;
    }
}

bool rows_finite(const double *X, uint64_t rows, uint64_t w, uint64_t ldx) {
    for (uint64_t k = 0; k < rows; ++k)
        for (uint64_t c = 0; c < w; ++c)
            if (!finite(X[k * ldx + c])) return false;
    return true;
}

// Columns cb .. cb+blk-1 of the identity (those of the block below n).
void identity_block(uint64_t n, double *P, uint64_t cb, uint64_t w) {
    std::memset(P, 0, n * blk * sizeof(double));
    for (uint64_t c = 0; c < w; ++c) P[(cb + c) * blk + c] = 1.0;
}

// The fast substitution of the identity block at column cb (w valid
// columns, the rest zero) in P (n x blk).  False when a check fails; P is
// then to be recomputed.
bool fast_block(int level, uint64_t n, const double *LU, double *P, uint64_t cb, uint64_t w,
                double *scratch, uint64_t stride) {
    identity_block(n, P, cb, w);
    // Rows above cb stay +0: their updates are +0 - L_ki * (+0).
    tri_lower(level, n - cb, blk, LU + cb * n + cb, n, P + cb * blk, blk, scratch, stride);
    if (!rows_finite(P + cb * blk, n - cb, w, blk)) return false;
    for (uint64_t k = n; k-- > 0;) {
        double *xk = P + k * blk;
        qx::row_sub(level, n - 1 - k, LU + k * n + k + 1, xk + blk, blk, xk, blk);
        const double d = LU[k * n + k];
        for (uint64_t c = 0; c < blk; ++c) xk[c] = xk[c] / d;
    }
    return rows_finite(P, n, w, blk);
}

struct subst_args {
    int level;
    uint64_t n;
    const double *LU;
    const int64_t *perm;
    double *R;
    double *P;  // threads x n x blk doubles, or null: plain loops on R itself
    double *pool;
    uint64_t stride;
    bool fast;  // every multiplier of L finite
};

// Blocks in the order 0, last, 1, last - 1, ...: the forward work of a block
// falls with its column, so contiguous shares of this order are balanced.
uint64_t block_at(uint64_t q, uint64_t blocks) { return (q & 1) ? blocks - 1 - q / 2 : q / 2; }

void subst_body(const subst_args &g, uint64_t id, uint64_t threads) {
    const uint64_t n = g.n, blocks = (n + blk - 1) / blk;
    const share sh = static_share(blocks, id, threads);
    double *P = g.P ? g.P + id * n * blk : nullptr;
    double *scratch = g.pool ? g.pool + id * g.stride : nullptr;
    for (uint64_t q = sh.begin; q < sh.end; ++q) {
        const uint64_t b = g.P ? block_at(q, blocks) : q;
        const uint64_t cb = b * blk, w = min_u(blk, n - cb);
        if (!P) {
            // R holds the permutation matrix: its own columns cb .. cb+w-1.
            plain_block(n, g.LU, g.R + cb, n, w);
            continue;
        }
        if (!(g.fast && fast_block(g.level, n, g.LU, P, cb, w, scratch, g.stride))) {
            identity_block(n, P, cb, w);
            plain_block(n, g.LU, P, blk, w);
        }
        // Column cb + c of the block is column perm[cb + c] of R.
        for (uint64_t k = 0; k < n; ++k) {
            double *r = g.R + k * n;
            const double *x = P + k * blk;
            for (uint64_t c = 0; c < w; ++c) r[g.perm[cb + c]] = x[c];
        }
    }
}

}  // namespace

int inverse(uint64_t n, const double *a, uint64_t lda, double *R) {
    if (n == 0) return 0;
    if (n > UINT64_MAX / sizeof(double) / n) return -1;  // n x n doubles do not fit
    fenv_region env;  // the calling thread computes like the threads of the regions
    freer<4> scope;
    double *LU = scope.own(alloc<double>(n * n));
    int64_t *perm = scope.own(alloc<int64_t>(n));
    if (!LU || !perm) return -1;
    for (uint64_t i = 0; i < n; ++i) {
        std::memcpy(LU + i * n, a + i * lda, n * sizeof(double));
        perm[i] = (int64_t)i;
    }

    int threads = omp_in_parallel() ? 1 : omp_get_max_threads();
    if (threads < 1) threads = 1;
    const int level = qx::simd_best();
    // Scratch of the products (optional: without it they run unpacked).
    // (products with at most max(n, blk) columns and depth at most n).
    const uint64_t stride = qx::gemm_scratch_doubles(n > blk ? n : blk, n);
    double *pool = n > leaf_cols ? scope.own(alloc<double>((uint64_t)threads * stride)) : nullptr;

    const lu_state s = {level, threads, n, LU, perm, pool, stride};
    if (!factor(s, 0, n)) return -1;

    // Substitution: one region over the column blocks, one thread below 64.
    const int st = n < 64 ? 1 : threads;
    double *P = scope.own(alloc<double>((uint64_t)st * n * blk));  // optional
    if (!P) {
        for (uint64_t i = 0; i < n; ++i) {
            double *r = R + i * n;
            for (uint64_t c = 0; c < n; ++c) r[c] = 0.0;
            r[perm[i]] = 1.0;
        }
    }
    bool fast = true;
    for (uint64_t i = 1; i < n && fast; ++i)
        for (uint64_t j = 0; j < i; ++j)
            if (!finite(LU[i * n + j])) {
                fast = false;
                break;
            }
    const subst_args g = {level, n, LU, perm, R, P, pool, stride, fast};
    on_team(st, [&](uint64_t id, uint64_t t) { subst_body(g, id, t); });
    return 0;
}

}  // namespace norva
