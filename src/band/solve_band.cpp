// The band solve driver: a symmetric positive definite band matrix M (A
// itself, or A^T A when A is not symmetric or the symmetric attempt fails)
// is factored with a small shift sigma; inverse iteration estimates
// lambda_min(M); a larger shifted factorization, or the sigma one, and its
// verified error bound give lambda <= lambda_min(M); a double-double
// solution refined with double-double residuals then has the exact residual
// r, and ||x* - x||_2 <= ||r||_2 / lambda (symmetric) or ||r||_2 / sqrt(lambda)
// (normal equations), the same radius for every component.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "band/band.h"
#include "band/rows.h"
#include "common/double_double.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/norm_up.h"
#include "common/scratch.h"
#include "common/start_vector.h"
#include "common/steps.h"
#include "common/tight_shift.h"
#include "norva.h"
#include "qxsum/qxsum.h"

namespace norva::band {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// A(i, j) inside the clamped band; 0 outside.
inline double entry(const band_view &A, uint64_t i, uint64_t j) {
    if (j + A.kl < i || j > i + A.ku) return 0.0;
    return A.ab[i * (A.ldab - 1) + A.diag_pos + j];
}

// Vectors of the call, allocated once.
struct work {
    double *hi, *lo;     // the double-double solution
    double *v;           // inverse iteration, then residual, then its magnitudes
    double *y;           // correction
    double *neg_hi, *neg_lo;
    double *r;           // exact residual
};

// M in lower band storage (half bandwidth w): A itself, or A^T A with every
// entry summed over k ascending from +0, each product rounded, then added.
void fill_m(const band_view &A, int32_t normal, uint64_t w, double *M) {
    const uint64_t n = A.n;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t j0 = i > w ? i - w : 0;
        double *row = M + i * (w + 1);  // row[w + j - i] = M(i, j)
        for (uint64_t j = j0; j <= i; ++j) {
            if (!normal) {
                row[w + j - i] = entry(A, i, j);
                continue;
            }
            double s = 0.0;
            const uint64_t k0 = i > A.ku ? i - A.ku : 0;
            const uint64_t k1 = j + A.kl < n - 1 ? j + A.kl : n - 1;
            for (uint64_t k = k0; k <= k1; ++k) s = s + entry(A, k, i) * entry(A, k, j);
            row[w + j - i] = s;
        }
    }
}

// mu ~ lambda_min(M) from the factor of M - sigma I by twelve rounds of
// inverse iteration; sigma when the iteration breaks down.
double estimate(uint64_t n, uint64_t w, const double *L, double sigma, double *v) {
    start_vector(n, v);
    double nu = 0;
    for (int round = 0; round < 12; ++round) {
        lsolve(n, w, L, v);
        ltsolve(n, w, L, v);
        nu = norm2_any_scale(n, v);
        if (!(nu > 0) || nu > dbl_max) return sigma;
        for (uint64_t k = 0; k < n; ++k) v[k] = v[k] / nu;
    }
    return sigma + 1.0 / nu;
}

// s - e rounded downward; -inf for a NaN e.
double lower_of(double s, double e) {
    if (std::isnan(e)) return -inf;
    const double t[2] = {s, -e};
    return qxsum(t, 2, 2);
}

// The best proven lambda <= lambda_min(M): from a shift just below the
// settled estimate when that proves more than mu / 2; otherwise from the
// sigma factor and, when it works, a factor with the larger shift tau =
// mu / 2 (halved on failure, three tries while tau stays above sigma);
// -inf when no bound was formed.
// A bound that is not positive proves nothing about definiteness.
// *shift and *err receive the shift and the error bound that gave it.
double lower_bound(const band_view &A, int32_t normal, uint64_t w, const double *M,
                   const double *Ls, double *Lt, double sigma, double mu, double settled,
                   int32_t mode, double *shift, double *err) {
    const uint64_t n = A.n;
    // First a shift just below the settled estimate (common/tight_shift.h),
    // kept when it proves more than half the first estimate, which the
    // shifts below cannot exceed.
    double t_shift = 0, t_err = 0;
    const double tight = tight_bound(
        settled, std::fmax(settled * tight_search_of(mode).margin, sigma), mu * 0.5,
        [&](double t, double *bound) {
            if (chol(n, w, M, Lt, t) != 0) return 0;
            t_shift = t;
            t_err = bound_e(&A, normal, w, Lt, mode, t);
            *bound = lower_of(t, t_err);
            return 1;
        });
    if (tight > mu * 0.5) {
        *shift = t_shift;
        *err = t_err;
        return tight;
    }
    double tau = mu * 0.5;
    for (int tries = 0; sigma < tau && tries < 3; ++tries) {
        if (chol(n, w, M, Lt, tau) != 0) {
            tau = tau * 0.5;
            continue;
        }
        const double e1 = bound_e(&A, normal, w, Lt, mode, tau);
        const double l1 = lower_of(tau, e1);
        *shift = tau;
        *err = e1;
        if (l1 > 0) return l1;
        const double e2 = bound_e(&A, normal, w, Ls, mode, sigma);
        if (std::isnan(e2)) return l1;
        const double l2 = lower_of(sigma, e2);
        if (l2 > l1) {
            *shift = sigma;
            *err = e2;
        }
        return std::fmax(l2, l1);
    }
    const double e = bound_e(&A, normal, w, Ls, mode, sigma);
    *shift = sigma;
    *err = e;
    return lower_of(sigma, e);
}

