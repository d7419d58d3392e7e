// The sparse Cholesky path of norva_solve_sparse and norva_spd_sparse
// against SuiteSparse, as ratios to a peer timed in the same benchmark
// (every iteration calls both, in alternating order, so that load from
// elsewhere on the machine falls on both alike):
//   - the 3-D Laplacian (7-point stencil, 6 and -1) on a 50^3 grid, its
//     unknowns numbered in a fixed random order: norva_solve_sparse mode 1
//     against cholmod_l_analyze + cholmod_l_factorize + cholmod_l_solve
//     (upper triangle, default settings; the analysis counts, as the
//     ordering is in norva's time too) (goal: at most 4 x);
//   - the 2-D Laplacian (5-point, 4 and -1) on a 300 x 300 grid numbered at
//     random: mode 1 (goal: at most 4 x) and mode 0 (at most 8 x) against
//     the same CHOLMOD calls;
//   - an unsymmetric 3-D convection-diffusion matrix on a 30^3 grid (the
//     7-point Laplacian plus first-order upwind convection with cell
//     velocities 1/2, 1/4, 1/8, numbered at random): mode 1 against UMFPACK
//     (umfpack_dl_symbolic + numeric + solve, default settings) and against
//     CHOLMOD on the normal equations (cholmod_l_analyze + factorize of
//     A^T A given A^T, the product A^T b, cholmod_l_solve); no goal;
//   - norva_spd_sparse mode 1 on the 3-D Laplacian: the proven lower bound
//     against the closed form lambda_min = 3 (2 - 2 cos(pi / 51)) = 12
//     sin^2(pi / 102) (goal: at least half of it), and its time against one
//     cholmod_l_analyze + cholmod_l_factorize (goal: at most 2 x, about one
//     factorization and the estimate of lambda_min);
//   - peak memory of one call against the peer's (goal: at most 3 x): each
//     side runs alone in a fresh process (this program, started again with
//     --memory-child), and its ru_maxrss from wait4 is compared with that
//     of a process that built the same inputs without calling (matrix and
//     right-hand side, and for the peer its own copy of the matrix); the
//     children are started before any benchmark, while this process is
//     small, since a forked child inherits its resident pages.
// The exact solution is x of small nonzero integers (|x_i| <= 4) and b =
// A x, formed exactly (integer or dyadic coefficients of a few bits).  Every
// norva case reports its status, the median relative width of the
// enclosure, the normwise radius relative to max |x|, the path, ordering,
// entries of the factor and factorizations from the library's report; an
// enclosure that misses x (or a lower bound above lambda_min) is an error.
// The peer's solution is checked against x too.  The summary gives the best
// (smallest) time of the repetitions of each side and their ratio, and the
// median of the ratios of the two calls of one iteration; the norva time is
// that of norva::sparse::solve_sparse / spd_sparse with a report, which the
// exports call with none.  In Google Benchmark's table, Time is norva's
// wall-clock time, CPU the process time of both calls.
//
//   bench_sparse [--threads=N] [--quick] [--lap3=M] [--lap2=M] [--convdiff=M]
//                [--no-memory] [--benchmark_repetitions=R]
// --threads: OpenMP threads of the library and CHOLMOD and OpenBLAS
// threads, the same for both sides (default 1); --quick: grids 12^3, 40^2,
// 10^3 (a smoke run of seconds); --lap3, --lap2, --convdiff: grid sides.
#include <cholmod.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <umfpack.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "norva.h"
#include "sparse/sparse.h"

