// CHOLMOD's symbolic analysis, numeric factorizations and solves for the
// sparse Cholesky path.
//
// The caller's compressed rows are handed to CHOLMOD as they stand, as the
// columns of A^T: for a symmetric A that is A itself, of which CHOLMOD reads
// one triangle (stype -1); otherwise CHOLMOD's unsymmetric mode factors
// A^T (A^T)^T = A^T A.  The factor is supernodal always (the error bound
// walks supernodes), CHOLMOD prints nothing and calls no error handler, and
// every allocation goes through malloc; memory that runs out shows as
// CHOLMOD_OUT_OF_MEMORY in the common record.
#include <cstring>

#include "common/scratch.h"
#include "sparse/cholmod_factor.h"

namespace norva::sparse {

bool have_cholmod() { return true; }

analysis *analyze(const csr &A, int32_t normal, report *info) {
    analysis *an = alloc_zero<analysis>(1);
    if (an == nullptr) return nullptr;
    cholmod_common &c = an->c;
    cholmod_l_start(&c);
    c.print = 0;
    c.error_handler = nullptr;
    c.supernodal = CHOLMOD_SUPERNODAL;
    c.final_asis = 1;
    c.quick_return_if_not_posdef = 1;
    cholmod_sparse &S = an->A;
    S.nrow = S.ncol = A.n;
    S.nzmax = A.row_ptr[A.n];
    S.p = (void *)A.row_ptr;
    S.i = (void *)A.col_idx;
    S.x = (void *)A.val;
    S.stype = normal ? 0 : -1;
    S.itype = CHOLMOD_LONG;
    S.xtype = CHOLMOD_REAL;
    S.dtype = CHOLMOD_DOUBLE;
    S.sorted = 0;
    S.packed = 1;
    an->normal = normal;
    an->L = cholmod_l_analyze(&S, &c);
    if (an->L == nullptr) {
        release(an);
        return nullptr;
    }
    info->flops = c.fl;
    info->nnz_l = c.lnz > 0 ? (uint64_t)c.lnz : 0;
    switch (an->L->ordering) {
    case CHOLMOD_NATURAL: info->ordering = "natural"; break;
    case CHOLMOD_AMD: info->ordering = "AMD"; break;
    case CHOLMOD_METIS: info->ordering = "METIS"; break;
    case CHOLMOD_NESDIS: info->ordering = "NESDIS"; break;
    case CHOLMOD_COLAMD: info->ordering = "COLAMD"; break;
    default: info->ordering = "CHOLMOD's"; break;
    }
    return an;
}

void release(analysis *an) {
    if (an == nullptr) return;
    cholmod_common &c = an->c;
    if (an->L) cholmod_l_free_factor(&an->L, &c);
    if (an->X) cholmod_l_free_dense(&an->X, &c);
    if (an->Y) cholmod_l_free_dense(&an->Y, &c);
    if (an->E) cholmod_l_free_dense(&an->E, &c);
    cholmod_l_finish(&c);
    std::free(an);
}

factored factor(analysis *an, double shift) {
    cholmod_common &c = an->c;
    an->factored = false;
    double beta[2] = {-shift, 0.0};
    const int ok = cholmod_l_factorize_p(&an->A, beta, nullptr, 0, an->L, &c);
    if (c.status == CHOLMOD_OUT_OF_MEMORY) return factored::no_memory;
    if (!ok || c.status < CHOLMOD_OK || !an->L->is_super || an->L->minor < an->L->n)
        return factored::not_positive;
    an->factored = true;
    return factored::ok;
}

bool solve(analysis *an, double *x) {
    cholmod_common &c = an->c;
    const uint64_t n = an->L->n;
    cholmod_dense B;
    std::memset(&B, 0, sizeof B);
    B.nrow = n;
    B.ncol = 1;
    B.nzmax = n;
    B.d = n;
    B.x = x;
    B.xtype = CHOLMOD_REAL;
    B.dtype = CHOLMOD_DOUBLE;
    if (!cholmod_l_solve2(CHOLMOD_A, an->L, &B, nullptr, &an->X, nullptr, &an->Y, &an->E, &c))
        return false;
    std::memcpy(x, an->X->x, n * sizeof(double));
    return true;
}

uint64_t predicted_column_count(const analysis *an) {
    const auto *count = (const SuiteSparse_long *)an->L->ColCount;
    uint64_t top = 1;
    if (count == nullptr) return top;
    for (uint64_t j = 0; j < an->L->n; ++j)
        if ((uint64_t)count[j] > top) top = (uint64_t)count[j];
    return top;
}

}  // namespace norva::sparse
