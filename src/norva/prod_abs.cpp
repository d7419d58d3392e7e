// Q >= |A B| entrywise: either the exact product rounded to nearest and
// widened by one unit, or fl(A B) and fl(|A| |B|) widened by the a priori
// constants.  Both end with a finiteness check of every bound.
#include <cmath>
#include <cstdint>

#include "norva/dense.h"
#include "common/finite.h"
#include "norva/rigorous.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

// Q = bound(|Q|) entry by entry in index order; -1 at the first bound that
// is not finite (the entries before it stay overwritten).
template <class Bound>
int widen(uint64_t count, double *Q, Bound &&bound) {
    for (uint64_t e = 0; e < count; ++e) {
        const double q = bound(std::fabs(Q[e]), e);
        Q[e] = q;
        if (!finite(q)) return -1;
    }
    return 0;
}

}  // namespace

int prod_abs(uint64_t m, uint64_t n, uint64_t k, const double *A, const double *B, double *Q,
             int32_t mode, norva_gemm_fn gemm, void *ctx) {
    return prod_abs_center(m, n, k, A, B, Q, nullptr, nullptr, mode, gemm, ctx);
}

int prod_abs_center(uint64_t m, uint64_t n, uint64_t k, const double *A, const double *B,
                    double *Q, double *C, double *E, int32_t mode, norva_gemm_fn gemm,
                    void *ctx) {
    if (too_big(m, k) || too_big(k, n) || too_big(m, n)) return -1;
    const uint64_t count = m * n;

    if (mode == 0 || has_subnormal(A, m * k) || has_subnormal(B, k * n)) {
        // The callback goes to the Ozaki product as given: null selects its
        // own slice product.
        if (qxgemm_oz(m, n, k, A, k, B, n, Q, 0.0, n, 0, gemm, ctx) != 0) return -1;
        if (C != nullptr)
            for (uint64_t e = 0; e < count; ++e) {
                // Rounded to nearest: the exact entry lies between the neighbours.
                const double q = Q[e];
                C[e] = q;
                E[e] = std::fmax(up(q) - q, q - down(q));
            }
        return widen(count, Q, [](double q, uint64_t) { return up(q); });
    }

    freer<3> scope;
    double *absA = scope.own(alloc<double>(m * k));
    double *absB = scope.own(alloc<double>(k * n));
    double *W = scope.own(alloc<double>(count));
    if (absA == nullptr || absB == nullptr || W == nullptr) return -1;
    const norva_gemm_fn product = gemm != nullptr ? gemm : gemm_plain;
    product(m, n, k, A, k, B, n, Q, n, ctx);  // Q = fl(A B)
    for (uint64_t e = 0; e < m * k; ++e) absA[e] = std::fabs(A[e]);
    for (uint64_t e = 0; e < k * n; ++e) absB[e] = std::fabs(B[e]);
    product(m, n, k, absA, k, absB, n, W, n, ctx);  // W = fl(|A| |B|)
    fast_consts c;
    if (!fast_constants(k, &c)) return -1;
    if (C != nullptr)
        for (uint64_t e = 0; e < count; ++e) {
            C[e] = Q[e];
            E[e] = fast_entry(c, 0.0, W[e]);  // t = c exactly: a = |t - c| = 0
        }
    return widen(count, Q, [&](double q, uint64_t e) { return fast_entry(c, q, W[e]); });
}

}  // namespace norva
