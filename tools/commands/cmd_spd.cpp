// norva spd A.mtx [--mode 0|1] [--blas] [--factor L.mtx --shift s]
// [--dense | --sparse] [--json]: a proof that a symmetric matrix is positive
// definite, with a guaranteed lower bound of its smallest eigenvalue, by the
// dense driver or the sparse one.
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

const char spd_details[] =
    "Proves that the symmetric matrix A (a Matrix Market file; a file whose\n"
    "banner says \"symmetric\" stores one triangle) is positive definite, and\n"
    "prints a guaranteed lower bound of its smallest eigenvalue.\n"
    "\n"
    "The proof: for a shift s and a matrix L with A - s I close to L L^T, the\n"
    "library bounds the spectral norm of the residual A - s I - L L^T by g\n"
    "rigorously.  L L^T is positive semidefinite, so the smallest eigenvalue of\n"
    "A is at least s - g, and s - g > 0 proves A positive definite.\n"
    "\n"
    "By default the library chooses the shift and factors A - s I itself\n"
    "(Cholesky); it does not report the shift or the factor, so neither is\n"
    "printed.  With --factor and --shift it verifies a factor of your own\n"
    "instead: any n x n matrix L (every entry takes part in L L^T) with\n"
    "L L^T close to A - s I.\n"
    "\n"
    "Output: the status (0 proven; 1 not proven), the lower bound (-inf when\n"
    "no bound could be formed), the path of the proof, the time and the method.\n"
    "Status 1 is not a proof of the contrary; the tool says so when a diagonal\n"
    "entry of A is not positive, which does show that A is not positive\n"
    "definite.  A must be exactly symmetric: a(i, j) and a(j, i) the same number.\n"
    "\n"
    "The sparse driver factors A - s I for a shift s of its own choice in band\n"
    "storage after a reverse Cuthill-McKee renumbering (a narrow band, or a\n"
    "band the matrix fills to a quarter), or otherwise (a library built with\n"
    "CHOLMOD) by a sparse Cholesky factorization after a fill-reducing\n"
    "ordering, and bounds the error of the factor a priori in both modes;\n"
    "when that fails it tries once more on A scaled by powers of two that\n"
    "bring its diagonal into [0.5, 2).  A coordinate file with n >= 1000 and\n"
    "at most n^2/10 entries (mirror images of a symmetric file counted) takes\n"
    "it unless --dense, --blas or --factor is given; such a file is never\n"
    "expanded into a dense array.  It takes no --blas and no --factor.  Its\n"
    "output names the factorization that ran (band Cholesky with its\n"
    "bandwidth, or sparse Cholesky with its ordering, the entries of the\n"
    "factor and the fill: entries of the factor per entry of the lower\n"
    "triangle of A), lambda_low (the proven lower bound), the shift and the\n"
    "error bound of the factor.\n";

// The sparse driver is the default for a coordinate file with n >=
// sparse_min_n and at most n^2 / 10 entries, as for `norva solve`.
constexpr uint64_t sparse_min_n = 1000;

enum class driver { automatic, dense, sparse };

struct spd_options : linear_options {
    std::string l_path, shift;
    bool dense = false, sparse = false;
} opts;

const char *spd_method(int mode, bool blas) {
    if (mode == 0)
        return blas ? "residual formed exactly (Ozaki scheme through OpenBLAS)"
                    : "residual formed exactly (Ozaki scheme)";
    return blas ? "floating-point products with an a priori error bound through OpenBLAS"
                : "floating-point products with an a priori error bound";
}

// "nonpositive_diagonal": the 1-based index of a diagonal entry that is
// not positive, or null.
void json_nonpositive(json_writer &w, uint64_t bad_diagonal, uint64_t n) {
    if (bad_diagonal < n)
        w.unsigned_integer("nonpositive_diagonal", bad_diagonal + 1);
    else
        w.null("nonpositive_diagonal");
}

// The status and the lower bound, as both drivers print them.
void print_outcome(int32_t status, double lower) {
    std::printf("status %d (%s)\n", status,
                status == 0 ? "positive definite: proven" : "positive definiteness not proven");
    if (std::isinf(lower))
        std::printf("lower bound of the smallest eigenvalue: none (no bound could be formed)\n");
    else
        std::printf("lower bound of the smallest eigenvalue: %.17g  (%a)%s\n", lower, lower,
                    lower > 0     ? ""
                    : status == 0 ? ", A proven positive definite; the bound underflowed"
                                  : ", not positive: no proof");
}

const char *sparse_spd_method =
    "shifted sparse Cholesky factor with an a priori bound of its error";

