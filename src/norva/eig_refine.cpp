// The second stage of the symmetric eigenvalue enclosure: one eigenvalue at
// a time, from its approximate eigenvector, within about residual^2 / gap of
// its Rayleigh quotient.
//
// Theorem (Kato-Temple).  Let A be real symmetric, x != 0, rho = x^T A x /
// x^T x and eps = ||A x - rho x|| / ||x||.  If the open interval (alpha,
// beta) contains rho and exactly one eigenvalue lambda of A (alpha = -inf
// or beta = +inf allowed), then
//     rho - eps^2 / (beta - rho)  <=  lambda  <=  rho + eps^2 / (rho - alpha),
// a term being 0 where its end is infinite.  (Proof of the lower end: with
// x of norm 1, every eigenvalue mu != lambda lies outside (alpha, beta), so
// (mu - lambda)(mu - beta) >= 0 for all of them and
// 0 <= x^T (A - lambda)(A - beta) x = eps^2 + (rho - lambda)(rho - beta);
// the upper end likewise with alpha.)
//
// Its conditions, as met here:
//   - (alpha, beta): with the first-stage enclosures lo_k <= lambda_k <= hi_k
//     of the sorted eigenvalues, alpha = hi_{i-1} (or -inf for i = 0) and
//     beta = lo_{i+1} (or +inf for the last).  When alpha < lo_i and
//     hi_i < beta, lambda_i lies in (alpha, beta), every lambda_k with
//     k < i is at most alpha and every one with k > i at least beta, so
//     lambda_i is the only eigenvalue there (and it is simple).  Enclosures
//     already tightened are used as they come: any proven bound will do.
//   - x any vector whose enclosure of rho lies inside (alpha, beta): the
//     vector paired with the i-th smallest approximate eigenvalue, but the
//     theorem holds for any x, so a poor vector or a wrong pairing only
//     gives a wide bound (or none), never a wrong one.
//   - eps: for any number s, ||A x - s x||^2 = eps^2 ||x||^2 + (rho - s)^2
//     ||x||^2 (A x - rho x is orthogonal to x), so the residual with the
//     approximate eigenvalue s = d_j bounds eps from above.
//
// What is computed, with r = A x - d_j x, the column j of the product C = A V
// - V D that the first stage formed, known as C_kj with |r_k - C_kj| <= E_kj
// (the exact product rounded to nearest in mode 0, fl with its a priori
// bound in mode 1):
//   - x^T x enclosed: h >= x^T x from the floating-point sum f (below), and
//     x^T x >= f - (h - f) since |f - x^T x| <= h - f, rounded down;
//   - x^T r in [sum x_k C_kj - s, sum x_k C_kj + s] with s >= sum |x_k| E_kj,
//     the first sum exact and each end rounded outward, and rho - d_j =
//     x^T r / x^T x enclosed by outward-rounded division;
//   - eps <= sqrt(sum m_k^2 / x^T x) with m_k = up(|C_kj| + E_kj), the m_k
//     scaled by a power of two into [1, 2) first (rounding up wherever the
//     scaling is not exact) so that neither squares nor the result under-
//     or overflow for any scaling of A;
//   - h, s and sum m_k^2 (sums of nonnegative products, needed only to a few
//     digits) in floating point, widened by (1 + 2 gamma_{n+1}) and n 2^-1074
//     for the products that underflow;
//   - eps^2 / g as up(eps up(eps / g)) with g the gap rounded down;
//   - the ends d_j + (rho - d_j) -+ eps^2 / g as exact sums of three terms
//     rounded outward, intersected with the first stage's.
// Everything after the product is O(n) per eigenvalue.  An eigenvalue
// whose conditions fail, or whose numbers are not finite, keeps its
// first-stage enclosure; no enclosure ever gets wider.
#include <cmath>
#include <cstdint>
#include <limits>

#include "common/finite.h"
#include "common/steps.h"
#include "norva/eig.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr uint32_t rnd_up = 1, rnd_down = 2;

// x 2^e rounded upward (x >= 0 finite).
double scale_up(double x, int e) {
    const double y = std::ldexp(x, e);
    return std::ldexp(y, -e) < x ? up(y) : y;
}

// Stable ascending order of d: order[i] is the index of the i-th smallest
// (equal values keep their order, as the first stage's insertion sort).
void sort_order(uint64_t n, const double *d, uint64_t *order) {
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t k = i;
        for (; k > 0 && d[i] < d[order[k - 1]]; --k) order[k] = order[k - 1];
        order[k] = i;
    }
}

struct pair_bounds {
    double q_lo, q_hi;  // rho - d_j enclosed
    double eps;         // upper bound of the residual norm
};

// up(sum_k x_k y_k) for x, y >= 0 from a floating-point sum: fl(sum) is
// within gamma_n of the exact sum relative to it, and each product that
// underflows adds at most 2^-1075 more, so the exact sum is at most
// (fl(sum) + n 2^-1075) / (1 - gamma_n) <= fl(sum) (1 + 2 gamma_n) + n 2^-1074.
// +inf when no bound was formed.
double nonneg_dot_up(const double *x, const double *y, uint64_t n) {
    double s = 0.0;
    for (uint64_t k = 0; k < n; ++k) s = s + x[k] * y[k];
    const double g = gamma_n(n + 1);
    if (!(g < 0.5) || !finite(s)) return inf;
    return up(up(s + up(s * up(2.0 * g))) + up((double)n * 0x1p-1074));
}

