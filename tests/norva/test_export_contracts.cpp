// The contracts shared by the interval, positive-definiteness,
// least-squares and eigenvalue exports, one table for the four: invalid arguments return
// -1 with nothing written and the caller's environment untouched; every
// allocation failing in turn gives status 1 with the trivial result (or a
// sound result through a fallback) and no leak; the caller's rounding mode
// and flags change nothing and are kept; 1, 2 and 3 threads give identical
// bits; a product callback is called only from the calling thread, outside
// any parallel region.
#include <gtest/gtest.h>
#include <omp.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "eig_testing.h"
#include "norva.h"
#include "solve_testing.h"
#include "support/alloc_sweep.h"

namespace {

using namespace solvetest;

constexpr double qnan = std::numeric_limits<double>::quiet_NaN();
constexpr double snan = std::numeric_limits<double>::signaling_NaN();

// One export on one data set: call(out, mode, gemm) writes its results into
// out (out_size doubles: the bounds, or the one lower bound of norva_spd).
// check(out, status) judges a result against what is known of the data.
struct export_case {
    const char *name;
    size_t out_size;
    std::vector<int32_t> modes;
    std::function<int32_t(double *, int32_t, norva_gemm_fn)> call;
    std::function<::testing::AssertionResult(const double *, int32_t)> check;
};

// Bounds (lo then hi, n x nrhs each) proven against an MPFR reference, or
// [-inf, +inf] everywhere when the status is 1.
template <class Ref>
::testing::AssertionResult bounds_sound(const Ref &ref, uint64_t n, uint64_t nrhs,
                                        const double *out, int32_t status) {
    result r = blank_result(n, nrhs, nrhs);
    r.status = status;
    r.lo.assign(out, out + n * nrhs);
    r.hi.assign(out + n * nrhs, out + 2 * n * nrhs);
    return sound(r, ref);
}

// An interval system around a diagonally dominant midpoint (radii 2^-30
// relative); the midpoint system's exact solution must be enclosed.
export_case interval_case(uint64_t n, uint64_t nrhs, uint64_t seed) {
    auto s = std::make_shared<dense_system>(make_system(n, nrhs));
    rng g(seed);
    fill_real(*s, real_kind::dominant, g);
    for (auto &v : s->b) v = g.uniform();
    auto lo = std::make_shared<std::vector<double>>(), hi = std::make_shared<std::vector<double>>();
    auto blo = std::make_shared<std::vector<double>>(), bhi = std::make_shared<std::vector<double>>();
    for (double v : s->a) lo->push_back(v - std::fabs(v) * 0x1p-30), hi->push_back(v + std::fabs(v) * 0x1p-30);
    for (double v : s->b) blo->push_back(v - std::fabs(v) * 0x1p-30), bhi->push_back(v + std::fabs(v) * 0x1p-30);
    // The midpoint system (the midpoints are exact here: v -+ |v| 2^-30
    // average back to v).
    auto ref = std::make_shared<mp_solution>(*s, 1024);
    return {"norva_solve_interval", 2 * n * nrhs, {0, 1},
            [=](double *out, int32_t mode, norva_gemm_fn gemm) {
                return norva_solve_interval(n, nrhs, lo->data(), hi->data(), n, blo->data(),
                                            bhi->data(), nrhs, nullptr, 0, out, out + n * nrhs,
                                            nrhs, mode, gemm, nullptr);
            },
            [=](const double *out, int32_t status) {
                return bounds_sound(*ref, n, nrhs, out, status);
            }};
}

// A least-squares problem with a consistent right-hand side b = A x for an
// integer x: x is the exact least-squares solution, and for m < n, where x
// is taken in the range of A^T (x = A^T y), the minimum-norm one.
export_case lstsq_case(uint64_t m, uint64_t n, uint64_t seed) {
    rng g(seed);
    auto a = std::make_shared<std::vector<double>>(m * n), b = std::make_shared<std::vector<double>>(m);
    for (auto &v : *a) v = (double)g.range(-20, 20);
    exact_solution x;
    x.n = n;
    x.nrhs = 1;
    x.x.assign(n, 0.0);
    for (uint64_t j = 0; j < n; ++j) {
        if (m >= n) {
            x.x[j] = (double)g.range(-50, 50);
            continue;
        }
        for (uint64_t i = 0; i < m; ++i) x.x[j] += (*a)[i * n + j] * (double)((int)(i % 5) - 2);
    }
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) (*b)[i] += (*a)[i * n + j] * x.x[j];  // exact integers
    return {"norva_lstsq", 2 * n, {0, 1, 2},
            [=](double *out, int32_t mode, norva_gemm_fn gemm) {
                return norva_lstsq(m, n, 1, a->data(), n, b->data(), 1, 0.0, nullptr, 0, out,
                                   out + n, 1, mode, gemm, nullptr);
            },
            [=](const double *out, int32_t status) { return bounds_sound(x, n, 1, out, status); }};
}

