// g >= ||E||_2 for E = A - sigma I - L L^T: an entrywise bound M of |E| (the
// exact residual rounded once and widened, or floating-point products
// widened by the a priori constants), symmetrised, and its largest row sum,
// which bounds the spectral norm of the symmetric E.
//
// A lower triangular L (everything above the diagonal +0, as the Cholesky
// factor has it) saves most of the products: entry (i, j) of L L^T is a sum
// over p <= min(i, j) only.  Column panel J = [j0, j1) of the product needs
// the rows from j0 down and the inner indices below j1; every term left out
// is an exact zero.
//  - Floating point: only the column panels are multiplied; the entries
//    above them are copied from their mirror images (j, i), computed
//    products of the same exact entry of the symmetric L L^T.  The a priori
//    bound with k = n covers a sum of fewer terms.  With the ordered built-in
//    product the bits are even those of the full product: an exact zero
//    added to a sum that started at +0 changes nothing.
//  - Exact: the column panels and, to the right of each diagonal block, the
//    row panels, each the exact value rounded once, hence the bits of the
//    full product; A need not be symmetric for this.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "norva/dense.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "norva/rigorous.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr uint64_t region_threshold = 64;  // n <= 63: one thread
constexpr uint64_t tile = 32;              // square tiles of the transposing passes
constexpr uint64_t fast_panel = 64;        // panel widths for a lower triangular L
constexpr uint64_t exact_panel = 256;

constexpr double nan_result = std::numeric_limits<double>::quiet_NaN();

// The larger of a and b, NaN when either is NaN.
inline double max_nan(double a, double b) { return (a < b || b != b) ? b : a; }

// body(begin, end) on each thread's share of n rows, in one region with the
// default floating-point environment.
template <class Body>
void over_rows(uint64_t n, Body &&body) {
    for_shares(n, n, region_threshold, [&](share s) { body(s.begin, s.end); });
}

// visit(i, j) for the rows [r0, r1) and all n columns, in square tiles, so
// that a pass that also touches entry (j, i) keeps both in cache.
template <class Visit>
void tiled(uint64_t r0, uint64_t r1, uint64_t n, Visit &&visit) {
    for (uint64_t ib = r0; ib < r1; ib += tile) {
        const uint64_t ie = r1 - ib < tile ? r1 : ib + tile;
        for (uint64_t jb = 0; jb < n; jb += tile) {
            const uint64_t je = n - jb < tile ? n : jb + tile;
            for (uint64_t i = ib; i < ie; ++i)
                for (uint64_t j = jb; j < je; ++j) visit(i, j);
        }
    }
}

// Every entry above the diagonal holds +0 (a bit test).
bool lower_triangular(uint64_t n, const double *L) {
    for (uint64_t i = 0; i + 1 < n; ++i) {
        uint64_t bits = 0;
        for (uint64_t j = i + 1; j < n; ++j) bits |= std::bit_cast<uint64_t>(L[i * n + j]);
        if (bits != 0) return false;
    }
    return true;
}

// C = X Y for packed n x n matrices; width 0: the full product; otherwise
// the column panels of width `width`, the entries above them left unset.
void lower_products(uint64_t n, const double *X, const double *Y, double *C, uint64_t width,
                    norva_gemm_fn product, void *ctx) {
    if (width == 0) {
        product(n, n, n, X, n, Y, n, C, n, ctx);
        return;
    }
    for (uint64_t j0 = 0; j0 < n; j0 += width) {
        const uint64_t j1 = n - j0 < width ? n : j0 + width;
        product(n - j0, j1 - j0, j1, X + j0 * n, n, Y + j0, n, C + j0 * n + j0, n, ctx);
    }
}

// P = P + M T correctly rounded, for packed n x n matrices (M = -L, T = L^T);
// width != 0 takes the panels of a lower triangular L.  0, or -1 when the
// Ozaki product fails.
int exact_residual(uint64_t n, const double *M, const double *T, double *P, uint64_t width,
                   norva_gemm_fn product, void *ctx) {
    if (width == 0) return qxgemm_oz(n, n, n, M, n, T, n, P, 1.0, n, 0, product, ctx);
    for (uint64_t j0 = 0; j0 < n; j0 += width) {
        const uint64_t j1 = n - j0 < width ? n : j0 + width;
        if (qxgemm_oz(n - j0, j1 - j0, j1, M + j0 * n, n, T + j0, n, P + j0 * n + j0, 1.0, n, 0,
                      product, ctx) != 0)
            return -1;
        if (j1 < n && qxgemm_oz(j1 - j0, n - j1, j1, M + j0 * n, n, T + j1, n, P + j0 * n + j1,
                                1.0, n, 0, product, ctx) != 0)
            return -1;
    }
    return 0;
}

// The exact method's entry bounds from P = A - L L^T rounded to nearest: up(|P_ij|)
// off the diagonal; on it, the larger magnitude of P_ii - sigma rounded
// outward after one step outward from P_ii.
void exact_entries(uint64_t n, const double *P, double *M, double sigma) {
    over_rows(n, [&](uint64_t begin, uint64_t end) {
        for (uint64_t i = begin; i < end; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                const double p = P[i * n + j];
                if (j != i) {
                    M[i * n + j] = up(std::fabs(p));
                    continue;
                }
                double t[2] = {down(p), -sigma};
                const double lo = qxsum(t, 2, 2);
                t[0] = up(p);
                const double hi = qxsum(t, 2, 1);
                M[i * n + j] = max_nan(std::fabs(lo), std::fabs(hi));
            }
    });
}

