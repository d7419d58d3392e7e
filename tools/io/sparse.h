// Sparse matrices in compressed sparse row form, for the band and sparse
// paths of `norva solve` and `norva spd` and the sparse sections of the
// demo, and the words and JSON fields that describe what the sparse
// solvers did.
#ifndef NORVA_TOOLS_SPARSE_H
#define NORVA_TOOLS_SPARSE_H

#include <cstdint>
#include <string>
#include <vector>

#include "json.h"
#include "matrix_market.h"
#include "sparse/sparse.h"

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

// The nonzero entries of a dense matrix, row by row.
entry_list nonzeros(const dense_matrix &d);

// The dense matrix of a list of entries (no entry twice).
dense_matrix to_dense(const entry_list &a);

// The entries of `a` that do not hold 0 (+0 or -0), in their order.
entry_list without_zeros(const entry_list &a);

// The square list `a` (no entry twice) against its transpose, entries not
// listed being 0: true when a(i, j) == a(j, i) everywhere; otherwise false
// with the first i > j (row by row) where they differ, 0-based, and the two
// values.
bool symmetric_entries(const entry_list &a, uint64_t &i, uint64_t &j, double &aij, double &aji);

// The lower and upper bandwidths of `a` as numbered: the largest i - j and
// j - i over its entries (0 when there is none); with `nonzero_only`,
// entries holding 0 are left out.
void bandwidths(const csr_matrix &a, bool nonzero_only, uint64_t &kl, uint64_t &ku);

// The bandwidths after the reverse Cuthill-McKee renumbering that
// norva_solve_sparse applies (the library's own routine).  False when its
// scratch memory is not available.
bool reordered_bandwidths(const csr_matrix &a, uint64_t &kl, uint64_t &ku);

// Entries of `a` on or below the diagonal (j <= i).
uint64_t lower_entries(const csr_matrix &a);

// "kl/ku".
std::string band_pair(uint64_t kl, uint64_t ku);

// What the band solver proves and how, in `mode` 0 or 1.
const char *band_method(int mode);

// The same for norva_solve_sparse after the path in `r` ran.
const char *sparse_method(int mode, const norva::sparse::report &r);

// The half bandwidth of the band the band path factored (that of A, or of
// A^T A when the normal equations were factored).
uint64_t factored_bandwidth(const norva::sparse::report &r);

// Entries of the sparse Cholesky factor per entry of the lower triangle of
// A (diagonal included; `lower` of them); 0 when `lower` is 0.
double factor_fill(const norva::sparse::report &r, uint64_t lower);

// The factorization that ran: "band Cholesky after reverse Cuthill-McKee,
// bandwidth w" or "sparse Cholesky (CHOLMOD supernodal), ordering X, N
// entries in the factor, fill F", with "of A" or "of A^T A" after
// "Cholesky" when `name_matrix`.  `lower` as for factor_fill.
std::string factorization_text(const norva::sparse::report &r, uint64_t lower, bool name_matrix);

// True when the report carries a proof (a lower bound of lambda_min that is
// not -inf, with its shift and error bound).
bool report_has_bound(const norva::sparse::report &r);

// The report as JSON members: "factorization" ("band", "cholesky" or null),
// "factored" ("A" or "A^T A"), "ordering", "bandwidth" (band path),
// "factor_entries", "factor_row_count", "fill" (Cholesky path; null on the
// band path), "lambda_low", "shift", "error_bound" (null without a bound),
// "factorizations" (null when not reported); with `solve` also
// "refinements" (null without a bound).
void json_report(json_writer &w, const norva::sparse::report &r, uint64_t lower, bool solve);

}  // namespace tool

#endif
