// Residual b - A (hi + lo) of a band matrix in double-double arithmetic, for
// iterative refinement: each product is split exactly into its rounded value
// and its error (the one fused multiply-add of the library), the rounded
// values are summed with TwoSum, and every error term is gathered in a
// separate correction that is added once at the end.
#include <cstdint>

#include "band/band.h"
#include "band/rows.h"
#include "common/double_double.h"
#include "common/fenv_guard.h"
#include "common/partition.h"

namespace norva::band {

void residual_dd(const band_view *A, const double *b, const double *hi, const double *lo,
                 double *r, uint64_t n) {
    if (n == 0) return;
    for_shares(n, n, region_threshold, [&](share rows) {
        for (uint64_t i = rows.begin; i < rows.end; ++i) {
            const band_row row = row_of(A, i);
            double s = b[i], c = 0.0;
            for (uint64_t j = row.first; j <= row.last; ++j) {
                const double a = row.at[j];
                if (a == 0.0) continue;
                dd_residual_term(s, c, -a, hi[j], lo[j]);
            }
            r[i] = s + c;
        }
    });
}

}  // namespace norva::band
