// Residual b - A (hi + lo) of a band matrix in double-double arithmetic, for
// iterative refinement: each product is split exactly into its rounded value
// and its error (the one fused multiply-add of the library), the rounded
// values are summed with TwoSum, and every error term is gathered in a
// separate correction that is added once at the end.
#include <cmath>
#include <cstdint>

#include "band/band.h"
#include "band/rows.h"
#include "common/fenv_guard.h"
#include "common/partition.h"

namespace norva::band {

void residual_dd(const band_view *A, const double *b, const double *hi, const double *lo,
                 double *r, uint64_t n) {
    if (n == 0) return;
#pragma omp parallel num_threads(team_size(n, region_threshold))
    {
        fenv_guard env;
        const share rows = my_share(n);
        for (uint64_t i = rows.begin; i < rows.end; ++i) {
            const band_row row = row_of(A, i);
            double s = b[i], c = 0.0;
            for (uint64_t j = row.first; j <= row.last; ++j) {
                const double a = row.at[j];
                if (a == 0.0) continue;
                const double na = -a;
                const double p1 = na * hi[j];
                const double e1 = std::fma(na, hi[j], -p1);
                const double p2 = na * lo[j];
                const double e2 = std::fma(na, lo[j], -p2);
                // (t, f1) = TwoSum(p1, s), then (s2, f2) = TwoSum(p2, t).
                const double t = p1 + s;
                double z = t - s;
                const double f1 = (s - (t - z)) + (p1 - z);
                const double s2 = p2 + t;
                z = s2 - t;
                const double f2 = (t - (s2 - z)) + (p2 - z);
                c = (f1 + e1) + c;
                c = (f2 + e2) + c;
                s = s2;
            }
            r[i] = s + c;
        }
#pragma omp barrier
    }
}

}  // namespace norva::band
