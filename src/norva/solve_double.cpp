// Mode 2: the inverse as an unevaluated sum R + R_lo, refined by up to four
// steps R <- inv(R A) R with exact products, and every solution as a sum
// x_hi + x_lo, corrected six times with exact residuals.  The proof is the
// contraction test of boxed with W >= |I - (R + R_lo) A|.
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "norva/dense.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "norva/solve.h"
#include "common/steps.h"
#include "common/verdict.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr uint64_t serial_below = 64;

// Vectors of n doubles of the per-column work.
enum ext_slot : uint64_t {
    e_xhi,
    e_xlo,
    e_reslo,   // residual to nearest, later rounded downward
    e_reshi,   // residual rounded upward
    e_clo,
    e_chi,
    e_z,
    e_y,
    e_t1,
    e_t2,
    e_nxhi,    // -x_hi
    e_nxlo,    // -x_lo
    e_b,
    e_outlo,
    e_outhi,
    e_count
};

struct ext_args {
    uint64_t n;
    const double *a;
    uint64_t lda;
    const double *R, *R_lo;
    double *v;
    uint32_t failed;
};

// acc = b_i - a_i (x_hi + x_lo) exactly, from the negated parts.
void ext_residual(qxsum_acc *acc, const double *ai, const double *nxh, const double *nxl,
                  const double *bi, uint64_t n) {
    qxsum_init(acc);
    qxsum_add_dot(acc, ai, nxh, n);
    qxsum_add_dot(acc, ai, nxl, n);
    qxsum_add(acc, bi, 1);
}

// One correction of the two-part solution: res = b - A (x_hi + x_lo) rounded
// to nearest; then x_hi + x_lo + (R + R_lo) res exactly, split into a
// rounded leading part and the rounded remainder.
void column_ext_correct(ext_args *p) {
    const uint64_t n = p->n;
    double *v = p->v;
    double *xh = v + e_xhi * n, *xl = v + e_xlo * n, *res = v + e_reslo * n;
    const double *nxh = v + e_nxhi * n, *nxl = v + e_nxlo * n, *bc = v + e_b * n;
    on_team(team_size(n, serial_below), [&](uint64_t id, uint64_t t) {
        const share s = static_share(n, id, t);
        qxsum_acc acc;
        for (uint64_t i = s.begin; i < s.end; ++i) {
            ext_residual(&acc, p->a + i * p->lda, nxh, nxl, bc + i, n);
            res[i] = qxsum_round(&acc, 0);
        }
        if (t > 1) {
#pragma omp barrier
        }
        // Row i of the new solution replaces row i of the old one: the
        // residual phase above read only the negated copies.
        for (uint64_t i = s.begin; i < s.end; ++i) {
            qxsum_init(&acc);
            qxsum_add_dot(&acc, p->R + i * n, res, n);
            qxsum_add_dot(&acc, p->R_lo + i * n, res, n);
            qxsum_add(&acc, xh + i, 1);
            qxsum_add(&acc, xl + i, 1);
            const double hi = qxsum_round(&acc, 0);
            const double neg = -hi;
            qxsum_add(&acc, &neg, 1);
            xh[i] = hi;
            xl[i] = qxsum_round(&acc, 0);
        }
    });
}

// The exact residual of x_hi + x_lo rounded outward, and the enclosure
// [c_lo, c_hi] of (R + R_lo) times it with z = max(|c_lo|, |c_hi|).
// Sets p->failed when a thread could not allocate its scratch.
void column_ext_enclose(ext_args *p) {
    const uint64_t n = p->n;
    double *v = p->v;
    double *res_lo = v + e_reslo * n, *res_hi = v + e_reshi * n;
    double *c_lo = v + e_clo * n, *c_hi = v + e_chi * n, *z = v + e_z * n;
    const double *nxh = v + e_nxhi * n, *nxl = v + e_nxlo * n, *bc = v + e_b * n;
    on_team(team_size(n, serial_below), [&](uint64_t id, uint64_t t) {
        const share s = static_share(n, id, t);
        qxsum_acc acc;
        for (uint64_t i = s.begin; i < s.end; ++i) {
            ext_residual(&acc, p->a + i * p->lda, nxh, nxl, bc + i, n);
            res_lo[i] = qxsum_round(&acc, 2);
            res_hi[i] = qxsum_round(&acc, 1);
        }
        if (t > 1) {
#pragma omp barrier
        }
        double *sel = alloc<double>(2 * n);
        if (sel == nullptr) {
            verdict_set(&p->failed, 1);
        } else {
            double *s1 = sel, *s2 = sel + n;
            for (uint64_t i = s.begin; i < s.end; ++i) {
                const double *ri = p->R + i * n, *li = p->R_lo + i * n;
                for (uint64_t j = 0; j < n; ++j) {
                    s1[j] = ri[j] >= 0 ? res_lo[j] : res_hi[j];
                    s2[j] = li[j] >= 0 ? res_lo[j] : res_hi[j];
                }
                qxsum_init(&acc);
                qxsum_add_dot(&acc, ri, s1, n);
                qxsum_add_dot(&acc, li, s2, n);
                const double lo = qxsum_round(&acc, 2);
                for (uint64_t j = 0; j < n; ++j) {
                    s1[j] = ri[j] >= 0 ? res_hi[j] : res_lo[j];
                    s2[j] = li[j] >= 0 ? res_hi[j] : res_lo[j];
                }
                qxsum_init(&acc);
                qxsum_add_dot(&acc, ri, s1, n);
                qxsum_add_dot(&acc, li, s2, n);
                const double hi = qxsum_round(&acc, 1);
                c_lo[i] = lo;
                c_hi[i] = hi;
                z[i] = std::fmax(std::fabs(lo), std::fabs(hi));
            }
        }
        std::free(sel);
    });
}


