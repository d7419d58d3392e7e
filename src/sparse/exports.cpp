// The sparse exports: checks, the renumbering that the band path needs and
// that the choice compares with, the choice of the path, and the call.
//
// The choice: the band path whenever the renumbered band is narrow (half
// bandwidth w of the matrix to factor at most `narrow`) or the matrix fills
// at least a quarter of its band (kl + ku + 1 diagonals): tridiagonal and
// banded matrices keep that path and its results; and always when the
// library has no CHOLMOD.  Other matrices, and every band beyond its
// limit, go to the sparse factor: a fill-reducing ordering keeps the
// factor of a mesh matrix far below the band's n (w + 1) entries.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "band/ordering.h"
#include "common/fenv_guard.h"
#include "common/finite.h"
#include "common/scratch.h"
#include "norva.h"
#include "sparse/csr.h"
#include "sparse/paths.h"
#include "sparse/sparse.h"

namespace norva::sparse {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr uint64_t narrow = 64;

void trivial(uint64_t n, double *x_lo, double *x_hi) {
    for (uint64_t k = 0; k < n; ++k) {
        x_lo[k] = -inf;
        x_hi[k] = inf;
    }
}

// The renumbering and the choice.  *an receives the analysis when the
// Cholesky path is chosen.  False when memory ran out.
bool choose(const csr &A, int32_t normal, uint64_t *iperm, uint64_t *kl, uint64_t *ku,
            bool *band, analysis **an, report *info) {
    const uint64_t n = A.n;
    freer<1> mem;
    uint64_t *perm = mem.own(alloc<uint64_t>(n));
    if (perm == nullptr || band::rcm(n, A.row_ptr, A.col_idx, perm, iperm, kl, ku) != 0)
        return false;
    info->band_kl = *kl;
    info->band_ku = *ku;
    info->band_known = true;
    const uint64_t w = normal ? *kl + *ku : *kl;
    const bool fits = band_fits(n, *kl, *ku);
    info->band_flops = (double)n * ((double)w + 1) * ((double)w + 1);
    *an = nullptr;
    // Without CHOLMOD the band path serves alone (and refuses a band beyond
    // its limit).
    const bool dense_band = 4 * (double)A.row_ptr[n] >= (double)n * ((double)(*kl + *ku) + 1);
    *band = !have_cholmod() || (fits && (w <= narrow || dense_band));
    if (*band) return true;
    *an = analyze(A, normal, info);
    return *an != nullptr;
}

}  // namespace

int32_t solve_sparse(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx,
                     const double *val, const double *b, double *x_lo, double *x_hi, int32_t mode,
                     report *info) {
    const csr A{n, row_ptr, col_idx, val};
    if (n == 0 || row_ptr[0] != 0 || (uint32_t)mode > 1 || !valid(A, b)) return -1;
    report local;
    report &rep = info ? *info : local;
    rep = report{};
    rep.nnz = row_ptr[n];
    fenv_guard env;
    freer<1> mem;
    uint64_t *iperm = too_big(n, 1) ? nullptr : mem.own(alloc<uint64_t>(n));
    const int32_t normal = symmetric(A) ? 0 : 1;
    uint64_t kl = 0, ku = 0;
    bool band = true;
    analysis *an = nullptr;
    if (iperm == nullptr || !choose(A, normal, iperm, &kl, &ku, &band, &an, &rep)) {
        trivial(n, x_lo, x_hi);
        return -1;
    }
    if (band) {
        rep.path = path_band;
        rep.normal = normal;
        rep.kl = kl;
        rep.ku = ku;
        rep.ordering = "reverse Cuthill-McKee";
        return band_solve(A, iperm, kl, ku, b, x_lo, x_hi, mode);
    }
    rep.path = path_cholesky;
    result r = cholesky_solve(A, normal, an, b, x_lo, x_hi, mode, &rep);
    if (r == result::unproven && normal == 0) {
        // Not positive definite, or not proven so: the normal equations.
        an = analyze(A, 1, &rep);
        r = an ? cholesky_solve(A, 1, an, b, x_lo, x_hi, mode, &rep) : result::no_memory;
    }
    if (r != result::proven) trivial(n, x_lo, x_hi);
    return r == result::proven ? 0 : r == result::unproven ? 1 : -1;
}

