#include "sparse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

entry_list nonzeros(const dense_matrix &d) {
    entry_list l;
    l.rows = d.rows;
    l.cols = d.cols;
    for (uint64_t i = 0; i < d.rows; ++i)
        for (uint64_t j = 0; j < d.cols; ++j)
            if (d.v[i * d.cols + j] != 0) {
                l.row.push_back(i);
                l.col.push_back(j);
                l.val.push_back(d.v[i * d.cols + j]);
            }
    return l;
}

dense_matrix to_dense(const entry_list &a) {
    dense_matrix d;
    d.rows = a.rows;
    d.cols = a.cols;
    d.v.assign(a.rows * a.cols, 0.0);
    for (size_t e = 0; e < a.val.size(); ++e) d.at(a.row[e], a.col[e]) = a.val[e];
    return d;
}

entry_list without_zeros(const entry_list &a) {
    entry_list l;
    l.rows = a.rows;
    l.cols = a.cols;
    for (size_t e = 0; e < a.val.size(); ++e)
        if (a.val[e] != 0) {
            l.row.push_back(a.row[e]);
            l.col.push_back(a.col[e]);
            l.val.push_back(a.val[e]);
        }
    return l;
}

bool symmetric_entries(const entry_list &a, uint64_t &i, uint64_t &j, double &aij, double &aji) {
    // The entries below the diagonal by (i, j), and those above by (j, i):
    // merged, equal keys are mirror images.
    struct keyed {
        uint64_t r, c;
        double v;
        bool operator<(const keyed &o) const { return r != o.r ? r < o.r : c < o.c; }
    };
    std::vector<keyed> below, above;
    for (size_t e = 0; e < a.val.size(); ++e) {
        if (a.row[e] > a.col[e]) below.push_back({a.row[e], a.col[e], a.val[e]});
        if (a.row[e] < a.col[e]) above.push_back({a.col[e], a.row[e], a.val[e]});
    }
    std::sort(below.begin(), below.end());
    std::sort(above.begin(), above.end());
    size_t p = 0, q = 0;
    while (p < below.size() || q < above.size()) {
        const bool take_below = q == above.size() || (p < below.size() && !(above[q] < below[p]));
        const bool take_above = p == below.size() || (q < above.size() && !(below[p] < above[q]));
        const keyed &k = take_below ? below[p] : above[q];
        const double lower = take_below ? below[p].v : 0, upper = take_above ? above[q].v : 0;
        if (lower != upper) {
            i = k.r;
            j = k.c;
            aij = lower;
            aji = upper;
            return false;
        }
        p += take_below;
        q += take_above;
    }
    return true;
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

uint64_t lower_entries(const csr_matrix &a) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < a.n; ++i)
        for (uint64_t e = a.row_ptr[i]; e < a.row_ptr[i + 1]; ++e) count += a.col_idx[e] <= i;
    return count;
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
