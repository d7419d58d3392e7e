/**
 * @file norva.h
 * @brief norva — verified linear algebra in IEEE 754 double precision.
 *
 * Every solver returns, for each component, a lower and an upper bound that
 * provably contain the exact value, or [-inf, +inf] when the proof fails.
 *
 * Conventions shared by every function below:
 *
 *  - Dense matrices are stored row by row: entry (i, j) of a matrix with
 *    leading dimension ld is element i*ld + j.  Several right-hand sides form
 *    an n x nrhs matrix in the same layout (right-hand side k is column k).
 *    Leading dimensions are not checked; they must be at least the row length.
 *  - Status codes: -1 invalid arguments (a zero dimension, a mode out of
 *    range, an infinity or NaN in an input); nothing is written.  0 every
 *    result proven.  1 some result not proven, or scratch memory
 *    unavailable; each unproven enclosure is [-inf, +inf].
 *  - mode: 0 bounds from exactly rounded products; 1 floating-point products
 *    with a priori error bounds (faster); 2 (dense solvers, least squares)
 *    double-length solve for ill-conditioned systems.
 *  - gemm: an optional matrix-product callback (for instance a wrapper of a
 *    BLAS dgemm).  It must overwrite the m x n matrix C with A*B, all three
 *    row-major, in binary64 rounded to nearest (any summation order).  It is
 *    called only from the calling thread.  NULL selects the built-in product.
 *    ctx is passed to it unchanged.
 *  - The caller's floating-point environment (rounding mode, exception flags)
 *    is saved on entry and restored on return; results do not depend on it.
 *  - Inputs are never modified.  The library keeps no state between calls.
 */
#ifndef NORVA_H
#define NORVA_H

#include <stdint.h>

#if defined(NORVA_BUILDING_LIBRARY)
#define NORVA_API __attribute__((visibility("default")))
#else
#define NORVA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief Matrix-product callback: C (m x n, ldc) = A (m x k, lda) * B (k x n, ldb).
 *
 * All three matrices are row-major.  The callback must overwrite C with the
 * product in binary64, each entry rounded to nearest (any summation order);
 * the proofs rest on products that meet this contract.  It is called only
 * from the thread that called the library.
 *
 * @param m    rows of A and C
 * @param n    columns of B and C
 * @param k    columns of A, rows of B
 * @param A    the m x k left factor
 * @param lda  leading dimension of A
 * @param B    the k x n right factor
 * @param ldb  leading dimension of B
 * @param C    the m x n result, overwritten
 * @param ldc  leading dimension of C
 * @param ctx  the pointer given to the library with the callback, unchanged
 */
typedef void (*norva_gemm_fn)(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                              const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx);

/**
 * @brief The library's version, "0.7.0".
 *
 * @return the version string, owned by the library (do not free it)
 */
NORVA_API const char *norva_version(void);

/**
 * @brief Dense system A x = b.
 *
 * Exactly norva_solve_many() with nrhs = 1, ldb = 1, ldx = 1.
 *
 * @param n      order of A, length of b
 * @param a      the n x n matrix A
 * @param lda    leading dimension of a
 * @param b      the right-hand side, n doubles
 * @param r      NULL, or an approximate inverse of A (n x n) to start from;
 *               it is not checked
 * @param ldr    leading dimension of r
 * @param x_lo   lower bounds, n doubles
 * @param x_hi   upper bounds, n doubles
 * @param mode   0, 1 or 2
 * @param gemm   matrix-product callback, NULL for the built-in product
 * @param ctx    passed to gemm unchanged
 * @retval 0  x_lo[i] <= x[i] <= x_hi[i] is proven for the exact solution x of
 *            the system with exactly the doubles given.
 * @retval 1  not proven, every bound is [-inf, +inf].
 * @retval -1 invalid arguments, as for norva_solve_many(), nothing written.
 */
