// Ordered double-precision matrix kernels (see dgemm_kernel.h).
//
// Structure (per thread, over its share of the rows of C):
//   for column panels of C (nc columns):
//     for depth blocks (kc values of p, ascending):
//       pack the kc x nc block of B into strips of NR columns;
//       for row blocks (mc rows): pack the mc x kc block of A into strips of
//         MR rows, then for every MR x NR tile of C run the micro-kernel.
// The micro-kernel keeps the tile of C in vector registers across its kc
// values of p: c = c + a_ip * b_pj (or c - a_ip * b_pj), one multiplication
// and one addition per p, both rounded, never fused.  Between depth blocks
// the tile goes through memory as an ordinary double, so an entry still sees
// exactly the sequence p = 0, 1, ..., k-1.  Padding rows of A and columns of
// B are zeros whose results are never stored.
#include "qxsum/dgemm_kernel.h"

#include <omp.h>

#include <cstdlib>
#include <cstring>

#include "common/fenv_guard.h"
#include "common/partition.h"

#define QX_INLINE inline __attribute__((always_inline))

namespace qx {
namespace {

typedef double v2d __attribute__((vector_size(16)));
#if defined(__x86_64__)
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));
#define QX_X86 1
#define QX_TARGET_AVX2 __attribute__((target("avx2")))
#define QX_TARGET_AVX512 __attribute__((target("avx512f")))
#endif

// Blocking: kc values of p per packed block, mc rows of A per packed block,
// nc columns of B per packed panel (the packed B panel is shared by all row
// blocks of a thread).
constexpr uint64_t KC = 256;
constexpr uint64_t MC = 96;   // a multiple of every MR below
constexpr uint64_t NC = 1024;
constexpr uint64_t NR_MAX = 32;

template <class T>
constexpr T min_of(T a, T b) {
    return a < b ? a : b;
}

// Scratch of one thread for products with n columns and depth k: the packed
// B panel, then the packed A block.
constexpr uint64_t b_part(uint64_t n, uint64_t k) {
    return min_of(KC, k) * (min_of(NC, n) + NR_MAX);
}
constexpr uint64_t scratch_need(uint64_t n, uint64_t k) { return b_part(n, k) + MC * min_of(KC, k); }

// Unaligned vector load and store (vectors never cross a non-inlined call).
template <class V>
QX_INLINE void load(V &v, const double *p) {
    std::memcpy(&v, p, sizeof(V));
}

template <class V>
QX_INLINE void store(double *p, const V &v) {
    std::memcpy(p, &v, sizeof(V));
}

// The MR x NR tile at c (leading dimension ldc) over kc values of p: a holds
// MR values per p (packed), b NR values per p.  load: start from the tile's
// values (else from +0).
template <class V, int MR, int NV, bool SUB>
QX_INLINE void micro(uint64_t kc, const double *__restrict a, const double *__restrict b,
                     double *c, uint64_t ldc, bool load_c) {
    constexpr int L = sizeof(V) / sizeof(double);
    constexpr int NR = NV * L;
    V acc[MR][NV];
    if (load_c) {
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) load(acc[r][v], c + r * ldc + v * L);
    } else {
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) acc[r][v] = V{};  // +0 in every lane
    }
    for (uint64_t p = 0; p < kc; ++p) {
        V bv[NV];
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) load(bv[v], b + v * L);
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            const double s = a[r];
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) {
                const V t = s * bv[v];
                if constexpr (SUB)
                    acc[r][v] = acc[r][v] - t;
                else
                    acc[r][v] = acc[r][v] + t;
            }
        }
        a += MR;
        b += NR;
    }
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) store(c + r * ldc + v * L, acc[r][v]);
}

// A tile of mr <= MR rows and nr <= NR columns: partial tiles go through a
// local MR x NR copy.
template <class V, int MR, int NV, bool SUB>
QX_INLINE void tile(uint64_t kc, const double *a, const double *b, double *c, uint64_t ldc,
                    uint64_t mr, uint64_t nr, bool load_c) {
    constexpr int NR = NV * (int)(sizeof(V) / sizeof(double));
    if (mr == (uint64_t)MR && nr == (uint64_t)NR) {
        micro<V, MR, NV, SUB>(kc, a, b, c, ldc, load_c);
        return;
    }
    double t[MR * NR];
    std::memset(t, 0, sizeof t);
    if (load_c)
        for (uint64_t r = 0; r < mr; ++r)
            for (uint64_t j = 0; j < nr; ++j) t[r * NR + j] = c[r * ldc + j];
    micro<V, MR, NV, SUB>(kc, a, b, t, NR, load_c);
    for (uint64_t r = 0; r < mr; ++r)
        for (uint64_t j = 0; j < nr; ++j) c[r * ldc + j] = t[r * NR + j];
}

