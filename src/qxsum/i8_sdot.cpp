// The int8 kernel on the AArch64 Advanced SIMD dot-product instruction
// (SDOT: each 32-bit lane adds four byte products).  2 x 4 output tiles held
// in eight registers: a 16-byte load of an A row feeds four SDOT, a load of
// a Bt row two, and the inner loop stores nothing.  Column
// blocks keep at most 16 KiB of Bt (for k up to 4096) in the first-level
// cache.  Only this function is compiled for the instruction; it is called
// only when the processor reports it.  Other processors get the portable
// kernel under the same name.
#include "qxsum/qxsum_internal.h"

#if defined(__aarch64__)
#include <arm_neon.h>

extern "C" __attribute__((target("arch=armv8.2-a+dotprod"))) void i8_sdot(uint64_t m, uint64_t n, uint64_t k,
                                                             const int8_t *A, uint64_t lda,
                                                             const int8_t *Bt, uint64_t ldb,
                                                             int32_t *C, uint64_t ldc) {
    const uint64_t k16 = k & ~(uint64_t)15;
    uint64_t jb = k16 > 0 ? ((16384 / k16) & ~(uint64_t)3) : n;
    if (jb < 4) jb = 4;
    for (uint64_t j0 = 0; j0 < n; j0 += jb) {
        const uint64_t je = n - j0 < jb ? n : j0 + jb;
        for (uint64_t i = 0; i < m; i += 2) {
            // A lone last row is paired with itself; its copy is dropped.
            const uint64_t rows = m - i < 2 ? 1 : 2;
            const int8_t *a[2] = {A + i * lda, A + (i + rows - 1) * lda};
            for (uint64_t j = j0; j < je; j += 4) {
                const uint64_t cols = je - j < 4 ? je - j : 4;
                const int8_t *b[4];
                for (uint64_t c = 0; c < 4; ++c) b[c] = Bt + (j + (c < cols ? c : cols - 1)) * ldb;
                // Eight named accumulators, the column loop written out: the
                // tile stays in registers (an array indexed in a loop went
                // through the stack on every step).
                const int8_t *b0 = b[0], *b1 = b[1], *b2 = b[2], *b3 = b[3];
                const int8_t *a0p = a[0], *a1p = a[1];
                int32x4_t c00 = vdupq_n_s32(0), c01 = c00, c02 = c00, c03 = c00;
                int32x4_t c10 = c00, c11 = c00, c12 = c00, c13 = c00;
                for (uint64_t l = 0; l < k16; l += 16) {
                    const int8x16_t a0 = vld1q_s8(a0p + l), a1 = vld1q_s8(a1p + l);
                    const int8x16_t x0 = vld1q_s8(b0 + l), x1 = vld1q_s8(b1 + l);
                    const int8x16_t x2 = vld1q_s8(b2 + l), x3 = vld1q_s8(b3 + l);
                    c00 = vdotq_s32(c00, a0, x0);
                    c10 = vdotq_s32(c10, a1, x0);
                    c01 = vdotq_s32(c01, a0, x1);
                    c11 = vdotq_s32(c11, a1, x1);
                    c02 = vdotq_s32(c02, a0, x2);
                    c12 = vdotq_s32(c12, a1, x2);
                    c03 = vdotq_s32(c03, a0, x3);
                    c13 = vdotq_s32(c13, a1, x3);
                }
                const int32x4_t acc[2][4] = {{c00, c01, c02, c03}, {c10, c11, c12, c13}};
                for (uint64_t r = 0; r < rows; ++r)
                    for (uint64_t c = 0; c < cols; ++c) {
                        uint32_t s = (uint32_t)vaddvq_s32(acc[r][c]);
                        for (uint64_t l = k16; l < k; ++l)
                            s += (uint32_t)((int32_t)a[r][l] * (int32_t)b[c][l]);
                        C[(i + r) * ldc + j + c] = (int32_t)s;
                    }
            }
        }
    }
}

#else

extern "C" void i8_sdot(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                        const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc) {
    qx::i8_plain(m, n, k, A, lda, Bt, ldb, C, ldc);
}

#endif