NORVA_API int32_t norva_solve(uint64_t n, const double *a, uint64_t lda, const double *b,
                              const double *r, uint64_t ldr, double *x_lo, double *x_hi,
                              int32_t mode, norva_gemm_fn gemm, void *ctx);

/**
 * @brief Dense system A X = B with nrhs right-hand sides.
 *
 * Each column is proven on its own.
 *
 * @param n      order of A, rows of B
 * @param nrhs   number of right-hand sides (columns of B)
 * @param a      the n x n matrix A
 * @param lda    leading dimension of a
 * @param b      the n x nrhs right-hand sides B
 * @param ldb    leading dimension of b
 * @param r      NULL, or an approximate inverse of A (n x n); not checked
 * @param ldr    leading dimension of r
 * @param x_lo   lower bounds, n x nrhs (only the first nrhs entries of each
 *               row are written)
 * @param x_hi   upper bounds, n x nrhs, likewise
 * @param ldx    leading dimension of x_lo and x_hi
 * @param mode   0, 1 or 2
 * @param gemm   matrix-product callback, NULL for the built-in product
 * @param ctx    passed to gemm unchanged
 * @retval 0  every column proven.
 * @retval 1  the proven columns are left in place and the others set to [-inf,
 *            +inf]; a matrix with a zero pivot, or missing scratch memory,
 *            sets every column so.
 * @retval -1 nothing written: n or nrhs is 0, mode is not 0, 1 or 2, or an
 *            entry of a or b is infinite or NaN (checked row by row, row i of
 *            b before row i of a; r is not checked).
 */
NORVA_API int32_t norva_solve_many(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda,
                                   const double *b, uint64_t ldb, const double *r, uint64_t ldr,
                                   double *x_lo, double *x_hi, uint64_t ldx, int32_t mode,
                                   norva_gemm_fn gemm, void *ctx);

/**
 * @brief A batch of count dense systems of order n, each solved exactly as
 * norva_solve() solves it.
 *
 * Mode 0, 1 or 2, the built-in product, no approximate inverse.  The systems
 * run in parallel on OpenMP threads; each system's bounds and status are
 * bit-identical to norva_solve()'s on it, whatever the thread count.
 * Padding between systems is never read, padding between bounds never
 * written.
 *
 * @param count     number of systems
 * @param n         order of each system
 * @param a         system i has its packed row-major n x n matrix at
 *                  a + i*stride_a
 * @param stride_a  doubles from one matrix to the next
 * @param b         system i has its right-hand side (n doubles) at
 *                  b + i*stride_b
 * @param stride_b  doubles from one right-hand side to the next
 * @param x_lo      system i has its lower bounds (n doubles) at
 *                  x_lo + i*stride_x
 * @param x_hi      system i has its upper bounds (n doubles) at
 *                  x_hi + i*stride_x
 * @param stride_x  doubles from one system's bounds to the next
 * @param mode      0, 1 or 2
 * @param status    count statuses: status[i] is 0 when system i is proven,
 *                  1 when not (all its bounds [-inf, +inf])
 * @retval 0  every system proven.
 * @retval 1  some system not proven (its status 1, its bounds [-inf, +inf]).
 * @retval -1 nothing written: count or n is 0, mode is not 0, 1 or 2, status
 *            is NULL, with count > 1 a stride is smaller than the block it
 *            steps over (n*n, n, n), a size beyond the address space, or an
 *            entry of any system's matrix or right-hand side infinite or NaN
 *            (checked system by system, row i of b before row i of a).
 */
NORVA_API int32_t norva_solve_batch(uint64_t count, uint64_t n, const double *a,
                                    uint64_t stride_a, const double *b, uint64_t stride_b,
                                    double *x_lo, double *x_hi, uint64_t stride_x, int32_t mode,
                                    int32_t *status);

