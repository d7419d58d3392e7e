// Faults and threads across the eleven exports, one table of cases:
//   - every allocation of a call failing in turn (at orders where the
//     parallel regions run on a team of two): a status the export may give,
//     every enclosure sound or [-inf, +inf], no leak, the caller's rounding
//     mode and flags kept; the number of allocations swept is printed;
//   - 1, 2, 3 and 4 threads give the same bits, at orders above every
//     parallel threshold of the export;
//   - four caller threads calling exports at the same time (different
//     exports, and the same export on different data), each under its own
//     rounding mode, get the bits of the sequential calls, find their
//     environment unchanged, and see the product callback called only from
//     themselves, outside any parallel region.
// Every case has an exactly known answer: integer systems with integer
// solutions, spectra fixed by an exact similarity, lambda_min of 3 I + u u^T.
#include <gtest/gtest.h>
#include <omp.h>
#include <pthread.h>

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "eig_testing.h"
#include "norva.h"
#include "sparse/sparse.h"
#include "solve_testing.h"
#include "support/alloc_sweep.h"
#include "support/test_scale.h"

namespace {

using namespace solvetest;
using vec = std::vector<double>;
template <class T>
using shared = std::shared_ptr<const T>;

// One export on one data set.  call() writes the bounds into an n x nrhs
// result (norva_spd: its lower bound into lo[0]) and returns the status;
// check() judges a result against the known answer.
struct robust_case {
    std::string name;
    const char *fn;  // the export
    uint64_t n, nrhs;
    std::function<int32_t(result &, norva_gemm_fn, void *)> call;
    std::function<::testing::AssertionResult(const result &)> check;
};

// Every column proven and containing the exact answer, or [-inf, +inf]
// (status 0 exactly when all are proven).  The sparse export also answers
// -1 with every bound [-inf, +inf] when its own memory runs out.
std::function<::testing::AssertionResult(const result &)> encloses(shared<exact_solution> x,
                                                                   bool minus_one_trivial = false) {
    return [=](const result &r) {
        if (r.status == -1 && minus_one_trivial) {
            for (uint64_t k = 0; k < r.nrhs; ++k)
                if (!r.unproven(k)) return ::testing::AssertionFailure() << "-1 with bounds";
            return ::testing::AssertionSuccess();
        }
        return sound(r, *x);
    };
}

struct int_system {
    std::shared_ptr<dense_system> s;
    std::shared_ptr<exact_solution> x;
};

int_system integer_system(uint64_t n, uint64_t nrhs, uint64_t seed) {
    int_system d{std::make_shared<dense_system>(make_system(n, nrhs)), nullptr};
    rng g(seed);
    d.x = std::make_shared<exact_solution>(fill_integer(*d.s, int_kind::dominant, g));
    return d;
}

// norva_solve (nrhs 1) or norva_solve_many; with identity_r the caller's
// "inverse" is I, so that the improvement attempt (modes 0, 1) or the
// refinement (mode 2) has work to do.
robust_case dense_case(uint64_t n, uint64_t nrhs, int32_t mode, bool identity_r, uint64_t seed) {
    const int_system d = integer_system(n, nrhs, seed);
    auto eye = std::make_shared<vec>(identity_r ? n * n : 0, 0.0);
    for (uint64_t i = 0; identity_r && i < n; ++i) (*eye)[i * n + i] = 1.0;
    const bool one = nrhs == 1 && !identity_r;
    const char *fn = one ? "norva_solve" : "norva_solve_many";
    const std::string name = std::string(fn) + " n " + std::to_string(n) + " nrhs " +
                             std::to_string(nrhs) + (identity_r ? " R = I" : "") + " mode " +
                             std::to_string(mode);
    const double *r = identity_r ? eye->data() : nullptr;
    return {name, fn, n, nrhs,
            [s = d.s, eye, r, one, mode](result &o, norva_gemm_fn gemm, void *ctx) {
                if (one)
                    return norva_solve(s->n, s->a.data(), s->lda, s->b.data(), nullptr, 0,
                                       o.lo.data(), o.hi.data(), mode, gemm, ctx);
                return norva_solve_many(s->n, s->nrhs, s->a.data(), s->lda, s->b.data(), s->ldb,
                                        r, s->n, o.lo.data(), o.hi.data(), o.ldx, mode, gemm, ctx);
            },
            encloses(d.x)};
}

// count integer systems of order n stacked as one column of count n
// components (stride n everywhere): each system's part of the column
// proven and containing its solution, or [-inf, +inf].
robust_case batch_case(uint64_t count, uint64_t n, int32_t mode, uint64_t seed) {
    auto a = std::make_shared<vec>(), b = std::make_shared<vec>();
    auto x = std::make_shared<exact_solution>();
    *x = exact_solution{count * n, 1, vec()};
    for (uint64_t k = 0; k < count; ++k) {
        const int_system d = integer_system(n, 1, seed + k);
        for (uint64_t i = 0; i < n; ++i) {
            for (uint64_t j = 0; j < n; ++j) a->push_back(d.s->A(i, j));
            b->push_back(d.s->B(i, 0));
            x->x.push_back(d.x->x[i]);
        }
    }
    return {"norva_solve_batch " + std::to_string(count) + " x n " + std::to_string(n) +
                " mode " + std::to_string(mode),
            "norva_solve_batch", count * n, 1,
            // The statuses are allocated here, outside the watched call
            // (a static build counts the test's own allocations too).
            [a, b, count, n, mode, status = std::make_shared<std::vector<int32_t>>(count)](
                result &o, norva_gemm_fn, void *) {
                return norva_solve_batch(count, n, a->data(), n * n, b->data(), n, o.lo.data(),
                                         o.hi.data(), n, mode, status->data());
            },
            [x, count, n](const result &o) -> ::testing::AssertionResult {
                bool all = true;
                for (uint64_t q = 0; q < count * n; q += n) {
                    bool open = true, in = true;
                    for (uint64_t i = q; i < q + n; ++i) {
                        open &= std::isinf(o.lo[i]) && o.lo[i] < 0 && std::isinf(o.hi[i]);
                        in &= o.lo[i] <= x->x[i] && x->x[i] <= o.hi[i];
                    }
                    if (!in) return ::testing::AssertionFailure() << "system " << q / n << " misses x";
                    all &= !open;
                }
                if ((o.status == 0) != all) return ::testing::AssertionFailure() << "status " << o.status;
                return ::testing::AssertionSuccess();
            }};
}

// Radii of |v| 2^-30 around an integer system (v -+ |v| 2^-30 are exact and
// average back to v): the midpoint system's solution is enclosed.
robust_case interval_case(uint64_t n, uint64_t nrhs, int32_t mode, uint64_t seed) {
    const int_system d = integer_system(n, nrhs, seed);
    auto w = std::make_shared<std::vector<vec>>(4);
    for (int q = 0; q < 4; ++q)
        for (double v : q < 2 ? d.s->a : d.s->b)
            (*w)[q].push_back(q % 2 ? v + std::fabs(v) * 0x1p-30 : v - std::fabs(v) * 0x1p-30);
    return {"norva_solve_interval n " + std::to_string(n) + " mode " + std::to_string(mode),
            "norva_solve_interval", n, nrhs,
            [w, n, nrhs, mode](result &o, norva_gemm_fn gemm, void *ctx) {
                const std::vector<vec> &v = *w;
                return norva_solve_interval(n, nrhs, v[0].data(), v[1].data(), n, v[2].data(),
                                            v[3].data(), nrhs, nullptr, 0, o.lo.data(),
                                            o.hi.data(), o.ldx, mode, gemm, ctx);
            },
            encloses(d.x)};
}

// A = 3 I + u u^T with a small integer u: lambda_min = 3 exactly.  With
// binades, D A D for D = diag(2^e_i), e_i from -125 to 125 by steps of
// 250 / n: the unscaled
// proof fails and the retry on the scaled copy gives the bound;
// lambda_min <= min_i a_ii.
robust_case spd_case(uint64_t n, int32_t mode, bool binades, uint64_t seed) {
    rng g(seed);
    vec u(n);
    for (auto &v : u) v = (double)g.range(-3, 3);
    auto a = std::make_shared<vec>(n * n);
    double cap = 3.0;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double v = u[i] * u[j] + (i == j ? 3.0 : 0.0);
            const int e = (int)(i * 250 / n) + (int)(j * 250 / n) - 250;
            (*a)[i * n + j] = binades ? std::ldexp(v, e) : v;
        }
    if (binades)
        for (uint64_t i = 0; i < n; ++i) cap = std::min(cap, (*a)[i * n + i]);
    return {"norva_spd n " + std::to_string(n) + (binades ? " binades" : "") + " mode " +
                std::to_string(mode),
            "norva_spd", 1, 1,
            [a, n, mode](result &o, norva_gemm_fn gemm, void *ctx) {
                return norva_spd(n, a->data(), n, nullptr, 0, 0.0, o.lo.data(), mode, gemm, ctx);
            },
            [cap](const result &o) -> ::testing::AssertionResult {
                const double lower = o.lo[0];
                const bool ok = o.status == 0 ? lower >= 0 && lower <= cap
                                              : o.status == 1 && !(lower > 0);
                if (ok) return ::testing::AssertionSuccess();
                return ::testing::AssertionFailure()
                       << "status " << o.status << ", lower " << lower;
            }};
}

