// The 3-D Poisson section of `norva demo`: the 7-point Laplacian on a
// k x k x k grid (k = 47, 103823 unknowns) with the right-hand side b = A x
// of an integer vector x formed exactly, so that the exact solution of the
// discrete system is x; solved by the sparse solver in mode 1 on its sparse
// Cholesky path, beside the band path's refusal of the same matrix, and its
// smallest eigenvalue bounded next to the closed form.  A library built
// without CHOLMOD proves a smaller grid on the band path instead.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "demo.h"
#include "sparse.h"

namespace tool {

namespace {

constexpr uint64_t side_cholesky = 47;  // the problem of the section
constexpr uint64_t side_band = 15;      // what the band path proves without CHOLMOD
constexpr uint64_t band_limit = uint64_t(1) << 27;

// The 7-point Laplacian of the k x k x k grid in grid order (point
// (x, y, z) is number x + k y + k^2 z): 6 on the diagonal, -1 for each
// neighbour, columns ascending.
csr_matrix laplacian(uint64_t k) {
    const uint64_t n = k * k * k, plane = k * k;
    csr_matrix a;
    a.n = n;
    a.row_ptr.reserve(n + 1);
    a.col_idx.reserve(7 * n);
    a.val.reserve(7 * n);
    a.row_ptr.push_back(0);
    for (uint64_t g = 0; g < n; ++g) {
        const uint64_t x = g % k, y = g / k % k, z = g / plane;
        auto put = [&](uint64_t h, double v) {
            a.col_idx.push_back(h);
            a.val.push_back(v);
        };
        if (z > 0) put(g - plane, -1);
        if (y > 0) put(g - k, -1);
        if (x > 0) put(g - 1, -1);
        put(g, 6);
        if (x + 1 < k) put(g + 1, -1);
        if (y + 1 < k) put(g + k, -1);
        if (z + 1 < k) put(g + plane, -1);
        a.row_ptr.push_back(a.col_idx.size());
    }
    return a;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string grid_name(uint64_t k) {
    const std::string s = std::to_string(k);
    return s + " x " + s + " x " + s + " grid";
}

}  // namespace

void demo_poisson() {
    const bool cholmod = norva::sparse::have_cholmod();
    const uint64_t k = cholmod ? side_cholesky : side_band, n = k * k * k;

    // The band the band path would need for the 47^3 grid.
    const csr_matrix big = laplacian(side_cholesky);
    uint64_t kl = 0, ku = 0;
    const bool reordered = reordered_bandwidths(big, kl, ku);
    const double band_doubles = (double)big.n * (double)(kl + ku + 1);

    const csr_matrix a = cholmod ? big : laplacian(k);
    // x integers in [-20, 20]; b = A x is exact (integers of at most 240).
    std::mt19937_64 rng(0x5eed7047);
    std::vector<double> x(n), b(n, 0.0);
    for (double &v : x) v = (double)(int)(rng() % 41) - 20;
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t e = a.row_ptr[i]; e < a.row_ptr[i + 1]; ++e)
            b[i] += a.val[e] * x[a.col_idx[e]];

    std::vector<double> lo(n), hi(n);
    norva::sparse::report rep;
    auto t0 = std::chrono::steady_clock::now();
    const int status = norva::sparse::solve_sparse(n, a.row_ptr.data(), a.col_idx.data(),
                                                   a.val.data(), b.data(), lo.data(), hi.data(),
                                                   1, &rep);
    const double seconds = seconds_since(t0);
    double widest = 0;
    uint64_t inside = 0;
    for (uint64_t i = 0; i < n; ++i) {
        widest = std::fmax(widest, hi[i] - lo[i]);
        inside += lo[i] <= x[i] && x[i] <= hi[i];
    }
    const uint64_t lower = lower_entries(a);

