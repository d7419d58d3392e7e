// Residual b - A (hi + lo) of a band matrix, computed exactly and rounded
// once to nearest.  The products of a row are handed to the accumulator 64
// at a time (32 matrix entries, each against both parts of x) rather than
// one call per entry.
#include <cstdint>

#include "band/band.h"
#include "band/rows.h"
#include "common/fenv_guard.h"
#include "common/partition.h"
#include "qxsum/qxsum.h"

namespace norva::band {

namespace {
constexpr uint64_t batch = 64;
}  // namespace

void residual(const band_view *A, const double *b, double *r, const double *neg_hi,
              const double *neg_lo, uint64_t n) {
    if (n == 0) return;
    for_shares(n, n, region_threshold, [&](share rows) {
        qxsum_acc acc;
        double a2[batch], x2[batch];
        for (uint64_t i = rows.begin; i < rows.end; ++i) {
            const band_row row = row_of(A, i);
            qxsum_init(&acc);
            uint64_t k = 0;
            for (uint64_t j = row.first; j <= row.last; ++j) {
                const double a = row.at[j];
                if (a == 0.0) continue;
                a2[k] = a;
                a2[k + 1] = a;
                x2[k] = neg_hi[j];
                x2[k + 1] = neg_lo[j];
                k += 2;
                if (k == batch) {
                    qxsum_add_dot(&acc, a2, x2, batch);
                    k = 0;
                }
            }
            qxsum_add_dot(&acc, a2, x2, k);
            qxsum_add(&acc, b + i, 1);
            r[i] = qxsum_round(&acc, 0);
        }
    });
}

}  // namespace norva::band
