// Internal interface of the interval solver: the conversion of an interval
// [lo, hi] to a midpoint and a radius.
#ifndef NORVA_INTERVAL_H
#define NORVA_INTERVAL_H

namespace norva {

// *mid = lo/2 + hi/2 and *rad >= 0 with [mid - rad, mid + rad] containing
// [lo, hi], in round to nearest: rad = max(up(d), 2^-1022) for
// d = max(mid - lo, hi - mid), or 0 when d is 0 (lo, hi and mid the same
// number).  rad is +inf only when the interval is as wide as the doubles
// (up(DBL_MAX)); the solver then fails to prove rather than trust it.
void midrad(double *mid, double *rad, double lo, double hi);

}  // namespace norva

#endif