// mc x kc block of A into strips of MR rows, MR values per p; missing rows zero.
template <int MR>
QX_INLINE void pack_a(uint64_t mc, uint64_t kc, const double *A, uint64_t lda, double *Ap) {
    for (uint64_t i0 = 0; i0 < mc; i0 += MR) {
        const uint64_t mr = min_of<uint64_t>(MR, mc - i0);
        for (uint64_t r = 0; r < (uint64_t)MR; ++r) {
            if (r < mr) {
                const double *src = A + (i0 + r) * lda;
                for (uint64_t p = 0; p < kc; ++p) Ap[p * MR + r] = src[p];
            } else {
                for (uint64_t p = 0; p < kc; ++p) Ap[p * MR + r] = 0.0;
            }
        }
        Ap += kc * MR;
    }
}

// kc x nc block of B into strips of NR columns, NR values per p; missing
// columns zero.
template <int NR>
QX_INLINE void pack_b(uint64_t kc, uint64_t nc, const double *B, uint64_t ldb, double *Bp) {
    for (uint64_t j0 = 0; j0 < nc; j0 += NR) {
        const uint64_t nr = min_of<uint64_t>(NR, nc - j0);
        if (nr == (uint64_t)NR) {
            for (uint64_t p = 0; p < kc; ++p) {
                std::memcpy(Bp, B + p * ldb + j0, NR * sizeof(double));
                Bp += NR;
            }
        } else {
            for (uint64_t p = 0; p < kc; ++p) {
                const double *src = B + p * ldb + j0;
                for (uint64_t j = 0; j < (uint64_t)NR; ++j) Bp[j] = j < nr ? src[j] : 0.0;
                Bp += NR;
            }
        }
    }
}

// The unpacked loop (no scratch): row i, then p ascending, then j.
template <bool SUB>
QX_INLINE void plain(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                     const double *B, uint64_t ldb, double *C, uint64_t ldc) {
    for (uint64_t i = 0; i < m; ++i) {
        double *__restrict c = C + i * ldc;
        if constexpr (!SUB)
            for (uint64_t j = 0; j < n; ++j) c[j] = 0.0;
        for (uint64_t p = 0; p < k; ++p) {
            const double s = A[i * lda + p];
            const double *__restrict b = B + p * ldb;
            for (uint64_t j = 0; j < n; ++j) {
                if constexpr (SUB)
                    c[j] = c[j] - s * b[j];
                else
                    c[j] = c[j] + s * b[j];
            }
        }
    }
}

#if QX_X86
// The plain loop with the wider vectors where the processor has them (the
// same operations on every entry; only the number of entries per
// instruction changes).
// Entry (i, j) still starts at 0 (or its own value) and takes the terms in
// ascending p; a block of 8 or 4 columns of a row stays in registers over p.
template <bool SUB>
QX_TARGET_AVX2 void plain_avx2(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                               const double *B, uint64_t ldb, double *C, uint64_t ldc) {
    for (uint64_t i = 0; i < m; ++i) {
        double *c = C + i * ldc;
        const double *a = A + i * lda;
        uint64_t j = 0;
        for (; j + 8 <= n; j += 8) {
            v4d c0 = {0, 0, 0, 0}, c1 = {0, 0, 0, 0};
            if constexpr (SUB) {
                std::memcpy(&c0, c + j, sizeof c0);
                std::memcpy(&c1, c + j + 4, sizeof c1);
            }
            for (uint64_t p = 0; p < k; ++p) {
                const v4d s = {a[p], a[p], a[p], a[p]};
                v4d b0, b1;
                std::memcpy(&b0, B + p * ldb + j, sizeof b0);
                std::memcpy(&b1, B + p * ldb + j + 4, sizeof b1);
                if constexpr (SUB) {
                    c0 = c0 - s * b0;
                    c1 = c1 - s * b1;
                } else {
                    c0 = c0 + s * b0;
                    c1 = c1 + s * b1;
                }
            }
            std::memcpy(c + j, &c0, sizeof c0);
            std::memcpy(c + j + 4, &c1, sizeof c1);
        }
        for (; j + 4 <= n; j += 4) {
            v4d c0 = {0, 0, 0, 0};
            if constexpr (SUB) std::memcpy(&c0, c + j, sizeof c0);
            for (uint64_t p = 0; p < k; ++p) {
                const v4d s = {a[p], a[p], a[p], a[p]};
                v4d b0;
                std::memcpy(&b0, B + p * ldb + j, sizeof b0);
                if constexpr (SUB) c0 = c0 - s * b0;
                else c0 = c0 + s * b0;
            }
            std::memcpy(c + j, &c0, sizeof c0);
        }
        for (; j < n; ++j) {
            double t = SUB ? c[j] : 0.0;
            for (uint64_t p = 0; p < k; ++p) {
                if constexpr (SUB) t = t - a[p] * B[p * ldb + j];
                else t = t + a[p] * B[p * ldb + j];
            }
            c[j] = t;
        }
    }
}
#endif

