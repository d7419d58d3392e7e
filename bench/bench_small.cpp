// Verified solves of small dense systems against LAPACK and Arb, as ratios
// to peers timed in the same run (one thread unless stated; the summary
// takes the best time of the repetitions of each case):
//   - for each order n (default 2, 3, 5, 10, 20, 50, 100), the system of
//     bench::system_of (entries uniform in (-1, 1), fixed seed) with n added
//     to the diagonal: the time per call of norva_solve in modes 0 and 1
//     (built-in product), of LAPACKE_dgesv on a copy of the matrix (in its
//     own column-major layout, built once, so that the time is the solve
//     alone) and of arb_mat_solve at 53 bits (the balls are the exact
//     doubles); the median relative width of norva's enclosure,
//     (hi - lo) / |mid|, and of Arb's balls, 2 rad / |mid|.  Goals: n = 3,
//     modes 0 and 1, at most 2 us; n = 10 mode 1 at most 5 us, mode 0 at
//     most 8 us; for every n, mode 0 no slower than arb_mat_solve and its
//     median width no wider; n = 50 mode 0 at most 20 x dgesv;
//   - a batch of 100,000 systems of order 4 (same recipe, one generator)
//     through norva_solve_batch on two threads, modes 1 and 0 (goals: at
//     most 0.15 s and 0.25 s), against a loop of dgesv on the same data and
//     a loop of norva_solve, both on one thread.
// Checks (a failure is an ERROR, and the exit status 1): every proven
// enclosure of a single system meets Arb's 53-bit ball and Arb's 256-bit
// ball (a few ulps wide) in every component, since the exact solution lies
// in all of them; for a sample of the batch, each system's bounds and status
// are bit-identical to norva_solve's on it, and its bounds meet Arb's
// 256-bit ball.
//
//   bench_small [--quick] [--sizes=2,3,5,...] [--batch=COUNT] [--batch-order=N]
//               [--batch-threads=T] [--sample=K] [--threads=N]
//               [--benchmark_repetitions=R] [--benchmark_filter=...]
// --threads: OpenMP and OpenBLAS threads of the single-system cases and the
// loops (default 1); --batch-threads: those of norva_solve_batch (default
// 2); --sample: systems of the batch checked (default 1000); --quick: orders
// 3, 10, 50, a batch of 10,000, three repetitions of 0.05 s (a smoke run;
// the batch goals are scaled to the count).
#include <lapacke.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_arb.h"
#include "bench_util.h"
#include "norva.h"

