// What the contraction test can lean on besides inflation: the matrix
// (I - W)^-1, approximately for a candidate error bound, and rigorously
// bounded for the hull of the preconditioned system.
//
// Candidate.  With W >= 0 and rho(W) < 1, I - W is an M-matrix and y* =
// (I - W)^-1 z is the smallest y with z + W y <= y; a contraction near 1
// needs many inflation steps to get there from z.  The candidate is y*
// from an approximate inverse, enlarged a little (three tries with
// growing margins), and the test z + W y < y is made exactly as for the
// inflated candidates.  It is only a candidate: nothing rests on the
// inverse.
//
// Hull.  Every error e = x* - x of a solution of the interval system
// satisfies (R A) e = R (b - A x) with R A in [I - W, I + W] and the right-
// hand side in [c_lo, c_hi], hence in [b_c - beta, b_c + beta] (b_c the
// midpoint, beta >= its radius).
// Theorem (Hansen, Bliek, Rohn; the form of Neumaier, Reliable Computing 5
// (1999) 131-136, and Rohn, Reliable Computing 2 (1996)): if rho(Delta) < 1,
// M = (I - Delta)^-1, mu_i = M_ii (>= 1), nu_i = 1 / (2 mu_i - 1) and
// x* = M (|b_c| + beta), then the hull of the solutions of A' e = b' over A'
// in [I - Delta, I + Delta], b' in [b_c - beta, b_c + beta] is, per
// component,
//     upper = max(xh_i, nu_i xh_i),  xh_i = x*_i + mu_i (b_c,i - |b_c,i|),
//     lower = min(xl_i, nu_i xl_i),  xl_i = -x*_i + mu_i (b_c,i + |b_c,i|).
// Its conditions as met here: Delta = W, and rho(W) < 1 follows from the
// contraction test itself (W y < y for some y > 0, W >= 0, Perron-
// Frobenius), which is passed before the hull is formed.
// The rigorous quantities:
//   - Mt ~ M (approximate inverse), F >= |I - (I - W) Mt| entrywise from a
//     floating-point product with its a priori bound, f = ||F||_inf < 1
//     required; then M - Mt = M (I - (I - W) Mt) gives ||M||_inf <= m :=
//     ||Mt||_inf / (1 - f) and |M - Mt|_ij <= m max_k F_kj;
//   - mu_i in [Mt_ii - d_i, Mt_ii + d_i] (and >= 1), d_i = m max_k F_ki;
//   - x* = M g, g = |b_c| + beta >= 0: |x* - fl(Mt g)| <= (the a priori
//     bound of fl(Mt g)) + m sum_j (max_k F_kj) g_j; both ends of the
//     formula grow with x*, so only its upper bound is needed;
//   - the formula evaluated with every end rounded outward, mu and x*
//     taken independently at their worst ends (an enclosure of the hull).
// The result is intersected with the fixed-point enclosure, so it is never
// wider; interval data only, and only when W is large enough (its largest
// row sum at least 2^-8) for the hull to differ from the box by more than
// rounding, since its matrices cost a few products of order n.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/finite.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "norva/dense.h"
#include "norva/rigorous.h"
#include "norva/solve.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr uint32_t rnd_up = 1, rnd_down = 2;

// Largest row sum of |X| rounded upward (0 for n = 0); NaN-free input.
double norm_inf_up(uint64_t n, const double *X, double *t) {
    double top = 0.0;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) t[j] = std::fabs(X[i * n + j]);
        top = std::fmax(top, qxsum(t, n, rnd_up));
    }
    return top;
}

}  // namespace

hull_state::~hull_state() {
    std::free(Mt);
    std::free(mu_lo);
    std::free(mu_hi);
    std::free(colmax);
}

bool hull_inverse(uint64_t n, const double *W, hull_state *h) {
    if (h->tried) return h->Mt != nullptr;
    h->tried = true;
    h->n = n;
    if (too_big(n, n)) return false;
    freer<1> mem;
    double *B = mem.own(alloc<double>(n * n));
    double *Mt = alloc<double>(n * n);
    if (B == nullptr || Mt == nullptr) {
        std::free(Mt);
        return false;
    }
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) B[i * n + j] = (i == j ? 1.0 : 0.0) - W[i * n + j];
    if (inverse(n, B, n, Mt) != 0 || !all_finite(Mt, n, n, n)) {
        std::free(Mt);
        return false;
    }
    h->Mt = Mt;
    return true;
}