// The sparse driver on the square list `list` (from a_path).
int spd_sparse_path(const entry_list &given, bool automatic, const std::string &a_path, int mode,
                    bool json) {
    // Entries holding zero change nothing and would only make the pattern
    // unsymmetric.
    const entry_list list = without_zeros(given);
    uint64_t i, j;
    double aij, aji;
    if (!symmetric_entries(list, i, j, aij, aji))
        return fail("spd",
                    "%s: the matrix is not symmetric: entry (%llu, %llu) is %.17g but (%llu, "
                    "%llu) is %.17g; only an exactly symmetric matrix can be proven positive "
                    "definite",
                    a_path.c_str(), (unsigned long long)(i + 1), (unsigned long long)(j + 1), aij,
                    (unsigned long long)(j + 1), (unsigned long long)(i + 1), aji);
    const csr_matrix a = to_csr(list);
    const uint64_t n = a.n;
    norva::sparse::report rep;
    double lower = -INFINITY;
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t status = norva::sparse::spd_sparse(n, a.row_ptr.data(), a.col_idx.data(),
                                                     a.val.data(), &lower, mode, &rep);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) return fail("spd", "the library rejected the matrix (status %d)", status);

    // A diagonal entry that is not positive (0 when not listed) disproves
    // definiteness.
    uint64_t bad_diagonal = n;
    double bad_value = 0;
    if (status != 0)
        for (uint64_t r = 0; r < n && bad_diagonal == n; ++r) {
            double d = 0;
            for (uint64_t e = a.row_ptr[r]; e < a.row_ptr[r + 1]; ++e)
                if (a.col_idx[e] == r) d = a.val[e];
            if (!(d > 0)) bad_diagonal = r, bad_value = d;
        }
    const uint64_t lower_count = lower_entries(a);
    if (json) {
        json_writer w;
        json_begin(w, "spd");
        json_outcome(w, status, "sparse", mode, false, sparse_spd_method, seconds);
        w.unsigned_integer("n", n);
        w.string("a", a_path);
        w.exact("lower", lower);
        w.null("factor");
        w.boolean("automatic", automatic);
        json_report(w, rep, lower_count, false);
        json_nonpositive(w, bad_diagonal, n);
        w.finish();
        return finish_output("spd");
    }
    print_outcome(status, lower);
    std::printf("path: sparse (norva_spd_sparse%s): %s\n",
                automatic ? (", chosen for a coordinate file with " +
                             std::to_string(given.val.size()) +
                             " entries, at most n^2/10, and n >= " + std::to_string(sparse_min_n))
                                .c_str()
                          : "",
                factorization_text(rep, lower_count, false).c_str());
    if (report_has_bound(rep) && rep.scaled)
        std::printf("proven on D A D, D = diag(2^e_i) bringing the diagonal into [0.5, 2): "
                    "lambda_low %.17g of D A D from its factor with the shift s = %.17g and the "
                    "error bound %.3g, scaled back by the smallest 2^(-2 e_i)\n",
                    rep.lambda, rep.shift, rep.error);
    else if (report_has_bound(rep))
        std::printf("lambda_low %.17g from the factor of A - s I with the shift s = %.17g and the "
                    "error bound %.3g\n",
                    rep.lambda, rep.shift, rep.error);
    if (bad_diagonal < n)
        std::printf("A is not positive definite: its diagonal entry (%llu, %llu) = %.17g is not "
                    "positive (e^T A e for the unit vector e)\n",
                    (unsigned long long)(bad_diagonal + 1), (unsigned long long)(bad_diagonal + 1),
                    bad_value);
    std::printf("time %.6f s, n = %llu, mode %d: %s\n", seconds, (unsigned long long)n, mode,
                sparse_spd_method);
    return finish_output("spd");
}

