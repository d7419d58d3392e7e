// The band path of the sparse exports: the renumbered matrix copied into
// general band storage, solved by norva_solve_band or proven positive
// definite by the band proof, the bounds mapped back to the caller's
// numbering.
#include <cstdint>
#include <limits>

#include "band/band.h"
#include "common/scratch.h"
#include "norva.h"
#include "sparse/paths.h"

namespace norva::sparse {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// The band array of A renumbered by iperm (ldab = kl + ku + 1, zeros where
// there is no entry); null when it is not available.
double *band_array(const csr &A, const uint64_t *iperm, uint64_t kl, uint64_t ku) {
    const uint64_t n = A.n;
    if (!band_fits(n, kl, ku)) return nullptr;
    double *ab = alloc_zero<double>((kl + ku + 1) * n);
    if (ab == nullptr) return nullptr;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t p = iperm[i];
        for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e)
            ab[p * (kl + ku) + kl + iperm[A.col_idx[e]]] = A.val[e];
    }
    return ab;
}

}  // namespace

int32_t band_solve(const csr &A, const uint64_t *iperm, uint64_t kl, uint64_t ku,
                   const double *b, double *x_lo, double *x_hi, int32_t mode) {
    const uint64_t n = A.n;
    freer<4> mem;
    double *rb = mem.own(alloc<double>(n));
    double *rlo = mem.own(alloc<double>(n));
    double *rhi = mem.own(alloc<double>(n));
    double *ab = rb && rlo && rhi ? mem.own(band_array(A, iperm, kl, ku)) : nullptr;
    if (ab == nullptr) {
        for (uint64_t k = 0; k < n; ++k) {
            x_lo[k] = -inf;
            x_hi[k] = inf;
        }
        return -1;
    }
    for (uint64_t i = 0; i < n; ++i) rb[iperm[i]] = b[i];
    const int32_t status = norva_solve_band(n, kl, ku, ab, kl + ku + 1, rb, rlo, rhi, mode);
    for (uint64_t i = 0; i < n; ++i) {
        x_lo[i] = status < 0 ? -inf : rlo[iperm[i]];
        x_hi[i] = status < 0 ? inf : rhi[iperm[i]];
    }
    return status;
}

double band_spd(const csr &A, const uint64_t *iperm, uint64_t w, int32_t mode, double *shift,
                double *err, bool *memory) {
    *shift = *err = 0;
    freer<1> mem;
    double *ab = mem.own(band_array(A, iperm, w, w));
    *memory = ab == nullptr && band_fits(A.n, w, w);
    if (ab == nullptr) return -inf;
    const band::band_view view{A.n, w, w, w, 2 * w + 1, ab};
    return band::spd_lower(view, mode, shift, err, memory);
}

}  // namespace norva::sparse