// M in lower band storage, its sigma factor and the start of the proof: the
// largest diagonal entry, sigma = up(dmax 4 n u), the factor of M - sigma I
// and the estimate mu of lambda_min(M) (v: n doubles of scratch).  False
// when M has no positive diagonal entry or the factorization fails.
bool factor_sigma(const band_view &A, int32_t normal, uint64_t w, double *M, double *Ls,
                  double *v, double *sigma, double *mu, double *settled, int32_t mode) {
    const uint64_t n = A.n;
    fill_m(A, normal, w, M);
    double dmax = 0;
    for (uint64_t i = 0; i < n; ++i) dmax = std::fmax(dmax, M[i * (w + 1) + w]);
    if (!(dmax > 0) || dmax > dbl_max) return false;
    const double t = ((double)n * 4.0) * unit_roundoff;
    *sigma = up(dmax * t);
    if (chol(n, w, M, Ls, *sigma) != 0) return false;
    *mu = estimate(n, w, Ls, *sigma, v);
    freer<1> mem;
    double *y = mem.own(alloc<double>(n));
    const tight_search how = tight_search_of(mode);
    *settled = y == nullptr ? 0
                            : settled_estimate(n, *sigma, v, y, how.rounds, how.tolerance,
                                               [&](double *x) {
                                                   lsolve(n, w, Ls, x);
                                                   ltsolve(n, w, Ls, x);
                                                   return true;
                                               });
    return true;
}

// Iterative refinement of hi + lo with the sigma factor: at least 3, at most
// 10 iterations, stopping once no high part changes.
void refine(const band_view &A, const double *b, int32_t normal, uint64_t w, const double *L,
            const work &wk) {
    const uint64_t n = A.n;
    for (uint64_t k = 0; k < n; ++k) wk.hi[k] = wk.lo[k] = 0.0;
    for (int it = 0; it < 10; ++it) {
        residual_dd(&A, b, wk.hi, wk.lo, wk.v, n);
        double *y = wk.y;
        if (!normal) {
            std::memcpy(y, wk.v, n * sizeof(double));
        } else {
            for (uint64_t k = 0; k < n; ++k) y[k] = 0.0;
            for (uint64_t i = 0; i < n; ++i) {
                const band_row row = row_of(&A, i);
                for (uint64_t j = row.first; j <= row.last; ++j) y[j] = y[j] + row.at[j] * wk.v[i];
            }
        }
        lsolve(n, w, L, y);
        ltsolve(n, w, L, y);
        bool changed = false;
        for (uint64_t k = 0; k < n; ++k) changed |= dd_add(wk.hi[k], wk.lo[k], y[k]);
        if (it >= 2 && !changed) break;
    }
}

enum class outcome { proven, failed, too_wide };

// One attempt with the formulation `normal`: on success x_lo, x_hi are
// written.  too_wide: the radius of the symmetric formulation overflowed.
outcome attempt(const band_view &A, const double *b, int32_t normal, int32_t mode, const work &wk,
                double *x_lo, double *x_hi) {
    const uint64_t n = A.n;
    const uint64_t w = normal ? A.kl + A.ku : A.kl;
    if (too_big(n, w + 1)) return outcome::failed;
    double lambda;
    {
        freer<3> mem;
        double *M = mem.own(alloc<double>(n * (w + 1)));
        double *Ls = mem.own(alloc<double>(n * (w + 1)));
        double *Lt = mem.own(alloc<double>(n * (w + 1)));
        if (!M || !Ls || !Lt) return outcome::failed;
        double sigma, mu, settled, shift, err;
        if (!factor_sigma(A, normal, w, M, Ls, wk.v, &sigma, &mu, &settled, mode))
            return outcome::failed;
        lambda = lower_bound(A, normal, w, M, Ls, Lt, sigma, mu, settled, mode, &shift, &err);
        if (!(lambda > 0)) return outcome::failed;
        refine(A, b, normal, w, Ls, wk);
    }

    for (uint64_t k = 0; k < n; ++k) {
        wk.neg_hi[k] = -wk.hi[k];
        wk.neg_lo[k] = -wk.lo[k];
    }
    residual(&A, b, wk.r, wk.neg_hi, wk.neg_lo, n);
    for (uint64_t k = 0; k < n; ++k) wk.v[k] = up(std::fabs(wk.r[k]));
    const double rho = norm2_up(wk.v, n);
    double delta;
    if (!normal) {
        delta = up(rho / lambda);
        if (!finite(delta)) return outcome::too_wide;
    } else {
        const double q = std::nextafter(std::sqrt(lambda), 0.0);
        delta = up(rho / q);
        if (!finite(delta) || !(q > 0)) return outcome::failed;
    }
    dd_enclose(n, wk.hi, wk.lo, delta, x_lo, x_hi);
    return outcome::proven;
}

