"""Dense systems: point data, interval data, least squares."""

import math

import numpy as np

from . import _args
from ._call import Product, bounds, call, document, enclosure, ptr, refused


def _inverse(r, n, name="r"):
    return None if r is None else _args.matrix(name, r, n, n, finite=False)


@document
def solve(A, b, mode=0, gemm=None, *, r=None):
    """Enclose the solution of the dense system A x = b.

    Proven (status 0): lo <= x <= hi componentwise for the exact solution x
    of the system with exactly the doubles given (each right-hand side is
    proven on its own).  A singular or too ill-conditioned A leaves the
    unproven columns at [-inf, +inf] with status 1; try mode 2.

    Parameters
    ----------
    A : (n, n) array_like
        Any real dtype and layout NumPy can convert; integers must be exact
        doubles.
    b : (n,) or (n, k) array_like
        One right-hand side or k of them (as columns).
    {modes2}
    {gemm}
    r : (n, n) array_like, optional
        An approximate inverse of A to start from (not checked: a poor one
        only makes the proof fail).

    {result}

    {raises}

    Example
    -------
    >>> x = norva.solve([[4, 1], [1, 3]], [1, 2])
    >>> x.ok, x.lo[0] <= 1/11 <= x.hi[0]
    (True, True)
    """
    a = _args.matrix("A", A, square=True)
    n = a.shape[0]
    bb, vector = _args.rhs("b", b, n)
    m = _args.mode(mode, 2)
    rr = _inverse(r, n)
    product = Product(gemm)
    k = bb.shape[1]
    lo, hi = bounds(bb.shape)
    if vector:
        status = call("norva_solve", n, ptr(a), n, ptr(bb), ptr(rr), n, ptr(lo), ptr(hi), m,
                      product=product)
    else:
        status = call("norva_solve_many", n, k, ptr(a), n, ptr(bb), k, ptr(rr), n, ptr(lo),
                      ptr(hi), k, m, product=product)
    refused("norva_solve", status)
    return enclosure(lo, hi, status, "the solution of A x = b", vector)


def _interval(name_lo, name_hi, lo, hi):
    if (lo > hi).any():
        at = tuple(int(i) for i in np.argwhere(lo > hi)[0])
        raise ValueError(f"{name_lo}, {name_hi}: lower bound {lo[at]!r} above upper bound "
                         f"{hi[at]!r} at entry {at}")


@document
def solve_interval(A_lo, A_hi, b_lo, b_hi, mode=0, gemm=None, *, r=None):
    """Enclose every solution of A x = b for all A and b within the intervals.

    Proven (status 0): for every matrix A with A_lo <= A <= A_hi and every
    b with b_lo <= b <= b_hi (entrywise), the solution of A x = b lies in
    [lo, hi].  This is how tolerances on the data propagate to the
    solution.  When the intervals contain a singular matrix, or are too
    wide for the proof, the columns concerned are [-inf, +inf] (status 1).

    Parameters
    ----------
    A_lo, A_hi : (n, n) array_like
        Entrywise bounds of the matrix, A_lo <= A_hi.
    b_lo, b_hi : (n,) or (n, k) array_like
        Bounds of the right-hand side(s), b_lo <= b_hi.
    {modes}
    {gemm}
    r : (n, n) array_like, optional
        An approximate inverse of the midpoint matrix.

    {result}

    {raises}
    """
    alo = _args.matrix("A_lo", A_lo, square=True)
    n = alo.shape[0]
    ahi = _args.matrix("A_hi", A_hi, n, n)
    blo, vector = _args.rhs("b_lo", b_lo, n)
    bhi, vector_hi = _args.rhs("b_hi", b_hi, n)
    if vector != vector_hi or blo.shape != bhi.shape:
        raise ValueError(f"b_lo, b_hi: shapes differ ({np.shape(b_lo)} and {np.shape(b_hi)})")
    _interval("A_lo", "A_hi", alo, ahi)
    _interval("b_lo", "b_hi", blo, bhi)
    m = _args.mode(mode, 1)
    rr = _inverse(r, n)
    product = Product(gemm)
    k = blo.shape[1]
    lo, hi = bounds(blo.shape)
    status = call("norva_solve_interval", n, k, ptr(alo), ptr(ahi), n, ptr(blo), ptr(bhi), k,
                  ptr(rr), n, ptr(lo), ptr(hi), k, m, product=product)
    refused("norva_solve_interval", status)
    return enclosure(lo, hi, status, "every solution of the interval system", vector)


@document
def lstsq(A, b, alpha=0, mode=0, gemm=None, *, r=None):
    """Enclose the least-squares or minimum-norm solution of A x = b.

    For an m x n matrix A of full rank: with m >= n, the x minimising
    ||A x - b||_2; with m < n, the x of least 2-norm with A x = b (for each
    column of b).  Proven (status 0): lo <= x <= hi componentwise.  A
    rank-deficient A gives status 1.  The problem is solved as the square
    augmented system [[alpha I, A], [A^T, 0]] (or [[alpha I, A^T], [A, 0]])
    of order m + n.

    Parameters
    ----------
    A : (m, n) array_like
    b : (m,) or (m, k) array_like
    alpha : float
        0 (chosen automatically, near sigma_min(A) / sqrt 2) or a positive
        power of two.
    {modes2}
    {gemm}
    r : (m + n, m + n) array_like, optional
        An approximate inverse of the augmented matrix.

    {result}
        The bounds have n rows.

    {raises}
    """
    a = _args.matrix("A", A)
    rows, cols = a.shape
    bb, vector = _args.rhs("b", b, rows)
    al = _args.real("alpha", alpha)
    if al < 0 or al > 0 and math.frexp(al)[0] != 0.5:
        raise ValueError(f"alpha: 0 or a positive power of two expected, got {alpha!r}")
    m = _args.mode(mode, 2)
    rr = _inverse(r, rows + cols)
    product = Product(gemm)
    k = bb.shape[1]
    lo, hi = bounds((cols, k))
    status = call("norva_lstsq", rows, cols, k, ptr(a), cols, ptr(bb), k, al, ptr(rr),
                  rows + cols, ptr(lo), ptr(hi), k, m, product=product)
    refused("norva_lstsq", status)
    what = "the least-squares solution" if rows >= cols else "the minimum-norm solution"
    return enclosure(lo, hi, status, what, vector)
