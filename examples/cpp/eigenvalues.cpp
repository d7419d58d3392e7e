// Verified eigenvalues and positive definiteness from C++: a small wrapper
// over norva_eig_sym and norva_spd on std::vector, and a matrix whose
// spectrum is known exactly.
//
// A = Q diag(d) Q^T with Q = H / 4, H the 16 x 16 Sylvester-Hadamard matrix
// (entries +-1, H H^T = 16 I): Q is symmetric and orthogonal with entries
// +-1/4, and every entry of A is a double, so the eigenvalues of A are
// exactly the entries of d.  d holds a triple eigenvalue 2 and the pair 1
// and 1 + 2^-44, closer together than the enclosures are wide: they are
// enclosed all the same (no gap between eigenvalues is needed) and come out
// overlapping.
//
// Exit status 0 when both proofs succeed and every enclosure contains its
// exact eigenvalue; 1 otherwise.
#include <norva.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <vector>

namespace verified {

struct interval {
    double lo, hi;
    bool contains(double x) const { return lo <= x && x <= hi; }
};

// A dense symmetric matrix, row by row.
struct symmetric_matrix {
    std::size_t n;
    std::vector<double> a;  // n * n entries
};

// Enclosures of the eigenvalues in ascending order, or nothing when the
// library could not prove them.  Invalid input (a matrix that is not
// exactly symmetric, NaN, ...) throws.
std::optional<std::vector<interval>> eigenvalues(const symmetric_matrix &m, int mode = 0) {
    std::vector<double> lo(m.n), hi(m.n);
    const int32_t status = norva_eig_sym(m.n, m.a.data(), m.n, nullptr, 0, nullptr, lo.data(),
                                         hi.data(), mode, nullptr, nullptr);
    if (status < 0) throw std::invalid_argument("norva_eig_sym: invalid matrix");
    if (status != 0) return std::nullopt;
    std::vector<interval> out(m.n);
    for (std::size_t i = 0; i < m.n; ++i) out[i] = {lo[i], hi[i]};
    return out;
}

// A proven lower bound of the smallest eigenvalue, when the matrix is
// proven positive definite.
std::optional<double> positive_definite_bound(const symmetric_matrix &m, int mode = 0) {
    double lower = 0;
    const int32_t status =
        norva_spd(m.n, m.a.data(), m.n, nullptr, 0, 0.0, &lower, mode, nullptr, nullptr);
    if (status < 0) throw std::invalid_argument("norva_spd: invalid matrix");
    if (status != 0) return std::nullopt;
    return lower;
}

}  // namespace verified

int main() {
    constexpr std::size_t n = 16;
    // The eigenvalues, in units of 2^-44 (integers, so that A is formed exactly).
    const int64_t unit = int64_t(1) << 44;
    std::vector<int64_t> d = {unit, unit + 1};
    for (int64_t v : {2, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}) d.push_back(v * unit);

    // Q[i][k] = (-1)^popcount(i & k) / 4; a_ij = sum_k Q_ik d_k Q_jk, an
    // integer multiple of 2^-48 below 2^51 units: exact.
    verified::symmetric_matrix m{n, std::vector<double>(n * n)};
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            int64_t s = 0;
            for (std::size_t k = 0; k < n; ++k)
                s += (__builtin_popcountll((i & k) ^ (j & k)) % 2 ? -1 : 1) * d[k];
            m.a[i * n + j] = std::ldexp((double)s, -48);
        }
    std::vector<double> exact(n);
    for (std::size_t k = 0; k < n; ++k) exact[k] = std::ldexp((double)d[k], -44);
    std::sort(exact.begin(), exact.end());

    std::printf("norva %s: A = Q diag(d) Q^T of order %zu, eigenvalues known exactly\n",
                norva_version(), n);
    int failures = 0;
    const auto eig = verified::eigenvalues(m);
    if (!eig) {
        std::printf("eigenvalues: not proven\n");
        ++failures;
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const verified::interval &e = (*eig)[i];
            const bool inside = e.contains(exact[i]);
            const bool alone = (i == 0 || (*eig)[i - 1].hi < e.lo) &&
                               (i + 1 == n || e.hi < (*eig)[i + 1].lo);
            std::printf("  lambda_%-2zu in [%.17g, %.17g]  %s%s\n", i + 1, e.lo, e.hi,
                        inside ? "contains " : "MISSES ", alone ? "(separated)" : "(overlaps)");
            failures += !inside;
        }
    }
    const auto lower = verified::positive_definite_bound(m);
    if (lower && *lower > 0 && *lower <= exact[0]) {
        std::printf("positive definite: proven, smallest eigenvalue >= %.17g\n", *lower);
    } else {
        std::printf("positive definiteness: %s\n", lower ? "WRONG BOUND" : "not proven");
        ++failures;
    }
    std::printf("%s\n", failures ? "FAILED" : "every enclosure contains its exact eigenvalue");
    return failures ? 1 : 0;
}
