// Enclosures of all eigenvalues of random symmetric matrices (entries
// uniform in (-1, 1), the lower triangle mirrored into the upper one),
// against unverified LAPACK and against Arb:
//   - n = 500: LAPACKE dsyev with eigenvectors ('V', on a copy, workspace
//     allocated once); norva_eig_sym verifying dsyev's own eigenpairs (its
//     column-major vectors rearranged into the row-major V outside the
//     timing), mode 1 with a cblas_dgemm callback (goal: at most 2 x dsyev)
//     and mode 0 with the callback (at most 10 x); without V and d (the
//     library's Jacobi method), mode 1 with the callback (at most 40 x);
//   - n = 100: acb_mat_approx_eig_qr followed by acb_mat_eig_multiple at 53
//     bits against mode 0 without V and d, with the callback (goal: at least
//     10 x faster, enclosures no wider); mode 1 for its widths.
// Widths: the median over the eigenvalues of the absolute width hi - lo,
// and the median relative width; for Arb the bounds of the real part of
// each complex ball (whose imaginary part is checked to contain 0).  Both
// sides sorted, each norva enclosure must meet the Arb enclosure of the
// same place, and each dsyev eigenvalue its enclosure at n = 500.
// Two threads for the library, OpenBLAS and FLINT; the summary uses the
// median of the repetitions (3 by default).
//
//   bench_eig [--threads=N] [--benchmark_repetitions=R]
#include <acb_mat.h>
#include <lapacke.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench_arb.h"
#include "bench_util.h"
#include "norva.h"

namespace {

const std::vector<double> &sym_of(int n) {
    static std::map<int, std::vector<double>> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    std::vector<double> a = bench::uniform((size_t)n * n, 29 + (uint64_t)n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) a[(size_t)j * n + i] = a[(size_t)i * n + j];
    return cache.emplace(n, std::move(a)).first->second;
}

// dsyev ('V', lower triangle) on a copy of A (symmetric, so its row-major
// array is also its column-major one): z holds the eigenvectors column-major
// (vector j from z[j n]), w the eigenvalues ascending.
struct dsyev_run {
    int n;
    std::vector<double> z, w, work;
    explicit dsyev_run(int n_) : n(n_), z((size_t)n_ * n_), w(n_) {
        double q = 0;
        LAPACKE_dsyev_work(LAPACK_COL_MAJOR, 'V', 'L', n, z.data(), n, w.data(), &q, -1);
        work.resize((size_t)q);
    }
    lapack_int operator()(const std::vector<double> &a) {
        std::memcpy(z.data(), a.data(), sizeof(double) * a.size());
        return LAPACKE_dsyev_work(LAPACK_COL_MAJOR, 'V', 'L', n, z.data(), n, w.data(),
                                  work.data(), (lapack_int)work.size());
    }
};

// dsyev's eigenpairs as norva takes them: V row-major with eigenvector j as
// column j, V(i, j) = z[j n + i]; d = w.
struct eigpairs {
    std::vector<double> v, d;
};

const eigpairs &pairs_of(int n) {
    static std::map<int, eigpairs> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    dsyev_run r(n);
    eigpairs p{std::vector<double>((size_t)n * n), {}};
    if (r(sym_of(n)) == 0) {
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) p.v[(size_t)i * n + j] = r.z[(size_t)j * n + i];
        p.d = r.w;
    }
    return cache.emplace(n, std::move(p)).first->second;
}

// Enclosures of the last call of each proven case (Arb's: real parts,
// sorted), by the key of bench::statuses().
struct enclosure {
    std::vector<double> lo, hi;
};
std::map<std::string, enclosure> enclosures;

void BM_dsyev(benchmark::State &st) {
    const int n = (int)st.range(0);
    const std::vector<double> &a = sym_of(n);
    dsyev_run r(n);
    lapack_int info = 0;
    for (auto _ : st) info = r(a);
    if (info != 0) st.SkipWithError("dsyev failed");
}