// A consistent right-hand side b = A x with integers: for m >= n, x is the
// least-squares solution; for m < n, x = A^T y is the minimum-norm one.
robust_case lstsq_case(uint64_t m, uint64_t n, int32_t mode, uint64_t seed) {
    rng g(seed);
    auto a = std::make_shared<vec>(m * n), b = std::make_shared<vec>(m, 0.0);
    for (auto &v : *a) v = (double)g.range(-20, 20);
    auto x = std::make_shared<exact_solution>();
    x->n = n;
    x->nrhs = 1;
    x->x.assign(n, 0.0);
    for (uint64_t j = 0; j < n; ++j) {
        if (m >= n) x->x[j] = (double)g.range(-50, 50);
        for (uint64_t i = 0; m < n && i < m; ++i)
            x->x[j] += (*a)[i * n + j] * (double)((int)(i % 5) - 2);
    }
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) (*b)[i] += (*a)[i * n + j] * x->x[j];  // exact integers
    return {"norva_lstsq " + std::to_string(m) + " x " + std::to_string(n) + " mode " +
                std::to_string(mode),
            "norva_lstsq", n, 1,
            [a, b, m, n, mode](result &o, norva_gemm_fn gemm, void *ctx) {
                return norva_lstsq(m, n, 1, a->data(), n, b->data(), 1, 0.0, nullptr, 0,
                                   o.lo.data(), o.hi.data(), 1, mode, gemm, ctx);
            },
            encloses(x)};
}

