// Cyclic Jacobi method on a packed copy W of the symmetric A (see eig.h).
//
// Every entry sees exactly the operations of the plain loop
//   columns p, q of W:  (W_rp, W_rq) <- (c W_rp - s W_rq, s W_rp + c W_rq)
//   rows p, q of W:     (W_pk, W_qk) <- (c W_pk - s W_qk, s W_pk + c W_qk)
//   W_pq = W_qp = 0;    columns p, q of V as those of W,
// each product and sum rounded on its own.  Only the memory traffic is
// reorganised:
//   - the logical W stays symmetric: for k outside {p, q} the column update
//     of row k and the row update of column k compute the same two
//     expressions from the same numbers.  So a rotation rotates the rows p
//     and q contiguously and never touches the columns; only the 2x2 block
//     (p, q) x (p, q) takes both stages, columns first.  The copy of (i, j)
//     in the row rotated last (a stamp per row says which) is the current
//     one; before a row is rotated, its stale entries are fetched from the
//     newer rows, and after each sweep both triangles are made current for
//     the test.  The copies of an entry agree in value; only the signs of
//     zeros that A itself may mix can differ, and nothing computed later
//     depends on those;
//   - V is kept transposed (its columns p and q are then contiguous rows)
//     and transposed in place at the end;
//   - the contiguous row rotation runs on the widest vectors the processor
//     offers (one multiplication, addition or subtraction per lane, as in
//     the scalar loop).
// The sums of the convergence test run over all n^2 entries of W in row
// order, as in the plain loop.
#include <cmath>
#include <cstring>

#include "norva/eig.h"
#include "common/scratch.h"

#define NORVA_INLINE inline __attribute__((always_inline))

namespace norva {
namespace {

constexpr int max_sweeps = 60;

typedef double v2d __attribute__((vector_size(16)));
#if defined(__x86_64__)
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));
#define NORVA_JACOBI_X86 1
#endif

// (x_k, y_k) <- (c x_k - s y_k, s x_k + c y_k), k = 0 .. n-1.
template <class V>
NORVA_INLINE void rotate_pair(uint64_t n, double *__restrict x, double *__restrict y, double c,
                              double s) {
    constexpr uint64_t L = sizeof(V) / sizeof(double);
    V cv, sv;
    for (uint64_t l = 0; l < L; ++l) {
        cv[l] = c;
        sv[l] = s;
    }
    uint64_t k = 0;
    for (; k + 2 * L <= n; k += 2 * L) {
        V a0, b0, a1, b1;
        std::memcpy(&a0, x + k, sizeof(V));
        std::memcpy(&a1, x + k + L, sizeof(V));
        std::memcpy(&b0, y + k, sizeof(V));
        std::memcpy(&b1, y + k + L, sizeof(V));
        const V u0 = cv * a0 - sv * b0, w0 = sv * a0 + cv * b0;
        const V u1 = cv * a1 - sv * b1, w1 = sv * a1 + cv * b1;
        std::memcpy(x + k, &u0, sizeof(V));
        std::memcpy(x + k + L, &u1, sizeof(V));
        std::memcpy(y + k, &w0, sizeof(V));
        std::memcpy(y + k + L, &w1, sizeof(V));
    }
    for (; k < n; ++k) {
        const double a = x[k], b = y[k];
        x[k] = c * a - s * b;
        y[k] = s * a + c * b;
    }
}

typedef void (*rotate_fn)(uint64_t, double *__restrict, double *__restrict, double, double);

void rotate_base(uint64_t n, double *__restrict x, double *__restrict y, double c, double s) {
    rotate_pair<v2d>(n, x, y, c, s);
}

#if NORVA_JACOBI_X86
__attribute__((target("avx2"))) void rotate_avx2(uint64_t n, double *__restrict x,
                                                 double *__restrict y, double c, double s) {
    rotate_pair<v4d>(n, x, y, c, s);
}