template <bool SUB>
void plain_best(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                const double *B, uint64_t ldb, double *C, uint64_t ldc) {
#if QX_X86
    if (simd_best() >= simd_avx2) return plain_avx2<SUB>(m, n, k, A, lda, B, ldb, C, ldc);
#endif
    plain<SUB>(m, n, k, A, lda, B, ldb, C, ldc);
}

template <class V, int MR, int NV, bool SUB>
QX_INLINE void core(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                    const double *B, uint64_t ldb, double *C, uint64_t ldc, double *scratch) {
    constexpr int NR = NV * (int)(sizeof(V) / sizeof(double));
    static_assert(MC % MR == 0 && NR <= (int)NR_MAX);
    if (!scratch) {
        plain<SUB>(m, n, k, A, lda, B, ldb, C, ldc);
        return;
    }
    if (k == 0) {
        if constexpr (!SUB)
            for (uint64_t i = 0; i < m; ++i)
                for (uint64_t j = 0; j < n; ++j) C[i * ldc + j] = 0.0;
        return;
    }
    double *Bp = scratch;
    double *Ap = scratch + b_part(n, k);
    for (uint64_t jc = 0; jc < n; jc += NC) {
        const uint64_t nc = min_of(NC, n - jc);
        for (uint64_t pc = 0; pc < k; pc += KC) {
            const uint64_t kc = min_of(KC, k - pc);
            const bool load_c = SUB || pc > 0;
            pack_b<NR>(kc, nc, B + pc * ldb + jc, ldb, Bp);
            for (uint64_t ic = 0; ic < m; ic += MC) {
                const uint64_t mc = min_of(MC, m - ic);
                pack_a<MR>(mc, kc, A + ic * lda + pc, lda, Ap);
                for (uint64_t jr = 0; jr < nc; jr += NR) {
                    const uint64_t nr = min_of<uint64_t>(NR, nc - jr);
                    const double *bs = Bp + (jr / NR) * kc * NR;
                    for (uint64_t ir = 0; ir < mc; ir += MR) {
                        const uint64_t mr = min_of<uint64_t>(MR, mc - ir);
                        tile<V, MR, NV, SUB>(kc, Ap + (ir / MR) * kc * MR, bs,
                                             C + (ic + ir) * ldc + jc + jr, ldc, mr, nr, load_c);
                    }
                }
            }
        }
    }
}

// c_j = c_j - a_t B_tj over t ascending: CW columns at a time in registers,
// then single vectors, then single columns.
template <class V, int CW>
QX_INLINE void row_core(uint64_t cnt, const double *a, const double *B, uint64_t ldb, double *c,
                        uint64_t w) {
    constexpr int L = sizeof(V) / sizeof(double);
    constexpr int NV = CW / L;
    uint64_t j0 = 0;
    for (; j0 + CW <= w; j0 += CW) {
        V acc[NV];
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v) load(acc[v], c + j0 + v * L);
        const double *b = B + j0;
        for (uint64_t t = 0; t < cnt; ++t) {
            const double s = a[t];
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v) {
                V y;
                load(y, b + v * L);
                const V x = s * y;
                acc[v] = acc[v] - x;
            }
            b += ldb;
        }
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v) store(c + j0 + v * L, acc[v]);
    }
    for (; j0 + L <= w; j0 += L) {
        V acc;
        load(acc, c + j0);
        for (uint64_t t = 0; t < cnt; ++t) {
            V y;
            load(y, B + t * ldb + j0);
            const V x = a[t] * y;
            acc = acc - x;
        }
        store(c + j0, acc);
    }
    for (; j0 < w; ++j0) {
        double x = c[j0];
        for (uint64_t t = 0; t < cnt; ++t) x = x - a[t] * B[t * ldb + j0];
        c[j0] = x;
    }
}

