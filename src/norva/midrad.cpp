// Midpoint and radius of an interval, rounded so that the ball contains it.
#include <cmath>

#include "norva/interval.h"
#include "common/steps.h"

namespace norva {

void midrad(double *mid, double *rad, double lo, double hi) {
    // The halves are formed first so that lo + hi cannot overflow; an
    // underflowing half is covered by the floor at 2^-1022 below.
    const double m = lo * 0.5 + hi * 0.5;
    *mid = m;
    const double d = std::fmax(m - lo, hi - m);
    if (d == 0) {
        *rad = 0;
        return;
    }
    *rad = std::fmax(up(d), realmin);
}

}  // namespace norva