// H diag(d) H / n with integer d (n = 4^k): the spectrum is d.  With
// vectors, the caller gives the exact decomposition H / sqrt(n), d (no
// Jacobi method: it is serial and slow under emulation).
robust_case eig_case(uint64_t n, int32_t mode, bool vectors, uint64_t seed) {
    rng g(seed);
    auto d = std::make_shared<vec>(n);
    for (auto &v : *d) v = (double)g.range(-50, 50);
    auto a = std::make_shared<vec>(eigtest::hadamard_similar(*d));
    auto v = std::make_shared<vec>(n * n);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j)
            (*v)[i * n + j] = (__builtin_popcountll(i & j) % 2 ? -1 : 1) / std::sqrt((double)n);
    auto x = std::make_shared<exact_solution>();
    *x = exact_solution{n, 1, *d};
    std::sort(x->x.begin(), x->x.end());
    return {"norva_eig_sym n " + std::to_string(n) + (vectors ? " with vectors" : "") + " mode " +
                std::to_string(mode),
            "norva_eig_sym", n, 1,
            [a, v, d, n, mode, vectors](result &o, norva_gemm_fn gemm, void *ctx) {
                return norva_eig_sym(n, a->data(), n, vectors ? v->data() : nullptr, n,
                                     vectors ? d->data() : nullptr, o.lo.data(), o.hi.data(),
                                     mode, gemm, ctx);
            },
            encloses(x)};
}