// A = 3 I + u u^T with a small integer u: lambda_min = 3 exactly (n >= 2).
export_case spd_case(uint64_t n, uint64_t seed) {
    rng g(seed);
    std::vector<double> u(n);
    for (auto &v : u) v = (double)g.range(-3, 3);
    auto a = std::make_shared<std::vector<double>>(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) (*a)[i * n + j] = u[i] * u[j] + (i == j ? 3.0 : 0.0);
    return {"norva_spd", 1, {0, 1},
            [=](double *out, int32_t mode, norva_gemm_fn gemm) {
                return norva_spd(n, a->data(), n, nullptr, 0, 0.0, out, mode, gemm, nullptr);
            },
            [](const double *out, int32_t status) -> ::testing::AssertionResult {
                if (status == 0 && out[0] > 0 && out[0] <= 3) return ::testing::AssertionSuccess();
                if (status == 1 && !(out[0] > 0)) return ::testing::AssertionSuccess();
                return ::testing::AssertionFailure() << "status " << status << ", lower " << out[0];
            }};
}

// H diag(d) H / n with integer d (n a power of two): the spectrum is d.
export_case eig_case(uint64_t n, uint64_t seed) {
    rng g(seed);
    auto d = std::make_shared<std::vector<double>>(n);
    for (auto &v : *d) v = (double)g.range(-50, 50);
    auto a = std::make_shared<std::vector<double>>(eigtest::hadamard_similar(*d));
    std::sort(d->begin(), d->end());
    return {"norva_eig_sym", 2 * n, {0, 1},
            [=](double *out, int32_t mode, norva_gemm_fn gemm) {
                return norva_eig_sym(n, a->data(), n, nullptr, 0, nullptr, out, out + n, mode,
                                     gemm, nullptr);
            },
            [=](const double *out, int32_t status) -> ::testing::AssertionResult {
                for (uint64_t i = 0; i < n; ++i) {
                    const bool in = out[i] <= (*d)[i] && (*d)[i] <= out[n + i];
                    const bool trivial = out[i] == -inf && out[n + i] == inf;
                    if (status == 0 ? !in : !trivial)
                        return ::testing::AssertionFailure() << "status " << status << ", eigenvalue "
                                                             << i << " [" << out[i] << ", "
                                                             << out[n + i] << "]";
                }
                return ::testing::AssertionSuccess();
            }};
}

std::vector<export_case> small_cases() {
    return {interval_case(6, 2, 1), lstsq_case(7, 4, 2), lstsq_case(3, 5, 3), spd_case(5, 4),
            eig_case(4, 9)};
}
// Orders of 64 and more: every parallel region runs on the whole team.
std::vector<export_case> large_cases() {
    return {interval_case(70, 2, 5), lstsq_case(90, 40, 6), lstsq_case(30, 70, 7), spd_case(100, 8),
            eig_case(64, 10)};
}

std::vector<double> run_case(const export_case &c, int32_t mode, norva_gemm_fn gemm = nullptr,
                             int32_t *status = nullptr) {
    std::vector<double> out(c.out_size, sentinel);
    const int32_t st = c.call(out.data(), mode, gemm);
    if (status) *status = st;
    return out;
}