int run_spd() {
    int mode;
    if (!check_linear("spd", opts, 1, mode)) return exit_error;
    const bool blas = opts.blas, json = opts.json, have_shift = !opts.shift.empty();
    const std::string &a_path = opts.a_path, &l_path = opts.l_path;
    if (opts.dense && opts.sparse) return fail("spd", "choose one of --dense and --sparse");
    const driver choice =
        opts.dense ? driver::dense : opts.sparse ? driver::sparse : driver::automatic;
    double shift = 0;
    if (have_shift && !option_number("spd", "--shift", opts.shift, shift)) return exit_error;
    if (l_path.empty() != !have_shift)
        return fail("spd", "--factor and --shift go together: the shift s with L L^T close to "
                           "A - s I");

    if (choice == driver::sparse && !l_path.empty())
        return fail("spd", "--sparse does not take --factor and --shift: the sparse driver "
                           "chooses its own shift and factor");
    if (choice == driver::sparse && blas)
        return fail("spd", "--sparse does not take --blas: the sparse driver makes no matrix "
                           "products");

    // A coordinate file stays a list of entries unless only the dense
    // driver can take it.
    dense_matrix A, L;
    if (choice == driver::dense || !l_path.empty() || blas) {
        if (!load_matrix("spd", a_path, A)) return exit_error;
    } else {
        stored_matrix stored;
        std::string error;
        if (!read_matrix_market_file(a_path, stored, error))
            return fail("spd", "%s", error.c_str());
        const uint64_t rows = stored.listed ? stored.list.rows : stored.dense.rows,
                       cols = stored.listed ? stored.list.cols : stored.dense.cols;
        if (rows != cols)
            return fail("spd", "%s: the matrix is %llu x %llu, not square", a_path.c_str(),
                        (unsigned long long)rows, (unsigned long long)cols);
        const bool automatic = choice == driver::automatic && stored.listed &&
                               rows >= sparse_min_n && stored.list.val.size() <= rows * rows / 10;
        if (choice == driver::sparse || automatic)
            return spd_sparse_path(stored.listed ? stored.list : nonzeros(stored.dense),
                                   automatic, a_path, mode, json);
        if (!stored.listed)
            A = std::move(stored.dense);
        else if (rows * rows > (1ull << 28))
            return fail("spd", "%s: a %llu x %llu matrix is too large for the dense driver; "
                               "--sparse proves it in sparse storage",
                        a_path.c_str(), (unsigned long long)rows, (unsigned long long)rows);
        else
            A = to_dense(stored.list);
    }
    if (!require_symmetric("spd", a_path, A,
                           "only an exactly symmetric matrix can be proven positive definite"))
        return exit_error;
    const uint64_t n = A.rows;
    if (!l_path.empty()) {
        if (!load_matrix("spd", l_path, L)) return exit_error;
        if (L.rows != n || L.cols != n)
            return fail("spd", "%s: the factor is %llu x %llu, but %s is %llu x %llu",
                        l_path.c_str(), (unsigned long long)L.rows, (unsigned long long)L.cols,
                        a_path.c_str(), (unsigned long long)n, (unsigned long long)n);
    }

    double lower = -INFINITY;
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t status = norva_spd(n, A.v.data(), n, l_path.empty() ? nullptr : L.v.data(), n,
                                     shift, &lower, mode, blas ? blas_product() : nullptr, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) return fail("spd", "the library rejected the matrix (status %d)", status);

    // A diagonal entry that is not positive disproves definiteness.
    uint64_t bad_diagonal = n;
    if (status != 0)
        for (uint64_t i = 0; i < n && bad_diagonal == n; ++i)
            if (!(A.at(i, i) > 0)) bad_diagonal = i;
    if (json) {
        json_writer w;
        json_begin(w, "spd");
        json_outcome(w, status, l_path.empty() ? "automatic" : "factor", mode, blas,
                     spd_method(mode, blas), seconds);
        w.unsigned_integer("n", n);
        w.string("a", a_path);
        w.exact("lower", lower);
        w.string_or_null("factor", l_path);
        if (l_path.empty())
            w.null("shift");
        else
            w.exact("shift", shift);
        json_nonpositive(w, bad_diagonal, n);
        w.finish();
        return finish_output("spd");
    }
    print_outcome(status, lower);
    if (l_path.empty())
        std::printf("path: automatic (the library chose the shift and the factor; it does not "
                    "report them)\n");
    else
        std::printf("path: the factor %s with the shift %.17g%s\n", l_path.c_str(), shift,
                    shift > 0 ? "" : " (a shift that is not positive cannot prove anything)");
    if (bad_diagonal < n)
        std::printf("A is not positive definite: its diagonal entry (%llu, %llu) = %.17g is not "
                    "positive (e^T A e for the unit vector e)\n",
                    (unsigned long long)(bad_diagonal + 1), (unsigned long long)(bad_diagonal + 1),
                    A.at(bad_diagonal, bad_diagonal));
    std::printf("time %.6f s, n = %llu, mode %d: %s\n", seconds, (unsigned long long)n, mode,
                spd_method(mode, blas));
    return finish_output("spd");
}

}  // namespace

void declare_spd(CLI::App &app) {
    CLI::App *cmd =
        cli::command(app, "spd", "prove positive definiteness, bound the smallest eigenvalue",
                     spd_details, run_spd,
                     "too many files (expected A.mtx; a factor goes with --factor)");
    declare_linear(cmd, opts, false, 1,
                   "--mode 0: residual formed exactly, rounded once (the default); --mode 1: "
                   "floating-point products with an a priori error bound",
                   true);
    cli::value(cmd, "--factor", opts.l_path, "L.mtx", "a Matrix Market file",
               "verify this factor (needs --shift)");
    cli::value(cmd, "--shift", opts.shift, "s", "a number",
               "the shift of the factor; it must be positive for a proof");
    cli::flag(cmd, "--sparse", opts.sparse,
              "the sparse driver (norva_spd_sparse), whatever the file");
    cli::flag(cmd, "--dense", opts.dense, "the dense driver (norva_spd), whatever the file");
}

}  // namespace tool