// Symmetric as doubles within the clamped band (+0 and -0 equal).
bool symmetric(const band_view &A) {
    if (A.kl != A.ku) return false;
    for (uint64_t r = 1; r < A.n; ++r)
        for (uint64_t c = r > A.kl ? r - A.kl : 0; c < r; ++c)
            if (entry(A, r, c) != entry(A, c, r)) return false;
    return true;
}

}  // namespace

double spd_lower(const band_view &A, int32_t mode, double *shift, double *err, bool *memory) {
    const uint64_t n = A.n, w = A.kl;
    *shift = *err = 0;
    *memory = true;
    if (too_big(n, w + 1)) return -inf;
    freer<4> mem;
    double *M = mem.own(alloc<double>(n * (w + 1)));
    double *Ls = mem.own(alloc<double>(n * (w + 1)));
    double *Lt = mem.own(alloc<double>(n * (w + 1)));
    double *v = mem.own(alloc<double>(n));
    if (!M || !Ls || !Lt || !v) return -inf;
    *memory = false;
    double sigma, mu, settled;
    if (!factor_sigma(A, 0, w, M, Ls, v, &sigma, &mu, &settled, mode)) return -inf;
    return lower_bound(A, 0, w, M, Ls, Lt, sigma, mu, settled, mode, shift, err);
}

namespace {

int32_t solve_band(const band_view &A, const double *b, double *x_lo, double *x_hi,
                   int32_t mode) {
    fenv_guard env;
    const uint64_t n = A.n;
    freer<7> mem;
    work wk{};
    wk.hi = mem.own(alloc<double>(n));
    wk.lo = mem.own(alloc<double>(n));
    wk.v = mem.own(alloc<double>(n));
    wk.y = mem.own(alloc<double>(n));
    wk.neg_hi = mem.own(alloc<double>(n));
    wk.neg_lo = mem.own(alloc<double>(n));
    wk.r = mem.own(alloc<double>(n));
    bool ok = !too_big(n, 8) && wk.hi && wk.lo && wk.v && wk.y && wk.neg_hi && wk.neg_lo && wk.r;
    if (ok) {
        int32_t normal = symmetric(A) ? 0 : 1;
        outcome o = attempt(A, b, normal, mode, wk, x_lo, x_hi);
        if (o != outcome::proven && !normal) o = attempt(A, b, 1, mode, wk, x_lo, x_hi);
        ok = o == outcome::proven;
    }
    if (!ok)
        for (uint64_t k = 0; k < n; ++k) {
            x_lo[k] = -inf;
            x_hi[k] = inf;
        }
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace norva::band

extern "C" NORVA_API int32_t norva_solve_band(uint64_t n, uint64_t kl, uint64_t ku,
                                              const double *ab, uint64_t ldab, const double *b,
                                              double *x_lo, double *x_hi, int32_t mode) {
    using namespace norva;
    if (n == 0) return -1;
    // kl + ku + 1 must not wrap, and no array of n stored rows of ldab
    // doubles can exist when that count cannot be addressed.
    if (kl >= UINT64_MAX - 1 || ku >= UINT64_MAX - 1 - kl || ldab < kl + ku + 1) return -1;
    if ((uint32_t)mode > 1) return -1;
    if (too_big(n, ldab)) return -1;
    const band::band_view A{n, kl < n - 1 ? kl : n - 1, ku < n - 1 ? ku : n - 1, kl, ldab, ab};
    for (uint64_t i = 0; i < n; ++i) {
        if (!finite_bits(b[i])) return -1;
        const band::band_row row = band::row_of(&A, i);
        for (uint64_t j = row.first; j <= row.last; ++j)
            if (!finite_bits(row.at[j])) return -1;
    }
    return band::solve_band(A, b, x_lo, x_hi, mode);
}
