// The finiteness test applied to every input entry: |v| <= DBL_MAX, which a
// NaN fails.
#ifndef NORVA_FINITE_H
#define NORVA_FINITE_H

namespace norva {

constexpr double dbl_max = 1.7976931348623157e308;

constexpr bool finite(double v) { return v <= dbl_max && v >= -dbl_max; }

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
