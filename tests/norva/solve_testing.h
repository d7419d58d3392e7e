// Shared pieces of the dense solver tests: systems with an exactly known
// solution, an MPFR reference solution by Gaussian elimination at a few
// thousand bits, the call through the export, and the soundness check of the
// enclosures it returns.
#ifndef NORVA_TESTS_SOLVE_TESTING_H
#define NORVA_TESTS_SOLVE_TESTING_H

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "norva.h"
#include "support/callbacks.h"

namespace solvetest {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double dmax = std::numeric_limits<double>::max();
// Written into the outputs before a call, to see which entries it wrote.
constexpr double sentinel = 1234.5;

struct dense_system {
    uint64_t n = 0, nrhs = 0, lda = 0, ldb = 0;
    std::vector<double> a, b;
    double &A(uint64_t i, uint64_t j) { return a[i * lda + j]; }
    double &B(uint64_t i, uint64_t k) { return b[i * ldb + k]; }
    double A(uint64_t i, uint64_t j) const { return a[i * lda + j]; }
    double B(uint64_t i, uint64_t k) const { return b[i * ldb + k]; }
};

// A system with room for padding between rows (filled with NaN: the solver
// must never read it).
inline dense_system make_system(uint64_t n, uint64_t nrhs, uint64_t pad_a = 0, uint64_t pad_b = 0) {
    dense_system s;
    s.n = n;
    s.nrhs = nrhs;
    s.lda = n + pad_a;
    s.ldb = nrhs + pad_b;
    s.a.assign(n * s.lda, std::numeric_limits<double>::quiet_NaN());
    s.b.assign(n * s.ldb, std::numeric_limits<double>::quiet_NaN());
    return s;
}

struct result {
    int32_t status = -2;
    uint64_t n = 0, nrhs = 0, ldx = 0;
    std::vector<double> lo, hi;
    double L(uint64_t i, uint64_t k) const { return lo[i * ldx + k]; }
    double H(uint64_t i, uint64_t k) const { return hi[i * ldx + k]; }
    // A column that the solver left as [-inf, +inf] everywhere.
    bool unproven(uint64_t k) const {
        for (uint64_t i = 0; i < n; ++i)
            if (!(L(i, k) == -inf && H(i, k) == inf)) return false;
        return true;
    }
};

// Bounds of an n x nrhs result with leading dimension ldx, every entry the
// sentinel.
inline result blank_result(uint64_t n, uint64_t nrhs, uint64_t ldx) {
    result res;
    res.n = n;
    res.nrhs = nrhs;
    res.ldx = ldx;
    res.lo.assign(n * ldx, sentinel);
    res.hi.assign(n * ldx, sentinel);
    return res;
}

inline result run(const dense_system &s, int32_t mode, norva_gemm_fn gemm = nullptr,
                  void *ctx = nullptr, const double *r = nullptr, uint64_t ldr = 0,
                  uint64_t pad_x = 1) {
    result res = blank_result(s.n, s.nrhs, s.nrhs + pad_x);
    res.status = norva_solve_many(s.n, s.nrhs, s.a.data(), s.lda, s.b.data(), s.ldb, r, ldr,
                                  res.lo.data(), res.hi.data(), res.ldx, mode, gemm, ctx);
    return res;
}

inline bool same_bits(double x, double y) {
    return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y);
}

// Every written entry and the padding of two results agree bit for bit.
inline ::testing::AssertionResult identical(const result &x, const result &y) {
    if (x.status != y.status)
        return ::testing::AssertionFailure() << "status " << x.status << " vs " << y.status;
    if (x.lo.size() != y.lo.size()) return ::testing::AssertionFailure() << "shapes differ";
    for (size_t q = 0; q < x.lo.size(); ++q)
        if (!same_bits(x.lo[q], y.lo[q]) || !same_bits(x.hi[q], y.hi[q]))
            return ::testing::AssertionFailure()
                   << "entry " << q << ": [" << x.lo[q] << ", " << x.hi[q] << "] vs [" << y.lo[q]
                   << ", " << y.hi[q] << "]";
    return ::testing::AssertionSuccess();
}

// ---- reference solutions ----------------------------------------------------

// The exact solution of a system, known in advance (integer systems with
// power-of-two scaling) as doubles, n x nrhs with leading dimension nrhs.
struct exact_solution {
    uint64_t n = 0, nrhs = 0;
    std::vector<double> x;
    // Returns 1, 0, -1 as the exact solution is above, equal to, below v.
    int cmp(uint64_t i, uint64_t k, double v) const {
        const double e = x[i * nrhs + k];
        return e > v ? 1 : e < v ? -1 : 0;
    }
    double approx(uint64_t i, uint64_t k) const { return x[i * nrhs + k]; }
};

