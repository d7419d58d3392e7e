// W >= |I - R A| entrywise, by one of two methods:
//  - floating point (mode 1): fl(R A) and fl(|R| |A|) through the matrix
//    product, widened by a priori constants of a sum of n products;
//  - exact (mode 0, and mode 1 when R or A has a subnormal entry):
//    I - R A correctly rounded by the Ozaki product, one step up.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "norva/dense.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "norva/rigorous.h"
#include "common/scratch.h"
#include "norva/solve.h"
#include "common/steps.h"
#include "common/verdict.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr uint64_t region_threshold = 64;

// True when a non-zero entry of the rows x cols matrix is below realmin in
// magnitude (a subnormal).
bool any_subnormal(const double *m, uint64_t rows, uint64_t cols, uint64_t ld) {
    for (uint64_t i = 0; i < rows; ++i)
        if (has_subnormal(m + i * ld, cols)) return true;
    return false;
}

int32_t bound_exact(uint64_t n, const double *a, uint64_t lda, double *R, double *W,
                    norva_gemm_fn gemm, void *ctx) {
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            W[i * n + j] = i == j ? 1.0 : 0.0;
            R[i * n + j] = -R[i * n + j];
        }
    // W = I + (-R) A, rounded to nearest (the same bits through the
    // module's own product, which takes short products without slices).
    const int status =
        qxgemm_oz(n, n, n, R, n, a, lda, W, 1.0, n, 0, gemm == gemm_plain ? nullptr : gemm, ctx);
    // Undo the sign flip (whether or not the product succeeded), W = up(|W|).
    const uint64_t count = n * n;
    for_shares(count, n, region_threshold, [&](share s) {
        for (uint64_t e = s.begin; e < s.end; ++e) {
            R[e] = -R[e];
            W[e] = up(std::fabs(W[e]));
        }
    });
    return status == 0 ? 1 : -1;
}

}  // namespace

int32_t bound_c(uint64_t n, const double *a, uint64_t lda, double *R, double *W, int32_t mode,
                norva_gemm_fn gemm, void *ctx) {
    if (mode != 1 || has_subnormal(R, n * n) || any_subnormal(a, n, n, lda))
        return bound_exact(n, a, lda, R, W, gemm, ctx);

    freer<3> scope;
    double *absR = scope.own(alloc<double>(n * n));
    double *absA = scope.own(alloc<double>(n * n));
    double *M = scope.own(alloc<double>(n * n));
    if (absR == nullptr || absA == nullptr || M == nullptr) return -1;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            absR[i * n + j] = std::fabs(R[i * n + j]);
            absA[i * n + j] = std::fabs(a[i * lda + j]);
        }
    norva_gemm_fn product = gemm != nullptr ? gemm : gemm_plain;
    product(n, n, n, R, n, a, lda, W, n, ctx);     // W = fl(R A)
    product(n, n, n, absR, n, absA, n, M, n, ctx);  // M = fl(|R| |A|)

    fast_consts c;
    if (!fast_constants(n, &c)) return -1;

    // Region `classical`: W_ij = up(H + up(t + up(F up(G + m)))) with
    // t = |o| off the diagonal and up(|1 - o|) on it.
    uint32_t failed = 0;
    for_shares(n, n, region_threshold, [&](share s) {
        bool bad = false;
        for (uint64_t i = s.begin; i < s.end; ++i)
            for (uint64_t j = 0; j < n; ++j) {
                const double o = W[i * n + j], m = M[i * n + j];
                if (!finite(std::fabs(o)) || !finite(std::fabs(m))) bad = true;
                const double t = i == j ? up(std::fabs(1.0 - o)) : std::fabs(o);
                W[i * n + j] = fast_entry(c, t, m);
            }
        if (bad) verdict_set(&failed, 1u);
    });
    return failed ? -1 : 0;
}

}  // namespace norva
