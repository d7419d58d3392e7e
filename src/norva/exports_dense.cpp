// The dense exports: argument checks, then the driver.
#include <cstdint>

#include "norva.h"
#include "common/finite.h"
#include "norva/solve.h"

extern "C" NORVA_API int32_t norva_solve_many(uint64_t n, uint64_t nrhs, const double *a,
                                              uint64_t lda, const double *b, uint64_t ldb,
                                              const double *r, uint64_t ldr, double *x_lo,
                                              double *x_hi, uint64_t ldx, int32_t mode,
                                              norva_gemm_fn gemm, void *ctx) {
    if (n == 0 || nrhs == 0) return -1;
    if ((uint32_t)mode > 2) return -1;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t k = 0; k < nrhs; ++k)
            if (!norva::finite_bits(b[i * ldb + k])) return -1;
        for (uint64_t j = 0; j < n; ++j)
            if (!norva::finite_bits(a[i * lda + j])) return -1;
    }
    return norva::solve(n, nrhs, a, lda, b, ldb, nullptr, nullptr, r, ldr, x_lo, x_hi, ldx, mode,
                        gemm, ctx);
}

extern "C" NORVA_API int32_t norva_solve(uint64_t n, const double *a, uint64_t lda,
                                         const double *b, const double *r, uint64_t ldr,
                                         double *x_lo, double *x_hi, int32_t mode,
                                         norva_gemm_fn gemm, void *ctx) {
    return norva_solve_many(n, 1, a, lda, b, 1, r, ldr, x_lo, x_hi, 1, mode, gemm, ctx);
}
