// e >= max_i sum_j |E_ij| for E = M - s I - L L^T, with M = A or M = A^T A
// formed from the band matrix A itself and L in lower band storage.  E is
// symmetric, so e also bounds ||E||_2.
//
// Mode 0 rounds every entry E_ij exactly to nearest and steps it one unit
// up (a small expansion for the few terms of an entry, the long accumulator
// where that cannot be exact); mode 1 sums in floating point and widens by the a priori constant of
// the number of terms.  Each row's bounds are summed upward exactly (in the
// small expansion, or the long accumulator for rows it cannot hold).  Each
// thread keeps the largest row sum of its share; the shares are merged
// after the barrier, together with the failure flag of any thread whose
// scratch was missing or whose row sum was not finite.
#include <cmath>
#include <cstdint>
#include <limits>

#include "band/band.h"
#include "band/rows.h"
#include "common/small_sum.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva::band {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// The widening constants of mode 1 for the term counts met so far (few
// distinct ones): c and eta of N terms, eta[N] = 0 while not yet computed.
struct widening {
    static constexpr uint64_t cached = 64;
    double c[cached], eta[cached];
};

// What one thread needs to bound the entries of E.
struct entry_ctx {
    const band_view *A;
    const double *L;
    uint64_t w;
    double s;
    int32_t normal;
    double *x, *y;  // scratch of kl + ku + w + 2 doubles each
    qxsum_acc *acc;
    widening *wide;
};

// A(k, j), known to lie inside the clamped band.
inline double at(const band_view *A, uint64_t k, uint64_t j) {
    return A->ab[k * A->ldab + (A->diag_pos + j - k)];
}

// A(i, j) of M = A, 0 outside the band.
inline double a_entry(const band_view *A, uint64_t i, uint64_t j) {
    const bool in = j <= i ? i - j <= A->kl : j - i <= A->ku;
    return in ? at(A, i, j) : 0.0;
}

// Rows k0 .. k1 of A that meet both columns i and j (empty when k0 > k1).
inline void normal_rows(const band_view *A, uint64_t i, uint64_t j, uint64_t *k0, uint64_t *k1) {
    const uint64_t hi = i > j ? i : j, lo = i < j ? i : j;
    *k0 = hi > A->ku ? hi - A->ku : 0;
    *k1 = A->n - 1 - lo > A->kl ? lo + A->kl : A->n - 1;
}

// L(i, k) for max(0, i - w) <= k <= i.
inline const double *l_row(const entry_ctx &c, uint64_t i) {
    return c.L + i * (c.w + 1) + c.w - i;
}

// up(|E_ij|) with E_ij summed exactly and rounded to nearest.  The few
// terms of an entry first go to a small expansion; the long accumulator
// takes the entries that it cannot hold exactly, with the same result.
double exact_entry(const entry_ctx &c, uint64_t i, uint64_t j) {
    const uint64_t hi = i > j ? i : j, lo = i < j ? i : j;
    const uint64_t kl = hi > c.w ? hi - c.w : 0;
    const double *li = l_row(c, i), *lj = l_row(c, j);
    uint64_t k0 = 1, k1 = 0;
    if (c.normal != 0) normal_rows(c.A, i, j, &k0, &k1);

    small_sum sum;
    small_init(sum);
    if (c.normal == 0) small_add(sum, a_entry(c.A, i, j));
    for (uint64_t k = k0; k <= k1; ++k) small_add_product(sum, at(c.A, k, i), at(c.A, k, j));
    if (i == j) small_add(sum, -c.s);
    for (uint64_t k = kl; k <= lo; ++k) small_add_product(sum, -li[k], lj[k]);
    double v;
    if (small_round(sum, &v)) return up(std::fabs(v));

    qxsum_acc *acc = c.acc;
    qxsum_init(acc);
    if (c.normal == 0) {
        const double a = a_entry(c.A, i, j);
        qxsum_add(acc, &a, 1);
    } else {
        uint64_t t = 0;
        for (uint64_t k = k0; k <= k1; ++k, ++t) {
            c.x[t] = at(c.A, k, i);
            c.y[t] = at(c.A, k, j);
        }
        qxsum_add_dot(acc, c.x, c.y, t);
    }
    if (i == j) {
        const double ns = -c.s;
        qxsum_add(acc, &ns, 1);
    }
    uint64_t t = 0;
    for (uint64_t k = kl; k <= lo; ++k, ++t) {
        c.x[t] = -li[k];
        c.y[t] = lj[k];
    }
    qxsum_add_dot(acc, c.x, c.y, t);
    return up(std::fabs(qxsum_round(acc, 0)));
}