// A band matrix with small integer entries and b = A x for an integer x.
// Symmetric with diagonal 2 (kl + ku + 1): positive definite, the symmetric
// formulation proves it.  Symmetric with that diagonal of alternating sign:
// the symmetric attempt fails and the normal equations prove it.
robust_case band_case(uint64_t n, uint64_t k, bool indefinite, int32_t mode, uint64_t seed) {
    rng g(seed);
    const uint64_t ld = 2 * k + 1;
    auto ab = std::make_shared<vec>(n * ld, 0.0), b = std::make_shared<vec>(n, 0.0);
    auto x = std::make_shared<exact_solution>();
    *x = exact_solution{n, 1, vec(n)};
    for (auto &v : x->x) v = (double)g.range(-50, 50);
    auto at = [&](uint64_t i, uint64_t j) -> double & { return (*ab)[i * ld + k + j - i]; };
    for (uint64_t i = 0; i < n; ++i) {
        at(i, i) = (double)(2 * ld) * (indefinite && i % 2 ? -1 : 1);
        for (uint64_t j = i + 1; j <= std::min(n - 1, i + k); ++j)
            at(i, j) = at(j, i) = (double)g.range(-3, 3);
    }
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = i > k ? i - k : 0; j <= std::min(n - 1, i + k); ++j)
            (*b)[i] += at(i, j) * x->x[j];
    return {"norva_solve_band n " + std::to_string(n) + (indefinite ? " indefinite" : " definite") +
                " mode " + std::to_string(mode),
            "norva_solve_band", n, 1,
            [ab, b, n, k, ld, mode](result &o, norva_gemm_fn, void *) {
                return norva_solve_band(n, k, k, ab->data(), ld, b->data(), o.lo.data(),
                                        o.hi.data(), mode);
            },
            encloses(x)};
}

// The Laplacian of a grid^dims grid plus the identity (5 or 7 on the
// diagonal; lambda_min = 1 + dims (2 - 2 cos(pi / (grid + 1)))), numbered
// at random, in compressed rows.  Two dimensions keep the band path, three
// (grid 12) take the sparse Cholesky path when the library has CHOLMOD.
struct grid_csr {
    uint64_t n;
    std::shared_ptr<std::vector<uint64_t>> rows, cols;
    std::shared_ptr<vec> val;
};

grid_csr grid_laplacian(uint64_t grid, int dims, uint64_t seed) {
    uint64_t n = grid * grid;
    if (dims == 3) n *= grid;
    std::mt19937_64 gen(seed);
    std::vector<uint64_t> p(n);
    std::iota(p.begin(), p.end(), 0);
    std::shuffle(p.begin(), p.end(), gen);
    std::vector<std::vector<uint64_t>> nb(n);
    for (uint64_t k = 0; k < n; ++k)
        for (uint64_t stride = 1, rest = k, t = 0; t < (uint64_t)dims; ++t, stride *= grid, rest /= grid)
            if (rest % grid + 1 < grid) nb[p[k]].push_back(p[k + stride]), nb[p[k + stride]].push_back(p[k]);
    grid_csr m{n, std::make_shared<std::vector<uint64_t>>(1, 0),
               std::make_shared<std::vector<uint64_t>>(), std::make_shared<vec>()};
    for (uint64_t i = 0; i < n; ++i) {
        m.cols->push_back(i);
        m.val->push_back(1.0 + 2 * dims);
        for (uint64_t j : nb[i]) m.cols->push_back(j), m.val->push_back(-1.0);
        m.rows->push_back(m.cols->size());
    }
    return m;
}