// Gaussian elimination with partial pivoting in MPFR at `prec` bits on the
// exact double entries.  The systems of the tests have condition numbers far
// below 2^(prec - 200), so the reference agrees with the exact rational
// solution to far more bits than a double resolves; comparisons accept a
// difference below 2^-(prec - 200) relative to the component.
class mp_solution {
public:
    mp_solution(const dense_system &s, mpfr_prec_t prec = 4096)
        : mp_solution(s.n, s.nrhs, prec, [&](uint64_t i, uint64_t c, mpfr_ptr v) {
              mpfr_set_d(v, c < s.n ? s.A(i, c) : s.B(i, c - s.n), MPFR_RNDN);
          }) {}
    // A system given entry by entry: fill(i, c, v) sets column c of row i of
    // the augmented matrix [A | B] (c < n: A, else B) at `prec` bits.
    template <class Fill>
    mp_solution(uint64_t n, uint64_t nrhs, mpfr_prec_t prec, Fill &&fill)
        : n_(n), nrhs_(nrhs), prec_(prec) {
        const uint64_t w = n_ + nrhs_;
        m_.resize(n_ * w);
        for (auto &v : m_) mpfr_init2(&v, prec_);
        for (uint64_t i = 0; i < n_; ++i)
            for (uint64_t c = 0; c < w; ++c) fill(i, c, &m_[i * w + c]);
        eliminate();
    }
    ~mp_solution() {
        for (auto &v : m_) mpfr_clear(&v);
    }
    mp_solution(const mp_solution &) = delete;
    mp_solution &operator=(const mp_solution &) = delete;

    bool singular() const { return singular_; }
    mpfr_srcptr value(uint64_t i, uint64_t k) const { return &m_[i * (n_ + nrhs_) + n_ + k]; }

    int cmp(uint64_t i, uint64_t k, double v) const { return cmp_mp(value(i, k), v, prec_); }
    double approx(uint64_t i, uint64_t k) const { return mpfr_get_d(value(i, k), MPFR_RNDN); }

    // 1, 0, -1 as x is above, equal to, below v, where a difference below
    // 2^-(prec - 200) relative to x counts as equal (the reference's own
    // accuracy).
    static int cmp_mp(mpfr_srcptr x, double v, mpfr_prec_t prec) {
        const int c = mpfr_cmp_d(x, v);
        if (c == 0 || std::isinf(v)) return c;
        mpfr_t d;
        mpfr_init2(d, prec);
        mpfr_sub_d(d, x, v, MPFR_RNDN);
        const bool close = mpfr_zero_p(x) ? false
                                          : mpfr_get_exp(d) < mpfr_get_exp(x) - (prec - 200);
        mpfr_clear(d);
        return close ? 0 : c;
    }

private:
    void eliminate() {
        const uint64_t w = n_ + nrhs_;
        mpfr_t t, f;
        mpfr_init2(t, prec_);
        mpfr_init2(f, prec_);
        for (uint64_t j = 0; j < n_ && !singular_; ++j) {
            uint64_t p = j;
            for (uint64_t i = j + 1; i < n_; ++i)
                if (mpfr_cmpabs(&m_[i * w + j], &m_[p * w + j]) > 0) p = i;
            if (mpfr_zero_p(&m_[p * w + j])) {
                singular_ = true;
                break;
            }
            if (p != j)
                for (uint64_t c = 0; c < w; ++c) mpfr_swap(&m_[p * w + c], &m_[j * w + c]);
            for (uint64_t i = j + 1; i < n_; ++i) {
                if (mpfr_zero_p(&m_[i * w + j])) continue;
                mpfr_div(f, &m_[i * w + j], &m_[j * w + j], MPFR_RNDN);
                for (uint64_t c = j + 1; c < w; ++c) {
                    mpfr_mul(t, f, &m_[j * w + c], MPFR_RNDN);
                    mpfr_sub(&m_[i * w + c], &m_[i * w + c], t, MPFR_RNDN);
                }
                mpfr_set_zero(&m_[i * w + j], 1);
            }
        }
        if (!singular_) {
            for (uint64_t k = 0; k < nrhs_; ++k)
                for (uint64_t i = n_; i-- > 0;) {
                    mpfr_ptr xi = &m_[i * w + n_ + k];
                    for (uint64_t j = i + 1; j < n_; ++j) {
                        mpfr_mul(t, &m_[i * w + j], &m_[j * w + n_ + k], MPFR_RNDN);
                        mpfr_sub(xi, xi, t, MPFR_RNDN);
                    }
                    mpfr_div(xi, xi, &m_[i * w + i], MPFR_RNDN);
                }
        }
        mpfr_clear(t);
        mpfr_clear(f);
    }

