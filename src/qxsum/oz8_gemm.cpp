// Ozaki-scheme product on int8 slices: the rows of A and columns of B are
// scaled as for qxgemm_oz and cut into 7-bit signed digits (int8, B stored
// transposed), pairs of slices are multiplied by an int8 kernel summing in
// 32-bit integers over at most 32768 terms (|sum| <= 32768 * 127^2 < 2^31),
// the chunk sums are added per level in 64 bits, and oz_finish rounds each
// entry once.  Whatever the scheme cannot take goes to qxgemm, so the results
// are those of qxgemm bit for bit.
#include "common/scratch.h"
#include "qxsum/qxsum_internal.h"

namespace {

constexpr int v8 = 7;                 // digit width
constexpr int max_products = 400;     // slice pairs
constexpr uint64_t chunk = 32768;     // k per kernel call

// lv += s, widened to 64 bits.
void add_level(int64_t *lv, const int32_t *s, uint64_t count) {
#pragma omp simd
    for (uint64_t q = 0; q < count; ++q) lv[q] += s[q];
}

}  // namespace

using namespace qx;

extern "C" int qxgemm_oz8(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                          const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                          uint32_t rnd, qxsum_i8_fn kernel, void *ctx) {
    if (rnd > 3) return -1;
    if (!kernel) kernel = i8_internal;
    const auto fallback = [&] { return qxgemm(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd); };
    if (m == 0 || n == 0 || k == 0) return fallback();

    norva::freer<10> scope;
    oz_scale sc;
    if (!oz_scale_all(scope, m, n, k, A, lda, B, ldb, &sc)) return fallback();
    const int *rowlo = sc.rowlo, *collo = sc.collo, P = sc.P, Q = sc.Q;
    const int sA = (P + v8 - 1) / v8, sB = (Q + v8 - 1) / v8;
    if (sA == 0 || sB == 0 || sA * sB > max_products) return fallback();
    const int W = sA + sB - 1;

    oz_sizes z;
    if (!oz_size(m, n, k, sA, sB, W, &z)) return fallback();
    const uint64_t mk = z.mk, kn = z.kn, mn = z.mn;
    int8_t *sa = scope.own(norva::alloc<int8_t>(z.na));
    int8_t *sb = scope.own(norva::alloc<int8_t>(z.nb));
    int32_t *scratch = scope.own(norva::alloc<int32_t>(mn));
    int64_t *level = scope.own(norva::alloc_zero<int64_t>(z.nl));
    int *markA = scope.own(norva::alloc_zero<int>((uint64_t)sA));
    int *markB = scope.own(norva::alloc_zero<int>((uint64_t)sB));
    if (!sa || !sb || !scratch || !level || !markA || !markB) return fallback();

    // Slice s of A: m x k, row length k; slice t of B transposed: n x k, so
    // that column j of B is read once and written contiguously.
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t l = 0; l < k; ++l)
            digits(bits(A[i * lda + l]), rowlo[i], v8, sA, sa + i * k + l, mk, markA);
    for (uint64_t j = 0; j < n; ++j)
        for (uint64_t l = 0; l < k; ++l)
            digits(bits(B[l * ldb + j]), collo[j], v8, sB, sb + j * k + l, kn, markB);

    for (int s = 0; s < sA; ++s) {
        if (!markA[s]) continue;
        for (int t = 0; t < sB; ++t) {
            if (!markB[t]) continue;
            int64_t *lv = level + (uint64_t)(s + t) * mn;
            for (uint64_t k0 = 0; k0 < k; k0 += chunk) {
                const uint64_t kc = k - k0 < chunk ? k - k0 : chunk;
                kernel(m, n, kc, sa + (uint64_t)s * mk + k0, k, sb + (uint64_t)t * kn + k0, k,
                       scratch, n, ctx);
                add_level(lv, scratch, mn);
            }
        }
    }

    oz_finish(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd, v8, W, level, rowlo, collo,
              sc.rowflag, sc.colflag);
    return 0;
}
