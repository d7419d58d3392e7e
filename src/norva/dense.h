// Internal interface of the dense-solver building blocks: the library's own
// matrix product and the approximate inverse.  Matrices are row-major.
#ifndef NORVA_DENSE_H
#define NORVA_DENSE_H

#include <cstdint>

namespace norva {

// The built-in matrix product, with the signature of norva_gemm_fn: C (m x n,
// ldc) = A (m x k, lda) B (k x n, ldb), where for every row i the entries are
// first set to +0 and then, for p = 0 .. k-1 ascending, C_ij = C_ij + A_ip B_pj
// (multiply, then add, each rounded; nothing skipped, so 0 * inf gives NaN).
// m = 0 writes nothing, k = 0 gives zeros.  ctx is ignored.  Results do not
// depend on the number of threads.
void gemm_plain(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx);

// Approximate inverse R (n x n, leading dimension n) of a (n x n, lda) by
// Gaussian elimination with partial pivoting and forward and back
// substitution on the permutation matrix.  Returns 0, or -1 for a zero pivot
// or when the scratch (LU copy and pivots) cannot be allocated; R is then
// unspecified.  Every bit of R is that of the plain algorithm (row-by-row
// elimination, then substitution skipping exactly zero multipliers), for any
// number of threads.
int inverse(uint64_t n, const double *a, uint64_t lda, double *R);

}  // namespace norva

#endif