namespace {

using norva::sparse::report;

// ---- problems ---------------------------------------------------------------

enum class kind { lap3, lap2, convdiff };

// A matrix in compressed sparse rows (columns ascending), the exact
// solution x and b = A x.
struct problem {
    uint64_t n = 0;
    std::vector<uint64_t> ptr, col;
    std::vector<double> val, x, b;
    double lambda_min = NAN;  // closed form, Laplacians only
};

// A stencil on the grid of m^dims nodes: `diag` on the diagonal, back[k]
// for the neighbour one step back along axis k, fwd[k] one step forward
// (Dirichlet boundary: missing neighbours are dropped).  Node numbers are
// shuffled by a fixed seed; the rows are built in place, without a
// temporary larger than two index vectors, so that the memory baseline is
// the matrix itself.
problem stencil(int dims, int m, double diag, const double *back, const double *fwd,
                uint64_t seed) {
    uint64_t n = 1;
    for (int k = 0; k < dims; ++k) n *= (uint64_t)m;
    std::vector<uint64_t> num(n), node_of(n);
    std::iota(num.begin(), num.end(), 0);
    std::shuffle(num.begin(), num.end(), std::mt19937_64(seed));
    for (uint64_t v = 0; v < n; ++v) node_of[num[v]] = v;
    problem p;
    p.n = n;
    p.ptr.reserve(n + 1);
    p.col.reserve(n * (2 * dims + 1));
    p.val.reserve(n * (2 * dims + 1));
    p.ptr.push_back(0);
    std::pair<uint64_t, double> row[7];
    for (uint64_t r = 0; r < n; ++r) {
        const uint64_t v = node_of[r];
        int len = 0;
        row[len++] = {r, diag};
        uint64_t stride = 1;
        for (int k = 0; k < dims; ++k, stride *= (uint64_t)m) {
            const uint64_t c = v / stride % (uint64_t)m;
            if (c > 0) row[len++] = {num[v - stride], back[k]};
            if (c + 1 < (uint64_t)m) row[len++] = {num[v + stride], fwd[k]};
        }
        for (int e = 1; e < len; ++e)  // insertion sort by column
            for (int f = e; f > 0 && row[f].first < row[f - 1].first; --f)
                std::swap(row[f], row[f - 1]);
        for (int e = 0; e < len; ++e) {
            p.col.push_back(row[e].first);
            p.val.push_back(row[e].second);
        }
        p.ptr.push_back(p.col.size());
    }
    std::mt19937_64 g(seed + 1);
    std::uniform_int_distribution<int> d(1, 4);
    p.x.resize(n);
    for (double &xi : p.x) xi = (g() & 1 ? 1 : -1) * d(g);
    // Every product and partial sum is an integer times 2^-3 below 2^10:
    // exact.
    p.b.assign(n, 0.0);
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t e = p.ptr[i]; e < p.ptr[i + 1]; ++e) p.b[i] += p.val[e] * p.x[p.col[e]];
    return p;
}

problem make_problem(kind k, int m) {
    const double minus1[3] = {-1, -1, -1};
    switch (k) {
    case kind::lap3: {
        problem p = stencil(3, m, 6, minus1, minus1, 1000 + (uint64_t)m);
        const double s = std::sin(M_PI / (2.0 * (m + 1)));
        p.lambda_min = 12 * s * s;
        return p;
    }
    case kind::lap2: {
        problem p = stencil(2, m, 4, minus1, minus1, 2000 + (uint64_t)m);
        const double s = std::sin(M_PI / (2.0 * (m + 1)));
        p.lambda_min = 8 * s * s;
        return p;
    }
    case kind::convdiff: {
        // -Laplace u + v . grad u, v = (1/2, 1/4, 1/8) in cell units, upwind:
        // the node behind along axis k gets -(1 + v_k), the diagonal 6 +
        // sum v_k (zero row sums inside, an M-matrix).
        const double back[3] = {-1.5, -1.25, -1.125}, diag = 6 + 0.5 + 0.25 + 0.125;
        return stencil(3, m, diag, back, minus1, 3000 + (uint64_t)m);
    }
    }
    return {};
}

const problem &problem_of(kind k, int m) {
    static std::map<std::pair<int, int>, problem> cache;
    const auto key = std::make_pair((int)k, m);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    return cache.emplace(key, make_problem(k, m)).first->second;
}

// ---- peers ------------------------------------------------------------------

enum class peer_kind { cholmod_solve, cholmod_factor, cholmod_normal, umfpack };

const char *peer_name(peer_kind k) {
    switch (k) {
    case peer_kind::cholmod_solve: return "CHOLMOD analyze+factorize+solve";
    case peer_kind::cholmod_factor: return "CHOLMOD analyze+factorize";
    case peer_kind::cholmod_normal: return "CHOLMOD on A^T A";
    case peer_kind::umfpack: return "UMFPACK symbolic+numeric+solve";
    }
    return "";
}

