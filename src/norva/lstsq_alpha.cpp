// The scaling parameter of the augmented least-squares system.
#include <cmath>
#include <cstdint>

#include "norva/dense.h"
#include "common/finite.h"
#include "norva/lstsq.h"
#include "common/scratch.h"
#include "norva/spd.h"

namespace norva {

double pow2_floor(double s) {
    if (s == 0) return 0x1p-1074;
    int e = 0;
    std::frexp(s, &e);  // s = f 2^e, f in [0.5, 1)
    return std::ldexp(1.0, e - 1);
}

namespace {

// alpha from the Gram matrix of the smaller side, or 0 when it cannot be
// formed, factored or estimated.
double gram_alpha(uint64_t m, uint64_t n, const double *a, uint64_t lda, norva_gemm_fn gemm,
                  void *ctx) {
    const uint64_t k = m < n ? m : n, M = m < n ? n : m;
    if (too_big(M, k) || too_big(k, k)) return 0;
    freer<5> mem;
    double *P1 = mem.own(alloc<double>(M * k));
    double *P2 = mem.own(alloc<double>(M * k));
    double *G = mem.own(alloc<double>(k * k));
    double *Lg = mem.own(alloc<double>(k * k));
    double *work = mem.own(alloc<double>(2 * k));
    if (P1 == nullptr || P2 == nullptr || G == nullptr || Lg == nullptr || work == nullptr)
        return 0;

    // P1 P2 = A^T A (m >= n) or A A^T (m < n): P1 is k x M, P2 is M x k.
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double v = a[i * lda + j];
            if (m >= n) {
                P1[j * m + i] = v;
                P2[i * n + j] = v;
            } else {
                P1[i * n + j] = v;
                P2[j * m + i] = v;
            }
        }
    (gemm != nullptr ? gemm : gemm_plain)(k, k, M, P1, M, P2, k, G, k, ctx);

    // A callback need not give a symmetric result; the factorization reads
    // the lower triangle only, so make both halves the same.
    for (uint64_t i = 0; i < k; ++i)
        for (uint64_t j = 0; j < i; ++j) {
            const double s = (G[i * k + j] + G[j * k + i]) * 0.5;
            G[i * k + j] = s;
            G[j * k + i] = s;
        }
    if (cholesky(k, G, k, Lg, 0.0) != 0) return 0;
    const double lambda = smallest(k, Lg, work, work + k);
    if (!(lambda > 0) || !(lambda <= dbl_max)) return 0;
    const double s = std::sqrt(lambda * 0.5);
    return s > 0 ? pow2_floor(s) : 0;
}

}  // namespace

double lstsq_alpha(uint64_t m, uint64_t n, const double *a, uint64_t lda, norva_gemm_fn gemm,
                   void *ctx) {
    double amax = 0;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) amax = std::fmax(amax, std::fabs(a[i * lda + j]));
    if (!(amax > 0)) return 1.0;
    const double alpha = gram_alpha(m, n, a, lda, gemm, ctx);
    return alpha > 0 ? alpha : pow2_floor(amax * 0x1p-26);
}

}  // namespace norva
