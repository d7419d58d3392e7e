"""Dense systems: point data, interval data, least squares."""

import math

import numpy as np

from . import _args
from ._call import Product, bounds, call, document, enclosure, ptr, refused
from ._result import Enclosure


def _inverse(r, n, name="r"):
    return None if r is None else _args.matrix(name, r, n, n, finite=False)


# numpy.linalg.solve takes b as a stack of vectors when it has exactly one
# dimension fewer than A (NumPy 1.x) or when it is 1-D (NumPy 2.0 on), and as
# a stack of n x k matrices otherwise; solve follows the NumPy it runs with.
_NUMPY2 = int(np.__version__.split(".")[0]) >= 2


def _vectors(a_ndim, b_ndim):
    return b_ndim == 1 if _NUMPY2 else b_ndim == a_ndim - 1


@document
def solve(A, b, mode=0, gemm=None, *, r=None):
    """Enclose the solution of the dense system A x = b, or of each system of
    a stack.

    Proven (status 0): lo <= x <= hi componentwise for the exact solution x
    of the system with exactly the doubles given (each right-hand side is
    proven on its own).  A singular or too ill-conditioned A leaves the
    unproven columns at [-inf, +inf] with status 1; try mode 2.

    Stacks broadcast over the leading dimensions as in numpy.linalg.solve:
    A of shape (..., n, n), b a stack of vectors (..., n) or of n x k
    matrices (..., n, k).  b is a stack of vectors when it has exactly one
    dimension fewer than A with NumPy 1.x, when it is 1-D with NumPy 2 (the
    rule of the NumPy installed applies, so the result has the shape
    numpy.linalg.solve gives).  Each system gives exactly the bits solve
    gives on it alone.  Stacks with one right-hand side per system (and no
    gemm, no r) are solved in a single library call, in parallel on the
    library's threads; float64 stacks it can step through with one stride
    are read in place, so do not modify them from another thread meanwhile.
    With k > 1, gemm or r, the systems are solved one after the other.

    Parameters
    ----------
    A : (n, n) or (..., n, n) array_like
        Any real dtype and layout NumPy can convert; integers must be exact
        doubles.
    b : (n,), (n, k), (..., n) or (..., n, k) array_like
        One right-hand side or k of them (as columns), per system.
    {modes2}
    {gemm}
    r : (n, n) or (..., n, n) array_like, optional
        An approximate inverse of A to start from (not checked: a poor one
        only makes the proof fail); for a stack, broadcast to the stack.

    {result}
        For a stack, lo and hi have the broadcast shape, status is an
        integer array shaped like the stack (one status per system) and ok
        is True when every system is proven.

    {raises}

    Example
    -------
    >>> x = norva.solve([[4, 1], [1, 3]], [1, 2])
    >>> x.ok, x.lo[0] <= 1/11 <= x.hi[0]
    (True, True)
    >>> A = [[[4, 1], [1, 3]], [[1, 2], [2, 4]]]  # the second is singular
    >>> xs = norva.solve(A, [[1, 2], [1, 2]])
    >>> xs.status.tolist(), xs.ok, xs.lo.shape, float(xs.hi[1, 0])
    ([0, 1], False, (2, 2), inf)
    """
    # ndarrays go on as they are (a single system costs no conversion here).
    a = A if isinstance(A, np.ndarray) else _args.float64("A", A)
    bb = b if isinstance(b, np.ndarray) else _args.float64("b", b)
    if a.ndim != 2 or bb.ndim > 2:
        return _solve_stack(_args.float64("A", a), _args.float64("b", bb), mode, gemm, r)
    # Read in place (the library never writes them); the library checks that
    # every entry is finite, and only its refusal costs the search for the
    # entry to name.
    a = _args.matrix("A", a, square=True, finite=False, copy=None)
    n = a.shape[0]
    bb, vector = _args.rhs("b", bb, n, finite=False, copy=None)
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
    if status == -1:
        _args.check_finite("A", a)
        _args.check_finite("b", bb if not vector else bb.reshape(-1))
    refused("norva_solve", status)
    return enclosure(lo, hi, status, "the solution of A x = b", vector)


