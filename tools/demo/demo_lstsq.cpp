// The least-squares section of `norva demo`: a quadratic fitted to points
// that lie exactly on it, so that the least-squares coefficients are known,
// by the plain normal equations and by the verified solver.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "demo.h"
#include "norva.h"

namespace tool {

namespace {

// Normal equations A^T A c = A^T y by plain Cholesky, as a textbook fit does;
// false when the factorization breaks down.
bool normal_equations(int m, int n, const std::vector<double> &A, const std::vector<double> &y,
                      std::vector<double> &c) {
    std::vector<double> G((size_t)n * n, 0.0), g(n, 0.0), L;
    for (int r = 0; r < n; ++r) {
        for (int s = 0; s < n; ++s)
            for (int i = 0; i < m; ++i) G[r * n + s] += A[i * n + r] * A[i * n + s];
        for (int i = 0; i < m; ++i) g[r] += A[i * n + r] * y[i];
    }
    double pivot;
    if (!plain_cholesky(n, G, L, &pivot)) return false;
    std::vector<double> z(n);
    c.assign(n, 0.0);
    for (int i = 0; i < n; ++i) {
        double s = g[i];
        for (int j = 0; j < i; ++j) s -= L[i * n + j] * z[j];
        z[i] = s / L[i * n + i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = z[i];
        for (int j = i + 1; j < n; ++j) s -= L[j * n + i] * c[j];
        c[i] = s / L[i * n + i];
    }
    return true;
}

}  // namespace

void demo_lstsq() {
    // y = 3 - 2 t + t^2 / 2 at t = 10000 .. 10007: integers and halves, exact.
    const int m = 8, n = 3;
    const double exact[n] = {3, -2, 0.5};
    std::vector<double> A(m * n), y(m);
    for (int i = 0; i < m; ++i) {
        const double t = 10000 + i;
        A[i * n] = 1;
        A[i * n + 1] = t;
        A[i * n + 2] = t * t;
        y[i] = exact[0] + exact[1] * t + exact[2] * t * t;
    }
    demo_title(1, "A quadratic through 8 points: c0 + c1 t + c2 t^2 at t = 10000 .. 10007");
    demo_text("data", "y = 3 - 2 t + 0.5 t^2 exactly (every value a double), so the");
    demo_text("", "least-squares coefficients are (3, -2, 0.5)");
    std::vector<double> c;
    if (normal_equations(m, n, A, y, c))
        for (int j = 0; j < n; ++j)
            demo_text(j == 0 ? "normal equations" : "",
                      "c" + std::to_string(j) + " = " + demo_fmt("%.17g", c[j]));
    else
        demo_text("normal equations", "Cholesky of A^T A breaks down");
    double lo[n], hi[n];
    const int status = norva_lstsq(m, n, 1, A.data(), n, y.data(), 1, 0.0, nullptr, 0, lo, hi, 1,
                                   0, nullptr, nullptr);
    bool contains = true;
    for (int j = 0; j < n; ++j) {
        contains = contains && lo[j] <= exact[j] && exact[j] <= hi[j];
        demo_text(j == 0 ? "norva_lstsq" : "", "c" + std::to_string(j) + " in [" +
                                                   demo_fmt("%.17g", lo[j]) + ", " +
                                                   demo_fmt("%.17g", hi[j]) + "]");
    }
    demo_text("", status != 0 ? "status " + std::to_string(status) + ": not proven"
                  : contains  ? "status 0: proven, each bound contains the true coefficient"
                              : "status 0, but a bound MISSES the true coefficient");
    demo_why("The columns 1, t, t^2 are nearly parallel for t near 10000: the condition "
             "number of A is large, and A^T A squares it beyond double precision, so the "
             "normal equations lose every digit of c0 without a warning. The verified solver "
             "does not solve with A^T A (it uses it only to choose a scaling alpha); it "
             "proves its bounds on the augmented system [alpha I, A; A^T, 0], whose "
             "condition is about that of A.");
}

}  // namespace tool
