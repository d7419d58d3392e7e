// Checks and structure of a caller's matrix in compressed sparse rows.
#ifndef NORVA_SPARSE_CSR_H
#define NORVA_SPARSE_CSR_H

#include <cstdint>

#include "sparse/sparse.h"

namespace norva::sparse {

// The argument checks of the sparse exports, in the caller's environment
// (bits only, no floating-point comparison): row_ptr[0] = 0 and never
// decreasing; per row, b[i] finite (when b is given), then for each entry in
// storage order a column below n, a finite value, no column met before in
// the row (quadratic in a row's length).
bool valid(const csr &A, const double *b);

// A(i, j) == A(j, i) as doubles for every entry, and the pattern symmetric
// (+0 and -0 equal; the values are finite, checked before).  Uses a
// transposed copy of the pattern when memory allows, a search of the rows
// otherwise (same answer).  Raises no floating-point flag.
bool symmetric(const csr &A);

// Most entries in a column of A (the terms of an entry of A^T A).
uint64_t max_column_count(const csr &A, uint64_t *scratch);

}  // namespace norva::sparse

#endif
