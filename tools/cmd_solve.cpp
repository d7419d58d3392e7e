// norva solve A.mtx [B.mtx] [--mode 0|1|2] [--blas]: a verified solve of a
// dense system read from Matrix Market files.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "matrix_market.h"
#include "norva.h"

#ifdef NORVA_TOOL_OPENBLAS
#include <cblas.h>
#endif

namespace tool {

namespace {

const char *const solve_help =
    "Usage: norva solve A.mtx [B.mtx] [--mode 0|1|2] [--blas]\n"
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
    "  --blas     matrix products through OpenBLAS (cblas_dgemm)\n";

#ifdef NORVA_TOOL_OPENBLAS
void blas_gemm(uint64_t m, uint64_t n, uint64_t k, const double *A, uint64_t lda,
               const double *B, uint64_t ldb, double *C, uint64_t ldc, void *) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, (int)m, (int)n, (int)k, 1.0, A,
                (int)lda, B, (int)ldb, 0.0, C, (int)ldc);
}
#endif

// Number of doubles from lo up to hi (both finite, lo <= hi).
uint64_t ulps_between(double lo, double hi) {
    auto ordinal = [](double x) {
        int64_t i;
        std::memcpy(&i, &x, sizeof i);
        return i < 0 ? (int64_t)(0x8000000000000000ULL - (uint64_t)i) : i;
    };
    return (uint64_t)(ordinal(hi) - ordinal(lo));
}

const char *method(int mode, bool blas) {
    switch (mode) {
        case 0: return blas ? "exact products (Ozaki scheme through OpenBLAS), per right-hand side"
                            : "exact products (Ozaki scheme), per right-hand side";
        case 1: return blas ? "floating-point products with a priori bounds through OpenBLAS"
                            : "floating-point products with a priori bounds";
        default: return "double-length inverse and solution with exact products";
    }
}

}  // namespace

int cmd_solve(int argc, char **argv) {
    std::string a_path, b_path;
    int mode = 0;
    bool blas = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            std::fputs(solve_help, stdout);
            return finish_output("solve");
        } else if (!std::strcmp(arg, "--mode")) {
            if (i + 1 >= argc) return fail("solve", "--mode needs a value: 0, 1 or 2");
            const char *v = argv[++i];
            if (std::strlen(v) != 1 || v[0] < '0' || v[0] > '2')
                return fail("solve", "bad mode '%s' (expected 0, 1 or 2)", v);
            mode = v[0] - '0';
        } else if (!std::strcmp(arg, "--blas")) {
#ifdef NORVA_TOOL_OPENBLAS
            blas = true;
#else
            return fail("solve", "--blas: this build of the tool has no OpenBLAS");
#endif
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return fail("solve", "unknown option '%s' (norva solve --help)", arg);
        } else if (a_path.empty()) {
            a_path = arg;
        } else if (b_path.empty()) {
            b_path = arg;
        } else {
            return fail("solve", "too many files (expected A.mtx [B.mtx])");
        }
    }
    if (a_path.empty()) return fail("solve", "missing the matrix file (norva solve --help)");

    dense_matrix A, B;
    std::string error;
    if (!read_matrix_market_file(a_path, A, error)) return fail("solve", "%s", error.c_str());
    if (A.rows != A.cols)
        return fail("solve", "%s: the matrix is %llu x %llu, not square", a_path.c_str(),
                    (unsigned long long)A.rows, (unsigned long long)A.cols);
    const uint64_t n = A.rows;
    if (b_path.empty()) {
        B.rows = n;
        B.cols = 1;
        B.v.assign(n, 1.0);
    } else {
        if (!read_matrix_market_file(b_path, B, error)) return fail("solve", "%s", error.c_str());
        if (B.rows != n)
            return fail("solve", "%s: %llu rows, but the matrix has %llu", b_path.c_str(),
                        (unsigned long long)B.rows, (unsigned long long)n);
    }
    const uint64_t nrhs = B.cols;
    std::vector<double> lo(n * nrhs), hi(n * nrhs);
    norva_gemm_fn gemm = nullptr;
#ifdef NORVA_TOOL_OPENBLAS
    if (blas) gemm = blas_gemm;
#endif
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t status = norva_solve_many(n, nrhs, A.v.data(), n, B.v.data(), nrhs, nullptr, 0,
                                            lo.data(), hi.data(), nrhs, mode, gemm, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) return fail("solve", "the library rejected the system (status %d)", status);

    for (uint64_t k = 0; k < nrhs; ++k) {
        if (nrhs > 1) std::printf("right-hand side %llu\n", (unsigned long long)(k + 1));
        std::printf("%8s  %24s  %24s  %s\n", "i", "lower", "upper", "width (ulp)");
        for (uint64_t i = 0; i < n; ++i) {
            const double l = lo[i * nrhs + k], h = hi[i * nrhs + k];
            char width[32];
            if (std::isfinite(l) && std::isfinite(h))
                std::snprintf(width, sizeof width, "%llu", (unsigned long long)ulps_between(l, h));
            else
                std::snprintf(width, sizeof width, "unproven");
            std::printf("%8llu  %24.17g  %24.17g  %s\n", (unsigned long long)(i + 1), l, h, width);
        }
    }
    std::printf("status %d (%s)\n", status,
                status == 0 ? "every component proven" : "some components not proven");
    std::printf("time %.6f s, n = %llu, %llu right-hand side%s, mode %d: %s\n", seconds,
                (unsigned long long)n, (unsigned long long)nrhs, nrhs == 1 ? "" : "s", mode,
                method(mode, blas));
    return finish_output("solve");
}

}  // namespace tool
