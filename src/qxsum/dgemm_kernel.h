// Ordered double-precision matrix kernels.
//
// Every entry of a product is the plain sequential sum
//     c = +0;  for p = 0 .. k-1:  c = c + A_ip * B_pj
// (or c = c - A_ip * B_pj starting from the old C_ij for the subtracting
// variant), each multiplication and each addition rounded to nearest.  The
// code is blocked, packed, register-tiled and vectorised, and parallel over
// row blocks, but none of that changes the sequence of operations of an
// entry: the results are bit-identical to the triple loop, whatever the
// number of threads or the instruction set.  Matrices are row-major.
//
// The solvers use these for the library's own matrix product (gemm_plain),
// for the products of integer slices of the Ozaki scheme and for the
// elimination and substitutions of the approximate inverse.
#ifndef NORVA_QXSUM_DGEMM_KERNEL_H
#define NORVA_QXSUM_DGEMM_KERNEL_H

#include <cstdint>

namespace qx {

// Instruction-set levels the kernels are compiled for.  On x86-64 the best
// level the processor and the operating system support is chosen at run
// time; elsewhere (AArch64: Advanced SIMD) there is one level.  Every level
// gives the same bits.
enum simd_level : int { simd_generic = 0, simd_avx2 = 1, simd_avx512 = 2 };
int simd_best();

// C (m x n, ldc) = A (m x k, lda) B (k x n, ldb) in the order above; m = 0
// or n = 0 writes nothing, k = 0 writes zeros.  Parallel (OpenMP) when the
// product is large and the caller is not inside a parallel region; scratch
// for packing from malloc, with an unpacked loop of identical results when it
// is not available.  Computes in the default floating-point environment
// (round to nearest) whatever the caller's.  Callable from any thread.
void gemm_ordered(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc);

// C = C - A B: every entry c = c - A_ip * B_pj for p ascending.  Like
// gemm_ordered otherwise; k = 0 leaves C as it is.
void gemm_ordered_sub(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                      const double *B, uint64_t ldb, double *C, uint64_t ldc);

// Scratch of one thread for the variants below, in doubles, enough for any
// product with at most n columns and depth at most k.
uint64_t gemm_scratch_doubles(uint64_t n, uint64_t k);

// Team size gemm_ordered would use for an m x n x k product: 1 for small
// products or inside a parallel region, else the runtime's default.
int gemm_team(uint64_t m, uint64_t n, uint64_t k);

// The kernels at an explicit level (at most simd_best()).  sub selects
// C = C - A B.  `pool` holds `threads` blocks of `stride` doubles (at least
// gemm_scratch_doubles(n, k) each), or is null (unpacked loop).  threads > 1
// opens a parallel region of that many threads (thread t uses block t); C
// must not overlap A or B.
void gemm_ordered_at(int level, bool sub, int threads, uint64_t m, uint64_t n, uint64_t k,
                     const double *A, uint64_t lda, const double *B, uint64_t ldb, double *C,
                     uint64_t ldc, double *pool, uint64_t stride);

// Row update c_j = c_j - a_t * B_tj for t = 0 .. cnt-1 ascending, j < w (B
// has leading dimension ldb).  Serial.
void row_sub(int level, uint64_t cnt, const double *a, const double *B, uint64_t ldb, double *c,
             uint64_t w);

}  // namespace qx

#endif
