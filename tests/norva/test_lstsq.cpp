// Least squares and minimum norm: norva_lstsq against the exact solutions of
// the normal equations (A^T A x = A^T b, or x = A^T y with A A^T y = b),
// formed and solved in MPFR from the exact double data; the automatic
// scaling on matrices whose choice is known.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "norva.h"
#include "norva/lstsq.h"
#include "solve_testing.h"
#include "support/test_scale.h"

using namespace solvetest;

namespace {

constexpr mpfr_prec_t prec = 4096;

struct ls_problem {
    uint64_t m, n, nrhs;
    std::vector<double> a, b;  // packed
    double A(uint64_t i, uint64_t j) const { return a[i * n + j]; }
    double B(uint64_t i, uint64_t k) const { return b[i * nrhs + k]; }
};

// The exact least-squares (m >= n) or minimum-norm (m < n) solution.
class ls_reference {
public:
    explicit ls_reference(const ls_problem &p) : n_(p.n), nrhs_(p.nrhs) {
        mpfr_t t;
        mpfr_init2(t, prec);
        auto dot = [&](mpfr_ptr v, auto x, auto y, uint64_t len) {  // exact at this precision
            mpfr_set_zero(v, 1);
            for (uint64_t q = 0; q < len; ++q) {
                mpfr_set_d(t, x(q), MPFR_RNDN);
                mpfr_mul_d(t, t, y(q), MPFR_RNDN);
                mpfr_add(v, v, t, MPFR_RNDN);
            }
        };
        const bool tall = p.m >= p.n;
        const uint64_t k = tall ? p.n : p.m;
        // Gram system of order k with right-hand sides A^T B (tall) or B.
        mp_solution gram(k, p.nrhs, prec, [&](uint64_t i, uint64_t c, mpfr_ptr v) {
            if (tall && c < k)
                dot(v, [&](uint64_t q) { return p.A(q, i); }, [&](uint64_t q) { return p.A(q, c); }, p.m);
            else if (tall)
                dot(v, [&](uint64_t q) { return p.A(q, i); }, [&](uint64_t q) { return p.B(q, c - k); }, p.m);
            else if (c < k)
                dot(v, [&](uint64_t q) { return p.A(i, q); }, [&](uint64_t q) { return p.A(c, q); }, p.n);
            else
                mpfr_set_d(v, p.B(i, c - k), MPFR_RNDN);
        });
        singular_ = gram.singular();
        x_.resize(n_ * nrhs_);
        for (auto &v : x_) mpfr_init2(&v, prec);
        for (uint64_t j = 0; j < n_ && !singular_; ++j)
            for (uint64_t c = 0; c < nrhs_; ++c) {
                mpfr_ptr v = &x_[j * nrhs_ + c];
                if (tall) {
                    mpfr_set(v, gram.value(j, c), MPFR_RNDN);
                    continue;
                }
                mpfr_set_zero(v, 1);  // x = A^T y
                for (uint64_t q = 0; q < p.m; ++q) {
                    mpfr_mul_d(t, gram.value(q, c), p.A(q, j), MPFR_RNDN);
                    mpfr_add(v, v, t, MPFR_RNDN);
                }
            }
        mpfr_clear(t);
    }
    ~ls_reference() {
        for (auto &v : x_) mpfr_clear(&v);
    }
    bool singular() const { return singular_; }
    int cmp(uint64_t i, uint64_t k, double v) const {
        return mp_solution::cmp_mp(&x_[i * nrhs_ + k], v, prec);
    }
    double approx(uint64_t i, uint64_t k) const { return mpfr_get_d(&x_[i * nrhs_ + k], MPFR_RNDN); }

private:
    uint64_t n_, nrhs_;
    bool singular_ = false;
    std::vector<__mpfr_struct> x_;
};

result run_lstsq(const ls_problem &p, double alpha, int32_t mode, norva_gemm_fn gemm) {
    result res = blank_result(p.n, p.nrhs, p.nrhs + 1);
    res.status = norva_lstsq(p.m, p.n, p.nrhs, p.a.data(), p.n, p.b.data(), p.nrhs, alpha, nullptr,
                             0, res.lo.data(), res.hi.data(), res.ldx, mode, gemm, nullptr);
    return res;
}

enum class shape { uniform, scaled_columns, integer };

ls_problem make_problem(uint64_t m, uint64_t n, uint64_t nrhs, shape kind, rng &g) {
    ls_problem p{m, n, nrhs, std::vector<double>(m * n), std::vector<double>(m * nrhs)};
    std::vector<int> ec(n);
    for (auto &e : ec) e = kind == shape::scaled_columns ? (int)g.range(-30, 30) : 0;
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j)
            p.a[i * n + j] = kind == shape::integer ? (double)g.range(-9, 9)
                                                    : std::ldexp(g.uniform(), ec[j]);
    for (auto &v : p.b) v = kind == shape::integer ? (double)g.range(-99, 99) : g.uniform();
    return p;
}

