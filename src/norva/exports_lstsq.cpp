// The least-squares export: checks, the augmented square system and the
// dense driver.
//
// m >= n:  [[alpha I_m, A], [A^T, 0]] [r; X] = [B; 0]  gives r = (B - A X) / alpha
//          and A^T (B - A X) = 0: X (rows m .. m+n-1) solves the least-squares
//          problem.
// m < n:   [[alpha I_n, A^T], [A, 0]] [X; Y] = [0; B]  gives A X = B with X in
//          the range of A^T: X (rows 0 .. n-1) is the minimum-norm solution.
// alpha changes only the condition of the augmented matrix, not X.
#include <bit>
#include <cstdint>
#include <cstring>

#include "norva.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "norva/lstsq.h"
#include "common/scratch.h"
#include "norva/solve.h"

namespace {

// alpha = 0 (either sign: the automatic choice), or a positive finite power
// of two: the fraction of a normal number all zero, or a subnormal with a
// single bit.  Decided on the bits.
bool valid_alpha(double alpha) {
    const uint64_t b = std::bit_cast<uint64_t>(alpha);
    if ((b << 1) == 0) return true;
    if (b >> 63) return false;  // negative
    const uint64_t e = b >> 52, f = b & 0xfffffffffffffULL;
    if (e == 0x7ff) return false;     // infinity, NaN
    if (e != 0) return f == 0;        // normal
    return (f & (f - 1)) == 0;        // subnormal: one bit
}

}  // namespace

extern "C" NORVA_API int32_t norva_lstsq(uint64_t m, uint64_t n, uint64_t nrhs, const double *a,
                                         uint64_t lda, const double *b, uint64_t ldb,
                                         double alpha, const double *r, uint64_t ldr,
                                         double *x_lo, double *x_hi, uint64_t ldx, int32_t mode,
                                         norva_gemm_fn gemm, void *ctx) {
    using namespace norva;
    if (m == 0 || n == 0) return -1;
    if (nrhs == 0 || (uint32_t)mode > 2) return -1;
    for (uint64_t i = 0; i < m; ++i) {
        for (uint64_t k = 0; k < nrhs; ++k)
            if (!finite_bits(b[i * ldb + k])) return -1;
        for (uint64_t j = 0; j < n; ++j)
            if (!finite_bits(a[i * lda + j])) return -1;
    }
    if (!valid_alpha(alpha)) return -1;

    // N = m + n; a sum that wraps, or a square that cannot be addressed, is
    // treated like an allocation that failed.
    const uint64_t N = m + n;
    freer<4> mem;
    double *K = nullptr, *rhs = nullptr, *lo = nullptr, *hi = nullptr;
    if (N > m && !too_big(N, N) && !too_big(N, nrhs)) {
        K = mem.own(alloc_zero<double>(N * N));
        rhs = mem.own(alloc_zero<double>(N * nrhs));
        lo = mem.own(alloc<double>(N * nrhs));
        hi = mem.own(alloc<double>(N * nrhs));
    }
    if (K == nullptr || rhs == nullptr || lo == nullptr || hi == nullptr) {
        fail_all(n, nrhs, x_lo, x_hi, ldx);
        return 1;
    }
    if (alpha == 0) {
        fenv_guard env;
        alpha = lstsq_alpha(m, n, a, lda, gemm, ctx);
    }

    const bool tall = m >= n;
    const uint64_t big = tall ? m : n;
    for (uint64_t i = 0; i < big; ++i) K[i * N + i] = alpha;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double v = a[i * lda + j];
            if (tall) {
                K[i * N + m + j] = v;
                K[(m + j) * N + i] = v;
            } else {
                K[j * N + n + i] = v;
                K[(n + i) * N + j] = v;
            }
        }
    const uint64_t first_b = tall ? 0 : n;
    for (uint64_t i = 0; i < m; ++i)
        std::memcpy(rhs + (first_b + i) * nrhs, b + i * ldb, nrhs * sizeof(double));

    // The structured inverse first (no approximate inverse of the caller's,
    // modes 0 and 1); the dense inverse of K when it fails or leaves a column
    // unproven, which then decides every column.
    int32_t status = -1;
    if (r == nullptr && mode != 2) {
        fenv_guard env;
        status = lstsq_structured(m, n, nrhs, a, lda, alpha, K, rhs, lo, hi, mode, gemm, ctx);
    }
    if (status != 0)
        status = solve(N, nrhs, K, N, rhs, nrhs, nullptr, nullptr, r, ldr, lo, hi, nrhs, mode, gemm,
                       ctx);

    const uint64_t first_x = tall ? m : 0;
    for (uint64_t j = 0; j < n; ++j) {
        std::memcpy(x_lo + j * ldx, lo + (first_x + j) * nrhs, nrhs * sizeof(double));
        std::memcpy(x_hi + j * ldx, hi + (first_x + j) * nrhs, nrhs * sizeof(double));
    }
    return status;
}
