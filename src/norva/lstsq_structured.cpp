// The augmented least-squares system through its structure.
//
// K = [[alpha I_p, B], [B^T, 0]] with B p x q of full column rank (B = A for
// m >= n, B = A^T otherwise) has the inverse
//     [[(I - B G B^T) / alpha, B G], [G B^T, -alpha G]],  G = (B^T B)^-1,
// so an approximate inverse R takes a factorization of order q and products
// with B instead of an inverse of order p + q.  The bound W >= |I - R K| is
// formed block by block, with the products that K's zero and scaled-identity
// blocks reduce to:
//     I - R K = [[I - alpha R11 - R12 B^T, -R11 B], [-alpha R21 - R22 B^T, I - R21 B]],
// in mode 0 every entry exactly (Ozaki products with the scaled block as
// their initial C, the diagonal entries again with the 1 inside the exact
// sum), in mode 1 from floating-point products with the a priori constants
// of their inner dimension (q + 1 where the scaled term joins the sum).  The
// rest (residuals, contraction test, enclosures) is the dense driver's on K
// itself, so everything proven is proven about K.  The caller falls back to
// the dense inverse when anything here fails or a column is not proven.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/finite.h"
#include "common/scratch.h"
#include "common/steps.h"
#include "norva/dense.h"
#include "norva/lstsq.h"
#include "norva/rigorous.h"
#include "norva/solve.h"
#include "qxsum/qxsum.h"

namespace norva {

namespace {

// Y = X^T for X rows x cols (packed).
void transpose(uint64_t rows, uint64_t cols, const double *X, double *Y) {
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) Y[j * rows + i] = X[i * cols + j];
}

// The blocks of R (N x N, N = p + q) from B (p x q) and alpha; false when the
// Gram matrix cannot be inverted or a block is not finite.
bool structured_inverse(uint64_t p, uint64_t q, const double *B, const double *Bt, double alpha,
                        double *R, norva_gemm_fn gemm, void *ctx) {
    const uint64_t N = p + q;
    freer<4> mem;
    double *Gm = mem.own(alloc<double>(q * q));
    double *G = mem.own(alloc<double>(q * q));
    double *BG = mem.own(alloc<double>(p * q));
    double *P = mem.own(alloc<double>(p * p));
    if (!Gm || !G || !BG || !P) return false;
    gemm(q, q, p, Bt, p, B, q, Gm, q, ctx);  // B^T B
    if (inverse(q, Gm, q, G) != 0) return false;
    gemm(p, q, q, B, q, G, q, BG, q, ctx);   // B G
    gemm(p, p, q, BG, q, Bt, p, P, p, ctx);  // B G B^T
    const double inv_alpha = 1.0 / alpha;    // a power of two: exact
    for (uint64_t i = 0; i < p; ++i) {
        for (uint64_t j = 0; j < p; ++j) R[i * N + j] = ((i == j ? 1.0 : 0.0) - P[i * p + j]) * inv_alpha;
        for (uint64_t j = 0; j < q; ++j) {
            R[i * N + p + j] = BG[i * q + j];
            R[(p + j) * N + i] = BG[i * q + j];
        }
    }
    for (uint64_t i = 0; i < q; ++i)
        for (uint64_t j = 0; j < q; ++j) R[(p + i) * N + p + j] = -alpha * G[i * q + j];
    return all_finite(R, N, N, N);
}

// X (rows x cols, ldx) -> a packed copy, negated when neg.
void copy_block(uint64_t rows, uint64_t cols, const double *X, uint64_t ldx, double *Y, bool neg) {
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) Y[i * cols + j] = neg ? -X[i * ldx + j] : X[i * ldx + j];
}

// Mode 0: block (r0, c0) of W, rows x cols, from round(S X + scaled) where
// S (rows x k) and X (k x cols) are packed, scaled = -alpha (block of R) or
// absent; with_one: the diagonal of the block holds I as well, its entries
// formed again exactly with the 1.  False when a product fails.
bool exact_block(uint64_t N, double *W, uint64_t r0, uint64_t c0, uint64_t rows, uint64_t cols,
                 uint64_t k, const double *S, const double *X, const double *scaled,
                 uint64_t lds, double alpha, bool with_one, double *T, double *col,
                 norva_gemm_fn gemm, void *ctx) {
    // -alpha times the block is exact for a power of two unless it leaves
    // the normal range: checked, since the exact sum takes it as given.
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) {
            const double x = scaled ? scaled[i * lds + j] : 0.0, s = -alpha * x;
            if (!finite(s) || s / alpha != -x) return false;
            T[i * cols + j] = s;
        }
    if (qxgemm_oz(rows, cols, k, S, k, X, cols, T, scaled ? 1.0 : 0.0, cols, 0,
                  gemm == gemm_plain ? nullptr : gemm, ctx) != 0)
        return false;
    if (with_one) {
        qxsum_acc acc;
        for (uint64_t i = 0; i < rows; ++i) {
            qxsum_init(&acc);
            const double one = 1.0;
            qxsum_add(&acc, &one, 1);
            if (scaled) {
                const double s = -alpha * scaled[i * lds + i];
                qxsum_add(&acc, &s, 1);
            }
            for (uint64_t l = 0; l < k; ++l) col[l] = X[l * cols + i];
            qxsum_add_dot(&acc, S + i * k, col, k);
            T[i * cols + i] = qxsum_round(&acc, 0);
        }
    }
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) {
            const double w = up(std::fabs(T[i * cols + j]));
            if (!finite(w)) return false;
            W[(r0 + i) * N + c0 + j] = w;
        }
    return true;
}

