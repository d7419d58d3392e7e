// Rows of a band matrix as the row-parallel kernels walk them, and the
// region threshold they share.
#ifndef NORVA_BAND_ROWS_H
#define NORVA_BAND_ROWS_H

#include <cstdint>

#include "band/band.h"

namespace norva::band {

// The row regions run on one thread for n <= 63.
constexpr uint64_t region_threshold = 64;

// Columns first .. last of row i inside the clamped band; at[j] is A(i, j)
// for those columns.
struct band_row {
    uint64_t first, last;
    const double *at;
};

inline band_row row_of(const band_view *A, uint64_t i) {
    const uint64_t first = i > A->kl ? i - A->kl : 0;
    const uint64_t last = A->n - 1 - i > A->ku ? i + A->ku : A->n - 1;
    // A(i, j) lies at i ldab + diag_pos - (i - j); the pointer is formed at
    // column `first`, whose offset diag_pos - (i - first) is never negative.
    const double *p = A->ab + i * A->ldab + (A->diag_pos - (i - first));
    return {first, last, p - first};
}

}  // namespace norva::band

#endif
