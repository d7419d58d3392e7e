// norva lstsq A.mtx [B.mtx] [--alpha a] [--mode 0|1|2] [--blas] [--json]: verified
// least-squares (more rows than columns) or minimum-norm (fewer rows)
// solutions from Matrix Market files.
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

namespace tool {

namespace {

const char lstsq_details[] =
    "Encloses, for the m x n matrix A and the right-hand sides B (m rows;\n"
    "default: one vector of ones), both Matrix Market files:\n"
    "  m >= n: the least-squares solution, the X that minimises |A X - B|\n"
    "          (2-norm, column by column); A needs independent columns;\n"
    "  m < n:  the solution of A X = B of minimum 2-norm; A needs independent\n"
    "          rows.\n"
    "\n"
    "The library proves the bounds on the augmented system of order m + n,\n"
    "[alpha I, A; A^T, 0] (m >= n) or [alpha I, A^T; A, 0] (m < n), which\n"
    "contains X exactly; A is not squared as in the normal equations A^T A.\n"
    "The output is the one of norva solve: for each component the lower and\n"
    "upper bound and the width in units in the last place, then the status,\n"
    "the problem, the time and the method.\n";

struct lstsq_options : linear_options {
    std::string alpha;
} opts;

int run_lstsq() {
    int mode;
    if (!check_linear("lstsq", opts, 2, mode)) return exit_error;
    const bool blas = opts.blas, json = opts.json;
    double alpha = 0;
    if (!opts.alpha.empty()) {
        if (!option_number("lstsq", "--alpha", opts.alpha, alpha)) return exit_error;
        int e;
        if (alpha != 0 && !(alpha > 0 && std::frexp(alpha, &e) == 0.5))
            return fail("lstsq", "--alpha: %s is not a positive power of two (such as 0.25, "
                                 "1, 2 or 0x1p-30; 0 chooses it automatically)",
                        opts.alpha.c_str());
    }
    const std::string &a_path = opts.a_path, &b_path = opts.b_path;

    dense_matrix A, B;
    if (!load_matrix("lstsq", a_path, A) || !load_rhs("lstsq", b_path, A.rows, B))
        return exit_error;
    const uint64_t m = A.rows, n = A.cols, nrhs = B.cols;
    std::vector<double> lo(n * nrhs), hi(n * nrhs);
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t status =
        norva_lstsq(m, n, nrhs, A.v.data(), n, B.v.data(), nrhs, alpha, nullptr, 0, lo.data(),
                    hi.data(), nrhs, mode, blas ? blas_product() : nullptr, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) return fail("lstsq", "the library rejected the problem (status %d)", status);
    if (json) {
        json_writer w;
        json_begin(w, "lstsq");
        json_outcome(w, status, "augmented", mode, blas, solve_method(mode, blas), seconds);
        w.string("problem", m >= n ? "least squares" : "minimum norm");
        w.unsigned_integer("m", m);
        w.unsigned_integer("n", n);
        w.unsigned_integer("nrhs", nrhs);
        w.string("a", a_path);
        w.string_or_null("b", b_path);
        w.unsigned_integer("order", m + n);
        if (alpha == 0)
            w.null("alpha");
        else
            w.exact("alpha", alpha);
        json_enclosures(w, "solution", lo.data(), hi.data(), n, nrhs);
        w.finish();
        return finish_output("lstsq");
    }

    print_enclosures(lo.data(), hi.data(), n, nrhs);
    print_status(status);
    if (m >= n)
        std::printf("problem: least squares, m = %llu >= n = %llu: X minimises |A X - B|\n",
                    (unsigned long long)m, (unsigned long long)n);
    else
        std::printf("problem: minimum norm, m = %llu < n = %llu: the smallest X with A X = B\n",
                    (unsigned long long)m, (unsigned long long)n);
    if (status != 0)
        std::printf("not proven: the %s of A may be linearly dependent or nearly so (mode 2 "
                    "handles ill-conditioned problems)\n",
                    m >= n ? "columns" : "rows");
    char scaling[64];
    if (alpha == 0)
        std::snprintf(scaling, sizeof scaling, "alpha chosen by the library");
    else
        std::snprintf(scaling, sizeof scaling, "alpha = %.17g", alpha);
    std::printf("time %.6f s, A %llu x %llu, %llu right-hand side%s, mode %d: augmented system "
                "of order %llu (%s), %s\n",
                seconds, (unsigned long long)m, (unsigned long long)n, (unsigned long long)nrhs,
                nrhs == 1 ? "" : "s", mode, (unsigned long long)(m + n), scaling,
                solve_method(mode, blas));
    return finish_output("lstsq");
}

}  // namespace

void declare_lstsq(CLI::App &app) {
    CLI::App *cmd =
        cli::command(app, "lstsq", "verified least-squares or minimum-norm solution",
                     lstsq_details, run_lstsq, "too many files (expected A.mtx [B.mtx])");
    declare_linear(cmd, opts, true, 2, solve_mode_help, true);
    cli::value(cmd, "--alpha", opts.alpha, "a", "a number",
               "a power of two > 0 scaling the augmented system (0.5, 1, 0x1p-20); it does not "
               "change X, only how well the proof works.  Default (or 0): chosen by the "
               "library from an estimate of the smallest singular value of A");
}

}  // namespace tool
