// The CHOLMOD side of the sparse Cholesky path: the symbolic analysis of
// M = A or A^T A kept in one record with its workspace, numeric
// factorizations of M - shift I over it, solves with the factor, and the a
// priori bound of the factorization error (cholmod_bound.cpp).
#ifndef NORVA_SPARSE_CHOLMOD_FACTOR_H
#define NORVA_SPARSE_CHOLMOD_FACTOR_H

#include <cholmod.h>

#include <cstdint>

#include "sparse/paths.h"

namespace norva::sparse {

struct analysis {
    cholmod_common c;
    cholmod_sparse A;       // header over the caller's arrays: the rows of A
                            // read as columns, that is A^T in CHOLMOD's terms
    cholmod_factor *L;      // symbolic, then the last numeric factor
    cholmod_dense *X, *Y, *E;  // solve workspace, reused
    int32_t normal;         // 0: M = A (A symmetric), 1: M = A^T A
    bool factored;          // L holds a complete numeric factor
};

// Outcome of a numeric factorization.
enum class factored { ok, not_positive, no_memory };

// L L^T = P (M - shift I) P^T over the analysis (the previous numeric
// factor is overwritten).
factored factor(analysis *an, double shift);

// x = (L L^T)^-1 x in the caller's numbering (the permutation applied);
// false when memory ran out.
bool solve(analysis *an, double *x);

// The largest column count of the factor predicted by the analysis.
uint64_t predicted_column_count(const analysis *an);

// What the bound needs from M: the largest absolute row sum of the terms
// of M (|A| 1, or |A|^T |A| 1 for the normal equations), rounded upward,
// and the most products in one entry of M (1 for M = A).
struct m_terms {
    double row_sum;
    uint64_t terms;
};

// e >= ||P (M - shift I) P^T - L L^T||_2 for the numeric factor in an
// (see cholmod_bound.cpp for the argument and its conditions); NaN when
// the factor is not finite or memory is missing.  Fills the factor's entry
// count and largest row count into *info.
double factor_error(const analysis *an, const m_terms &m, double shift, report *info);

}  // namespace norva::sparse

#endif