TEST(Lstsq, EnclosesTheExactSolution) {
    struct row {
        uint64_t m, n, nrhs;
        shape kind;
    } rows[] = {
        {12, 4, 1, shape::uniform},         {40, 13, 3, shape::scaled_columns},
        {9, 9, 2, shape::integer},          {3, 11, 2, shape::uniform},
        {1, 3, 1, shape::integer},          {30, 70, 1, shape::scaled_columns},
        {80, 20, 2, shape::uniform},
    };
    rng g(5);
    int proven = 0, total = 0;
    for (const row &r : rows) {
        const ls_problem p = make_problem(r.m, r.n, r.nrhs, r.kind, g);
        ls_reference ref(p);
        ASSERT_FALSE(ref.singular());
        for (int32_t mode : {0, 1, 2})
            for (double alpha : {0.0, 0x1p-3}) {
                const result res = run_lstsq(p, alpha, mode, mode == 1 ? reverse_gemm : nullptr);
                ++total;
                proven += res.status == 0;
                ASSERT_TRUE(sound(res, ref))
                    << r.m << " x " << r.n << " mode " << mode << " alpha " << alpha;
            }
    }
    EXPECT_GE(proven, total * 3 / 4);
}

// Nearly dependent columns (two differ by 2^-30 of noise): the structured
// inverse squares the condition through (A^T A)^-1 and cannot be verified,
// so the dense inverse of the augmented matrix decides, and proves.
TEST(Lstsq, IllConditionedFallsBackToTheDenseInverse) {
    rng g(9);
    for (bool tall : {true, false}) {
        ls_problem p = make_problem(tall ? 30 : 6, tall ? 6 : 30, 1, shape::uniform, g);
        for (uint64_t i = 0; i < (tall ? p.m : p.n); ++i) {
            double &x = tall ? p.a[i * p.n + 5] : p.a[5 * p.n + i];
            const double y = tall ? p.a[i * p.n + 4] : p.a[4 * p.n + i];
            x = y + std::ldexp(g.uniform(), -30);
        }
        ls_reference ref(p);
        ASSERT_FALSE(ref.singular());
        for (int32_t mode : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << (tall ? "tall" : "wide") << ", mode " << mode);
            // The structured path alone, on the system norva_lstsq builds.
            const uint64_t N = p.m + p.n;
            std::vector<double> K(N * N, 0.0), rhs(N, 0.0), lo(N), hi(N);
            const double alpha = norva::lstsq_alpha(p.m, p.n, p.a.data(), p.n, nullptr, nullptr);
            for (uint64_t i = 0; i < (tall ? p.m : p.n); ++i) K[i * N + i] = alpha;
            for (uint64_t i = 0; i < p.m; ++i)
                for (uint64_t j = 0; j < p.n; ++j) {
                    const uint64_t r = tall ? i : j, c = tall ? p.m + j : p.n + i;
                    K[r * N + c] = K[c * N + r] = p.a[i * p.n + j];
                }
            for (uint64_t i = 0; i < p.m; ++i) rhs[(tall ? 0 : p.n) + i] = p.b[i];
            EXPECT_NE(norva::lstsq_structured(p.m, p.n, 1, p.a.data(), p.n, alpha, K.data(),
                                              rhs.data(), lo.data(), hi.data(), mode, nullptr,
                                              nullptr),
                      0);
            const result res = run_lstsq(p, 0.0, mode, nullptr);
            EXPECT_EQ(res.status, 0);
            EXPECT_TRUE(sound(res, ref));
        }
    }
}

// Dependent columns (or rows): the augmented matrix is singular and nothing
// may be proven.
TEST(Lstsq, RankDeficientIsNotProven) {
    rng g(9);
    for (bool tall : {true, false}) {
        ls_problem p = make_problem(tall ? 10 : 3, tall ? 3 : 10, 1, shape::integer, g);
        for (uint64_t i = 0; i < p.m; ++i)
            for (uint64_t j = 0; j < p.n; ++j)
                if (tall ? j == 2 : i == 2) p.a[i * p.n + j] = tall ? p.A(i, 0) : p.A(0, j);
        for (int32_t mode : {0, 1, 2}) {
            const result res = run_lstsq(p, 0, mode, nullptr);
            EXPECT_EQ(res.status, 1) << tall << " mode " << mode;
            EXPECT_TRUE(res.unproven(0));
        }
    }
}

// The automatic scaling: sqrt(lambda_min / 2) rounded down to a power of two
// for a known Gram matrix, 1 for a zero matrix, and max |a| 2^-26 rounded
// down when the Gram matrix overflows.
TEST(Lstsq, AutomaticAlpha) {
    std::vector<double> eye(16, 0.0), zero(6, 0.0), diag(9, 0.0), huge(4, 0x1p1000);
    for (int i = 0; i < 4; ++i) eye[i * 5] = 1;
    diag[0] = 64, diag[4] = 8, diag[8] = 32;  // sigma_min 8: sqrt(64 / 2) -> 4
    EXPECT_EQ(norva::lstsq_alpha(4, 4, eye.data(), 4, nullptr, nullptr), 0.5);
    EXPECT_EQ(norva::lstsq_alpha(2, 3, zero.data(), 3, nullptr, nullptr), 1.0);
    EXPECT_EQ(norva::lstsq_alpha(3, 3, diag.data(), 3, nullptr, nullptr), 4.0);
    EXPECT_EQ(norva::lstsq_alpha(2, 2, huge.data(), 2, nullptr, nullptr), 0x1p974);
    EXPECT_EQ(norva::pow2_floor(0x1.8p-1070), 0x1p-1070);
    EXPECT_EQ(norva::pow2_floor(0.0), 0x1p-1074);
}

}  // namespace
