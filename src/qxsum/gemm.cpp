// Correctly rounded matrix products C = A B + beta C, every entry rounded once.
#include "common/scratch.h"
#include "qxsum/qxsum_internal.h"

using namespace qx;

extern "C" {

int qxgemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
           uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd) {
    if (rnd > 3) return -1;
    norva::freer<2> scope;
    uint64_t *bins = scope.own(dot_bins_alloc());         // optional
    double *col = scope.own(norva::alloc<double>(k));     // optional: unit-stride column of B
    qxsum_acc acc;
    for (uint64_t j = 0; j < n; ++j) {
        const double *b = B + j;
        uint64_t incb = ldb;
        if (col) {
            for (uint64_t l = 0; l < k; ++l) col[l] = B[l * ldb + j];
            b = col;
            incb = 1;
        }
        for (uint64_t i = 0; i < m; ++i) {
            qxsum_init(&acc);
            const double *a = A + i * lda;
            if (k >= 64 && bins) {
                int32_t lo = INT_MAX, hi = INT_MIN;
                add_dot_binned(&acc, a, 1, b, incb, k, bins, &lo, &hi);
                flush_dot_binned(&acc, bins, &lo, &hi);
            } else {
                for (uint64_t l = 0; l < k; ++l) add_product(&acc, a[l], b[l * incb]);
            }
            double *c = C + i * ldc + j;
            if (beta != 0.0) add_product(&acc, beta, *c);
            *c = finish(&acc, rnd, dbl_format);
        }
    }
    return 0;
}

int qxgemmf(uint64_t m, uint64_t n, uint64_t k, const float *A, uint64_t lda, const float *B,
            uint64_t ldb, float *C, float beta, uint64_t ldc, uint32_t rnd) {
    if (rnd > 3) return -1;
    norva::freer<3> scope;
    double *wa = scope.own(norva::alloc<double>(m * k));
    double *col = scope.own(norva::alloc<double>(k));
    uint64_t *bins = scope.own(dot_bins_alloc());  // optional
    if (!wa || !col) return -1;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t l = 0; l < k; ++l) wa[i * k + l] = (double)A[i * lda + l];
    qxsum_acc acc;
    for (uint64_t j = 0; j < n; ++j) {
        for (uint64_t l = 0; l < k; ++l) col[l] = (double)B[l * ldb + j];
        for (uint64_t i = 0; i < m; ++i) {
            qxsum_init(&acc);
            const double *a = wa + i * k;
            if (k >= 64 && bins) {
                int32_t lo = INT_MAX, hi = INT_MIN;
                add_dot_binned(&acc, a, 1, col, 1, k, bins, &lo, &hi);
                flush_dot_binned(&acc, bins, &lo, &hi);
            } else {
                for (uint64_t l = 0; l < k; ++l) add_product(&acc, a[l], col[l]);
            }
            float *c = C + i * ldc + j;
            if (beta != 0.0f) add_product(&acc, (double)beta, (double)*c);
            *c = (float)finish(&acc, rnd, flt_format);
        }
    }
    return 0;
}

}  // extern "C"