// b = A x for an integer x.
robust_case sparse_case(uint64_t grid, int32_t mode, uint64_t seed, int dims = 2) {
    const grid_csr m = grid_laplacian(grid, dims, seed);
    const uint64_t n = m.n;
    auto b = std::make_shared<vec>(n, 0.0);
    auto x = std::make_shared<exact_solution>();
    *x = exact_solution{n, 1, vec(n)};
    for (uint64_t i = 0; i < n; ++i) x->x[i] = (double)((int64_t)(i * 37 % 101) - 50);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t e = (*m.rows)[i]; e < (*m.rows)[i + 1]; ++e)
            (*b)[i] += (*m.val)[e] * x->x[(*m.cols)[e]];
    return {"norva_solve_sparse n " + std::to_string(n) + " mode " + std::to_string(mode),
            "norva_solve_sparse", n, 1,
            [m, b, n, mode](result &o, norva_gemm_fn, void *) {
                return norva_solve_sparse(n, m.rows->data(), m.cols->data(), m.val->data(),
                                          b->data(), o.lo.data(), o.hi.data(), mode);
            },
            encloses(x, true)};
}

// norva_spd_sparse on the same matrices: 0 < lower <= lambda_min, or
// status 1 with no positive bound.
robust_case spd_sparse_case(uint64_t grid, int32_t mode, uint64_t seed, int dims) {
    const grid_csr m = grid_laplacian(grid, dims, seed);
    const double cap = 1 + dims * (2 - 2 * std::cos(M_PI / (double)(grid + 1)));
    return {"norva_spd_sparse n " + std::to_string(m.n) + " mode " + std::to_string(mode),
            "norva_spd_sparse", 1, 1,
            [m, mode](result &o, norva_gemm_fn, void *) {
                return norva_spd_sparse(m.n, m.rows->data(), m.cols->data(), m.val->data(),
                                        o.lo.data(), mode);
            },
            [cap](const result &o) -> ::testing::AssertionResult {
                const double lower = o.lo[0];
                const bool ok = o.status == 0 ? lower > 0 && lower <= cap
                                              : o.status == 1 && !(lower > 0);
                if (ok) return ::testing::AssertionSuccess();
                return ::testing::AssertionFailure() << "status " << o.status << ", lower " << lower;
            }};
}

// The side of the 3-D grids: 12 takes the sparse Cholesky path; without
// CHOLMOD (the cross build, under emulation) the band path takes them, on a
// smaller grid.
uint64_t grid3() { return norva::sparse::have_cholmod() ? 12 : 7; }

// Orders at which the regions of every export run on the whole team (rows
// from 64), small enough to call each case a few times per allocation site.
std::vector<robust_case> sweep_cases() {
    return {dense_case(64, 1, 0, false, 1),  dense_case(64, 1, 1, false, 2),
            dense_case(64, 1, 2, false, 3),  dense_case(64, 8, 1, false, 4),
            dense_case(64, 2, 0, true, 5),   interval_case(64, 2, 0, 7),
            interval_case(64, 2, 1, 8),      spd_case(64, 0, false, 9),
            spd_case(64, 1, false, 10),      spd_case(64, 0, true, 11),
            lstsq_case(50, 30, 0, 12),       lstsq_case(24, 40, 2, 13),
            eig_case(64, 0, true, 14),       eig_case(64, 1, false, 15),
            band_case(80, 2, false, 0, 16),  band_case(80, 2, true, 1, 17),
            sparse_case(9, 0, 18),           sparse_case(9, 1, 19),
            sparse_case(grid3(), 1, 40, 3),  spd_sparse_case(grid3(), 0, 41, 3),
            spd_sparse_case(9, 1, 42, 2),    batch_case(300, 4, 0, 45),
            batch_case(20, 64, 1, 46)};
}

