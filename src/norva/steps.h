// Directed one-unit steps after a result rounded to nearest, and the a priori
// constant of a floating-point sum of n products.
#ifndef NORVA_STEPS_H
#define NORVA_STEPS_H

#include <cmath>
#include <cstdint>
#include <limits>

namespace norva {

constexpr double unit_roundoff = 0x1p-53;  // u
constexpr double realmin = 0x1p-1022;

inline double up(double x) { return std::nextafter(x, std::numeric_limits<double>::infinity()); }
inline double down(double x) { return std::nextafter(x, -std::numeric_limits<double>::infinity()); }

// gamma_n = up(up(n u) / (1 - up(n u))), an upper bound of n u / (1 - n u).
inline double gamma_n(uint64_t n) {
    double nd = (double)n;
    if (nd < 0x1p64 && (uint64_t)nd < n) nd = up(nd);  // n above 2^53 may round down
    const double nu = up(nd * unit_roundoff);
    return up(nu / (1.0 - nu));
}

}  // namespace norva

#endif