// The floating-point bound of |E_ij|: |T| + c (S + eta) + eta for the
// rounded sum T of N terms with magnitudes summing to S.
double fast_entry(const entry_ctx &c, uint64_t i, uint64_t j) {
    double T, S;
    uint64_t N;
    if (c.normal == 0) {
        T = a_entry(c.A, i, j);
        S = std::fabs(T);
        N = 1;
    } else {
        uint64_t k0, k1;
        normal_rows(c.A, i, j, &k0, &k1);
        T = S = 0.0;
        N = 0;
        for (uint64_t k = k0; k <= k1; ++k, ++N) {
            const double p = at(c.A, k, j) * at(c.A, k, i);
            T = T + p;
            S = S + std::fabs(p);
        }
    }
    if (i == j) {
        T = T - c.s;
        S = S + std::fabs(c.s);
        N = N + 1;
    }
    const uint64_t hi = i > j ? i : j, lo = i < j ? i : j;
    const uint64_t kl = hi > c.w ? hi - c.w : 0;
    const double *li = l_row(c, i), *lj = l_row(c, j);
    for (uint64_t k = kl; k <= lo; ++k, ++N) {
        const double p = li[k] * lj[k];
        T = T - p;
        S = S + std::fabs(p);
    }
    double cg, eta;
    if (N < widening::cached && c.wide->eta[N] != 0.0) {
        cg = c.wide->c[N];
        eta = c.wide->eta[N];
    } else {
        const double nd = (double)N;
        const double g = up(nd * unit_roundoff);
        const double gamma = up(g / (1.0 - g));
        eta = up(nd * 0x1p-1074);
        cg = up(up(up(gamma + gamma) + 1.0) * gamma);
        if (N < widening::cached) {
            c.wide->c[N] = cg;
            c.wide->eta[N] = eta;
        }
    }
    return up(up(std::fabs(T) + up(cg * up(S + eta))) + eta);
}

// Largest row sum of the rows [begin, end); sets *bad on a row sum that is
// not finite.
template <class Entry>
double rows_max(const entry_ctx &c, double *row, uint64_t begin, uint64_t end, bool *bad,
                Entry entry) {
    const uint64_t n = c.A->n;
    double top = -inf;
    for (uint64_t i = begin; i < end; ++i) {
        const uint64_t j0 = i > c.w ? i - c.w : 0;
        const uint64_t j1 = n - 1 - i > c.w ? i + c.w : n - 1;
        small_sum small;
        small_init(small);
        for (uint64_t j = j0; j <= j1; ++j) {
            row[j - j0] = entry(c, i, j);
            small_add(small, row[j - j0]);
        }
        double sum;
        if (!small_round_up(small, &sum)) sum = qxsum(row, j1 - j0 + 1, 1);
        if (!finite(sum)) *bad = true;
        else top = std::fmax(top, sum);
    }
    return top;
}

}  // namespace

double bound_e(const band_view *A, int32_t normal, uint64_t w, const double *L, int32_t mode,
               double s) {
    const uint64_t n = A->n;
    double result = 0.0;
    int32_t failed = 0;
    if (n == 0) return result;
    const uint64_t m = A->kl + A->ku + w + 2;
    const bool sizes_ok = !too_big(m, 2) && !too_big(w, 2);
    for_shares(n, n, region_threshold, [&](share rows) {
        double top = -inf;
        bool bad = false;
        {
            freer<3> scratch;
            double *x = sizes_ok ? scratch.own(alloc<double>(m)) : nullptr;
            double *y = sizes_ok ? scratch.own(alloc<double>(m)) : nullptr;
            double *row = sizes_ok ? scratch.own(alloc<double>(2 * w + 1)) : nullptr;
            if (x == nullptr || y == nullptr || row == nullptr) {
                bad = true;
            } else {
                qxsum_acc acc;
                widening wide = {};
                const entry_ctx c{A, L, w, s, normal, x, y, &acc, &wide};
                top = mode == 0 ? rows_max(c, row, rows.begin, rows.end, &bad, exact_entry)
                                : rows_max(c, row, rows.begin, rows.end, &bad, fast_entry);
            }
        }
#pragma omp critical(norva_band_bound_e)
        {
            result = std::fmax(result, top);
            failed = failed | (bad ? 1 : 0);
        }
    });
    return failed != 0 ? std::numeric_limits<double>::quiet_NaN() : result;
}

}  // namespace norva::band