// ---- one instantiation per instruction set -------------------------------

#if defined(__aarch64__)
// Advanced SIMD: 32 registers of two doubles.  A 6 x 4 tile (12
// accumulators) and rows of 24 (12): with a multiplication and a
// subtraction per step (no fused multiply-add) the 8 x 4 tile and rows of 32
// needed a product spilled to the stack on every step
// (scripts/check_kernel_loops.py reads the loops).
constexpr int generic_mr = 6;
#define QX_GENERIC_TILE v2d, 6, 2
#define QX_GENERIC_ROW v2d, 24
#else
// SSE2 (x86-64 baseline) and anything else: 16 registers of two doubles.
constexpr int generic_mr = 4;
#define QX_GENERIC_TILE v2d, 4, 2
#define QX_GENERIC_ROW v2d, 16
#endif

template <bool SUB>
void core_generic(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc, double *s) {
    core<QX_GENERIC_TILE, SUB>(m, n, k, A, lda, B, ldb, C, ldc, s);
}

void row_generic(uint64_t cnt, const double *a, const double *B, uint64_t ldb, double *c,
                 uint64_t w) {
    row_core<QX_GENERIC_ROW>(cnt, a, B, ldb, c, w);
}

#if QX_X86
// AVX2: 16 registers of four doubles; a 6 x 8 tile keeps 12 of them.
constexpr int avx2_mr = 6;
template <bool SUB>
QX_TARGET_AVX2 void core_avx2(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                              const double *B, uint64_t ldb, double *C, uint64_t ldc,
                              double *s) {
    core<v4d, 6, 2, SUB>(m, n, k, A, lda, B, ldb, C, ldc, s);
}
QX_TARGET_AVX2 void row_avx2(uint64_t cnt, const double *a, const double *B, uint64_t ldb,
                             double *c, uint64_t w) {
    row_core<v4d, 32>(cnt, a, B, ldb, c, w);
}

// AVX-512: 32 registers of eight doubles; a 16 x 8 tile keeps 16 of them
// (measured faster than wider tiles on processors that split 512-bit
// operations in two).
constexpr int avx512_mr = 16;
template <bool SUB>
QX_TARGET_AVX512 void core_avx512(uint64_t m, uint64_t n, uint64_t k, const double *A,
                                  uint64_t lda, const double *B, uint64_t ldb, double *C,
                                  uint64_t ldc, double *s) {
    core<v8d, 16, 1, SUB>(m, n, k, A, lda, B, ldb, C, ldc, s);
}
QX_TARGET_AVX512 void row_avx512(uint64_t cnt, const double *a, const double *B, uint64_t ldb,
                                 double *c, uint64_t w) {
    row_core<v8d, 32>(cnt, a, B, ldb, c, w);
}
#endif

int mr_of(int level) {
#if QX_X86
    if (level == simd_avx512) return avx512_mr;
    if (level == simd_avx2) return avx2_mr;
#endif
    (void)level;
    return generic_mr;
}

void run(int level, bool sub, uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
         const double *B, uint64_t ldb, double *C, uint64_t ldc, double *s) {
#if QX_X86
    if (level == simd_avx512) {
        if (sub)
            core_avx512<true>(m, n, k, A, lda, B, ldb, C, ldc, s);
        else
            core_avx512<false>(m, n, k, A, lda, B, ldb, C, ldc, s);
        return;
    }
    if (level == simd_avx2) {
        if (sub)
            core_avx2<true>(m, n, k, A, lda, B, ldb, C, ldc, s);
        else
            core_avx2<false>(m, n, k, A, lda, B, ldb, C, ldc, s);
        return;
    }
#endif
    (void)level;
    if (sub)
        core_generic<true>(m, n, k, A, lda, B, ldb, C, ldc, s);
    else
        core_generic<false>(m, n, k, A, lda, B, ldb, C, ldc, s);
}

struct region_args {
    int level;
    bool sub;
    uint64_t m, n, k;
    const double *A;
    uint64_t lda;
    const double *B;
    uint64_t ldb;
    double *C;
    uint64_t ldc;
    double *pool;
    uint64_t stride;  // doubles of pool per thread
};

