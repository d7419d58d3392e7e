// Ozaki-scheme matrix product: every row of A and column of B is scaled by a
// power of two and cut into v-bit integer slices, so that every product of
// two slice matrices is exact in binary64 whatever the summation order; the
// slice products are summed per level as 64-bit integers and each entry is
// rounded once at the end.  Anything the scheme cannot take (special values,
// too wide exponent ranges, too long inner dimensions, missing memory) goes
// to qxgemm, so the results are those of qxgemm bit for bit.
#include <cmath>
#include <cstring>

#include "common/fenv_guard.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "common/small_sum.h"
#include "qxsum/dgemm_kernel.h"
#include "qxsum/qxsum_internal.h"

namespace qx {

namespace {

// Lowest and highest set-bit exponents of a finite nonzero double.
inline void bit_range(uint64_t u, int *lo, int *hi) {
    const sig s = split(u);
    *lo = s.e + std::countr_zero(s.m);
    *hi = s.e + 63 - std::countl_zero(s.m);
}

inline bool special(uint64_t u) { return ((u >> 52) & 0x7ff) == 0x7ff; }

}  // namespace

int scale_of(const double *x, uint64_t stride, uint64_t count, int *lo, int *hi, int *flag) {
    *flag = 0;
    for (uint64_t l = 0; l < count; ++l) {
        const uint64_t u = bits(x[l * stride]);
        if ((u << 1) == 0) continue;
        if (special(u)) return 1;
        int a, b;
        bit_range(u, &a, &b);
        if (!*flag) {
            *lo = a;
            *hi = b;
            *flag = 1;
        } else {
            *lo = a < *lo ? a : *lo;
            *hi = b > *hi ? b : *hi;
        }
    }
    return 0;
}

int oz_scales(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
              uint64_t ldb, int *rowlo, int *rowflag, int *collo, int *colflag, int *P, int *Q) {
    *P = 0;
    *Q = 0;
    for (uint64_t i = 0; i < m; ++i) {
        int hi = 0;
        if (scale_of(A + i * lda, 1, k, &rowlo[i], &hi, &rowflag[i])) return 1;
        if (rowflag[i] && hi - rowlo[i] + 1 > *P) *P = hi - rowlo[i] + 1;
    }
    for (uint64_t j = 0; j < n; ++j) {
        int hi = 0;
        if (scale_of(B + j, ldb, k, &collo[j], &hi, &colflag[j])) return 1;
        if (colflag[j] && hi - collo[j] + 1 > *Q) *Q = hi - collo[j] + 1;
    }
    return 0;
}

// Every partial sum of a product of slices is an exact integer, so any order
// gives the same result: the ordered blocked kernel serves.
void gemm_internal(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                   const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    gemm_ordered(m, n, k, A, lda, B, ldb, C, ldc);
}

}  // namespace qx

using namespace qx;

namespace {

// Inner dimensions this short, with the module's own product, skip the
// slices: each entry is a small expansion of its k products and beta C,
// rounded once, or, when the expansion cannot decide it, the long
// accumulator's sum of the same terms.  Both give the correctly rounded
// exact value, so the bits are those of the slices (and of qxgemm).  A
// caller's product always gets its calls; the expansion runs only under a
// guard of the library (it computes in floating point).
constexpr uint64_t short_inner = 16;

// Slicing, level sums and finish run on a team from this many elements.
constexpr uint64_t parallel_elements = 1ULL << 16;

void short_product(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                   const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                   uint32_t rnd) {
    double col[short_inner + 1], row[short_inner + 1];
    qxsum_acc acc;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            double *c = C + i * ldc + j;
            norva::small_sum s;
            norva::small_init(s);
            for (uint64_t l = 0; l < k; ++l) norva::small_add_product(s, A[i * lda + l], B[l * ldb + j]);
            if (beta != 0) norva::small_add_product(s, beta, *c);
            double r;
            if (norva::small_round_mode(s, rnd, &r)) {
                *c = r;
                continue;
            }
            uint64_t t = 0;
            for (uint64_t l = 0; l < k; ++l, ++t) {
                row[t] = A[i * lda + l];
                col[t] = B[l * ldb + j];
            }
            if (beta != 0) {
                row[t] = beta;
                col[t++] = *c;
            }
            qxsum_init(&acc);
            qxsum_add_dot(&acc, row, col, t);
            *c = qxsum_round(&acc, rnd);
        }
}

// The slices of the rows x cols matrix X (ldx), entry (r, c) scaled by
// scale(r, c), into out (slice q at out + q stride, packed), shared out over
// rows; the slices that hold a nonzero digit are marked in used.
template <class Scale>
void slice_rows(uint64_t rows, uint64_t cols, const double *X, uint64_t ldx, Scale &&scale, int v,
                int ns, double *out, uint64_t stride, int *used) {
    norva::for_shares(rows, rows * cols, parallel_elements, [&](norva::share r) {
        int mark[64] = {};
        for (uint64_t i = r.begin; i < r.end; ++i)
            for (uint64_t c = 0; c < cols; ++c)
                digits(bits(X[i * ldx + c]), scale(i, c), v, ns, out + i * cols + c, stride, mark);
        for (int q = 0; q < ns; ++q)
            if (mark[q]) __atomic_store_n(&used[q], 1, __ATOMIC_RELAXED);
    });
}

}  // namespace