// X_ij = X_ji for the rows [r0, r1) of a packed n x n X and every entry
// above the column panels of width `width` (j beyond the panel of i).
void mirror(uint64_t n, double *X, uint64_t width, uint64_t r0, uint64_t r1) {
    for (uint64_t ib = r0; ib < r1; ib += tile) {
        const uint64_t ie = r1 - ib < tile ? r1 : ib + tile;
        for (uint64_t jb = 0; jb < n; jb += tile) {
            const uint64_t je = n - jb < tile ? n : jb + tile;
            for (uint64_t i = ib; i < ie; ++i) {
                const uint64_t next_panel = i - i % width + width;
                for (uint64_t j = next_panel > jb ? next_panel : jb; j < je; ++j)
                    X[i * n + j] = X[j * n + i];
            }
        }
    }
}

// The fast method's entry bounds from P = fl(L L^T) and W = fl(|L| |L^T|);
// with width != 0 the entries above the column panels are first copied
// from their mirror images (which no thread writes).
void fast_entries(uint64_t n, const double *A, uint64_t lda, double *P, double *W, double *M,
                  double sigma, uint64_t width, const fast_consts &c) {
    over_rows(n, [&](uint64_t begin, uint64_t end) {
        if (width != 0) {
            mirror(n, P, width, begin, end);
            mirror(n, W, width, begin, end);
        }
        for (uint64_t i = begin; i < end; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                const double p = P[i * n + j];
                double a;
                if (j != i) {
                    a = up(std::fabs(A[i * lda + j] - p));
                } else {
                    const double t[3] = {A[i * lda + i], -sigma, -p};
                    a = max_nan(std::fabs(qxsum(t, 3, 2)), std::fabs(qxsum(t, 3, 1)));
                }
                M[i * n + j] = fast_entry(c, a, W[i * n + j]);
            }
    });
}

// The largest upward row sum of max(M_ij, M_ji) (written into P), at least
// 0; NaN when a row sum is not finite.
double combine(uint64_t n, const double *M, double *P) {
    double result = 0.0;
    bool failed = false;
    for_shares(n, n, region_threshold, [&](share s) {
        double top = -std::numeric_limits<double>::infinity();
        bool bad = false;
        tiled(s.begin, s.end, n,
              [&](uint64_t i, uint64_t j) { P[i * n + j] = max_nan(M[i * n + j], M[j * n + i]); });
        for (uint64_t i = s.begin; i < s.end; ++i) {
            const double r = qxsum(P + i * n, n, 1);
            if (!finite(r)) bad = true;
            else top = std::fmax(top, r);
        }
#pragma omp critical(norva_bound_e_combine)
        {
            result = std::fmax(result, top);
            failed = failed || bad;
        }
    });
    return failed ? nan_result : result;
}

}  // namespace

double bound_e(uint64_t n, const double *A, uint64_t lda, const double *L, int32_t mode,
               norva_gemm_fn gemm, void *ctx, double sigma) {
    if (too_big(n, n)) return nan_result;
    const uint64_t count = n * n;
    freer<4> scope;
    double *T = scope.own(alloc<double>(count));
    double *P = scope.own(alloc<double>(count));
    double *M = scope.own(alloc<double>(count));
    if (T == nullptr || P == nullptr || M == nullptr) return nan_result;
    const norva_gemm_fn product = gemm != nullptr ? gemm : gemm_plain;
    const bool fast = mode == 1 && !has_subnormal(L, count);
    const uint64_t width = lower_triangular(n, L) ? (fast ? fast_panel : exact_panel) : 0;

    // T = L^T; the exact method also wants P = A and M = -L.
    over_rows(n, [&](uint64_t begin, uint64_t end) {
        tiled(begin, end, n, [&](uint64_t i, uint64_t j) { T[i * n + j] = L[j * n + i]; });
        if (fast) return;
        for (uint64_t i = begin; i < end; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                P[i * n + j] = A[i * lda + j];
                M[i * n + j] = -L[i * n + j];
            }
    });

    if (fast) {
        double *W = scope.own(alloc<double>(count));
        if (W == nullptr) return nan_result;
        lower_products(n, L, T, P, width, product, ctx);  // P = fl(L L^T)
        over_rows(n, [&](uint64_t begin, uint64_t end) {
            for (uint64_t e = begin * n; e < end * n; ++e) {
                M[e] = std::fabs(L[e]);
                T[e] = std::fabs(T[e]);
            }
        });
        lower_products(n, M, T, W, width, product, ctx);  // W = fl(|L| |L^T|)
        fast_consts c;
        if (!fast_constants(n, &c)) return nan_result;
        fast_entries(n, A, lda, P, W, M, sigma, width, c);
    } else {
        if (exact_residual(n, M, T, P, width, product, ctx) != 0) return nan_result;
        exact_entries(n, P, M, sigma);
    }
    return combine(n, M, P);
}

}  // namespace norva
