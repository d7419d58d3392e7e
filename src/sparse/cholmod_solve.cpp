// The sparse Cholesky path: the driver of the solve and of the proof of
// positive definiteness over CHOLMOD's factor.
//
// M = A (symmetric A) or M = A^T A.  The factor of M - sigma I with a small
// shift sigma = up(dmax 4 c u) (dmax the largest diagonal entry of M, c the
// largest column count of the factor) serves inverse iteration (mu ~
// lambda_min(M)) and the refinement of a double-double solution with
// double-double residuals.  Then the factor is overwritten by that of
// M - tau I, tau = mu / 2 (halved on failure, three tries while tau stays
// above sigma), whose a priori error bound e gives lambda = tau - e; when
// that is not positive, the sigma factor (factored again) and its bound
// give the larger of the two.  For the
// normal equations, the rounding of the entries of M that CHOLMOD forms
// from A is part of the error bound.  The solution error is then at most
// ||r||_2 / lambda (M = A) or ||r||_2 / sqrt(lambda) (M = A^T A, sigma_min(A)^2
// = lambda_min(A^T A)) with r = b - A x bounded exactly (mode 0) or by the
// double-double residual and its a priori error (mode 1); that one radius
// is subtracted from and added to every component.
#include <cmath>
#include <cstring>
#include <limits>

#include "common/double_double.h"
#include "common/finite.h"
#include "common/norm_up.h"
#include "common/scratch.h"
#include "common/start_vector.h"
#include "common/steps.h"
#include "common/tight_shift.h"
#include "qxsum/qxsum.h"
#include "sparse/cholmod_factor.h"
#include "sparse/csr.h"
#include "sparse/residual.h"

namespace norva::sparse {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// Releases the analysis when the call ends.
struct analysis_guard {
    analysis *an;
    ~analysis_guard() { release(an); }
};

// s - e rounded downward; -inf for an e that is NaN.
double lower_of(double s, double e) {
    if (std::isnan(e)) return -inf;
    const double t[2] = {s, -e};
    return qxsum(t, 2, 2);
}

// The magnitudes of the terms of M and the largest diagonal entry of M (in
// floating point: it only sizes the shift).  scratch: n doubles and n
// counts.
m_terms terms_of_m(const csr &A, int32_t normal, double *rows, uint64_t *counts, double *dmax) {
    const uint64_t n = A.n;
    m_terms m{0, 1};
    *dmax = 0;
    if (!normal) {
        for (uint64_t i = 0; i < n; ++i) {
            double s = 0;
            for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e) {
                s = up(s + std::fabs(A.val[e]));
                if (A.col_idx[e] == i) *dmax = std::fmax(*dmax, A.val[e]);
            }
            m.row_sum = std::fmax(m.row_sum, s);
        }
        return m;
    }
    // |A|^T (|A| 1): the row sums of |A|, then scattered by columns; the
    // diagonal of A^T A is the sum of squares of each column.
    double *z = rows;
    std::memset(z, 0, n * sizeof(double));
    m.terms = max_column_count(A, counts);
    double *sq = (double *)counts;  // the counts are no longer needed
    std::memset(sq, 0, n * sizeof(double));
    for (uint64_t k = 0; k < n; ++k) {
        double s = 0;
        for (uint64_t e = A.row_ptr[k]; e < A.row_ptr[k + 1]; ++e) s = up(s + std::fabs(A.val[e]));
        for (uint64_t e = A.row_ptr[k]; e < A.row_ptr[k + 1]; ++e) {
            const uint64_t i = A.col_idx[e];
            z[i] = up(z[i] + up(std::fabs(A.val[e]) * s));
            sq[i] = sq[i] + A.val[e] * A.val[e];
        }
    }
    for (uint64_t i = 0; i < n; ++i) {
        m.row_sum = std::fmax(m.row_sum, z[i]);
        *dmax = std::fmax(*dmax, sq[i]);
    }
    if (!finite(m.row_sum)) m.row_sum = inf;
    return m;
}