// The peer's own copy of the problem, built outside the timing; run() is
// the timed work and keeps the solution.
class peer {
public:
    peer(const problem &p, peer_kind k) : p_(p), k_(k) {
        const uint64_t n = p.n;
        if (k == peer_kind::umfpack) {
            // A by columns: the transpose of the rows.
            ap_.assign(n + 1, 0);
            for (uint64_t e = 0; e < p.ptr[n]; ++e) ++ap_[p.col[e] + 1];
            for (uint64_t j = 0; j < n; ++j) ap_[j + 1] += ap_[j];
            std::vector<SuiteSparse_long> at(ap_.begin(), ap_.end() - 1);
            ai_.resize(p.ptr[n]);
            ax_.resize(p.ptr[n]);
            for (uint64_t i = 0; i < n; ++i)
                for (uint64_t e = p.ptr[i]; e < p.ptr[i + 1]; ++e) {
                    const SuiteSparse_long to = at[p.col[e]]++;
                    ai_[to] = (SuiteSparse_long)i;
                    ax_[to] = p.val[e];
                }
            umfpack_dl_defaults(control_);
            ux_.resize(n);
            return;
        }
        cholmod_l_start(&c_);
        // Symmetric: the upper triangle by columns, column j being row j of
        // A cut at the diagonal.  Normal equations: the rows of A read as
        // columns, that is A^T, whose unsymmetric analysis is of A^T A.
        const bool sym = k != peer_kind::cholmod_normal;
        size_t nnz = 0;
        for (uint64_t j = 0; j < n; ++j)
            for (uint64_t e = p.ptr[j]; e < p.ptr[j + 1]; ++e) nnz += !sym || p.col[e] <= j;
        a_ = cholmod_l_allocate_sparse(n, n, nnz, 1, 1, sym ? 1 : 0, CHOLMOD_REAL, &c_);
        b_ = cholmod_l_allocate_dense(n, 1, n, CHOLMOD_REAL, &c_);
        if (a_ == nullptr || b_ == nullptr) return;
        auto *cp = (SuiteSparse_long *)a_->p, *ci = (SuiteSparse_long *)a_->i;
        auto *cx = (double *)a_->x;
        size_t at = 0;
        for (uint64_t j = 0; j < n; ++j) {
            cp[j] = (SuiteSparse_long)at;
            for (uint64_t e = p.ptr[j]; e < p.ptr[j + 1]; ++e)
                if (!sym || p.col[e] <= j) {
                    ci[at] = (SuiteSparse_long)p.col[e];
                    cx[at++] = p.val[e];
                }
        }
        cp[n] = (SuiteSparse_long)at;
        std::copy(p.b.begin(), p.b.end(), (double *)b_->x);
    }
    ~peer() {
        if (k_ == peer_kind::umfpack) return;
        cholmod_l_free_dense(&x_, &c_);
        cholmod_l_free_dense(&b_, &c_);
        cholmod_l_free_sparse(&a_, &c_);
        cholmod_l_finish(&c_);
    }
    peer(const peer &) = delete;
    peer &operator=(const peer &) = delete;

    bool run() {
        if (k_ == peer_kind::umfpack) {
            void *sym = nullptr, *num = nullptr;
            const SuiteSparse_long n = (SuiteSparse_long)p_.n;
            bool ok = umfpack_dl_symbolic(n, n, ap_.data(), ai_.data(), ax_.data(), &sym,
                                          control_, info_) == UMFPACK_OK &&
                      umfpack_dl_numeric(ap_.data(), ai_.data(), ax_.data(), sym, &num, control_,
                                         info_) == UMFPACK_OK &&
                      umfpack_dl_solve(UMFPACK_A, ap_.data(), ai_.data(), ax_.data(), ux_.data(),
                                       p_.b.data(), num, control_, info_) == UMFPACK_OK;
            umfpack_dl_free_numeric(&num);
            umfpack_dl_free_symbolic(&sym);
            return ok;
        }
        if (a_ == nullptr || b_ == nullptr) return false;
        cholmod_l_free_dense(&x_, &c_);
        cholmod_factor *L = cholmod_l_analyze(a_, &c_);
        bool ok = L != nullptr && cholmod_l_factorize(a_, L, &c_) && c_.status == CHOLMOD_OK &&
                  L->minor == p_.n;
        if (ok && k_ == peer_kind::cholmod_solve) {
            x_ = cholmod_l_solve(CHOLMOD_A, L, b_, &c_);
        } else if (ok && k_ == peer_kind::cholmod_normal) {
            // A^T b, then (A^T A) x = A^T b.
            cholmod_dense *y = cholmod_l_zeros(p_.n, 1, CHOLMOD_REAL, &c_);
            double one[2] = {1, 0}, zero[2] = {0, 0};
            if (y != nullptr && cholmod_l_sdmult(a_, 0, one, zero, b_, y, &c_))
                x_ = cholmod_l_solve(CHOLMOD_A, L, y, &c_);
            cholmod_l_free_dense(&y, &c_);
        }
        ok = ok && (k_ == peer_kind::cholmod_factor || x_ != nullptr);
        cholmod_l_free_factor(&L, &c_);
        return ok;
    }

