// Directed one-unit steps after a result rounded to nearest, and the a priori
// constant of a floating-point sum of n products.
#ifndef NORVA_COMMON_STEPS_H
#define NORVA_COMMON_STEPS_H

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace norva {

constexpr double unit_roundoff = 0x1p-53;  // u
constexpr double realmin = 0x1p-1022;

// up(x) = nextafter(x, +inf) and down(x) = nextafter(x, -inf), stepped on
// the bits of x: the bounds take several of these per matrix entry, and the
// library call costs several times the arithmetic around it.  A NaN comes
// back quieted, as from nextafter.
inline double up(double x) {
    if (!(x < std::numeric_limits<double>::infinity())) return x + x;  // NaN, +inf
    if (x == 0) return std::numeric_limits<double>::denorm_min();
    const uint64_t b = std::bit_cast<uint64_t>(x);
    return std::bit_cast<double>((int64_t)b < 0 ? b - 1 : b + 1);
}
inline double down(double x) { return -up(-x); }

// gamma_n = up(up(n u) / (1 - up(n u))), an upper bound of n u / (1 - n u).
inline double gamma_n(uint64_t n) {
    double nd = (double)n;
    if (nd < 0x1p64 && (uint64_t)nd < n) nd = up(nd);  // n above 2^53 may round down
    const double nu = up(nd * unit_roundoff);
    return up(nu / (1.0 - nu));
}

}  // namespace norva

#endif
