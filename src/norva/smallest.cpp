// Estimate of the smallest eigenvalue of L L^T by inverse iteration from a
// fixed pseudo-random start vector.
#include <cmath>

#include "common/finite.h"
#include "common/start_vector.h"
#include "common/tight_shift.h"
#include "norva/spd.h"

namespace norva {
namespace {

constexpr int rounds = 12;

void divide(uint64_t n, double *v, double e) {
    for (uint64_t i = 0; i < n; ++i) v[i] = v[i] / e;
}

// L y = v, y_i = (v_i - sum_j<i L_ij y_j) / L_ii, the terms subtracted in
// ascending j.  Four rows run their chains side by side up to the first of
// them, then finish one after the other: the same sequence per row.
void forward(uint64_t n, const double *L, const double *v, double *y) {
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const double *l0 = L + i * n, *l1 = l0 + n, *l2 = l1 + n, *l3 = l2 + n;
        double t0 = v[i], t1 = v[i + 1], t2 = v[i + 2], t3 = v[i + 3];
        for (uint64_t j = 0; j < i; ++j) {
            const double yj = y[j];
            t0 = t0 - l0[j] * yj;
            t1 = t1 - l1[j] * yj;
            t2 = t2 - l2[j] * yj;
            t3 = t3 - l3[j] * yj;
        }
        y[i] = t0 / l0[i];
        t1 = t1 - l1[i] * y[i];
        y[i + 1] = t1 / l1[i + 1];
        t2 = t2 - l2[i] * y[i];
        t2 = t2 - l2[i + 1] * y[i + 1];
        y[i + 2] = t2 / l2[i + 2];
        t3 = t3 - l3[i] * y[i];
        t3 = t3 - l3[i + 1] * y[i + 1];
        t3 = t3 - l3[i + 2] * y[i + 2];
        y[i + 3] = t3 / l3[i + 3];
    }
    for (; i < n; ++i) {
        const double *li = L + i * n;
        double t = v[i];
        for (uint64_t j = 0; j < i; ++j) t = t - li[j] * y[j];
        y[i] = t / li[i];
    }
}

// L^T v = y by columns: v_j = y_j / L_jj from the last row up, each solved
// entry subtracted from the entries above it (y is consumed).
void backward(uint64_t n, const double *L, double *v, double *y) {
    v[n - 1] = y[n - 1] / L[(n - 1) * n + (n - 1)];
    for (uint64_t j = n - 1; j >= 1; --j) {
        const double *lj = L + j * n;
        const double vj = v[j];
        for (uint64_t k = 0; k < j; ++k) y[k] = y[k] - lj[k] * vj;
        v[j - 1] = y[j - 1] / L[(j - 1) * n + (j - 1)];
    }
}

}  // namespace

double smallest_settled(uint64_t n, const double *L, double *v, double *y, double *w,
                        int max_rounds, double tolerance) {
    if (n == 0) return 0.0;
    return settled_estimate(n, 0.0, v, w, max_rounds, tolerance, [&](double *x) {
        forward(n, L, x, y);
        backward(n, L, x, y);  // x = (L L^T)^-1 x, y consumed
        return true;
    });
}

double smallest(uint64_t n, const double *L, double *v, double *y) {
    if (n == 0) return 0.0;
    start_vector(n, v);
    double e = 0.0;
    for (int r = 0; r < rounds; ++r) {
        forward(n, L, v, y);
        backward(n, L, v, y);
        e = norm2(n, v);
        if (!(e > 0.0) || e > dbl_max) return 0.0;
        divide(n, v, e);
    }
    return 1.0 / e;
}

}  // namespace norva
