// Correct rounding of an exact total to double or float in one of four modes.
// The decision is integer arithmetic on a normalised copy of the limbs that
// hold the total; the final conversion and scaling are exact.
#include <cmath>
#include <cstring>
#include <limits>

#include "qxsum/qxsum_internal.h"

namespace qx {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

double zero_rule(const qxsum_acc *acc, uint32_t rnd) {
    if (!acc->nonzero && acc->count > 0 && !acc->pzero) return -0.0;  // only -0 terms
    if (!acc->nonzero && !acc->nzero) return 0.0;                      // nothing, or only +0
    return rnd == 2 ? -0.0 : 0.0;
}

// Bit `pos` (counted from the weight of limb 0) of the copy, for limbs in [first, g].
inline uint64_t bit_at(const int64_t *s, int first, int g, int pos) {
    const int idx = pos >> 5;
    if (idx < first || idx > g) return 0;
    return ((uint64_t)s[idx] >> (pos & 31)) & 1;
}

}  // namespace

double round_to(const qxsum_acc *acc, uint32_t rnd, int p, int emin, int emax, double maxval) {
    if (acc->ninf) return -inf;
    const int64_t *l = acc->limb;

    int first = 0;
    while (first + 4 <= limbs && (l[first] | l[first + 1] | l[first + 2] | l[first + 3]) == 0)
        first += 4;
    while (first < limbs && l[first] == 0) ++first;
    if (first == limbs) return zero_rule(acc, rnd);
    int last = limbs - 1;
    while (last >= 3 && (l[last] | l[last - 1] | l[last - 2] | l[last - 3]) == 0) last -= 4;
    while (l[last] == 0) --last;

    const int top = (last < limbs - 3 ? last : limbs - 3) + 2;
    int64_t s[limbs];
    std::memcpy(s + first, l + first, (size_t)(last - first + 1) * sizeof(int64_t));
    for (int i = last + 1; i <= top; ++i) s[i] = 0;
    normalise(s, first, top);
    const bool negative = s[top] < 0;
    if (negative) {
        for (int i = first; i <= top; ++i) s[i] = -s[i];
        normalise(s, first, top);
    }
    int g = top;
    while (g >= first && s[g] == 0) --g;
    if (g < first) return zero_rule(acc, rnd);

    // Exponent of the most significant bit; bit position q (from limb 0's
    // weight) has exponent q - limb_bias.
    const int msb_pos = 32 * g + 63 - std::countl_zero((uint64_t)s[g]);
    const int msb = msb_pos - limb_bias;
    int k = msb - p + 1;
    if (k < emin) k = emin;

    uint64_t m = 0;  // the kept bits, at most p of them
    if (k <= msb) {
        // 128-bit window of limbs g, g-1, g-2; its bit 0 is at position 32 (g - 2).
        u128 w = (u128)(uint64_t)s[g] << 64;
        if (g - 1 >= first) w |= (u128)(uint64_t)s[g - 1] << 32;
        if (g - 2 >= first) w |= (u128)(uint64_t)s[g - 2];
        const int shift = k + limb_bias - 32 * (g - 2);
        const int width = msb - k + 1;
        m = (uint64_t)(w >> shift) & ((width >= 64) ? ~0ULL : ((1ULL << width) - 1));
    }
    const int rpos = k - 1 + limb_bias;  // the round bit's position (>= 0 for both formats)
    const uint64_t r = bit_at(s, first, g, rpos);
    uint64_t sticky = 0;
    {
        const int ridx = rpos >> 5;
        if (ridx > g) {
            sticky = 1;  // every bit of the nonzero total lies below the round bit
        } else {
            if (ridx >= first) sticky = ((uint64_t)s[ridx] & ((1ULL << (rpos & 31)) - 1)) != 0;
            for (int i = first; i < ridx && !sticky; ++i) sticky = s[i] != 0;
        }
    }

    bool inc = false;
    switch (rnd) {
        case 0: inc = r && (sticky || (m & 1)); break;
        case 1: inc = (r || sticky) && !negative; break;
        case 2: inc = (r || sticky) && negative; break;
        default: break;
    }
    if (inc) {
        ++m;
        if (m == (1ULL << p)) {
            m >>= 1;
            ++k;
        }
    }
    if (m == 0) return negative ? -0.0 : 0.0;
    if (k + (64 - std::countl_zero(m)) > emax) {
        const bool to_inf = rnd == 0 || (rnd == 1 && !negative) || (rnd == 2 && negative);
        const double mag = to_inf ? inf : maxval;
        return negative ? -mag : mag;
    }
    const double v = compose(m, k);
    return negative ? -v : v;
}

double finish(const qxsum_acc *acc, uint32_t rnd, const format &f) {
    if (rnd > 3 || acc->nan) return default_nan;
    if (acc->pinf) return acc->ninf ? default_nan : inf;
    return round_to(acc, rnd, f);
}

}  // namespace qx

extern "C" {

double qxsum_round(const qxsum_acc *acc, uint32_t rnd) { return qx::finish(acc, rnd, qx::dbl_format); }

float qxsum_roundf(const qxsum_acc *acc, uint32_t rnd) {
    return (float)qx::finish(acc, rnd, qx::flt_format);
}

}  // extern "C"
