// The automatic positive-definiteness proof: a base shift from the largest
// diagonal entry, the factor of A - sigma0 I, an estimate of the smallest
// eigenvalue, then up to three larger trial shifts (half, a quarter, an
// eighth of the estimate) verified by the residual bound.
#include <cmath>
#include <limits>

#include "norva/rigorous.h"
#include "norva/spd.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {

double shifted_bound(double sigma, double g) {
    if (std::isnan(g)) return -std::numeric_limits<double>::infinity();
    const double t[2] = {sigma, -g};
    return qxsum(t, 2, 2);
}

void spd_auto(uint64_t n, const double *A, uint64_t lda, int32_t mode, norva_gemm_fn gemm,
              void *ctx, double *L, double *L2, double *work, double *lower) {
    *lower = -std::numeric_limits<double>::infinity();
    double d = 0.0;
    for (uint64_t i = 0; i < n; ++i)
        if (A[i * lda + i] > d) d = A[i * lda + i];
    if (!(d > 0.0)) return;
    const double sigma0 = up(d * ((double)n * 4.0 * unit_roundoff));
    if (cholesky(n, A, lda, L, sigma0) != 0) return;
    double s = smallest(n, L, work, work + n) + sigma0;
    // L keeps the factor of A - sigma0 I throughout: a trial factor goes to
    // L2, so the fallback never has to factor with sigma0 again.
    for (int t = 0; t < 3; ++t) {
        s = s * 0.5;
        if (!(s > sigma0)) break;
        if (cholesky(n, A, lda, L2, s) != 0) continue;
        const double g = bound_e(n, A, lda, L2, mode, gemm, ctx, s);
        if (s > g) {
            *lower = shifted_bound(s, g);
            return;
        }
        break;
    }
    *lower = shifted_bound(sigma0, bound_e(n, A, lda, L, mode, gemm, ctx, sigma0));
}

}  // namespace norva
