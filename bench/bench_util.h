// Shared pieces of the solver benchmarks: the cblas_dgemm callback, the
// random dense systems, the thread setting of both sides, a reporter that
// keeps the wall-clock time of every repetition, the median relative width
// of an enclosure and the proof status of each verified case.
#ifndef NORVA_BENCH_UTIL_H
#define NORVA_BENCH_UTIL_H

#include <benchmark/benchmark.h>
#include <cblas.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" void openblas_set_num_threads(int);

namespace bench {

// The product callback: C = A B by OpenBLAS, all row-major.
inline void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
                      const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}

// Entries uniform in (-1, 1) from a fixed seed.
inline std::vector<double> uniform(size_t count, uint64_t seed) {
    std::mt19937_64 g(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<double> v(count);
    for (auto &x : v) x = u(g);
    return v;
}

// A random n x n system with nrhs right-hand sides (A, then B, from one
// generator seeded by n), built once per size.
struct sys {
    int n, nrhs;
    std::vector<double> a, b;
};

inline const sys &system_of(int n, int nrhs) {
    static std::map<std::pair<int, int>, sys> cache;
    const auto key = std::make_pair(n, nrhs);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    std::vector<double> ab = uniform((size_t)n * n + (size_t)n * nrhs, 7 + (uint64_t)n);
    sys s{n, nrhs, std::vector<double>(ab.begin(), ab.begin() + (long)n * n),
          std::vector<double>(ab.begin() + (long)n * n, ab.end())};
    return cache.emplace(key, std::move(s)).first->second;
}

// Wall-clock seconds per iteration of every repetition, by benchmark name.
inline std::map<std::string, std::vector<double>> &times() {
    static std::map<std::string, std::vector<double>> t;
    return t;
}

// Median relative width (hi - lo) / |midpoint| over the components.
inline double median_relative_width(const std::vector<double> &lo, const std::vector<double> &hi) {
    std::vector<double> w;
    for (size_t i = 0; i < lo.size(); ++i) {
        const double mid = 0.5 * (lo[i] + hi[i]);
        w.push_back((hi[i] - lo[i]) / std::fabs(mid));
    }
    std::nth_element(w.begin(), w.begin() + (long)w.size() / 2, w.end());
    return w[w.size() / 2];
}

// Outcome of the last call of each verified case, by a key of the caller's
// choice: the status, and the median relative width when it is proven.
inline std::map<std::string, int> &statuses() {
    static std::map<std::string, int> s;
    return s;
}
inline std::map<std::string, double> &widths() {
    static std::map<std::string, double> w;
    return w;
}

class recording_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times()[r.benchmark_name()].push_back(r.GetAdjustedRealTime() / 1e3);
        ConsoleReporter::ReportRuns(runs);
    }
};

// Median over the repetitions of the first benchmark whose name starts with
// prefix; 0 when none ran.
inline double median_time(const std::string &prefix) {
    for (auto [k, v] : times())
        if (k.rfind(prefix, 0) == 0) {
            std::sort(v.begin(), v.end());
            const size_t h = v.size() / 2;
            return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
        }
    return 0;
}

template <class M>
double first_of(const M &m, const std::string &prefix, double none) {
    for (const auto &[k, v] : m)
        if (k.rfind(prefix, 0) == 0) return v;
    return none;
}
inline double width_of(const std::string &prefix) { return first_of(widths(), prefix, NAN); }
inline int status_of(const std::string &prefix) { return (int)first_of(statuses(), prefix, -2); }

// "proven", or what the status says instead.
inline const char *verdict(const std::string &prefix) {
    switch (status_of(prefix)) {
    case 0: return "proven";
    case 1: return "NOT proven (status 1)";
    case -1: return "INVALID (status -1)";
    default: return "not run";
    }
}

// Runs the registered benchmarks with the same number of threads for the
// library (OpenMP) and OpenBLAS, --threads=N (default 2), and
// --benchmark_repetitions=R (default `reps`, interleaved at random); `also`, if given, receives
// the thread count first (the peer library's own setting).  Returns the
// thread count.
inline int run(int argc, char **argv, int reps, void (*also)(int) = nullptr) {
    int threads = 2;
    std::vector<char *> args;
    bool reps_given = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            threads = std::max(1, std::atoi(argv[i] + 10));
            continue;
        }
        if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) reps_given = true;
        args.push_back(argv[i]);
    }
    static std::string rep_arg;
    rep_arg = "--benchmark_repetitions=" + std::to_string(reps);
    if (!reps_given) args.push_back(rep_arg.data());
    // Repetitions of the different cases in random order, so that a burst of
    // other load on the machine falls on both sides of a ratio alike.
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    if (reps > 1 || reps_given) args.push_back(interleave);
    int nargs = (int)args.size();
    omp_set_num_threads(threads);
    openblas_set_num_threads(threads);
    if (also != nullptr) also(threads);
    std::printf("threads: %d for the library, OpenBLAS%s\n", threads,
                also != nullptr ? " and the peer" : "");
    benchmark::Initialize(&nargs, args.data());
    recording_reporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    return threads;
}

}  // namespace bench

#endif