bool same(const std::vector<double> &x, const std::vector<double> &y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

TEST(ExportContracts, ProvenOnWellConditionedData) {
    for (const auto &cases : {small_cases(), large_cases()})
        for (const export_case &c : cases)
            for (int32_t mode : c.modes) {
                int32_t st = -2;
                const std::vector<double> out = run_case(c, mode, nullptr, &st);
                EXPECT_EQ(st, 0) << c.name << " mode " << mode;
                EXPECT_TRUE(c.check(out.data(), st)) << c.name << " mode " << mode;
            }
}

// ---- invalid arguments -----------------------------------------------------------

// Runs a call under upward rounding with every flag clear: -1, no flag
// raised, the rounding mode kept, nothing written.
void expect_rejected(const char *what, const std::function<int32_t(double *)> &call) {
    std::vector<double> out(64, sentinel);
    std::fesetround(FE_UPWARD);
    std::feclearexcept(FE_ALL_EXCEPT);
    const int32_t rc = call(out.data());
    const int flags = std::fetestexcept(FE_ALL_EXCEPT), round = std::fegetround();
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(rc, -1) << what;
    EXPECT_EQ(flags, 0) << what << ": flags raised by the checks";
    EXPECT_EQ(round, FE_UPWARD) << what;
    for (double v : out) EXPECT_TRUE(same_bits(v, sentinel)) << what << ": output written";
}

TEST(ExportContracts, InvalidArgumentsWriteNothing) {
    const double a[4] = {4, 1, 1, 3}, b[2] = {1, 2};
    const double bads[] = {qnan, snan, inf, -inf};
    // Interval systems: zero sizes, mode 2 and beyond, lo > hi, any non-finite bound.
    auto iv = [&](uint64_t n, uint64_t nrhs, const double *alo, const double *ahi,
                  const double *blo, const double *bhi, int32_t mode) {
        return [=](double *out) {
            return norva_solve_interval(n, nrhs, alo, ahi, 2, blo, bhi, 1, nullptr, 0, out,
                                        out + 8, 1, mode, nullptr, nullptr);
        };
    };
    expect_rejected("interval n 0", iv(0, 1, a, a, b, b, 0));
    expect_rejected("interval nrhs 0", iv(2, 0, a, a, b, b, 0));
    for (int32_t mode : {2, -1, INT32_MIN})
        expect_rejected("interval mode", iv(2, 1, a, a, b, b, mode));
    const double a_low[4] = {4, 1, 1, 2.5}, b_low[2] = {1, 1.5};
    expect_rejected("interval a_lo > a_hi", iv(2, 1, a, a_low, b, b, 0));
    expect_rejected("interval b_lo > b_hi", iv(2, 1, a, a, b, b_low, 0));
    for (double v : bads) {
        const double ab[4] = {4, 1, v, 3}, bb[2] = {v, 2};
        expect_rejected("interval bad a_lo", iv(2, 1, ab, a, b, b, 1));
        expect_rejected("interval bad a_hi", iv(2, 1, a, ab, b, b, 1));
        expect_rejected("interval bad b_hi", iv(2, 1, a, a, b, bb, 0));
    }

    // Least squares: zero sizes, mode 3, alpha not 0 and not a positive power of two.
    auto ls = [&](uint64_t m, uint64_t n, uint64_t nrhs, const double *A, const double *B,
                  double alpha, int32_t mode) {
        return [=](double *out) {
            return norva_lstsq(m, n, nrhs, A, 2, B, 1, alpha, nullptr, 0, out, out + 8, 1, mode,
                               nullptr, nullptr);
        };
    };
    expect_rejected("lstsq m 0", ls(0, 2, 1, a, b, 0, 0));
    expect_rejected("lstsq n 0", ls(2, 0, 1, a, b, 0, 0));
    expect_rejected("lstsq nrhs 0", ls(2, 2, 0, a, b, 0, 0));
    for (int32_t mode : {3, -1})
        expect_rejected("lstsq mode", ls(2, 2, 1, a, b, 0, mode));
    for (double alpha : {3.0, -1.0, -0.5, 0x1.8p-1070, qnan, inf, dmax})
        expect_rejected("lstsq alpha", ls(2, 2, 1, a, b, alpha, 0));
    for (double v : bads) {
        const double ab[4] = {4, 1, 1, v}, bb[2] = {1, v};
        expect_rejected("lstsq bad a", ls(2, 2, 1, ab, b, 0, 0));
        expect_rejected("lstsq bad b", ls(2, 2, 1, a, bb, 0, 0));
    }

    // Positive definiteness: zero order, no place for the bound, mode 2, a
    // factor with a non-finite shift, non-finite or asymmetric entries.
    const double sym[4] = {4, 1, 1, 3}, asym[4] = {4, 1, std::nextafter(1.0, 2.0), 3};
    auto pd = [&](uint64_t n, const double *A, const double *L, double shift, int32_t mode,
                  bool no_lower = false) {
        return [=](double *out) {
            return norva_spd(n, A, 2, L, 2, shift, no_lower ? nullptr : out, mode, nullptr, nullptr);
        };
    };
    expect_rejected("spd n 0", pd(0, sym, nullptr, 0, 0));
    expect_rejected("spd lower null", pd(2, sym, nullptr, 0, 0, true));
    for (int32_t mode : {2, -1})
        expect_rejected("spd mode", pd(2, sym, nullptr, 0, mode));
    expect_rejected("spd asymmetric", pd(2, asym, nullptr, 0, 0));
    for (double v : bads) {
        const double ab[4] = {4, v, v, 3}, lb[4] = {2, 0, v, 1};
        expect_rejected("spd bad a", pd(2, ab, nullptr, 0, 0));
        expect_rejected("spd bad factor", pd(2, sym, lb, 0.5, 0));
        expect_rejected("spd bad shift", pd(2, sym, sym, v, 1));
    }

    // Eigenvalues: zero order, mode 2, vectors without values or the
    // reverse, asymmetric or non-finite entries of a, v or d.
    const double dv[2] = {3, 5};
    auto ev = [&](uint64_t n, const double *A, const double *V, const double *D, int32_t mode) {
        return [=](double *out) {
            return norva_eig_sym(n, A, 2, V, 2, D, out, out + 8, mode, nullptr, nullptr);
        };
    };
    expect_rejected("eig n 0", ev(0, sym, nullptr, nullptr, 0));
    for (int32_t mode : {2, -1})
        expect_rejected("eig mode", ev(2, sym, nullptr, nullptr, mode));
    expect_rejected("eig v without d", ev(2, sym, sym, nullptr, 0));
    expect_rejected("eig d without v", ev(2, sym, nullptr, dv, 0));
    expect_rejected("eig asymmetric", ev(2, asym, nullptr, nullptr, 1));
    for (double v : bads) {
        const double ab[4] = {4, v, v, 3}, db[2] = {3, v};
        expect_rejected("eig bad a", ev(2, ab, nullptr, nullptr, 0));
        expect_rejected("eig bad v", ev(2, sym, ab, dv, 0));
        expect_rejected("eig bad d", ev(2, sym, sym, db, 1));
    }
}

// ---- allocation failures, environment, threads, callbacks ----------------------------

TEST(ExportContracts, EveryAllocationFailing) {
    for (const export_case &c : small_cases())
        for (int32_t mode : c.modes) {
            SCOPED_TRACE(::testing::Message() << c.name << " mode " << mode);
            std::vector<double> out;
            int32_t status = -2;
            const uint64_t sites = testsupport::for_each_allocation_failure(
                [&] {
                    out.assign(c.out_size, sentinel);
                    status = c.call(out.data(), mode, nullptr);
                },
                [&](uint64_t k) {
                    EXPECT_TRUE(c.check(out.data(), status));
                    if (k == 0) {
                        EXPECT_EQ(status, 0);
                    } else if (k == 1) {
                        EXPECT_EQ(status, 1) << "the first allocation is not optional";
                    }
                });
            EXPECT_GT(sites, 0u);
        }
}

TEST(ExportContracts, CallerRoundingModeAndFlagsAreIrrelevantAndKept) {
    for (const export_case &c : small_cases())
        for (int32_t mode : c.modes) {
            const std::vector<double> want = run_case(c, mode);
            for (int rm : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO})
                for (int raised : {0, FE_INEXACT | FE_OVERFLOW}) {
                    std::vector<double> got(c.out_size, sentinel);
                    std::fesetround(rm);
                    std::feclearexcept(FE_ALL_EXCEPT);
                    std::feraiseexcept(raised);
                    c.call(got.data(), mode, nullptr);
                    const int flags = std::fetestexcept(FE_ALL_EXCEPT), after = std::fegetround();
                    std::fesetround(FE_TONEAREST);
                    EXPECT_EQ(after, rm) << c.name;
                    EXPECT_EQ(flags, raised) << c.name << " mode " << mode;
                    EXPECT_TRUE(same(got, want)) << c.name << " mode " << mode << " rounding " << rm;
                }
        }
}

