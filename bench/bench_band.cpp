// Band and sparse systems against unverified LAPACK and CHOLMOD:
//   - symmetric positive definite band matrices of order 10^6 with half
//     bandwidth kd = 1 (tridiagonal) and 2 (pentadiagonal): off-diagonal
//     entries uniform in (-1, 1), diagonal 2 kd + 1 + uniform [0, 1)
//     (strictly dominant by more than 1, so lambda_min > 1), against
//     LAPACKE dpbsv (lower band, column-major) on the same system;
//     norva_solve_band mode 1 (goal: at most 25 x dpbsv) and mode 0 (at
//     most 60 x);
//   - an unsymmetric band matrix of order 2 10^5 with kl = ku = 3, entries
//     uniform in (-1, 1) and diagonal 7 + uniform [0, 1) (dominant by rows
//     and by columns), against LAPACKE dgbsv: mode 1 (goal: at most 40 x)
//     and mode 0;
//   - the 2-D Laplacian (5-point stencil, 4 and -1) on a 300 x 300 grid with
//     its unknowns numbered in a random order, through norva_solve_sparse
//     mode 1, against CHOLMOD's cholmod_analyze + cholmod_factorize +
//     cholmod_solve (upper triangle, default settings, analysis included as
//     the renumbering is in norva's time); the summary gives the bandwidths
//     of the natural grid order, of the random order and after the
//     library's own reverse Cuthill-McKee renumbering (norva::band::rcm).
// The copies that dpbsv and dgbsv overwrite are refreshed outside the
// timing.  Every norva case is checked to be proven, and the LAPACK or
// CHOLMOD solution is compared with its enclosure: the components outside
// it, those outside it after one step outward of each bound, and the
// largest distance to it relative to the largest component.  Right-hand sides uniform in (-1, 1).  Two
// threads for the library and OpenBLAS, which also serves CHOLMOD's dense
// kernels; the summary uses the median of the repetitions (3 by default).
//
//   bench_band [--threads=N] [--benchmark_repetitions=R]
#include <cholmod.h>
#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "band/ordering.h"
#include "bench_util.h"
#include "norva.h"