namespace {

// ---- options ----------------------------------------------------------------

struct options {
    std::vector<int> sizes{2, 3, 5, 10, 20, 50, 100};
    uint64_t batch = 100000;
    int batch_order = 4, batch_threads = 2, threads = 1, sample = 1000;
    bool quick = false;
    std::vector<char *> rest;  // for Google Benchmark and bench::run
};
options opt;

std::vector<int> parse_sizes(const char *s) {
    std::vector<int> v;
    while (*s != '\0') {
        char *end = nullptr;
        const long n = std::strtol(s, &end, 10);
        if (end == s) break;
        if (n >= 1 && n <= 4096) v.push_back((int)n);
        s = *end == ',' ? end + 1 : end;
    }
    return v;
}

void parse(int argc, char **argv) {
    bool sized = false, batched = false, min_time = false;
    for (int i = 0; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--quick") == 0)
            opt.quick = true;
        else if (std::strncmp(a, "--sizes=", 8) == 0) {
            opt.sizes = parse_sizes(a + 8);
            sized = true;
        } else if (std::strncmp(a, "--batch=", 8) == 0) {
            opt.batch = (uint64_t)std::max(0LL, std::atoll(a + 8));
            batched = true;
        } else if (std::strncmp(a, "--batch-order=", 14) == 0)
            opt.batch_order = std::max(1, std::atoi(a + 14));
        else if (std::strncmp(a, "--batch-threads=", 16) == 0)
            opt.batch_threads = std::max(1, std::atoi(a + 16));
        else if (std::strncmp(a, "--sample=", 9) == 0)
            opt.sample = std::max(1, std::atoi(a + 9));
        else {
            if (std::strncmp(a, "--threads=", 10) == 0) opt.threads = std::max(1, std::atoi(a + 10));
            if (std::strncmp(a, "--benchmark_min_time", 20) == 0) min_time = true;
            opt.rest.push_back(argv[i]);
        }
    }
    static std::string threads_arg = "--threads=" + std::to_string(opt.threads);
    opt.rest.push_back(threads_arg.data());  // the default of 1 (the last one counts)
    if (opt.quick) {
        if (!sized) opt.sizes = {3, 10, 50};
        if (!batched) opt.batch = 10000;
        static char quick_time[] = "--benchmark_min_time=0.05";
        if (!min_time) opt.rest.push_back(quick_time);
    }
}

// ---- systems ----------------------------------------------------------------

// A system of order n: bench::system_of's entries with n added to the
// diagonal (row-major), and the same matrix column-major for LAPACK.
struct small_sys {
    int n = 0;
    std::vector<double> a, b, a_col;
};

const small_sys &small_of(int n) {
    static std::map<int, small_sys> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    const bench::sys &s = bench::system_of(n, 1);
    small_sys m{n, s.a, s.b, std::vector<double>((size_t)n * n)};
    for (int i = 0; i < n; ++i) m.a[(size_t)i * n + i] += n;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) m.a_col[(size_t)j * n + i] = m.a[(size_t)i * n + j];
    return cache.emplace(n, std::move(m)).first->second;
}

// arb_mat_solve on the exact doubles at `prec` bits: outward double bounds
// of each component and the median of 2 rad / |mid|.  False when Arb
// cannot prove the system.
struct arb_result {
    bool ok = false;
    std::vector<double> lo, hi;
    double width = NAN;
};

arb_result arb_solve(int n, const double *a, const double *b, slong prec) {
    arb_mat_t A, B, X;
    arb_mat_init(A, n, n);
    arb_mat_init(B, n, 1);
    arb_mat_init(X, n, 1);
    bench::arb_mat_set_doubles(A, a);
    bench::arb_mat_set_doubles(B, b);
    arb_result r;
    r.ok = arb_mat_solve(X, A, B, prec) != 0;
    if (r.ok) {
        bench::arb_mat_bounds(X, r.lo, r.hi);
        std::vector<double> w;
        for (int i = 0; i < n; ++i) {
            const arb_struct *x = arb_mat_entry(X, i, 0);
            w.push_back(2 * mag_get_d(arb_radref(x)) /
                        std::fabs(arf_get_d(arb_midref(x), ARF_RND_NEAR)));
        }
        std::nth_element(w.begin(), w.begin() + (long)w.size() / 2, w.end());
        r.width = w[w.size() / 2];
    }
    arb_mat_clear(A);
    arb_mat_clear(B);
    arb_mat_clear(X);
    return r;
}

// Arb's enclosures of the system of order n at 53 bits (the peer's) and at
// 256 bits (the reference), computed once.
struct arb_refs {
    arb_result at53, at256;
};

const arb_refs &arb_of(int n) {
    static std::map<int, arb_refs> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    const small_sys &s = small_of(n);
    arb_refs r{arb_solve(n, s.a.data(), s.b.data(), 53), arb_solve(n, s.a.data(), s.b.data(), 256)};
    return cache.emplace(n, std::move(r)).first->second;
}

// Empty when every [lo_i, hi_i] is an interval that meets the reference
// ball's bounds; else what is wrong.
std::string misses(const double *lo, const double *hi, const arb_result &ref, int n,
                   const char *what) {
    if (!ref.ok) return "";
    for (int i = 0; i < n; ++i)
        if (!(lo[i] <= hi[i]) || lo[i] > ref.hi[(size_t)i] || hi[i] < ref.lo[(size_t)i]) {
            char s[200];
            std::snprintf(s, sizeof s, "x_%d = [%.17g, %.17g] misses %s [%.17g, %.17g]", i, lo[i],
                          hi[i], what, ref.lo[(size_t)i], ref.hi[(size_t)i]);
            return s;
        }
    return "";
}

