/*
 * qxsum — exact summation engine (internal interface of the library).
 *
 * A qxsum_acc is a long fixed-point number (limb i has weight 2^(32 i - 2176))
 * that absorbs doubles and exact products of doubles without any rounding,
 * plus sticky flags for NaN, infinities and signed zeros.  The total is
 * rounded once, on request, in one of four modes:
 *   rnd 0 to nearest (ties to even), 1 upward, 2 downward, 3 toward zero.
 * Any larger rnd is invalid (NaN from the scalar operations, -1 from the
 * matrix operations, with no output written).
 *
 * Matrices are row-major: element (i, j) of X is X[i*ldx + j].
 * Nothing here depends on the floating-point environment in force.
 */
#ifndef NORVA_QXSUM_H
#define NORVA_QXSUM_H

#include <stdint.h>

#include "norva.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QXSUM_LIMBS 134

typedef struct qxsum_acc {
    int64_t limb[QXSUM_LIMBS];
    uint64_t pending;
    int32_t nan, pinf, ninf, nonzero, pzero, nzero;
    uint64_t count;
} qxsum_acc;

/* Empty the accumulator (every byte zero). */
void qxsum_init(qxsum_acc *acc);
/* Add x[0..n-1] exactly. */
void qxsum_add(qxsum_acc *acc, const double *x, uint64_t n);
/* Add the exact products x[i]*y[i], i < n. */
void qxsum_add_dot(qxsum_acc *acc, const double *x, const double *y, uint64_t n);
/* dst += src exactly (flags ORed, counts added); src is unchanged; dst may be src. */
void qxsum_merge(qxsum_acc *dst, const qxsum_acc *src);
/* The total, correctly rounded to double (float) in mode rnd; acc is unchanged. */
double qxsum_round(const qxsum_acc *acc, uint32_t rnd);
float qxsum_roundf(const qxsum_acc *acc, uint32_t rnd);

/* Correctly rounded sum and dot product. */
double qxsum(const double *x, uint64_t n, uint32_t rnd);
double qxdot(const double *x, const double *y, uint64_t n, uint32_t rnd);
float qxsumf(const float *x, uint64_t n, uint32_t rnd);
float qxdotf(const float *x, const float *y, uint64_t n, uint32_t rnd);

/* y = op(A) x + beta y, every entry correctly rounded once.  A is m x n;
 * trans = 0: y has m entries, trans != 0: y = A^T x has n entries.  The old y
 * is not read when beta == 0.  Returns 0, or -1 (rnd > 3; the float version
 * also on a failed allocation) with y untouched. */
int qxgemv(int trans, uint64_t m, uint64_t n, const double *A, uint64_t lda, const double *x,
           double *y, uint32_t rnd, double beta);
/* C = A B + beta C for A m x k, B k x n, C m x n, every entry correctly
 * rounded once.  Returns 0, or -1 as for qxgemv. */
int qxgemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
           uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd);
int qxgemvf(int trans, uint64_t m, uint64_t n, const float *A, uint64_t lda, const float *x,
            float *y, uint32_t rnd, float beta);
int qxgemmf(uint64_t m, uint64_t n, uint64_t k, const float *A, uint64_t lda, const float *B,
            uint64_t ldb, float *C, float beta, uint64_t ldc, uint32_t rnd);

/* The same correctly rounded C = A B + beta C as qxgemm, bit for bit, with
 * the bulk of the work done by exact floating-point products of integer
 * slices of A and B computed by gemm (NULL: the module's own product), which
 * must overwrite C (m x n, ldc) with A (m x k, lda) times B (k x n, ldb) in
 * binary64 arithmetic, any summation order.  ctx is passed to gemm.  Returns
 * 0, or -1 when rnd > 3 (C untouched). */
int qxgemm_oz(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
              uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd, norva_gemm_fn gemm,
              void *ctx);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_QXSUM_H */
