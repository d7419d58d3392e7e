// Matrix-product callbacks for tests: products that are not the library's
// own, so that results that must not depend on the summation order can be
// checked against them.
#ifndef NORVA_TESTS_CALLBACKS_H
#define NORVA_TESTS_CALLBACKS_H

#include <cstdint>

#ifdef NORVA_TEST_OPENBLAS
#include <cblas.h>
#endif

namespace testsupport {

// C = A B with every entry summed in the reverse order of the inner index,
// C_ij = ((0 + a_i,k-1 b_k-1,j) + a_i,k-2 b_k-2,j) + ..., row by row so that
// it is not slow.
inline void reverse_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                         const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    for (uint64_t i = 0; i < m; ++i) {
        double *c = C + i * ldc;
        for (uint64_t j = 0; j < n; ++j) c[j] = 0;
        for (uint64_t l = k; l-- > 0;) {
            const double s = A[i * lda + l];
            const double *b = B + l * ldb;
            for (uint64_t j = 0; j < n; ++j) c[j] += s * b[j];
        }
    }
}

#ifdef NORVA_TEST_OPENBLAS
// OpenBLAS's cblas_dgemm as the callback (programs registered with
// norva_test_openblas).
inline void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                      const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A, (int)lda,
                B, (int)ldb, 0.0, C, (int)ldc);
}
#endif

}  // namespace testsupport

#endif