// The batch: count systems of order n from one generator, packed, the
// matrices also column-major for LAPACK.
struct batch_data {
    uint64_t count = 0;
    int n = 0;
    std::vector<double> a, b, a_col;
};

const batch_data &batch_of() {
    static batch_data d;
    if (d.count != 0 || opt.batch == 0) return d;
    const int n = opt.batch_order;
    const size_t nn = (size_t)n * n, count = opt.batch;
    const std::vector<double> v = bench::uniform(count * (nn + n), 4000 + (uint64_t)n);
    d.count = count;
    d.n = n;
    d.a.assign(v.begin(), v.begin() + (long)(count * nn));
    d.b.assign(v.begin() + (long)(count * nn), v.end());
    d.a_col.resize(d.a.size());
    for (size_t s = 0; s < count; ++s) {
        double *as = d.a.data() + s * nn;
        for (int i = 0; i < n; ++i) as[i * n + i] += n;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) d.a_col[s * nn + (size_t)j * n + i] = as[i * n + j];
    }
    return d;
}

// ---- outcomes -----------------------------------------------------------------

// What the runs of a case saw (its last call), by case name.
struct outcome {
    int status = -2;  // norva's status, or 0/1 for a peer that proved / failed
    double width = NAN;
    std::string error;
    uint64_t unproven = 0;  // batch: systems not proven
    int checked = 0;        // batch: systems of the sample checked
};
std::map<std::string, outcome> outcomes;
bool any_error = false;

void fail(benchmark::State &st, outcome &o, const std::string &what) {
    if (o.error.empty()) o.error = what;
    any_error = true;
    st.SkipWithError(o.error.c_str());
}

// ---- single systems -------------------------------------------------------------

std::string name_of(int n, const char *what) { return "n=" + std::to_string(n) + "/" + what; }

void bm_dgesv(benchmark::State &st, int n) {
    const small_sys &s = small_of(n);
    std::vector<double> a(s.a_col.size()), x(s.b.size());
    std::vector<lapack_int> piv((size_t)n);
    lapack_int info = 0;
    for (auto _ : st) {
        std::copy(s.a_col.begin(), s.a_col.end(), a.begin());
        std::copy(s.b.begin(), s.b.end(), x.begin());
        info = LAPACKE_dgesv(LAPACK_COL_MAJOR, n, 1, a.data(), n, piv.data(), x.data(), n);
        benchmark::DoNotOptimize(x.data());
    }
    outcome &o = outcomes[name_of(n, "dgesv")];
    o.status = info == 0 ? 0 : 1;
    if (info != 0) fail(st, o, "dgesv failed, info " + std::to_string(info));
}

void bm_norva(benchmark::State &st, int n, int mode) {
    const small_sys &s = small_of(n);
    std::vector<double> lo((size_t)n), hi((size_t)n);
    int32_t status = -1;
    for (auto _ : st)
        status = norva_solve((uint64_t)n, s.a.data(), (uint64_t)n, s.b.data(), nullptr, 0,
                             lo.data(), hi.data(), mode, nullptr, nullptr);
    outcome &o = outcomes[name_of(n, mode == 0 ? "mode0" : "mode1")];
    o.status = status;
    bench::statuses()[name_of(n, mode == 0 ? "mode0" : "mode1")] = status;
    st.counters["status"] = status;
    if (status != 0) return;
    o.width = bench::median_relative_width(lo, hi);
    st.counters["width"] = o.width;
    const arb_refs &r = arb_of(n);
    std::string e = misses(lo.data(), hi.data(), r.at256, n, "Arb's 256-bit ball");
    if (e.empty()) e = misses(lo.data(), hi.data(), r.at53, n, "Arb's 53-bit ball");
    if (!e.empty()) fail(st, o, e);
}

