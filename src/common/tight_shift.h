// The choice of a shift just below the smallest eigenvalue, shared by the
// dense, band and sparse proofs of positive definiteness: an estimate
// settled by Rayleigh quotients of further inverse iterations, and the
// shifts tried below it.  Nothing here is rigorous; every shift it picks is
// verified by the caller's factorization and error bound.
#ifndef NORVA_COMMON_TIGHT_SHIFT_H
#define NORVA_COMMON_TIGHT_SHIFT_H

#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/finite.h"

namespace norva {

// Inverse iteration continued from the unit vector v: step(v) overwrites v
// with (M - sigma I)^-1 v (false on failure); y is scratch of n doubles.
// Returns sigma plus the Rayleigh quotient of M - sigma I at the last
// iterate once two successive quotients agree to `tolerance` (relative) or
// `rounds` have run; 0 when unavailable.  v is left a unit vector.
template <class Step>
double settled_estimate(uint64_t n, double sigma, double *v, double *y, int rounds,
                        double tolerance, Step &&step) {
    double last = 0;
    for (int round = 0; round < rounds; ++round) {
        std::memcpy(y, v, n * sizeof(double));
        if (!step(v)) return 0;
        double vy = 0, vv = 0;
        for (uint64_t k = 0; k < n; ++k) {
            vy = vy + v[k] * y[k];
            vv = vv + v[k] * v[k];
        }
        const double nu = std::sqrt(vv);
        if (!(nu > 0) || nu > dbl_max || !(vy > 0)) return 0;
        for (uint64_t k = 0; k < n; ++k) v[k] = v[k] / nu;
        const double rho = vy / vv;  // v^T (M - sigma I) v / v^T v, v the new iterate
        if (round > 0 && std::fabs(rho - last) <= rho * tolerance) return sigma + rho;
        last = rho;
    }
    return last > 0 ? sigma + last : 0;
}

// How close to the settled estimate the first shift goes: 2^-10 of it in
// mode 0, whose exact error bound costs far more than a few more rounds,
// 2^-6 in mode 1; and the rounds and tolerance of the settling.
struct tight_search {
    int rounds;
    double tolerance, margin;
};
inline tight_search tight_search_of(int32_t mode) {
    return mode == 0 ? tight_search{30, 0x1p-20, 0x1p-10} : tight_search{4, 0x1p-8, 0x1p-6};
}

// Shifts settled - margin, settled - 4 margin, ... (five at most, all above
// floor): try(t) factors M - t I and returns 1 with *bound set when it did
// (the bound proven with that factor), 0 when the factorization failed and
// -1 to stop.  Returns the first bound above floor, or -inf.
template <class Try>
double tight_bound(double settled, double margin, double floor, Try &&try_shift) {
    for (int k = 0; k < 5 && settled > 0; ++k, margin *= 4.0) {
        const double t = settled - margin;
        if (!(t > floor) || !(t <= dbl_max)) break;
        double bound;
        const int r = try_shift(t, &bound);
        if (r < 0) break;
        if (r == 0) continue;
        if (bound > floor) return bound;
        break;
    }
    return -__builtin_inf();
}

}  // namespace norva

#endif
