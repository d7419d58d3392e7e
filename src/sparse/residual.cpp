// Residuals of a sparse matrix in compressed rows, one row per thread at a
// time (static shares of rows; one thread below 2^22 entries).
//
// The double-double residual of a row is the compensated dot product of
// Ogita, Rump and Oishi over the n = 2 m + 1 terms b, -a hi, -a lo of its m
// entries (TwoProduct by a fused multiply-add, TwoSum of the rounded
// products, the errors summed apart and added once).  Without underflow its
// error is at most u |r| + gamma(n)^2 S, with S = |b| + sum |a| (|hi| + |lo|)
// (Ogita, Rump, Oishi, "Accurate sum and dot product", SIAM J. Sci. Comput.
// 26, 2005, Prop. 5.5); a product whose error term falls below the normal
// range adds at most 2^-1075 to it, carried through the sum of errors, so
// n 2^-1073 covers them.  Hence |r| <= (|r~| + gamma(n)^2 S + n 2^-1073) /
// (1 - u), every operation of which is stepped upward (mode 1).
//
// Mode 0 sums the same terms exactly: a short expansion for rows of a few
// entries, the long accumulator for the others, rounded upward and
// downward, so that an exactly zero residual has the bound 0.
#include "sparse/residual.h"

#include <cmath>
#include <limits>

#include "common/small_sum.h"
#include "common/double_double.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/partition.h"
#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva::sparse {

namespace {

// The rows are shared among threads only for matrices of many entries: a
// pass over a few hundred thousand entries takes about a millisecond, less
// than waking a team whose threads would then spin beside the BLAS threads
// of the factorization.
constexpr uint64_t region_threshold = uint64_t(1) << 22;
constexpr uint64_t batch = 64;        // products per call of the accumulator
constexpr uint64_t short_row = 11;    // entries a short expansion takes (2 m + 1 <= cap / 2)
constexpr double inf = std::numeric_limits<double>::infinity();

// The double-double residual of row i, and (when s is given) the sum of the
// magnitudes of its terms, stepped upward.
inline double row_dd(const csr &A, uint64_t i, const double *b, const double *hi,
                     const double *lo, double *s) {
    double sum = b[i], c = 0.0, mags = std::fabs(b[i]);
    for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e) {
        const double na = -A.val[e];
        const uint64_t j = A.col_idx[e];
        dd_residual_term(sum, c, na, hi[j], lo[j]);
        if (s) mags = up(mags + up(std::fabs(na) * up(std::fabs(hi[j]) + std::fabs(lo[j]))));
    }
    if (s) *s = mags;
    return sum + c;
}

// The exact residual of row i rounded upward in magnitude.
double row_exact(const csr &A, uint64_t i, const double *b, const double *hi, const double *lo,
                 qxsum_acc *acc) {
    const uint64_t e0 = A.row_ptr[i], e1 = A.row_ptr[i + 1];
    if (e1 - e0 <= short_row) {
        small_sum s;
        small_init(s);
        small_add(s, b[i]);
        for (uint64_t e = e0; e < e1; ++e) {
            const uint64_t j = A.col_idx[e];
            small_add_product(s, -A.val[e], hi[j]);
            small_add_product(s, -A.val[e], lo[j]);
        }
        double u, d;
        if (small_round_up(s, &u) && small_round_down(s, &d))
            return std::fmax(std::fabs(u), std::fabs(d));
    }
    double x[batch], y[batch];
    qxsum_init(acc);
    uint64_t k = 0;
    for (uint64_t e = e0; e < e1; ++e) {
        const uint64_t j = A.col_idx[e];
        x[k] = -A.val[e];
        x[k + 1] = -A.val[e];
        y[k] = hi[j];
        y[k + 1] = lo[j];
        k += 2;
        if (k == batch) {
            qxsum_add_dot(acc, x, y, batch);
            k = 0;
        }
    }
    qxsum_add_dot(acc, x, y, k);
    qxsum_add(acc, b + i, 1);
    const double u = qxsum_round(acc, 1), d = qxsum_round(acc, 2);
    const double m = std::fmax(std::fabs(u), std::fabs(d));
    return finite(u) && finite(d) ? m : inf;
}

}  // namespace

void residual_dd(const csr &A, const double *b, const double *hi, const double *lo, double *r) {
    const uint64_t n = A.n;
    for_shares(n, A.row_ptr[n], region_threshold, [&](share rows) {
        for (uint64_t i = rows.begin; i < rows.end; ++i) r[i] = row_dd(A, i, b, hi, lo, nullptr);
    });
}

void residual_bound(const csr &A, const double *b, const double *hi, const double *lo,
                    double *mag, int32_t mode) {
    const uint64_t n = A.n;
    const double widen = up(1.0 / (1.0 - unit_roundoff));
    for_shares(n, A.row_ptr[n], region_threshold, [&](share rows) {
        qxsum_acc acc;
        for (uint64_t i = rows.begin; i < rows.end; ++i) {
            if (mode == 0) {
                mag[i] = row_exact(A, i, b, hi, lo, &acc);
                continue;
            }
            double s;
            const double r = row_dd(A, i, b, hi, lo, &s);
            const uint64_t terms = 2 * (A.row_ptr[i + 1] - A.row_ptr[i]) + 1;
            const double g = gamma_n(terms);
            const double eta = up((double)terms * 0x1p-1073);
            const double m = up(up(up(std::fabs(r) + up(up(g * g) * s)) + eta) * widen);
            mag[i] = finite(m) ? m : inf;
        }
    });
}

}  // namespace norva::sparse
