// norva solve A.mtx [B.mtx] [--mode 0|1|2] [--blas] [--radius R.mtx |
// --rel-radius r] [--rhs-radius S.mtx] [--dense | --band | --sparse] [--json]: a
// verified solve of a dense, interval, band or sparse system, read from
// Matrix Market files.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "json.h"
#include "linear.h"
#include "matrix_market.h"
#include "norva.h"
#include "sparse.h"

namespace tool {

namespace {

const char solve_details[] =
    "Encloses the solution of A X = B for the square matrix A and the right-hand\n"
    "sides B (default: one vector of ones), both Matrix Market files (array or\n"
    "coordinate; real or integer; general, symmetric or skew-symmetric).\n"
    "Entries are the doubles nearest to the decimal values in the files.\n"
    "\n"
    "For each component: the lower and upper bound (17 significant digits) and\n"
    "the width of the enclosure in units in the last place; then the status\n"
    "(0 all proven, 1 some component unproven: shown as [-inf, inf]), the time\n"
    "and the method.  --json writes the same as a JSON document (norva help\n"
    "explains its conventions).\n"
    "\n"
    "Uncertain data (measurement or modelling errors): with a radius (--radius,\n"
    "--rel-radius, --rhs-radius) the entries are intervals, and the enclosure\n"
    "holds for the solution of every system whose entries lie inside them, not\n"
    "only for the numbers in the files.  The ends a_ij - r_ij and a_ij + r_ij\n"
    "(of the doubles read) are rounded outward, so the intervals solved for\n"
    "contain the exact ones.  Interval systems are solved in mode 0 or 1.  A\n"
    "component stays unproven when the data admit a singular matrix or the\n"
    "radii are too wide for the proof.\n"
    "\n"
    "A coordinate file with n >= 1000 and at most n^2/10 entries (mirror images\n"
    "of a symmetric file counted) takes the sparse path unless --dense, --band,\n"
    "--mode 2, --blas, radii or several right-hand sides are given; such a file\n"
    "is never expanded into a dense array.  The band and sparse paths take one\n"
    "right-hand side, mode 0 or 1, no --blas (they make no matrix products) and\n"
    "no radii.  They prove one bound on the 2-norm of the error and widen every\n"
    "component by it, so their enclosures are wider than the dense solver's;\n"
    "the work grows with n w^2 for a band of w diagonals instead of n^3.  The\n"
    "output names the path and the bandwidths lower/upper (--sparse: before\n"
    "and after the renumbering); the sparse path also names the factorization\n"
    "that ran (band Cholesky with its bandwidth, or sparse Cholesky with its\n"
    "ordering, the entries of the factor and the fill: entries of the factor\n"
    "per entry of the lower triangle of A), the matrix factored (A or A^T A),\n"
    "lambda_low, a proven lower bound of its smallest eigenvalue, and the\n"
    "radius of the enclosures.\n";

struct solve_options : linear_options {
    std::string r_path, s_path, rel;
    bool dense = false, band = false, sparse = false;
} opts;

// The sparse path is the default for a coordinate file with n >= sparse_min_n
// and at most n^2 / 10 entries: below that order the dense solver is quick
// and its componentwise bounds are tighter.
constexpr uint64_t sparse_min_n = 1000;

// Longest band array the band path allocates, in doubles (1 GiB), as the
// sparse solver does.
constexpr uint64_t band_limit = uint64_t(1) << 27;

enum class path { automatic, dense, band, sparse };

// "n", "nrhs" and the files of the system.
void json_problem(json_writer &w, uint64_t n, uint64_t nrhs, const std::string &a_path,
                  const std::string &b_path) {
    w.unsigned_integer("n", n);
    w.unsigned_integer("nrhs", nrhs);
    w.string("a", a_path);
    w.string_or_null("b", b_path);
}

// {"lower": kl, "upper": ku}.
void json_band(json_writer &w, const char *key, uint64_t kl, uint64_t ku) {
    w.begin_object(key);
    w.unsigned_integer("lower", kl);
    w.unsigned_integer("upper", ku);
    w.end_object();
}

// The band path (`band`) or the sparse path for the square matrix `list`
// (from a_path) and the right-hand side b; prints the enclosures, the path
// and the time.
int solve_structured(bool band, bool automatic, const entry_list &list, const std::string &a_path,
                     const std::string &b_path, const std::vector<double> &b, int mode,
                     bool json) {
    const csr_matrix a = to_csr(list);
    const uint64_t n = a.n;
    uint64_t kl, ku;
    bandwidths(a, band, kl, ku);
    norva::sparse::report rep;
    std::vector<double> lo(n), hi(n);
    std::string how;
    int32_t status;
    double seconds;
    if (band) {
        const uint64_t ldab = kl + ku + 1;
        if (band_limit / n < ldab)
            return fail("solve", "%s: the band of bandwidths %s needs %llu x %llu doubles, more "
                                 "than 2^27; --sparse may renumber it into a narrower band",
                        a_path.c_str(), band_pair(kl, ku).c_str(), (unsigned long long)n,
                        (unsigned long long)ldab);
        std::vector<double> ab(ldab * n, 0.0);
        for (uint64_t i = 0; i < n; ++i)
            for (uint64_t e = a.row_ptr[i]; e < a.row_ptr[i + 1]; ++e)
                if (a.val[e] != 0) ab[i * ldab + kl + a.col_idx[e] - i] = a.val[e];
        const auto t0 = std::chrono::steady_clock::now();
        status = norva_solve_band(n, kl, ku, ab.data(), ldab, b.data(), lo.data(), hi.data(), mode);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        how = "band path (norva_solve_band): bandwidths " + band_pair(kl, ku) +
              " from the nonzeros of the file";
    } else {
        const auto t0 = std::chrono::steady_clock::now();
        status = norva::sparse::solve_sparse(n, a.row_ptr.data(), a.col_idx.data(), a.val.data(),
                                             b.data(), lo.data(), hi.data(), mode, &rep);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Without CHOLMOD the band path is the only one, and a band beyond
        // its limit is refused; with CHOLMOD such a matrix goes to the
        // sparse Cholesky factor.
        if (status < 0 && !norva::sparse::have_cholmod() && rep.band_known &&
            band_limit / n < rep.band_kl + rep.band_ku + 1)
            return fail("solve", "%s: the renumbered band (bandwidths %s) needs more than 2^27 "
                                 "doubles, the sparse solver's limit (this library has no sparse "
                                 "Cholesky path: it was built without CHOLMOD)",
                        a_path.c_str(), band_pair(rep.band_kl, rep.band_ku).c_str());
        how = std::string("sparse path (norva_solve_sparse") +
              (automatic ? ", chosen for a coordinate file with " + std::to_string(a.val.size()) +
                               " entries, at most n^2/10, and n >= " +
                               std::to_string(sparse_min_n)
                         : std::string()) +
              "): bandwidth " + band_pair(kl, ku) + " before, " +
              (rep.band_known ? band_pair(rep.band_kl, rep.band_ku) : std::string("unknown")) +
              " after reordering\nfactorization: " +
              factorization_text(rep, lower_entries(a), true);
        if (report_has_bound(rep)) {
            char proof[256];
            std::snprintf(proof, sizeof proof,
                          "\nproof: lambda_low %.17g (proven lower bound of the smallest "
                          "eigenvalue of %s), shift %.17g, error bound %.3g",
                          rep.lambda, rep.normal ? "A^T A" : "A", rep.shift, rep.error);
            how += proof;
            if (status == 0) {
                std::snprintf(proof, sizeof proof, ", radius %.3g", rep.radius);
                how += proof;
            }
            how += "; " + std::to_string(rep.factorizations) + " factorization" +
                   (rep.factorizations == 1 ? "" : "s") + ", " +
                   std::to_string(rep.refinements) + " refinement step" +
                   (rep.refinements == 1 ? "" : "s");
        }
    }
    if (status < 0)
        return band ? fail("solve", "the library rejected the system (status %d)", status)
                    : fail("solve", "the library could not solve the system (status %d: out of "
                                    "memory)",
                           status);
    const char *method = band ? band_method(mode) : sparse_method(mode, rep);
    if (json) {
        json_writer w;
        json_begin(w, "solve");
        json_outcome(w, status, band ? "band" : "sparse", mode, false, method, seconds);
        json_problem(w, n, 1, a_path, b_path);
        json_band(w, "bandwidths", kl, ku);
        if (!band) {
            w.boolean("automatic", automatic);
            if (rep.band_known)
                json_band(w, "reordered_bandwidths", rep.band_kl, rep.band_ku);
            else
                w.null("reordered_bandwidths");
            json_report(w, rep, lower_entries(a), true);
            if (status == 0 && report_has_bound(rep))
                w.exact("radius", rep.radius);
            else
                w.null("radius");
        }
        json_enclosures(w, "solution", lo.data(), hi.data(), n, 1);
        w.finish();
        return finish_output("solve");
    }
    print_enclosures(lo.data(), hi.data(), n, 1);
    print_status(status);
    std::printf("%s\n", how.c_str());
    if (automatic && status != 0)
        std::printf("not proven on the sparse path; --dense tries the dense solver\n");
    std::printf("time %.6f s, n = %llu, 1 right-hand side, mode %d: %s\n", seconds,
                (unsigned long long)n, mode, method);
    return finish_output("solve");
}

// The radii of `data` (named `data_name`) from the file at `path`: the same
// shape, every entry nonnegative.  False after a message.
bool load_radius(const std::string &path, const dense_matrix &data, const std::string &data_name,
                 dense_matrix &r) {
    if (!load_matrix("solve", path, r)) return false;
    if (r.rows != data.rows || r.cols != data.cols) {
        fail("solve", "%s: the radii are %llu x %llu, but %s is %llu x %llu", path.c_str(),
             (unsigned long long)r.rows, (unsigned long long)r.cols, data_name.c_str(),
             (unsigned long long)data.rows, (unsigned long long)data.cols);
        return false;
    }
    for (uint64_t i = 0; i < r.rows; ++i)
        for (uint64_t j = 0; j < r.cols; ++j)
            if (!(r.at(i, j) >= 0)) {
                fail("solve", "%s: entry (%llu, %llu) is %.17g; a radius must be nonnegative",
                     path.c_str(), (unsigned long long)(i + 1), (unsigned long long)(j + 1),
                     r.at(i, j));
                return false;
            }
    return true;
}

// Interval ends lo <= d - rad and hi >= d + rad entrywise, where rad is the
// matrix `rad` (when given), or rel |d| (rel >= 0).  False after a message
// when an end is beyond the range of doubles.
bool interval_ends(const dense_matrix &d, const std::string &name, const dense_matrix *rad,
                   double rel, std::vector<double> &lo, std::vector<double> &hi) {
    lo.resize(d.v.size());
    hi.resize(d.v.size());
    for (uint64_t i = 0; i < d.rows; ++i)
        for (uint64_t j = 0; j < d.cols; ++j) {
            const double a = d.v[i * d.cols + j];
            const double r = rad ? rad->v[i * d.cols + j] : scaled_radius(rel, a);
            if (!widen(a, r, lo[i * d.cols + j], hi[i * d.cols + j])) {
                fail("solve", "%s: entry (%llu, %llu) plus or minus its radius is beyond the "
                              "range of doubles",
                     name.c_str(), (unsigned long long)(i + 1), (unsigned long long)(j + 1));
                return false;
            }
        }
    return true;
}

int run_solve() {
    int mode;
    if (!check_linear("solve", opts, 2, mode)) return exit_error;
    const bool blas = opts.blas, json = opts.json, relative = !opts.rel.empty();
    const std::string &a_path = opts.a_path, &b_path = opts.b_path, &r_path = opts.r_path,
                      &s_path = opts.s_path, &rel_text = opts.rel;
    if (opts.dense + opts.band + opts.sparse > 1)
        return fail("solve", "choose one of --dense, --band and --sparse");
    const path choice = opts.dense  ? path::dense
                        : opts.band ? path::band
                        : opts.sparse ? path::sparse
                                      : path::automatic;
    double rel = 0;
    if (relative) {
        if (!option_number("solve", "--rel-radius", rel_text, rel)) return exit_error;
        if (!(rel >= 0)) return fail("solve", "--rel-radius: %s is negative", rel_text.c_str());
    }
    if (relative && !r_path.empty())
        return fail("solve", "--radius and --rel-radius both give the radii of A; choose one");
    const bool interval = relative || !r_path.empty() || !s_path.empty();
    if (interval && mode == 2)
        return fail("solve", "--mode 2 does not take radii: interval systems are solved in "
                             "mode 0 or 1");

    const bool structured = choice == path::band || choice == path::sparse;
    const char *flag = choice == path::band ? "--band" : "--sparse";
    if (structured && interval)
        return fail("solve", "%s does not take radii: interval systems are solved dense", flag);
    if (structured && mode == 2)
        return fail("solve", "%s solves in mode 0 or 1 (--mode 2 is for dense systems)", flag);
    if (structured && blas)
        return fail("solve", "%s does not take --blas: the band solver makes no matrix products",
                    flag);

    // A coordinate file stays a list of entries unless only the dense
    // solver can take the system.
    stored_matrix stored;
    std::string error;
    const bool dense_only = choice == path::dense || interval || mode == 2 || blas;
    if (!(dense_only ? read_matrix_market_file(a_path, stored.dense, error)
                     : read_matrix_market_file(a_path, stored, error)))
        return fail("solve", "%s", error.c_str());
    const uint64_t rows = stored.listed ? stored.list.rows : stored.dense.rows,
                   cols = stored.listed ? stored.list.cols : stored.dense.cols;
    if (rows != cols)
        return fail("solve", "%s: the matrix is %llu x %llu, not square", a_path.c_str(),
                    (unsigned long long)rows, (unsigned long long)cols);
    const uint64_t n = rows;
    dense_matrix A, B, RA, RB;
    if (!load_rhs("solve", b_path, n, B)) return exit_error;
    const bool automatic = choice == path::automatic && !dense_only && stored.listed &&
                           B.cols == 1 && n >= sparse_min_n &&
                           stored.list.val.size() <= n * n / 10;
    if (structured || automatic) {
        if (B.cols != 1)
            return fail("solve", "%s takes one right-hand side; %s has %llu columns", flag,
                        b_path.c_str(), (unsigned long long)B.cols);
        return solve_structured(choice == path::band, automatic,
                                stored.listed ? stored.list : nonzeros(stored.dense), a_path,
                                b_path, B.v, mode, json);
    }
    if (!stored.listed)
        A = std::move(stored.dense);
    else if (n * n > (1ull << 28))
        return fail("solve", "%s: a %llu x %llu matrix is too large for a dense solve; --sparse "
                             "or --band solve it in band storage",
                    a_path.c_str(), (unsigned long long)n, (unsigned long long)n);
    else
        A = to_dense(stored.list);
    const std::string b_name = b_path.empty() ? "the right-hand side of ones" : b_path;
    const uint64_t nrhs = B.cols;
    std::vector<double> a_lo, a_hi, b_lo, b_hi;
    if (interval) {
        if (!r_path.empty() && !load_radius(r_path, A, a_path, RA)) return exit_error;
        if (!s_path.empty() && !load_radius(s_path, B, b_name, RB)) return exit_error;
        if (!interval_ends(A, a_path, r_path.empty() ? nullptr : &RA, rel, a_lo, a_hi) ||
            !interval_ends(B, b_name, s_path.empty() ? nullptr : &RB, 0, b_lo, b_hi))
            return exit_error;
    }
    std::vector<double> lo(n * nrhs), hi(n * nrhs);
    const norva_gemm_fn gemm = blas ? blas_product() : nullptr;
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t status =
        interval ? norva_solve_interval(n, nrhs, a_lo.data(), a_hi.data(), n, b_lo.data(),
                                        b_hi.data(), nrhs, nullptr, 0, lo.data(), hi.data(), nrhs,
                                        mode, gemm, nullptr)
                 : norva_solve_many(n, nrhs, A.v.data(), n, B.v.data(), nrhs, nullptr, 0,
                                    lo.data(), hi.data(), nrhs, mode, gemm, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) return fail("solve", "the library rejected the system (status %d)", status);

    if (json) {
        json_writer w;
        json_begin(w, "solve");
        json_outcome(w, status, interval ? "interval" : "dense", mode, blas,
                     solve_method(mode, blas), seconds);
        json_problem(w, n, nrhs, a_path, b_path);
        if (interval) {
            w.string_or_null("radius", r_path);
            if (relative)
                w.number("rel_radius", rel);
            else
                w.null("rel_radius");
            w.string_or_null("rhs_radius", s_path);
        }
        json_enclosures(w, "solution", lo.data(), hi.data(), n, nrhs);
        w.finish();
        return finish_output("solve");
    }
    print_enclosures(lo.data(), hi.data(), n, nrhs);
    print_status(status);
    if (interval) {
        const std::string a_range =
            relative ? a_path + " +- " + rel_text + " |a_ij|"
                     : r_path.empty() ? a_path : a_path + " +- " + r_path;
        const std::string b_range = s_path.empty() ? b_name : b_name + " +- " + s_path;
        std::printf("interval data: the %s hold for the solution of every system A X = B with A "
                    "in %s and B in %s (ends rounded outward)\n",
                    status == 0 ? "bounds" : "proven bounds", a_range.c_str(), b_range.c_str());
    }
    std::printf("time %.6f s, n = %llu, %llu right-hand side%s, mode %d: %s%s\n", seconds,
                (unsigned long long)n, (unsigned long long)nrhs, nrhs == 1 ? "" : "s", mode,
                interval ? "interval system, " : "", solve_method(mode, blas));
    return finish_output("solve");
}

}  // namespace

void declare_solve(CLI::App &app) {
    CLI::App *cmd =
        cli::command(app, "solve", "verified solve of a dense, interval, band or sparse system",
                     solve_details, run_solve, "too many files (expected A.mtx [B.mtx])");
    declare_linear(cmd, opts, true, 2, solve_mode_help, true);
    cli::value(cmd, "--radius", opts.r_path, "R.mtx", "a Matrix Market file of radii",
               "a_ij lies in [a_ij - r_ij, a_ij + r_ij]; R has the shape of A, entries >= 0");
    cli::value(cmd, "--rel-radius", opts.rel, "r", "a number",
               "a_ij lies in [a_ij - r |a_ij|, a_ij + r |a_ij|], r >= 0 (r = 1e-3 for "
               "coefficients known to 0.1 percent)");
    cli::value(cmd, "--rhs-radius", opts.s_path, "S.mtx", "a Matrix Market file of radii",
               "b_ij lies in [b_ij - s_ij, b_ij + s_ij]; S has the shape of B, entries >= 0");
    cli::flag(cmd, "--band", opts.band,
              "the band solver, with the bandwidths of the nonzeros of A (the largest i - j and "
              "j - i)");
    cli::flag(cmd, "--sparse", opts.sparse,
              "the sparse solver: a reverse Cuthill-McKee renumbering of A into a band for the "
              "band solver, or (a library built with CHOLMOD) a fill-reducing ordering and a "
              "sparse Cholesky factorization of A or A^T A; the band when it is narrow or the "
              "matrix fills a quarter of it, the sparse factor otherwise");
    cli::flag(cmd, "--dense", opts.dense, "the dense solver, whatever the file");
}

}  // namespace tool