// mu ~ lambda_min(M) by inverse iteration with the factor of M - sigma I:
// at most twelve rounds, fewer once the norm settles to 2^-5 (the shift
// taken from it is half the estimate); sigma when
// the iteration breaks down; NaN when memory ran out.
double estimate(analysis *an, uint64_t n, double sigma, double *v) {
    start_vector(n, v);
    double nu = 0, last = 0;
    for (int round = 0; round < 12; ++round) {
        if (!solve(an, v)) return std::numeric_limits<double>::quiet_NaN();
        nu = norm2_any_scale(n, v);
        if (!(nu > 0) || nu > dbl_max) return sigma;
        for (uint64_t k = 0; k < n; ++k) v[k] = v[k] / nu;
        if (round >= 2 && std::fabs(nu - last) <= nu * 0x1p-5) break;
        last = nu;
    }
    return sigma + 1.0 / nu;
}

// Vectors of a call.
struct work {
    double *hi, *lo, *r, *y;
    double *rows;
    uint64_t *counts;
};

// y = A^T r, rows visited in order.
void transpose_times(const csr &A, const double *r, double *y) {
    std::memset(y, 0, A.n * sizeof(double));
    for (uint64_t i = 0; i < A.n; ++i)
        for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e)
            y[A.col_idx[e]] = y[A.col_idx[e]] + A.val[e] * r[i];
}

// Refinement of hi + lo with the current factor: at most 10 steps,
// stopping once no high part changes, or from the third step on once the
// largest correction is below 2^-104 of the largest high part (the radius
// is normwise, so smaller corrections no longer matter).  False when
// memory ran out.
bool refine(const csr &A, analysis *an, const double *b, const work &wk, int32_t *steps) {
    const uint64_t n = A.n;
    std::memset(wk.hi, 0, n * sizeof(double));
    std::memset(wk.lo, 0, n * sizeof(double));
    for (int it = 0; it < 10; ++it) {
        residual_dd(A, b, wk.hi, wk.lo, wk.r);
        double *y = wk.y;
        if (an->normal) transpose_times(A, wk.r, y);
        else std::memcpy(y, wk.r, n * sizeof(double));
        if (!solve(an, y)) return false;
        bool changed = false;
        double ymax = 0, hmax = 0;
        for (uint64_t k = 0; k < n; ++k) {
            ymax = std::fmax(ymax, std::fabs(y[k]));
            changed |= dd_add(wk.hi[k], wk.lo[k], y[k]);
            hmax = std::fmax(hmax, std::fabs(wk.hi[k]));
        }
        *steps = it + 1;
        if (it >= 2 && (!changed || ymax <= hmax * 0x1p-104)) break;
    }
    return true;
}

