// Internal interface of the symmetric eigenvalue enclosure: the cyclic
// Jacobi method that supplies approximate eigenpairs when the caller brings
// none.  Matrices are row-major.
#ifndef NORVA_EIG_H
#define NORVA_EIG_H

#include <cstdint>

#include "norva.h"

namespace norva {

// Cyclic Jacobi method on a copy W of the symmetric A (n x n, lda): V
// (packed n x n, column j the eigenvector of d[j]) starts as the identity;
// at most 60 sweeps, each preceded by the test total 2^-106 >= off on the
// plain row-order sums of squares of all entries of W and of its
// off-diagonal ones; a sweep rotates the pairs (p, q), p < q, row by row,
// skipping W_pq = 0.  On convergence d[i] = W_ii.  Every rotation applies the
// same separately rounded operations to every entry as the plain
// column-then-row loop, so the bits are fixed.  Returns 0, or -1 when the
// test fails before each of the 60 sweeps or the copy cannot be allocated
// (V and d are then unspecified).
int jacobi(uint64_t n, const double *A, uint64_t lda, double *V, double *d);

// norva_eig_sym after its argument checks; refine = false stops after the
// first, norm-based stage (for comparisons: the export always refines).
int32_t eig_sym(uint64_t n, const double *a, uint64_t lda, const double *v, uint64_t ldv,
                const double *d, double *lo, double *hi, int32_t mode, norva_gemm_fn gemm,
                void *ctx, bool refine);

// Tightens the sorted enclosures lo[i] <= lambda_i <= hi[i] (the first
// stage's) eigenvalue by eigenvalue with the Kato-Temple bound (the
// theorem and its conditions are in eig_refine.cpp): V (packed n x n, column
// j for d[j], d unsorted), C and E (packed n x n) with |(A V - V D)_kj -
// C_kj| <= E_kj.  Each enclosure becomes its intersection with what is
// proven, never wider; an eigenvalue whose first-stage enclosure meets a
// neighbour's keeps it.  scratch: 4n doubles; order: n entries.
void eig_refine(uint64_t n, const double *V, const double *d, const double *C, const double *E,
                double *lo, double *hi, double *scratch, uint64_t *order);

}  // namespace norva

#endif
