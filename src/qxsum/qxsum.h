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

/* --- int8 slices ---------------------------------------------------------
 *
 * An int8 kernel sets C[i*ldc + j] = sum over l < k of A[i*lda + l] *
 * Bt[j*ldb + l] for i < m, j < n, in 32-bit integer arithmetic: A holds m
 * rows and Bt n rows of k signed bytes (Bt is the right factor transposed,
 * so that both run along k with unit stride).  k = 0 sets the block to 0. */
typedef void (*qxsum_i8_fn)(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                            const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc, void *ctx);

/* The same correctly rounded C = A B + beta C as qxgemm, bit for bit, from
 * products of 7-bit signed digit slices (int8) computed by kernel (NULL:
 * i8_internal), never with more than 32768 for its k.  A kernel of the
 * caller gets one whole m x n product per slice pair and chunk of k; the
 * default kernel is run on output tiles instead (same results).  Returns 0,
 * or -1 when rnd > 3 (C untouched). */
int qxgemm_oz8(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
               uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd,
               qxsum_i8_fn kernel, void *ctx);

/* The default kernel: the one chosen once per process (see i8_pick), split
 * over threads by columns for large products.  ctx is ignored. */
void i8_internal(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                 const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc, void *ctx);
/* The kernel on the AArch64 dot-product instruction (2 x 4 tiles); only to
 * be called when the processor has it.  Elsewhere the portable kernel. */
void i8_sdot(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
             uint64_t ldb, int32_t *C, uint64_t ldc);

/* Kernel numbers and names: 0 "plain" (portable), 1 "vnni", 2 "sdot",
 * 3 "avx2", 4 "i8mm"; only 0 and 2 are ever chosen.  i8_which is -1 until
 * the first use, then the chosen number for the rest of the process; it is
 * read and written only by relaxed atomic operations. */
extern int32_t i8_which;
/* Choose the kernel: "sdot" when the processor has the dot-product
 * instruction, else "plain"; QXSUM_I8_PLAIN starting with "1" forces
 * "plain"; then QXSUM_I8_KERNEL naming an available kernel selects it
 * (other values are ignored).  Stores the choice once, into i8_which. */
void i8_pick(void);
/* The name of the chosen kernel (choosing it first if need be). */
const char *qxsum_i8_kernel(void);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_QXSUM_H */