// The Rayleigh quotient's offset and the residual bound of column j; false
// when they cannot be formed (x = 0 in effect, or not finite).  x, c, e are
// the columns of V, C and E, contiguous; ax is scratch of n doubles.
bool pair_of(uint64_t n, const double *x, const double *c, const double *e, double *ax,
             pair_bounds *out) {
    // x^T x: what the sum of squares is below the bound from above, it is
    // above the same sum less twice that excess.
    for (uint64_t k = 0; k < n; ++k) ax[k] = std::fabs(x[k]);
    double plain = 0.0;
    for (uint64_t k = 0; k < n; ++k) plain = plain + x[k] * x[k];
    const double vv_hi = nonneg_dot_up(ax, ax, n);
    const double vv_lo = down(plain - up(up(vv_hi - plain) * 2.0));
    if (!(vv_lo > 0.0) || !finite(vv_hi)) return false;

    // x^T r in [sum x C - sum |x| E, sum x C + sum |x| E]: the first sum
    // exact, the second bounded from above.
    const double spread = nonneg_dot_up(ax, e, n);
    if (!finite(spread)) return false;
    qxsum_acc acc;
    qxsum_init(&acc);
    qxsum_add_dot(&acc, x, c, n);
    qxsum_acc other = acc;
    const double minus = -spread;
    qxsum_add(&acc, &minus, 1);
    qxsum_add(&other, &spread, 1);
    const double t_lo = qxsum_round(&acc, rnd_down), t_hi = qxsum_round(&other, rnd_up);
    if (!finite(t_lo) || !finite(t_hi)) return false;
    out->q_lo = down(t_lo / (t_lo >= 0.0 ? vv_hi : vv_lo));
    out->q_hi = up(t_hi / (t_hi >= 0.0 ? vv_lo : vv_hi));

    // The residual's magnitudes, scaled into [1, 2) at the largest.
    double top = 0.0;
    for (uint64_t k = 0; k < n; ++k) {
        const double m = up(std::fabs(c[k]) + e[k]);
        if (!finite(m)) return false;
        ax[k] = m;
        top = std::fmax(top, m);
    }
    if (top == 0.0) {
        out->eps = 0.0;
    } else {
        const int s = -std::ilogb(top);
        for (uint64_t k = 0; k < n; ++k) ax[k] = scale_up(ax[k], s);
        const double sq = nonneg_dot_up(ax, ax, n);
        const double root = up(std::sqrt(up(sq / vv_lo)));
        if (!finite(root)) return false;
        out->eps = scale_up(root, -s);
    }
    return finite(out->q_lo) && finite(out->q_hi) && finite(out->eps);
}

// eps^2 / g rounded upward, without forming eps^2; +inf when g is not
// positive.
double quotient_up(double eps, double g) {
    if (eps == 0.0) return 0.0;
    if (!(g > 0.0)) return inf;
    return up(eps * up(eps / g));
}

}  // namespace

void eig_refine(uint64_t n, const double *V, const double *d, const double *C, const double *E,
                double *lo, double *hi, double *scratch, uint64_t *order) {
    double *x = scratch, *c = scratch + n, *e = scratch + 2 * n, *ax = scratch + 3 * n;
    sort_order(n, d, order);
    for (uint64_t i = 0; i < n; ++i) {
        const double alpha = i > 0 ? hi[i - 1] : -inf;
        const double beta = i + 1 < n ? lo[i + 1] : inf;
        if (!(alpha < lo[i] && hi[i] < beta)) continue;  // not proven simple

        const uint64_t j = order[i];
        for (uint64_t k = 0; k < n; ++k) {
            x[k] = V[k * n + j];
            c[k] = C[k * n + j];
            e[k] = E[k * n + j];
        }
        pair_bounds p;
        if (!pair_of(n, x, c, e, ax, &p)) continue;
        const double rho_lo[2] = {d[j], p.q_lo}, rho_hi[2] = {d[j], p.q_hi};
        const double r_lo = qxsum(rho_lo, 2, rnd_down), r_hi = qxsum(rho_hi, 2, rnd_up);
        if (!(alpha < r_lo && r_hi < beta)) continue;

        // lambda_i >= rho - eps^2 / (beta - rho), <= rho + eps^2 / (rho - alpha).
        const double below = i + 1 < n ? quotient_up(p.eps, down(beta - r_hi)) : 0.0;
        const double above = i > 0 ? quotient_up(p.eps, down(r_lo - alpha)) : 0.0;
        const double lo_terms[3] = {d[j], p.q_lo, -below};
        const double hi_terms[3] = {d[j], p.q_hi, above};
        const double l = qxsum(lo_terms, 3, rnd_down), u = qxsum(hi_terms, 3, rnd_up);
        if (finite(l) && l > lo[i]) lo[i] = l;
        if (finite(u) && u < hi[i]) hi[i] = u;
    }
}

}  // namespace norva