bool hull_bounds(uint64_t n, const double *W, hull_state *h) {
    if (h->bounds_tried) return h->mu_lo != nullptr;
    h->bounds_tried = true;
    if (!hull_inverse(n, W, h) || too_big(n, 2 * n)) return false;
    const double *Mt = h->Mt;
    freer<6> mem;
    double *S1 = mem.own(alloc<double>(2 * n * n));
    double *S2 = mem.own(alloc<double>(2 * n * n));
    double *Q = mem.own(alloc<double>(n * n));
    double *C = mem.own(alloc<double>(n * n));
    double *E = mem.own(alloc<double>(n * n));
    double *t = mem.own(alloc<double>(n));
    double *mu_lo = alloc<double>(n), *mu_hi = alloc<double>(n), *colmax = alloc<double>(n);
    h->mu_lo = mu_lo;
    h->mu_hi = mu_hi;
    h->colmax = colmax;
    auto drop = [&] {
        std::free(mu_lo);
        std::free(mu_hi);
        std::free(colmax);
        h->mu_lo = h->mu_hi = h->colmax = nullptr;
        return false;
    };
    if (!S1 || !S2 || !Q || !C || !E || !t || !mu_lo || !mu_hi || !colmax) return drop();

    // [W | I] [Mt; -Mt] = W Mt - Mt; F = |I + that|: Q off the diagonal,
    // up(|fl(1 + C_ii)|) + E_ii on it.
    const uint64_t w = 2 * n;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) {
            S1[i * w + j] = W[i * n + j];
            S1[i * w + n + j] = i == j ? 1.0 : 0.0;
            S2[(n + i) * n + j] = -Mt[i * n + j];
        }
    }
    std::memcpy(S2, Mt, n * n * sizeof(double));
    if (prod_abs_center(n, n, w, S1, S2, Q, C, E, 1, nullptr, nullptr) != 0) return drop();
    for (uint64_t i = 0; i < n; ++i) Q[i * n + i] = up(up(std::fabs(1.0 + C[i * n + i])) + E[i * n + i]);
    const double f = norm_inf_up(n, Q, t);
    if (!(f < 1.0)) return drop();
    const double m = up(norm_inf_up(n, Mt, t) / down(1.0 - f));
    if (!finite(m)) return drop();
    for (uint64_t j = 0; j < n; ++j) colmax[j] = 0.0;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) colmax[j] = std::fmax(colmax[j], Q[i * n + j]);
    for (uint64_t i = 0; i < n; ++i) {
        const double d = up(m * colmax[i]), mt = Mt[i * n + i];
        mu_lo[i] = std::fmax(1.0, down(mt - d));
        mu_hi[i] = up(mt + d);
        if (!finite(mu_hi[i])) return drop();
    }
    h->m = m;
    return true;
}

bool hull_candidate(uint64_t n, const double *W, const double *z, double *y, hull_state *h,
                    int attempt) {
    if (!hull_inverse(n, W, h)) return false;
    const double margin = attempt == 0 ? 0x1p-20 : attempt == 1 ? 0x1p-10 : 0x1p-5;
    double top = 0.0;
    for (uint64_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (uint64_t j = 0; j < n; ++j) s = s + h->Mt[i * n + j] * z[j];
        y[i] = s > 0.0 ? s : 0.0;
        top = std::fmax(top, y[i]);
    }
    if (!finite(top)) return false;
    const double floor = top * margin * 0x1p-20 + 0x1p-1000;
    for (uint64_t i = 0; i < n; ++i) y[i] = (y[i] + floor) * (1.0 + margin);
    return true;
}

bool hull_tighten(uint64_t n, const double *W, hull_state *h, const double *c_lo,
                  const double *c_hi, double *e_lo, double *e_hi, double *scratch) {
    if (!hull_bounds(n, W, h)) return false;
    const double *Mt = h->Mt;
    fast_consts k;
    if (!fast_constants(n, &k)) return false;
    double *g = scratch, *bc = scratch + n;
    // b_c, beta with [b_c - beta, b_c + beta] containing [c_lo, c_hi]; g = |b_c| + beta.
    double spread = 0.0;  // sum_j colmax_j g_j, rounded upward
    for (uint64_t i = 0; i < n; ++i) {
        const double mid = c_lo[i] * 0.5 + c_hi[i] * 0.5;
        const double beta = up(std::fmax(up(mid - c_lo[i]), up(c_hi[i] - mid)));
        bc[i] = mid;
        g[i] = up(std::fabs(mid) + beta);
        if (!finite(g[i])) return false;
    }
    {
        double s = 0.0;
        for (uint64_t j = 0; j < n; ++j) s = s + h->colmax[j] * g[j];
        const double sc = fast_entry(k, s, s);  // >= the exact sum of nonnegative products
        spread = up(h->m * sc);
    }
    if (!finite(spread)) return false;
    for (uint64_t i = 0; i < n; ++i) {
        double s = 0.0, a = 0.0;
        for (uint64_t j = 0; j < n; ++j) {
            s = s + Mt[i * n + j] * g[j];
            a = a + std::fabs(Mt[i * n + j]) * g[j];
        }
        const double err = up(fast_entry(k, 0.0, a) + spread);
        const double xs_hi = up(s + err);  // x* <= xs_hi (only this end enters below)
        // Upper end: xh = x* + mu (b_c - |b_c|), largest at the largest x* and
        // (the factor being <= 0) the smallest mu.
        const double tneg = bc[i] < 0.0 ? 2.0 * bc[i] : 0.0, tpos = bc[i] > 0.0 ? 2.0 * bc[i] : 0.0;
        const double mu_lo = h->mu_lo[i], mu_hi = h->mu_hi[i];
        const double nu_lo = down(1.0 / up(2.0 * mu_hi - 1.0));
        const double p1[2] = {xs_hi, mu_lo}, q1[2] = {1.0, tneg};
        const double xh = qxdot(p1, q1, 2, rnd_up);
        // Lower end: xl = -x* + mu (b_c + |b_c|), smallest at the largest x*
        // and (the factor being >= 0) the smallest mu.
        const double p2[2] = {-xs_hi, mu_lo}, q2[2] = {1.0, tpos};
        const double xl = qxdot(p2, q2, 2, rnd_down);
        if (!finite(xh) || !finite(xl) || !(nu_lo > 0.0)) return false;
        // max(xh, nu xh) <= xh for xh >= 0; <= nu_lo xh (negative) otherwise.
        e_hi[i] = xh >= 0.0 ? xh : up(nu_lo * xh);
        // min(xl, nu xl) >= xl for xl <= 0; >= nu_lo xl (positive) otherwise.
        e_lo[i] = xl <= 0.0 ? xl : down(nu_lo * xl);
    }
    return true;
}

}  // namespace norva
