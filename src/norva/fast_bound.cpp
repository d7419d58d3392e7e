// The a priori constants of a floating-point product and the subnormal scan
// that decides whether they apply.
#include <bit>
#include <cmath>
#include <cstdint>

#include "norva/rigorous.h"
#include "common/steps.h"

namespace norva {

bool fast_constants(uint64_t k, fast_consts *c) {
    const double gk = gamma_n(k);
    // gamma(k) turns negative once k u reaches 1; only 0 <= gamma(k) < 0.5 is usable.
    if (!(gk >= 0.0 && gk < 0.5)) return false;
    const double kd = (double)k;  // exact: k u < 1/3 here
    c->F = up(gamma_n(k + 1) / (1.0 - gk));
    c->G = up((kd + kd) * realmin);
    c->H = up((2.0 * (kd + 1.0)) * realmin);
    return true;
}

bool has_subnormal(const double *x, uint64_t count) {
    // Branch-free over blocks so that the scan vectorises: the bits of |v|,
    // less one, are below those of realmin less one exactly for subnormal v.
    constexpr uint64_t block = 1024;
    constexpr uint64_t sub_limit = std::bit_cast<uint64_t>(realmin) - 1;
    for (uint64_t b = 0; b < count; b += block) {
        const uint64_t e = count - b < block ? count : b + block;
        bool found = false;
        for (uint64_t i = b; i < e; ++i) {
            const uint64_t mag = std::bit_cast<uint64_t>(x[i]) & 0x7fffffffffffffffULL;
            found |= mag - 1 < sub_limit;
        }
        if (found) return true;
    }
    return false;
}

}  // namespace norva
