// The positive-definiteness section of `norva demo`: 2 x 2 matrices of
// consecutive Fibonacci numbers, whose determinants are +1 or -1 exactly
// (Cassini's identity), so that positive definiteness is known without any
// floating point; plain Cholesky next to norva_spd.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "demo.h"
#include "norva.h"
#include "qxsum/qxsum.h"

namespace tool {

namespace {

// F(k), exact in double for k <= 78.
double fibonacci(int k) {
    double a = 0, b = 1;
    for (int i = 0; i < k; ++i) {
        const double t = a + b;
        a = b;
        b = t;
    }
    return a;
}

// One example: the matrix [F(k-1), F(k); F(k), F(k+1)].  Returns the
// status of norva_spd.
int fibonacci_example(int number, int k, const char *title) {
    const double a = fibonacci(k - 1), b = fibonacci(k), c = fibonacci(k + 1);
    const std::vector<double> m = {a, b, b, c};
    demo_title(number, title);
    char line[160];
    std::snprintf(line, sizeof line, "[F(%d) F(%d); F(%d) F(%d)] (Fibonacci numbers)", k - 1, k, k,
                  k + 1);
    demo_text("matrix", line);
    std::snprintf(line, sizeof line, "= [%.0f %.0f; %.0f %.0f]", a, b, b, c);
    demo_text("", line);
    // a c - b^2 as the dot product (a, -b) . (c, b), formed exactly.
    const double x[2] = {a, -b}, y[2] = {c, b};
    const double det = qxdot(x, y, 2, 0);
    demo_text("determinant", demo_fmt("%.17g", det) + " (exact dot product; Cassini: (-1)^" +
                                 std::to_string(k) + ")");
    demo_text("so A is", det > 0 ? "positive definite (positive diagonal, determinant > 0)"
                                 : "indefinite: one eigenvalue is negative");
    // Eigenvalues (a + c +- sqrt((a - c)^2 + 4 b^2)) / 2, the smaller one as
    // det / larger without cancellation; approximate.
    const double big = (a + c + std::sqrt((a - c) * (a - c) + 4 * b * b)) / 2;
    demo_text("eigenvalues", "about " + demo_fmt("%.6g", det / big) + " and " +
                                 demo_fmt("%.6g", big));
    std::vector<double> L;
    double pivot;
    const bool ok = plain_cholesky(2, m, L, &pivot);
    demo_text("plain Cholesky", std::string(ok ? "succeeds" : "breaks down") + ", last pivot " +
                                    demo_fmt("%.17g", pivot) + " (exact: " +
                                    demo_fmt("%.0f", det) + "/" + demo_fmt("%.0f", a) + ")");
    double lower = -INFINITY;
    const int status = norva_spd(2, m.data(), 2, nullptr, 0, 0.0, &lower, 0, nullptr, nullptr);
    demo_text("norva_spd", status == 0 ? "status 0, proven: smallest eigenvalue >= " +
                                             demo_fmt("%.17g", lower)
                                       : "status " + std::to_string(status) +
                                             ", not proven (lower bound " +
                                             demo_fmt("%.3g", lower) + ")");
    return status;
}

}  // namespace

void demo_spd() {
    fibonacci_example(1, 41, "Plain Cholesky accepts a matrix that is not positive definite");
    demo_why("The determinant of a 2 x 2 symmetric matrix is the product of its eigenvalues, "
             "so -1 means one negative eigenvalue. The last Cholesky pivot is exactly "
             "F(42) - F(41)^2/F(40) = -1/F(40); rounded to doubles it comes out positive, and "
             "a plain factorization reports a positive definite matrix. norva_spd only "
             "reports what it proves.");

    const int status =
        fibonacci_example(2, 48, "Plain Cholesky rejects a matrix that is positive definite");
    const std::string reverse =
        "The reverse: the determinant is +1 and the diagonal positive, so both eigenvalues are "
        "positive, but the last pivot 1/F(47) drowns in the rounding errors of entries of several billion "
        "and the plain factorization breaks down. ";
    demo_why((reverse + (status == 0 ? "norva_spd proves it positive definite all the same."
                                     : "With eigenvalues that far apart no double-precision "
                                       "factorization resolves the small one, and norva_spd "
                                       "answers \"not proven\" rather than guess."))
                 .c_str());

    fibonacci_example(3, 10, "A proof with a guaranteed bound");
    demo_why("A well-conditioned member of the same family. norva_spd factors A minus a "
             "shift, bounds the residual of that factorization rigorously and so proves that "
             "every eigenvalue is at least the printed bound, which lies below the smallest "
             "eigenvalue shown above.");
}

}  // namespace tool
