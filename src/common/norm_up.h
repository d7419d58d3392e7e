// An upper bound of the Euclidean norm of a vector of magnitude bounds,
// formed at the vector's own scale: the entries are brought into [0, 2] by
// one power of two before they are squared, so neither the squares of
// large residuals overflow nor those of small ones vanish below the
// subnormal range.  A vector of zeros has norm 0.
#ifndef NORVA_COMMON_NORM_UP_H
#define NORVA_COMMON_NORM_UP_H

#include <cmath>
#include <cstdint>
#include <limits>

#include "common/steps.h"
#include "qxsum/qxsum.h"

namespace norva {

// rho >= sqrt(sum a[k]^2) for a[k] >= 0 (upper bounds of magnitudes); a is
// overwritten with the scaled entries.  +inf when an entry is infinite or
// NaN or the norm is beyond the doubles.
inline double norm2_up(double *a, uint64_t n) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    double m = 0;
    for (uint64_t k = 0; k < n; ++k) {
        if (!(a[k] <= 0x1.fffffffffffffp1023)) return inf;  // +inf or NaN
        m = a[k] > m ? a[k] : m;
    }
    if (m == 0) return 0;
    const int e = std::ilogb(m);                    // m 2^-e in [1, 2)
    for (uint64_t k = 0; k < n; ++k) {
        const double t = std::ldexp(a[k], -e);
        a[k] = std::ldexp(t, e) == a[k] ? t : up(t);  // rounded only below 2^-1022
    }
    const double root = up(std::sqrt(qxdot(a, a, n, 1)));
    const double rho = std::ldexp(root, e);
    return std::ldexp(rho, -e) == root ? rho : up(rho);
}

}  // namespace norva

#endif
