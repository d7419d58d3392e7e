// Pieces shared by the linear-algebra commands (solve, spd, lstsq) and their
// demo sections: the options every one of them takes, the OpenBLAS product
// callback, outward-rounded interval ends, and the table of enclosures.
#ifndef NORVA_TOOLS_LINEAR_H
#define NORVA_TOOLS_LINEAR_H

#include <cstdint>
#include <string>
#include <vector>

#include "matrix_market.h"
#include "norva.h"

namespace CLI {
class App;
}

namespace tool {

// The product callback of --blas (OpenBLAS cblas_dgemm), or null when the
// tool was built without OpenBLAS.
norva_gemm_fn blas_product();

// The operands and options the linear-algebra commands share, as written.
struct linear_options {
    std::string a_path, b_path, mode = "0";
    bool blas = false, json = false;
};

// Declares on `cmd` the operand A.mtx (and B.mtx with `rhs`), --mode with
// modes 0 .. max_mode (`mode_help`: what each does), --blas (with
// `blas`) and --json.
void declare_linear(CLI::App *cmd, linear_options &o, bool rhs, int max_mode,
                    const char *mode_help, bool blas);

// The help of --mode for the solvers of solve, batch and lstsq.
extern const char solve_mode_help[];

// Checks what declare_linear declared: the mode (into `mode`), --blas
// (this build may have no OpenBLAS) and the matrix file.  False after a
// message.
bool check_linear(const char *command, const linear_options &o, int max_mode, int &mode);

// The finite number `text`, the value of `option`.  False after a message
// when it is malformed or not finite.
bool option_number(const char *command, const char *option, const std::string &text,
                   double &out);

// Reads a Matrix Market file; false after a message ("FILE:LINE: ...").
bool load_matrix(const char *command, const std::string &path, dense_matrix &m);

// A must be square and exactly symmetric (a(i, j) and a(j, i) the same
// number).  False after a message naming the first two entries that differ,
// followed by `why` (what symmetry is needed for).
bool require_symmetric(const char *command, const std::string &path, dense_matrix &A,
                       const char *why);

// The right-hand sides: the file at `path`, which must have `rows` rows, or
// one vector of ones when `path` is empty.  False after a message.
bool load_rhs(const char *command, const std::string &path, uint64_t rows, dense_matrix &b);

// Doubles lo <= a - r and hi >= a + r for r >= 0: each end is rounded to
// nearest and moved one unit outward unless that rounding was exact (the
// error of the sum is recovered without error, Knuth's two-sum).  False when
// an end overflows.
bool widen(double a, double r, double &lo, double &hi);

// hi - lo rounded up (lo <= hi, both finite): rounded to nearest and moved
// one unit up unless that rounding was exact; +inf when it overflows.
double width_up(double lo, double hi);

// An upper bound of r |a| for r >= 0: 0 when r or a is 0, else the product
// rounded to nearest and moved one unit up (an underflow to 0 included).
double scaled_radius(double r, double a);

// Number of doubles from lo up to hi (both finite, lo <= hi).
uint64_t ulps_between(double lo, double hi);

// The table of `rows` enclosures per right-hand side (lo, hi: rows x nrhs,
// row-major): index, lower and upper bound with 17 significant digits, width
// in units in the last place ("unproven" for [-inf, inf]); with `absolute`,
// also hi - lo to three digits (a count of ulps means little across zero).
void print_enclosures(const double *lo, const double *hi, uint64_t rows, uint64_t nrhs,
                      bool absolute = false);

// The run of overlapping enclosures that starts at `first` (lo and hi
// ascending, n entries): its last index; *top receives the largest upper
// bound of the run.  A run of one is an enclosure that overlaps no other.
uint64_t overlap_run(const double *lo, const double *hi, uint64_t n, uint64_t first,
                     double *top);

// "status S (...)" after the table.
void print_status(int32_t status);

// How the dense driver proves its bounds in `mode`.
const char *solve_method(int mode, bool blas);

}  // namespace tool

#endif
