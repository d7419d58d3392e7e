// The positive-definiteness export: checks, the supplied factor or the
// automatic proof, and the retry on a copy scaled by powers of two.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "norva.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "norva/rigorous.h"
#include "common/scratch.h"
#include "norva/spd.h"

namespace norva {
namespace {

// -floor(e/2) without rounding: the exponent that moves m 2^e into [0.5, 2).
int32_t half_exponent(int e) { return e < 0 ? (1 - e) / 2 : -(e / 2); }

// S = D A D with D = diag(2^E(i)), every positive diagonal entry moved into
// [0.5, 2), then the automatic proof on S.  lambda_min(A) >= t 2^(-2 Emax)
// for the bound t > 0 of S, because D A D is congruent to A.  Returns 0 and
// stores that bound, rounded toward zero, or returns 1 (lower untouched)
// when a scaling is inexact, memory is short or the proof fails again.
int32_t scaled_retry(uint64_t n, const double *a, uint64_t lda, int32_t mode, norva_gemm_fn gemm,
                     void *ctx, double *L, double *L2, double *work, double *lower) {
    freer<2> mem;
    double *S = mem.own(alloc<double>(n * n));
    int32_t *E = mem.own(alloc<int32_t>(n));
    if (!S || !E) return 1;
    int32_t emax = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const double d = a[i * lda + i];
        int e = 0;
        if (d > 0.0) std::frexp(d, &e);
        E[i] = d > 0.0 ? half_exponent(e) : 0;
        if (i == 0 || E[i] > emax) emax = E[i];
    }
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const int sh = E[i] + E[j];
            const double x = a[i * lda + j], y = std::ldexp(x, sh);
            const double m = std::fabs(y);
            if (std::ldexp(y, -sh) != x || (y != 0.0 && !(m >= DBL_MIN && m <= dbl_max)))
                return 1;
            S[i * n + j] = y;
        }
    double t;
    spd_auto(n, S, n, mode, gemm, ctx, L, L2, work, &t);
    if (!(t > 0.0)) return 1;
    double r = std::ldexp(t, -2 * emax);
    if (std::ldexp(r, 2 * emax) != t) r = std::nextafter(r, 0.0);  // lost bits below DBL_MIN
    *lower = r;
    return 0;
}

}  // namespace
}  // namespace norva

extern "C" NORVA_API int32_t norva_spd(uint64_t n, const double *a, uint64_t lda, const double *l,
                                       uint64_t ldl, double shift, double *lower, int32_t mode,
                                       norva_gemm_fn gemm, void *ctx) {
    using namespace norva;
    if (n == 0 || lower == nullptr) return -1;
    if ((uint32_t)mode > 1) return -1;
    if (l && !finite_bits(shift)) return -1;
    if (!symmetric_inputs(n, a, lda, l, ldl)) return -1;

    *lower = -std::numeric_limits<double>::infinity();
    fenv_guard env;
    if (too_big(n, n)) return 1;
    freer<3> mem;
    double *L = mem.own(alloc<double>(n * n));
    double *L2 = mem.own(alloc<double>(n * n));
    double *work = mem.own(alloc<double>(2 * n));
    if (!L || !L2 || !work) return 1;

    if (l) {
        for (uint64_t i = 0; i < n; ++i) std::memcpy(L + i * n, l + i * ldl, n * sizeof(double));
        *lower = shifted_bound(shift, bound_e(n, a, lda, L, mode, gemm, ctx, shift));
        return *lower > 0.0 ? 0 : 1;
    }
    spd_auto(n, a, lda, mode, gemm, ctx, L, L2, work, lower);
    if (*lower > 0.0) return 0;
    return scaled_retry(n, a, lda, mode, gemm, ctx, L, L2, work, lower);
}
