// norva solve A.mtx [B.mtx] [--mode 0|1|2] [--blas] [--radius R.mtx |
// --rel-radius r] [--rhs-radius S.mtx]: a verified solve of a dense system,
// or of an interval system, read from Matrix Market files.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "linear.h"
#include "matrix_market.h"
#include "norva.h"

namespace tool {

namespace {

const char *const solve_help =
    "Usage: norva solve A.mtx [B.mtx] [--mode 0|1|2] [--blas]\n"
    "                   [--radius R.mtx | --rel-radius r] [--rhs-radius S.mtx]\n"
    "\n"
    "Encloses the solution of A X = B for the square matrix A and the right-hand\n"
    "sides B (default: one vector of ones), both Matrix Market files (array or\n"
    "coordinate; real or integer; general, symmetric or skew-symmetric).\n"
    "Entries are the doubles nearest to the decimal values in the files.\n"
    "\n"
    "For each component: the lower and upper bound (17 significant digits) and\n"
    "the width of the enclosure in units in the last place; then the status\n"
    "(0 all proven, 1 some component unproven: shown as [-inf, inf]), the time\n"
    "and the method.\n"
    "\n"
    "  --mode 0   bounds from exactly rounded products (default)\n"
    "  --mode 1   floating-point products with a priori error bounds\n"
    "  --mode 2   double-length inverse and solution, for ill-conditioned systems\n"
    "  --blas     matrix products through OpenBLAS (cblas_dgemm)\n"
    "\n"
    "Uncertain data (measurement or modelling errors): with a radius the entries\n"
    "are intervals, and the enclosure holds for the solution of every system\n"
    "whose entries lie inside them, not only for the numbers in the files.\n"
    "\n"
    "  --radius R.mtx      a_ij lies in [a_ij - r_ij, a_ij + r_ij]; R has the\n"
    "                      shape of A, entries >= 0\n"
    "  --rel-radius r      a_ij lies in [a_ij - r |a_ij|, a_ij + r |a_ij|], r >= 0\n"
    "                      (r = 1e-3 for coefficients known to 0.1 percent)\n"
    "  --rhs-radius S.mtx  b_ij lies in [b_ij - s_ij, b_ij + s_ij]; S has the\n"
    "                      shape of B, entries >= 0\n"
    "\n"
    "The ends a_ij - r_ij and a_ij + r_ij (of the doubles read) are rounded\n"
    "outward, so the intervals solved for contain the exact ones.  Interval\n"
    "systems are solved in mode 0 or 1.\n"
    "A component stays unproven when the data admit a singular matrix or the\n"
    "radii are too wide for the proof.\n";

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

}  // namespace

int cmd_solve(int argc, char **argv) {
    std::vector<std::string> files;
    std::string r_path, s_path, rel_text;
    int mode = 0;
    bool blas = false, relative = false;
    double rel = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const int common = common_option("solve", argc, argv, i, 2, mode, blas);
        if (common == exit_error) return exit_error;
        if (common) continue;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            std::fputs(solve_help, stdout);
            return finish_output("solve");
        } else if (!std::strcmp(arg, "--radius") || !std::strcmp(arg, "--rhs-radius")) {
            if (i + 1 >= argc) return fail("solve", "%s needs a Matrix Market file of radii", arg);
            (std::strcmp(arg, "--radius") ? s_path : r_path) = argv[++i];
        } else if (!std::strcmp(arg, "--rel-radius")) {
            if (!option_number("solve", argc, argv, i, rel)) return exit_error;
            if (!(rel >= 0)) return fail("solve", "--rel-radius: %s is negative", argv[i]);
            relative = true;
            rel_text = argv[i];
        } else if (file_operand("solve", arg, files, 2, "A.mtx [B.mtx]") != exit_ok) {
            return exit_error;
        }
    }
    if (files.empty()) return fail("solve", "missing the matrix file (norva solve --help)");
    const std::string a_path = files[0], b_path = files.size() > 1 ? files[1] : "";
    if (relative && !r_path.empty())
        return fail("solve", "--radius and --rel-radius both give the radii of A; choose one");
    const bool interval = relative || !r_path.empty() || !s_path.empty();
    if (interval && mode == 2)
        return fail("solve", "--mode 2 does not take radii: interval systems are solved in "
                             "mode 0 or 1");

    dense_matrix A, B, RA, RB;
    if (!load_matrix("solve", a_path, A)) return exit_error;
    if (A.rows != A.cols)
        return fail("solve", "%s: the matrix is %llu x %llu, not square", a_path.c_str(),
                    (unsigned long long)A.rows, (unsigned long long)A.cols);
    const uint64_t n = A.rows;
    if (!load_rhs("solve", b_path, n, B)) return exit_error;
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

}  // namespace tool