    demo_title(1, cholmod ? "A Poisson problem with 103823 unknowns"
                          : "A Poisson problem on the band path (a library without CHOLMOD)");
    if (!cholmod)
        demo_text("note", "this library was built without CHOLMOD, so the sparse Cholesky path "
                          "is missing; the 47^3 grid below is out of reach of the band path, "
                          "and a " + grid_name(k) + " is proven instead");
    demo_text("matrix", "7-point Laplacian on a " + grid_name(k) +
                            ": 6 on the diagonal, -1 per neighbour");
    demo_text("unknowns", std::to_string(n));
    demo_text("nonzeros", std::to_string(a.val.size()));
    demo_text("right-hand side", "b = A x for an integer vector x in [-20, 20], formed exactly,");
    demo_text("", "so the exact solution is x");
    demo_text("band path", "47^3 grid: bandwidths " +
                               (reordered ? band_pair(kl, ku) : std::string("unknown")) +
                               " after reverse Cuthill-McKee,");
    demo_text("", "n x (kl + ku + 1) = " + demo_fmt("%.0f", band_doubles) +
                      " doubles, more than the limit 2^27 = " + std::to_string(band_limit) +
                      (band_doubles > (double)band_limit ? ": refused" : ""));
    demo_text("", demo_fmt("%.1f", band_doubles * 8 / (1u << 30)) + " GiB of band, and about " +
                      demo_fmt("%.1e", (double)big.n * (double)(kl + 1) * (double)(kl + 1)) +
                      " operations to factor it");
    demo_text("solve_sparse", "mode 1: status " + std::to_string(status) + " in " +
                                  demo_fmt("%.2f", seconds) + " s");
    demo_text("factorization", factorization_text(rep, lower, true));
    if (report_has_bound(rep)) {
        demo_text("lambda_low", demo_fmt("%.17g", rep.lambda) +
                                    " (proven lower bound of the smallest eigenvalue)");
        demo_text("radius", demo_fmt("%.3g", rep.radius) + " (every component)");
    }
    demo_text("widest enclosure", demo_fmt("%.3g", widest));
    demo_text("check", std::to_string(inside) + " of " + std::to_string(n) +
                           " enclosures contain the exact solution component");
    const std::string why =
        std::string("A band solver renumbers the unknowns so that the nonzeros gather near the "
                    "diagonal; on a 3-D grid the best band is still about k^2 wide, and the band "
                    "of the 47^3 grid would not even fit the band path's memory limit. ") +
        (cholmod ? "The sparse Cholesky factorization orders the unknowns to keep the factor "
                   "sparse (nested dissection or minimum degree) and factors A in supernodes. "
                 : "A library built with CHOLMOD factors it by a sparse Cholesky "
                   "factorization; this one proves the smaller grid in band storage. ") +
        "Proven, for every component: the exact solution of the discrete system A x = b lies "
        "in the printed interval; all intervals share one radius, a bound on the 2-norm of the "
        "error from the residual of a refined solution and lambda_low, a proven lower bound "
        "of the smallest eigenvalue of A, itself from the factor of a shifted A and an a "
        "priori bound of its rounding errors. Nothing is said about the error of the "
        "discretization itself.";
    demo_why(why.c_str());

    // lambda_min = 3 (2 - 2 cos(pi / (k + 1))) = 12 sin^2(pi / (2 (k + 1))), the
    // second form without cancellation (a double near it, for comparison).
    const double s = std::sin(std::numbers::pi / (2.0 * (double)(k + 1)));
    const double closed = 12 * s * s;
    double low = -INFINITY;
    norva::sparse::report srep;
    t0 = std::chrono::steady_clock::now();
    const int spd_status = norva::sparse::spd_sparse(n, a.row_ptr.data(), a.col_idx.data(),
                                                     a.val.data(), &low, 1, &srep);
    const double spd_seconds = seconds_since(t0);
    demo_title(2, "Its smallest eigenvalue, proven");
    demo_text("spd_sparse", "mode 1: status " + std::to_string(spd_status) + " in " +
                                demo_fmt("%.2f", spd_seconds) + " s");
    demo_text("factorization", factorization_text(srep, lower, false));
    demo_value("closed form", closed);
    demo_text("", "3 (2 - 2 cos(pi/" + std::to_string(k + 1) + ")), rounded");
    // Run-dependent values (the factor's rounding may depend on the threads
    // of the BLAS) are shown as text.
    demo_text("proven lower bound", demo_fmt("%.17g", low));
    if (report_has_bound(srep))
        demo_text("shift, error bound",
                  demo_fmt("%.17g", srep.shift) + ", " + demo_fmt("%.3g", srep.error));
    if (low > 0) demo_text("ratio", demo_fmt("%.3f", low / closed) + " of the closed form");
    demo_why("The eigenvalues of the grid Laplacian are known in closed form; the smallest "
             "one is 3 (2 - 2 cos(pi/(k+1))), small because the grid is fine. The library "
             "does not know this formula: it factors A - s I for a shift s below its estimate "
             "of the smallest eigenvalue, bounds the 2-norm of the error E of the computed "
             "factor L with A - s I = L L^T + E rigorously, and concludes lambda_min(A) >= "
             "s - |E|_2. The "
             "proven bound lies below the closed form, as it must; positive, it proves A "
             "positive definite.");
}

}  // namespace tool
