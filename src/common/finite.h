// The finiteness test applied to every input entry: |v| <= DBL_MAX, which a
// NaN fails.
#ifndef NORVA_COMMON_FINITE_H
#define NORVA_COMMON_FINITE_H

#include <bit>
#include <cstdint>

namespace norva {

constexpr double dbl_max = 1.7976931348623157e308;

constexpr bool finite(double v) { return v <= dbl_max && v >= -dbl_max; }

// The same test on the bits, for the argument checks of the exports: they run
// in the caller's floating-point environment, where a comparison with a NaN
// would raise the invalid flag.
constexpr bool finite_bits(double v) {
    return (std::bit_cast<uint64_t>(v) & 0x7ff0000000000000ULL) != 0x7ff0000000000000ULL;
}

// The argument check of the symmetric exports, on the bits so that no NaN
// is compared: every entry of the n x n A (lda) finite and equal to its
// mirror image (+0 and -0 count as equal), and, when x is given, every
// entry of the n x n X (ldx) finite; visited row by row, A(i, j) before
// X(i, j).
inline bool symmetric_inputs(uint64_t n, const double *a, uint64_t lda, const double *x,
                             uint64_t ldx) {
    for (uint64_t i = 0; i < n; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            const double v = a[i * lda + j], vt = a[j * lda + i];
            if (!finite_bits(v) || !finite_bits(vt) || v != vt) return false;
            if (x && !finite_bits(x[i * ldx + j])) return false;
        }
    return true;
}

// True when every entry of the rows x cols matrix (leading dimension ld) is finite.
inline bool all_finite(const double *a, unsigned long long rows, unsigned long long cols,
                       unsigned long long ld) {
    for (unsigned long long i = 0; i < rows; ++i)
        for (unsigned long long j = 0; j < cols; ++j)
            if (!finite(a[i * ld + j])) return false;
    return true;
}

}  // namespace norva

#endif
