// The double-double steps of the refinements: a term of the compensated
// residual b - sum a (hi + lo), and the update of a solution hi + lo by a
// correction, and the enclosure of hi + lo plus or minus a radius.  Each
// product is split exactly by the one fused multiply-add of the library;
// every other operation is rounded on its own.
#ifndef NORVA_COMMON_DOUBLE_DOUBLE_H
#define NORVA_COMMON_DOUBLE_DOUBLE_H

#include <cmath>
#include <cstdint>

#include "qxsum/qxsum.h"

namespace norva {

// s + c += na (h + l): p1 + e1 = na h and p2 + e2 = na l exactly, then
// (t, f1) = TwoSum(p1, s), (s, f2) = TwoSum(p2, t), and the errors
// gathered in c as (f1 + e1) + c, then (f2 + e2) + c.
inline void dd_residual_term(double &s, double &c, double na, double h, double l) {
    const double p1 = na * h;
    const double e1 = std::fma(na, h, -p1);
    const double p2 = na * l;
    const double e2 = std::fma(na, l, -p2);
    const double t = p1 + s;
    double z = t - s;
    const double f1 = (s - (t - z)) + (p1 - z);
    const double s2 = p2 + t;
    z = s2 - t;
    const double f2 = (t - (s2 - z)) + (p2 - z);
    c = (f1 + e1) + c;
    c = (f2 + e2) + c;
    s = s2;
}

// hi + lo += y: (s, e) = TwoSum(hi, y), t = e + lo, hi = s + t,
// lo = t - (hi - s).  True when hi changed.
inline bool dd_add(double &hi, double &lo, double y) {
    const double h = hi, s = h + y, z = s - h;
    const double e = (h - (s - z)) + (y - z);
    const double t = e + lo;
    const double nh = s + t;
    lo = t - (nh - s);
    hi = nh;
    return nh != h;
}

// The enclosure [hi + lo - delta, hi + lo + delta] of each component,
// rounded outward once by the exact sum.
inline void dd_enclose(uint64_t n, const double *hi, const double *lo, double delta,
                       double *x_lo, double *x_hi) {
    for (uint64_t k = 0; k < n; ++k) {
        double t[3] = {hi[k], lo[k], -delta};
        x_lo[k] = qxsum(t, 3, 2);
        t[2] = delta;
        x_hi[k] = qxsum(t, 3, 1);
    }
}

}  // namespace norva

#endif
