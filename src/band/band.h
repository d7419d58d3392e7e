// Internal interface of the band module: the storage schemes, the view of
// a caller's band matrix, the sequential band Cholesky kernels, and the
// row-parallel residuals and factorization error bound of the band solver.
//
// General band storage (the caller's A): stored row i starts at ab[i ldab];
// entry (i, j) lies at ab[i ldab + kl + (j - i)], the diagonal at position
// kl.  Only the band clamped to the matrix is read:
// max(0, i - kl') <= j <= min(n - 1, i + ku') with kl' = min(kl, n - 1),
// ku' = min(ku, n - 1).
//
// Lower band storage (a symmetric M or a lower factor L, half bandwidth w):
// n stored rows of w + 1 doubles, entry (i, j), max(0, i - w) <= j <= i, at
// index i (w + 1) + w + (j - i); the diagonal is the last position of a row.
// Positions left of column 0 are never read or written.
#ifndef NORVA_BAND_BAND_H
#define NORVA_BAND_BAND_H

#include <cstdint>

namespace norva::band {

// A caller's band matrix as the parallel kernels read it: entry (i, j)
// inside the clamped band is ab[i (ldab - 1) + diag_pos + j]; outside it
// counts as 0.
struct band_view {
    uint64_t n;
    uint64_t kl;        // clamped lower bandwidth
    uint64_t ku;        // clamped upper bandwidth
    uint64_t diag_pos;  // position of the diagonal in a stored row (the caller's kl)
    uint64_t ldab;      // length of a stored row
    const double *ab;
};

// ---- sequential kernels (no checks, no allocation, no threads; they
// compute in the rounding mode in force, which their caller sets to
// nearest) --------------------------------------------------------------

// L L^T = M - shift I row by row (a and l in lower band storage, half
// bandwidth w): s = M(i, j) (minus shift on the diagonal), then
// s = s - L(i, k) L(j, k) for k ascending from max(0, i - w), then the
// division by L(j, j) or, on the diagonal, the square root.  0, or -1 at the
// first pivot that is not positive and finite (rows before it complete).
int32_t chol(uint64_t n, uint64_t w, const double *a, double *l, double shift);

// x = L^-1 x (forward substitution, row by row).
void lsolve(uint64_t n, uint64_t w, const double *l, double *x);

// x = L^-T x (back substitution by rows of L, from the last).
void ltsolve(uint64_t n, uint64_t w, const double *l, double *x);

// ---- row-parallel kernels (one thread when n <= 63) ----------------------

// r_i ~ b_i - sum_j A_ij (hi_j + lo_j) in double-double arithmetic.
void residual_dd(const band_view *A, const double *b, const double *hi, const double *lo,
                 double *r, uint64_t n);

// r_i = b_i - sum_j A_ij (hi_j + lo_j) exactly, rounded to nearest, from
// neg_hi = -hi and neg_lo = -lo.
void residual(const band_view *A, const double *b, double *r, const double *neg_hi,
              const double *neg_lo, uint64_t n);

// e >= max_i sum_j |E_ij| for E = M - s I - L L^T, M = A (normal = 0) or
// A^T A (normal = 1) formed exactly from A, L in lower band storage with
// half bandwidth w; mode 0 exact entries, 1 floating point with a rigorous
// rounding-error bound.  NaN when no bound could be formed.
double bound_e(const band_view *A, int32_t normal, uint64_t w, const double *L, int32_t mode,
               double s);

// ---- the proof of the band driver's symmetric attempt -------------------

// lambda <= lambda_min(A) for the symmetric band matrix A (kl = ku, A
// symmetric within the band; the caller has checked it): sigma factor,
// inverse iteration, the shifted factor and its error bound as in the band
// solver.  The best bound formed (positive only when A is positive
// definite), or -inf.  *shift and *err: the shift and the error bound that
// gave it; *memory is set when a bound was missing for want of memory.
// Runs in the rounding mode in force (the caller sets nearest).
double spd_lower(const band_view &A, int32_t mode, double *shift, double *err, bool *memory);

}  // namespace norva::band

#endif