// Orders above every threshold of the export: the row regions from 64, the
// update of the dense solver (mode 1 here, the cheapest) from 256, the
// blocked products of the factorizations from 64^3 multiply-adds.
// Under emulation the orders from 256 are left out (the row regions run
// on the whole team from 64 already).
std::vector<robust_case> thread_cases() {
    std::vector<robust_case> c = {
        dense_case(70, 1, 0, false, 22),     dense_case(70, 1, 2, false, 23),
        dense_case(70, 2, 0, true, 25),      interval_case(70, 2, 0, 27),
        spd_case(200, 1, false, 28),         spd_case(130, 0, false, 29),
        spd_case(130, 0, true, 30),          lstsq_case(50, 30, 0, 32),
        lstsq_case(30, 50, 2, 33),           eig_case(64, 0, true, 34),
        eig_case(64, 1, false, 35),          band_case(300, 3, false, 0, 36),
        band_case(300, 3, true, 1, 37),      sparse_case(12, 0, 38),
        sparse_case(12, 1, 39),              sparse_case(grid3(), 0, 43, 3),
        spd_sparse_case(grid3(), 1, 44, 3),  batch_case(2000, 4, 1, 47),
        batch_case(30, 10, 2, 48)};
    if (testsupport::test_scale() >= 1)
        for (const robust_case &big :
             {dense_case(256, 1, 1, false, 21), dense_case(256, 8, 1, false, 24),
              interval_case(256, 1, 1, 26), lstsq_case(90, 170, 1, 31)})
            c.push_back(big);
    return c;
}

result run_case(const robust_case &c, norva_gemm_fn gemm = nullptr, void *ctx = nullptr) {
    result r = blank_result(c.n, c.nrhs, c.nrhs);
    r.status = c.call(r, gemm, ctx);
    return r;
}

// ---- allocation failures --------------------------------------------------------------

// Sites called more often than 8 times (3 under emulation) are sampled at
// that many of their calls; NORVA_SWEEP_PER_SITE sets another number, 0
// fails every call (slow: the exact products allocate per row).
// NORVA_SWEEP_THREADS sets the team (default 2).
uint64_t env_or(const char *name, uint64_t fallback) {
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : fallback;
}

TEST(Robustness, EveryAllocationOfEveryExportFailing) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads((int)env_or("NORVA_SWEEP_THREADS", 2));
    const uint64_t per_site =
        env_or("NORVA_SWEEP_PER_SITE", testsupport::test_scale() < 1 ? 3 : 8);
    struct swept {
        std::set<uintptr_t> sites;
        uint64_t runs = 0;
    };
    std::map<std::string, swept> per_export;

    // norva_version allocates nothing.
    const char *v = nullptr;
    const testsupport::site_sweep none = testsupport::for_each_allocation_site_failure(
        [&] { v = norva_version(); }, [&](uint64_t) { EXPECT_STREQ(v, "0.7.0"); });
    EXPECT_EQ(none.calls, 0u);
    per_export["norva_version"] = {};

    for (const robust_case &c : sweep_cases()) {
        SCOPED_TRACE(c.name);
        // Outputs allocated outside the watched call (static builds count the
        // test's own allocations too); each run starts from the sentinel.
        result r = blank_result(c.n, c.nrhs, c.nrhs);
        int rounding = 0, flags = 0;
        uint64_t unproven = 0;  // runs that ended with a status other than 0
        const auto t0 = std::chrono::steady_clock::now();
        const testsupport::site_sweep sw = testsupport::for_each_allocation_site_failure(
            [&] {
                std::fill(r.lo.begin(), r.lo.end(), sentinel);
                std::fill(r.hi.begin(), r.hi.end(), sentinel);
                std::fesetround(FE_UPWARD);
                std::feclearexcept(FE_ALL_EXCEPT);
                r.status = c.call(r, nullptr, nullptr);
                flags = std::fetestexcept(FE_ALL_EXCEPT);
                rounding = std::fegetround();
                std::fesetround(FE_TONEAREST);
            },
            [&](uint64_t k) {
                EXPECT_TRUE(c.check(r));
                EXPECT_EQ(rounding, FE_UPWARD);
                EXPECT_EQ(flags, 0);
                if (k == 0) {
                    EXPECT_EQ(r.status, 0);
                }
                unproven += k > 0 && r.status != 0;
            },
            per_site);
        // The first allocations are needed for any proof.
        EXPECT_GT(unproven, 0u);
        per_export[c.fn].sites.insert(sw.where.begin(), sw.where.end());
        per_export[c.fn].runs += sw.runs;
        std::printf("%-46s %5llu allocations, %3llu sites, %4llu runs failing one, %4llu of "
                    "them unproven (%.2f s)\n",
                    c.name.c_str(), (unsigned long long)sw.calls, (unsigned long long)sw.sites,
                    (unsigned long long)sw.runs, (unsigned long long)unproven,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(per_export.size(), 11u);
    for (const auto &[fn, w] : per_export) {
        std::printf("allocation sites swept: %-22s %3zu sites, %5llu runs\n", fn.c_str(),
                    w.sites.size(), (unsigned long long)w.runs);
        RecordProperty("sites_" + fn, std::to_string(w.sites.size()));
    }
}

// ---- thread counts --------------------------------------------------------------------

TEST(Robustness, IdenticalBitsForOneToFourThreads) {
    const int saved = omp_get_max_threads();
    for (const robust_case &c : thread_cases()) {
        omp_set_num_threads(1);
        const result one = run_case(c);
        EXPECT_EQ(one.status, 0) << c.name;
        for (int t = 2; t <= 4; ++t) {
            omp_set_num_threads(t);
            EXPECT_TRUE(identical(run_case(c), one)) << c.name << ", " << t << " threads";
        }
    }
    omp_set_num_threads(saved);
}

// ---- concurrent callers ---------------------------------------------------------------

// The callback of a caller: reverse-order sums, and a record of every call
// that came from another thread or from inside a parallel region.
struct caller_log {
    pthread_t self;
    int calls = 0;
    bool misplaced = false;
};

void logging_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                  const double *B, uint64_t ldb, double *C, uint64_t ldc, void *ctx) {
    caller_log *log = static_cast<caller_log *>(ctx);
    ++log->calls;
    if (omp_in_parallel() || !pthread_equal(pthread_self(), log->self)) log->misplaced = true;
    reverse_gemm(m, n, k, A, lda, B, ldb, C, ldc, nullptr);
}

