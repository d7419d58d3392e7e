#include "sparse.h"

#include "band/ordering.h"

namespace tool {

csr_matrix to_csr(const entry_list &a) {
    csr_matrix m;
    m.n = a.rows;
    m.row_ptr.assign(m.n + 1, 0);
    for (uint64_t i : a.row) ++m.row_ptr[i + 1];
    for (uint64_t i = 0; i < m.n; ++i) m.row_ptr[i + 1] += m.row_ptr[i];
    std::vector<uint64_t> fill(m.row_ptr.begin(), m.row_ptr.end() - 1);
    m.col_idx.resize(a.val.size());
    m.val.resize(a.val.size());
    for (size_t e = 0; e < a.val.size(); ++e) {
        const uint64_t p = fill[a.row[e]]++;
        m.col_idx[p] = a.col[e];
        m.val[p] = a.val[e];
    }
    return m;
}

void bandwidths(const csr_matrix &a, bool nonzero_only, uint64_t &kl, uint64_t &ku) {
    kl = ku = 0;
    for (uint64_t i = 0; i < a.n; ++i)
        for (uint64_t e = a.row_ptr[i]; e < a.row_ptr[i + 1]; ++e) {
            if (nonzero_only && a.val[e] == 0) continue;
            const uint64_t j = a.col_idx[e];
            if (i > j && i - j > kl) kl = i - j;
            if (j > i && j - i > ku) ku = j - i;
        }
}

bool reordered_bandwidths(const csr_matrix &a, uint64_t &kl, uint64_t &ku) {
    std::vector<uint64_t> perm(a.n), iperm(a.n);
    return norva::band::rcm(a.n, a.row_ptr.data(), a.col_idx.data(), perm.data(), iperm.data(),
                            &kl, &ku) == 0;
}

std::string band_pair(uint64_t kl, uint64_t ku) {
    return std::to_string(kl) + "/" + std::to_string(ku);
}

const char *band_method(int mode) {
    return mode == 0 ? "band Cholesky of A or A^T A, one normwise bound for every component "
                       "(factorization error from exact entries)"
                     : "band Cholesky of A or A^T A, one normwise bound for every component "
                       "(factorization error in floating point with a priori bounds)";
}

}  // namespace tool
