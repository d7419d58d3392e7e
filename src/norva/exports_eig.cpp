// The symmetric eigenvalue export: checks, approximate eigenpairs (the
// caller's or the Jacobi method's), and the enclosures: first for all
// eigenvalues at once from norms (below), then eigenvalue by eigenvalue
// where they are proven simple (eig_refine.cpp).
//
// With V^T V = I + F, ||F||_2 <= M < 1 and R = A V - V D:
//   V^T A V - D = F D + V^T R   (symmetric),
// so by Weyl the sorted eigenvalues mu_i of V^T A V lie within
// e >= ||F|| ||D|| + ||V|| ||R|| of the sorted d_i, with ||V||_2 <= sqrt(1 + M)
// and ||R||_2 <= sqrt(||R||_1 ||R||_inf).  By Ostrowski mu_i = theta_i lambda_i
// with theta_i in [1 - M, 1 + M], which turns [d_i - e, d_i + e] into an
// enclosure of lambda_i.  No gap between eigenvalues is needed: multiple
// and clustered eigenvalues are enclosed like the others.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "norva.h"
#include "norva/eig.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "norva/rigorous.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// The norms of the two entrywise bounds: *M >= ||V^T V - I||_2 from P1, *J
// and *K the largest row and column sums of P2, every sum rounded upward,
// maxima from 0 ignoring NaN.  t is scratch of n doubles.
void norms(uint64_t n, const double *P1, const double *P2, double *t, double *M, double *J,
           double *K) {
    *M = *J = *K = 0;
    for (uint64_t c = 0; c < n; ++c) {
        // V^T V - I is symmetric: both P1(c, j) and P1(j, c) bound its entry.
        for (uint64_t j = 0; j < n; ++j) t[j] = std::fmin(P1[c * n + j], P1[j * n + c]);
        *M = std::fmax(*M, qxsum(t, n, 1));
        *J = std::fmax(*J, qxsum(P2 + c * n, n, 1));
        for (uint64_t i = 0; i < n; ++i) t[i] = P2[i * n + c];
        *K = std::fmax(*K, qxsum(t, n, 1));
    }
}

// e >= sqrt(1 + M) ||R||_2 + M max|d|, or +inf.  h = up(sqrt(up(J K))) bounds
// ||R||_2; where J K overflows, or falls below 2^-968 so that its rounding
// (subnormal, or the step up to 2^-1074) is no longer relatively small,
// the same bound is formed as up(sqrt J) up(sqrt K), which scales with A.
double radius(double M, double J, double K, double L) {
    const double jk = up(J * K);
    const bool plain = finite(jk) && (jk >= 0x1p-968 || J == 0.0 || K == 0.0);
    const double h = plain ? up(std::sqrt(jk)) : up(up(std::sqrt(J)) * up(std::sqrt(K)));
    const double g = up(std::sqrt(up(1.0 + M)));
    const double f = up(M * L);
    return up(up(g * h) + f);
}

// Insertion sort, ascending; an element moves left only past strictly larger ones.
void sort_ascending(uint64_t n, double *d) {
    for (uint64_t i = 1; i < n; ++i) {
        const double x = d[i];
        uint64_t k = i;
        for (; k > 0 && x < d[k - 1]; --k) d[k] = d[k - 1];
        d[k] = x;
    }
}