TEST(ExportContracts, IdenticalForOneTwoAndThreeThreads) {
    const int saved = omp_get_max_threads();
    for (const export_case &c : large_cases())
        for (int32_t mode : c.modes) {
            omp_set_num_threads(1);
            const std::vector<double> one = run_case(c, mode);
            omp_set_num_threads(2);
            const std::vector<double> two = run_case(c, mode);
            omp_set_num_threads(3);
            const std::vector<double> three = run_case(c, mode);
            omp_set_num_threads(saved);
            EXPECT_TRUE(same(two, one)) << c.name << " mode " << mode;
            EXPECT_TRUE(same(three, one)) << c.name << " mode " << mode;
        }
}

// The callback sums in reverse order and records whether it was ever
// called from inside a parallel region or from another thread.
struct callback_log {
    pthread_t caller;
    int calls = 0;
    bool misplaced = false;
} g_log;

void logging_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    ++g_log.calls;
    if (omp_in_parallel() || !pthread_equal(pthread_self(), g_log.caller)) g_log.misplaced = true;
    reverse_gemm(m, n, k, A, lda, B, ldb, C, ldc, ctx);
}

TEST(ExportContracts, CallbackFromTheCallingThreadOnly) {
    for (const export_case &c : large_cases())
        for (int32_t mode : c.modes) {
            g_log = callback_log{pthread_self()};
            int32_t st = -2;
            const std::vector<double> out = run_case(c, mode, logging_gemm, &st);
            EXPECT_GT(g_log.calls, 0) << c.name << " mode " << mode;
            EXPECT_FALSE(g_log.misplaced) << c.name << " mode " << mode;
            EXPECT_TRUE(c.check(out.data(), st)) << c.name << " mode " << mode;
        }
}

}  // namespace
