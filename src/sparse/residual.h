// Row-parallel residuals b - A (hi + lo) of a matrix in compressed sparse
// rows, for a double-double solution hi + lo.
#ifndef NORVA_SPARSE_RESIDUAL_H
#define NORVA_SPARSE_RESIDUAL_H

#include <cstdint>

#include "sparse/sparse.h"

namespace norva::sparse {

// r[i] ~ b[i] - sum_j A(i, j) (hi[j] + lo[j]) in double-double arithmetic
// (each product split exactly by a fused multiply-add, the rounded parts
// summed with TwoSum and the errors gathered apart), for refinement.
void residual_dd(const csr &A, const double *b, const double *hi, const double *lo, double *r);

// mag[i] >= |b[i] - sum_j A(i, j) (hi[j] + lo[j])|: mode 0 the exact value
// rounded upward in magnitude (0 exactly when the residual is 0); mode 1 the
// double-double value widened by its a priori error bound.  +inf where the
// residual is beyond the doubles.
void residual_bound(const csr &A, const double *b, const double *hi, const double *lo,
                    double *mag, int32_t mode);

}  // namespace norva::sparse

#endif
