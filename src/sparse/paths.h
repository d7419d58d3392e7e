// The two paths of the sparse exports: the band path (the reverse
// Cuthill-McKee renumbering copied into band storage for the band solver)
// and the sparse Cholesky path (CHOLMOD's ordering and supernodal factor
// with an a priori error bound), and the choice between them.
#ifndef NORVA_SPARSE_PATHS_H
#define NORVA_SPARSE_PATHS_H

#include <cstdint>

#include "sparse/sparse.h"

namespace norva::sparse {

// ---- band path ------------------------------------------------------------

// The band array holds at most 2^27 doubles (1 GiB).
constexpr uint64_t band_limit = uint64_t(1) << 27;

// True when the renumbered band with bandwidths kl, ku fits the limit.
inline bool band_fits(uint64_t n, uint64_t kl, uint64_t ku) {
    return band_limit / n >= kl + ku + 1;
}

// norva_solve_band on A renumbered by iperm (iperm[i]: new position of row
// and column i) into bandwidths kl, ku, with the bounds mapped back.  -1
// with every bound [-inf, +inf] when the band array is not available.
int32_t band_solve(const csr &A, const uint64_t *iperm, uint64_t kl, uint64_t ku,
                   const double *b, double *x_lo, double *x_hi, int32_t mode);

// The band proof of lambda_min(A) for a symmetric A renumbered into half
// bandwidth w: the best bound formed, or -inf (*memory set when that is for
// want of memory).  *shift, *err as for band::spd_lower.
double band_spd(const csr &A, const uint64_t *iperm, uint64_t w, int32_t mode, double *shift,
                double *err, bool *memory);

// ---- sparse Cholesky path (built with CHOLMOD) ----------------------------

// The symbolic analysis of the matrix to factor (A, or A^T A when normal),
// kept between the choice and the factorizations.  Opaque.
struct analysis;

// The analysis of A (normal = 0, A symmetric) or A^T A, with its predicted
// flops and entries of the factor in *info; null when memory is missing.
analysis *analyze(const csr &A, int32_t normal, report *info);
void release(analysis *an);

// Outcome of a Cholesky-path call.
enum class result { proven, unproven, no_memory };

// The enclosure of A x = b from the factor of M - shift I, M = A (normal =
// 0) or A^T A, over the analysis `an` (which the call consumes and
// releases).
result cholesky_solve(const csr &A, int32_t normal, analysis *an, const double *b, double *x_lo,
                      double *x_hi, int32_t mode, report *info);

// The best proven lower bound of lambda_min(A) for the symmetric A over its
// analysis (consumed), or -inf; no_memory when memory ran out before a
// bound was formed.
result cholesky_spd(const csr &A, analysis *an, int32_t mode, double *lower, report *info);

}  // namespace norva::sparse

#endif
