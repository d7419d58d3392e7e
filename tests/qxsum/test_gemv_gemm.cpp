// Correctly rounded matrix-vector and matrix-matrix products (double and
// float) against MPFR, entry by entry: both orientations of qxgemv, beta
// zero (the old output is not read), one and others, empty inner and outer
// dimensions, inner lengths around the binned threshold, padded leading
// dimensions (the padding is never read nor written), invalid modes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "qxsum/qxsum.h"
#include "support/hard_inputs.h"
#include "support/oracle.h"
#include "support/test_scale.h"

using namespace testsupport;

namespace {

template <class T>
struct ops;
template <>
struct ops<double> {
    static int gemv(int trans, uint64_t m, uint64_t n, const double *A, uint64_t lda,
                    const double *x, double *y, uint32_t rnd, double beta) {
        return qxgemv(trans, m, n, A, lda, x, y, rnd, beta);
    }
    static int gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                    const double *B, uint64_t ldb, double *C, double beta, uint64_t ldc,
                    uint32_t rnd) {
        return qxgemm(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd);
    }
    static double round(const exact_total &e, unsigned r) { return e.round(r); }
    static double pad() { return std::bit_cast<double>(0x7ff4000000c0ffeeULL); }  // a signalling NaN
};
template <>
struct ops<float> {
    static int gemv(int trans, uint64_t m, uint64_t n, const float *A, uint64_t lda,
                    const float *x, float *y, uint32_t rnd, float beta) {
        return qxgemvf(trans, m, n, A, lda, x, y, rnd, beta);
    }
    static int gemm(uint64_t m, uint64_t n, uint64_t k, const float *A, uint64_t lda,
                    const float *B, uint64_t ldb, float *C, float beta, uint64_t ldc, uint32_t rnd) {
        return qxgemmf(m, n, k, A, lda, B, ldb, C, beta, ldc, rnd);
    }
    static float round(const exact_total &e, unsigned r) { return e.roundf(r); }
    static float pad() { return std::bit_cast<float>(0x7fa0c0feu); }
};