namespace {

// A band system in norva's storage: row i from ab[i ldab], the diagonal at
// position kl, ldab = kl + ku + 1.
struct band_sys {
    int n, kl, ku;
    std::vector<double> ab, b;
    int ldab() const { return kl + ku + 1; }
    double at(int i, int j) const { return ab[(size_t)i * ldab() + kl + (j - i)]; }
};

// Symmetric (kl = ku, the upper entries mirrored from the lower ones) or
// unsymmetric, diagonally dominant as described above; one generator per
// shape.
const band_sys &band_of(int n, int kl, int ku) {
    static std::map<std::tuple<int, int, int>, band_sys> cache;
    const auto key = std::make_tuple(n, kl, ku);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    std::mt19937_64 g(41 + (uint64_t)n + 1000 * (uint64_t)kl + 100 * (uint64_t)ku);
    std::uniform_real_distribution<double> off(-1, 1), unit(0, 1);
    band_sys s{n, kl, ku, std::vector<double>((size_t)n * (kl + ku + 1), 0.0), {}};
    const bool sym = kl == ku;
    for (int i = 0; i < n; ++i) {
        double *row = &s.ab[(size_t)i * s.ldab() + kl];
        row[0] = kl + ku + 1 + unit(g);
        for (int d = 1; d <= kl && i - d >= 0; ++d) row[-d] = off(g);
        if (!sym)
            for (int d = 1; d <= ku && i + d < n; ++d) row[d] = off(g);
    }
    if (sym)
        for (int i = 0; i < n; ++i)
            for (int d = 1; d <= ku && i + d < n; ++d)
                s.ab[(size_t)i * s.ldab() + kl + d] = s.at(i + d, i);
    s.b = bench::uniform((size_t)n, 43 + (uint64_t)n);
    return cache.emplace(key, std::move(s)).first->second;
}

// The column-major band arrays of LAPACK: lower symmetric band for dpbsv
// (ldab kd + 1, A(i, j) at (i - j) + j ldab) and general band with room for
// the fill for dgbsv (ldab 2 kl + ku + 1, A(i, j) at kl + ku + i - j + j ldab).
std::vector<double> lapack_band(const band_sys &s, bool general) {
    const int ld = general ? 2 * s.kl + s.ku + 1 : s.kl + 1;
    std::vector<double> a((size_t)ld * s.n, 0.0);
    for (int i = 0; i < s.n; ++i)
        for (int j = std::max(0, i - s.kl); j <= std::min(s.n - 1, general ? i + s.ku : i); ++j)
            a[(size_t)j * ld + (general ? s.kl + s.ku : 0) + i - j] = s.at(i, j);
    return a;
}

// Enclosures of the last call of each proven case and the peer's solution,
// by the key of bench::statuses().
struct enclosure {
    std::vector<double> lo, hi;
};
std::map<std::string, enclosure> enclosures;
std::map<std::string, std::vector<double>> peer_x;  // by the case the peer matches

void record(benchmark::State &st, const std::string &key, int status, std::vector<double> &lo,
            std::vector<double> &hi) {
    st.counters["status"] = status;
    bench::statuses()[key] = status;
    if (status == 0) enclosures[key] = {std::move(lo), std::move(hi)};
}

// dpbsv (kd = kl = ku) or dgbsv on fresh copies of the system.
void lapack_case(benchmark::State &st, bool general) {
    const int n = (int)st.range(0), k = (int)st.range(1);
    const band_sys &s = band_of(n, k, k);
    const std::vector<double> a0 = lapack_band(s, general);
    std::vector<double> a(a0.size()), x(n);
    std::vector<lapack_int> ipiv(n);
    const int ld = general ? 3 * k + 1 : k + 1;
    lapack_int info = 0;
    for (auto _ : st) {
        st.PauseTiming();
        std::copy(a0.begin(), a0.end(), a.begin());
        std::copy(s.b.begin(), s.b.end(), x.begin());
        st.ResumeTiming();
        info = general ? LAPACKE_dgbsv_work(LAPACK_COL_MAJOR, n, k, k, 1, a.data(), ld, ipiv.data(),
                                            x.data(), n)
                       : LAPACKE_dpbsv_work(LAPACK_COL_MAJOR, 'L', n, k, 1, a.data(), ld, x.data(),
                                            n);
    }
    if (info != 0) st.SkipWithError(general ? "dgbsv failed" : "dpbsv failed");
    peer_x[std::to_string(n) + "/" + std::to_string(k) + "/"] = x;
}

void BM_dpbsv(benchmark::State &st) { lapack_case(st, false); }
void BM_dgbsv(benchmark::State &st) { lapack_case(st, true); }

void band_case(benchmark::State &st, int mode, const char *tag) {
    const int n = (int)st.range(0), k = (int)st.range(1);
    const band_sys &s = band_of(n, k, k);
    std::vector<double> lo(n), hi(n);
    int status = -1;
    for (auto _ : st)
        status = norva_solve_band(n, k, k, s.ab.data(), s.ldab(), s.b.data(), lo.data(), hi.data(),
                                  mode);
    record(st, std::string(tag) + "/" + std::to_string(n) + "/" + std::to_string(k) + "/", status,
           lo, hi);
}

// Symmetric (BM_pb_*) and unsymmetric (BM_gb_*) shapes share the code; the
// names keep their figures apart.
void BM_pb_mode1(benchmark::State &st) { band_case(st, 1, "BM_pb_mode1"); }
void BM_pb_mode0(benchmark::State &st) { band_case(st, 0, "BM_pb_mode0"); }
void BM_gb_mode1(benchmark::State &st) { band_case(st, 1, "BM_gb_mode1"); }
void BM_gb_mode0(benchmark::State &st) { band_case(st, 0, "BM_gb_mode0"); }

// The 2-D Laplacian on an m x m grid in compressed sparse row form, columns
// ascending in every row; node (r, c) gets number r m + c, or its place in a
// fixed random shuffle of those numbers.
struct csr {
    uint64_t n;
    std::vector<uint64_t> ptr, col;
    std::vector<double> val, b;
};

csr laplacian(int m, bool shuffled) {
    const uint64_t n = (uint64_t)m * m;
    std::vector<uint64_t> num(n);
    std::iota(num.begin(), num.end(), 0);
    if (shuffled) std::shuffle(num.begin(), num.end(), std::mt19937_64(47 + (uint64_t)m));
    std::vector<std::vector<std::pair<uint64_t, double>>> rows(n);
    for (int r = 0; r < m; ++r)
        for (int c = 0; c < m; ++c) {
            auto &row = rows[num[(size_t)r * m + c]];
            row.emplace_back(num[(size_t)r * m + c], 4.0);
            if (r > 0) row.emplace_back(num[(size_t)(r - 1) * m + c], -1.0);
            if (r + 1 < m) row.emplace_back(num[(size_t)(r + 1) * m + c], -1.0);
            if (c > 0) row.emplace_back(num[(size_t)r * m + c - 1], -1.0);
            if (c + 1 < m) row.emplace_back(num[(size_t)r * m + c + 1], -1.0);
        }
    csr a{n, {0}, {}, {}, bench::uniform(n, 53 + (uint64_t)m)};
    for (auto &row : rows) {
        std::sort(row.begin(), row.end());
        for (auto [j, v] : row) {
            a.col.push_back(j);
            a.val.push_back(v);
        }
        a.ptr.push_back(a.col.size());
    }
    return a;
}

const csr &grid_of(int m) {
    static std::map<int, csr> cache;
    auto it = cache.find(m);
    if (it != cache.end()) return it->second;
    return cache.emplace(m, laplacian(m, true)).first->second;
}

// Largest |i - j| over the entries.
uint64_t bandwidth(const csr &a) {
    uint64_t w = 0;
    for (uint64_t i = 0; i < a.n; ++i)
        for (uint64_t e = a.ptr[i]; e < a.ptr[i + 1]; ++e)
            w = std::max(w, a.col[e] > i ? a.col[e] - i : i - a.col[e]);
    return w;
}

void BM_sparse_mode1(benchmark::State &st) {
    const int m = (int)st.range(0);
    const csr &a = grid_of(m);
    std::vector<double> lo(a.n), hi(a.n);
    int status = -1;
    for (auto _ : st)
        status = norva_solve_sparse(a.n, a.ptr.data(), a.col.data(), a.val.data(), a.b.data(),
                                    lo.data(), hi.data(), 1);
    record(st, "BM_sparse_mode1/" + std::to_string(m) + "/", status, lo, hi);
}

cholmod_common chol_common;

void BM_cholmod(benchmark::State &st) {
    const int m = (int)st.range(0);
    const csr &a = grid_of(m);
    // The upper triangle by columns: column j of it is row j of A (A is
    // symmetric) cut at the diagonal.
    size_t nnz = 0;
    for (uint64_t j = 0; j < a.n; ++j)
        for (uint64_t e = a.ptr[j]; e < a.ptr[j + 1]; ++e) nnz += a.col[e] <= j;
    cholmod_sparse *A = cholmod_allocate_sparse(a.n, a.n, nnz, 1, 1, 1, CHOLMOD_REAL, &chol_common);
    cholmod_dense *B = cholmod_allocate_dense(a.n, 1, a.n, CHOLMOD_REAL, &chol_common);
    if (A == nullptr || B == nullptr) {
        st.SkipWithError("cholmod allocation failed");
        return;
    }
    int *p = (int *)A->p, *i = (int *)A->i;
    double *x = (double *)A->x;
    size_t at = 0;
    for (uint64_t j = 0; j < a.n; ++j) {
        p[j] = (int)at;
        for (uint64_t e = a.ptr[j]; e < a.ptr[j + 1]; ++e)
            if (a.col[e] <= j) {
                i[at] = (int)a.col[e];
                x[at++] = a.val[e];
            }
    }
    p[a.n] = (int)at;
    std::copy(a.b.begin(), a.b.end(), (double *)B->x);
    cholmod_dense *X = nullptr;
    bool ok = true;
    for (auto _ : st) {
        if (X != nullptr) cholmod_free_dense(&X, &chol_common);
        cholmod_factor *L = cholmod_analyze(A, &chol_common);
        ok = L != nullptr && cholmod_factorize(A, L, &chol_common) &&
             chol_common.status == CHOLMOD_OK;
        X = ok ? cholmod_solve(CHOLMOD_A, L, B, &chol_common) : nullptr;
        cholmod_free_factor(&L, &chol_common);
    }
    if (!ok || X == nullptr) {
        st.SkipWithError("cholmod failed");
    } else {
        const double *xs = (const double *)X->x;
        peer_x["grid/" + std::to_string(m) + "/"] = std::vector<double>(xs, xs + a.n);
    }
    cholmod_free_dense(&X, &chol_common);
    cholmod_free_dense(&B, &chol_common);
    cholmod_free_sparse(&A, &chol_common);
}

#define CASE(fn, n, k) \
    BENCHMARK(fn)->Args({n, k})->Unit(benchmark::kMillisecond)->UseRealTime()
CASE(BM_dpbsv, 1000000, 1);
CASE(BM_pb_mode1, 1000000, 1);
CASE(BM_pb_mode0, 1000000, 1);
CASE(BM_dpbsv, 1000000, 2);
CASE(BM_pb_mode1, 1000000, 2);
CASE(BM_pb_mode0, 1000000, 2);
CASE(BM_dgbsv, 200000, 3);
CASE(BM_gb_mode1, 200000, 3);
CASE(BM_gb_mode0, 200000, 3);
BENCHMARK(BM_cholmod)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_sparse_mode1)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// "median relative width w; peer solution outside: k (beyond one step: k')",
// or the verdict when unproven.
std::string check(const std::string &key, const std::string &peer) {
    auto it = enclosures.find(key);
    if (it == enclosures.end()) return bench::verdict(key);
    const enclosure &e = it->second;
    auto px = peer_x.find(peer);
    char s[192];
    if (px == peer_x.end() || px->second.size() != e.lo.size()) {
        std::snprintf(s, sizeof s, "proven, median relative width %.3g; no peer solution",
                      bench::median_relative_width(e.lo, e.hi));
        return s;
    }
    int out = 0, far = 0;
    double dist = 0, xmax = 0;
    for (size_t k = 0; k < e.lo.size(); ++k) {
        const double x = px->second[k];
        out += x < e.lo[k] || x > e.hi[k];
        far += x < std::nextafter(e.lo[k], -INFINITY) || x > std::nextafter(e.hi[k], INFINITY);
        dist = std::max(dist, std::max(e.lo[k] - x, x - e.hi[k]));
        xmax = std::max(xmax, std::fabs(x));
    }
    std::snprintf(s, sizeof s,
                  "proven, median relative width %.3g; peer solution outside: %d (beyond one "
                  "step out: %d; largest distance %.2g of max |x|)",
                  bench::median_relative_width(e.lo, e.hi), out, far, dist / xmax);
    return s;
}