// Mode 1: the same block from fl(S X) and fl(|S| |X|) with the a priori
// constants of k products (k + 1 with the scaled term).
bool fast_block(uint64_t N, double *W, uint64_t r0, uint64_t c0, uint64_t rows, uint64_t cols,
                uint64_t k, const double *S, const double *X, const double *scaled,
                uint64_t lds, double alpha, bool with_one, double *T, double *U, double *aS,
                double *aX, norva_gemm_fn gemm, void *ctx) {
    fast_consts c;
    if (!fast_constants(scaled ? k + 1 : k, &c)) return false;
    gemm(rows, cols, k, S, k, X, cols, T, cols, ctx);
    for (uint64_t e = 0; e < rows * k; ++e) aS[e] = std::fabs(S[e]);
    for (uint64_t e = 0; e < k * cols; ++e) aX[e] = std::fabs(X[e]);
    gemm(rows, cols, k, aS, k, aX, cols, U, cols, ctx);
    for (uint64_t i = 0; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) {
            double o = T[i * cols + j], w = U[i * cols + j];
            if (scaled) {
                const double s = alpha * scaled[i * lds + j];
                o = o + s;
                w = w + std::fabs(s);
            }
            const bool diag = with_one && i == j;
            const double t = diag ? up(std::fabs(1.0 - o)) : std::fabs(o);
            const double b = fast_entry(c, t, w);
            if (!finite(std::fabs(o)) || !finite(b)) return false;
            W[(r0 + i) * N + c0 + j] = b;
        }
    return true;
}

}  // namespace

int32_t lstsq_structured(uint64_t m, uint64_t n, uint64_t nrhs, const double *a, uint64_t lda,
                         double alpha, const double *K, const double *rhs, double *lo, double *hi,
                         int32_t mode, norva_gemm_fn gemm, void *ctx) {
    if (mode != 0 && mode != 1) return -1;
    if (gemm == nullptr) gemm = gemm_plain;
    const bool tall = m >= n;
    const uint64_t p = tall ? m : n, q = tall ? n : m, N = p + q;
    if (too_big(N, N) || too_big(p, p)) return -1;
    freer<10> mem;
    double *B = mem.own(alloc<double>(p * q));
    double *Bt = mem.own(alloc<double>(p * q));
    double *R = mem.own(alloc<double>(N * N));
    double *W = mem.own(alloc<double>(N * N));
    double *T = mem.own(alloc<double>(p * p));
    double *S = mem.own(alloc<double>(p * p));
    double *col = mem.own(alloc<double>(p));
    if (!B || !Bt || !R || !W || !T || !S || !col) return -1;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double v = a[i * lda + j];
            if (tall) B[i * q + j] = v;
            else B[j * q + i] = v;
        }
    transpose(p, q, B, Bt);
    if (!structured_inverse(p, q, B, Bt, alpha, R, gemm, ctx)) return -1;

    // The blocks of R, and packed copies where a product needs them.
    const double *R11 = R, *R12 = R + p, *R21 = R + p * N, *R22 = R + p * N + p;
    const bool exact = mode == 0 || has_subnormal(R, N * N) || has_subnormal(B, p * q);
    bool ok;
    if (exact) {
        // 11: I - alpha R11 - R12 B^T;  12: -R11 B;  21: -alpha R21 - R22 B^T;  22: I - R21 B.
        copy_block(p, q, R12, N, S, true);
        ok = exact_block(N, W, 0, 0, p, p, q, S, Bt, R11, N, alpha, true, T, col, gemm, ctx);
        copy_block(p, p, R11, N, S, false);
        ok = ok && exact_block(N, W, 0, p, p, q, p, S, B, nullptr, N, alpha, false, T, col, gemm, ctx);
        copy_block(q, q, R22, N, S, true);
        ok = ok && exact_block(N, W, p, 0, q, p, q, S, Bt, R21, N, alpha, false, T, col, gemm, ctx);
        copy_block(q, p, R21, N, S, true);
        ok = ok && exact_block(N, W, p, p, q, q, p, S, B, nullptr, N, alpha, true, T, col, gemm, ctx);
    } else {
        double *U = mem.own(alloc<double>(p * p));
        double *aS = mem.own(alloc<double>(p * p));
        double *aX = mem.own(alloc<double>(p * q));
        if (!U || !aS || !aX) return -1;
        // The same blocks with the signs of R K: W bounds |I - R K| either way.
        copy_block(p, q, R12, N, S, false);
        ok = fast_block(N, W, 0, 0, p, p, q, S, Bt, R11, N, alpha, true, T, U, aS, aX, gemm, ctx);
        copy_block(p, p, R11, N, S, false);
        ok = ok && fast_block(N, W, 0, p, p, q, p, S, B, nullptr, N, alpha, false, T, U, aS, aX,
                              gemm, ctx);
        copy_block(q, q, R22, N, S, false);
        ok = ok && fast_block(N, W, p, 0, q, p, q, S, Bt, R21, N, alpha, false, T, U, aS, aX,
                              gemm, ctx);
        copy_block(q, p, R21, N, S, false);
        ok = ok && fast_block(N, W, p, p, q, q, p, S, B, nullptr, N, alpha, true, T, U, aS, aX,
                              gemm, ctx);
    }
    if (!ok) return -1;
    return solve_with(N, nrhs, K, N, rhs, nrhs, nullptr, nullptr, R, W, exact ? 1 : 0, lo, hi,
                      nrhs, mode, gemm, ctx);
}

}  // namespace norva
