// Internal interface of the sparse module: the two sparse exports with a
// report of what ran (for the command-line tool and the benchmarks), the
// compressed-sparse-row view they share, and the choice between the band
// path and the sparse Cholesky path.
#ifndef NORVA_SPARSE_SPARSE_H
#define NORVA_SPARSE_SPARSE_H

#include <cstdint>
#include <limits>

namespace norva::sparse {

// A caller's matrix in compressed sparse rows: row i holds the entries
// row_ptr[i] .. row_ptr[i + 1] - 1 (columns in any order, none twice).
struct csr {
    uint64_t n;
    const uint64_t *row_ptr;
    const uint64_t *col_idx;
    const double *val;
};

// Which path ran.
enum : int32_t { path_none = 0, path_band = 1, path_cholesky = 2 };

// What a call did, filled when a report is asked for (fields of a path
// that did not run stay at their initial values).
struct report {
    int32_t path = path_none;   // the path that gave the result (or was tried last)
    int32_t normal = 0;         // 0: A itself was factored, 1: A^T A
    uint64_t nnz = 0;           // entries of A as given
    uint64_t kl = 0, ku = 0;    // band path: bandwidths after the renumbering
    uint64_t band_kl = 0, band_ku = 0;  // the renumbered bandwidths (also when the band was not chosen)
    bool band_known = false;    // band_kl, band_ku were computed
    uint64_t nnz_l = 0;         // Cholesky path: entries stored in the factor
    uint64_t row_count = 0;     // Cholesky path: most entries in a row of the factor
    double flops = 0;           // Cholesky path: flops of one factorization (CHOLMOD's count)
    double band_flops = 0;      // n (w + 1)^2, the multiply-adds of one band factorization
    const char *ordering = "";  // "reverse Cuthill-McKee", "AMD", "METIS", "NESDIS", ...
    double lambda = -std::numeric_limits<double>::infinity();  // proven lower bound of lambda_min of the factored matrix
    double shift = 0;           // shift of the factor that gave lambda
    double error = 0;           // bound of the factorization error at that shift
    int32_t factorizations = 0; // numeric factorizations made
    int32_t refinements = 0;    // refinement steps of the solution
    double radius = 0;          // Cholesky path: normwise radius of the enclosure (status 0)
    bool scaled = false;        // spd: proven on D A D, D = diag(2^e_i) (the fields above are of that run)
};

// True when the library was built with CHOLMOD (the sparse Cholesky path).
bool have_cholmod();

// norva_solve_sparse and norva_spd_sparse with their checks, filling *info
// when it is not null.
int32_t solve_sparse(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx,
                     const double *val, const double *b, double *x_lo, double *x_hi, int32_t mode,
                     report *info);
int32_t spd_sparse(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx, const double *val,
                   double *lower, int32_t mode, report *info);

}  // namespace norva::sparse

#endif