/**
 * @brief Interval system: an enclosure of every solution of A X = B for
 * every A and B within the given bounds.
 *
 * Every solution of A X = B for every A with a_lo <= A <= a_hi and every B
 * with b_lo <= B <= b_hi (entrywise) lies in [x_lo, x_hi].
 *
 * @param n      order of the matrices
 * @param nrhs   number of right-hand sides
 * @param a_lo   lower bounds of the matrix, n x n
 * @param a_hi   upper bounds of the matrix, n x n
 * @param lda    leading dimension of a_lo and a_hi
 * @param b_lo   lower bounds of the right-hand sides, n x nrhs
 * @param b_hi   upper bounds of the right-hand sides, n x nrhs
 * @param ldb    leading dimension of b_lo and b_hi
 * @param r      NULL, or an approximate inverse of the midpoint matrix
 *               (n x n)
 * @param ldr    leading dimension of r
 * @param x_lo   lower bounds of the solutions, n x nrhs
 * @param x_hi   upper bounds of the solutions, n x nrhs
 * @param ldx    leading dimension of x_lo and x_hi
 * @param mode   0 or 1
 * @param gemm   matrix-product callback, NULL for the built-in product
 * @param ctx    passed to gemm unchanged
 * @retval 0  every column proven.
 * @retval 1  a column is not proven (as for norva_solve_many()), for instance
 *            when the data contain a singular matrix.
 * @retval -1 nothing written: n or nrhs is 0, mode is not 0 or 1, or an
 *            interval has a bound that is infinite or NaN or lo > hi (checked
 *            row by row, row i of b before row i of a).
 */
NORVA_API int32_t norva_solve_interval(uint64_t n, uint64_t nrhs, const double *a_lo,
                                       const double *a_hi, uint64_t lda, const double *b_lo,
                                       const double *b_hi, uint64_t ldb, const double *r,
                                       uint64_t ldr, double *x_lo, double *x_hi, uint64_t ldx,
                                       int32_t mode, norva_gemm_fn gemm, void *ctx);

/**
 * @brief Symmetric positive definiteness of the n x n matrix A, and a lower
 * bound of its smallest eigenvalue.
 *
 * A must be exactly symmetric.  *lower <= lambda_min(A) always holds when
 * *lower is not -inf.  With l NULL the library chooses the shift (just below
 * an estimate of lambda_min, so that *lower is usually within a few percent
 * of it) and the factor itself, and shift is ignored.
 *
 * @param n      order of A
 * @param a      the n x n matrix A, exactly symmetric
 * @param lda    leading dimension of a
 * @param l      NULL, or the caller's factor with A - shift I ~ L L^T
 *               (n x n): it is verified as given (any n x n array; no
 *               factor is computed) and a proof needs shift > 0
 * @param ldl    leading dimension of l
 * @param shift  the shift of the caller's factor (ignored when l is NULL)
 * @param lower  receives the lower bound of lambda_min(A): positive with
 *               status 0, or 0 when the bound of a badly scaled A falls
 *               below the subnormal range; with status 1 the best bound
 *               formed (not positive) or -inf
 * @param mode   0: exact residual; 1: floating-point products with a
 *               priori error bounds
 * @param gemm   matrix-product callback, NULL for the built-in product
 * @param ctx    passed to gemm unchanged
 * @retval 0  A is proven positive definite.
 * @retval 1  not proven.
 * @retval -1 nothing written, not even *lower: n is 0, lower is NULL, mode
 *            is not 0 or 1, l is given and shift is infinite or NaN, an entry
 *            of a (or of l) is infinite or NaN, or a(i, j) != a(j, i).
 */
NORVA_API int32_t norva_spd(uint64_t n, const double *a, uint64_t lda, const double *l,
                            uint64_t ldl, double shift, double *lower, int32_t mode,
                            norva_gemm_fn gemm, void *ctx);

