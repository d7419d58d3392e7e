// norva spd A.mtx [--mode 0|1] [--blas] [--factor L.mtx --shift s] [--json]: a
// proof that a symmetric matrix is positive definite, with a guaranteed lower
// bound of its smallest eigenvalue.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "json.h"
#include "linear.h"
#include "matrix_market.h"
#include "norva.h"

namespace tool {

namespace {

const char *const spd_help =
    "Usage: norva spd A.mtx [--mode 0|1] [--blas] [--factor L.mtx --shift s] [--json]\n"
    "\n"
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
    "  --mode 0        residual formed exactly, rounded once (default)\n"
    "  --mode 1        floating-point products with an a priori error bound\n"
    "  --blas          matrix products through OpenBLAS (cblas_dgemm)\n"
    "  --factor L.mtx  verify this factor (needs --shift)\n"
    "  --shift s       the shift of the factor; it must be positive for a proof\n"
    "  --json          the same results as a JSON document (norva help)\n";

const char *spd_method(int mode, bool blas) {
    if (mode == 0)
        return blas ? "residual formed exactly (Ozaki scheme through OpenBLAS)"
                    : "residual formed exactly (Ozaki scheme)";
    return blas ? "floating-point products with an a priori error bound through OpenBLAS"
                : "floating-point products with an a priori error bound";
}

}  // namespace

int cmd_spd(int argc, char **argv) {
    std::vector<std::string> files;
    std::string l_path;
    int mode = 0;
    bool blas = false, have_shift = false, json = false;
    double shift = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const int common = common_option("spd", argc, argv, i, 1, mode, blas);
        if (common == exit_error) return exit_error;
        if (common) continue;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            std::fputs(spd_help, stdout);
            return finish_output("spd");
        } else if (!std::strcmp(arg, "--json")) {
            json = true;
        } else if (!std::strcmp(arg, "--factor")) {
            if (i + 1 >= argc) return fail("spd", "--factor needs a Matrix Market file");
            l_path = argv[++i];
        } else if (!std::strcmp(arg, "--shift")) {
            if (!option_number("spd", argc, argv, i, shift)) return exit_error;
            have_shift = true;
        } else if (file_operand("spd", arg, files, 1, "A.mtx; a factor goes with --factor") !=
                   exit_ok) {
            return exit_error;
        }
    }
    if (files.empty()) return fail("spd", "missing the matrix file (norva spd --help)");
    const std::string a_path = files[0];
    if (l_path.empty() != !have_shift)
        return fail("spd", "--factor and --shift go together: the shift s with L L^T close to "
                           "A - s I");

    dense_matrix A, L;
    if (!load_matrix("spd", a_path, A)) return exit_error;
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
        if (bad_diagonal < n)
            w.unsigned_integer("nonpositive_diagonal", bad_diagonal + 1);
        else
            w.null("nonpositive_diagonal");
        w.finish();
        return finish_output("spd");
    }
    std::printf("status %d (%s)\n", status,
                status == 0 ? "positive definite: proven" : "positive definiteness not proven");
    if (std::isinf(lower))
        std::printf("lower bound of the smallest eigenvalue: none (no bound could be formed)\n");
    else
        std::printf("lower bound of the smallest eigenvalue: %.17g  (%a)%s\n", lower, lower,
                    lower > 0     ? ""
                    : status == 0 ? ", A proven positive definite; the bound underflowed"
                                  : ", not positive: no proof");
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

}  // namespace tool
