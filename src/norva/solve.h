// Internal interface of the dense solver: the driver, its three paths, the
// residual kernels and the verified error bounds.  Matrices are row-major;
// R and W are n x n with leading dimension n.
#ifndef NORVA_SOLVE_H
#define NORVA_SOLVE_H

#include <cstdint>

#include "norva.h"

namespace norva {

// ---- driver ---------------------------------------------------------------

// Enclosures [x_lo, x_hi] (n x nrhs, ldx) of the solutions of A X = B, B
// n x nrhs (ldb).  rad_a (n x n, ld n) and rad_b (n x nrhs, ld nrhs) are the
// radii of an interval system (both or neither; modes 0 and 1 only).  r, if
// not null, is the caller's approximate inverse (ldr).  gemm null means
// gemm_plain.  Returns 0 (every column proven) or 1; never -1 (the exports
// check the arguments).
int32_t solve(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
              uint64_t ldb, const double *rad_a, const double *rad_b, const double *r,
              uint64_t ldr, double *x_lo, double *x_hi, uint64_t ldx, int32_t mode,
              norva_gemm_fn gemm, void *ctx);

// The same, on a thread whose environment is already the default one (a
// thread under a guard of the library): solve is this under a full guard.
int32_t solve_in_env(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                     uint64_t ldb, const double *rad_a, const double *rad_b, const double *r,
                     uint64_t ldr, double *x_lo, double *x_hi, uint64_t ldx, int32_t mode,
                     norva_gemm_fn gemm, void *ctx);

// The driver after its bound: R ~ A^-1 and W >= |I - R A| (with the
// radius term |R| rad_a already added for an interval system), c = 1 when W
// came from exact products, 0 from floating-point ones.  Modes 0 and 1.
int32_t solve_with(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                   uint64_t ldb, const double *rad_a, const double *rad_b, const double *R,
                   const double *W, int32_t c, double *x_lo, double *x_hi, uint64_t ldx,
                   int32_t mode, norva_gemm_fn gemm, void *ctx);

// Mode 1 without radii when bound_c gave the floating-point bound: all
// right-hand sides at once through matrix products.  gemm is never null here.
int32_t solve_blocked(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                      uint64_t ldb, double *x_lo, double *x_hi, uint64_t ldx, const double *R,
                      const double *W, norva_gemm_fn gemm, void *ctx);

// Mode 2: double-length inverse R + R_lo refined by exact products, and
// double-length solutions.  R (from inverse or the caller) and W are scratch
// of the driver and are overwritten.
int32_t solve_double(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                     uint64_t ldb, double *x_lo, double *x_hi, uint64_t ldx, double *R, double *W,
                     norva_gemm_fn gemm, void *ctx);

// Largest row sum of W (each row summed to nearest, left to right); NaN sums
// are ignored, the result starts at 0.
double max_row_sum(uint64_t n, const double *W);

// Every x_lo[i ldx + k] = -inf and x_hi[i ldx + k] = +inf.
void fail_all(uint64_t n, uint64_t nrhs, double *x_lo, double *x_hi, uint64_t ldx);

// ---- residual kernels -------------------------------------------------------

// out_i = sum_j M_ij v_j + p_i exactly, rounded to nearest (out may be p).
// One parallel region over rows, one thread when n < 64.
void residual_rows(uint64_t n, const double *M, uint64_t ldm, const double *v, const double *p,
                   double *out);

// x_i = x_i + fl(sum_j R_ij res_j), j ascending, multiply then add.  One
// thread when n < 256.
void column_update(uint64_t n, const double *R, const double *res, double *x);

// Interval residual: for every row, [res_lo_i, res_hi_i] contains
// b_i +- rb_i - sum_j a_ij x_j -+ sum_j rad_a_ij |x_j| (exact, rounded outward).
// neg_x = -x; absx2 holds |x| followed by -|x| (2n entries).
void column_interval_residual(uint64_t n, const double *a, uint64_t lda, const double *b,
                              const double *rad_a, const double *rb, const double *neg_x,
                              const double *absx2, double *res_lo, double *res_hi);

// Enclosure [c_lo, c_hi] of R [res_lo, res_hi] by directed exact dot
// products, z_i = max(|c_lo_i|, |c_hi_i|).  Returns 0, or -1 when a thread
// could not allocate its scratch.
int column_enclose(uint64_t n, const double *R, const double *res_lo, const double *res_hi,
                   double *c_lo, double *c_hi, double *z);

// Res = B - A X (n x nrhs, ld nrhs) exactly rounded to nearest, from negA =
// -A (ld n).  Eight or more right-hand sides go through the Ozaki product
// (gemm as given; null is its own product), fewer through residual_rows per
// column; both give the same bits.  t and q are scratch vectors of n
// doubles, so nothing is allocated here.  Returns 0, or -1 when the Ozaki
// product fails (Res then incomplete).
int residuals(uint64_t n, uint64_t nrhs, const double *negA, const double *X, const double *b,
              uint64_t ldb, double *Res, double *t, double *q, norva_gemm_fn gemm, void *ctx);

// ---- verified bounds --------------------------------------------------------

// W >= |I - R A| entrywise.  Returns 0 (floating-point bound, mode 1), 1
// (exact bound) or -1.  R is modified during the call and restored exactly.
int32_t bound_c(uint64_t n, const double *a, uint64_t lda, double *R, double *W, int32_t mode,
                norva_gemm_fn gemm, void *ctx);

// Contraction test z + W y < y by inflation (at most 12 sweeps); on success
// out_lo, out_hi enclose x (+ x_lo, which may be null) + [c_lo - W y, c_hi + W y]
// and the result is 0; otherwise 1 (also when an end overflows; the outputs
// are then scratch).  A row
// whose c_lo or c_hi is NaN never passes, even when z (whose maximum ignores
// one NaN end) is finite.
int boxed(uint64_t n, const double *W, const double *x, const double *x_lo, const double *c_lo,
          const double *c_hi, const double *z, double *y, double *t1, double *t2, double *out_lo,
          double *out_hi, struct hull_state *h = nullptr, bool interval = false);

// The approximate inverse of I - W and its rigorous bounds, formed at most
// once per solve, when a column first needs them (hull.cpp).
struct hull_state {
    uint64_t n = 0;
    bool tried = false, bounds_tried = false;
    double *Mt = nullptr;                                        // ~ (I - W)^-1
    double *mu_lo = nullptr, *mu_hi = nullptr, *colmax = nullptr;  // see hull.cpp
    double m = 0;                                                // >= ||(I - W)^-1||_inf
    double w_sum = -1;  // largest row sum of W, once a column has asked
    hull_state() = default;
    hull_state(const hull_state &) = delete;
    hull_state &operator=(const hull_state &) = delete;
    ~hull_state();
};

// Mt = an approximate inverse of I - W (once); false without it.
bool hull_inverse(uint64_t n, const double *W, hull_state *h);
// The bounds of the hull (once); false when they cannot be formed.
bool hull_bounds(uint64_t n, const double *W, hull_state *h);
// Candidate y ~ (I - W)^-1 z enlarged (attempt 0, 1, 2: growing margins).
bool hull_candidate(uint64_t n, const double *W, const double *z, double *y, hull_state *h,
                    int attempt);
// [e_lo, e_hi] encloses the hull of the errors of the preconditioned system
// with right-hand sides in [c_lo, c_hi]; valid only once the contraction
// test has passed for this W.  scratch: 2n doubles.
bool hull_tighten(uint64_t n, const double *W, hull_state *h, const double *c_lo,
                  const double *c_hi, double *e_lo, double *e_hi, double *scratch);

}  // namespace norva

#endif