template <class T>
bool same_word(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Builds rows and vectors whose products are hard sums: row entries from
// the hard sum generator, divided by the power of two of the vector entry
// they meet, so that every output is a hard sum scaled by a power of two.
template <class T>
struct builder {
    hard_gen<T> g;
    explicit builder(uint64_t seed) : g(seed) {}

    // Vector entries: signed powers of two, or (plain) hard values.
    std::vector<T> vec(size_t n, bool plain) {
        std::vector<T> v(n);
        for (auto &e : v) e = plain ? g.near(0, 30) : g.flip(hard_gen<T>::pow2(g.irange(-6, 6)));
        return v;
    }
    // A row meeting vector w: hard sum entries over w where exact.
    std::vector<T> row(const std::vector<T> &w, int kind, bool plain) {
        std::vector<T> r;
        if (plain) {
            r.resize(w.size());
            for (auto &e : r) e = g.any();
            return r;
        }
        r = g.sum_case(w.size(), kind);
        for (size_t l = 0; l < r.size(); ++l) {
            const T s = r[l] / w[l];
            if (std::isfinite(r[l]) && s * w[l] == r[l] && s != 0) r[l] = s;
        }
        return r;
    }
    T beta() {
        switch (g.irange(0, 11)) {
            case 0:
            case 1: return (T)0;
            case 2: return -(T)0;
            case 3:
            case 4: return (T)1;
            case 5: return (T)-1;
            case 6: return (T)0.5;
            case 7: return (T)3;
            case 8: return hard_gen<T>::pow2(g.irange(-100, 100));
            case 9: return g.any();
            case 10: return g.one_in(2) ? (T)INFINITY : std::numeric_limits<T>::quiet_NaN();
            default: return g.near(0, 10);
        }
    }
    T old_value() {
        if (g.one_in(8)) return g.special();
        return g.one_in(2) ? g.any() : g.near(0, 20);
    }
};

template <class T>
void check_gemm(uint64_t m, uint64_t n, uint64_t k, uint64_t pad, builder<T> &b, int kind,
                bool plain, const char *what) {
    const uint64_t lda = k + pad, ldb = n + pad, ldc = n + (pad ? pad + 1 : 0);
    std::vector<T> A(m * lda + 1, ops<T>::pad()), B(k * ldb + 1, ops<T>::pad()),
        C(m * ldc + 1, ops<T>::pad());
    // Columns of B: powers of two scaled per column, so that row i of A meets
    // each column as a scaled copy of one vector.
    const std::vector<T> w = b.vec(k, plain);
    std::vector<T> colscale(n);
    for (auto &s : colscale) s = b.g.flip(hard_gen<T>::pow2(b.g.irange(-3, 3)));
    for (uint64_t l = 0; l < k; ++l)
        for (uint64_t j = 0; j < n; ++j) B[l * ldb + j] = plain ? b.g.near(0, 30) : w[l] * colscale[j];
    for (uint64_t i = 0; i < m; ++i) {
        const std::vector<T> r = b.row(w, (kind + (int)i) % hard_gen<T>::sum_kinds, plain);
        for (uint64_t l = 0; l < k; ++l) A[i * lda + l] = r[l];
    }
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) C[i * ldc + j] = b.old_value();
    const T beta = b.beta();
    const std::vector<T> A0 = A, B0 = B;

    for (unsigned r = 0; r < 4; ++r) {
        SCOPED_TRACE(::testing::Message() << what << ": m " << m << ", n " << n << ", k " << k
                                          << ", pad " << pad << ", kind " << kind << ", beta "
                                          << (double)beta << ", mode " << mode_name(r));
        std::vector<T> c = C;
        ASSERT_EQ(ops<T>::gemm(m, n, k, A.data(), lda, B.data(), ldb, c.data(), beta, ldc, r), 0);
        for (uint64_t i = 0; i < m; ++i)
            for (uint64_t j = 0; j < ldc; ++j) {
                if (j >= n) {
                    ASSERT_TRUE(same_word(c[i * ldc + j], C[i * ldc + j])) << "padding written";
                    continue;
                }
                exact_total e;
                for (uint64_t l = 0; l < k; ++l) e.add_product((double)A[i * lda + l], (double)B[l * ldb + j]);
                if (beta != 0) e.add_product((double)beta, (double)C[i * ldc + j]);
                ASSERT_TRUE(same_bits(c[i * ldc + j], ops<T>::round(e, r)))
                    << "entry (" << i << ", " << j << ")";
            }
        ASSERT_TRUE(same_word(c.back(), C.back())) << "written past the end";
    }
    ASSERT_EQ(std::memcmp(A.data(), A0.data(), A.size() * sizeof(T)), 0);
    ASSERT_EQ(std::memcmp(B.data(), B0.data(), B.size() * sizeof(T)), 0);

    // Invalid modes: -1, nothing written.
    for (uint32_t r : {4u, 0xffffffffu}) {
        std::vector<T> c = C;
        EXPECT_EQ(ops<T>::gemm(m, n, k, A.data(), lda, B.data(), ldb, c.data(), beta, ldc, r), -1);
        EXPECT_EQ(std::memcmp(c.data(), C.data(), C.size() * sizeof(T)), 0) << "output written";
    }
}

