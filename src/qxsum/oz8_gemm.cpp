// Ozaki-scheme product on int8 slices: the rows of A and columns of B are
// scaled as for qxgemm_oz and cut into 7-bit signed digits (int8, B stored
// transposed), pairs of slices are multiplied by an int8 kernel summing in
// 32-bit integers over at most 32768 terms (|sum| <= 32768 * 127^2 < 2^31),
// the chunk sums are added per level in 64 bits, and oz_finish rounds each
// entry once.  Whatever the scheme cannot take goes to qxgemm, so the results
// are those of qxgemm bit for bit.
//
// A kernel of the caller gets whole m x n products, one per slice pair and
// chunk.  The default kernel runs on output tiles instead: each thread takes
// tiles in turn and, for its tile, runs every slice pair and chunk into the
// tile's own levels and finishes the tile, so that the levels never leave
// the cache and no pass over m x n arrays is left.  Every level sum is an
// exact integer and the final pass is entry-wise, so tiles, threads and
// kernels give the same bits.
#include <omp.h>

#include <cstring>

#include "common/scratch.h"
#include "qxsum/dgemm_kernel.h"
#include "qxsum/qxsum_internal.h"

namespace qx {

namespace {

constexpr int v8 = 7;                 // digit width
constexpr int max_products = 400;     // slice pairs
constexpr uint64_t chunk = 32768;     // k per kernel call
// Output tiles of the tiled path; the levels of a tile (W x 64 x 64 64-bit
// integers, 480 KiB for 15 levels) stay in the second-level cache.  The
// width is a whole number of panels.
constexpr uint64_t tile_rows = 64, tile_cols = 64, tile_size = tile_rows * tile_cols;
static_assert(tile_cols % i8_panel_cols == 0 && tile_size % 2 == 0);

// lv += s, widened to 64 bits.
void add_level(int64_t *lv, const int32_t *s, uint64_t count) {
#pragma omp simd
    for (uint64_t q = 0; q < count; ++q) lv[q] += s[q];
}

// What the tiled path shares with its threads.
struct plan {
    uint64_t m, n, k, lda, ldb, ldc, mk;
    const double *A, *B;
    double *C;
    double beta;
    uint32_t rnd;
    int sA, sB, W;
    const int *rowlo, *collo, *rowflag, *colflag, *markA, *markB;
    const int8_t *sa;   // A slices, m x k each
    const int8_t *sb;   // B slices transposed, n x k each, for the serial kernel,
    const uint8_t *pb;  // or in panels (i8_panel_at), pstride bytes each
    uint64_t pstride, kq;
    i8_serial_fn kernel;
    uint64_t tiles_j, tiles;
    int64_t *pool;  // per thread `per` words: levels, 32-bit scratch, oz_finish's words
    uint64_t per;
};

// Output tile q: every marked slice pair and chunk into the tile's levels,
// then the final pass of the tile.
void run_tile(const plan &p, uint64_t q, int64_t *buf) {
    const uint64_t i0 = q / p.tiles_j * tile_rows, j0 = q % p.tiles_j * tile_cols;
    const uint64_t rows = p.m - i0 < tile_rows ? p.m - i0 : tile_rows;
    const uint64_t cols = p.n - j0 < tile_cols ? p.n - j0 : tile_cols;
    const uint64_t tn = rows * cols;
    int64_t *level = buf;
    int32_t *scratch = (int32_t *)(buf + (uint64_t)p.W * tile_size);
    uint64_t *words = (uint64_t *)(buf + (uint64_t)p.W * tile_size + tile_size / 2);
    std::memset(level, 0, (uint64_t)p.W * tn * sizeof(int64_t));
    for (int s = 0; s < p.sA; ++s) {
        if (!p.markA[s]) continue;
        const int8_t *a = p.sa + (uint64_t)s * p.mk + i0 * p.k;
        for (int t = 0; t < p.sB; ++t) {
            if (!p.markB[t]) continue;
            int64_t *lv = level + (uint64_t)(s + t) * tn;
            for (uint64_t k0 = 0; k0 < p.k; k0 += chunk) {
                const uint64_t kc = p.k - k0 < chunk ? p.k - k0 : chunk;
                if (p.pb)
                    i8_panels(rows, cols, kc, a + k0, p.k,
                              p.pb + (uint64_t)t * p.pstride + i8_panel_at(j0, k0, p.kq), p.kq,
                              scratch, cols);
                else
                    p.kernel(rows, cols, kc, a + k0, p.k,
                             p.sb + (uint64_t)t * p.n * p.k + j0 * p.k + k0, p.k, scratch, cols);
                add_level(lv, scratch, tn);
            }
        }
    }
    oz_finish_with(rows, cols, p.k, p.A + i0 * p.lda, p.lda, p.B + j0, p.ldb,
                   p.C + i0 * p.ldc + j0, p.beta, p.ldc, p.rnd, v8, p.W, level, p.rowlo + i0,
                   p.collo + j0, p.rowflag + i0, p.colflag + j0, words);
}

// Tiles handed out one at a time (a thread slowed down by the machine's
// load takes fewer); integer work and the final pass only, so no
// floating-point environment to manage.
void run_tiles(const plan &p, int threads) {
    if (threads <= 1) {
        for (uint64_t q = 0; q < p.tiles; ++q) run_tile(p, q, p.pool);
        return;
    }
#pragma omp parallel num_threads(threads) firstprivate(p)
    {
        int64_t *buf = p.pool + (uint64_t)omp_get_thread_num() * p.per;
#pragma omp for schedule(dynamic, 1)
        for (uint64_t q = 0; q < p.tiles; ++q) run_tile(p, q, buf);
    }
}

}  // namespace

int oz8_product(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                uint32_t rnd, qxsum_i8_fn kernel, void *ctx, int path) {
    if (rnd > 3) return -1;
    const bool own = kernel == nullptr || kernel == i8_internal;
    if (!kernel) kernel = i8_internal;
    const auto fallback = [&] { return qxgemm(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd); };
    if (m == 0 || n == 0 || k == 0) return fallback();

    norva::freer<10> scope;
    oz_scale sc;
    if (!oz_scale_all(scope, m, n, k, A, lda, B, ldb, &sc)) return fallback();
    const int *rowlo = sc.rowlo, *collo = sc.collo, P = sc.P, Q = sc.Q;
    const int sA = (P + v8 - 1) / v8, sB = (Q + v8 - 1) / v8;
    if (sA == 0 || sB == 0 || sA * sB > max_products) return fallback();
    const int W = sA + sB - 1;

    oz_sizes z;
    if (!oz_size(m, n, k, sA, sB, W, &z)) return fallback();
    const uint64_t mk = z.mk, kn = z.kn, mn = z.mn;
    const bool tiled = own && path != oz8_whole;
    const bool panels = tiled && path == oz8_auto && i8_serial() == i8_plain && i8_panels_usable();
    const uint64_t kq = (k + i8_panel_group - 1) / i8_panel_group;
    uint64_t pstride = 0, pbytes = 0;
    if (panels && (!i8_panel_bytes(n, kq, &pstride) || !mul_ok(pstride, (uint64_t)sB, &pbytes)))
        return fallback();

    int8_t *sa = scope.own(norva::alloc<int8_t>(z.na));
    int *markA = scope.own(norva::alloc_zero<int>((uint64_t)sA));
    int *markB = scope.own(norva::alloc_zero<int>((uint64_t)sB));
    if (!sa || !markA || !markB) return fallback();
    // Slice s of A: m x k, row length k.
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t l = 0; l < k; ++l)
            digits(bits(A[i * lda + l]), rowlo[i], v8, sA, sa + i * k + l, mk, markA);