void eig_case(benchmark::State &st, int mode, bool given, const char *tag) {
    const int n = (int)st.range(0);
    const std::vector<double> &a = sym_of(n);
    const eigpairs *p = given ? &pairs_of(n) : nullptr;
    if (p != nullptr && p->d.empty()) {
        st.SkipWithError("dsyev failed");
        return;
    }
    std::vector<double> lo(n), hi(n);
    int status = -1;
    for (auto _ : st)
        status = norva_eig_sym(n, a.data(), n, p ? p->v.data() : nullptr, n,
                               p ? p->d.data() : nullptr, lo.data(), hi.data(), mode,
                               bench::blas_gemm, nullptr);
    st.counters["status"] = status;
    const std::string key = std::string(tag) + "/" + std::to_string(n) + "/";
    bench::statuses()[key] = status;
    if (status == 0) enclosures[key] = {lo, hi};
}

void BM_vd_mode1_blas(benchmark::State &st) { eig_case(st, 1, true, "BM_vd_mode1_blas"); }
void BM_vd_mode0_blas(benchmark::State &st) { eig_case(st, 0, true, "BM_vd_mode0_blas"); }
void BM_jacobi_mode1_blas(benchmark::State &st) { eig_case(st, 1, false, "BM_jacobi_mode1_blas"); }
void BM_jacobi_mode0_blas(benchmark::State &st) { eig_case(st, 0, false, "BM_jacobi_mode0_blas"); }

// What became of the Arb run: approx_eig_qr converged, the imaginary parts
// that do not contain 0, the largest bound on |Im|.
struct arb_outcome {
    int qr = 0, off_axis = 0;
    double max_imag = 0;
};
arb_outcome arb_eig_outcome;

void BM_arb_eig(benchmark::State &st) {
    const int n = (int)st.range(0);
    arb_mat_t Ar;
    arb_mat_init(Ar, n, n);
    bench::arb_mat_set_doubles(Ar, sym_of(n).data());
    acb_mat_t A, R;
    acb_mat_init(A, n, n);
    acb_mat_init(R, n, n);
    acb_mat_set_arb_mat(A, Ar);
    acb_ptr E = _acb_vec_init(n), Ea = _acb_vec_init(n);
    int qr = 0, ok = 0;
    for (auto _ : st) {
        qr = acb_mat_approx_eig_qr(Ea, nullptr, R, A, nullptr, 0, 53);
        ok = acb_mat_eig_multiple(E, A, Ea, R, 53);
    }
    st.counters["proved"] = ok;
    const std::string key = "BM_arb_eig/" + std::to_string(n) + "/";
    bench::statuses()[key] = ok ? 0 : 1;
    arb_eig_outcome = arb_outcome{qr, 0, 0};
    if (ok) {
        enclosure e;
        arf_t t;
        arf_init(t);
        for (int i = 0; i < n; ++i) {
            arb_get_lbound_arf(t, acb_realref(E + i), 64);
            e.lo.push_back(arf_get_d(t, ARF_RND_FLOOR));
            arb_get_ubound_arf(t, acb_realref(E + i), 64);
            e.hi.push_back(arf_get_d(t, ARF_RND_CEIL));
            if (!arb_contains_zero(acb_imagref(E + i))) ++arb_eig_outcome.off_axis;
            arb_get_abs_ubound_arf(t, acb_imagref(E + i), 64);
            arb_eig_outcome.max_imag =
                std::max(arb_eig_outcome.max_imag, arf_get_d(t, ARF_RND_CEIL));
        }
        arf_clear(t);
        // The k-th smallest lower (upper) bound bounds the k-th smallest
        // eigenvalue from below (above), whatever order Arb returns.
        std::sort(e.lo.begin(), e.lo.end());
        std::sort(e.hi.begin(), e.hi.end());
        enclosures[key] = e;
    }
    _acb_vec_clear(E, n);
    _acb_vec_clear(Ea, n);
    acb_mat_clear(A);
    acb_mat_clear(R);
    arb_mat_clear(Ar);
}

#define CASE(fn, n) BENCHMARK(fn)->Arg(n)->Unit(benchmark::kMillisecond)->UseRealTime()
CASE(BM_dsyev, 500);
CASE(BM_vd_mode1_blas, 500);
CASE(BM_vd_mode0_blas, 500)->Iterations(1);
CASE(BM_jacobi_mode1_blas, 500)->Iterations(1);
CASE(BM_dsyev, 100);
CASE(BM_jacobi_mode0_blas, 100);
CASE(BM_jacobi_mode1_blas, 100);
CASE(BM_arb_eig, 100)->Iterations(1);

