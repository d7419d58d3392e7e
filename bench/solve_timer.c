/* The C side of bench/python_overhead.py: times norva_solve on a system read
 * from a raw file (n*n doubles of A row by row, then n doubles of b), the same
 * call that the Python package makes.
 *
 *   solve_timer FILE N REPS MODE BLAS
 *
 * BLAS 1 passes OpenBLAS cblas_dgemm as the product callback.  After one
 * untimed call, prints the median and the minimum wall-clock time of one call
 * in seconds and the status of the last call. */
#include <cblas.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "norva.h"

static void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                      const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    (void)ctx;
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

static int by_value(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: solve_timer FILE N REPS MODE BLAS\n");
        return 2;
    }
    size_t n = strtoull(argv[2], NULL, 10), reps = strtoull(argv[3], NULL, 10);
    int mode = atoi(argv[4]), blas = atoi(argv[5]);
    double *a = malloc(n * n * sizeof *a), *b = malloc(n * sizeof *b);
    double *lo = malloc(n * sizeof *lo), *hi = malloc(n * sizeof *hi);
    double *t = malloc(reps * sizeof *t);
    FILE *f = fopen(argv[1], "rb");
    if (!a || !b || !lo || !hi || !t || !f || reps == 0 ||
        fread(a, sizeof *a, n * n, f) != n * n || fread(b, sizeof *b, n, f) != n) {
        fprintf(stderr, "solve_timer: cannot read %s\n", argv[1]);
        return 2;
    }
    fclose(f);
    /* One call untimed: thread team, first touch of the library's scratch. */
    int32_t status = norva_solve(n, a, n, b, NULL, 0, lo, hi, mode, blas ? blas_gemm : NULL, NULL);
    for (size_t r = 0; r < reps; r++) {
        double t0 = now();
        status = norva_solve(n, a, n, b, NULL, 0, lo, hi, mode, blas ? blas_gemm : NULL, NULL);
        t[r] = now() - t0;
    }
    qsort(t, reps, sizeof *t, by_value);
    printf("%.9g %.9g %d\n", t[reps / 2], t[0], status);
    free(a), free(b), free(lo), free(hi), free(t);
    return 0;
}