void summary_band(const char *peer, const char *tag1, const char *tag0, int n, int k,
                  const char *goal1, const char *goal0) {
    const std::string args = std::to_string(n) + "/" + std::to_string(k) + "/";
    const double g = bench::median_time(std::string("BM_") + peer + "/" + args);
    std::printf("  n=%d, kl=ku=%d: %s %.2f ms\n", n, k, peer, g * 1e3);
    for (auto [tag, mode, goal] : {std::tuple{tag1, 1, goal1}, std::tuple{tag0, 0, goal0}}) {
        const std::string key = std::string(tag) + "/" + args;
        const double t = bench::median_time(key);
        if (g <= 0 || t <= 0) continue;
        std::printf("    mode %d %9.1f ms = %6.1f x %s %-14s %s\n", mode, t * 1e3, t / g, peer, goal,
                    check(key, args).c_str());
    }
}

}  // namespace

int main(int argc, char **argv) {
    cholmod_start(&chol_common);
    const int threads = bench::run(argc, argv, 3);
    std::printf("\nSummary (wall-clock, median of the repetitions, %d threads each; CHOLMOD's "
                "through OpenBLAS)\n",
                threads);
    summary_band("dpbsv", "BM_pb_mode1", "BM_pb_mode0", 1000000, 1, "(goal <= 25)", "(goal <= 60)");
    summary_band("dpbsv", "BM_pb_mode1", "BM_pb_mode0", 1000000, 2, "(goal <= 25)", "(goal <= 60)");
    summary_band("dgbsv", "BM_gb_mode1", "BM_gb_mode0", 200000, 3, "(goal <= 40)", "");
    const int m = 300;
    const csr &a = grid_of(m);
    std::vector<uint64_t> perm(a.n), iperm(a.n);
    uint64_t kl = 0, ku = 0;
    const int r = norva::band::rcm(a.n, a.ptr.data(), a.col.data(), perm.data(), iperm.data(), &kl,
                                   &ku);
    std::printf("  2-D Laplacian, %d x %d grid (n=%llu): bandwidth %llu in the natural order, "
                "%llu in the random order, ",
                m, m, (unsigned long long)a.n, (unsigned long long)bandwidth(laplacian(m, false)),
                (unsigned long long)bandwidth(a));
    if (r == 0)
        std::printf("kl=%llu, ku=%llu after norva::band::rcm\n", (unsigned long long)kl,
                    (unsigned long long)ku);
    else
        std::printf("norva::band::rcm failed\n");
    const double c = bench::median_time("BM_cholmod/300/"),
                 t = bench::median_time("BM_sparse_mode1/300/");
    if (c > 0) std::printf("    CHOLMOD analyze + factorize + solve %.1f ms\n", c * 1e3);
    if (t > 0)
        std::printf("    norva_solve_sparse mode 1 %.1f ms = %.1f x CHOLMOD; %s\n", t * 1e3,
                    c > 0 ? t / c : NAN, check("BM_sparse_mode1/300/", "grid/300/").c_str());
    cholmod_finish(&chol_common);
    return 0;
}
