// The dense solve driver: approximate inverse, verified bound W of |I - R A|,
// one attempt to improve R, dispatch to the blocked (mode 1) and
// double-length (mode 2) paths, the radius of an interval matrix, and the
// per-column path of modes 0 and 1.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "norva/dense.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/scratch.h"
#include "norva/solve.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// Vectors of n doubles in the block of the per-column path.
enum vec_slot : uint64_t {
    v_x,       // approximate solution
    v_res,     // residual, later its lower end
    v_negx,    // -x
    v_clo,     // enclosure of R times the residual
    v_chi,
    v_z,       // max(|c_lo|, |c_hi|)
    v_y,       // candidate error bound of the contraction test
    v_t1,      // scratch of the contraction test
    v_t2,
    v_reshi,   // upper end of the residual
    v_b,       // column of b
    v_outlo,   // result of the contraction test
    v_outhi,
    v_rb,      // column of rad_b
    v_count
};


// R <- inv(R A) R, once.  Returns true when R was replaced; any failure
// leaves R as it was.
bool improve(uint64_t n, const double *a, uint64_t lda, double *R, norva_gemm_fn gemm,
             void *ctx) {
    freer<2> mem;
    double *T = mem.own(alloc<double>(n * n));
    double *Y = mem.own(alloc<double>(n * n));
    if (T == nullptr || Y == nullptr) return false;
    gemm(n, n, n, R, n, a, lda, T, n, ctx);
    if (inverse(n, T, n, Y) != 0) return false;
    gemm(n, n, n, Y, n, R, n, T, n, ctx);
    if (!all_finite(T, n, n, n)) return false;
    std::memcpy(R, T, n * n * sizeof(double));
    return true;
}

// W <- W + |R| rad_a, rounded upward: exactly in mode 0, from a floating-point
// product with a priori constants in mode 1.  Returns 0 or -1.
int add_radius(uint64_t n, const double *R, const double *rad_a, double *W, int32_t mode,
               norva_gemm_fn gemm, void *ctx) {
    freer<2> mem;
    double *D = mem.own(alloc<double>(n * n));
    double *C = mem.own(alloc<double>(n * n));
    if (D == nullptr || C == nullptr) return -1;
    for (uint64_t q = 0; q < n * n; ++q) D[q] = std::fabs(R[q]);
    if (mode == 0) {
        if (qxgemm_oz(n, n, n, D, n, rad_a, n, C, 0.0, n, 1, gemm, ctx) != 0) return -1;
    } else {
        gemm(n, n, n, D, n, rad_a, n, C, n, ctx);
        const double g = gamma_n(n);
        if (!(g < 0.5)) return -1;
        const double kappa = up(1.0 / (1.0 - g));
        const double eta = up(2.0 * ((double)n + 1.0) * realmin);
        for (uint64_t q = 0; q < n * n; ++q) C[q] = up(eta + up(kappa * C[q]));
    }
    for (uint64_t q = 0; q < n * n; ++q) {
        W[q] = up(W[q] + C[q]);
        if (!finite(W[q])) return -1;
    }
    return 0;
}

// One right-hand side through the per-column path: 0 with v[v_outlo],
// v[v_outhi] written, or 1 when the column is not proven.
int column(uint64_t n, const double *a, uint64_t lda, const double *rad_a, const double *R,
           const double *W, double *v, hull_state *h) {
    double *x = v + v_x * n, *res = v + v_res * n, *negx = v + v_negx * n;
    double *c_lo = v + v_clo * n, *c_hi = v + v_chi * n, *z = v + v_z * n, *y = v + v_y * n;
    double *t1 = v + v_t1 * n, *t2 = v + v_t2 * n, *res_hi = v + v_reshi * n;
    const double *bc = v + v_b * n, *rb = v + v_rb * n;
    double *out_lo = v + v_outlo * n, *out_hi = v + v_outhi * n;

    // x = R b, corrected twice with exact residuals.
    for (uint64_t i = 0; i < n; ++i) x[i] = 0.0;
    std::memcpy(res, bc, n * sizeof(double));
    for (int it = 0; it < 3; ++it) {
        column_update(n, R, res, x);
        if (it == 2) break;
        for (uint64_t i = 0; i < n; ++i) negx[i] = -x[i];
        residual_rows(n, a, lda, negx, bc, res);
    }
    for (uint64_t i = 0; i < n; ++i)
        if (!finite(x[i])) return 1;
    for (uint64_t i = 0; i < n; ++i) negx[i] = -x[i];

    // Enclosure [res, res_hi] of the exact residual.
    if (rad_a == nullptr) {
        residual_rows(n, a, lda, negx, bc, res);
        for (uint64_t i = 0; i < n; ++i) {
            const double d = res[i];
            res[i] = down(d);
            res_hi[i] = up(d);
        }
    } else {
        freer<1> mem;
        double *absx2 = mem.own(alloc<double>(2 * n));
        if (absx2 == nullptr) return 1;
        for (uint64_t i = 0; i < n; ++i) {
            absx2[i] = std::fabs(x[i]);
            absx2[n + i] = -std::fabs(x[i]);
        }
        column_interval_residual(n, a, lda, bc, rad_a, rb, negx, absx2, res, res_hi);
    }

    if (column_enclose(n, R, res, res_hi, c_lo, c_hi, z) != 0) return 1;
    return boxed(n, W, x, nullptr, c_lo, c_hi, z, y, t1, t2, out_lo, out_hi, h,
                 rad_a != nullptr) == 0
               ? 0
               : 1;
}

}  // namespace

