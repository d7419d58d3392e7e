// Symmetric matrices with an exactly known spectrum, and an independent
// count of the eigenvalues below a number (Sylvester's law of inertia on
// the LDL^T factorization of A - x I in MPFR), for the eigenvalue tests.
#ifndef NORVA_TESTS_EIG_TESTING_H
#define NORVA_TESTS_EIG_TESTING_H

#include <mpfr.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace eigtest {

// H diag(d) H / n with the Sylvester-Hadamard matrix H of order n (a power
// of two): an exactly orthogonal similarity, so the spectrum is d.  Every
// entry is a sum of n terms +-d_k divided by n; the caller keeps the d_k
// such that these sums are exact in double.
inline std::vector<double> hadamard_similar(const std::vector<double> &d) {
    const uint64_t n = d.size();
    auto h = [](uint64_t i, uint64_t j) { return __builtin_popcountll(i & j) % 2 ? -1.0 : 1.0; };
    std::vector<double> a(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            double s = 0;
            for (uint64_t k = 0; k < n; ++k) s += h(i, k) * d[k] * h(j, k);
            a[i * n + j] = s / (double)n;
        }
    return a;
}

// The number of eigenvalues of the symmetric A (packed n x n) below x: the
// negative pivots of the elimination of A - x I without pivoting, at 1024
// bits (far beyond the condition of the test matrices).  -1 when a pivot vanishes (the count is then not decided).
inline int below(const std::vector<double> &a, uint64_t n, double x) {
    std::vector<__mpfr_struct> m(n * n);
    for (auto &v : m) mpfr_init2(&v, 1024);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            mpfr_set_d(&m[i * n + j], a[i * n + j], MPFR_RNDN);
            if (i == j) mpfr_sub_d(&m[i * n + j], &m[i * n + j], x, MPFR_RNDN);
        }
    mpfr_t f, t;
    mpfr_init2(f, 1024);
    mpfr_init2(t, 1024);
    int neg = 0;
    for (uint64_t k = 0; k < n && neg >= 0; ++k) {
        mpfr_ptr p = &m[k * n + k];
        if (mpfr_zero_p(p)) {
            neg = -1;
            break;
        }
        if (mpfr_sgn(p) < 0) ++neg;
        for (uint64_t i = k + 1; i < n; ++i) {
            mpfr_div(f, &m[i * n + k], p, MPFR_RNDN);
            for (uint64_t j = k + 1; j < n; ++j) {
                mpfr_mul(t, f, &m[k * n + j], MPFR_RNDN);
                mpfr_sub(&m[i * n + j], &m[i * n + j], t, MPFR_RNDN);
            }
        }
    }
    mpfr_clear(f);
    mpfr_clear(t);
    for (auto &v : m) mpfr_clear(&v);
    return neg;
}

// Enclosure i of the ascending list holds eigenvalue i, for every i:
// at most i eigenvalues below lo_i and at least i + 1 below hi_i.
inline bool encloses_by_inertia(const std::vector<double> &a, uint64_t n, const double *lo,
                                const double *hi) {
    for (uint64_t i = 0; i < n; ++i) {
        const int l = below(a, n, lo[i]), h = below(a, n, hi[i]);
        if (l < 0 || h < 0 || l > (int)i || h < (int)i + 1) return false;
    }
    return true;
}

}  // namespace eigtest

#endif