// Body of the parallel region: a contiguous share of the row tiles.
void region_body(const region_args &g) {
    norva::fenv_region env;
    const uint64_t mr = (uint64_t)mr_of(g.level);
    const uint64_t tiles = (g.m + mr - 1) / mr;
    const norva::share s = norva::my_share(tiles);
    const uint64_t r0 = s.begin * mr;
    const uint64_t r1 = min_of(s.end * mr, g.m);
    double *scratch =
        g.pool ? g.pool + (uint64_t)omp_get_thread_num() * g.stride : nullptr;
    if (r0 < r1)
        run(g.level, g.sub, r1 - r0, g.n, g.k, g.A + r0 * g.lda, g.lda, g.B, g.ldb,
            g.C + r0 * g.ldc, g.ldc, scratch);
}

void launch(int level, bool sub, int threads, uint64_t m, uint64_t n, uint64_t k, const double *A,
            uint64_t lda, const double *B, uint64_t ldb, double *C, uint64_t ldc, double *pool,
            uint64_t stride) {
    if (m == 0 || n == 0) return;
    if (threads <= 1) {
        run(level, sub, m, n, k, A, lda, B, ldb, C, ldc, pool);
        return;
    }
    const region_args g = {level, sub, m, n, k, A, lda, B, ldb, C, ldc, pool, stride};
#pragma omp parallel num_threads(threads)
    region_body(g);
}

// Products below this many multiply-adds run on one thread, and below
// small_work without packing.
constexpr uint64_t parallel_work = 64ull * 64 * 64;
constexpr uint64_t small_work = 16ull * 16 * 16;

// m n k < limit, without overflow.
bool below(uint64_t m, uint64_t n, uint64_t k, uint64_t limit) {
    if (m == 0 || n == 0 || k == 0) return true;
    if (m >= limit || n >= limit || k >= limit) return false;
    return m * n < limit && m * n * k < limit;
}

void ordered(bool sub, uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
             const double *B, uint64_t ldb, double *C, uint64_t ldc) {
    if (m == 0 || n == 0) return;
    norva::fenv_region env;  // the same rounding on this thread as in a region
    if (below(m, n, k, small_work)) {
        if (sub)
            plain_best<true>(m, n, k, A, lda, B, ldb, C, ldc);
        else
            plain_best<false>(m, n, k, A, lda, B, ldb, C, ldc);
        return;
    }
    const int threads = gemm_team(m, n, k);
    const uint64_t stride = scratch_need(n, k);
    double *pool = (double *)std::malloc((uint64_t)threads * stride * sizeof(double));
    launch(simd_best(), sub, threads, m, n, k, A, lda, B, ldb, C, ldc, pool, stride);
    std::free(pool);
}

}  // namespace

int simd_best() {
#if QX_X86
    __builtin_cpu_init();  // idempotent; makes the query safe even before constructors ran
    if (__builtin_cpu_supports("avx512f")) return simd_avx512;
    if (__builtin_cpu_supports("avx2")) return simd_avx2;
#endif
    return simd_generic;
}

uint64_t gemm_scratch_doubles(uint64_t n, uint64_t k) { return scratch_need(n, k); }

int gemm_team(uint64_t m, uint64_t n, uint64_t k) {
    if (omp_in_parallel() || below(m, n, k, parallel_work)) return 1;
    const int t = omp_get_max_threads();
    return t < 1 ? 1 : t;
}

void gemm_ordered_at(int level, bool sub, int threads, uint64_t m, uint64_t n, uint64_t k,
                     const double *A, uint64_t lda, const double *B, uint64_t ldb, double *C,
                     uint64_t ldc, double *pool, uint64_t stride) {
    launch(level, sub, threads, m, n, k, A, lda, B, ldb, C, ldc, pool, stride);
}

void gemm_ordered(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc) {
    ordered(false, m, n, k, A, lda, B, ldb, C, ldc);
}

void gemm_ordered_sub(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                      const double *B, uint64_t ldb, double *C, uint64_t ldc) {
    ordered(true, m, n, k, A, lda, B, ldb, C, ldc);
}

void row_sub(int level, uint64_t cnt, const double *a, const double *B, uint64_t ldb, double *c,
             uint64_t w) {
#if QX_X86
    if (level == simd_avx512) return row_avx512(cnt, a, B, ldb, c, w);
    if (level == simd_avx2) return row_avx2(cnt, a, B, ldb, c, w);
#endif
    (void)level;
    row_generic(cnt, a, B, ldb, c, w);
}

}  // namespace qx
