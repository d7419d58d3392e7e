"""Result types: enclosures with their proof status."""

import numpy as np

STATUS_TEXT = {
    0: "every component proven",
    1: "not every component proven (unproven ones are [-inf, +inf])",
}


class Enclosure:
    """Guaranteed bounds lo <= exact <= hi, componentwise.

    Attributes
    ----------
    lo : ndarray
        The lower bounds, shaped like the result (a vector, or n x k for k
        right-hand sides; for a stack of systems, the stack's shape in
        front).  An unproven component is [-inf, +inf].
    hi : ndarray
        The upper bounds, shaped like lo.
    status : int or ndarray of int
        0 when every component is proven, 1 otherwise; for a stack of
        systems, an integer array with one status per system.
    proven : ndarray of bool
        Which components are proven (not [-inf, +inf]).
    mid : ndarray
        A midpoint: [mid - rad, mid + rad] contains [lo, hi].  NaN for an
        unproven component.
    rad : ndarray
        A radius rounded up around mid; +inf for an unproven component.
    """

    __slots__ = ("lo", "hi", "status", "what")

    def __init__(self, lo, hi, status, what):
        if isinstance(status, np.ndarray):  # one status per system of a stack
            status.flags.writeable = False
        else:
            status = int(status)
        self.lo, self.hi, self.status, self.what = lo, hi, status, what
        lo.flags.writeable = False
        hi.flags.writeable = False

    @property
    def proven(self):
        return ~((self.lo == -np.inf) & (self.hi == np.inf))

    @property
    def ok(self):
        """True when every component (of every system) is proven (status 0)."""
        if isinstance(self.status, np.ndarray):
            return not self.status.any()
        return self.status == 0

    @property
    def mid(self):
        with np.errstate(invalid="ignore", over="ignore"):
            m = 0.5 * self.lo + 0.5 * self.hi
            return np.where(self.proven, m, np.nan)

    @property
    def rad(self):
        with np.errstate(invalid="ignore", over="ignore"):
            m = self.mid
            r = np.maximum(self.hi - m, m - self.lo)
            return np.where(self.proven, np.nextafter(r, np.inf), np.inf)

    def contains(self, x):
        """Componentwise lo <= x <= hi for values x shaped like the result."""
        x = np.asarray(x, dtype=np.float64)
        return (self.lo <= x) & (x <= self.hi)

    def __repr__(self):
        if isinstance(self.status, np.ndarray):  # a stack: one row per system
            st = self.status.reshape(-1)
            head = (f"<norva.Enclosure of {self.what}, shape {self.lo.shape}, "
                    f"{int(np.count_nonzero(st == 0))} of {st.size} systems proven (status 0)>")
            lo = self.lo.reshape(st.size, self.lo.size // max(st.size, 1))

            def label(i):
                at = tuple(int(j) for j in np.unravel_index(i, self.status.shape))
                return f"{at} status {st[i]}"
        else:
            head = (f"<norva.Enclosure of {self.what}, shape {self.lo.shape}, status "
                    f"{self.status}: {STATUS_TEXT.get(self.status, '?')}>")
            lo = self.lo.reshape(self.lo.shape[0], -1)

            def label(i):
                return f"{i:>5}"
        hi = self.hi.reshape(lo.shape)
        rows = [head]
        shown = range(lo.shape[0]) if lo.shape[0] <= 12 else [*range(5), None,
                                                               *range(lo.shape[0] - 5,
                                                                      lo.shape[0])]
        for i in shown:
            if i is None:
                rows.append("  ...")
                continue
            cells = "  ".join(f"[{a:.17g}, {b:.17g}]" for a, b in zip(lo[i, :4], hi[i, :4]))
            rows.append(f"  {label(i)}  {cells}{'  ...' if lo.shape[1] > 4 else ''}")
        return "\n".join(rows)


class SpdResult:
    """Outcome of a positive-definiteness proof.

    Attributes
    ----------
    proven : bool
        True when A is proven positive definite (status 0).
    lower : float
        A guaranteed lower bound of the smallest eigenvalue whenever it is
        not -inf; positive when proven (or 0 when the bound of a badly
        scaled matrix underflows).
    status : int
        0 proven, 1 not proven.
    """

    __slots__ = ("lower", "status")

    def __init__(self, lower, status):
        self.lower, self.status = float(lower), int(status)

    @property
    def proven(self):
        return self.status == 0

    ok = proven

    def __bool__(self):
        return self.proven

    def __repr__(self):
        verdict = "positive definite (proven)" if self.proven else "not proven positive definite"
        return (f"<norva.SpdResult: {verdict}, lambda_min >= {self.lower:.17g}, "
                f"status {self.status}>")