double median_width(const enclosure &e) {
    std::vector<double> w;
    for (size_t i = 0; i < e.lo.size(); ++i) w.push_back(e.hi[i] - e.lo[i]);
    std::nth_element(w.begin(), w.begin() + (long)w.size() / 2, w.end());
    return w[w.size() / 2];
}

// "median width a (absolute), r (relative)", or the verdict when unproven.
std::string widths_of(const std::string &key) {
    auto it = enclosures.find(key);
    if (it == enclosures.end()) return bench::verdict(key);
    char s[96];
    std::snprintf(s, sizeof s, "median width %.3g (absolute), %.3g (relative)",
                  median_width(it->second),
                  bench::median_relative_width(it->second.lo, it->second.hi));
    return s;
}

// Places i where [lo_i, hi_i] of key misses [lo_i, hi_i] of other; -1 when
// either is missing.
int misses(const std::string &key, const enclosure &other) {
    auto it = enclosures.find(key);
    if (it == enclosures.end() || other.lo.size() != it->second.lo.size()) return -1;
    int k = 0;
    for (size_t i = 0; i < other.lo.size(); ++i)
        k += it->second.hi[i] < other.lo[i] || other.hi[i] < it->second.lo[i];
    return k;
}

}  // namespace

int main(int argc, char **argv) {
    const int threads = bench::run(argc, argv, 3, bench::arb_threads);
    std::printf("\nSummary (wall-clock, median of the repetitions, %d threads each)\n", threads);
    const double g = bench::median_time("BM_dsyev/500/");
    const std::vector<double> &w500 = pairs_of(500).d;
    std::printf("  n=500: dsyev (values and vectors) %.1f ms\n", g * 1e3);
    for (auto [tag, what, goal] :
         {std::tuple{"BM_vd_mode1_blas", "dsyev's V, d, mode 1 + cblas", "(goal <= 2)"},
          std::tuple{"BM_vd_mode0_blas", "dsyev's V, d, mode 0 + cblas", "(goal <= 10)"},
          std::tuple{"BM_jacobi_mode1_blas", "Jacobi, mode 1 + cblas", "(goal <= 40)"}}) {
        const std::string key = std::string(tag) + "/500/";
        const double t = bench::median_time(key);
        if (g <= 0 || t <= 0) continue;
        std::printf("    %-29s %8.1f ms = %6.1f x dsyev %-13s %s; %s; dsyev eigenvalues "
                    "outside: %d\n",
                    what, t * 1e3, t / g, goal, bench::verdict(key), widths_of(key).c_str(),
                    misses(key, enclosure{w500, w500}));
    }
    const std::string arb_key = "BM_arb_eig/100/";
    const double arb = bench::median_time(arb_key), m0 = bench::median_time("BM_jacobi_mode0_blas/100/"),
                 m1 = bench::median_time("BM_jacobi_mode1_blas/100/"),
                 g100 = bench::median_time("BM_dsyev/100/");
    if (arb > 0) {
        std::printf("  n=100: acb_mat_approx_eig_qr + acb_mat_eig_multiple, 53 bits: %.1f ms, %s "
                    "(approx_eig_qr %s)",
                    arb * 1e3, bench::status_of(arb_key) == 0 ? "succeeded" : "FAILED",
                    arb_eig_outcome.qr ? "converged" : "did NOT converge");
        if (bench::status_of(arb_key) == 0)
            std::printf("; %s; imaginary parts not containing 0: %d, |Im| <= %.3g",
                        widths_of(arb_key).c_str(), arb_eig_outcome.off_axis,
                        arb_eig_outcome.max_imag);
        std::printf("\n");
    }
    for (auto [tag, mode, t, goal] :
         {std::tuple{"BM_jacobi_mode0_blas/100/", 0, m0, " (goal >= 10, no wider)"},
          std::tuple{"BM_jacobi_mode1_blas/100/", 1, m1, ""}}) {
        if (t <= 0) continue;
        const auto it = enclosures.find(arb_key);
        std::printf("    Jacobi, mode %d + cblas: %.1f ms (%.1f x dsyev), %.1f x faster than Arb"
                    "%s; %s; %s; places that miss Arb's enclosure: %d\n",
                    mode, t * 1e3, g100 > 0 ? t / g100 : NAN, arb / t, goal,
                    bench::verdict(tag), widths_of(tag).c_str(),
                    it == enclosures.end() ? -1 : misses(tag, it->second));
    }
    return 0;
}
