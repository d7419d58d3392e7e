// Checks and structure of a caller's matrix in compressed sparse rows.
#include "sparse/csr.h"

#include <bit>
#include <cstring>

#include "common/finite.h"
#include "common/scratch.h"

namespace norva::sparse {

bool valid(const csr &A, const double *b) {
    const uint64_t n = A.n;
    if (n == 0 || A.row_ptr[0] != 0) return false;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t e0 = A.row_ptr[i], e1 = A.row_ptr[i + 1];
        if (e1 < e0 || (b && !finite_bits(b[i]))) return false;
        for (uint64_t e = e0; e < e1; ++e) {
            if (A.col_idx[e] >= n || !finite_bits(A.val[e])) return false;
            for (uint64_t f = e0; f < e; ++f)
                if (A.col_idx[f] == A.col_idx[e]) return false;
        }
    }
    return true;
}

namespace {

// Equal as numbers: the same bits, or both zeros.  Bits only, so that no
// flag is raised in the caller's environment.
inline bool same(double a, double b) {
    const uint64_t x = std::bit_cast<uint64_t>(a), y = std::bit_cast<uint64_t>(b);
    return x == y || ((x | y) << 1) == 0;
}

// The value of entry (i, j), searched in row i; false when absent.
bool find(const csr &A, uint64_t i, uint64_t j, double *v) {
    for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e)
        if (A.col_idx[e] == j) {
            *v = A.val[e];
            return true;
        }
    return false;
}

}  // namespace

bool symmetric(const csr &A) {
    const uint64_t n = A.n, nnz = A.row_ptr[n];
    // The pattern is symmetric when every column is as long as the row of
    // the same index and each entry (r, i) of column i has its mirror (i, r)
    // in row i; the columns come from a counting sort of the positions.
    freer<3> mem;
    uint64_t *start = too_big(n + 1, 1) ? nullptr : mem.own(alloc_zero<uint64_t>(n + 1));
    uint64_t *rows = too_big(nnz, 1) ? nullptr : mem.own(alloc<uint64_t>(nnz));
    uint64_t *mark = too_big(n, 1) ? nullptr : mem.own(alloc<uint64_t>(n));
    if (!start || !rows || !mark) {
        double v;
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e)
                if (!find(A, A.col_idx[e], i, &v) || !same(v, A.val[e])) return false;
        return true;
    }
    // Column counts must equal row counts.
    for (uint64_t e = 0; e < nnz; ++e) ++start[A.col_idx[e] + 1];
    for (uint64_t j = 0; j < n; ++j) {
        if (start[j + 1] != A.row_ptr[j + 1] - A.row_ptr[j]) return false;
        start[j + 1] += start[j];
    }
    // rows[start[j] ..]: the positions e of the entries of column j.
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e) rows[start[A.col_idx[e]]++] = e;
    // start[j] is now the end of column j; its beginning is row_ptr[j]
    // (the counts agree).  For row i: mark the position of each column c,
    // then every entry (r, i) of column i must have its mirror (i, r).
    for (uint64_t k = 0; k < n; ++k) mark[k] = UINT64_MAX;
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e) mark[A.col_idx[e]] = e;
        for (uint64_t t = A.row_ptr[i]; t < start[i]; ++t) {
            const uint64_t e = rows[t];  // entry (r, i) at position e
            uint64_t r = 0, hi = n;      // the row of e: the last r with row_ptr[r] <= e
            while (hi - r > 1) {
                const uint64_t mid = r + (hi - r) / 2;
                if (A.row_ptr[mid] <= e) r = mid;
                else hi = mid;
            }
            const uint64_t m = mark[r];
            if (m == UINT64_MAX || m < A.row_ptr[i] || m >= A.row_ptr[i + 1] ||
                !same(A.val[m], A.val[e]))
                return false;
        }
        for (uint64_t e = A.row_ptr[i]; e < A.row_ptr[i + 1]; ++e) mark[A.col_idx[e]] = UINT64_MAX;
    }
    return true;
}

uint64_t max_column_count(const csr &A, uint64_t *count) {
    const uint64_t n = A.n, nnz = A.row_ptr[n];
    std::memset(count, 0, n * sizeof(uint64_t));
    uint64_t top = 0;
    for (uint64_t e = 0; e < nnz; ++e) {
        const uint64_t c = ++count[A.col_idx[e]];
        top = c > top ? c : top;
    }
    return top;
}

}  // namespace norva::sparse