/**
 * @brief Least-squares or minimum-norm solution of A x = b.
 *
 * For the m x n matrix A of full rank: with m >= n the x minimising
 * |A x - b|_2, with m < n the x of least 2-norm with A x = b, for each
 * column of b.  The problem is solved as the square system
 * [[alpha I, A], [A^T, 0]] (m >= n) or [[alpha I, A^T], [A, 0]] (m < n) of
 * order m + n.
 *
 * @param m      rows of A and b
 * @param n      columns of A, rows of the bounds
 * @param nrhs   number of right-hand sides
 * @param a      the m x n matrix A, of full rank
 * @param lda    leading dimension of a
 * @param b      the m x nrhs right-hand sides
 * @param ldb    leading dimension of b
 * @param alpha  0 (chosen automatically, near sigma_min(A) / sqrt 2) or a
 *               positive power of two
 * @param r      NULL, or an approximate inverse of the augmented matrix
 *               (order m + n)
 * @param ldr    leading dimension of r
 * @param x_lo   lower bounds, n x nrhs
 * @param x_hi   upper bounds, n x nrhs
 * @param ldx    leading dimension of x_lo and x_hi
 * @param mode   0, 1 or 2
 * @param gemm   matrix-product callback, NULL for the built-in product
 * @param ctx    passed to gemm unchanged
 * @retval 0  every column proven.
 * @retval 1  a column not proven (a rank-deficient A gives status 1).
 * @retval -1 nothing written: m, n or nrhs is 0, mode is not 0, 1 or 2, an
 *            entry of a or b is infinite or NaN, or alpha is neither 0 nor a
 *            positive finite power of two.
 */
NORVA_API int32_t norva_lstsq(uint64_t m, uint64_t n, uint64_t nrhs, const double *a,
                              uint64_t lda, const double *b, uint64_t ldb, double alpha,
                              const double *r, uint64_t ldr, double *x_lo, double *x_hi,
                              uint64_t ldx, int32_t mode, norva_gemm_fn gemm, void *ctx);

/**
 * @brief Enclosures of all eigenvalues of the symmetric n x n matrix A.
 *
 * Multiplicities are counted; multiple and clustered eigenvalues are
 * included (no gap is needed).  v and d are an approximate
 * eigen-decomposition to verify, both or neither; without them the library
 * computes one by the Jacobi method.
 *
 * @param n      order of A
 * @param a      the n x n matrix A, exactly symmetric
 * @param lda    leading dimension of a
 * @param v      NULL, or approximate eigenvectors as the columns of an
 *               n x n matrix
 * @param ldv    leading dimension of v
 * @param d      NULL, or n approximate eigenvalues (any order)
 * @param lo     lower bounds of the n eigenvalues, ascending
 * @param hi     upper bounds of the n eigenvalues, ascending
 * @param mode   0 or 1
 * @param gemm   matrix-product callback, NULL for the built-in product
 * @param ctx    passed to gemm unchanged
 * @retval 0  lo[i] <= lambda_i <= hi[i] is proven for the n eigenvalues in
 *            ascending order.
 * @retval 1  every bound [-inf, +inf]: the approximate vectors are too far
 *            from orthonormal, the Jacobi method did not converge, a bound
 *            would exceed the doubles, or scratch memory is missing.
 * @retval -1 nothing written: n is 0, mode is not 0 or 1, only one of v and
 *            d is given, or an entry of a, v or d is infinite or NaN or a is
 *            not exactly symmetric.
 */
NORVA_API int32_t norva_eig_sym(uint64_t n, const double *a, uint64_t lda, const double *v,
                                uint64_t ldv, const double *d, double *lo, double *hi,
                                int32_t mode, norva_gemm_fn gemm, void *ctx);

/**
 * @brief Band system with kl sub- and ku super-diagonals.
 *
 * Row i of A is stored from ab[i*ldab]: entry (i, j) is
 * ab[i*ldab + kl + (j - i)], so position kl holds the diagonal.  Only the
 * band clamped to the matrix is read (stored positions left of column 0 or
 * right of column n - 1 may hold anything).  The enclosure is one normwise
 * radius around a refined solution.
 *
 * @param n      order of A, length of b and of the bounds
 * @param kl     number of sub-diagonals
 * @param ku     number of super-diagonals
 * @param ab     the band, n rows of ldab doubles
 * @param ldab   leading dimension of ab, at least kl + ku + 1
 * @param b      the right-hand side, n doubles
 * @param x_lo   lower bounds, n doubles
 * @param x_hi   upper bounds, n doubles
 * @param mode   0 or 1
 * @retval 0  every component enclosed.
 * @retval 1  not proven (singular or too ill-conditioned, or no memory), every
 *            bound [-inf, +inf].
 * @retval -1 nothing written: n is 0, ldab < kl + ku + 1 (or kl + ku + 1
 *            beyond 64 bits, or n rows of ldab doubles beyond the address
 *            space), mode is not 0 or 1, or an entry of b or of the clamped
 *            band is infinite or NaN.
 */
