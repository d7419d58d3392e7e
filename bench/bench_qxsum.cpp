// Exact sums and dot products (qxsum, qxdot) against a plain loop, OpenBLAS
// cblas_ddot (one thread) and MPFR (mpfr_sum, mpfr_dot at precision 53,
// rounding to nearest: like qxsum and qxdot, exact and then rounded once).
// Every benchmark of a group runs on the same two data sets of 10^6 terms
// (described at data_set), and the cost of rounding an accumulator
// (qxsum_round) is measured separately.
//
//   bench_qxsum                       (default --benchmark_min_time=0.2)
//   bench_qxsum --benchmark_repetitions=3   (summary from the medians)
//
// After the usual table, a summary gives ns per term and the speed ratios.
#include <benchmark/benchmark.h>
#include <cblas.h>
#include <mpfr.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "qxsum/qxsum.h"

namespace {

constexpr std::size_t n_terms = 1000000;

// A double with random sign and significand; its exponent is uniform in
// [-40, 40] for 99% of the terms and uniform in [-wide, wide] for the rest.
double mixed(std::mt19937_64 &rng, int wide) {
    // (with wide = 40 every exponent is uniform in [-40, 40])
    std::uniform_int_distribution<int> pick(0, 99), narrow_e(-40, 40), wide_e(-wide, wide);
    const int e = pick(rng) == 0 ? wide_e(rng) : narrow_e(rng);
    const double m = 1.0 + (double)(rng() >> 11) * 0x1p-53;  // [1, 2)
    return (rng() & 1 ? -1.0 : 1.0) * std::ldexp(m, e);
}

struct mpfr_vec {
    std::vector<__mpfr_struct> v;
    std::vector<mpfr_ptr> p;
    explicit mpfr_vec(const std::vector<double> &x) : v(x.size()), p(x.size()) {
        for (std::size_t i = 0; i < x.size(); i++) {
            mpfr_init2(&v[i], 53);
            mpfr_set_d(&v[i], x[i], MPFR_RNDN);  // exact
            p[i] = &v[i];
        }
    }
    ~mpfr_vec() {
        for (auto &e : v) mpfr_clear(&e);
    }
};

// Two data sets of 10^6 terms each, used by every benchmark of a group:
//   set 0: random sign and significand, exponent uniform in [-40, 40];
//   set 1: the same for 99% of the terms, and for 1% an exponent uniform in
//          [-1000, 1000] (sums) or [-500, 500] (each dot factor).
// In set 1 a few huge terms dominate the result, which lets MPFR skip most
// of the work on the others; set 0 makes every term matter.
struct data_set {
    std::vector<double> s, x, y;  // sum terms; dot factors
    mpfr_vec *ms = nullptr, *mx = nullptr, *my = nullptr;
    qxsum_acc acc;                // holds the sum of s
};

struct data {
    data_set set[2];
    std::vector<double> narrow;  // sum terms in [1, 2)
    qxsum_acc acc_narrow;
};

data *d = nullptr;

void make_data() {
    d = new data;
    std::mt19937_64 rng(20240611);
    for (int k = 0; k < 2; k++) {
        data_set &ds = d->set[k];
        ds.s.resize(n_terms);
        ds.x.resize(n_terms);
        ds.y.resize(n_terms);
        for (auto &v : ds.s) v = mixed(rng, k ? 1000 : 40);
        for (auto &v : ds.x) v = mixed(rng, k ? 500 : 40);
        for (auto &v : ds.y) v = mixed(rng, k ? 500 : 40);
        ds.ms = new mpfr_vec(ds.s);
        ds.mx = new mpfr_vec(ds.x);
        ds.my = new mpfr_vec(ds.y);
        qxsum_init(&ds.acc);
        qxsum_add(&ds.acc, ds.s.data(), n_terms);
    }
    d->narrow.resize(n_terms);
    for (auto &v : d->narrow) v = 1.0 + (double)(rng() >> 11) * 0x1p-53;
    qxsum_init(&d->acc_narrow);
    qxsum_add(&d->acc_narrow, d->narrow.data(), n_terms);
}

void per_term(benchmark::State &state) {
    state.counters["time/term"] = benchmark::Counter(
        (double)n_terms, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

double plain_sum(const double *x, std::size_t n) {
    double s = 0;
    for (std::size_t i = 0; i < n; i++) s += x[i];
    return s;
}

double plain_dot(const double *x, const double *y, std::size_t n) {
    double s = 0;
    for (std::size_t i = 0; i < n; i++) s += x[i] * y[i];
    return s;
}

void BM_sum_qxsum(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(qxsum(ds.s.data(), n_terms, 0));
    per_term(state);
}

void BM_sum_plain(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(plain_sum(ds.s.data(), n_terms));
    per_term(state);
}

void BM_sum_mpfr(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    mpfr_t r;
    mpfr_init2(r, 53);
    for (auto _ : state) {
        mpfr_sum(r, ds.ms->p.data(), n_terms, MPFR_RNDN);
        benchmark::ClobberMemory();
    }
    mpfr_clear(r);
    per_term(state);
}

void BM_dot_qxdot(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(qxdot(ds.x.data(), ds.y.data(), n_terms, 0));
    per_term(state);
}

void BM_dot_plain(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(plain_dot(ds.x.data(), ds.y.data(), n_terms));
    per_term(state);
}

void BM_dot_ddot(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    for (auto _ : state)
        benchmark::DoNotOptimize(cblas_ddot((int)n_terms, ds.x.data(), 1, ds.y.data(), 1));
    per_term(state);
}

void BM_dot_mpfr(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    mpfr_t r;
    mpfr_init2(r, 53);
    for (auto _ : state) {
        mpfr_dot(r, ds.mx->p.data(), ds.my->p.data(), n_terms, MPFR_RNDN);
        benchmark::ClobberMemory();
    }
    mpfr_clear(r);
    per_term(state);
}

void BM_round_set(benchmark::State &state) {
    const data_set &ds = d->set[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(qxsum_round(&ds.acc, 0));
}

void BM_round_narrow(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(qxsum_round(&d->acc_narrow, 0));
}

BENCHMARK(BM_sum_qxsum)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sum_plain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sum_mpfr)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dot_qxdot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dot_plain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dot_ddot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dot_mpfr)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_round_set)->Arg(0)->Arg(1);
BENCHMARK(BM_round_narrow);

// Console output as usual, plus the CPU time per iteration of every run,
// for the summary.
class recording_reporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal.
    recording_reporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
    std::map<std::string, double> seconds;  // per iteration, by benchmark name
    std::map<std::string, double> median;
    // With --benchmark_repetitions, the median of the repetitions.
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.error_occurred || r.iterations <= 0) continue;
            const std::string name = r.run_name.str();
            const double t = r.cpu_accumulated_time / (double)r.iterations;
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                median[name] = t;
            else if (r.run_type == Run::RT_Iteration)
                seconds[name] = t;
        }
        for (const auto &m : median) seconds[m.first] = m.second;
        ConsoleReporter::ReportRuns(runs);
    }
};

