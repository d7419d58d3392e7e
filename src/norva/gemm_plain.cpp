// The library's own matrix product: the ordered kernel of the summation
// module, whose every entry is the sequential sum in ascending p.
#include "norva/dense.h"
#include "qxsum/dgemm_kernel.h"

namespace norva {

void gemm_plain(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    qx::gemm_ordered(m, n, k, A, lda, B, ldb, C, ldc);
}

}  // namespace norva