TEST(Robustness, ConcurrentCallersGetTheSequentialResults) {
    const std::vector<robust_case> cases = sweep_cases();
    // Each case with the built-in product and with the caller's callback.
    std::vector<result> want;
    caller_log main_log{pthread_self()};
    for (const robust_case &c : cases) {
        want.push_back(run_case(c));
        want.push_back(run_case(c, logging_gemm, &main_log));
    }
    ASSERT_FALSE(main_log.misplaced);

    // Caller t takes every fourth case from t on, in its own order, with
    // its own rounding mode; the same exports run in other callers on other
    // data at the same time.
    constexpr int callers = 4;
    const int rounding[callers] = {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO, FE_TONEAREST};
    const int rounds = testsupport::scaled(2);
    struct outcome {
        std::vector<std::string> wrong;
        caller_log log;
        bool env_lost = false;
    } out[callers];
    std::vector<std::thread> pool;
    for (int t = 0; t < callers; ++t)
        pool.emplace_back([&, t] {
            outcome &o = out[t];
            o.log.self = pthread_self();
            std::fesetround(rounding[t]);
            for (int round = 0; round < rounds; ++round)
                for (size_t q = (size_t)t; q < cases.size(); q += callers) {
                    const size_t i = round % 2 ? cases.size() - 1 - q : q;  // another order
                    const bool cb = (i + t + round) % 2 == 1;
                    std::feclearexcept(FE_ALL_EXCEPT);
                    std::feraiseexcept(FE_INEXACT);
                    const result got =
                        cb ? run_case(cases[i], logging_gemm, &o.log) : run_case(cases[i]);
                    if (std::fegetround() != rounding[t] ||
                        std::fetestexcept(FE_ALL_EXCEPT) != FE_INEXACT)
                        o.env_lost = true;
                    if (!identical(got, want[2 * i + cb]))
                        o.wrong.push_back(cases[i].name + (cb ? " (callback)" : ""));
                }
        });
    for (std::thread &th : pool) th.join();
    for (int t = 0; t < callers; ++t) {
        EXPECT_TRUE(out[t].wrong.empty()) << "caller " << t << ": " << out[t].wrong.size()
                                          << " results differ, first " << out[t].wrong[0];
        EXPECT_FALSE(out[t].env_lost) << "caller " << t;
        EXPECT_FALSE(out[t].log.misplaced) << "caller " << t;
    }
}

}  // namespace
