// Enclosure width against condition number, per mode, for the manual's
// figure (docs/figures/make_figures.py reads the JSON of this program):
//   - integer-scaled Hilbert matrices H_ij = L / (i + j + 1), L = lcm(1, ...,
//     2n - 1), n = 2 .. 16, with b = H x formed exactly for x_i = (-1)^i
//     (i + 1): every proven enclosure is checked to contain x (a miss is an
//     error of the run); the condition number is kappa_inf from the closed
//     form of the inverse;
//   - random n x n matrices U diag(s) V^T (U, V orthogonal factors of
//     Gaussian matrices, s geometric from 1 down to 1/kappa), kappa =
//     10^1 .. 10^16, b = fl(A 1).  The stored matrix is the rounded
//     product, so its condition number is kappa only approximately for
//     kappa near 1/u.
// Each case calls norva_solve once in mode 0, 1 and 2 (built-in product)
// and reports the counters status, kappa and, when proven, width: the
// median over the components of (hi - lo) / |(lo + hi) / 2|.
//
//   bench_widths [--order=N] [--benchmark_format=json --benchmark_out=FILE]
#include <lapacke.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "norva.h"

namespace {

bool any_error = false;

struct problem {
    int n = 0;
    std::vector<double> a, b, x;  // x: the exact solution, when known
    double kappa = 0;
};

long long gcd(long long a, long long b) {
    while (b != 0) {
        const long long t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// The integer-scaled Hilbert system of order n; n = 0 when b is not exact.
problem hilbert(int n) {
    problem p;
    long long l = 1;
    for (long long k = 1; k <= 2LL * n - 1; ++k) l = l / gcd(l, k) * k;
    p.a.resize((size_t)n * n);
    p.b.resize((size_t)n);
    p.x.resize((size_t)n);
    for (int i = 0; i < n; ++i) p.x[(size_t)i] = (i % 2 ? -1.0 : 1.0) * (i + 1);
    double norm_h = 0;
    for (int i = 0; i < n; ++i) {
        __int128 bi = 0;
        double row = 0;
        for (int j = 0; j < n; ++j) {
            const long long hij = l / (i + j + 1);
            p.a[(size_t)i * n + j] = (double)hij;
            bi += (__int128)hij * (long long)p.x[(size_t)j];
            row += 1.0 / (i + j + 1);
        }
        const __int128 mag = bi < 0 ? -bi : bi;
        if (mag > ((__int128)1 << 53)) return problem{};
        p.b[(size_t)i] = (double)(long long)bi;
        norm_h = std::max(norm_h, row);
    }
    // (H^-1)_ij = (-1)^(i+j) (i+j-1) C(n+i-1, n-j) C(n+j-1, n-i) C(i+j-2, i-1)^2,
    // 1-based, for the unscaled H; the scaling by L cancels in kappa.
    auto binom = [](int m, int k) {
        long double r = 1;
        for (int t = 1; t <= k; ++t) r = r * (m - k + t) / t;
        return r;
    };
    long double norm_inv = 0;
    for (int i = 1; i <= n; ++i) {
        long double row = 0;
        for (int j = 1; j <= n; ++j) {
            const long double c = binom(i + j - 2, i - 1);
            row += (i + j - 1) * binom(n + i - 1, n - j) * binom(n + j - 1, n - i) * c * c;
        }
        norm_inv = std::max(norm_inv, row);
    }
    p.n = n;
    p.kappa = (double)(norm_h * norm_inv);
    return p;
}

// An orthogonal n x n matrix: the Q factor of a Gaussian matrix (row-major).
std::vector<double> orthogonal(int n, std::mt19937_64 &g) {
    std::normal_distribution<double> gauss;
    std::vector<double> q((size_t)n * n), tau((size_t)n);
    for (auto &v : q) v = gauss(g);
    LAPACKE_dgeqrf(LAPACK_ROW_MAJOR, n, n, q.data(), n, tau.data());
    LAPACKE_dorgqr(LAPACK_ROW_MAJOR, n, n, n, q.data(), n, tau.data());
    return q;
}

problem random_with(int n, int log10_kappa) {
    std::mt19937_64 g(1000 + (uint64_t)log10_kappa);
    const std::vector<double> u = orthogonal(n, g), v = orthogonal(n, g);
    std::vector<double> us((size_t)n * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double s = std::pow(10.0, -(double)log10_kappa * j / (n - 1));
            us[(size_t)i * n + j] = u[(size_t)i * n + j] * s;
        }
    problem p;
    p.n = n;
    p.kappa = std::pow(10.0, log10_kappa);
    p.a.resize((size_t)n * n);
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, n, n, n, 1.0, us.data(), n, v.data(), n,
                0.0, p.a.data(), n);
    p.b.assign((size_t)n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) p.b[(size_t)i] += p.a[(size_t)i * n + j];
    return p;
}

void run_case(benchmark::State &st, const problem &p, int mode) {
    const auto n = (size_t)p.n;
    std::vector<double> lo(n), hi(n);
    int32_t status = -1;
    for (auto _ : st)
        status = norva_solve(n, p.a.data(), n, p.b.data(), nullptr, 0, lo.data(), hi.data(), mode,
                             nullptr, nullptr);
    st.counters["status"] = status;
    st.counters["kappa"] = p.kappa;
    st.counters["n"] = (double)p.n;
    st.counters["mode"] = mode;
    if (status != 0) return;
    st.counters["width"] = bench::median_relative_width(lo, hi);
    for (size_t i = 0; i < p.x.size(); ++i)
        if (!(lo[i] <= p.x[i] && p.x[i] <= hi[i])) {
            any_error = true;
            st.SkipWithError(("enclosure " + std::to_string(i) + " misses the exact solution").c_str());
            return;
        }
}

}  // namespace

int main(int argc, char **argv) {
    int order = 100;
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--order=", 8) == 0)
            order = std::max(2, std::atoi(argv[i] + 8));
        else
            rest.push_back(argv[i]);
    }
    static std::vector<problem> problems;  // outlive the registration
    problems.reserve(64);
    for (int n = 2; n <= 16; ++n) {
        problem p = hilbert(n);
        if (p.n == 0) break;
        problems.push_back(std::move(p));
        for (int mode = 0; mode <= 2; ++mode) {
            const problem *q = &problems.back();
            benchmark::RegisterBenchmark(
                ("hilbert/n=" + std::to_string(n) + "/mode" + std::to_string(mode)).c_str(),
                [q, mode](benchmark::State &st) { run_case(st, *q, mode); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (int e = 1; e <= 16; ++e) {
        problems.push_back(random_with(order, e));
        for (int mode = 0; mode <= 2; ++mode) {
            const problem *q = &problems.back();
            benchmark::RegisterBenchmark(("random/n=" + std::to_string(order) + "/kappa=1e" +
                                          std::to_string(e) + "/mode" + std::to_string(mode))
                                             .c_str(),
                                         [q, mode](benchmark::State &st) { run_case(st, *q, mode); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    bench::run((int)rest.size(), rest.data(), 1);
    if (any_error) std::printf("\nERROR: a proven enclosure misses the exact solution\n");
    return any_error ? 1 : 0;
}
