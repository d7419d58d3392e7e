// Internal operations of the summation module, shared by its source files
// (the accumulator, the binned paths, the rounding and the matrix products).
// Not part of the library's exported interface.
#ifndef NORVA_QXSUM_INTERNAL_H
#define NORVA_QXSUM_INTERNAL_H

#include <bit>
#include <climits>
#include <cstdint>

#include "common/scratch.h"
#include "qxsum/qxsum.h"

namespace qx {

using u128 = unsigned __int128;

// Limb i carries weight 2^(32 i - limb_bias).
constexpr int limb_bias = 2176;
constexpr int limbs = QXSUM_LIMBS;
// Normalise once more than this many puts have accumulated.
constexpr uint64_t pending_limit = 0x1fffffff;
// A bin is moved into the limbs once it exceeds this value.
constexpr uint64_t bin_limit = 0x3fffffffffffffffULL;
// Thread-local bin table of the binned sum: 4096 bins indexed by the top 12
// bits of a double (sign and biased exponent).
constexpr int sum_bins = 4096;
// The dot-product bin buffer: two banks (positive and negative products) of
// 2 x dot_bank words, each read as dot_bank unsigned 128-bit bins (bin j
// carries weight 2^(j - dot_bias), one per product exponent), followed by a
// counter of the terms binned since the last flush.
constexpr int dot_bank = 4144;
constexpr int dot_bias = 2148;

constexpr uint64_t frac_mask = (1ULL << 52) - 1;

// Integer significand M and exponent E of a finite nonzero double with bit
// pattern u: |x| = M 2^E.
struct sig {
    uint64_t m;
    int e;
};

constexpr sig split(uint64_t u) {
    const int be = (int)((u >> 52) & 0x7ff);
    const uint64_t f = u & frac_mask;
    if (be == 0) return {f, -1074};
    return {f | (1ULL << 52), be - 1075};
}

inline uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// Target formats of round_to.
struct format {
    int p, emin, emax;
    double maxval;
};
constexpr format dbl_format = {53, -1074, 1024, 0x1.fffffffffffffp+1023};
constexpr format flt_format = {24, -149, 128, 0x1.fffffep+127};

// Carry pass over limbs [from, to): every limb below `to` ends in [0, 2^32),
// the carries end in limb `to`.
void normalise(int64_t *limb, int from, int to);
inline void normalise(qxsum_acc *acc) { normalise(acc->limb, 0, limbs - 1); }

// acc += (negative ? -1 : 1) * (hi 2^64 + lo) 2^shift.  shift >= -2176 and the
// shifted value must end below limb 133.  Flags and count are not touched.
void put(qxsum_acc *acc, int negative, uint64_t lo, uint64_t hi, int shift);

// One term or one product through the classification tables (count, flags, put).
void add_term(qxsum_acc *acc, double x);
void add_product(qxsum_acc *acc, double x, double y);

// Binned sum body: finite nonzero terms go into the thread's bin table; the
// touched 64-bin groups are ORed into *mask.  count grows by n.
void add_binned(qxsum_acc *acc, const double *x, uint64_t n, uint64_t *mask);
// Move the bins of the groups in mask into the limbs and zero them.
void flush_binned(qxsum_acc *acc, uint64_t mask);

// A zeroed dot-bin buffer (calloc), or nullptr.
uint64_t *dot_bins_alloc();
// The thread's own dot-bin buffer (all zero between uses): for a single dot
// product that is flushed before anything else uses it.
uint64_t *dot_bins_thread();
void dot_bins_free(uint64_t *bins);
// Binned body of a strided dot product; lo/hi track the exponent range in use
// (start them at INT_MAX, INT_MIN).
void add_dot_binned(qxsum_acc *acc, const double *x, uint64_t incx, const double *y, uint64_t incy,
                    uint64_t n, uint64_t *bins, int32_t *lo, int32_t *hi);
// Move the bins in use into the limbs, zero them, reset lo/hi.
void flush_dot_binned(qxsum_acc *acc, uint64_t *bins, int32_t *lo, int32_t *hi);

// Round the total of an accumulator whose nan and pinf flags are clear (the
// caller handles those and invalid modes first).  The result is exactly
// representable in the target format.
double round_to(const qxsum_acc *acc, uint32_t rnd, int p, int emin, int emax, double maxval);
inline double round_to(const qxsum_acc *acc, uint32_t rnd, const format &f) {
    return round_to(acc, rnd, f.p, f.emin, f.emax, f.maxval);
}

// The special-case order (invalid mode, NaN, +inf, opposite infinities), then
// round_to in the given format.
double finish(const qxsum_acc *acc, uint32_t rnd, const format &f);

// --- Ozaki-scheme products -------------------------------------------------

// The module's own product for integer slices (the callback used when the
// caller gives none): C = A B, every partial sum exact.  ctx is ignored.
void gemm_internal(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                   const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx);

// Scale of a column (or row) of count entries at the given stride: lo = the
// smallest lowest-set-bit exponent, hi = the largest highest-set-bit exponent
// over the nonzero entries, flag = 1 if there is one.  Returns 1 as soon as
// a NaN or infinity is met, else 0.
int scale_of(const double *x, uint64_t stride, uint64_t count, int *lo, int *hi, int *flag);

// Row scales (rowlo, rowflag; m entries) of A and column scales (collo,
// colflag; n entries) of B, and the largest row span P of A and column span Q
// of B (0 when all zero).  Returns 1 as soon as a NaN or infinity is met.
int oz_scales(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
              uint64_t ldb, int *rowlo, int *rowflag, int *collo, int *colflag, int *P, int *Q);

inline bool mul_ok(uint64_t a, uint64_t b, uint64_t *r) { return !__builtin_mul_overflow(a, b, r); }

// Element counts of an Ozaki product with sA and sB slices and W levels:
// m k, k n, m n, the slices of A (sA m k) and B (sB k n) and the levels
// (W m n).  False when one would wrap or exceed 2^60.
struct oz_sizes {
    uint64_t mk, kn, mn, na, nb, nl;
};
inline bool oz_size(uint64_t m, uint64_t n, uint64_t k, int sA, int sB, int W, oz_sizes *z) {
    return mul_ok(m, k, &z->mk) && mul_ok(k, n, &z->kn) && mul_ok(m, n, &z->mn) &&
           mul_ok(z->mk, (uint64_t)sA, &z->na) && mul_ok(z->kn, (uint64_t)sB, &z->nb) &&
           mul_ok(z->mn, (uint64_t)W, &z->nl) && z->na <= (UINT64_MAX >> 4) &&
           z->nb <= (UINT64_MAX >> 4) && z->nl <= (UINT64_MAX >> 4);
}

// The scales of an Ozaki product (arrays owned by the caller's scope) and
// the spans P, Q.  False when an allocation fails or a NaN or infinity is
// met: the caller falls back to qxgemm.
struct oz_scale {
    int *rowlo, *rowflag, *collo, *colflag;
    int P, Q;
};
template <int N>
bool oz_scale_all(norva::freer<N> &scope, uint64_t m, uint64_t n, uint64_t k, const double *A,
                  uint64_t lda, const double *B, uint64_t ldb, oz_scale *z) {
    z->rowlo = scope.own(norva::alloc_zero<int>(m));
    z->rowflag = scope.own(norva::alloc_zero<int>(m));
    z->collo = scope.own(norva::alloc_zero<int>(n));
    z->colflag = scope.own(norva::alloc_zero<int>(n));
    return z->rowlo && z->rowflag && z->collo && z->colflag &&
           !oz_scales(m, n, k, A, lda, B, ldb, z->rowlo, z->rowflag, z->collo, z->colflag, &z->P,
                      &z->Q);
}

// The digits 0 .. ns-1 of |x| / 2^scale (x with bit pattern u), v bits each,
// with the sign of x, into out[0], out[stride], ...; a nonzero digit marks
// its slice.  T is double (the scheme of qxgemm_oz) or int8_t (v = 7).
template <class T>
inline void digits(uint64_t u, int scale, int v, int ns, T *out, uint64_t stride, int *mark) {
    if ((u << 1) == 0) {
        for (int s = 0; s < ns; ++s) out[(uint64_t)s * stride] = 0;
        return;
    }
    const sig g = split(u);
    const uint64_t mask = (1ULL << v) - 1;
    const bool neg = u >> 63;
    int sh = scale - g.e;
    for (int s = 0; s < ns; ++s, sh += v) {
        T d = 0;
        if (sh < 64 && sh + v > 0) {
            const uint64_t mag = (sh >= 0 ? g.m >> sh : g.m << -sh) & mask;
            if (mag) {
                mark[s] = 1;
                d = neg ? (T)-(T)mag : (T)mag;
            }
        }
        out[(uint64_t)s * stride] = d;
    }
}

// words += value 2^bitpos (little-endian 64-bit words), carrying upward.
void add_at(uint64_t *words, int nwords, uint64_t value, int bitpos);

// The final pass: every entry of C from the level sums (W levels of m x n
// 64-bit integers, level q weighted 2^(q v)) and the scales, rounded once.
void oz_finish(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda, const double *B,
               uint64_t ldb, double *C, double beta, uint64_t ldc, uint32_t rnd, int v, int W,
               const int64_t *level, const int *rowlo, const int *collo, const int *rowflag,
               const int *colflag);
// The same with the caller's scratch of oz_finish_words(v, W) words (null:
// every entry takes the slower exact path).  Entry-wise: any block of rows
// and columns may be finished on its own, with A, B, C, the scales and the
// levels offset to it (levels of that block only, row length its n).  No
// allocation, no parallel region, no use of the floating-point environment.
int oz_finish_words(int v, int W);
// level_stride: the distance between two levels of an entry (0: m n, the
// levels of this block alone).
void oz_finish_with(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                    const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                    uint32_t rnd, int v, int W, const int64_t *level, const int *rowlo,
                    const int *collo, const int *rowflag, const int *colflag, uint64_t *words,
                    uint64_t level_stride = 0);

// m 2^e for an integer m < 2^53 and e >= -1074 whose value is representable
// (the callers have rounded it), built from its bits: no rounding, no
// dependence on the environment.
inline double compose(uint64_t m, int e) {
    if (m == 0) return 0.0;
    const int shift = std::countl_zero(m) - 11;  // moves the top bit to bit 52
    if (e - shift >= -1074) {
        const uint64_t mm = m << shift;  // normal: 53 significant bits
        return std::bit_cast<double>(((uint64_t)(e - shift + 1075) << 52) | (mm & frac_mask));
    }
    return std::bit_cast<double>(m << (e + 1074));  // subnormal
}

// --- int8 kernels ------------------------------------------------------------

// The defining loop of an int8 kernel (qxsum_i8_fn without ctx), one entry
// at a time; the reference of the faster kernels.
void i8_loop(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
             uint64_t ldb, int32_t *C, uint64_t ldc);

// The portable kernel ("plain"): on x86-64 packed and vectorised with the
// best of AVX-512 VNNI and AVX2 the processor has (scratch from malloc; the
// defining loop when it is unavailable), elsewhere the defining loop.
enum i8_level : int { i8_generic = 0, i8_avx2 = 1, i8_vnni = 2 };
int i8_best();
void i8_plain(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
              uint64_t ldb, int32_t *C, uint64_t ldc);
// The same at an explicit level (at most i8_best()), for the tests.
void i8_plain_at(int level, uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                 const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc);

// B prepared once for the VNNI kernel (x86-64 with AVX-512 VNNI only, see
// i8_panels_usable): the n x k operand Bt in panels of 32 rows (columns of
// B), each a sequence of kq = ceil(k / 4) groups of 32 words, word c of group
// q holding entries 4q .. 4q+3 of row c of the panel as bytes b + 128 (rows
// past n and entries past k: 128, i.e. zero digits).  Entry (j, l) is byte
// i8_panel_at(j, l, kq); a panelled operand takes i8_panel_bytes(n, kq).
constexpr uint64_t i8_panel_cols = 32, i8_panel_group = 4;
constexpr uint64_t i8_panel_at(uint64_t j, uint64_t l, uint64_t kq) {
    return ((j / i8_panel_cols * kq + l / i8_panel_group) * i8_panel_cols + j % i8_panel_cols) *
               i8_panel_group +
           l % i8_panel_group;
}
inline bool i8_panel_bytes(uint64_t n, uint64_t kq, uint64_t *bytes) {
    return mul_ok((n + i8_panel_cols - 1) / i8_panel_cols, kq, bytes) &&
           mul_ok(*bytes, i8_panel_cols * i8_panel_group, bytes) && *bytes <= (UINT64_MAX >> 4);
}
bool i8_panels_usable();
// C (m x n, ldc) = A (m x k, lda) against n panelled columns starting at
// P (a group of the first panel; panels kq groups apart), k <= 32768: the
// results of i8_plain on the same digits.  Serial, no allocation.
void i8_panels(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
               const uint8_t *P, uint64_t kq, int32_t *C, uint64_t ldc);

// The serial kernel behind i8_internal (choosing it first if need be):
// i8_sdot or i8_plain, for callers that share the work out themselves.
using i8_serial_fn = void (*)(uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                              const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc);
i8_serial_fn i8_serial();

// qxgemm_oz8 with a choice of path, for the tests: oz8_auto is qxgemm_oz8;
// oz8_tiles takes the tiled path of the default kernel with the serial
// kernel on plain slices even where panels would serve; oz8_whole calls the
// kernel on whole products as for a kernel of the caller.  Same results.
enum oz8_path : int { oz8_auto = 0, oz8_tiles = 1, oz8_whole = 2 };
int oz8_product(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                uint32_t rnd, qxsum_i8_fn kernel, void *ctx, int path);

constexpr double default_nan = std::bit_cast<double>(0x7ff8000000000000ULL);

}  // namespace qx

#endif