__attribute__((target("avx512f"))) void rotate_avx512(uint64_t n, double *__restrict x,
                                                     double *__restrict y, double c, double s) {
    rotate_pair<v8d>(n, x, y, c, s);
}
#endif

rotate_fn pick_rotate() {
#if NORVA_JACOBI_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return rotate_avx512;
    if (__builtin_cpu_supports("avx2")) return rotate_avx2;
#endif
    return rotate_base;
}

// The plain row-order test total 2^-106 >= off.
bool converged(uint64_t n, const double *W) {
    double total = 0.0, off = 0.0;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double sq = W[i * n + j] * W[i * n + j];
            total = total + sq;
            if (i != j) off = off + sq;
        }
    return total * 0x1p-106 >= off;
}

// Row i of W holds the current (i, j) when last[i] >= last[j], row j
// otherwise: a rotation (p, q) rewrites rows p and q entirely and stamps
// both.  Copies into row r every entry that a newer row holds.
void refresh(uint64_t n, double *W, const uint64_t *last, uint64_t r) {
    double *wr = W + r * n;
    const uint64_t lr = last[r];
    for (uint64_t k = 0; k < n; ++k)
        if (last[k] > lr) wr[k] = W[k * n + r];
}

// One sweep over the pairs (p, q), p < q, row by row; VT = V transposed.
void sweep(uint64_t n, double *W, double *VT, uint64_t *last, uint64_t &clock, rotate_fn rotate) {
    for (uint64_t p = 0; p + 1 < n; ++p) {
        double *wp = W + p * n;
        refresh(n, W, last, p);  // stays current: every rotation below rewrites it
        for (uint64_t q = p + 1; q < n; ++q) {
            double *wq = W + q * n;
            const double wpq = wp[q];
            if (wpq == 0.0) continue;
            refresh(n, W, last, q);
            const double wpp = wp[p], wqq = wq[q], wqp = wpq;
            const double theta = (wqq - wpp) / (2.0 * wpq);
            double t;
            if (std::fabs(theta) > 0x1p500) {
                t = 0.5 / theta;
            } else {
                t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
            }
            const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
            const double cpp = c * wpp - s * wpq, cqp = c * wqp - s * wqq;
            const double cpq = s * wpp + c * wpq, cqq = s * wqp + c * wqq;
            const double npp = c * cpp - s * cqp, nqq = s * cpq + c * cqq;
            rotate(n, wp, wq, c, s);
            wp[p] = npp;
            wq[q] = nqq;
            wp[q] = wq[p] = 0.0;
            last[p] = last[q] = ++clock;
            rotate(n, VT + p * n, VT + q * n, c, s);
        }
    }
    // Both triangles current again for the test.
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = i + 1; j < n; ++j) {
            if (last[i] >= last[j]) W[j * n + i] = W[i * n + j];
            else W[i * n + j] = W[j * n + i];
        }
}

}  // namespace

int jacobi(uint64_t n, const double *A, uint64_t lda, double *V, double *d) {
    if (too_big(n, n)) return -1;
    freer<2> mem;
    double *W = mem.own(alloc<double>(n * n));
    uint64_t *last = mem.own(alloc_zero<uint64_t>(n));
    if (W == nullptr || last == nullptr) return -1;
    uint64_t clock = 0;
    for (uint64_t i = 0; i < n; ++i) std::memcpy(W + i * n, A + i * lda, n * sizeof(double));
    std::memset(V, 0, n * n * sizeof(double));
    for (uint64_t i = 0; i < n; ++i) V[i * n + i] = 1.0;
    const rotate_fn rotate = pick_rotate();
    for (int k = 0; k < max_sweeps; ++k) {
        if (converged(n, W)) {
            for (uint64_t i = 0; i < n; ++i) d[i] = W[i * n + i];
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = i + 1; j < n; ++j) {
                    const double x = V[i * n + j];
                    V[i * n + j] = V[j * n + i];
                    V[j * n + i] = x;
                }
            return 0;
        }
        sweep(n, W, V, last, clock, rotate);
    }
    return -1;
}

}  // namespace norva