    uint64_t n_, nrhs_;
    mpfr_prec_t prec_;
    bool singular_ = false;
    std::vector<__mpfr_struct> m_;
};

// Soundness of a result: the status is 0 or 1; every column is either
// [-inf, +inf] in every row or holds lo <= x* <= hi in every row with no
// NaN; the status is 1 exactly when some column is unproven.  `proven`
// receives the number of proven columns.
template <class Ref>
::testing::AssertionResult sound(const result &res, const Ref &ref, uint64_t *proven = nullptr) {
    if (res.status != 0 && res.status != 1)
        return ::testing::AssertionFailure() << "status " << res.status;
    uint64_t count = 0;
    for (uint64_t k = 0; k < res.nrhs; ++k) {
        if (res.unproven(k)) continue;
        ++count;
        for (uint64_t i = 0; i < res.n; ++i) {
            const double lo = res.L(i, k), hi = res.H(i, k);
            if (std::isnan(lo) || std::isnan(hi) || lo == sentinel || hi == sentinel || !(lo <= hi))
                return ::testing::AssertionFailure() << "column " << k << " row " << i
                                                     << ": malformed [" << lo << ", " << hi << "]";
            if (ref.cmp(i, k, lo) < 0 || ref.cmp(i, k, hi) > 0) {
                char buf[200];
                std::snprintf(buf, sizeof buf, "[%a, %a] misses %.17g", lo, hi, ref.approx(i, k));
                return ::testing::AssertionFailure()
                       << "column " << k << " row " << i << ": proven enclosure " << buf;
            }
        }
    }
    if (proven) *proven = count;
    const bool all = count == res.nrhs;
    if ((res.status == 0) != all)
        return ::testing::AssertionFailure() << "status " << res.status << " with " << count
                                             << " of " << res.nrhs << " columns proven";
    return ::testing::AssertionSuccess();
}

// Width of [lo, hi] in units in the last place of its larger end.
inline double width_ulps(double lo, double hi) {
    const double m = std::max(std::fabs(lo), std::fabs(hi));
    const double ulp = std::nextafter(m, inf) - m;
    return (hi - lo) / ulp;
}

// ---- generators ---------------------------------------------------------------

struct rng {
    std::mt19937_64 g;
    explicit rng(uint64_t seed) : g(seed) {}
    double uniform() { return std::uniform_real_distribution<double>(-1, 1)(g); }
    int64_t range(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(g); }
};

// Real-valued matrices (solved against MPFR).
enum class real_kind { uniform, dominant, scaled, near_singular, wide_exponents };

inline void fill_real(dense_system &s, real_kind kind, rng &g) {
    const uint64_t n = s.n;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) s.A(i, j) = g.uniform();
    switch (kind) {
        case real_kind::uniform: break;
        case real_kind::dominant:
            for (uint64_t i = 0; i < n; ++i) s.A(i, i) = (double)n * (g.uniform() < 0 ? -1.5 : 1.5);
            break;
        case real_kind::scaled: {  // rows and columns scaled by 2^-300 .. 2^300
            std::vector<int> er(n), ec(n);
            for (auto &e : er) e = (int)g.range(-300, 300);
            for (auto &e : ec) e = (int)g.range(-300, 300);
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = 0; j < n; ++j) s.A(i, j) = std::ldexp(s.A(i, j), er[i] + ec[j]);
            break;
        }
        case real_kind::near_singular:  // last row = first row + 2^-d noise, d in 20 .. 50
            if (n >= 2) {
                const int d = (int)g.range(20, 50);
                for (uint64_t j = 0; j < n; ++j)
                    s.A(n - 1, j) = s.A(0, j) + std::ldexp(g.uniform(), -d);
            }
            break;
        case real_kind::wide_exponents:  // every entry with its own exponent
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t j = 0; j < n; ++j) s.A(i, j) = std::ldexp(s.A(i, j), (int)g.range(-40, 40));
            for (uint64_t i = 0; i < n; ++i) s.A(i, i) = std::ldexp(1.0, 45) * (double)n;
            break;
    }
}

// Integer matrices with an integer solution X (|entries| < 2^bits_x) and
// B = A X computed exactly in integers (below 2^53, hence exact doubles),
// then (kind scaled) rows scaled by 2^er_i and columns by 2^ec_j (solution
// component j scaled by 2^-ec_j): still exact.
enum class int_kind { random, dominant, near_singular, scaled };

