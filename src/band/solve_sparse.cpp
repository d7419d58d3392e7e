// The sparse export: checks, the reverse Cuthill-McKee renumbering, the copy
// into band storage, the band solver and the bounds mapped back to the
// caller's numbering.
#include <cstdint>
#include <cstring>
#include <limits>

#include "band/ordering.h"
#include "common/finite.h"
#include "common/scratch.h"
#include "norva.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr uint64_t band_limit = uint64_t(1) << 27;  // doubles of the band array

void trivial(uint64_t n, double *x_lo, double *x_hi) {
    for (uint64_t k = 0; k < n; ++k) {
        x_lo[k] = -inf;
        x_hi[k] = inf;
    }
}

}  // namespace

extern "C" NORVA_API int32_t norva_solve_sparse(uint64_t n, const uint64_t *row_ptr,
                                                const uint64_t *col_idx, const double *val,
                                                const double *b, double *x_lo, double *x_hi,
                                                int32_t mode) {
    using namespace norva;
    if (n == 0 || row_ptr[0] != 0 || (uint32_t)mode > 1) return -1;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t e0 = row_ptr[i], e1 = row_ptr[i + 1];
        if (e1 < e0 || !finite_bits(b[i])) return -1;
        for (uint64_t e = e0; e < e1; ++e) {
            if (col_idx[e] >= n || !finite_bits(val[e])) return -1;
            for (uint64_t f = e0; f < e; ++f)  // quadratic in the row's length
                if (col_idx[f] == col_idx[e]) return -1;
        }
    }

    freer<6> mem;
    if (too_big(n, 1)) {
        trivial(n, x_lo, x_hi);
        return -1;
    }
    uint64_t *perm = mem.own(alloc<uint64_t>(n));
    uint64_t *iperm = mem.own(alloc<uint64_t>(n));
    double *rb = mem.own(alloc<double>(n));
    double *rlo = mem.own(alloc<double>(n));
    double *rhi = mem.own(alloc<double>(n));
    uint64_t kl = 0, ku = 0;
    if (!perm || !iperm || !rb || !rlo || !rhi ||
        band::rcm(n, row_ptr, col_idx, perm, iperm, &kl, &ku) != 0) {
        trivial(n, x_lo, x_hi);
        return -1;
    }
    const uint64_t ldab = kl + ku + 1;
    double *ab = band_limit / n < ldab ? nullptr : mem.own(alloc_zero<double>(ldab * n));
    if (ab == nullptr) {
        trivial(n, x_lo, x_hi);
        return -1;
    }
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t p = iperm[i];
        for (uint64_t e = row_ptr[i]; e < row_ptr[i + 1]; ++e)
            ab[p * (kl + ku) + kl + iperm[col_idx[e]]] = val[e];
        rb[p] = b[i];
    }
    const int32_t status = norva_solve_band(n, kl, ku, ab, ldab, rb, rlo, rhi, mode);
    for (uint64_t i = 0; i < n; ++i) {
        x_lo[i] = rlo[iperm[i]];
        x_hi[i] = rhi[iperm[i]];
    }
    if (status < 0) trivial(n, x_lo, x_hi);
    return status;
}
