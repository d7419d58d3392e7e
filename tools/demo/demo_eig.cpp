// The eigenvalue section of `norva demo`: A = Q diag(s) Q^T with Q half the
// 4 x 4 Hadamard matrix (symmetric and orthogonal, entries +-1/2), so that A
// is exact in double and its eigenvalues are the entries of s exactly; a
// plain Jacobi solver next to norva_eig_sym.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "demo.h"
#include "linear.h"
#include "norva.h"
#include "norva/eig.h"
#include "qxsum/qxsum.h"

namespace tool {

namespace {

constexpr int order = 4;
const double hadamard[order][order] = {
    {1, 1, 1, 1}, {1, -1, 1, -1}, {1, 1, -1, -1}, {1, -1, -1, 1}};

// A = Q diag(s) Q^T, entry by entry as exact dot products rounded to
// nearest.  False if an entry is not a double, that is, if rounding it
// upward and downward differ.
bool spectral_matrix(const double s[order], std::vector<double> &a) {
    a.assign(order * order, 0.0);
    bool exact = true;
    for (int i = 0; i < order; ++i)
        for (int j = 0; j < order; ++j) {
            double x[order], y[order];
            for (int k = 0; k < order; ++k) {
                x[k] = 0.5 * hadamard[i][k] * s[k];
                y[k] = 0.5 * hadamard[j][k];
            }
            a[i * order + j] = qxdot(x, y, order, 0);
            exact = exact && qxdot(x, y, order, 1) == qxdot(x, y, order, 2);
        }
    return exact;
}

// Cyclic Jacobi as textbooks give it, in plain double arithmetic: rotate
// until the off-diagonal part vanishes, an entry negligible next to its two
// diagonal entries counting as zero.  Eigenvalues in d (unsorted),
// eigenvectors in the columns of v; no error bound of any kind.
void plain_jacobi(std::vector<double> a, std::vector<double> &v, std::vector<double> &d) {
    const int n = order;
    v.assign(n * n, 0.0);
    for (int i = 0; i < n; ++i) v[i * n + i] = 1;
    for (int sweep = 0; sweep < 50; ++sweep) {
        bool rotated = false;
        for (int p = 0; p < n - 1; ++p)
            for (int q = p + 1; q < n; ++q) {
                const double apq = a[p * n + q];
                if (std::fabs(apq) <= 0x1p-60 * (std::fabs(a[p * n + p]) + std::fabs(a[q * n + q]))) {
                    a[p * n + q] = a[q * n + p] = 0;
                    continue;
                }
                rotated = true;
                const double theta = (a[q * n + q] - a[p * n + p]) / (2 * apq);
                const double t = std::copysign(1.0, theta) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c, tau = s / (1 + c);
                a[p * n + p] -= t * apq;
                a[q * n + q] += t * apq;
                a[p * n + q] = a[q * n + p] = 0;
                for (int r = 0; r < n; ++r) {
                    if (r != p && r != q) {
                        const double g = a[r * n + p], h = a[r * n + q];
                        a[r * n + p] = a[p * n + r] = g - s * (h + g * tau);
                        a[r * n + q] = a[q * n + r] = h + s * (g - h * tau);
                    }
                    const double g = v[r * n + p], h = v[r * n + q];
                    v[r * n + p] = g - s * (h + g * tau);
                    v[r * n + q] = h + s * (g - h * tau);
                }
            }
        if (!rotated) break;
    }
    d.resize(n);
    for (int i = 0; i < n; ++i) d[i] = a[i * n + i];
}

std::string list(const std::vector<double> &x) {
    std::string s;
    for (double v : x) s += (s.empty() ? "" : "  ") + demo_fmt("%.17g", v);
    return s;
}

// One example: the matrix with the spectrum s (ascending), the plain
// solver's values, and the enclosures of norva_eig_sym, from its own
// eigenpairs or (given_pairs) from the plain solver's.  True when the plain
// solver prints two different values for the double eigenvalue s[0] = s[1].
bool spectrum_example(int number, const char *title, const double s[order], const char *spectrum,
                      bool given_pairs) {
    demo_title(number, title);
    std::vector<double> a;
    const bool exact = spectral_matrix(s, a);
    demo_text("matrix", std::string("A = Q diag(") + spectrum + ") Q^T, Q = H/2 with H the");
    demo_text("", "4 x 4 Hadamard matrix: Q Q^T = I, Q symmetric");
    demo_text("", exact ? "every entry of A is a double (formed exactly), so the"
                        : "A is rounded: its eigenvalues are not exactly the ones below");
    if (exact) demo_text("", "eigenvalues are exactly these:");
    demo_text("exact eigenvalues", list(std::vector<double>(s, s + order)));

    std::vector<double> v, d;
    plain_jacobi(a, v, d);
    std::vector<double> sorted = d;
    std::sort(sorted.begin(), sorted.end());
    demo_text("plain Jacobi", list(sorted));

    double lo[order], hi[order];
    const int status = norva_eig_sym(order, a.data(), order, given_pairs ? v.data() : nullptr,
                                     order, given_pairs ? d.data() : nullptr, lo, hi, 0, nullptr,
                                     nullptr);
    const std::string source = given_pairs ? "the plain Jacobi's vectors and values, verified"
                                           : "its own Jacobi eigenpairs, verified";
    if (status != 0) {
        demo_text("norva_eig_sym", "status " + std::to_string(status) +
                                       ", not proven: every enclosure [-inf, inf]");
        return sorted[0] != sorted[1];
    }
    // The first, norm-based stage alone, for comparison.
    double nlo[order], nhi[order];
    const bool norm_only = norva::eig_sym(order, a.data(), order, given_pairs ? v.data() : nullptr,
                                          order, given_pairs ? d.data() : nullptr, nlo, nhi, 0,
                                          nullptr, nullptr, false) == 0;
    demo_text("norva_eig_sym", source + ", status 0;");
    demo_text("", "widths in ulps, in brackets those of the norm-based");
    demo_text("", "enclosures alone (before simple eigenvalues are enclosed");
    demo_text("", "again from their own vectors):");
    int inside = 0;
    for (int i = 0; i < order; ++i) {
        inside += lo[i] <= s[i] && s[i] <= hi[i];
        std::string line = "eigenvalue " + std::to_string(i + 1) + " in [" +
                           demo_fmt("%.17g", lo[i]) + ", " + demo_fmt("%.17g", hi[i]) + "], " +
                           std::to_string(ulps_between(lo[i], hi[i])) + " ulp";
        if (norm_only) line += " (" + std::to_string(ulps_between(nlo[i], nhi[i])) + ")";
        demo_text("", line);
    }
    for (int first = 0; first < order;) {
        double top;
        const int last = (int)overlap_run(lo, hi, order, first, &top);
        demo_text(first == 0 ? "overlaps" : "",
                  last == first ? "eigenvalue " + std::to_string(first + 1) +
                                      " overlaps no other: a simple eigenvalue"
                                : "eigenvalues " + std::to_string(first + 1) + "-" +
                                      std::to_string(last + 1) +
                                      " overlap: not separated at this precision");
        first = last + 1;
    }
    demo_text("check", std::to_string(inside) + " of " + std::to_string(order) +
                           " enclosures contain their exact eigenvalue");
    return sorted[0] != sorted[1];
}

}  // namespace

void demo_eig() {
    const double near[order] = {1, 1, 1 + 0x1p-40, 5};
    const bool split = spectrum_example(1, "A double eigenvalue next to a close one", near,
                                        "1, 1, 1 + 2^-40, 5", false);
    demo_why((std::string(split ? "The plain solver prints two different numbers for the double "
                                 "eigenvalue 1, and its output does not tell that difference "
                               : "The plain solver happens to print the double eigenvalue 1 "
                                 "twice, but its output does not tell that coincidence ") +
             "from the true gap of 2^-40 (about 9.1e-13) between eigenvalues 2 and 3. The "
             "enclosures do: those of eigenvalues 1 and 2 overlap, so at this precision the two "
             "are not separated (equal, or closer than the widths; nothing more is claimed). "
             "The enclosure of eigenvalue 3 overlaps no other, which proves it a simple "
             "eigenvalue, above eigenvalue 2, although the two agree to 12 digits. Simple "
             "eigenvalues are then enclosed again from their own vectors, within residual^2 / gap "
             "of the Rayleigh quotient (Kato-Temple): an ulp or two instead of the norm-based "
             "width in brackets.")
                 .c_str());

    const double closer[order] = {1, 1, 1 + 0x1p-50, 2};
    spectrum_example(2, "A gap below the precision", closer, "1, 1, 1 + 2^-50, 2", true);
    demo_why("Eigenvalue 3 now exceeds 1 by 2^-50 (about 8.9e-16), less than the "
             "enclosures are wide. The plain solver's vectors and values went to "
             "norva_eig_sym for verification this time; the three enclosures near 1 "
             "overlap, so these eigenvalues are not separated: the enclosures neither claim "
             "that they are equal nor that they differ. They still contain the exact "
             "eigenvalues, and they prove that exactly three eigenvalues lie near 1 and one "
             "near 2.");
}

}  // namespace tool