template <class T>
void check_gemv(int trans, uint64_t m, uint64_t n, uint64_t pad, builder<T> &b, int kind, bool plain,
                const char *what) {
    const uint64_t lda = n + pad;
    const uint64_t outer = trans ? n : m, inner = trans ? m : n;
    std::vector<T> A(m * lda + 1, ops<T>::pad()), y(outer + 3, ops<T>::pad());
    const std::vector<T> x = b.vec(inner, plain);
    for (uint64_t i = 0; i < outer; ++i) {
        const std::vector<T> r = b.row(x, (kind + (int)i) % hard_gen<T>::sum_kinds, plain);
        for (uint64_t l = 0; l < inner; ++l) (trans ? A[l * lda + i] : A[i * lda + l]) = r[l];
    }
    for (uint64_t i = 0; i < outer; ++i) y[i] = b.old_value();
    const T beta = b.beta();
    const std::vector<T> A0 = A;

    for (unsigned r = 0; r < 4; ++r) {
        SCOPED_TRACE(::testing::Message() << what << ": trans " << trans << ", m " << m << ", n " << n
                                          << ", pad " << pad << ", kind " << kind << ", beta "
                                          << (double)beta << ", mode " << mode_name(r));
        std::vector<T> yy = y;
        ASSERT_EQ(ops<T>::gemv(trans, m, n, A.data(), lda, x.data(), yy.data(), r, beta), 0);
        for (uint64_t i = 0; i < outer; ++i) {
            exact_total e;
            for (uint64_t l = 0; l < inner; ++l)
                e.add_product((double)(trans ? A[l * lda + i] : A[i * lda + l]), (double)x[l]);
            if (beta != 0) e.add_product((double)beta, (double)y[i]);
            ASSERT_TRUE(same_bits(yy[i], ops<T>::round(e, r))) << "entry " << i;
        }
        for (uint64_t i = outer; i < y.size(); ++i) ASSERT_TRUE(same_word(yy[i], y[i])) << "written past y";
    }
    ASSERT_EQ(std::memcmp(A.data(), A0.data(), A.size() * sizeof(T)), 0);
    for (uint32_t r : {4u, 0xffffffffu}) {
        std::vector<T> yy = y;
        EXPECT_EQ(ops<T>::gemv(trans, m, n, A.data(), lda, x.data(), yy.data(), r, beta), -1);
        EXPECT_EQ(std::memcmp(yy.data(), y.data(), y.size() * sizeof(T)), 0) << "output written";
    }
}

struct shape {
    uint64_t m, n, k;
};
const shape gemm_shapes[] = {{1, 1, 1},  {3, 4, 5},  {5, 3, 63},  {4, 5, 64},  {2, 3, 65},
                             {3, 2, 130}, {1, 1, 1000}, {7, 2, 0}, {0, 3, 5},  {3, 0, 5},
                             {0, 0, 0},  {2, 2, 2},  {6, 1, 64},  {1, 6, 63}};
const shape gemv_shapes[] = {{1, 1, 0}, {5, 7, 0},  {3, 63, 0}, {4, 64, 0}, {2, 65, 0},
                             {63, 3, 0}, {64, 2, 0}, {70, 3, 0}, {0, 4, 0}, {4, 0, 0},
                             {0, 0, 0}, {1, 500, 0}, {500, 1, 0}};

template <class T>
void gemm_suite(uint64_t seed, const char *what) {
    builder<T> b(seed);
    const int reps = scaled(16, 2);
    for (int rep = 0; rep < reps; ++rep)
        for (const shape &s : gemm_shapes)
            for (uint64_t pad : {uint64_t(0), uint64_t(3)}) {
                check_gemm<T>(s.m, s.n, s.k, pad, b, rep + (int)pad, rep % 3 == 2, what);
                if (::testing::Test::HasFatalFailure()) return;
            }
}

template <class T>
void gemv_suite(uint64_t seed, const char *what) {
    builder<T> b(seed);
    const int reps = scaled(16, 2);
    for (int rep = 0; rep < reps; ++rep)
        for (const shape &s : gemv_shapes)
            for (int trans : {0, 1, -7})
                for (uint64_t pad : {uint64_t(0), uint64_t(2)}) {
                    check_gemv<T>(trans, s.m, s.n, pad, b, rep + trans, rep % 3 == 2, what);
                    if (::testing::Test::HasFatalFailure()) return;
                }
}

