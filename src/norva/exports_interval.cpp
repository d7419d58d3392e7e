// The interval export: checks, conversion of the interval data to midpoints
// and radii, then the dense driver with the radii.
#include <cstdint>

#include "norva.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "norva/interval.h"
#include "common/scratch.h"
#include "norva/solve.h"

namespace {

// Both ends finite (on the bits) and lo <= hi; the comparison is made only
// between finite numbers, so it raises no flag.
bool proper(double lo, double hi) {
    return norva::finite_bits(lo) && norva::finite_bits(hi) && lo <= hi;
}

}  // namespace

extern "C" NORVA_API int32_t norva_solve_interval(uint64_t n, uint64_t nrhs, const double *a_lo,
                                                  const double *a_hi, uint64_t lda,
                                                  const double *b_lo, const double *b_hi,
                                                  uint64_t ldb, const double *r, uint64_t ldr,
                                                  double *x_lo, double *x_hi, uint64_t ldx,
                                                  int32_t mode, norva_gemm_fn gemm, void *ctx) {
    using namespace norva;
    if (n == 0 || nrhs == 0) return -1;
    if ((uint32_t)mode > 1) return -1;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t k = 0; k < nrhs; ++k)
            if (!proper(b_lo[i * ldb + k], b_hi[i * ldb + k])) return -1;
        for (uint64_t j = 0; j < n; ++j)
            if (!proper(a_lo[i * lda + j], a_hi[i * lda + j])) return -1;
    }

    freer<4> mem;
    double *mid_a = nullptr, *rad_a = nullptr, *mid_b = nullptr, *rad_b = nullptr;
    if (!too_big(n, n) && !too_big(n, nrhs)) {
        mid_a = mem.own(alloc<double>(n * n));
        rad_a = mem.own(alloc<double>(n * n));
        mid_b = mem.own(alloc<double>(n * nrhs));
        rad_b = mem.own(alloc<double>(n * nrhs));
    }
    if (mid_a == nullptr || rad_a == nullptr || mid_b == nullptr || rad_b == nullptr) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    {
        fenv_guard env;
        for (uint64_t i = 0; i < n; ++i) {
            for (uint64_t j = 0; j < n; ++j)
                midrad(mid_a + i * n + j, rad_a + i * n + j, a_lo[i * lda + j], a_hi[i * lda + j]);
            for (uint64_t k = 0; k < nrhs; ++k)
                midrad(mid_b + i * nrhs + k, rad_b + i * nrhs + k, b_lo[i * ldb + k],
                       b_hi[i * ldb + k]);
        }
    }
    return solve(n, nrhs, mid_a, n, mid_b, nrhs, rad_a, rad_b, r, ldr, x_lo, x_hi, ldx, mode, gemm,
                 ctx);
}