// Checks that the exact engines agree with MPFR on the benchmark data, and
// shows how far the rounded-to-nearest loops are from the exact results.
bool check_results() {
    bool ok = true;
    mpfr_t r;
    mpfr_init2(r, 53);
    for (int k = 0; k < 2; k++) {
        const data_set &ds = d->set[k];
        mpfr_sum(r, ds.ms->p.data(), n_terms, MPFR_RNDN);
        const double sum_mpfr = mpfr_get_d(r, MPFR_RNDN);
        mpfr_dot(r, ds.mx->p.data(), ds.my->p.data(), n_terms, MPFR_RNDN);
        const double dot_mpfr = mpfr_get_d(r, MPFR_RNDN);
        const double sum_qx = qxsum(ds.s.data(), n_terms, 0);
        const double dot_qx = qxdot(ds.x.data(), ds.y.data(), n_terms, 0);
        const bool same_sum = std::memcmp(&sum_qx, &sum_mpfr, 8) == 0;
        const bool same_dot = std::memcmp(&dot_qx, &dot_mpfr, 8) == 0;
        ok = ok && same_sum && same_dot;
        std::printf("set %d  sum: qxsum %a, mpfr_sum %a: %s\n", k, sum_qx, sum_mpfr,
                    same_sum ? "identical" : "DIFFERENT");
        std::printf("       dot: qxdot %a, mpfr_dot %a: %s\n", dot_qx, dot_mpfr,
                    same_dot ? "identical" : "DIFFERENT");
        const double ps = plain_sum(ds.s.data(), n_terms);
        const double pd = plain_dot(ds.x.data(), ds.y.data(), n_terms);
        const double bd = cblas_ddot((int)n_terms, ds.x.data(), 1, ds.y.data(), 1);
        std::printf("       relative error of the plain sum %.1e, plain dot %.1e, cblas_ddot %.1e\n",
                    std::fabs((ps - sum_qx) / sum_qx), std::fabs((pd - dot_qx) / dot_qx),
                    std::fabs((bd - dot_qx) / dot_qx));
    }
    mpfr_clear(r);
    std::printf("\n");
    return ok;
}