    if (tiled) {
        const int nw = oz_finish_words(v8, W);
        plan p{m, n, k, lda, ldb, ldc, mk, A, B, C, beta, rnd, sA, sB, W,
               rowlo, collo, sc.rowflag, sc.colflag, markA, markB,
               sa, nullptr, nullptr, pstride, kq, i8_serial(), 0, 0, nullptr,
               (uint64_t)W * tile_size + tile_size / 2 + (uint64_t)nw};
        p.tiles_j = (n + tile_cols - 1) / tile_cols;
        const uint64_t tiles_i = (m + tile_rows - 1) / tile_rows;
        if (!mul_ok(tiles_i, p.tiles_j, &p.tiles)) return fallback();
        int threads = gemm_team(m, n, k);
        if ((uint64_t)threads > p.tiles) threads = (int)p.tiles;
        p.pool = scope.own(norva::alloc<int64_t>((uint64_t)threads * p.per));
        if (!p.pool) return fallback();
        if (panels) {
            // Digits stored as b + 128; padding (columns past n, entries
            // past k) as zero digits.
            uint8_t *pb = scope.own(norva::alloc_zero<uint8_t>(pbytes));
            if (!pb) return fallback();
            for (uint64_t j = 0; j < n; ++j)
                for (uint64_t l = 0; l < k; ++l)
                    digits(bits(B[l * ldb + j]), collo[j], v8, sB,
                           (int8_t *)pb + i8_panel_at(j, l, kq), pstride, markB);
            for (uint64_t q = 0; q < pbytes; ++q) pb[q] ^= 0x80;
            p.pb = pb;
        } else {
            int8_t *sb = scope.own(norva::alloc<int8_t>(z.nb));
            if (!sb) return fallback();
            for (uint64_t j = 0; j < n; ++j)
                for (uint64_t l = 0; l < k; ++l)
                    digits(bits(B[l * ldb + j]), collo[j], v8, sB, sb + j * k + l, kn, markB);
            p.sb = sb;
        }
        run_tiles(p, threads);
        return 0;
    }

    // Slice t of B transposed: n x k, so that column j of B is read once and
    // written contiguously.
    int8_t *sb = scope.own(norva::alloc<int8_t>(z.nb));
    int32_t *scratch = scope.own(norva::alloc<int32_t>(mn));
    int64_t *level = scope.own(norva::alloc_zero<int64_t>(z.nl));
    if (!sb || !scratch || !level) return fallback();
    for (uint64_t j = 0; j < n; ++j)
        for (uint64_t l = 0; l < k; ++l)
            digits(bits(B[l * ldb + j]), collo[j], v8, sB, sb + j * k + l, kn, markB);

    for (int s = 0; s < sA; ++s) {
        if (!markA[s]) continue;
        for (int t = 0; t < sB; ++t) {
            if (!markB[t]) continue;
            int64_t *lv = level + (uint64_t)(s + t) * mn;
            for (uint64_t k0 = 0; k0 < k; k0 += chunk) {
                const uint64_t kc = k - k0 < chunk ? k - k0 : chunk;
                kernel(m, n, kc, sa + (uint64_t)s * mk + k0, k, sb + (uint64_t)t * kn + k0, k,
                       scratch, n, ctx);
                add_level(lv, scratch, mn);
            }
        }
    }

    oz_finish(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd, v8, W, level, rowlo, collo,
              sc.rowflag, sc.colflag);
    return 0;
}

}  // namespace qx

extern "C" int qxgemm_oz8(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                          const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                          uint32_t rnd, qxsum_i8_fn kernel, void *ctx) {
    return qx::oz8_product(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd, kernel, ctx, qx::oz8_auto);
}
