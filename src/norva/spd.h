// Internal interface of the positive-definiteness proof: the Cholesky
// factorization it verifies, the smallest-eigenvalue estimate that chooses
// its shift, and the automatic path.  The least-squares solver uses the
// first two to choose its scaling.  Matrices are row-major.
#ifndef NORVA_SPD_H
#define NORVA_SPD_H

#include <cstdint>

#include "norva.h"

namespace norva {

// Packed lower factor L (n x n, leading dimension n, zero above the
// diagonal) of A - sigma I, reading only the lower triangle of A (lda).
// Every entry is the plain left-looking sequence, each operation rounded to
// nearest:
//   p = A_kk - sigma;  p = p - L_kj L_kj for j = 0 .. k-1;  L_kk = sqrt(p)
//   q = A_rk;          q = q - L_rj L_kj for j = 0 .. k-1;  L_rk = q / L_kk
// Returns 0, or -1 at the first pivot p that is not positive and finite (L
// then holds the columns before it).  The bits do not depend on the number
// of threads or on how the loops are blocked.
int cholesky(uint64_t n, const double *A, uint64_t lda, double *L, double sigma);

// Estimate of the smallest eigenvalue of L L^T (L packed, lower triangular)
// by twelve rounds of inverse iteration from a fixed pseudo-random start
// vector; 0 on breakdown.  v and y are scratch of n doubles each.  Not
// rigorous: every use is followed by a verified bound.
double smallest(uint64_t n, const double *L, double *v, double *y);

// Inverse iteration continued from the unit vector v (smallest() leaves
// its last one there) with the Rayleigh quotient of L L^T as the estimate,
// until two successive quotients agree to `tolerance` (relative) or
// max_rounds have run; 0 on breakdown.  v, y, w: scratch of n doubles each.
// Not rigorous.
double smallest_settled(uint64_t n, const double *L, double *v, double *y, double *w,
                        int max_rounds, double tolerance);

// The automatic proof: shift search around the estimate, factorization and
// bound_e.  L and L2 are packed n x n scratch, work holds 2n doubles.
// *lower receives sigma - g rounded downward for the best (sigma, g) found,
// or -inf when no bound was formed; a value that is not positive means the
// proof failed.
void spd_auto(uint64_t n, const double *A, uint64_t lda, int32_t mode, norva_gemm_fn gemm,
              void *ctx, double *L, double *L2, double *work, double *lower);

// sigma - g exactly, rounded downward: the eigenvalue bound of a shift sigma
// and a residual bound g; -inf when g is NaN (no bound).
double shifted_bound(double sigma, double g);

}  // namespace norva

#endif
