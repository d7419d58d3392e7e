// The portable int8 kernel ("plain").  Every kernel computes exact integer
// sums (modulo 2^32), so the order is free: on x86-64 A and Bt are packed per
// block of k into 32-bit groups along k, and register tiles of C are summed
// with AVX-512 VNNI (four byte products per lane) or AVX2 (two 16-bit
// products per lane), whichever the processor has; elsewhere, and when the
// packing scratch is not available, the defining loop runs.
#include <cstring>

#include "common/scratch.h"
#include "qxsum/qxsum_internal.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define QX_I8_X86 1
#else
#define QX_I8_X86 0
#endif

namespace qx {

namespace {

#if QX_I8_X86

constexpr uint64_t KC = 512;  // entries of k per block

inline uint32_t load32(const int8_t *p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// The word of group q of a line x of kc entries: K::word of the G entries
// from q G on, zeros past kc.
template <class K>
inline uint32_t group(const int8_t *x, uint64_t q, uint64_t kc, bool of_b) {
    if ((q + 1) * K::G <= kc) return K::word(x + q * K::G, of_b);
    int8_t rest[4] = {0, 0, 0, 0};
    std::memcpy(rest, x + q * K::G, kc - q * K::G);
    return K::word(rest, of_b);
}

// A panel of up to NR rows of Bt, entries k0 .. k0 + kc: per group q along
// k, NR words (those of rows past the last are 0).
template <class K>
void pack_panel(const int8_t *Bt, uint64_t ldb, uint64_t cols, uint64_t k0, uint64_t kc,
                uint32_t *out) {
    const uint64_t kq = (kc + K::G - 1) / K::G;
    for (uint64_t c = 0; c < (uint64_t)K::NR; ++c) {
        const int8_t *x = Bt + c * ldb + k0;
        for (uint64_t q = 0; q < kq; ++q) out[q * K::NR + c] = c < cols ? group<K>(x, q, kc, true) : 0;
    }
}

// AVX-512 VNNI: 8 x 32 tiles, B as unsigned b + 128, so a tile holds
// sum (b + 128) a; the bias 128 sum a of each row is taken off at the end.
struct vnni {
    static constexpr int G = 4, MR = 8, NR = 32;
    static constexpr bool biased = true;
    // Four bytes of A as they are, of B as unsigned b + 128.
    static uint32_t word(const int8_t *x, bool of_b) {
        return of_b ? load32(x) ^ 0x80808080u : load32(x);
    }

    // 128 times the sum of x[0 .. kc) (modulo 2^32).
    __attribute__((target("avx512f,avx512bw,avx512vnni"))) static int32_t bias(const int8_t *x,
                                                                              uint64_t kc) {
        const __m512i ones = _mm512_set1_epi8(1);
        __m512i acc = _mm512_setzero_si512();
        for (uint64_t l = 0; l < kc; l += 64) {
            const __mmask64 mk = kc - l >= 64 ? ~(__mmask64)0 : ((__mmask64)1 << (kc - l)) - 1;
            acc = _mm512_dpbusd_epi32(acc, ones, _mm512_maskz_loadu_epi8(mk, x + l));
        }
        uint32_t lane[16], sum = 0;
        _mm512_storeu_si512(lane, acc);
        for (uint32_t x : lane) sum += x;
        return (int32_t)(sum << 7);
    }

    // Rows a[0 .. MR) (entries 0 .. kc) against a packed panel.  Every
    // index into acc is a constant once the loops over r are unrolled, so
    // the sixteen accumulators stay in registers.
    __attribute__((target("avx512f,avx512bw,avx512vnni"))) static void tile(
        uint64_t kc, const int8_t *const *a, const uint32_t *pb, int32_t *C, uint64_t ldc,
        uint64_t rows, uint64_t cols, bool add, const int32_t *rowbias) {
        __m512i acc[MR][2];
        const int8_t *ar[MR];
#pragma GCC unroll 8
        for (int r = 0; r < MR; ++r) {
            acc[r][0] = acc[r][1] = _mm512_setzero_si512();
            ar[r] = a[r];
        }
        // Whole groups read in place, then the zero-padded last group.
        const uint64_t full = kc / G;
        for (uint64_t q = 0; q < full; ++q) {
            const __m512i b0 = _mm512_loadu_si512(pb + q * NR);
            const __m512i b1 = _mm512_loadu_si512(pb + q * NR + 16);
#pragma GCC unroll 8
            for (int r = 0; r < MR; ++r) {
                const __m512i x = _mm512_set1_epi32((int)load32(ar[r] + q * G));
                acc[r][0] = _mm512_dpbusd_epi32(acc[r][0], b0, x);
                acc[r][1] = _mm512_dpbusd_epi32(acc[r][1], b1, x);
            }
        }
        if (full * G < kc) {
            const __m512i b0 = _mm512_loadu_si512(pb + full * NR);
            const __m512i b1 = _mm512_loadu_si512(pb + full * NR + 16);
#pragma GCC unroll 8
            for (int r = 0; r < MR; ++r) {
                const __m512i x = _mm512_set1_epi32((int)group<vnni>(ar[r], full, kc, false));
                acc[r][0] = _mm512_dpbusd_epi32(acc[r][0], b0, x);
                acc[r][1] = _mm512_dpbusd_epi32(acc[r][1], b1, x);
            }
        }
        const __mmask16 m0 = cols >= 16 ? 0xffff : (__mmask16)((1u << cols) - 1);
        const __mmask16 m1 =
            cols >= 32 ? 0xffff : cols > 16 ? (__mmask16)((1u << (cols - 16)) - 1) : 0;
#pragma GCC unroll 8
        for (int r = 0; r < MR; ++r) {
            if ((uint64_t)r >= rows) continue;
            int32_t *c = C + r * ldc;
            const __m512i d = _mm512_set1_epi32(rowbias[r]);
            __m512i v0 = _mm512_sub_epi32(acc[r][0], d), v1 = _mm512_sub_epi32(acc[r][1], d);
            if (add) {
                v0 = _mm512_add_epi32(v0, _mm512_maskz_loadu_epi32(m0, c));
                v1 = _mm512_add_epi32(v1, _mm512_maskz_loadu_epi32(m1, c + 16));
            }
            _mm512_mask_storeu_epi32(c, m0, v0);
            _mm512_mask_storeu_epi32(c + 16, m1, v1);
        }
    }
};

// AVX2: 6 x 16 tiles of 16-bit pairs, one vpmaddwd per pair of products.
struct avx2 {
    static constexpr int G = 2, MR = 6, NR = 16;
    static constexpr bool biased = false;
    // Two bytes widened to two 16-bit integers.
    static uint32_t word(const int8_t *x, bool) {
        return (uint32_t)(uint16_t)(int16_t)x[0] | (uint32_t)(uint16_t)(int16_t)x[1] << 16;
    }
    static int32_t bias(const int8_t *, uint64_t) { return 0; }

    __attribute__((target("avx2"))) static void tile(uint64_t kc, const int8_t *const *a,
                                                     const uint32_t *pb, int32_t *C, uint64_t ldc,
                                                     uint64_t rows, uint64_t cols, bool add,
                                                     const int32_t *) {
        __m256i acc[MR][2];
        for (int r = 0; r < MR; ++r) acc[r][0] = acc[r][1] = _mm256_setzero_si256();
        const uint64_t kq = (kc + G - 1) / G;
        for (uint64_t q = 0; q < kq; ++q) {
            const __m256i b0 = _mm256_loadu_si256((const __m256i *)(pb + q * NR));
            const __m256i b1 = _mm256_loadu_si256((const __m256i *)(pb + q * NR + 8));
#pragma GCC unroll 6
            for (int r = 0; r < MR; ++r) {
                const __m256i w = _mm256_set1_epi32((int)group<avx2>(a[r], q, kc, false));
                acc[r][0] = _mm256_add_epi32(acc[r][0], _mm256_madd_epi16(b0, w));
                acc[r][1] = _mm256_add_epi32(acc[r][1], _mm256_madd_epi16(b1, w));
            }
        }
        const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const __m256i m0 = _mm256_cmpgt_epi32(_mm256_set1_epi32((int)cols), lane);
        const __m256i m1 = _mm256_cmpgt_epi32(_mm256_set1_epi32((int)cols - 8), lane);
        for (uint64_t r = 0; r < rows; ++r) {
            int *c = (int *)(C + r * ldc);
            __m256i v0 = acc[r][0], v1 = acc[r][1];
            if (add) {
                v0 = _mm256_add_epi32(v0, _mm256_maskload_epi32(c, m0));
                v1 = _mm256_add_epi32(v1, _mm256_maskload_epi32(c + 8, m1));
            }
            _mm256_maskstore_epi32(c, m0, v0);
            _mm256_maskstore_epi32(c + 8, m1, v1);
        }
    }
};

// Blocks of KC along k; per block, panels of NR rows of Bt packed on the
// stack (16 KiB, kept in the first-level cache), each against every tile of
// MR rows of A read in place (a short last tile repeats its last row; the
// copies are not stored).
template <class K>
void blocked(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
             uint64_t ldb, int32_t *C, uint64_t ldc) {
    int32_t *bias = nullptr;
    norva::freer<1> scope;
    if (K::biased) {
        bias = scope.own(norva::alloc_zero<int32_t>(m));
        if (!bias) return i8_loop(m, n, k, A, lda, Bt, ldb, C, ldc);
    }
    static_assert(KC / K::G * K::NR * 4 <= 16384);
    uint32_t panel[KC / K::G * K::NR];
    for (uint64_t k0 = 0; k0 < k; k0 += KC) {
        const uint64_t kc = k - k0 < KC ? k - k0 : KC;
        if (K::biased)
            for (uint64_t i = 0; i < m; ++i) bias[i] = K::bias(A + i * lda + k0, kc);
        for (uint64_t j = 0; j < n; j += K::NR) {
            const uint64_t cols = n - j < (uint64_t)K::NR ? n - j : K::NR;
            pack_panel<K>(Bt + j * ldb, ldb, cols, k0, kc, panel);
            for (uint64_t i = 0; i < m; i += K::MR) {
                const uint64_t rows = m - i < (uint64_t)K::MR ? m - i : K::MR;
                const int8_t *a[K::MR];
                for (uint64_t r = 0; r < (uint64_t)K::MR; ++r)
                    a[r] = A + (i + (r < rows ? r : rows - 1)) * lda + k0;
                K::tile(kc, a, panel, C + i * ldc + j, ldc, rows, cols, k0 > 0,
                        K::biased ? bias + i : nullptr);
            }
        }
    }
}

// The VNNI kernel on B prepared once as panels (i8_panel_at, bytes b + 128):
// blocks of KC along k, per block and tile of MR rows the row biases, then
// every panel of the block against that tile; the panels of a block stay in
// the first-level cache for the tiles below.
__attribute__((target("avx512f,avx512bw,avx512vnni"))) void vnni_panels(
    uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const uint32_t *P,
    uint64_t kq, int32_t *C, uint64_t ldc) {
    for (uint64_t k0 = 0; k0 < k; k0 += KC) {
        const uint64_t kc = k - k0 < KC ? k - k0 : KC;
        for (uint64_t i = 0; i < m; i += vnni::MR) {
            const uint64_t rows = m - i < (uint64_t)vnni::MR ? m - i : vnni::MR;
            const int8_t *a[vnni::MR];
            int32_t bias[vnni::MR];
            for (uint64_t r = 0; r < (uint64_t)vnni::MR; ++r) {
                a[r] = A + (i + (r < rows ? r : rows - 1)) * lda + k0;
                bias[r] = vnni::bias(a[r], kc);
            }
            for (uint64_t j = 0; j < n; j += vnni::NR) {
                const uint64_t cols = n - j < (uint64_t)vnni::NR ? n - j : vnni::NR;
                const uint32_t *pb = P + (j / vnni::NR * kq + k0 / vnni::G) * vnni::NR;
                vnni::tile(kc, a, pb, C + i * ldc + j, ldc, rows, cols, k0 > 0, bias);
            }
        }
    }
}

#endif

}  // namespace

bool i8_panels_usable() {
#if QX_I8_X86
    static const bool usable = i8_best() == i8_vnni;
    return usable;
#else
    return false;
#endif
}

void i8_panels(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
               const uint8_t *P, uint64_t kq, int32_t *C, uint64_t ldc) {
#if QX_I8_X86
    static_assert(vnni::NR == i8_panel_cols && vnni::G == i8_panel_group);
    if (m == 0 || n == 0) return;
    if (k == 0) {
        for (uint64_t i = 0; i < m; ++i) std::memset(C + i * ldc, 0, n * sizeof(int32_t));
        return;
    }
    vnni_panels(m, n, k, A, lda, (const uint32_t *)P, kq, C, ldc);
#else
    (void)m, (void)n, (void)k, (void)A, (void)lda, (void)P, (void)kq, (void)C, (void)ldc;
#endif
}

int i8_best() {
#if QX_I8_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512bw")) return i8_vnni;
    if (__builtin_cpu_supports("avx2")) return i8_avx2;
#endif
    return i8_generic;
}

void i8_plain_at(int level, uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                 const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc) {
    if (m == 0 || n == 0) return;
    if (k == 0) {
        for (uint64_t i = 0; i < m; ++i) std::memset(C + i * ldc, 0, n * sizeof(int32_t));
        return;
    }
#if QX_I8_X86
    if (level == i8_vnni) return blocked<vnni>(m, n, k, A, lda, Bt, ldb, C, ldc);
    if (level == i8_avx2) return blocked<avx2>(m, n, k, A, lda, Bt, ldb, C, ldc);
#else
    (void)level;
#endif
    i8_loop(m, n, k, A, lda, Bt, ldb, C, ldc);
}

void i8_plain(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
              uint64_t ldb, int32_t *C, uint64_t ldc) {
    static const int level = i8_best();
    i8_plain_at(level, m, n, k, A, lda, Bt, ldb, C, ldc);
}

}  // namespace qx