void summary(const std::map<std::string, double> &t, bool medians) {
    auto get = [&](const std::string &name) {
        auto it = t.find(name);
        return it == t.end() ? NAN : it->second * 1e9;  // ns per iteration
    };
    std::printf("\nSummary (CPU time%s, one thread, ns per term over 10^6 terms)\n", medians ? ", median of the repetitions" : "");
    std::printf("  %-24s %10s %10s\n", "", "set 0", "set 1");
    const char *rows[][2] = {{"BM_sum_qxsum", "qxsum (goal <= 1.0)"},
                             {"BM_sum_plain", "plain loop sum"},
                             {"BM_sum_mpfr", "mpfr_sum"},
                             {"BM_dot_qxdot", "qxdot (goal <= 2.5)"},
                             {"BM_dot_plain", "plain loop dot"},
                             {"BM_dot_ddot", "cblas_ddot"},
                             {"BM_dot_mpfr", "mpfr_dot"}};
    for (auto &row : rows)
        std::printf("  %-24s %10.3f %10.3f\n", row[1],
                    get(std::string(row[0]) + "/0") / (double)n_terms,
                    get(std::string(row[0]) + "/1") / (double)n_terms);
    for (int k = 0; k < 2; k++) {
        const std::string a = "/" + std::to_string(k);
        const double qs = get("BM_sum_qxsum" + a), ms = get("BM_sum_mpfr" + a),
                     ps = get("BM_sum_plain" + a);
        const double qd = get("BM_dot_qxdot" + a), md = get("BM_dot_mpfr" + a),
                     pd = get("BM_dot_plain" + a), bd = get("BM_dot_ddot" + a);
        std::printf("  set %d: qxsum %.1fx faster than mpfr_sum (goal >= 20x), %.2fx the time of "
                    "the plain loop\n",
                    k, ms / qs, qs / ps);
        std::printf("         qxdot %.1fx faster than mpfr_dot (goal >= 100x), %.2fx the time of "
                    "the plain loop, %.1fx that of cblas_ddot\n",
                    md / qd, qd / pd, qd / bd);
    }
    std::printf("  qxsum_round: %.1f ns (set 0 sum), %.1f ns (set 1 sum), %.1f ns (narrow "
                "total); goal well under 1000 ns\n",
                get("BM_round_set/0"), get("BM_round_set/1"), get("BM_round_narrow"));
}

}  // namespace

int main(int argc, char **argv) {
    openblas_set_num_threads(1);
    std::vector<char *> args(argv, argv + argc);
    bool has_min_time = false;
    for (int i = 1; i < argc; i++)
        if (std::strncmp(argv[i], "--benchmark_min_time", 20) == 0) has_min_time = true;
    static char default_min_time[] = "--benchmark_min_time=0.2";
    if (!has_min_time) args.push_back(default_min_time);
    int nargs = (int)args.size();
    benchmark::Initialize(&nargs, args.data());
    if (benchmark::ReportUnrecognizedArguments(nargs, args.data())) return 1;

    std::printf("Data, 10^6 terms of random sign and significand in each set:\n"
                "  set 0: exponents uniform in [-40, 40];\n"
                "  set 1: 99%% as set 0, 1%% with exponents uniform in [-1000, 1000] (sum)\n"
                "         or [-500, 500] (each dot factor).\n"
                "  narrow accumulator (qxsum_round only): 10^6 terms in [1, 2).\n\n");
    make_data();
    const bool ok = check_results();
    recording_reporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    summary(rep.seconds, !rep.median.empty());
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
