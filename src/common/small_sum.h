// Exact sums of a handful of doubles and products, rounded once to nearest,
// without the long accumulator.
//
// Every product a b is split into p + e = a b exactly (Dekker's product with
// Veltkamp's splitting; no fused multiply-add) and every term is added to a
// nonoverlapping expansion (Shewchuk's growth with zero elimination: the
// components are nonzero, increase in magnitude, and the lowest set bit of
// each lies above the highest set bit of the one below).  The rounded value
// is then read from the top: with (H, L) = TwoSum of the top components,
// H = fl(H + L), and everything below lies under the lowest set bit of L, so
// the total rounds to H unless H + L is exactly halfway between H and its
// neighbour H + 2L; then the sign of the rest decides.
//
// A term that could break these exact steps (a product whose splitting
// could overflow or whose error term could underflow, a non-finite value, a
// total that overflows) or more terms than the expansion holds make the sum
// fail; the caller then takes the long accumulator, which gives the same
// rounded value.
#ifndef NORVA_COMMON_SMALL_SUM_H
#define NORVA_COMMON_SMALL_SUM_H

#include <cmath>
#include <cstdint>

#include "common/steps.h"

namespace norva {

struct small_sum {
    static constexpr int cap = 48;
    double c[cap];  // components, increasing in magnitude, all nonzero
    int k;          // number of components
    bool ok;        // false once a term could not be added exactly
};

inline void small_init(small_sum &s) {
    s.k = 0;
    s.ok = true;
}

// s += x exactly (x finite).
inline void small_grow(small_sum &s, double x) {
    if (s.k == small_sum::cap) {
        s.ok = false;
        return;
    }
    int out = 0;
    double q = x;
    for (int t = 0; t < s.k; ++t) {
        const double y = s.c[t];
        const double h = q + y;
        const double z = h - q;
        const double err = (q - (h - z)) + (y - z);
        q = h;
        if (err != 0.0) s.c[out++] = err;
    }
    if (q != 0.0) s.c[out++] = q;
    s.k = out;
}

inline void small_add(small_sum &s, double x) {
    if (!(std::fabs(x) <= 0x1.fffffffffffffp1023)) {
        s.ok = false;
        return;
    }
    if (x != 0.0) small_grow(s, x);
}

// s += a b exactly.  The product must lie in [2^-968, 2^1020] in magnitude
// and both factors in [2^-1022, 2^995]: then the splitting cannot overflow,
// and every partial product is a multiple of 2^-1074 of at most 53 bits.
inline void small_add_product(small_sum &s, double a, double b) {
    const double fa = std::fabs(a), fb = std::fabs(b);
    if (a == 0.0 || b == 0.0) {
        if (!(fa <= 0x1.fffffffffffffp1023 && fb <= 0x1.fffffffffffffp1023)) s.ok = false;
        return;
    }
    const double p = a * b, fp = std::fabs(p);
    if (!(fa >= 0x1p-1022 && fa <= 0x1p995 && fb >= 0x1p-1022 && fb <= 0x1p995 &&
          fp >= 0x1p-968 && fp <= 0x1p1020)) {
        s.ok = false;
        return;
    }
    constexpr double splitter = 134217729.0;  // 2^27 + 1
    const double ca = splitter * a, cb = splitter * b;
    const double ah = ca - (ca - a), al = a - ah;
    const double bh = cb - (cb - b), bl = b - bh;
    const double e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
    small_grow(s, p);
    if (e != 0.0) small_grow(s, e);
}

// The top of the total: H = fl(H + L) and the rest c[0 .. *rest - 1] lies
// below the lowest set bit of L (or of H when L = 0, then the rest is
// empty).  False when the sum failed or overflowed.
inline bool small_top(const small_sum &s, double *top, double *low, int *rest) {
    if (!s.ok) return false;
    int t = s.k - 1;
    double H = t >= 0 ? s.c[t] : 0.0, L = 0.0;
    while (t > 0) {
        const double y = s.c[--t];
        const double h = H + y;
        const double z = h - H;
        L = (H - (h - z)) + (y - z);
        H = h;
        if (L != 0.0) break;
    }
    // An overflow on the way shows as an infinite or NaN H.
    if (!(std::fabs(H) <= 0x1.fffffffffffffp1023)) return false;
    *top = H;
    *low = L;
    *rest = t > 0 ? t : 0;
    return true;
}

// The total rounded to nearest (ties to even) into *out; false when the sum
// failed (*out untouched).  An exactly zero total gives +0.
inline bool small_round(const small_sum &s, double *out) {
    double H, L;
    int rest;
    if (!small_top(s, &H, &L, &rest)) return false;
    if (L != 0.0 && rest > 0) {
        // The rest is nonzero and has the sign of its top component.
        const double next = H + 2.0 * L;
        if (next - H == 2.0 * L && (s.c[rest - 1] > 0.0) == (L > 0.0)) H = next;
    }
    *out = H;
    return true;
}

// The total rounded upward into *out (+0 for an exact zero); false when the
// sum failed.  H + L + rest lies above H exactly when L > 0.
inline bool small_round_up(const small_sum &s, double *out) {
    double H, L;
    int rest;
    if (!small_top(s, &H, &L, &rest)) return false;
    *out = L > 0.0 ? up(H) : H;
    return true;
}

// The total rounded downward into *out (+0 for an exact zero); false when
// the sum failed.
inline bool small_round_down(const small_sum &s, double *out) {
    double H, L;
    int rest;
    if (!small_top(s, &H, &L, &rest)) return false;
    *out = L < 0.0 ? down(H) : H;
    return true;
}

// The total rounded in mode rnd (0 to nearest, 1 upward, 2 downward, 3
// toward zero) into *out; false when the sum failed, and for an exactly
// zero total, whose sign IEEE arithmetic makes depend on the terms and the
// mode (the caller then takes the long accumulator, which keeps it).
inline bool small_round_mode(const small_sum &s, uint32_t rnd, double *out) {
    if (!s.ok || s.k == 0) return false;
    const bool negative = s.c[s.k - 1] < 0.0;  // the sign of the largest component
    switch (rnd) {
    case 0: return small_round(s, out);
    case 1: return small_round_up(s, out);
    case 2: return small_round_down(s, out);
    case 3: return negative ? small_round_up(s, out) : small_round_down(s, out);
    default: return false;
    }
}

}  // namespace norva

#endif