def _solve_stack(a, b, mode, gemm, r):
    if a.ndim < 2:
        raise ValueError(f"A: a matrix or a stack of matrices (..., n, n) expected, "
                         f"got {a.ndim}-D")
    n = a.shape[-1]
    if a.shape[-2] != n:
        raise ValueError(f"A: square matrices expected, got shape {a.shape}")
    if n == 0:
        raise ValueError(f"A: empty matrices (shape {a.shape})")
    _args.check_finite("A", a)
    vector = _vectors(a.ndim, b.ndim)
    core = (n,) if vector else (n, b.shape[-1] if b.ndim else 0)
    if b.ndim < len(core) or b.shape[b.ndim - len(core):] != core or 0 in core:
        rule = "1-D" if _NUMPY2 else f"{a.ndim - 1}-D, one dimension fewer than A"
        raise ValueError(f"b: for A of shape {a.shape}, vectors of length {n} (b {rule}) or "
                         f"matrices of shape (..., {n}, k) with k >= 1 expected, got shape "
                         f"{b.shape}")
    _args.check_finite("b", b)
    try:
        stack = np.broadcast_shapes(a.shape[:-2], b.shape[:b.ndim - len(core)])
    except ValueError:
        raise ValueError(f"A, b: stacks of shapes {a.shape[:-2]} and "
                         f"{b.shape[:b.ndim - len(core)]} do not broadcast") from None
    m = _args.mode(mode, 2)
    rr = None if r is None else _stacked_inverse(r, stack, n)
    product = Product(gemm)
    count = math.prod(stack)
    lo, hi = bounds(stack + core)
    status = np.zeros(stack, dtype=np.int32)
    what = f"the solutions of a stack of {count} systems A x = b"
    if count > 0 and rr is None and gemm is None and (vector or core[1] == 1):
        pa, step_a = _packed(a, stack, (n, n))
        pb, step_b = _packed(b, stack, core)
        done = call("norva_solve_batch", count, n, ptr(pa), step_a, ptr(pb), step_b, ptr(lo),
                    ptr(hi), n, m, ptr(status))
        refused("norva_solve_batch", done)
    elif count > 0:
        aa = np.broadcast_to(a, stack + (n, n))
        bs = np.broadcast_to(b, stack + core)
        k = 1 if vector else core[1]
        for at in np.ndindex(*stack):
            ai, bi = _aligned(aa[at]), _aligned(bs[at])
            ri = None if rr is None else _aligned(rr[at])
            if vector:
                done = call("norva_solve", n, ptr(ai), n, ptr(bi), ptr(ri), n, ptr(lo[at]),
                            ptr(hi[at]), m, product=product)
            else:
                done = call("norva_solve_many", n, k, ptr(ai), n, ptr(bi), k, ptr(ri), n,
                            ptr(lo[at]), ptr(hi[at]), k, m, product=product)
            refused("norva_solve", done)
            status[at] = done
    return Enclosure(lo, hi, status, what)


def _aligned(arr):
    return np.require(arr, requirements=("C", "A"))


def _packed(arr, stack, core):
    """arr broadcast to stack + core, as a (count, *core) array the library
    steps through with one stride, and that stride in doubles: the caller's
    memory when its layout allows, else a packed copy."""
    size = math.prod(core)
    flat = np.broadcast_to(arr, stack + core).reshape((-1,) + core)  # a view where possible
    step = flat.strides[0]
    if flat.flags.aligned and flat[0].flags.c_contiguous:
        if flat.shape[0] == 1:
            return flat, size
        if step % 8 == 0 and step >= 8 * size:
            return flat, step // 8
    return np.ascontiguousarray(flat), size


def _stacked_inverse(r, stack, n):
    rr = _args.float64("r", r)
    if rr.ndim < 2 or rr.shape[-2:] != (n, n):
        raise ValueError(f"r: shape (..., {n}, {n}) expected, got {rr.shape}")
    try:
        return np.broadcast_to(rr, stack + (n, n))
    except ValueError:
        raise ValueError(f"r: a stack of shape {rr.shape[:-2]} does not broadcast to the "
                         f"systems' {stack}") from None


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

    Example
    -------
    Every entry known to +-0.1; the matrix [[4, 1], [1, 3]] lies inside, and
    the solution of its system, (1/11, 7/11), in the enclosure:

    >>> x = norva.solve_interval([[3.9, 0.9], [0.9, 2.9]], [[4.1, 1.1], [1.1, 3.1]],
    ...                          [0.9, 1.9], [1.1, 2.1])
    >>> x.ok, x.contains([1/11, 7/11]).tolist()
    (True, [True, True])
    >>> bool(x.hi[0] - x.lo[0] < 0.2)
    True
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

    Example
    -------
    The line y = c0 + c1 t through (0, 1), (1, 3), (2, 5), and a point off it:

    >>> x = norva.lstsq([[1, 0], [1, 1], [1, 2]], [1, 3, 5])
    >>> x.ok, x.contains([1, 2]).tolist()
    (True, [True, True])
    >>> y = norva.lstsq([[1, 0], [1, 1], [1, 2], [1, 3]], [1, 3, 5, 8])
    >>> y.ok, [round(v, 9) for v in y.mid.tolist()]
    (True, [0.8, 2.3])
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
