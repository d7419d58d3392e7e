// The automatic positive-definiteness proof: a base shift from the largest
// diagonal entry, the factor of A - sigma0 I and an estimate of the smallest
// eigenvalue; first a shift just below a settled estimate (found by
// factoring: farther below it while the factorization fails), then, unless that proves more than half the estimate, the trial
// shifts of half, a quarter and an eighth of the first estimate, each
// verified by the residual bound.  Whatever is proven, the larger bound is
// returned; sigma - g <= sigma for every shift, so a tight bound above half
// the estimate is larger than anything the trial shifts could give.
#include <cmath>
#include <limits>

#include "common/finite.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "common/tight_shift.h"
#include "norva/rigorous.h"
#include "norva/spd.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

// Shifts tried below the estimate: margins m, 4 m, 16 m, 64 m, 256 m, then
// bisections between the first that factors and the failure above it (one
// in mode 0, none in mode 1).  The settling and the margin m:
// common/tight_shift.h.
constexpr int steps_down = 5;

// The largest shift found at which A - sigma I factors: estimate - m,
// estimate - 4 m, ... (above floor), then a few bisections between the first
// that factors and the one tried before it; L2 then holds its factor.  0
// when none was found above floor.
double tight_shift(uint64_t n, const double *A, uint64_t lda, double *L2, double estimate,
                   double floor, double margin, int bisections) {
    double failed = 0.0, found = 0.0;
    for (int k = 0; k < steps_down && found == 0.0; ++k, margin *= 4.0) {
        const double sigma = estimate - margin;
        if (!(sigma > floor) || !(sigma <= dbl_max)) break;
        if (cholesky(n, A, lda, L2, sigma) == 0) found = sigma;
        else failed = sigma;
    }
    if (found == 0.0 || failed == 0.0) return found;
    bool held = true;  // L2 holds the factor of `found`
    double lo = found, hi = failed;
    for (int k = 0; k < bisections; ++k) {
        const double mid = lo + (hi - lo) * 0.5;
        if (!(mid > lo && mid < hi)) break;
        held = cholesky(n, A, lda, L2, mid) == 0;
        if (held) found = lo = mid;
        else hi = mid;
    }
    if (!held && cholesky(n, A, lda, L2, found) != 0) return 0.0;
    return found;
}

}  // namespace

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

    // The tight shift: the estimate settled further (Rayleigh quotients),
    // less a margin of it and at least the size of a typical factorization
    // error, 4 n u max A_ii.
    double tight = -std::numeric_limits<double>::infinity();
    {
        freer<1> mem;
        double *w = mem.own(alloc<double>(n));
        const tight_search how = tight_search_of(mode);
        const double rho =
            w ? smallest_settled(n, L, work, work + n, w, how.rounds, how.tolerance) : 0.0;
        const double estimate = rho + sigma0;
        if (rho > 0.0) {
            const double margin =
                std::fmax(estimate * how.margin, d * ((double)n * 4.0 * unit_roundoff));
            const double sigma =
                tight_shift(n, A, lda, L2, estimate, s * 0.5, margin, mode == 0 ? 1 : 0);
            if (sigma > 0.0) {
                const double g = bound_e(n, A, lda, L2, mode, gemm, ctx, sigma);
                if (sigma > g) tight = shifted_bound(sigma, g);
            }
        }
    }
    if (tight > s * 0.5) {
        *lower = tight;
        return;
    }

    // L keeps the factor of A - sigma0 I throughout: a trial factor goes to
    // L2, so the fallback never has to factor with sigma0 again.
    for (int t = 0; t < 3; ++t) {
        s = s * 0.5;
        if (!(s > sigma0)) break;
        if (cholesky(n, A, lda, L2, s) != 0) continue;
        const double g = bound_e(n, A, lda, L2, mode, gemm, ctx, s);
        if (s > g) {
            *lower = std::fmax(shifted_bound(s, g), tight);
            return;
        }
        break;
    }
    *lower = std::fmax(shifted_bound(sigma0, bound_e(n, A, lda, L, mode, gemm, ctx, sigma0)), tight);
}

}  // namespace norva
