// norva eig A.mtx [--mode 0|1] [--blas] [--vectors V.mtx --values d.mtx] [--json]:
// enclosures of all eigenvalues of a symmetric matrix, and which of them
// the enclosures do not separate.
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

const char eig_details[] =
    "Encloses every eigenvalue of the symmetric matrix A (a Matrix Market file;\n"
    "a file whose banner says \"symmetric\" stores one triangle): row i bounds\n"
    "the i-th smallest eigenvalue, multiplicities counted.\n"
    "\n"
    "The proof: for approximate eigenvectors V (columns) and eigenvalues d, the\n"
    "library bounds the loss of orthogonality V^T V - I and the residual\n"
    "A V - V diag(d) rigorously, entry by entry; their norms bound how far the\n"
    "i-th smallest d can be from the i-th smallest eigenvalue.  No gap between\n"
    "eigenvalues is needed: multiple and clustered ones are enclosed as well.\n"
    "An eigenvalue whose enclosure meets neither neighbour's is simple; it is\n"
    "then enclosed again from its own vector (the Rayleigh quotient, within\n"
    "residual^2 / gap: the Kato-Temple bound), usually to an ulp or two in\n"
    "mode 0.\n"
    "\n"
    "By default the library computes V and d itself (Jacobi method).  With\n"
    "--vectors and --values it verifies a decomposition of your own instead\n"
    "(from another solver, say): V n x n with one eigenvector per column, d a\n"
    "vector of n values, d(j) for column j, in any order.\n"
    "\n"
    "Output: for each eigenvalue, ascending, the lower and upper bound (17\n"
    "significant digits), the width, also in units in the last place, and\n"
    "\"simple\" or the run of overlapping enclosures it belongs to; then the\n"
    "enclosures that overlap.  Overlapping enclosures mean that those\n"
    "eigenvalues are not separated at this precision: they may be equal or\n"
    "merely close, and nothing more is claimed.  An enclosure that overlaps no\n"
    "other holds a simple eigenvalue.  Then the status (0 proven; 1 not\n"
    "proven: every enclosure is [-inf, inf] and nothing is known), the time\n"
    "and the method.  A must be exactly symmetric: a(i, j) and a(j, i) the\n"
    "same number.\n"
    "\n"
    "With --json the overlapping enclosures are listed in \"overlaps\", and\n"
    "\"simple\" holds true or false per eigenvalue.\n";

struct eig_options : linear_options {
    std::string v_path, d_path;
} opts;

const char *eig_method(int mode, bool blas) {
    if (mode == 0)
        return blas ? "V^T V - I and A V - V D formed exactly (Ozaki scheme through OpenBLAS)"
                    : "V^T V - I and A V - V D formed exactly (Ozaki scheme)";
    return blas ? "products in floating point with a priori error bounds through OpenBLAS"
                : "products in floating point with a priori error bounds";
}

// The enclosures with their widths and, for each, "simple" (it meets no
// other enclosure) or the run of overlapping ones it is in.
void print_eig_table(const double *lo, const double *hi, uint64_t n) {
    std::printf("%8s  %24s  %24s  %-9s  %s\n", "i", "lower", "upper", "width", "width (ulp)");
    for (uint64_t first = 0; first < n;) {
        double top;
        const uint64_t last = overlap_run(lo, hi, n, first, &top);
        for (uint64_t i = first; i <= last; ++i) {
            char note[64];
            if (last == first)
                std::snprintf(note, sizeof note, "simple");
            else
                std::snprintf(note, sizeof note, "overlaps %llu-%llu",
                              (unsigned long long)(first + 1), (unsigned long long)(last + 1));
            std::printf("%8llu  %24.17g  %24.17g  %-9.3g  %-11llu  %s\n",
                        (unsigned long long)(i + 1), lo[i], hi[i], hi[i] - lo[i],
                        (unsigned long long)ulps_between(lo[i], hi[i]), note);
        }
        first = last + 1;
    }
}

// The runs of enclosures that overlap, one line each, then how many stand
// alone.
void print_overlaps(const double *lo, const double *hi, uint64_t n) {
    uint64_t alone = 0;
    for (uint64_t first = 0; first < n;) {
        double top;
        const uint64_t last = overlap_run(lo, hi, n, first, &top);
        if (last == first)
            ++alone;
        else
            std::printf("eigenvalues %llu-%llu overlap: not separated at this precision (equal "
                        "or merely close; %llu eigenvalues in [%.17g, %.17g])\n",
                        (unsigned long long)(first + 1), (unsigned long long)(last + 1),
                        (unsigned long long)(last - first + 1), lo[first], top);
        first = last + 1;
    }
    if (alone == n)
        std::printf("no enclosures overlap: %llu simple eigenvalue%s, each separated from the "
                    "others\n",
                    (unsigned long long)n, n == 1 ? "" : "s");
    else if (alone > 0)
        std::printf("separated: the other %llu enclosure%s overlap%s no other, simple "
                    "eigenvalue%s\n",
                    (unsigned long long)alone, alone == 1 ? "" : "s", alone == 1 ? "s" : "",
                    alone == 1 ? "" : "s");
}

