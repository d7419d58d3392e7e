// Residual kernels of the dense solver: exact residuals rounded once, the
// plain update x += R res, the interval residual, and the enclosure of R
// times a residual interval by directed exact dot products.
//
// Every region splits its rows statically; each row is computed by one
// thread with its own accumulator, so the results do not depend on the
// number of threads.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "common/fenv_guard.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "common/small_sum.h"
#include "norva/solve.h"
#include "common/verdict.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr uint64_t rows_threshold = 64;     // exact row regions
constexpr uint64_t update_threshold = 256;  // plain update x += R res

constexpr uint32_t rnd_nearest = 0, rnd_up = 1, rnd_down = 2;

// max(|a|, |b|) where a NaN operand is ignored (NaN only if both are NaN).
inline double abs_max(double a, double b) { return std::fmax(std::fabs(a), std::fabs(b)); }

// Rows of at most this many products go to a small expansion first.
constexpr uint64_t short_row = 16;

// p + sum_j m[j] v[j], exactly, rounded to nearest: the small expansion
// when it decides the rounding, else the long accumulator (same value).
double exact_row(const double *m, const double *v, uint64_t n, double p, qxsum_acc *acc) {
    if (n <= short_row) {
        small_sum s;
        small_init(s);
        for (uint64_t j = 0; j < n; ++j) small_add_product(s, m[j], v[j]);
        small_add(s, p);
        double r;
        if (small_round_mode(s, rnd_nearest, &r)) return r;
    }
    qxsum_init(acc);
    qxsum_add_dot(acc, m, v, n);
    qxsum_add(acc, &p, 1);
    return qxsum_round(acc, rnd_nearest);
}

}  // namespace

void residual_rows(uint64_t n, const double *M, uint64_t ldm, const double *v, const double *p,
                   double *out) {
    for_shares(n, n, rows_threshold, [&](share s) {
        qxsum_acc acc;
        for (uint64_t i = s.begin; i < s.end; ++i) out[i] = exact_row(M + i * ldm, v, n, p[i], &acc);
    });
}

void column_update(uint64_t n, const double *R, const double *res, double *x) {
    for_shares(n, n, update_threshold, [&](share s) {
        for (uint64_t i = s.begin; i < s.end; ++i) {
            const double *r = R + i * n;
            double sum = 0.0;
            for (uint64_t j = 0; j < n; ++j) {
                const double prod = r[j] * res[j];
                sum = sum + prod;
            }
            x[i] = x[i] + sum;
        }
    });
}

void column_interval_residual(uint64_t n, const double *a, uint64_t lda, const double *b,
                              const double *rad_a, const double *rb, const double *neg_x,
                              const double *absx2, double *res_lo, double *res_hi) {
    const double *abs_x = absx2, *neg_abs_x = absx2 + n;
    for_shares(n, n, rows_threshold, [&](share s) {
        qxsum_acc acc;
        for (uint64_t i = s.begin; i < s.end; ++i) {
            const double *ai = a + i * lda, *ri = rad_a + i * n;
            // lower end: b_i - rb_i - a_i x - rad_a_i |x|
            const double lo_terms[2] = {b[i], -rb[i]};
            qxsum_init(&acc);
            qxsum_add_dot(&acc, ai, neg_x, n);
            qxsum_add_dot(&acc, ri, neg_abs_x, n);
            qxsum_add(&acc, lo_terms, 2);
            res_lo[i] = qxsum_round(&acc, rnd_down);
            // upper end: b_i + rb_i - a_i x + rad_a_i |x|
            const double hi_terms[2] = {b[i], rb[i]};
            qxsum_init(&acc);
            qxsum_add_dot(&acc, ai, neg_x, n);
            qxsum_add_dot(&acc, ri, abs_x, n);
            qxsum_add(&acc, hi_terms, 2);
            res_hi[i] = qxsum_round(&acc, rnd_up);
        }
    });
}

int column_enclose(uint64_t n, const double *R, const double *res_lo, const double *res_hi,
                   double *c_lo, double *c_hi, double *z) {
    uint32_t failed = 0;
    for_shares(n, n, rows_threshold, [&](share s) {
        double *ends = alloc<double>(n);
        if (ends == nullptr) {
            verdict_set(&failed, 1u);
        } else {
            for (uint64_t i = s.begin; i < s.end; ++i) {
                const double *r = R + i * n;
                // A zero of either sign counts as non-negative, NaN as negative.
                for (uint64_t j = 0; j < n; ++j) ends[j] = r[j] >= 0.0 ? res_lo[j] : res_hi[j];
                const double lo = qxdot(r, ends, n, rnd_down);
                for (uint64_t j = 0; j < n; ++j) ends[j] = r[j] >= 0.0 ? res_hi[j] : res_lo[j];
                const double hi = qxdot(r, ends, n, rnd_up);
                c_lo[i] = lo;
                c_hi[i] = hi;
                z[i] = abs_max(lo, hi);
            }
        }
        std::free(ends);
    });
    return failed ? -1 : 0;
}

int residuals(uint64_t n, uint64_t nrhs, const double *negA, const double *X, const double *b,
              uint64_t ldb, double *Res, double *t, double *q, norva_gemm_fn gemm, void *ctx) {
    if (nrhs > 7) {
        // Res = B, then Res = (-A) X + 1.0 Res, every entry rounded once.
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t k = 0; k < nrhs; ++k) Res[i * nrhs + k] = b[i * ldb + k];
        return qxgemm_oz(n, nrhs, n, negA, n, X, nrhs, Res, 1.0, nrhs, rnd_nearest, gemm, ctx) == 0
                   ? 0
                   : -1;
    }
    for (uint64_t k = 0; k < nrhs; ++k) {
        for (uint64_t i = 0; i < n; ++i) {
            t[i] = X[i * nrhs + k];
            q[i] = b[i * ldb + k];
        }
        residual_rows(n, negA, n, t, q, q);
        for (uint64_t i = 0; i < n; ++i) Res[i * nrhs + k] = q[i];
    }
    return 0;
}

}  // namespace norva