    // The last solution, null for a factorization alone.
    const double *x() const {
        if (k_ == peer_kind::umfpack) return ux_.data();
        return x_ != nullptr ? (const double *)x_->x : nullptr;
    }

private:
    const problem &p_;
    peer_kind k_;
    cholmod_common c_{};
    cholmod_sparse *a_ = nullptr;
    cholmod_dense *b_ = nullptr, *x_ = nullptr;
    std::vector<SuiteSparse_long> ap_, ai_;
    std::vector<double> ax_, ux_;
    double control_[UMFPACK_CONTROL], info_[UMFPACK_INFO];
};

// ---- cases ------------------------------------------------------------------

struct case_def {
    std::string name;
    kind k;
    int m;
    bool spd;  // norva_spd_sparse, else norva_solve_sparse
    int mode;
    peer_kind pk;
    double goal;  // ratio at most this (NaN: no goal)
};

// What the runs of a case saw: the best time of each side, and the checks
// of the last call.
struct outcome {
    double t_norva = INFINITY, t_peer = INFINITY;
    int status = -2;
    bool peer_ok = true;
    std::string error;  // a failed check
    double width = NAN, radius = NAN, peer_err = NAN, lower = NAN;
    std::vector<double> ratios;  // norva / peer of every iteration
    report rep;
};

std::map<std::string, outcome> outcomes;
bool any_error = false;