// The proof of lambda <= lambda_min(M).  With b given, the solution is
// refined with the sigma factor on the way.  Returns the best bound (-inf
// when none was formed); *memory is set when memory ran out.
double prove(const csr &A, analysis *an, int32_t mode, const double *b, const work &wk,
             bool *memory, report *info) {
    // (the factor's error bound is a priori in both modes; the mode only
    // sets how close to the estimate the first shift goes)
    const uint64_t n = A.n;
    double dmax;
    const m_terms m = terms_of_m(A, an->normal, wk.rows, wk.counts, &dmax);
    if (!(dmax > 0) || dmax > dbl_max) return -inf;
    const double c = (double)predicted_column_count(an);
    const double sigma = up(dmax * ((c * 4.0) * unit_roundoff));
    factored f = factor(an, sigma);
    ++info->factorizations;
    if (f != factored::ok) {
        *memory = f == factored::no_memory;
        return -inf;
    }
    const double mu = estimate(an, n, sigma, wk.r);
    const tight_search how = tight_search_of(mode);
    const double settled =
        std::isnan(mu) ? 0
                       : settled_estimate(n, sigma, wk.r, wk.y, how.rounds, how.tolerance,
                                          [&](double *x) { return solve(an, x); });
    if (std::isnan(mu) || (b && !refine(A, an, b, wk, &info->refinements))) {
        *memory = true;
        return -inf;
    }
    // First a shift just below the settled estimate (common/tight_shift.h),
    // kept when it proves more than mu / 2, which the shifts below cannot
    // exceed.
    bool sigma_current = true;
    double t_shift = 0, t_err = 0;
    const double tight = tight_bound(
        settled, std::fmax(settled * how.margin, sigma), mu * 0.5, [&](double t, double *bound) {
            sigma_current = false;
            f = factor(an, t);
            ++info->factorizations;
            if (f == factored::no_memory) return -1;
            if (f != factored::ok) return 0;
            t_shift = t;
            t_err = factor_error(an, m, t, info);
            *bound = lower_of(t, t_err);
            return 1;
        });
    if (tight > mu * 0.5) {
        info->shift = t_shift;
        info->error = t_err;
        info->lambda = tight;
        return tight;
    }
    double best = -inf;
    double tau = mu * 0.5;
    for (int tries = 0; sigma < tau && tries < 3; ++tries) {
        sigma_current = false;
        f = factor(an, tau);
        ++info->factorizations;
        if (f == factored::no_memory) break;
        if (f != factored::ok) {
            tau = tau * 0.5;
            continue;
        }
        const double e1 = factor_error(an, m, tau, info);
        best = lower_of(tau, e1);
        info->shift = tau;
        info->error = e1;
        break;
    }
    if (!(best > 0)) {
        f = sigma_current ? factored::ok : factor(an, sigma);
        info->factorizations += sigma_current ? 0 : 1;
        if (f == factored::ok) {
            const double e0 = factor_error(an, m, sigma, info);
            const double l0 = lower_of(sigma, e0);
            if (l0 > best || std::isinf(best)) {
                best = std::fmax(best, l0);
                info->shift = sigma;
                info->error = e0;
            }
        } else if (f == factored::no_memory && std::isinf(best)) {
            *memory = true;
        }
    }
    info->lambda = best;
    return best;
}

bool allocate(uint64_t n, freer<6> &mem, work &wk) {
    if (too_big(n, 8)) return false;
    wk.hi = mem.own(alloc<double>(n));
    wk.lo = mem.own(alloc<double>(n));
    wk.r = mem.own(alloc<double>(n));
    wk.y = mem.own(alloc<double>(n));
    wk.rows = mem.own(alloc<double>(n));
    wk.counts = mem.own(alloc<uint64_t>(n));
    return wk.hi && wk.lo && wk.r && wk.y && wk.rows && wk.counts;
}

}  // namespace

result cholesky_solve(const csr &A, int32_t normal, analysis *an, const double *b, double *x_lo,
                      double *x_hi, int32_t mode, report *info) {
    analysis_guard guard{an};
    const uint64_t n = A.n;
    info->normal = normal;
    freer<6> mem;
    work wk{};
    if (!allocate(n, mem, wk)) return result::no_memory;
    bool memory = false;
    const double lambda = prove(A, an, mode, b, wk, &memory, info);
    if (memory) return result::no_memory;
    if (!(lambda > 0)) return result::unproven;

    residual_bound(A, b, wk.hi, wk.lo, wk.r, mode);
    const double rho = norm2_up(wk.r, n);
    const double q = normal ? std::nextafter(std::sqrt(lambda), 0.0) : lambda;
    const double delta = up(rho / q);
    if (!finite(delta) || !(q > 0)) return result::unproven;
    info->radius = delta;
    dd_enclose(n, wk.hi, wk.lo, delta, x_lo, x_hi);
    return result::proven;
}

result cholesky_spd(const csr &A, analysis *an, int32_t mode, double *lower, report *info) {
    analysis_guard guard{an};
    freer<6> mem;
    work wk{};
    if (!allocate(A.n, mem, wk)) return result::no_memory;
    bool memory = false;
    *lower = prove(A, an, mode, nullptr, wk, &memory, info);
    if (*lower > 0) return result::proven;
    return memory && std::isinf(*lower) ? result::no_memory : result::unproven;
}

}  // namespace norva::sparse