void bm_arb(benchmark::State &st, int n) {
    const small_sys &s = small_of(n);
    arb_mat_t A, B, X;
    arb_mat_init(A, n, n);
    arb_mat_init(B, n, 1);
    arb_mat_init(X, n, 1);
    bench::arb_mat_set_doubles(A, s.a.data());
    bench::arb_mat_set_doubles(B, s.b.data());
    int ok = 0;
    for (auto _ : st) ok = arb_mat_solve(X, A, B, 53);
    arb_mat_clear(A);
    arb_mat_clear(B);
    arb_mat_clear(X);
    outcome &o = outcomes[name_of(n, "arb")];
    o.status = ok ? 0 : 1;
    st.counters["proved"] = ok;
    if (ok) {
        o.width = arb_of(n).at53.width;
        st.counters["width"] = o.width;
    }
}

// ---- the batch ------------------------------------------------------------------

// Persistent output arrays of a batch case, touched before any timing.
struct batch_out {
    std::vector<double> lo, hi;
    std::vector<int32_t> status;
};
batch_out &out_of(const std::string &name) {
    static std::map<std::string, batch_out> outs;
    batch_out &o = outs[name];
    const batch_data &d = batch_of();
    if (o.lo.empty()) {
        o.lo.assign(d.count * (size_t)d.n, 0.0);
        o.hi.assign(d.count * (size_t)d.n, 0.0);
        o.status.assign(d.count, -2);
    }
    return o;
}

// Bits of the sample of systems against norva_solve on each alone, and
// their bounds against Arb's 256-bit ball.
std::string check_sample(const batch_data &d, const batch_out &out, int mode, int *checked) {
    const int n = d.n;
    const size_t nn = (size_t)n * n;
    std::vector<double> lo((size_t)n), hi((size_t)n);
    const uint64_t k = std::min<uint64_t>((uint64_t)opt.sample, d.count);
    *checked = 0;
    for (uint64_t j = 0; j < k; ++j) {
        const uint64_t s = k == 1 ? d.count - 1 : j * (d.count - 1) / (k - 1);
        const int32_t st = norva_solve((uint64_t)n, d.a.data() + s * nn, (uint64_t)n,
                                       d.b.data() + s * n, nullptr, 0, lo.data(), hi.data(), mode,
                                       nullptr, nullptr);
        ++*checked;
        char e[160];
        if (st != out.status[s] ||
            std::memcmp(lo.data(), out.lo.data() + s * n, (size_t)n * sizeof(double)) != 0 ||
            std::memcmp(hi.data(), out.hi.data() + s * n, (size_t)n * sizeof(double)) != 0) {
            std::snprintf(e, sizeof e,
                          "system %llu: the batch differs from norva_solve (status %d vs %d, or "
                          "the bits of its bounds)",
                          (unsigned long long)s, out.status[s], st);
            return e;
        }
        if (st != 0) continue;
        const arb_result ref = arb_solve(n, d.a.data() + s * nn, d.b.data() + s * n, 256);
        const std::string m = misses(lo.data(), hi.data(), ref, n, "Arb's 256-bit ball");
        if (!m.empty()) return "system " + std::to_string(s) + ": " + m;
    }
    return "";
}

void bm_batch(benchmark::State &st, int mode) {
    const batch_data &d = batch_of();
    const std::string name = mode == 0 ? "batch/mode0" : "batch/mode1";
    batch_out &out = out_of(name);
    int32_t r = -1;
    omp_set_num_threads(opt.batch_threads);
    for (auto _ : st)
        r = norva_solve_batch(d.count, (uint64_t)d.n, d.a.data(), (uint64_t)d.n * d.n, d.b.data(),
                              (uint64_t)d.n, out.lo.data(), out.hi.data(), (uint64_t)d.n, mode,
                              out.status.data());
    omp_set_num_threads(opt.threads);
    outcome &o = outcomes[name];
    o.status = r;
    bench::statuses()[name] = r;
    st.counters["status"] = r;
    if (r < 0) return fail(st, o, "norva_solve_batch returned -1");
    o.unproven = 0;
    for (int32_t s : out.status) o.unproven += s != 0;
    st.counters["unproven"] = (double)o.unproven;
    if ((r == 0) != (o.unproven == 0))
        return fail(st, o, "the batch's return value disagrees with its statuses");
    if (o.checked == 0) {  // once per case: the results do not change
        const std::string e = check_sample(d, out, mode, &o.checked);
        if (!e.empty()) return fail(st, o, e);
    }
    st.counters["checked"] = o.checked;
}

