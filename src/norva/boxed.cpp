// Contraction test by inflation.  With W >= |I - R A| and [c_lo, c_hi]
// containing R (b - A x), z = max(|c_lo|, |c_hi|): once z + W y < y holds
// componentwise, the error e = x* - x satisfies |e| <= y and lies in
// [c_lo - W y, c_hi + W y], which is added to x (+ x_lo) and rounded outward.
#include <cmath>
#include <cstdint>

#include "common/fenv_guard.h"
#include "common/partition.h"
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

}  // namespace

int boxed(uint64_t n, const double *W, const double *x, const double *x_lo, const double *c_lo,
          const double *c_hi, const double *z, double *y, double *t1, double *t2, double *out_lo,
          double *out_hi) {
    for (uint64_t i = 0; i < n; ++i) y[i] = z[i];
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        for (uint64_t i = 0; i < n; ++i) y[i] = y[i] * inflate + tiny;

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

        if (pass == 1) {
            // An end that rounds outward past the largest double bounds nothing.
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
            return ends ? 0 : 1;
        }
        for (uint64_t i = 0; i < n; ++i)
            if (finite(t2[i]) && t2[i] > y[i]) y[i] = t2[i];
    }
    return 1;
}

}  // namespace norva