extern "C" int qxgemm_oz(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                         const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                         uint32_t rnd, norva_gemm_fn gemm, void *ctx) {
    if (rnd > 3) return -1;
    if ((!gemm || gemm == gemm_internal) && k <= short_inner && norva::under_guard()) {
        short_product(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd);
        return 0;
    }
    if (!gemm) gemm = gemm_internal;
    const auto fallback = [&] { return qxgemm(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd); };

    int L = 0;
    while (L < 63 && (1ULL << L) < k) ++L;
    if (L >= 63 || m == 0 || n == 0 || k == 0 || 53 - L < 2) return fallback();
    const int v = (53 - L) / 2;

    norva::freer<10> scope;
    oz_scale sc;
    if (!oz_scale_all(scope, m, n, k, A, lda, B, ldb, &sc)) return fallback();
    const int *rowlo = sc.rowlo, *collo = sc.collo, P = sc.P, Q = sc.Q;
    const int sA = (P + v - 1) / v, sB = (Q + v - 1) / v;
    if (sA == 0 || sB == 0 || sA * sB > 64) return fallback();
    const int W = sA + sB - 1;

    oz_sizes z;
    if (!oz_size(m, n, k, sA, sB, W, &z)) return fallback();
    const uint64_t mk = z.mk, kn = z.kn, mn = z.mn;
    double *sa = scope.own(norva::alloc<double>(z.na));
    double *sb = scope.own(norva::alloc<double>(z.nb));
    double *scratch = scope.own(norva::alloc<double>(mn));
    int64_t *level = scope.own(norva::alloc_zero<int64_t>(z.nl));
    int *markA = scope.own(norva::alloc_zero<int>((uint64_t)sA));
    int *markB = scope.own(norva::alloc_zero<int>((uint64_t)sB));
    if (!sa || !sb || !scratch || !level || !markA || !markB) return fallback();

    // The slicing, the level sums and the finish are shared out over rows
    // (each row of slices, level entry and result computed by one thread as
    // on one: the bits do not depend on the team); the slice marks of the
    // threads are ORed.
    slice_rows(m, k, A, lda, [&](uint64_t i, uint64_t) { return rowlo[i]; }, v, sA, sa, mk, markA);
    slice_rows(k, n, B, ldb, [&](uint64_t, uint64_t j) { return collo[j]; }, v, sB, sb, kn, markB);

    // Every entry of a slice product is an integer of magnitude below
    // k 2^(2v) <= 2^(L+2v).  A product that is not (a callback that breaks
    // its contract, or one that reports an error with NaN) is never taken:
    // converting it would be undefined, and AArch64 turns NaN into 0, which
    // would pass for an exact product.  The call then fails (-1, C
    // untouched), as a failed product must: no proof rests on it.
    const double limit = std::ldexp(1.0, L + 2 * v);
    int broken = 0;
    for (int s = 0; s < sA && !broken; ++s) {
        if (!markA[s]) continue;
        for (int t = 0; t < sB && !broken; ++t) {
            if (!markB[t]) continue;
            gemm(m, n, k, sa + (uint64_t)s * mk, k, sb + (uint64_t)t * kn, n, scratch, n, ctx);
            int64_t *lv = level + (uint64_t)(s + t) * mn;
            norva::for_shares(mn, mn, parallel_elements, [&](norva::share r) {
                int bad = 0;
                for (uint64_t q = r.begin; q < r.end; ++q) {
                    const double x = scratch[q];
                    const bool in_range = std::fabs(x) <= limit;  // false for NaN
                    const int64_t digit = in_range ? (int64_t)x : 0;
                    bad |= !in_range | ((double)digit != x);
                    lv[q] += digit;
                }
                if (bad) __atomic_store_n(&broken, 1, __ATOMIC_RELAXED);
            });
        }
    }
    if (broken) return -1;

    const int nw = oz_finish_words(v, W);
    norva::for_shares(m, mn, parallel_elements, [&](norva::share r) {
        if (r.end == r.begin) return;
        norva::freer<1> own;
        uint64_t *words = beta == 0.0 ? own.own(norva::alloc<uint64_t>((uint64_t)nw)) : nullptr;
        const uint64_t i0 = r.begin;
        oz_finish_with(r.end - i0, n, k, A + i0 * lda, lda, B, ldb, C + i0 * ldc, beta, ldc, rnd,
                       v, W, level + i0 * n, rowlo + i0, collo, sc.rowflag + i0, sc.colflag,
                       words, mn);
    });
    return 0;
}