NORVA_API int32_t norva_solve_band(uint64_t n, uint64_t kl, uint64_t ku, const double *ab,
                                   uint64_t ldab, const double *b, double *x_lo, double *x_hi,
                                   int32_t mode);

/**
 * @brief Sparse system in compressed sparse row form.
 *
 * Two paths, chosen by cost: a reverse Cuthill-McKee renumbering into a
 * band solved by norva_solve_band() (narrow bands), or, when the library is
 * built with CHOLMOD, a fill-reducing ordering and a supernodal sparse
 * Cholesky factorization of A (exactly symmetric A) or of A^T A (otherwise,
 * or when A is not positive definite) with an a priori bound of its error.
 * Both prove one normwise radius around a refined solution.  The bounds
 * come back in the caller's numbering.
 *
 * @param n        order of A
 * @param row_ptr  n + 1 row starts: row i holds the entries
 *                 row_ptr[i] .. row_ptr[i+1] - 1
 * @param col_idx  row_ptr[n] column indices
 * @param val      row_ptr[n] values
 * @param b        the right-hand side, n doubles
 * @param x_lo     lower bounds, n doubles
 * @param x_hi     upper bounds, n doubles
 * @param mode     0 or 1
 * @retval 0  every component enclosed (as for norva_solve_band()).
 * @retval 1  not proven, every bound [-inf, +inf] (as for norva_solve_band()).
 * @retval -1 either nothing written: n is 0, row_ptr[0] is not 0 or row_ptr
 *            decreases, a column is n or more or appears twice in a row, mode
 *            is not 0 or 1, or a value or an entry of b is infinite or NaN;
 *            or every bound [-inf, +inf]: no memory, or (band path only) the
 *            renumbered band would need more than 2^27 doubles.
 */
NORVA_API int32_t norva_solve_sparse(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx,
                                     const double *val, const double *b, double *x_lo,
                                     double *x_hi, int32_t mode);

/**
 * @brief Positive definiteness of a sparse symmetric matrix, and a lower
 * bound of its smallest eigenvalue.
 *
 * A is given in compressed sparse row form with both triangles.  The proof
 * comes from a shifted sparse Cholesky factorization (band storage for
 * narrow bands or without CHOLMOD) and, when that fails, once more on D A D
 * with D = diag(2^e_i) bringing the diagonal into [0.5, 2).  The factor's
 * error bound is a priori in both modes.
 *
 * @param n        order of A
 * @param row_ptr  n + 1 row starts, as for norva_solve_sparse()
 * @param col_idx  row_ptr[n] column indices
 * @param val      row_ptr[n] values
 * @param lower    receives the bound: *lower <= lambda_min(A) whenever it is
 *                 not -inf (positive with status 0, or 0 when the bound falls
 *                 below the subnormal range; with status 1 the best bound
 *                 formed, not positive, or -inf)
 * @param mode     0 or 1
 * @retval 0  A is proven positive definite.
 * @retval 1  not proven.
 * @retval -1 nothing written, not even *lower: n is 0, lower is NULL, mode
 *            is not 0 or 1, the checks of norva_solve_sparse() fail, or A is
 *            not exactly symmetric in pattern and values (+0 and -0 count as
 *            equal).
 */
NORVA_API int32_t norva_spd_sparse(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx,
                                   const double *val, double *lower, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_H */
