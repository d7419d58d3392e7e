// Contraction test by inflation.  With W >= |I - R A| and [c_lo, c_hi]
// containing R (b - A x), z = max(|c_lo|, |c_hi|): once z + W y < y holds
// componentwise, the error e = x* - x satisfies |e| <= y and lies in
// [c_lo - W y, c_hi + W y], which is added to x (+ x_lo) and rounded outward.
// When twelve inflation sweeps do not get there, candidates from an
// approximate solution of (I - W) y = z are tested the same way; for
// interval data the hull of the preconditioned system then tightens the
// box (hull.cpp).
#include <cmath>
#include <cstdint>

#include "common/fenv_guard.h"
#include "common/partition.h"
#include "common/scratch.h"
#include "norva/solve.h"
#include "common/verdict.h"
#include "common/finite.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

constexpr uint64_t region_threshold = 64;
constexpr int sweeps = 12;
constexpr double inflate = 1.0625;
constexpr double tiny = 0x1p-1000;  // 9.332636185032189e-302
constexpr double hull_threshold = 0x1p-8;  // the hull is formed from this row sum of W on

}  // namespace

namespace {

// z + W y < y in every row, each side exactly rounded upward: t1 = W y,
// t2 = z + W y.
bool contracts(uint64_t n, const double *W, const double *z, const double *c_lo,
               const double *c_hi, const double *y, double *t1, double *t2) {
    uint32_t pass = 1;
    for_shares(n, n, region_threshold, [&](share s) {
        bool ok = true;
        for (uint64_t i = s.begin; i < s.end; ++i) {
            const double wy = qxdot(W + i * n, y, n, 1);  // W y rounded upward
            const double terms[2] = {z[i], wy};
            const double total = qxsum(terms, 2, 1);  // z + W y rounded upward
            t1[i] = wy;
            t2[i] = total;
            // A NaN end of the enclosure of R (b - A x) cannot be bounded,
            // even when the other end gave a finite z.
            if (!(total < y[i]) || std::isnan(c_lo[i]) || std::isnan(c_hi[i])) ok = false;
        }
        if (!ok) verdict_clear(&pass, 1u);
    });
    return pass == 1;
}

// x (+ x_lo) + [c_lo - t1, c_hi + t1] rounded outward; 1 when an end rounds
// past the largest double (it bounds nothing), else 0.  With the hull
// (interval data, W large enough), the hull's ends where they are tighter.
int finish(uint64_t n, const double *W, const double *x, const double *x_lo, const double *c_lo,
           const double *c_hi, const double *t1, double *out_lo, double *out_hi, hull_state *h,
           bool interval) {
    const uint64_t terms = x_lo != nullptr ? 4 : 3;
    bool ends = true;
    for (uint64_t i = 0; i < n; ++i) {
        const double xl = x_lo != nullptr ? x_lo[i] : 0.0;
        const double lo[4] = {x[i], c_lo[i], -t1[i], xl};
        const double hi[4] = {x[i], c_hi[i], t1[i], xl};
        out_lo[i] = qxsum(lo, terms, 2);
        out_hi[i] = qxsum(hi, terms, 1);
        ends = ends && finite(out_lo[i]) && finite(out_hi[i]);
    }
    if (!ends) return 1;
    if (!interval || h == nullptr) return 0;
    if (h->w_sum < 0) h->w_sum = max_row_sum(n, W);
    if (!(h->w_sum >= hull_threshold)) return 0;
    freer<1> mem;
    double *e = mem.own(alloc<double>(4 * n));
    if (e == nullptr || !hull_tighten(n, W, h, c_lo, c_hi, e, e + n, e + 2 * n)) return 0;
    for (uint64_t i = 0; i < n; ++i) {
        const double xl = x_lo != nullptr ? x_lo[i] : 0.0;
        const double lo[3] = {x[i], e[i], xl}, hi[3] = {x[i], e[n + i], xl};
        const double l = qxsum(lo, 3, 2), u = qxsum(hi, 3, 1);
        if (finite(l) && l > out_lo[i]) out_lo[i] = l;
        if (finite(u) && u < out_hi[i]) out_hi[i] = u;
    }
    return 0;
}

}  // namespace

int boxed(uint64_t n, const double *W, const double *x, const double *x_lo, const double *c_lo,
          const double *c_hi, const double *z, double *y, double *t1, double *t2, double *out_lo,
          double *out_hi, hull_state *h, bool interval) {
    for (uint64_t i = 0; i < n; ++i) y[i] = z[i];
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        for (uint64_t i = 0; i < n; ++i) y[i] = y[i] * inflate + tiny;
        if (contracts(n, W, z, c_lo, c_hi, y, t1, t2))
            return finish(n, W, x, x_lo, c_lo, c_hi, t1, out_lo, out_hi, h, interval);
        for (uint64_t i = 0; i < n; ++i)
            if (finite(t2[i]) && t2[i] > y[i]) y[i] = t2[i];
    }
    // A contraction near 1: the candidate from (I - W) y = z.
    for (int attempt = 0; h != nullptr && attempt < 3; ++attempt) {
        if (!hull_candidate(n, W, z, y, h, attempt)) break;
        if (contracts(n, W, z, c_lo, c_hi, y, t1, t2))
            return finish(n, W, x, x_lo, c_lo, c_hi, t1, out_lo, out_hi, h, interval);
    }
    return 1;
}

}  // namespace norva