// The runs of overlapping enclosures (proven ones only) as "overlaps":
// [{"first": i, "last": j, "lo": ..., "hi": ...}], 1-based indices.
void json_overlaps(json_writer &w, bool proven, const double *lo, const double *hi, uint64_t n) {
    w.begin_array("overlaps");
    for (uint64_t first = 0; proven && first < n;) {
        double top;
        const uint64_t last = overlap_run(lo, hi, n, first, &top);
        if (last > first) {
            w.begin_object(nullptr);
            w.unsigned_integer("first", first + 1);
            w.unsigned_integer("last", last + 1);
            w.exact("lo", lo[first]);
            w.exact("hi", top);
            w.end_object();
        }
        first = last + 1;
    }
    w.end_array();
}

int run_eig() {
    int mode;
    if (!check_linear("eig", opts, 1, mode)) return exit_error;
    const bool blas = opts.blas, json = opts.json;
    const std::string &a_path = opts.a_path, &v_path = opts.v_path, &d_path = opts.d_path;
    if (v_path.empty() != d_path.empty())
        return fail("eig", "--vectors and --values go together: the eigenvectors V and the "
                           "eigenvalues d with A V close to V diag(d)");

    dense_matrix A, V, d;
    if (!load_matrix("eig", a_path, A)) return exit_error;
    if (!require_symmetric("eig", a_path, A,
                           "the enclosures hold for an exactly symmetric matrix only"))
        return exit_error;
    const uint64_t n = A.rows;
    const bool given = !v_path.empty();
    if (given) {
        if (!load_matrix("eig", v_path, V) || !load_matrix("eig", d_path, d)) return exit_error;
        if (V.rows != n || V.cols != n)
            return fail("eig", "%s: the eigenvectors are %llu x %llu, but %s is %llu x %llu",
                        v_path.c_str(), (unsigned long long)V.rows, (unsigned long long)V.cols,
                        a_path.c_str(), (unsigned long long)n, (unsigned long long)n);
        if (d.v.size() != n || (d.rows != 1 && d.cols != 1))
            return fail("eig", "%s: the eigenvalues are %llu x %llu, expected a vector of %llu "
                               "(%llu x 1 or 1 x %llu)",
                        d_path.c_str(), (unsigned long long)d.rows, (unsigned long long)d.cols,
                        (unsigned long long)n, (unsigned long long)n, (unsigned long long)n);
    }

    std::vector<double> lo(n), hi(n);
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t status =
        norva_eig_sym(n, A.v.data(), n, given ? V.v.data() : nullptr, n,
                      given ? d.v.data() : nullptr, lo.data(), hi.data(), mode,
                      blas ? blas_product() : nullptr, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) return fail("eig", "the library rejected the problem (status %d)", status);
    if (json) {
        json_writer w;
        json_begin(w, "eig");
        json_outcome(w, status, given ? "given" : "jacobi", mode, blas, eig_method(mode, blas),
                     seconds);
        w.unsigned_integer("n", n);
        w.string("a", a_path);
        w.string_or_null("vectors", v_path);
        w.string_or_null("values", d_path);
        w.begin_array("eigenvalues");
        for (uint64_t i = 0; i < n; ++i) w.enclosure(nullptr, lo[i], hi[i]);
        w.end_array();
        json_overlaps(w, status == 0, lo.data(), hi.data(), n);
        w.begin_array("simple");
        for (uint64_t first = 0; status == 0 && first < n;) {
            double top;
            const uint64_t last = overlap_run(lo.data(), hi.data(), n, first, &top);
            for (uint64_t i = first; i <= last; ++i) w.boolean(nullptr, last == first);
            first = last + 1;
        }
        w.end_array();
        w.finish();
        return finish_output("eig");
    }

    if (status == 0)
        print_eig_table(lo.data(), hi.data(), n);
    else
        print_enclosures(lo.data(), hi.data(), n, 1, true);
    if (status == 0) {
        std::printf("status 0 (every eigenvalue enclosed: proven)\n");
        print_overlaps(lo.data(), hi.data(), n);
    } else {
        std::printf("status %d (not proven: every enclosure is [-inf, inf], nothing is known "
                    "about the eigenvalues)\n",
                    status);
        std::printf("possible causes: %s, bounds beyond the range of doubles, or too "
                    "little memory\n",
                    given ? "the columns of V far from orthonormal"
                          : "the Jacobi method did not converge");
    }
    std::printf("time %.6f s, n = %llu, mode %d: eigenpairs %s, %s\n", seconds,
                (unsigned long long)n, mode,
                given ? ("from " + v_path + " and " + d_path).c_str() : "by the Jacobi method",
                eig_method(mode, blas));
    return finish_output("eig");
}

}  // namespace

void declare_eig(CLI::App &app) {
    CLI::App *cmd = cli::command(
        app, "eig", "enclose every eigenvalue of a symmetric matrix", eig_details, run_eig,
        "too many files (expected A.mtx; approximate eigenpairs go with --vectors and --values)");
    declare_linear(cmd, opts, false, 1,
                   "--mode 0: products formed exactly, rounded once (the default); --mode 1: "
                   "floating-point products with an a priori error bound",
                   true);
    cli::value(cmd, "--vectors", opts.v_path, "V.mtx", "a Matrix Market file",
               "approximate eigenvectors, one per column (needs --values)");
    cli::value(cmd, "--values", opts.d_path, "d.mtx", "a Matrix Market file",
               "approximate eigenvalues (needs --vectors)");
}

}  // namespace tool
