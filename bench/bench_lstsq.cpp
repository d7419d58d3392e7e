// Least squares (m = 2000, n = 500) and minimum norm (m = 500, n = 2000),
// entries of A and b uniform in (-1, 1), one right-hand side, against
// LAPACKE_dgels on the same data:
//   - mode 1 with a cblas_dgemm callback (goal: at most 50 x dgels);
//   - mode 0 with the same callback.
// dgels takes the faster of its two routes on each shape, both through a
// QR factorization (its LQ route, on the other storage, was slower here):
// m < n on the row-major array read column-major as A^T, with trans = 'T',
// so nothing is transposed; m >= n through LAPACKE's row-major interface,
// which transposes A into a column-major copy (counted in its time).  Both
// sides copy their input first (dgels overwrites it).
// Two threads for the library and OpenBLAS; the summary uses the median of
// the repetitions (3 by default) and compares the dgels solution with the
// enclosure.
//
//   bench_lstsq [--threads=N] [--benchmark_repetitions=R]
#include <lapacke.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_util.h"
#include "norva.h"

namespace {

struct problem {
    int m, n;
    std::vector<double> a, b;
};

const problem &problem_of(int m, int n) {
    static std::map<std::pair<int, int>, problem> cache;
    const auto key = std::make_pair(m, n);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    problem p{m, n, bench::uniform((size_t)m * n, 11 + (uint64_t)m),
              bench::uniform((size_t)m, 13 + (uint64_t)n)};
    return cache.emplace(key, std::move(p)).first->second;
}

std::string key_of(const char *tag, const problem &p) {
    return std::string(tag) + "/" + std::to_string(p.m) + "/" + std::to_string(p.n) + "/";
}

std::map<std::string, std::vector<double>> x_lapack, x_lo, x_hi;

void BM_dgels(benchmark::State &st) {
    const problem &p = problem_of((int)st.range(0), (int)st.range(1));
    const int big = std::max(p.m, p.n);
    std::vector<double> a(p.a.size()), b(big);
    lapack_int info = 0;
    for (auto _ : st) {
        std::memcpy(a.data(), p.a.data(), sizeof(double) * a.size());
        std::memcpy(b.data(), p.b.data(), sizeof(double) * p.m);
        info = p.m >= p.n
                   ? LAPACKE_dgels(LAPACK_ROW_MAJOR, 'N', p.m, p.n, 1, a.data(), p.n, b.data(), 1)
                   : LAPACKE_dgels(LAPACK_COL_MAJOR, 'T', p.n, p.m, 1, a.data(), p.n, b.data(), big);
    }
    if (info != 0) st.SkipWithError("dgels failed");
    x_lapack[key_of("", p)].assign(b.begin(), b.begin() + p.n);
}

void lstsq_case(benchmark::State &st, int mode, const char *tag) {
    const problem &p = problem_of((int)st.range(0), (int)st.range(1));
    std::vector<double> lo(p.n), hi(p.n);
    int status = -1;
    for (auto _ : st)
        status = norva_lstsq(p.m, p.n, 1, p.a.data(), p.n, p.b.data(), 1, 0.0, nullptr, 0,
                             lo.data(), hi.data(), 1, mode, bench::blas_gemm, nullptr);
    st.counters["status"] = status;
    const std::string key = key_of(tag, p);
    bench::statuses()[key] = status;
    if (status == 0) bench::widths()[key] = bench::median_relative_width(lo, hi);
    x_lo[key] = lo;
    x_hi[key] = hi;
}

void BM_lstsq_mode1(benchmark::State &st) { lstsq_case(st, 1, "BM_lstsq_mode1"); }
void BM_lstsq_mode0(benchmark::State &st) { lstsq_case(st, 0, "BM_lstsq_mode0"); }

#define CASE(fn, m, n) BENCHMARK(fn)->Args({m, n})->Unit(benchmark::kMillisecond)->UseRealTime()
CASE(BM_dgels, 2000, 500);
CASE(BM_lstsq_mode1, 2000, 500)->Iterations(1);
CASE(BM_lstsq_mode0, 2000, 500)->Iterations(1);
CASE(BM_dgels, 500, 2000);
CASE(BM_lstsq_mode1, 500, 2000)->Iterations(1);
CASE(BM_lstsq_mode0, 500, 2000)->Iterations(1);

// Largest distance of the dgels solution outside the enclosure, relative to
// its largest component (0 when every component lies inside).
double outside(const std::vector<double> &x, const std::vector<double> &lo,
               const std::vector<double> &hi) {
    double d = 0, big = 0;
    for (size_t i = 0; i < x.size() && i < lo.size(); ++i) {
        d = std::max(d, std::max(lo[i] - x[i], x[i] - hi[i]));
        big = std::max(big, std::fabs(x[i]));
    }
    return d / big;
}

}  // namespace

int main(int argc, char **argv) {
    const int threads = bench::run(argc, argv, 3);
    std::printf("\nSummary (wall-clock, median of the repetitions, %d threads each, cblas_dgemm "
                "callback)\n", threads);
    for (auto [m, n] : {std::pair{2000, 500}, std::pair{500, 2000}}) {
        const std::string shape = "/" + std::to_string(m) + "/" + std::to_string(n) + "/";
        const double g = bench::median_time("BM_dgels" + shape);
        for (auto [tag, goal] : {std::pair{"BM_lstsq_mode1", "(goal <= 50)"},
                                 std::pair{"BM_lstsq_mode0", ""}}) {
            const std::string key = tag + shape;
            const double t = bench::median_time(key);
            if (g <= 0 || t <= 0) continue;
            std::printf("  m=%d n=%d: mode %c %8.1f ms = %6.1f x dgels (%.1f ms) %-13s %s; "
                        "median relative width %.3g; dgels solution outside by %.2g\n",
                        m, n, tag[13], t * 1e3, t / g, g * 1e3, goal, bench::verdict(key),
                        bench::width_of(key), outside(x_lapack[shape], x_lo[key], x_hi[key]));
        }
    }
    return 0;
}
