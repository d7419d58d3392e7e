// Arb at 53 bits as the peer of the verified solvers: matrices of balls
// from double data, and the double bounds of a computed ball matrix.
#ifndef NORVA_BENCH_ARB_H
#define NORVA_BENCH_ARB_H

#include <arb_mat.h>
#include <flint.h>

#include <vector>

namespace bench {

// Threads of FLINT's matrix products (bench::run's thread hook).
inline void arb_threads(int threads) { flint_set_num_threads(threads); }

// M (rows x cols) = the exact doubles of a (row-major, packed), or, with hi
// given, the balls that contain [a_ij, hi_ij].
inline void arb_mat_set_doubles(arb_mat_t M, const double *a, const double *hi = nullptr) {
    arf_t l, h;
    arf_init(l);
    arf_init(h);
    for (slong i = 0; i < arb_mat_nrows(M); ++i)
        for (slong j = 0; j < arb_mat_ncols(M); ++j) {
            const size_t at = (size_t)(i * arb_mat_ncols(M) + j);
            if (hi == nullptr) {
                arb_set_d(arb_mat_entry(M, i, j), a[at]);
                continue;
            }
            arf_set_d(l, a[at]);
            arf_set_d(h, hi[at]);
            arb_set_interval_arf(arb_mat_entry(M, i, j), l, h, 53);
        }
    arf_clear(l);
    arf_clear(h);
}

// Outward double bounds of every entry of X, row by row.
inline void arb_mat_bounds(const arb_mat_t X, std::vector<double> &lo, std::vector<double> &hi) {
    lo.clear();
    hi.clear();
    arf_t t;
    arf_init(t);
    for (slong i = 0; i < arb_mat_nrows(X); ++i)
        for (slong k = 0; k < arb_mat_ncols(X); ++k) {
            arb_get_lbound_arf(t, arb_mat_entry(X, i, k), 64);
            lo.push_back(arf_get_d(t, ARF_RND_FLOOR));
            arb_get_ubound_arf(t, arb_mat_entry(X, i, k), 64);
            hi.push_back(arf_get_d(t, ARF_RND_CEIL));
        }
    arf_clear(t);
}

}  // namespace bench

#endif