void bm_batch_dgesv(benchmark::State &st) {
    const batch_data &d = batch_of();
    const int n = d.n;
    const size_t nn = (size_t)n * n;
    batch_out &out = out_of("batch/dgesv_loop");
    std::vector<double> a(nn);
    std::vector<lapack_int> piv((size_t)n);
    lapack_int bad = 0;
    for (auto _ : st) {
        bad = 0;
        for (uint64_t s = 0; s < d.count; ++s) {
            std::copy(d.a_col.begin() + (long)(s * nn), d.a_col.begin() + (long)((s + 1) * nn),
                      a.begin());
            double *x = out.lo.data() + s * n;
            std::copy(d.b.begin() + (long)(s * n), d.b.begin() + (long)((s + 1) * n), x);
            bad += LAPACKE_dgesv(LAPACK_COL_MAJOR, n, 1, a.data(), n, piv.data(), x, n) != 0;
        }
        benchmark::DoNotOptimize(out.lo.data());
    }
    outcome &o = outcomes["batch/dgesv_loop"];
    o.status = bad == 0 ? 0 : 1;
    if (bad != 0) fail(st, o, "dgesv failed on " + std::to_string(bad) + " systems");
}

void bm_batch_loop(benchmark::State &st, int mode) {
    const batch_data &d = batch_of();
    const int n = d.n;
    const size_t nn = (size_t)n * n;
    const std::string name = mode == 0 ? "batch/solve_loop_mode0" : "batch/solve_loop_mode1";
    batch_out &out = out_of(name);
    for (auto _ : st)
        for (uint64_t s = 0; s < d.count; ++s)
            out.status[s] = norva_solve((uint64_t)n, d.a.data() + s * nn, (uint64_t)n,
                                        d.b.data() + s * n, nullptr, 0, out.lo.data() + s * n,
                                        out.hi.data() + s * n, mode, nullptr, nullptr);
    outcome &o = outcomes[name];
    o.unproven = 0;
    for (int32_t s : out.status) o.unproven += s != 0;
    o.status = o.unproven == 0 ? 0 : 1;
}

// ---- the summary ------------------------------------------------------------------

// Best (smallest) seconds per call over the repetitions of a case, NaN when
// it did not run.  bench::times() keeps the time in the case's unit over
// 1e3: `scale` turns it into seconds.
double best(const std::string &name, double scale) {
    double t = INFINITY;
    for (const auto &[k, v] : bench::times())
        if (k.rfind(name + "/", 0) == 0)
            for (double e : v) t = std::min(t, e * scale);
    return std::isinf(t) ? NAN : t;
}
constexpr double us_unit = 1e-3, ms_unit = 1;  // scales of the two units used

