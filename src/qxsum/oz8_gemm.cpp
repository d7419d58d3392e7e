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
    int *rowlo = scope.own(norva::alloc_zero<int>(m));
    int *rowflag = scope.own(norva::alloc_zero<int>(m));
    int *collo = scope.own(norva::alloc_zero<int>(n));
    int *colflag = scope.own(norva::alloc_zero<int>(n));
    if (!rowlo || !rowflag || !collo || !colflag) return fallback();
    int P, Q;
    if (oz_scales(m, n, k, A, lda, B, ldb, rowlo, rowflag, collo, colflag, &P, &Q))
        return fallback();
    const int sA = (P + v8 - 1) / v8, sB = (Q + v8 - 1) / v8;
    if (sA == 0 || sB == 0 || sA * sB > max_products) return fallback();
    const int W = sA + sB - 1;

    uint64_t mk, nk, mn, na, nb, nl;
    if (!mul_ok(m, k, &mk) || !mul_ok(n, k, &nk) || !mul_ok(m, n, &mn) ||
        !mul_ok(mk, (uint64_t)sA, &na) || !mul_ok(nk, (uint64_t)sB, &nb) ||
        !mul_ok(mn, (uint64_t)W, &nl) || norva::too_big(na, 1) || norva::too_big(nb, 1) ||
        norva::too_big(nl, 1))
        return fallback();
    int8_t *sa = scope.own(norva::alloc<int8_t>(na));
    int8_t *sb = scope.own(norva::alloc<int8_t>(nb));
    int32_t *scratch = scope.own(norva::alloc<int32_t>(mn));
    int64_t *level = scope.own(norva::alloc_zero<int64_t>(nl));
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
            digits(bits(B[l * ldb + j]), collo[j], v8, sB, sb + j * k + l, nk, markB);

    for (int s = 0; s < sA; ++s) {
        if (!markA[s]) continue;
        for (int t = 0; t < sB; ++t) {
            if (!markB[t]) continue;
            int64_t *lv = level + (uint64_t)(s + t) * mn;
            for (uint64_t k0 = 0; k0 < k; k0 += chunk) {
                const uint64_t kc = k - k0 < chunk ? k - k0 : chunk;
                kernel(m, n, kc, sa + (uint64_t)s * mk + k0, k, sb + (uint64_t)t * nk + k0, k,
                       scratch, n, ctx);
                add_level(lv, scratch, mn);
            }
        }
    }

    oz_finish(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd, v8, W, level, rowlo, collo, rowflag,
              colflag);
    return 0;
}