// The enclosures from the approximate eigenpairs V (packed), d: 0, or 1
// when no finite enclosure was obtained (lo, hi untouched then).  S1, S2
// are n x 2n and 2n x n scratch, P1, P2 n x n.
int32_t enclose(uint64_t n, const double *a, uint64_t lda, const double *V, double *d, double *S1,
                double *S2, double *P1, double *P2, double *lo, double *hi, int32_t mode,
                norva_gemm_fn gemm, void *ctx, bool refine) {
    // The second stage's scratch; without it the first stage's enclosures
    // stand as they are.
    freer<4> extra;
    double *C = refine ? extra.own(alloc<double>(n * n)) : nullptr;
    double *E = refine ? extra.own(alloc<double>(n * n)) : nullptr;
    double *d0 = refine ? extra.own(alloc<double>(5 * n)) : nullptr;  // unsorted d, 4n scratch
    uint64_t *order = refine ? extra.own(alloc<uint64_t>(n)) : nullptr;
    const bool second = C != nullptr && E != nullptr && d0 != nullptr && order != nullptr;
    const uint64_t w = 2 * n;
    // P1 >= |[V^T | I] [V; -I]| = |V^T V - I|.
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            S1[i * w + j] = V[j * n + i];
            S1[i * w + n + j] = i == j ? 1.0 : 0.0;
            S2[(n + i) * n + j] = i == j ? -1.0 : -0.0;
        }
    std::memcpy(S2, V, n * n * sizeof(double));
    if (prod_abs(n, n, w, S1, S2, P1, mode, gemm, ctx) != 0) return 1;
    // P2 >= |[A | -V] [V; D]| = |A V - V D|.
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            S1[i * w + j] = a[i * lda + j];
            S1[i * w + n + j] = -V[i * n + j];
            S2[(n + i) * n + j] = i == j ? d[i] : 0.0;
        }
    if (prod_abs_center(n, n, w, S1, S2, P2, second ? C : nullptr, second ? E : nullptr, mode,
                        gemm, ctx) != 0)
        return 1;

    double M, J, K, L = 0;
    norms(n, P1, P2, S1, &M, &J, &K);
    for (uint64_t i = 0; i < n; ++i) L = std::fmax(L, std::fabs(d[i]));
    if (!(M < 1.0) || !finite(J) || !finite(K)) return 1;
    const double e = radius(M, J, K, L);
    if (!finite(e)) return 1;

    if (second) std::memcpy(d0, d, n * sizeof(double));
    sort_ascending(n, d);
    const double q_hi = up(1.0 + M), q_lo = std::nextafter(1.0 - M, 0.0);
    // Written to scratch first: an end beyond the doubles (an eigenvalue
    // that may exceed DBL_MAX) is no enclosure, and then nothing is proven.
    double *out_lo = S1, *out_hi = S1 + n;
    for (uint64_t i = 0; i < n; ++i) {
        double t[2] = {d[i], -e};
        const double l = qxsum(t, 2, 2);
        t[1] = e;
        const double u = qxsum(t, 2, 1);
        out_lo[i] = down(l / (l >= 0 ? q_hi : q_lo));
        out_hi[i] = up(u / (u >= 0 ? q_lo : q_hi));
        if (!finite(out_lo[i]) || !finite(out_hi[i])) return 1;
    }
    if (second) eig_refine(n, V, d0, C, E, out_lo, out_hi, d0 + n, order);
    std::memcpy(lo, out_lo, n * sizeof(double));
    std::memcpy(hi, out_hi, n * sizeof(double));
    return 0;
}

}  // namespace

int32_t eig_sym(uint64_t n, const double *a, uint64_t lda, const double *v, uint64_t ldv,
                const double *d, double *lo, double *hi, int32_t mode, norva_gemm_fn gemm,
                void *ctx, bool refine) {
    for (uint64_t i = 0; i < n; ++i) {
        lo[i] = -inf;
        hi[i] = inf;
    }
    fenv_guard env;
    if (too_big(n, 2 * n)) return 1;
    freer<6> mem;
    double *V = mem.own(alloc<double>(n * n));
    double *dd = mem.own(alloc<double>(n));
    double *S1 = mem.own(alloc<double>(2 * n * n));
    double *S2 = mem.own(alloc<double>(2 * n * n));
    double *P1 = mem.own(alloc<double>(n * n));
    double *P2 = mem.own(alloc<double>(n * n));
    if (!V || !dd || !S1 || !S2 || !P1 || !P2) return 1;
    if (v) {
        for (uint64_t i = 0; i < n; ++i) std::memcpy(V + i * n, v + i * ldv, n * sizeof(double));
        std::memcpy(dd, d, n * sizeof(double));
    } else if (jacobi(n, a, lda, V, dd) != 0) {
        return 1;
    }
    return enclose(n, a, lda, V, dd, S1, S2, P1, P2, lo, hi, mode, gemm, ctx, refine);
}

}  // namespace norva

extern "C" NORVA_API int32_t norva_eig_sym(uint64_t n, const double *a, uint64_t lda,
                                           const double *v, uint64_t ldv, const double *d,
                                           double *lo, double *hi, int32_t mode,
                                           norva_gemm_fn gemm, void *ctx) {
    using namespace norva;
    if (n == 0 || (uint32_t)mode > 1) return -1;
    if ((v == nullptr) != (d == nullptr)) return -1;
    if (!symmetric_inputs(n, a, lda, v, ldv)) return -1;
    if (d)
        for (uint64_t i = 0; i < n; ++i)
            if (!finite_bits(d[i])) return -1;
    return eig_sym(n, a, lda, v, ldv, d, lo, hi, mode, gemm, ctx, true);
}