std::string fmt(const char *f, double v) {
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

// One line of the table: a quantity of norva against the peer's.  `goal`
// is judged on the value (absolute) or on the ratio, and `err` (an error
// of either side) makes the line an ERROR.
enum class judge { none, value, ratio };

void row(const std::string &name, double v, const std::string &peer, double p, const char *f,
         judge j, double goal, const char *unit, const std::string &err, int status) {
    if (std::isnan(v) && std::isnan(p) && err.empty()) return;  // neither side ran
    const double r = v / p;
    std::string g = "-", res = "-";
    if (j != judge::none) g = "<= " + fmt("%g", goal) + (j == judge::ratio ? " x" : unit);
    if (!err.empty())
        res = "ERROR";
    else if (status != 0 && status != -2)
        res = j == judge::none ? "not proven" : "NOT met (not proven)";
    else if (j != judge::none) {
        const double q = j == judge::value ? v : r;
        res = std::isnan(q) ? "not run" : q <= goal ? "met" : "NOT met";
    }
    std::printf("%-26s %11s  %-25s %11s %8.3g  %-10s %s\n", name.c_str(), fmt(f, v).c_str(),
                peer.c_str(), fmt(f, p).c_str(), r, g.c_str(), res.c_str());
}

std::string error_of(std::initializer_list<std::string> names) {
    std::string e;
    for (const std::string &k : names) {
        auto it = outcomes.find(k);
        if (it != outcomes.end() && !it->second.error.empty())
            e += (e.empty() ? "" : "; ") + k + ": " + it->second.error;
    }
    return e;
}
int status_of(const std::string &k) {
    auto it = outcomes.find(k);
    return it == outcomes.end() ? -2 : it->second.status;
}
double width_of(const std::string &k) {
    auto it = outcomes.find(k);
    return it == outcomes.end() ? NAN : it->second.width;
}

void summary() {
    std::printf("\nSummary: best time per call of the repetitions; %d thread(s) for the single "
                "systems and the loops, %d for norva_solve_batch\n",
                opt.threads, opt.batch_threads);
    std::printf("(ratio: norva over the peer; goals in us or s are judged on the time, in x on "
                "the ratio)\n");
    if (opt.quick)
        std::printf("(--quick: few orders, a small batch and short runs; the batch goals are "
                    "scaled to its count)\n");
    std::printf("%-26s %11s  %-25s %11s %8s  %-10s %s\n", "case", "norva", "peer", "peer", "ratio",
                "goal", "result");
    for (int n : opt.sizes) {
        const std::string dg = name_of(n, "dgesv"), ab = name_of(n, "arb");
        const double tg = best(dg, us_unit), ta = best(ab, us_unit);
        for (int mode : {1, 0}) {
            const std::string c = name_of(n, mode == 0 ? "mode0" : "mode1");
            const double t = best(c, us_unit);
            const std::string label = "n=" + std::to_string(n) + " mode " + std::to_string(mode);
            // The goal against dgesv: an absolute time at n = 3 and 10, a
            // ratio at n = 50 (mode 0).
            judge j = judge::none;
            double goal = NAN;
            if (n == 3) j = judge::value, goal = 2;
            if (n == 10) j = judge::value, goal = mode == 0 ? 8 : 5;
            if (n == 50 && mode == 0) j = judge::ratio, goal = 20;
            const int st = status_of(c);
            row(label, t * 1e6, "LAPACKE_dgesv", tg * 1e6, "%.3f us", j, goal, " us",
                error_of({c, dg}), st);
            const judge ja = mode == 0 ? judge::ratio : judge::none;
            const std::string ea = error_of({c, ab});
            row(label, t * 1e6, "arb_mat_solve 53 bits", ta * 1e6, "%.3f us", ja, 1, "", ea,
                st);
            const int sa = status_of(ab);
            row(label + " width", width_of(c),
                sa == 1 ? "Arb width (not proved)" : "Arb width", width_of(ab), "%.3g", ja, 1, "",
                ea, st);
        }
    }
    const batch_data &d = batch_of();
    if (d.count > 0) {
        const double scale = (double)d.count / 100000;
        const bool goals = d.n == 4;
        const double tg = best("batch/dgesv_loop", ms_unit);
        for (int mode : {1, 0}) {
            const std::string c = mode == 0 ? "batch/mode0" : "batch/mode1",
                              l = mode == 0 ? "batch/solve_loop_mode0" : "batch/solve_loop_mode1";
            const double t = best(c, ms_unit), tl = best(l, ms_unit);
            const std::string label = "batch mode " + std::to_string(mode) + " (" +
                                      std::to_string(opt.batch_threads) + " thr)";
            const double goal = (mode == 0 ? 0.25 : 0.15) * scale;
            row(label, t, "dgesv loop (1 thr)", tg, "%.4f s",
                goals ? judge::value : judge::none, goal, " s",
                error_of({c, "batch/dgesv_loop"}), status_of(c));
            row(label, t, "norva_solve loop (1 thr)", tl, "%.4f s", judge::none, NAN, "",
                error_of({c, l}), status_of(c));
        }
        std::printf("(batch: %llu systems of order %d; per system: ",
                    (unsigned long long)d.count, d.n);
        for (const char *c : {"batch/mode1", "batch/mode0", "batch/dgesv_loop",
                              "batch/solve_loop_mode1", "batch/solve_loop_mode0"})
            std::printf("%s%s %.3f us", c == std::string("batch/mode1") ? "" : ", ", c + 6,
                        best(c, ms_unit) / (double)d.count * 1e6);
        std::printf(")\n");
    }
    std::printf("\nChecks\n");
    for (int n : opt.sizes) {
        const arb_refs &r = arb_of(n);
        std::printf("  n=%d: mode 1 %s, mode 0 %s; Arb at 53 bits %s, at 256 bits %s\n", n,
                    bench::verdict(name_of(n, "mode1")), bench::verdict(name_of(n, "mode0")),
                    r.at53.ok ? "proved" : "NOT proved", r.at256.ok ? "proved" : "NOT proved");
    }
    for (const char *c : {"batch/mode1", "batch/mode0"}) {
        auto it = outcomes.find(c);
        if (it == outcomes.end()) continue;
        const outcome &o = it->second;
        std::printf("  %s: %llu of %llu systems not proven; %d sampled systems checked for "
                    "bit-identity with norva_solve and against Arb's 256-bit ball\n",
                    c, (unsigned long long)o.unproven, (unsigned long long)d.count, o.checked);
    }
    int errors = 0;
    for (const auto &[k, o] : outcomes)
        if (!o.error.empty()) {
            std::printf("  ERROR %s: %s\n", k.c_str(), o.error.c_str());
            ++errors;
        }
    if (errors == 0)
        std::printf("  every proven enclosure met Arb's balls; no check failed\n");
}

}  // namespace

