// Internal interface of the rigorous product bounds: guaranteed entrywise
// upper bounds of |A B| and an upper bound of the spectral norm of the
// Cholesky residual A - sigma I - L L^T.  Matrices are row-major and packed
// (leading dimension = number of columns) unless a leading dimension is
// given.  Both routines run in the default floating-point environment that
// their callers have installed and leave it as it is.
//
// Two methods, chosen by mode:
//   0  exact: the product is formed exactly by the Ozaki-scheme product,
//      rounded once to nearest, and widened by one unit;
//   1  fast: fl(X Y) and fl(|X| |Y|) through the product callback plus an a
//      priori rounding-error bound (see fast_constants).  A factor holding
//      a subnormal entry switches to the exact method, because the a priori
//      bound does not cover it.
#ifndef NORVA_RIGOROUS_H
#define NORVA_RIGOROUS_H

#include <cstdint>

#include "norva.h"
#include "common/steps.h"

namespace norva {

// The constants of the fast method for inner dimension k (u = 2^-53):
//   gamma(j) = up(up(j u) / (1 - up(j u))) for j = k and k + 1,
//   F = up(gamma(k+1) / (1 - gamma(k))), G = up((k + k) 2^-1022),
//   H = up((2 (k + 1)) 2^-1022).
// For an entry with computed product c = fl(X Y)_ij and w = fl(|X| |Y|)_ij,
// |c - (X Y)_ij| <= up(F up(G + w)) + H, underflow included.  Returns false
// (constants unusable) when gamma(k) is not in [0, 0.5) (it turns negative
// for k u >= 1).  A sum of fewer than k products is covered as well.
struct fast_consts {
    double F, G, H;
};
bool fast_constants(uint64_t k, fast_consts *c);

// The bound of one entry: up(H + up(a + up(F up(G + w)))), at least
// |(X Y)_ij| (or |t - (X Y)_ij| for an exactly known t) when a is at least
// |c| (or |t - c|) and w = fl(|X| |Y|)_ij.  NaN and infinities propagate.
inline double fast_entry(const fast_consts &c, double a, double w) {
    return up(c.H + up(a + up(c.F * up(c.G + w))));
}

// True when one of the count entries of x is subnormal (nonzero, below 2^-1022
// in magnitude).
bool has_subnormal(const double *x, uint64_t count);

// Q (m x n) >= |A B| entrywise for A m x k and B k x n, all packed.  Returns
// 0, or -1 when no finite bound was obtained (allocation failure, a failed
// exact product, an unusable constant or a bound that is not finite).  gemm
// null selects gemm_plain for the fast method and the Ozaki product's own
// slice product for the exact one.  Runs on the calling thread apart from
// the products.  Any shapes: stacked factors such as [V^T, I] and [V; -I]
// bound the difference V^T V - I.
int prod_abs(uint64_t m, uint64_t n, uint64_t k, const double *A, const double *B, double *Q,
             int32_t mode, norva_gemm_fn gemm, void *ctx);

// prod_abs, and besides (when C is not null) the product itself: C the
// exact product rounded to nearest (the exact method) or fl(A B) (the fast
// one), and E >= |C - A B| entrywise (the distance to the farther
// neighbour of C, or the a priori bound of the entry).  C and E are m x n,
// packed; Q gets the same bits as from prod_abs.  A non-finite E shows as a
// non-finite Q, so 0 means every E is finite too.
int prod_abs_center(uint64_t m, uint64_t n, uint64_t k, const double *A, const double *B,
                    double *Q, double *C, double *E, int32_t mode, norva_gemm_fn gemm,
                    void *ctx);

// g >= ||A - sigma I - L L^T||_2 for a symmetric A (n x n, lda) and a packed
// n x n L (any shape: every entry takes part in L L^T), g >= 0; NaN when no
// bound could be formed (allocation failure, a failed exact product, an
// unusable constant, a row sum that is not finite).  gemm null selects
// gemm_plain.  The result is the largest row sum of a symmetric entrywise
// bound of |A - sigma I - L L^T| (so it also bounds every row and column
// sum of |A - sigma I - L L^T| when A is not symmetric) and does not depend
// on the number of threads.  A lower triangular L (+0 above the diagonal,
// as a Cholesky factor) skips the products that vanish; the exact method
// gives the same bits either way.
double bound_e(uint64_t n, const double *A, uint64_t lda, const double *L, int32_t mode,
               norva_gemm_fn gemm, void *ctx, double sigma);

}  // namespace norva

#endif
