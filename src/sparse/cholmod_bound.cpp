// The a priori bound of the error of CHOLMOD's factor.
//
// CHOLMOD returns L with L L^T = P (M - s I) P^T + E for the permutation P
// of its ordering, M = A or M = A^T A.  The bound rests on the standard
// rounding model of IEEE double arithmetic in round to nearest:
// fl(x op y) = (x op y)(1 + d) + t with |d| <= u = 2^-53, where t = 0 for
// additions and subtractions and |t| <= 2^-1075 for products and divisions
// (the underflow term; d t = 0), and sqrt correctly rounded.
//
// Each entry L(i, j), j < i, is computed from c = M(i, j), from the products
// L(i, k) L(j, k) of the columns k < j that both rows hold, and at last a
// division by L(j, j) or a product with its rounded reciprocal; a diagonal
// entry from M(j, j), the shift and the products L(j, k)^2, and a square
// root.  For M = A^T A the entry M(i, j) is itself a sum of products
// A(r, i) A(r, j).  Whatever the order of the additions (the blocked
// updates, tiles and summation trees of a supernodal code and its BLAS,
// fused multiply-adds included, which only drop roundings), every term of
// such a sum of N terms passes through at most N - 1 additions and one
// product, so the computed value is the exact sum of the terms each
// perturbed by a factor (1 + theta), |theta| <= gamma(N) = N u / (1 - N u);
// the final division (or reciprocal and product) or the square root adds
// at most two more factors.  With N the most terms of one entry,
// N = (terms of an entry of M) + 1 (the shift) + k, k the most entries
// stored in a row of L (explicit zeros of the supernodes counted, since
// the code multiplies them too), this gives, entry by entry,
//
//   |E| <= gamma(N + 4) (|M|_terms + s I + |L| |L^T|) + underflow,
//
// where |M|_terms is |A| or |A|^T |A| (the magnitudes of the terms of M),
// and gamma(N + 4) leaves room for the reciprocal and the square root.  The
// underflow terms of the at most N + 2 products and divisions of an entry,
// each at most 2^-1075 before it is carried through the sum, are at most
// (N + 2) 2^-1074 max(1, max_j L(j, j)) per entry.  E is symmetric, so
// ||E||_2 is at most its largest absolute row sum, bounded by
//
//   gamma(N + 4) (max_i (|M|_terms 1)_i + s + max_i (|L| (|L^T| 1))_i)
//     + max_i c_i (N + 2) 2^-1074 max(1, max_j L(j, j))
//
// with c_i the entries of row i of L plus those of column i (the pattern
// of E lies in that of L + L^T).  The products |L| (|L^T| 1) are formed as
// two sparse products in floating point and widened by their own a priori
// bound.
//
// Conditions: the BLAS under CHOLMOD computes every entry of its products as
// a sum of the products of its operands, in any order (no Strassen-like
// scheme, which would not satisfy the model), and every entry of a
// triangular solve or factorization as such a sum followed by a division by
// the diagonal entry or a product with its rounded reciprocal (no inverses
// of whole triangular blocks), in round to nearest (the library runs in the
// default floating-point environment); the factor is
// read as CHOLMOD stores it, every stored entry of a supernode at or below
// the diagonal counted.  Then lambda_min(M) >= s - ||E||_2, since L L^T is
// positive semidefinite and P is orthogonal.
#include <cmath>
#include <limits>

#include "common/finite.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "sparse/cholmod_factor.h"

namespace norva::sparse {

double factor_error(const analysis *an, const m_terms &m, double shift, report *info) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const cholmod_factor *L = an->L;
    if (!an->factored || !L->is_super) return nan;
    const uint64_t n = L->n, nsuper = L->nsuper;
    const auto *super = (const SuiteSparse_long *)L->super;
    const auto *pi = (const SuiteSparse_long *)L->pi;
    const auto *px = (const SuiteSparse_long *)L->px;
    const auto *ls = (const SuiteSparse_long *)L->s;
    const auto *lx = (const double *)L->x;

    freer<3> mem;
    double *v = mem.own(alloc_zero<double>(n));           // |L| (|L^T| 1)
    uint64_t *rowc = mem.own(alloc_zero<uint64_t>(n));    // entries of row i of L
    uint64_t *colc = mem.own(alloc_zero<uint64_t>(n));    // entries of column i of L
    if (!v || !rowc || !colc) return nan;

    // One sweep over the columns: the column sum w_j of |L|, then its
    // share |L(i, j)| w_j of every v_i, in plain floating point (widened
    // below); the row counts, the column counts and the largest diagonal
    // entry on the way.
    double dmax = 0;
    uint64_t stored = 0;
    for (uint64_t s = 0; s < nsuper; ++s) {
        const uint64_t k1 = super[s], k2 = super[s + 1];
        const uint64_t rows = pi[s + 1] - pi[s];
        const SuiteSparse_long *ri = ls + pi[s];
        for (uint64_t j = k1; j < k2; ++j) {
            const double *col = lx + px[s] + (j - k1) * rows;
            double wj = 0;
            for (uint64_t t = j - k1; t < rows; ++t) wj = wj + std::fabs(col[t]);
            for (uint64_t t = j - k1; t < rows; ++t) {
                const uint64_t i = ri[t];
                v[i] = v[i] + std::fabs(col[t]) * wj;
                ++rowc[i];
            }
            colc[j] = rows - (j - k1);
            dmax = std::fmax(dmax, std::fabs(col[j - k1]));
            stored += rows - (j - k1);
        }
    }
    uint64_t k = 0, kc = 0, cmax = 0;
    double vmax = 0;
    for (uint64_t i = 0; i < n; ++i) {
        k = rowc[i] > k ? rowc[i] : k;
        kc = colc[i] > kc ? colc[i] : kc;
        cmax = rowc[i] + colc[i] > cmax ? rowc[i] + colc[i] : cmax;
        if (!(v[i] <= dbl_max)) return nan;  // overflow, or a NaN in L
        vmax = v[i] > vmax ? v[i] : vmax;
    }
    // A sum of m nonnegative terms rounded in any order is at least
    // (1 - gamma(m)) times the exact one: w_j at most fl(w_j) / (1 -
    // gamma(kc)), and v_i, a sum of at most k products (each of which lost
    // at most 2^-1075 to underflow), at most (fl(v_i) + k 2^-1074) /
    // (1 - gamma(k + 1)) / (1 - gamma(kc)).
    const double fk = up(1.0 / (1.0 - gamma_n(k + 1)));
    const double fc = up(1.0 / (1.0 - gamma_n(kc)));
    const double llmax = up(up(up(vmax + up((double)k * 0x1p-1074)) * fk) * fc);
    info->nnz_l = stored;
    info->row_count = k;

    const uint64_t N = m.terms + 1 + k;
    const double g = gamma_n(N + 4);
    const double main = up(g * up(up(m.row_sum + std::fabs(shift)) + llmax));
    double under = up(up((double)cmax * (double)(N + 2)) * 0x1p-1074);
    under = up(under * std::fmax(1.0, dmax));
    const double e = up(main + under);
    return finite(e) ? e : nan;
}

}  // namespace norva::sparse
