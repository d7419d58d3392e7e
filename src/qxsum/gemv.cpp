// Correctly rounded matrix-vector products y = op(A) x + beta y.
#include "common/scratch.h"
#include "qxsum/qxsum_internal.h"

using namespace qx;

extern "C" {

int qxgemv(int trans, uint64_t m, uint64_t n, const double *A, uint64_t lda, const double *x,
           double *y, uint32_t rnd, double beta) {
    if (rnd > 3) return -1;
    norva::freer<1> scope;
    uint64_t *bins = scope.own(dot_bins_alloc());  // optional
    const uint64_t outs = trans ? n : m, len = trans ? m : n;
    qxsum_acc acc;
    for (uint64_t i = 0; i < outs; ++i) {
        qxsum_init(&acc);
        const double *a = trans ? A + i : A + i * lda;
        const uint64_t inc = trans ? lda : 1;
        if (len >= 64 && bins) {
            int32_t lo = INT_MAX, hi = INT_MIN;
            add_dot_binned(&acc, a, inc, x, 1, len, bins, &lo, &hi);
            flush_dot_binned(&acc, bins, &lo, &hi);
        } else {
            for (uint64_t l = 0; l < len; ++l) add_product(&acc, a[l * inc], x[l]);
        }
        if (beta != 0.0) add_product(&acc, beta, y[i]);
        y[i] = finish(&acc, rnd, dbl_format);
    }
    return 0;
}

int qxgemvf(int trans, uint64_t m, uint64_t n, const float *A, uint64_t lda, const float *x,
            float *y, uint32_t rnd, float beta) {
    if (rnd > 3) return -1;
    const uint64_t outs = trans ? n : m, len = trans ? m : n;
    norva::freer<3> scope;
    double *wx = scope.own(norva::alloc<double>(len));
    double *wa = scope.own(norva::alloc<double>(len));
    uint64_t *bins = scope.own(dot_bins_alloc());  // optional
    if (!wx || !wa) return -1;
    for (uint64_t l = 0; l < len; ++l) wx[l] = (double)x[l];
    qxsum_acc acc;
    for (uint64_t i = 0; i < outs; ++i) {
        for (uint64_t l = 0; l < len; ++l) wa[l] = (double)(trans ? A[l * lda + i] : A[i * lda + l]);
        qxsum_init(&acc);
        if (len >= 64 && bins) {
            int32_t lo = INT_MAX, hi = INT_MIN;
            add_dot_binned(&acc, wa, 1, wx, 1, len, bins, &lo, &hi);
            flush_dot_binned(&acc, bins, &lo, &hi);
        } else {
            for (uint64_t l = 0; l < len; ++l) add_product(&acc, wa[l], wx[l]);
        }
        if (beta != 0.0f) add_product(&acc, (double)beta, (double)y[i]);
        y[i] = (float)finish(&acc, rnd, flt_format);
    }
    return 0;
}

}  // extern "C"
