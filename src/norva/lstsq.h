// Internal interface of the least-squares solver.
#ifndef NORVA_LSTSQ_H
#define NORVA_LSTSQ_H

#include <cstdint>

#include "norva.h"

namespace norva {

// The automatic scaling of the augmented system [[alpha I, A], [A^T, 0]]
// for the m x n matrix A (lda): the largest power of two not above
// sqrt(lambda / 2), lambda an estimate of the smallest eigenvalue of the
// smaller Gram matrix (A^T A or A A^T, formed by gemm, null for gemm_plain);
// 1 for a zero A; when the Gram matrix cannot be formed, factored or
// estimated, the largest power of two not above max |a_ij| 2^-26.  Runs in
// round to nearest (the caller installs it).
double lstsq_alpha(uint64_t m, uint64_t n, const double *a, uint64_t lda, norva_gemm_fn gemm,
                   void *ctx);

// The augmented system K (N x N, N = m + n, as norva_lstsq builds it, with
// the power of two alpha) and its right-hand sides rhs (N x nrhs) solved
// with an approximate inverse and a bound of I - R K formed from K's block
// structure (lstsq_structured.cpp); the enclosures go to lo, hi (N x nrhs).
// Returns the driver's status, or -1 when the structured inverse or its bound
// could not be formed (nothing proven; the caller takes the dense path).
// Modes 0 and 1, in the library's environment.
int32_t lstsq_structured(uint64_t m, uint64_t n, uint64_t nrhs, const double *a, uint64_t lda,
                         double alpha, const double *K, const double *rhs, double *lo, double *hi,
                         int32_t mode, norva_gemm_fn gemm, void *ctx);

// The largest power of two not above s > 0 (s finite); the smallest
// subnormal for s = 0.
double pow2_floor(double s);

}  // namespace norva

#endif