double max_abs(const std::vector<double> &v) {
    double m = 0;
    for (double e : v) m = std::max(m, std::fabs(e));
    return m;
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

// The norva side, for the benchmark and the memory child alike.
int32_t call_norva(const case_def &c, const problem &p, std::vector<double> &lo,
                   std::vector<double> &hi, double *lower, report *rep) {
    if (c.spd)
        return norva::sparse::spd_sparse(p.n, p.ptr.data(), p.col.data(), p.val.data(), lower,
                                         c.mode, rep);
    return norva::sparse::solve_sparse(p.n, p.ptr.data(), p.col.data(), p.val.data(), p.b.data(),
                                       lo.data(), hi.data(), c.mode, rep);
}

void fail(benchmark::State &st, outcome &o, const std::string &what) {
    o.error = what;
    any_error = true;
    st.SkipWithError(what.c_str());
}

void run_case(benchmark::State &st, const case_def &c) {
    using clock = std::chrono::steady_clock;
    const problem &p = problem_of(c.k, c.m);
    peer pr(p, c.pk);
    outcome &o = outcomes[c.name];
    std::vector<double> lo(c.spd ? 0 : p.n), hi(c.spd ? 0 : p.n);
    double lower = NAN, tn = 0, tp = 0;
    static unsigned turn = 0;
    for (auto _ : st) {
        auto norva_side = [&] {
            const auto t0 = clock::now();
            o.status = call_norva(c, p, lo, hi, &lower, &o.rep);
            tn = std::chrono::duration<double>(clock::now() - t0).count();
        };
        auto peer_side = [&] {
            const auto t0 = clock::now();
            o.peer_ok = pr.run();
            tp = std::chrono::duration<double>(clock::now() - t0).count();
        };
        if (turn++ % 2) {
            norva_side();
            peer_side();
        } else {
            peer_side();
            norva_side();
        }
        st.SetIterationTime(tn);
        o.t_norva = std::min(o.t_norva, tn);
        o.t_peer = std::min(o.t_peer, tp);
        o.ratios.push_back(tn / tp);
    }
    bench::statuses()[c.name] = o.status;
    st.counters["ratio"] = tn / tp;
    st.counters["peer_ms"] = tp * 1e3;
    st.counters["status"] = o.status;
    st.counters["path"] = o.rep.path;
    st.counters["nnz_L"] = (double)o.rep.nnz_l;
    st.counters["factorizations"] = o.rep.factorizations;
    if (!o.peer_ok) return fail(st, o, "the peer failed");
    if (const double *px = pr.x()) {
        double e = 0;
        for (uint64_t i = 0; i < p.n; ++i) e = std::max(e, std::fabs(px[i] - p.x[i]));
        o.peer_err = e / max_abs(p.x);
        st.counters["peer_err"] = o.peer_err;
    }
    if (c.spd) {
        o.lower = lower;
        st.counters["lower/lambda_min"] = lower / p.lambda_min;
        // The closed form is rounded; allow its few ulps.
        if (lower > p.lambda_min * (1 + 1e-13))
            return fail(st, o, "the lower bound exceeds the exact lambda_min");
        return;
    }
    if (o.status != 0) return;
    for (uint64_t i = 0; i < p.n; ++i)
        if (!(lo[i] <= p.x[i] && p.x[i] <= hi[i])) {
            char s[160];
            std::snprintf(s, sizeof s, "the enclosure misses the exact x_%llu = %g: [%.17g, %.17g]",
                          (unsigned long long)i, p.x[i], lo[i], hi[i]);
            return fail(st, o, s);
        }
    o.width = bench::median_relative_width(lo, hi);
    o.radius = o.rep.radius / max_abs(p.x);
    st.counters["width"] = o.width;
    if (o.rep.path == norva::sparse::path_cholesky) st.counters["radius"] = o.radius;
}

// ---- peak memory --------------------------------------------------------------

// The memory child: builds the case's inputs for one side and, unless it is
// the baseline, calls it once.  Exit status 0 when the call succeeded.
int memory_child(const case_def &c, bool norva_side, bool baseline) {
    const problem &p = problem_of(c.k, c.m);
    if (norva_side) {
        std::vector<double> lo(c.spd ? 0 : p.n), hi(c.spd ? 0 : p.n);
        double lower = NAN;
        return baseline ? 0 : call_norva(c, p, lo, hi, &lower, nullptr) == 0 ? 0 : 3;
    }
    peer pr(p, c.pk);
    return baseline ? 0 : pr.run() ? 0 : 3;
}

// Peak resident kilobytes of this program run again with `args`; -1 when
// the child failed.
long child_maxrss(const std::vector<std::string> &args) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> av;
        for (const std::string &a : args) av.push_back(const_cast<char *>(a.c_str()));
        av.push_back(nullptr);
        execv("/proc/self/exe", av.data());
        _exit(127);
    }
    if (pid < 0) return -1;
    int status = 0;
    struct rusage ru {};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return ru.ru_maxrss;
}

struct memory_row {
    std::string name;
    long norva_kb = -1, peer_kb = -1, norva_base = -1, peer_base = -1;
};
std::vector<memory_row> memory_rows;

// ---- options and the summary ----------------------------------------------------

struct options {
    int threads = 1, lap3 = 50, lap2 = 300, convdiff = 30;
    bool quick = false, memory = true;
    std::vector<char *> rest;  // for Google Benchmark
};

options parse(int argc, char **argv) {
    options o;
    bool sized[3] = {false, false, false};
    auto value = [](const char *a, const char *key, int *v) {
        const size_t l = std::strlen(key);
        if (std::strncmp(a, key, l) != 0) return false;
        *v = std::max(2, std::atoi(a + l));
        return true;
    };
    for (int i = 0; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--quick") == 0)
            o.quick = true;
        else if (std::strcmp(a, "--no-memory") == 0)
            o.memory = false;
        else if (value(a, "--lap3=", &o.lap3))
            sized[0] = true;
        else if (value(a, "--lap2=", &o.lap2))
            sized[1] = true;
        else if (value(a, "--convdiff=", &o.convdiff))
            sized[2] = true;
        else {
            if (std::strncmp(a, "--threads=", 10) == 0) o.threads = std::max(1, std::atoi(a + 10));
            o.rest.push_back(argv[i]);
        }
    }
    if (o.quick) {
        if (!sized[0]) o.lap3 = 12;
        if (!sized[1]) o.lap2 = 40;
        if (!sized[2]) o.convdiff = 10;
    }
    return o;
}

