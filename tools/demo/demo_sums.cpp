// Demo section "sums": sums and dot products where the plain floating-point
// loop is wrong, next to the exact engine's results.
#include <cstdio>
#include <vector>

#include "demo.h"
#include "qxsum/qxsum.h"

namespace tool {

namespace {

double naive_sum(const double *x, std::size_t n) {
    double s = 0;
    for (std::size_t i = 0; i < n; i++) s += x[i];
    return s;
}

double naive_dot(const double *x, const double *y, std::size_t n) {
    double s = 0;
    for (std::size_t i = 0; i < n; i++) s += x[i] * y[i];
    return s;
}

void exact_sum(const double *x, std::size_t n, double out[4]) {
    for (uint32_t rnd = 0; rnd < 4; rnd++) out[rnd] = qxsum(x, n, rnd);
}

void exact_dot(const double *x, const double *y, std::size_t n, double out[4]) {
    for (uint32_t rnd = 0; rnd < 4; rnd++) out[rnd] = qxdot(x, y, n, rnd);
}

// One sum example: title, terms as written, terms, explanation.
void sum_example(int number, const char *title, const char *terms, const std::vector<double> &x,
                 const char *why) {
    demo_title(number, title);
    demo_text("terms", terms);
    demo_value("naive left to right", naive_sum(x.data(), x.size()));
    double exact[4];
    exact_sum(x.data(), x.size(), exact);
    demo_modes(exact);
    demo_why(why);
}

}  // namespace

void demo_sums() {
    int number = 1;
    sum_example(number++, "A small term absorbed by a large one", "1e16, 1, -1e16",
                {1e16, 1, -1e16},
                "Doubles near 1e16 are 2 apart. 1e16 + 1 lies halfway between two of "
                "them and rounds (ties to even) back to 1e16, so the 1 is lost before "
                "-1e16 cancels the rest. The exact sum is 1.");

    sum_example(number++, "Two small terms lost between huge ones", "1, 1e100, 1, -1e100",
                {1, 1e100, 1, -1e100},
                "Next to 1e100 the doubles are about 1.9e84 apart: each 1 vanishes when "
                "it meets 1e100, and the naive sum is 0. The exact accumulator holds "
                "the running total as one long fixed-point number that spans the whole "
                "double range, so nothing is absorbed and the sum is 2.");

    sum_example(number++, "The wrong sign", "1e16, 1, -1e16, -0.5", {1e16, 1, -1e16, -0.5},
                "As in example 1 the 1 is absorbed, and the naive loop ends at -0.5. "
                "The true sum is +0.5: plain summation can return a result of the wrong "
                "sign, which matters whenever a sign decides something (a determinant, "
                "an orientation test, the direction of a correction).");

    sum_example(number++, "0.1 is not a double",
                "0.1 ten times (the double nearest 0.1 is 0x1.999999999999ap-4)",
                std::vector<double>(10, 0.1),
                "That double is 0.1000000000000000055511151231257827..., and ten copies "
                "of it add up exactly to "
                "1.000000000000000055511151231257827..., a little above 1. Rounded to "
                "nearest, downward or toward zero that is 1; rounded upward it is the "
                "next double, 1 + 2^-52. The naive loop rounds nine times and ends below "
                "1. The downward and upward results always bracket the exact value; "
                "the library's verified bounds are built from such pairs.");

    {
        // Rump's example f(a, b) without its final a/(2b), expanded into six
        // products whose factors are all exact doubles.
        const double a = 77617, b = 33096;
        const double b2 = b * b, b4 = b2 * b2, a2 = a * a, ab3 = a * b * b2;
        const double x[6] = {333.75 * b2, 11 * a2 * b, -ab3, -121 * a2, -2, 5.5 * b4};
        const double y[6] = {b4, a2 * b, ab3, b4, a2, b4};
        demo_title(number++, "Rump's polynomial as a dot product");
        demo_text("terms", "6 products with a = 77617, b = 33096:");
        demo_text("", "333.75b^2 * b^4, 11a^2b * a^2b, -ab^3 * ab^3,");
        demo_text("", "-121a^2 * b^4, -2 * a^2, 5.5b^4 * b^4 (every factor exact)");
        demo_value("naive left to right", naive_dot(x, y, 6));
        double exact[4];
        exact_dot(x, y, 6, exact);
        demo_modes(exact);
        demo_why("These are the terms of 333.75 b^6 + a^2 (11 a^2 b^2 - b^6 - 121 b^4 - 2) "
                 "+ 5.5 b^8. The products reach 7.9e36 and cancel to exactly -2; the "
                 "naive dot product rounds each product to 53 bits and returns about "
                 "-1.18e21. The exact dot product adds the products unrounded (each is "
                 "exact in 106 bits) and gets -2 in every mode. Rump's original "
                 "expression adds a/(2b) to this, for f = -0.827396...");
    }

    {
        const std::size_t n = 1000000;
        std::vector<double> h(n);
        for (std::size_t k = 1; k <= n; k++) h[k - 1] = 1.0 / (double)k;
        double backward = 0;
        for (std::size_t k = n; k >= 1; k--) backward += h[k - 1];
        demo_title(number++, "Order matters: a harmonic sum");
        demo_text("terms", "1/k for k = 1 .. 1000000, each rounded to the nearest double");
        demo_value("naive left to right", naive_sum(h.data(), n));
        demo_value("naive right to left", backward);
        double exact[4];
        exact_sum(h.data(), n, exact);
        demo_modes(exact);
        demo_why("Adding the large terms first makes the running sum large early, and "
                 "every later small term loses its low bits; adding from the small end "
                 "loses less. The two naive orders disagree in the last digits. The exact "
                 "sum of these million doubles does not depend on the order. It is the "
                 "sum of the rounded terms 1/k, not the harmonic number H(10^6) itself: "
                 "each term already carries its own rounding error.");
    }

    sum_example(number++, "No overflow in the middle of a sum", "1e308, 1e308, -1e308",
                {1e308, 1e308, -1e308},
                "The naive running sum overflows to infinity at the second term and stays "
                "there. The exact accumulator has room beyond the double range, so the "
                "exact total 1e308 comes out. Only a final result beyond the largest "
                "double overflows, as IEEE rounding prescribes: to infinity when "
                "rounding to nearest, to the largest finite double when rounding "
                "toward zero.");
}

}  // namespace tool