// Refines R + R_lo and leaves W >= |I - (R + R_lo) A| for the final pair.
// Returns 0, or -1 when scratch is missing or an exact product fails.
int refine(uint64_t n, const double *a, uint64_t lda, double *R, double *R_lo, double *W,
           norva_gemm_fn gemm, void *ctx) {
    freer<5> mem;
    double *AA = mem.own(alloc<double>(2 * n * n));
    double *RRw = mem.own(alloc<double>(2 * n * n));
    double *C = mem.own(alloc<double>(n * n));
    double *Y = mem.own(alloc<double>(n * n));
    double *RRt = mem.own(alloc<double>(2 * n * n));
    if (AA == nullptr || RRw == nullptr || C == nullptr || Y == nullptr || RRt == nullptr)
        return -1;
    for (uint64_t i = 0; i < n; ++i) {
        std::memcpy(AA + i * n, a + i * lda, n * sizeof(double));
        std::memcpy(AA + (n + i) * n, a + i * lda, n * sizeof(double));
    }
    for (int it = 0;; ++it) {
        for (uint64_t i = 0; i < n; ++i) {
            std::memcpy(RRw + i * 2 * n, R + i * n, n * sizeof(double));
            std::memcpy(RRw + i * 2 * n + n, R_lo + i * n, n * sizeof(double));
            for (uint64_t j = 0; j < n; ++j) C[i * n + j] = i == j ? -1.0 : -0.0;
        }
        // C = (R + R_lo) A - I, rounded once.
        if (qxgemm_oz(n, n, 2 * n, RRw, 2 * n, AA, n, C, 1.0, n, 0, gemm, ctx) != 0) return -1;
        for (uint64_t q = 0; q < n * n; ++q) W[q] = up(std::fabs(C[q]));
        if (it == 4 || !(max_row_sum(n, W) >= 0.5)) return 0;

        for (uint64_t i = 0; i < n; ++i) C[i * n + i] += 1.0;
        if (inverse(n, C, n, Y) != 0) return 0;
        for (uint64_t i = 0; i < n; ++i) {
            std::memcpy(RRt + i * n, R + i * n, n * sizeof(double));
            std::memcpy(RRt + (n + i) * n, R_lo + i * n, n * sizeof(double));
            std::memcpy(RRw + i * 2 * n, Y + i * n, n * sizeof(double));
            std::memcpy(RRw + i * 2 * n + n, Y + i * n, n * sizeof(double));
        }
        // New R = Y (R + R_lo) rounded; new R_lo = the exact rest, rounded.
        if (qxgemm_oz(n, n, 2 * n, RRw, 2 * n, RRt, n, R, 0.0, n, 0, gemm, ctx) != 0) return -1;
        std::memcpy(R_lo, R, n * n * sizeof(double));
        if (qxgemm_oz(n, n, 2 * n, RRw, 2 * n, RRt, n, R_lo, -1.0, n, 0, gemm, ctx) != 0)
            return -1;
    }
}

}  // namespace

int32_t solve_double(uint64_t n, uint64_t nrhs, const double *a, uint64_t lda, const double *b,
                     uint64_t ldb, double *x_lo, double *x_hi, uint64_t ldx, double *R, double *W,
                     norva_gemm_fn gemm, void *ctx) {
    if (n > UINT64_MAX / sizeof(double) / 16 / n) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    freer<2> mem;
    double *R_lo = mem.own(alloc_zero<double>(n * n));
    double *v = mem.own(alloc<double>(e_count * n));
    if (R_lo == nullptr || v == nullptr || refine(n, a, lda, R, R_lo, W, gemm, ctx) != 0) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }

    double *xh = v + e_xhi * n, *xl = v + e_xlo * n, *nxh = v + e_nxhi * n, *nxl = v + e_nxlo * n;
    double *bc = v + e_b * n;
    ext_args args{n, a, lda, R, R_lo, v, 0};
    int32_t status = 0;
    hull_state hull;  // formed when a column first needs it
    for (uint64_t k = 0; k < nrhs; ++k) {
        for (uint64_t i = 0; i < n; ++i) {
            bc[i] = b[i * ldb + k];
            xh[i] = xl[i] = 0.0;
        }
        for (int it = 0; it < 6; ++it) {
            for (uint64_t i = 0; i < n; ++i) {
                nxh[i] = -xh[i];
                nxl[i] = -xl[i];
            }
            column_ext_correct(&args);
        }
        bool ok = true;
        for (uint64_t i = 0; i < n && ok; ++i) ok = finite(xh[i]) && finite(xl[i]);
        if (ok) {
            for (uint64_t i = 0; i < n; ++i) {
                nxh[i] = -xh[i];
                nxl[i] = -xl[i];
            }
            args.failed = 0;
            column_ext_enclose(&args);
            ok = args.failed == 0 &&
                 boxed(n, W, xh, xl, v + e_clo * n, v + e_chi * n, v + e_z * n, v + e_y * n,
                       v + e_t1 * n, v + e_t2 * n, v + e_outlo * n, v + e_outhi * n, &hull) == 0;
        }
        const double *out_lo = v + e_outlo * n, *out_hi = v + e_outhi * n;
        for (uint64_t i = 0; i < n; ++i) {
            x_lo[i * ldx + k] = ok ? out_lo[i] : -inf;
            x_hi[i * ldx + k] = ok ? out_hi[i] : inf;
        }
        if (!ok) status = 1;
    }
    return status;
}

}  // namespace norva