std::vector<case_def> cases_of(const options &o) {
    const std::string l3 = "lap3d_" + std::to_string(o.lap3),
                      l2 = "lap2d_" + std::to_string(o.lap2),
                      cd = "convdiff_" + std::to_string(o.convdiff);
    return {
        {l3 + "/solve_mode1/cholmod", kind::lap3, o.lap3, false, 1, peer_kind::cholmod_solve, 4},
        {l2 + "/solve_mode1/cholmod", kind::lap2, o.lap2, false, 1, peer_kind::cholmod_solve, 4},
        {l2 + "/solve_mode0/cholmod", kind::lap2, o.lap2, false, 0, peer_kind::cholmod_solve, 8},
        {cd + "/solve_mode1/umfpack", kind::convdiff, o.convdiff, false, 1, peer_kind::umfpack,
         NAN},
        {cd + "/solve_mode1/cholmod_normal", kind::convdiff, o.convdiff, false, 1,
         peer_kind::cholmod_normal, NAN},
        {l3 + "/spd_mode1/cholmod_factor", kind::lap3, o.lap3, true, 1, peer_kind::cholmod_factor,
         2},
    };
}

// Cases whose peak memory is measured (indices into cases_of).
constexpr int memory_cases[] = {0, 1, 3, 5};

const char *verdict(bool ok) { return ok ? "met" : "NOT met"; }

std::string fmt(const char *f, double v) {
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

void print_row(const std::string &name, const std::string &a, const std::string &b, double ratio,
               double paired, const std::string &goal, const char *result) {
    std::printf("%-52s %12s %12s %7.3g %7s  %-8s %s\n", name.c_str(), a.c_str(), b.c_str(), ratio,
                std::isnan(paired) ? "" : fmt("%.3g", paired).c_str(), goal.c_str(), result);
}


void summary(const std::vector<case_def> &cases, int threads, bool quick) {
    std::printf("\nSummary: best of the repetitions, %d thread(s) for norva and the peer (OpenMP "
                "and OpenBLAS alike)\n",
                threads);
    std::printf("(ratio: best norva time over best peer time, which the goal is judged on; "
                "paired: median\nof the ratios of the two calls of each iteration)\n");
    if (quick)
        std::printf("(--quick: small grids for a smoke run; the goals are set for the full "
                    "sizes)\n");
    std::printf("%-52s %12s %12s %7s %7s  %-8s %s\n", "case", "norva", "peer", "ratio", "paired",
                "goal", "result");
    for (const case_def &c : cases) {
        auto it = outcomes.find(c.name);
        if (it == outcomes.end()) continue;
        const outcome &o = it->second;
        const double r = o.t_norva / o.t_peer;
        const bool sound = o.error.empty() && o.peer_ok;
        const bool proven = o.status == 0;
        const std::string goal = std::isnan(c.goal) ? "-" : fmt("<= %g", c.goal);
        const char *res = !sound ? "ERROR" : !proven ? "NOT met (not proven)"
                          : std::isnan(c.goal) ? "(no goal)" : verdict(r <= c.goal);
        print_row(c.name, fmt("%.1f ms", o.t_norva * 1e3), fmt("%.1f ms", o.t_peer * 1e3), r,
                  median(o.ratios), goal, res);
        if (c.spd) {
            const problem &p = problem_of(c.k, c.m);
            const double q = o.lower / p.lambda_min;
            print_row(c.name + " lower/lambda_min", fmt("%.6g", o.lower), fmt("%.6g", p.lambda_min),
                      q, NAN, ">= 0.5", !sound ? "ERROR" : verdict(q >= 0.5));
        }
    }
    for (const memory_row &m : memory_rows) {
        const long dn = m.norva_kb - m.norva_base, dp = m.peer_kb - m.peer_base;
        const bool ok = m.norva_kb >= 0 && m.peer_kb >= 0 && m.norva_base >= 0 && m.peer_base >= 0;
        const double r = ok && dp > 0 ? (double)dn / dp : NAN;
        print_row("memory " + m.name, fmt("%.1f MiB", dn / 1024.0), fmt("%.1f MiB", dp / 1024.0),
                  r, NAN, "<= 3", !ok ? "ERROR (a child failed)" : verdict(r <= 3));
    }
    std::printf("\nDetails of the last norva call of each case\n");
    for (const case_def &c : cases) {
        auto it = outcomes.find(c.name);
        if (it == outcomes.end()) continue;
        const outcome &o = it->second;
        const report &r = o.rep;
        std::printf("  %s (n = %llu, %s): %s", c.name.c_str(),
                    (unsigned long long)problem_of(c.k, c.m).n, peer_name(c.pk),
                    bench::verdict(c.name));
        if (!c.spd && o.status == 0 && o.error.empty()) {
            std::printf(", contains x, median relative width %.3g", o.width);
            if (r.path == norva::sparse::path_cholesky)
                std::printf(", radius %.3g of max |x|", o.radius);
        }
        if (!std::isnan(o.peer_err)) std::printf(", peer error %.2g of max |x|", o.peer_err);
        std::printf("\n    path %s%s, ordering %s, nnz(L) %llu, factorizations %d, refinements %d",
                    r.path == norva::sparse::path_cholesky ? "sparse Cholesky"
                    : r.path == norva::sparse::path_band   ? "band"
                                                           : "none",
                    r.normal ? " (A^T A)" : "", r.ordering, (unsigned long long)r.nnz_l,
                    r.factorizations, r.refinements);
        if (r.path == norva::sparse::path_cholesky)
            std::printf(", shift %.3g, error bound %.3g, lambda %.6g", r.shift, r.error, r.lambda);
        if (r.band_known)
            std::printf("; RCM band kl=%llu ku=%llu", (unsigned long long)r.band_kl,
                        (unsigned long long)r.band_ku);
        if (!o.error.empty()) std::printf("\n    ERROR: %s", o.error.c_str());
        std::printf("\n");
    }
    for (const memory_row &m : memory_rows)
        std::printf("  memory %s: ru_maxrss norva %ld KiB (baseline %ld), peer %ld KiB "
                    "(baseline %ld)\n",
                    m.name.c_str(), m.norva_kb, m.norva_base, m.peer_kb, m.peer_base);
}

}  // namespace

