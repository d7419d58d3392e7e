// Sparse matrices in compressed sparse row form, for the band and sparse
// paths of `norva solve` and the sparse section of the demo.
#ifndef NORVA_TOOLS_SPARSE_H
#define NORVA_TOOLS_SPARSE_H

#include <cstdint>
#include <string>
#include <vector>

#include "matrix_market.h"

namespace tool {

struct csr_matrix {
    uint64_t n = 0;
    std::vector<uint64_t> row_ptr;  // n + 1 row starts
    std::vector<uint64_t> col_idx;
    std::vector<double> val;
};

// The square list `a` (no entry twice) in compressed sparse row form; each
// row keeps the order of the list.
csr_matrix to_csr(const entry_list &a);

// The lower and upper bandwidths of `a` as numbered: the largest i - j and
// j - i over its entries (0 when there is none); with `nonzero_only`,
// entries holding 0 are left out.
void bandwidths(const csr_matrix &a, bool nonzero_only, uint64_t &kl, uint64_t &ku);

// The bandwidths after the reverse Cuthill-McKee renumbering that
// norva_solve_sparse applies (the library's own routine).  False when its
// scratch memory is not available.
bool reordered_bandwidths(const csr_matrix &a, uint64_t &kl, uint64_t &ku);

// "kl/ku".
std::string band_pair(uint64_t kl, uint64_t ku);

// What the band solver proves and how, in `mode` 0 or 1.
const char *band_method(int mode);

}  // namespace tool

#endif