TEST(Gemm, DoubleAgainstMpfr) { gemm_suite<double>(71, "qxgemm"); }
TEST(Gemm, FloatAgainstMpfr) { gemm_suite<float>(72, "qxgemmf"); }
TEST(Gemv, DoubleAgainstMpfr) { gemv_suite<double>(73, "qxgemv"); }
TEST(Gemv, FloatAgainstMpfr) { gemv_suite<float>(74, "qxgemvf"); }

TEST(Gemm, SpecifiedCases) {
    // beta = 0 ignores a NaN already in C; beta = -0 as well.
    const double A[2] = {1.0, 2.0}, B[2] = {3.0, 4.0};
    for (double beta : {0.0, -0.0}) {
        double c = std::nan("");
        ASSERT_EQ(qxgemm(1, 1, 2, A, 2, B, 1, &c, beta, 1, 0), 0);
        EXPECT_TRUE(same_bits(c, 11.0));
        float cf = std::nanf("");
        const float Af[2] = {1, 2}, Bf[2] = {3, 4};
        ASSERT_EQ(qxgemmf(1, 1, 2, Af, 2, Bf, 1, &cf, (float)beta, 1, 0), 0);
        EXPECT_TRUE(same_bits(cf, 11.0f));
        double y = std::nan("");
        ASSERT_EQ(qxgemv(0, 1, 2, A, 2, B, &y, 0, beta), 0);
        EXPECT_TRUE(same_bits(y, 11.0));
    }
    // beta = 1: the old C enters the single rounding.
    {
        const double a = 0x1p-30, bb = 0x1p-30;
        for (unsigned r = 0; r < 4; ++r) {
            double c = 1.0;
            ASSERT_EQ(qxgemm(1, 1, 1, &a, 1, &bb, 1, &c, 1.0, 1, r), 0);
            EXPECT_TRUE(same_bits(c, r == 1 ? 1.0 + 0x1p-52 : 1.0)) << mode_name(r);
        }
    }
    // k = 0: +0 with beta = 0, the rounded beta C otherwise.
    {
        double C[4] = {1.0, -0.0, std::nan(""), 3.0};
        ASSERT_EQ(qxgemm(2, 2, 0, nullptr, 1, nullptr, 2, C, 0.0, 2, 2), 0);
        for (double c : C) EXPECT_TRUE(same_bits(c, 0.0));
        double D[2] = {0x1p-1074, -1.0};
        ASSERT_EQ(qxgemm(1, 2, 0, nullptr, 1, nullptr, 2, D, 0.5, 2, 0), 0);
        EXPECT_TRUE(same_bits(D[0], 0.0));
        EXPECT_TRUE(same_bits(D[1], -0.5));
        double E[1] = {0x1p-1074};
        ASSERT_EQ(qxgemm(1, 1, 0, nullptr, 1, nullptr, 1, E, 0.5, 1, 1), 0);
        EXPECT_TRUE(same_bits(E[0], 0x1p-1074));
    }
    // Transposed qxgemv with m = 0 writes beta y rounded, or +0.
    {
        double y[3] = {2.0, -0.0, 0x1.fffffffffffffp+1023};
        ASSERT_EQ(qxgemv(1, 0, 3, nullptr, 3, nullptr, y, 0, 4.0), 0);
        EXPECT_TRUE(same_bits(y[0], 8.0));
        EXPECT_TRUE(same_bits(y[1], -0.0));
        EXPECT_TRUE(same_bits(y[2], (double)INFINITY));
        double z[2] = {std::nan(""), 5.0};
        ASSERT_EQ(qxgemv(1, 0, 2, nullptr, 2, nullptr, z, 3, 0.0), 0);
        EXPECT_TRUE(same_bits(z[0], 0.0));
        EXPECT_TRUE(same_bits(z[1], 0.0));
        float zf[2] = {std::nanf(""), 5.0f};
        ASSERT_EQ(qxgemvf(1, 0, 2, nullptr, 2, nullptr, zf, 0, 0.0f), 0);
        EXPECT_TRUE(same_bits(zf[0], 0.0f));
        EXPECT_TRUE(same_bits(zf[1], 0.0f));
    }
}

}  // namespace