namespace {

// The best proven lower bound of lambda_min(A) for the symmetric A on the
// path the choice takes, or -inf (*memory set when memory ran out before a
// bound was formed).
double spd_lower(const csr &A, int32_t mode, report &rep, bool *memory) {
    freer<1> mem;
    uint64_t *iperm = too_big(A.n, 1) ? nullptr : mem.own(alloc<uint64_t>(A.n));
    uint64_t kl = 0, ku = 0;
    bool band = true;
    analysis *an = nullptr;
    *memory = true;
    if (iperm == nullptr || !choose(A, 0, iperm, &kl, &ku, &band, &an, &rep)) return -inf;
    *memory = false;
    double lower = -inf;
    if (band) {
        rep.path = path_band;
        rep.kl = kl;
        rep.ku = ku;
        rep.ordering = "reverse Cuthill-McKee";
        lower = band_spd(A, iperm, kl, mode, &rep.shift, &rep.error, memory);
        rep.lambda = lower;
    } else {
        rep.path = path_cholesky;
        *memory = cholesky_spd(A, an, mode, &lower, &rep) == result::no_memory;
    }
    return lower;
}

// The retry on D A D, D = diag(2^e_i) with every positive diagonal entry
// brought into [0.5, 2): the shift of a proof is sized by the largest
// diagonal entry, which swamps small pivots when the diagonal spans many
// binades.  D A D is congruent to A, so a positive bound t of its
// lambda_min proves A positive definite, and lambda_min(A) >= t
// min_i 2^(-2 e_i).  0 or a positive bound (the status is then 0, even
// when the bound underflows to 0); -inf when the retry is impossible (an
// entry that does not scale exactly into the normal range, or no memory)
// or proves nothing.
double scaled_retry(const csr &A, int32_t mode, report &rep) {
    const uint64_t n = A.n, nnz = A.row_ptr[n];
    freer<2> mem;
    int *e = mem.own(alloc_zero<int>(n));
    double *sv = too_big(nnz, 1) ? nullptr : mem.own(alloc<double>(nnz));
    if (!e || !sv) return -inf;
    int emax = 0;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t k = A.row_ptr[i]; k < A.row_ptr[i + 1]; ++k)
            if (A.col_idx[k] == i && A.val[k] > 0) {
                int x;
                std::frexp(A.val[k], &x);
                e[i] = x < 0 ? (1 - x) / 2 : -(x / 2);
            }
        emax = std::max(emax, e[i]);
    }
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t k = A.row_ptr[i]; k < A.row_ptr[i + 1]; ++k) {
            const int s = e[i] + e[A.col_idx[k]];
            const double v = std::ldexp(A.val[k], s), m = std::fabs(v);
            if (std::ldexp(v, -s) != A.val[k] || (v != 0 && !(m >= 0x1p-1022 && m <= dbl_max)))
                return -inf;
            sv[k] = v;
        }
    bool memory;
    const double t = spd_lower(csr{n, A.row_ptr, A.col_idx, sv}, mode, rep, &memory);
    if (!(t > 0)) return -inf;
    double lower = std::ldexp(t, -2 * emax);
    if (std::ldexp(lower, 2 * emax) != t) lower = std::nextafter(lower, 0.0);
    return lower;
}

}  // namespace

int32_t spd_sparse(uint64_t n, const uint64_t *row_ptr, const uint64_t *col_idx, const double *val,
                   double *lower, int32_t mode, report *info) {
    const csr A{n, row_ptr, col_idx, val};
    if (n == 0 || lower == nullptr || row_ptr[0] != 0 || (uint32_t)mode > 1 ||
        !valid(A, nullptr) || !symmetric(A))
        return -1;
    report local;
    report &rep = info ? *info : local;
    rep = report{};
    rep.nnz = row_ptr[n];
    fenv_guard env;
    bool memory;
    *lower = spd_lower(A, mode, rep, &memory);
    // A proof, or memory that ran out (no retry, as without a bound).
    if (*lower > 0 || memory) return *lower > 0 ? 0 : 1;
    report retry;
    retry.nnz = rep.nnz;
    const double scaled = scaled_retry(A, mode, retry);
    if (!(scaled >= 0)) return 1;
    *lower = scaled;
    rep = retry;
    rep.scaled = true;
    return 0;
}

}  // namespace norva::sparse

extern "C" NORVA_API int32_t norva_solve_sparse(uint64_t n, const uint64_t *row_ptr,
                                                const uint64_t *col_idx, const double *val,
                                                const double *b, double *x_lo, double *x_hi,
                                                int32_t mode) {
    return norva::sparse::solve_sparse(n, row_ptr, col_idx, val, b, x_lo, x_hi, mode, nullptr);
}

extern "C" NORVA_API int32_t norva_spd_sparse(uint64_t n, const uint64_t *row_ptr,
                                              const uint64_t *col_idx, const double *val,
                                              double *lower, int32_t mode) {
    return norva::sparse::spd_sparse(n, row_ptr, col_idx, val, lower, mode, nullptr);
}