// Largest row sum of W (each row to nearest, left to right); NaN sums are
// ignored, the result starts at 0.
double max_row_sum(uint64_t n, const double *W) {
    double s = 0;
    for (uint64_t i = 0; i < n; ++i) {
        double t = 0;
        for (uint64_t j = 0; j < n; ++j) t += W[i * n + j];
        if (t > s) s = t;
    }
    return s;
}

void fail_all(uint64_t n, uint64_t nrhs, double *x_lo, double *x_hi, uint64_t ldx) {
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t k = 0; k < nrhs; ++k) {
            x_lo[i * ldx + k] = -inf;
            x_hi[i * ldx + k] = inf;
        }
}

int32_t solve(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
              uint64_t ldb, const double *rad_a, const double *rad_b, const double *r,
              uint64_t ldr, double *x_lo, double *x_hi, uint64_t ldx, int32_t mode,
              norva_gemm_fn gemm, void *ctx) {
    fenv_guard env;
    return solve_in_env(n, nrhs, a, lda, b, ldb, rad_a, rad_b, r, ldr, x_lo, x_hi, ldx, mode, gemm,
                        ctx);
}

int32_t solve_in_env(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                     uint64_t ldb, const double *rad_a, const double *rad_b, const double *r,
                     uint64_t ldr, double *x_lo, double *x_hi, uint64_t ldx, int32_t mode,
                     norva_gemm_fn gemm, void *ctx) {
    if (gemm == nullptr) gemm = gemm_plain;

    // The radii come in pairs; an interval system is never solved with the
    // radii ignored, so the double-length path (which has no radius rule)
    // is not taken for one.
    const bool radii = rad_a != nullptr || rad_b != nullptr;
    if (radii && (rad_a == nullptr || rad_b == nullptr)) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    if (radii && mode == 2) mode = 0;

    if (too_big(n, n) || too_big(n, v_count)) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    freer<2> mem;
    double *R = mem.own(alloc<double>(n * n));
    double *W = mem.own(alloc<double>(n * n));
    if (R == nullptr || W == nullptr) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }

    if (r == nullptr) {
        if (inverse(n, a, lda, R) != 0) {
            fail_all(n, nrhs, x_lo, x_hi, ldx);
            return 1;
        }
    } else {
        for (uint64_t i = 0; i < n; ++i) std::memcpy(R + i * n, r + i * ldr, n * sizeof(double));
    }

    if (mode == 2) return solve_double(n, nrhs, a, lda, b, ldb, x_lo, x_hi, ldx, R, W, gemm, ctx);

    int32_t c = bound_c(n, a, lda, R, W, mode, gemm, ctx);
    if (c < 0) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    const double s = max_row_sum(n, W);
    if (s >= 0.5 && s <= dbl_max && improve(n, a, lda, R, gemm, ctx)) {
        c = bound_c(n, a, lda, R, W, mode, gemm, ctx);
        if (c < 0) {
            fail_all(n, nrhs, x_lo, x_hi, ldx);
            return 1;
        }
    }

    if (radii) {
        // With the exact bound of W the radius product is exact too.
        if (add_radius(n, R, rad_a, W, c == 1 ? 0 : mode, gemm, ctx) != 0) {
            fail_all(n, nrhs, x_lo, x_hi, ldx);
            return 1;
        }
    }
    return solve_with(n, nrhs, a, lda, b, ldb, rad_a, rad_b, R, W, c, x_lo, x_hi, ldx, mode, gemm,
                      ctx);
}

int32_t solve_with(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                   uint64_t ldb, const double *rad_a, const double *rad_b, const double *R,
                   const double *W, int32_t c, double *x_lo, double *x_hi, uint64_t ldx,
                   int32_t mode, norva_gemm_fn gemm, void *ctx) {
    if (gemm == nullptr) gemm = gemm_plain;
    const bool radii = rad_a != nullptr;
    if (!radii && mode == 1 && c == 0)
        return solve_blocked(n, nrhs, a, lda, b, ldb, x_lo, x_hi, ldx, R, W, gemm, ctx);
    freer<1> mem;
    double *v = too_big(n, v_count) ? nullptr : mem.own(alloc<double>(v_count * n));
    if (v == nullptr) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }

    int32_t status = 0;
    hull_state hull;  // formed when a column first needs it
    for (uint64_t k = 0; k < nrhs; ++k) {
        double *bc = v + v_b * n, *rb = v + v_rb * n;
        for (uint64_t i = 0; i < n; ++i) bc[i] = b[i * ldb + k];
        if (radii)
            for (uint64_t i = 0; i < n; ++i) rb[i] = rad_b[i * nrhs + k];
        if (column(n, a, lda, rad_a, R, W, v, &hull) == 0) {
            const double *out_lo = v + v_outlo * n, *out_hi = v + v_outhi * n;
            for (uint64_t i = 0; i < n; ++i) {
                x_lo[i * ldx + k] = out_lo[i];
                x_hi[i * ldx + k] = out_hi[i];
            }
        } else {
            for (uint64_t i = 0; i < n; ++i) {
                x_lo[i * ldx + k] = -inf;
                x_hi[i * ldx + k] = inf;
            }
            status = 1;
        }
    }
    return status;
}

}  // namespace norva
