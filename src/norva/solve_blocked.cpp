// Mode 1 without radii, when W is the floating-point bound: every right-hand
// side at once, as n x nrhs matrices, with almost all work in products
// through the callback.  Only the residuals are exact; the rounding errors of
// the products are covered by a priori constants.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "common/finite.h"
#include "common/scratch.h"
#include "norva/solve.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {

int32_t solve_blocked(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                      uint64_t ldb, double *x_lo, double *x_hi, uint64_t ldx, const double *R,
                      const double *W, norva_gemm_fn gemm, void *ctx) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const uint64_t N = n * nrhs;
    if (nrhs != 0 && n > UINT64_MAX / 8 / sizeof(double) / nrhs) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }

    freer<6> mem;
    double *block = mem.own(alloc<double>(8 * N));
    if (block == nullptr) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    double *X = block, *Res = block + N, *T = block + 2 * N, *P = block + 3 * N;
    double *S = block + 4 * N, *Y = block + 5 * N, *V = block + 6 * N, *E = block + 7 * N;
    double *negA = mem.own(alloc<double>(n * n));
    double *absR = mem.own(alloc<double>(n * n));
    double *scratch = mem.own(alloc<double>(2 * n));
    uint32_t *done = mem.own(alloc_zero<uint32_t>(nrhs));
    uint32_t *bad = mem.own(alloc_zero<uint32_t>(nrhs));
    if (negA == nullptr || absR == nullptr || scratch == nullptr || done == nullptr ||
        bad == nullptr) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }

    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            negA[i * n + j] = -a[i * lda + j];
            absR[i * n + j] = std::fabs(R[i * n + j]);
        }
    const double g = gamma_n(n);
    if (!(g < 0.5)) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    const double kappa = up(1.0 / (1.0 - g));
    const double eta1 = up(2.0 * ((double)n + 1.0) * realmin);
    const double eta2 = up(eta1 + eta1);
    double *t = scratch, *q = scratch + n;

    // X = R B, corrected twice with exact residuals.
    for (uint64_t i = 0; i < n; ++i) std::memcpy(Res + i * nrhs, b + i * ldb, nrhs * sizeof(double));
    for (uint64_t e = 0; e < N; ++e) X[e] = 0.0;
    for (int it = 0; it < 3; ++it) {
        gemm(n, nrhs, n, R, n, Res, nrhs, T, nrhs, ctx);
        for (uint64_t e = 0; e < N; ++e) X[e] = X[e] + T[e];
        if (it == 2) break;
        if (residuals(n, nrhs, negA, X, b, ldb, Res, t, q, gemm, ctx) != 0) {
            fail_all(n, nrhs, x_lo, x_hi, ldx);
            return 1;
        }
    }

    // A column with a non-finite entry is abandoned; zeros in its place keep
    // the residuals of the other columns clean.
    for (uint64_t e = 0; e < N; ++e)
        if (!finite(X[e])) bad[e % nrhs] = 1;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t k = 0; k < nrhs; ++k)
            if (bad[k]) X[i * nrhs + k] = 0.0;

    if (residuals(n, nrhs, negA, X, b, ldb, Res, t, q, gemm, ctx) != 0) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    gemm(n, nrhs, n, R, n, Res, nrhs, P, nrhs, ctx);

    // E bounds the rounding error of the residual plus what the product
    // R Res may lose relative to |Res|; then S >= |R| E with the error of
    // that product and the underflow of both.
    for (uint64_t e = 0; e < N; ++e) {
        const double d = std::fabs(Res[e]);
        double r = up((up(d) - d) + up(g * d));
        if (d != 0 && d < realmin) r = up(d + r);
        E[e] = r > realmin ? r : realmin;
    }
    gemm(n, nrhs, n, absR, n, E, nrhs, S, nrhs, ctx);

    // Z >= |R (b - A X)|, kept in T; Y starts from it.
    double *Z = T;
    for (uint64_t e = 0; e < N; ++e) {
        if (!finite(P[e]) || !finite(S[e])) bad[e % nrhs] = 1;
        S[e] = up(eta2 + up(kappa * S[e]));
        Z[e] = up(std::fabs(P[e]) + S[e]);
        Y[e] = Z[e];
    }

    constexpr double tiny = 0x1p-1000;
    for (int sweep = 0; sweep < 12; ++sweep) {
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < nrhs; ++k)
                if (!done[k]) Y[i * nrhs + k] = Y[i * nrhs + k] * 1.0625 + tiny;
        gemm(n, nrhs, n, W, n, Y, nrhs, V, nrhs, ctx);
        bool failing = false;
        for (uint64_t k = 0; k < nrhs; ++k) {
            if (done[k] || bad[k]) continue;
            bool pass = true;
            for (uint64_t i = 0; i < n; ++i) {
                const uint64_t e = i * nrhs + k;
                const double w = up(eta1 + up(kappa * V[e]));
                const double tt = up(w + Z[e]);
                E[e] = w;
                if (!(tt < Y[e])) {
                    pass = false;
                    if (finite(tt) && tt > Y[e]) Y[e] = tt;
                }
            }
            if (pass) done[k] = 1;
            else failing = true;
        }
        if (!failing) break;
    }

    int32_t status = 0;
    for (uint64_t k = 0; k < nrhs; ++k) {
        if (!done[k]) {
            for (uint64_t i = 0; i < n; ++i) {
                x_lo[i * ldx + k] = -inf;
                x_hi[i * ldx + k] = inf;
            }
            status = 1;
            continue;
        }
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t e = i * nrhs + k;
            const double lo[4] = {X[e], P[e], -S[e], -E[e]};
            const double hi[4] = {X[e], P[e], S[e], E[e]};
            x_lo[i * ldx + k] = qxsum(lo, 4, 2);
            x_hi[i * ldx + k] = qxsum(hi, 4, 1);
            done[k] = done[k] && finite(x_lo[i * ldx + k]) && finite(x_hi[i * ldx + k]);
        }
        if (!done[k]) {  // an end overflowed: the column bounds nothing
            for (uint64_t i = 0; i < n; ++i) {
                x_lo[i * ldx + k] = -inf;
                x_hi[i * ldx + k] = inf;
            }
            status = 1;
        }
    }
    return status;
}

}  // namespace norva