inline exact_solution fill_integer(dense_system &s, int_kind kind, rng &g) {
    const uint64_t n = s.n, nrhs = s.nrhs;
    // |a| < 2^ba, |x| < 2^bx with n 2^(ba + bx) < 2^53.
    int nbits = 0;
    while ((1ull << nbits) < n) ++nbits;
    const int ba = (52 - nbits) / 2, bx = 52 - nbits - ba - 1;
    std::vector<int64_t> A(n * n), X(n * nrhs);
    for (auto &v : A) v = g.range(-(1ll << ba) + 1, (1ll << ba) - 1);
    if (kind == int_kind::dominant) {
        // Off-diagonal entries below 2^ba / (2 n): row sums below half the diagonal.
        const int64_t off = std::max<int64_t>(1, (1ll << ba) / (2 * (int64_t)n));
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t j = 0; j < n; ++j)
                A[i * n + j] = i == j ? ((1ll << ba) - 1) * (g.range(0, 1) ? 1 : -1)
                                      : g.range(-off + 1, off - 1);
    }
    if (kind == int_kind::near_singular && n >= 2) {
        // The last row repeats the first one but for one unit in one entry:
        // a determinant of one cofactor, a condition number of order 2^ba n.
        for (uint64_t j = 0; j < n; ++j) A[(n - 1) * n + j] = A[j];
        const uint64_t j = (uint64_t)g.range(0, (int64_t)n - 1);
        A[(n - 1) * n + j] += A[(n - 1) * n + j] > 0 ? -1 : 1;
    }
    for (auto &v : X) v = g.range(-(1ll << bx) + 1, (1ll << bx) - 1);
    std::vector<int> er(n, 0), ec(n, 0);
    if (kind == int_kind::scaled) {
        // Rows over 2^-400 .. 2^400, columns over 2^-20 .. 2^20.  Column
        // ratios beyond about 2^50 would give |I - R A| off-diagonal entries
        // of 1 or more, and with an exactly zero residual (these solutions
        // are found exactly) the inflation y = 1.0625 y + 2^-1000 of the
        // contraction test cannot outgrow W y then.
        for (auto &e : er) e = (int)g.range(-400, 400);
        for (auto &e : ec) e = (int)g.range(-20, 20);
    }
    exact_solution ref;
    ref.n = n;
    ref.nrhs = nrhs;
    ref.x.resize(n * nrhs);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t j = 0; j < n; ++j) s.A(i, j) = std::ldexp((double)A[i * n + j], er[i] + ec[j]);
        for (uint64_t k = 0; k < nrhs; ++k) {
            __int128 acc = 0;
            for (uint64_t j = 0; j < n; ++j) acc += (__int128)A[i * n + j] * X[j * nrhs + k];
            const int64_t v = (int64_t)acc;
            if ((__int128)v != acc || std::llabs(v) >= (1ll << 53)) std::abort();
            s.B(i, k) = std::ldexp((double)v, er[i]);
        }
    }
    for (uint64_t j = 0; j < n; ++j)
        for (uint64_t k = 0; k < nrhs; ++k)
            ref.x[j * nrhs + k] = std::ldexp((double)X[j * nrhs + k], -ec[j]);
    return ref;
}

// The integer-scaled Hilbert matrix H_ij = L / (i + j + 1), L = lcm(1 .. 2n - 1):
// exact integers below 2^53 for n <= 20.
inline void fill_hilbert(dense_system &s) {
    uint64_t L = 1;
    for (uint64_t k = 2; k <= 2 * s.n - 1; ++k) {
        uint64_t a = L, b = k;
        while (b) {
            const uint64_t t = a % b;
            a = b;
            b = t;
        }
        L = L / a * k;
    }
    if (L >= (1ull << 53)) std::abort();
    for (uint64_t i = 0; i < s.n; ++i)
        for (uint64_t j = 0; j < s.n; ++j) {
            if (L % (i + j + 1) != 0) std::abort();
            s.A(i, j) = (double)(L / (i + j + 1));
        }
}

// ---- callbacks ------------------------------------------------------------------

using testsupport::reverse_gemm;  // sums every entry in reverse order

// Pairwise summation of every entry (another order, same rounding model).
inline double pairwise(const double *A, const double *B, uint64_t ldb, uint64_t lo, uint64_t hi) {
    if (hi - lo <= 2) {
        double s = 0;
        for (uint64_t l = lo; l < hi; ++l) s += A[l] * B[l * ldb];
        return s;
    }
    const uint64_t mid = lo + (hi - lo) / 2;
    return pairwise(A, B, ldb, lo, mid) + pairwise(A, B, ldb, mid, hi);
}
inline void pairwise_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                          const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) C[i * ldc + j] = pairwise(A + i * lda, B + j, ldb, 0, k);
}

}  // namespace solvetest

#endif