int main(int argc, char **argv) {
    options opt = parse(argc, argv);
    const std::vector<case_def> cases = cases_of(opt);
    // A memory child: --memory-child=CASE,SIDE,BASELINE.
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--memory-child=", 15) == 0) {
            int ci = -1, norva_side = 0, baseline = 0;
            if (std::sscanf(argv[i] + 15, "%d,%d,%d", &ci, &norva_side, &baseline) != 3 || ci < 0 ||
                ci >= (int)cases.size())
                return 2;
            omp_set_num_threads(opt.threads);
            openblas_set_num_threads(opt.threads);
            return memory_child(cases[ci], norva_side != 0, baseline != 0);
        }
    if (!norva::sparse::have_cholmod())
        std::printf("note: this norva has no CHOLMOD; the sparse exports use the band path alone\n");
    if (opt.memory) {
        std::printf("peak memory: one process per side and baseline...\n");
        for (int ci : memory_cases) {
            memory_row row;
            row.name = cases[ci].name;
            long *slot[4] = {&row.norva_base, &row.norva_kb, &row.peer_base, &row.peer_kb};
            for (int s = 0; s < 4; ++s) {
                const int norva_side = s < 2, baseline = s % 2 == 0;
                *slot[s] = child_maxrss(
                    {argv[0], "--threads=" + std::to_string(opt.threads),
                     "--lap3=" + std::to_string(opt.lap3), "--lap2=" + std::to_string(opt.lap2),
                     "--convdiff=" + std::to_string(opt.convdiff),
                     "--memory-child=" + std::to_string(ci) + "," + std::to_string(norva_side) +
                         "," + std::to_string(baseline)});
            }
            if (row.norva_kb < 0 || row.peer_kb < 0 || row.norva_base < 0 || row.peer_base < 0)
                any_error = true;
            memory_rows.push_back(row);
        }
    }
    for (const case_def &c : cases)
        benchmark::RegisterBenchmark(c.name.c_str(), [c](benchmark::State &st) { run_case(st, c); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    static std::string threads_arg;
    threads_arg = "--threads=" + std::to_string(opt.threads);
    opt.rest.push_back(threads_arg.data());  // the default of 1 (the last one counts)
    const int threads = bench::run((int)opt.rest.size(), opt.rest.data(), opt.quick ? 3 : 5);
    summary(cases, threads, opt.quick);
    if (any_error) std::printf("\nERRORS occurred (see above)\n");
    return any_error ? 1 : 0;
}
