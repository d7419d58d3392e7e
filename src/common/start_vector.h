// The reproducible start vector of the inverse iterations: a 64-bit linear
// congruential generator (Knuth's MMIX constants) reseeded on every call,
// advanced before each draw, value (state >> 11) 2^-53 - 0.5 in [-0.5, 0.5),
// then divided by its Euclidean norm.
#ifndef NORVA_COMMON_START_VECTOR_H
#define NORVA_COMMON_START_VECTOR_H

#include <cmath>
#include <cstdint>

namespace norva {

// Euclidean norm: squares summed in index order, then the square root.
inline double norm2(uint64_t n, const double *v) {
    double s = 0.0;
    for (uint64_t i = 0; i < n; ++i) s = s + v[i] * v[i];
    return std::sqrt(s);
}

// The same norm for vectors of any scale: when the plain sum of squares
// could have overflowed or lost the vector below the normal range, it is
// formed again on v / max |v_k| (a power-of-two-free rescaling is enough:
// only the estimates of the inverse iterations use it).
inline double norm2_any_scale(uint64_t n, const double *v) {
    const double plain = norm2(n, v);
    if (plain > 0x1p-500 && plain < 0x1p500) return plain;
    double m = 0;
    for (uint64_t i = 0; i < n; ++i) m = std::fabs(v[i]) > m ? std::fabs(v[i]) : m;
    if (!(m > 0) || !(m <= 0x1.fffffffffffffp1023)) return plain;
    double s = 0.0;
    for (uint64_t i = 0; i < n; ++i) s = s + (v[i] / m) * (v[i] / m);
    return m * std::sqrt(s);
}

inline void start_vector(uint64_t n, double *v) {
    uint64_t s = 0x9e3779b97f4a7c15ULL;
    for (uint64_t i = 0; i < n; ++i) {
        s = s * 0x5851f42d4c957f2dULL + 0x14057b7ef767814fULL;
        v[i] = (double)(s >> 11) * 0x1p-53 - 0.5;
    }
    const double e = norm2(n, v);
    for (uint64_t i = 0; i < n; ++i) v[i] = v[i] / e;
}

}  // namespace norva

#endif
