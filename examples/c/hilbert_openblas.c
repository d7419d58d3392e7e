/* Verified solution of an ill-conditioned system, with OpenBLAS doing the
 * matrix products.
 *
 * The matrix is the Hilbert matrix of order 12 scaled to integers,
 * H[i][j] = L / (i + j + 1) with L = lcm(1, ..., 23): every entry is an
 * integer below 2^33, exact in double.  The right-hand side b = H x for the
 * integer vector x[i] = (-1)^i (i + 1) is exact too, so the solution is
 * known.  H has a condition number near 10^16: a plain double-precision
 * solver loses every digit.  norva_solve proves bounds around x, and each
 * of them is checked here against the exact answer.
 *
 * The library calls the product callback for its large matrix products;
 * here it is OpenBLAS's cblas_dgemm (row-major, no transposition).
 *
 * Exit status 0 when every proven enclosure contains the exact solution
 * and the double-length mode (2) proves all of them; 1 otherwise. */
#include <cblas.h>
#include <norva.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

enum { N = 12 };

/* C = A B with OpenBLAS.  OpenBLAS takes int dimensions (unless built with
 * 64-bit integers); the products of this program are far smaller. */
static void openblas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                          const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx)
{
    (void)ctx;
    if (m > INT_MAX || n > INT_MAX || k > INT_MAX || lda > INT_MAX || ldb > INT_MAX ||
        ldc > INT_MAX) {
        fprintf(stderr, "matrix too large for 32-bit OpenBLAS dimensions\n");
        abort();
    }
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}

static long long gcd(long long a, long long b)
{
    while (b != 0) {
        const long long t = a % b;
        a = b;
        b = t;
    }
    return a;
}

int main(void)
{
    static double h[N * N], b[N], x[N], lo[N], hi[N];
    long long l = 1;
    for (long long k = 1; k <= 2 * N - 1; ++k) l = l / gcd(l, k) * k;
    for (int i = 0; i < N; ++i) x[i] = (i % 2 ? -1.0 : 1.0) * (i + 1);
    for (int i = 0; i < N; ++i) {
        long long bi = 0; /* exact: |b_i| < 2^40 */
        for (int j = 0; j < N; ++j) {
            const long long hij = l / (i + j + 1);
            h[i * N + j] = (double)hij;
            bi += hij * (long long)x[j];
        }
        b[i] = (double)bi;
    }

    printf("norva %s: Hilbert matrix of order %d scaled by L = %lld, solution x_i = "
           "(-1)^i (i+1)\n",
           norva_version(), N, l);
    int failures = 0;
    for (int mode = 1; mode <= 2; ++mode) {
        const int32_t status = norva_solve(N, h, N, b, NULL, 0, lo, hi, mode, openblas_gemm, NULL);
        printf("\nmode %d (%s), products by OpenBLAS: status %d\n", mode,
               mode == 1 ? "floating-point products with error bounds" : "double-length",
               (int)status);
        if (status != 0) {
            printf("  not proven: every bound is [-inf, inf]%s\n",
                   mode == 1 ? " (too ill-conditioned for mode 1)" : "");
            if (mode == 2) ++failures;
            continue;
        }
        for (int i = 0; i < N; ++i) {
            const int inside = lo[i] <= x[i] && x[i] <= hi[i];
            printf("  x_%-2d in [%.17g, %.17g]  %s\n", i + 1, lo[i], hi[i],
                   inside ? "contains the exact value" : "MISSES THE EXACT VALUE");
            failures += !inside;
        }
    }
    printf("\n%s\n", failures ? "FAILED" : "every proven enclosure contains the exact solution");
    return failures ? 1 : 0;
}
