#include "linear.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "numbers.h"

#ifdef NORVA_TOOL_OPENBLAS
#include <cblas.h>
#endif

namespace tool {

namespace {

#ifdef NORVA_TOOL_OPENBLAS
void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
               const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}
#endif

// The rounding error of s = fl(a + b): a + b = s + err exactly (rounding to
// nearest, no overflow; a NaN when an intermediate overflows).
double sum_error(double a, double b, double s) {
    const double bb = s - a;
    return (a - (s - bb)) + (b - bb);
}

}  // namespace

norva_gemm_fn blas_product() {
#ifdef NORVA_TOOL_OPENBLAS
    return blas_gemm;
#else
    return nullptr;
#endif
}

const char solve_mode_help[] =
    "--mode 0: bounds from exactly rounded products (the default); --mode 1: floating-point "
    "products with a priori error bounds; --mode 2: double-length inverse and solution, for "
    "ill-conditioned systems";

void declare_linear(CLI::App *cmd, linear_options &o, bool rhs, int max_mode,
                    const char *mode_help, bool blas) {
    cli::operand(cmd, "A.mtx", o.a_path, "the matrix, a Matrix Market file", "the matrix file");
    if (rhs)
        cli::operand(cmd, "B.mtx", o.b_path,
                     "the right-hand sides, a Matrix Market file (default: one vector of ones)");
    cli::value(cmd, "--mode", o.mode, max_mode == 2 ? "0|1|2" : "0|1",
               max_mode == 2 ? "a value: 0, 1 or 2" : "a value: 0 or 1", mode_help)
        ->default_str("");  // the help of each mode names the default
    if (blas) cli::flag(cmd, "--blas", o.blas, "matrix products through OpenBLAS (cblas_dgemm)");
    cli::flag(cmd, "--json", o.json, "the same results as a JSON document (norva help)");
}

bool check_linear(const char *command, const linear_options &o, int max_mode, int &mode) {
    const std::string &v = o.mode;
    if (v.size() != 1 || v[0] < '0' || v[0] > '0' + max_mode) {
        fail(command, "bad mode '%s' (expected %s)", v.c_str(),
             max_mode == 2 ? "0, 1 or 2" : "0 or 1");
        return false;
    }
    mode = v[0] - '0';
    if (o.blas && !blas_product()) {
        fail(command, "--blas: this build of the tool has no OpenBLAS");
        return false;
    }
    if (o.a_path.empty()) {
        fail(command, "missing the matrix file (norva %s --help)", command);
        return false;
    }
    return true;
}

bool option_number(const char *command, const char *option, const std::string &text,
                   double &out) {
    if (parse_double(text, out) != parse_status::ok || !std::isfinite(out)) {
        fail(command, "%s: '%s' is not a finite number", option, text.c_str());
        return false;
    }
    return true;
}

bool load_matrix(const char *command, const std::string &path, dense_matrix &m) {
    std::string error;
    if (read_matrix_market_file(path, m, error)) return true;
    fail(command, "%s", error.c_str());
    return false;
}

bool require_symmetric(const char *command, const std::string &path, dense_matrix &A,
                       const char *why) {
    if (A.rows != A.cols) {
        fail(command, "%s: the matrix is %llu x %llu, not square", path.c_str(),
             (unsigned long long)A.rows, (unsigned long long)A.cols);
        return false;
    }
    for (uint64_t i = 0; i < A.rows; ++i)
        for (uint64_t j = 0; j < i; ++j)
            if (A.at(i, j) != A.at(j, i)) {
                fail(command,
                     "%s: the matrix is not symmetric: entry (%llu, %llu) is %.17g but "
                     "(%llu, %llu) is %.17g; %s",
                     path.c_str(), (unsigned long long)(i + 1), (unsigned long long)(j + 1),
                     A.at(i, j), (unsigned long long)(j + 1), (unsigned long long)(i + 1),
                     A.at(j, i), why);
                return false;
            }
    return true;
}

bool load_rhs(const char *command, const std::string &path, uint64_t rows, dense_matrix &b) {
    if (path.empty()) {
        b.rows = rows;
        b.cols = 1;
        b.v.assign(rows, 1.0);
        return true;
    }
    if (!load_matrix(command, path, b)) return false;
    if (b.rows == rows) return true;
    fail(command, "%s: %llu rows, but the matrix has %llu", path.c_str(),
         (unsigned long long)b.rows, (unsigned long long)rows);
    return false;
}

bool widen(double a, double r, double &lo, double &hi) {
    lo = a - r;
    hi = a + r;
    if (!std::isfinite(lo) || !std::isfinite(hi)) return false;
    // err < 0: the exact end lies below the rounded one (and the reverse);
    // an unknown error (NaN) steps as well.
    if (!(sum_error(a, -r, lo) >= 0)) lo = std::nextafter(lo, -INFINITY);
    if (!(sum_error(a, r, hi) <= 0)) hi = std::nextafter(hi, INFINITY);
    return std::isfinite(lo) && std::isfinite(hi);
}

double width_up(double lo, double hi) {
    const double w = hi - lo;
    if (!std::isfinite(w)) return INFINITY;
    return sum_error(hi, -lo, w) > 0 ? std::nextafter(w, INFINITY) : w;
}

double scaled_radius(double r, double a) {
    if (r == 0 || a == 0) return 0;
    return std::nextafter(r * std::fabs(a), INFINITY);
}

uint64_t ulps_between(double lo, double hi) {
    auto ordinal = [](double x) {
        int64_t i;
        std::memcpy(&i, &x, sizeof i);
        return i < 0 ? (int64_t)(0x8000000000000000ULL - (uint64_t)i) : i;
    };
    return (uint64_t)(ordinal(hi) - ordinal(lo));
}

void print_enclosures(const double *lo, const double *hi, uint64_t rows, uint64_t nrhs,
                      bool absolute) {
    for (uint64_t k = 0; k < nrhs; ++k) {
        if (nrhs > 1) std::printf("right-hand side %llu\n", (unsigned long long)(k + 1));
        std::printf("%8s  %24s  %24s  %s%s\n", "i", "lower", "upper",
                    absolute ? "width      " : "", "width (ulp)");
        for (uint64_t i = 0; i < rows; ++i) {
            const double l = lo[i * nrhs + k], h = hi[i * nrhs + k];
            char width[32];
            if (std::isfinite(l) && std::isfinite(h))
                std::snprintf(width, sizeof width, "%llu", (unsigned long long)ulps_between(l, h));
            else
                std::snprintf(width, sizeof width, "unproven");
            std::printf("%8llu  %24.17g  %24.17g  ", (unsigned long long)(i + 1), l, h);
            if (absolute) std::printf("%-9.3g  ", h - l);
            std::printf("%s\n", width);
        }
    }
}

uint64_t overlap_run(const double *lo, const double *hi, uint64_t n, uint64_t first,
                     double *top) {
    uint64_t last = first;
    *top = hi[first];
    while (last + 1 < n && lo[last + 1] <= *top) *top = std::fmax(*top, hi[++last]);
    return last;
}

void print_status(int32_t status) {
    std::printf("status %d (%s)\n", status,
                status == 0 ? "every component proven" : "some components not proven");
}

const char *solve_method(int mode, bool blas) {
    switch (mode) {
        case 0: return blas ? "exact products (Ozaki scheme through OpenBLAS), per right-hand side"
                            : "exact products (Ozaki scheme), per right-hand side";
        case 1: return blas ? "floating-point products with a priori bounds through OpenBLAS"
                            : "floating-point products with a priori bounds";
        default: return "double-length inverse and solution with exact products";
    }
}

}  // namespace tool