int main(int argc, char **argv) {
    parse(argc, argv);
    for (int n : opt.sizes) {
        auto reg = [](const std::string &name, auto fn) {
            benchmark::RegisterBenchmark(name.c_str(), fn)
                ->UseRealTime()
                ->Unit(benchmark::kMicrosecond);
        };
        reg(name_of(n, "dgesv"), [n](benchmark::State &st) { bm_dgesv(st, n); });
        reg(name_of(n, "mode1"), [n](benchmark::State &st) { bm_norva(st, n, 1); });
        reg(name_of(n, "mode0"), [n](benchmark::State &st) { bm_norva(st, n, 0); });
        reg(name_of(n, "arb"), [n](benchmark::State &st) { bm_arb(st, n); });
    }
    if (opt.batch > 0) {
        auto reg = [](const char *name, auto fn) {
            benchmark::RegisterBenchmark(name, fn)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        };
        reg("batch/mode1", [](benchmark::State &st) { bm_batch(st, 1); });
        reg("batch/mode0", [](benchmark::State &st) { bm_batch(st, 0); });
        reg("batch/dgesv_loop", [](benchmark::State &st) { bm_batch_dgesv(st); });
        reg("batch/solve_loop_mode1", [](benchmark::State &st) { bm_batch_loop(st, 1); });
        reg("batch/solve_loop_mode0", [](benchmark::State &st) { bm_batch_loop(st, 0); });
    }
    bench::run((int)opt.rest.size(), opt.rest.data(), opt.quick ? 3 : 5, bench::arb_threads);
    summary();
    if (any_error) std::printf("\nERRORS occurred (see above)\n");
    return any_error ? 1 : 0;
}
