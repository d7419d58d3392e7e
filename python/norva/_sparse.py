"""Band and sparse systems."""

import operator

import numpy as np

from . import _args
from ._call import bounds, call, document, ptr, refused
from ._result import Enclosure


def _bandwidths(lu):
    try:
        kl, ku = (operator.index(x) for x in lu)
    except (TypeError, ValueError):
        raise TypeError("(kl, ku): a pair of integers expected") from None
    if kl < 0 or ku < 0:
        raise ValueError(f"(kl, ku): non-negative bandwidths expected, got ({kl}, {ku})")
    return kl, ku


def _rows_storage(ab, kl, ku, storage):
    """The library's storage, row i of A from ab[i, kl + j - i], from either
    layout; only positions inside the matrix are checked (the others are
    never read)."""
    w = kl + ku + 1
    if storage == "rows":
        a = _args.matrix("ab", ab, finite=False)
        n = a.shape[0]
        if a.shape[1] < w:
            raise ValueError(f"ab: at least kl + ku + 1 = {w} columns expected, got {a.shape[1]}")
        j = np.arange(n)[:, None] + np.arange(a.shape[1])[None, :] - kl
        _args.check_finite("ab", a, (j >= 0) & (j < n) & (np.arange(a.shape[1]) < w))
        return a
    if storage != "diagonals":
        raise ValueError(f"storage: \"rows\" or \"diagonals\" expected, got {storage!r}")
    a = _args.matrix("ab", ab, rows=w, finite=False)
    n = a.shape[1]
    i = np.arange(w)[:, None] - ku + np.arange(n)[None, :]  # row of ab[r, j]
    _args.check_finite("ab", a, (i >= 0) & (i < n))
    rows = np.zeros((n, w))
    for d in range(-kl, ku + 1):  # entries (i, i + d)
        first, last = max(0, -d), min(n, n - d)
        rows[first:last, kl + d] = a[ku - d, first + d:last + d]
    return rows


def _per_column(b, n, solve_one, what):
    bb, vector = _args.rhs("b", b, n)
    lo, hi = bounds(bb.shape)
    status = 0
    for c in range(bb.shape[1]):
        col = np.ascontiguousarray(bb[:, c])
        x_lo, x_hi = bounds(n)
        status = max(status, solve_one(col, x_lo, x_hi))
        lo[:, c], hi[:, c] = x_lo, x_hi
    if vector:
        lo, hi = lo.reshape(-1), hi.reshape(-1)
    return Enclosure(lo, hi, status, what)


@document
def solve_band(bandwidths, ab, b, mode=0, *, storage="rows"):
    """Enclose the solution of a band system A x = b.

    A has kl sub-diagonals and ku super-diagonals.  Proven (status 0):
    lo <= x <= hi componentwise; one bound on the 2-norm of the error widens
    every component, so the enclosures are wider than the dense solver's,
    for work of order n (kl + ku)^2 instead of n^3.  Status 1: not proven
    (singular or too ill-conditioned), every bound [-inf, +inf].

    Parameters
    ----------
    bandwidths : (kl, ku)
        The numbers of sub- and super-diagonals.
    ab : array_like
        storage="rows" (the library's): shape (n, kl + ku + 1) or wider,
        A[i, j] = ab[i, kl + j - i], so column kl holds the diagonal.
        storage="diagonals" (LAPACK's and scipy.linalg.solve_banded's):
        shape (kl + ku + 1, n), A[i, j] = ab[ku + i - j, j].  Positions
        outside the matrix are never read and may hold anything.
    b : (n,) or (n, k) array_like
        Right-hand side(s); each column is a separate call.
    {modes}

    {result}

    {raises}

    Example
    -------
    The tridiagonal matrix (-1, 4, -1) of order 4 and the right-hand side
    that makes every component of the solution 1, in both layouts:

    >>> import numpy as np
    >>> rows = [[0, 4, -1], [-1, 4, -1], [-1, 4, -1], [-1, 4, 0]]
    >>> x = norva.solve_band((1, 1), rows, [3, 2, 2, 3])
    >>> x.ok, bool(x.contains(np.ones(4)).all())
    (True, True)
    >>> diagonals = [[0, -1, -1, -1], [4, 4, 4, 4], [-1, -1, -1, 0]]
    >>> y = norva.solve_band((1, 1), diagonals, [3, 2, 2, 3], storage="diagonals")
    >>> bool((y.lo == x.lo).all() and (y.hi == x.hi).all())
    True
    """
    kl, ku = _bandwidths(bandwidths)
    a = _rows_storage(ab, kl, ku, storage)
    n, ld = a.shape
    m = _args.mode(mode, 1)

    def one(col, lo, hi):
        status = call("norva_solve_band", n, kl, ku, ptr(a), ld, ptr(col), ptr(lo), ptr(hi), m)
        refused("norva_solve_band", status)
        return status

    return _per_column(b, n, one, "the solution of a band system")


def _csr(A):
    """(n, indptr, indices, data) as uint64, uint64 and float64 arrays, from
    a scipy.sparse matrix or a tuple (indptr, indices, data)."""
    if hasattr(A, "tocsr"):
        if A.shape[0] != A.shape[1] or A.shape[0] == 0:
            raise ValueError(f"A: a non-empty square matrix expected, got shape {A.shape}")
        if np.dtype(A.dtype).kind not in "biuf":
            raise TypeError(f"A: real entries expected, got dtype {A.dtype}")
        csr = A.tocsr(copy=True)
        csr.sum_duplicates()  # duplicates add up, as in scipy's own arithmetic
        indptr, indices, data = csr.indptr, csr.indices, csr.data
    elif isinstance(A, tuple) and len(A) == 3:
        indptr, indices, data = A
    else:
        raise TypeError("A: a scipy.sparse matrix or a tuple (indptr, indices, data) of "
                        f"compressed sparse rows expected, got {type(A).__name__}")
    ptrs, cols = (np.asarray(x) for x in (indptr, indices))
    for name, x in (("indptr", ptrs), ("indices", cols)):
        if x.ndim != 1 or x.dtype.kind not in "iu" and x.size:
            raise TypeError(f"A: {name} must be a vector of integers")
    n = ptrs.shape[0] - 1
    if n < 1:
        raise ValueError("A: indptr must have n + 1 >= 2 entries")
    if ptrs[0] != 0 or (np.diff(ptrs) < 0).any() or ptrs[-1] != cols.shape[0]:
        raise ValueError("A: indptr must start at 0, never decrease and end at len(indices)")
    vals = _args.vector("A (data)", data, cols.shape[0])
    if cols.size and (cols.min() < 0 or cols.max() >= n):
        raise ValueError(f"A: a column index outside 0 .. {n - 1}")
    rows = np.repeat(np.arange(n, dtype=np.uint64), np.diff(ptrs).astype(np.int64))
    keys = rows * np.uint64(n) + cols.astype(np.uint64)
    if np.unique(keys).size != keys.size:
        raise ValueError("A: a column appears twice in a row")
    return n, ptrs.astype(np.uint64), cols.astype(np.uint64), vals


def is_sparse(A):
    """Whether A is given in sparse form: a scipy.sparse matrix, or a tuple
    (indptr, indices, data).  A tuple of three rows of length 3 is read as a
    dense 3 x 3 matrix, as it always was by the dense functions."""
    if hasattr(A, "tocsr"):
        return True
    if not isinstance(A, tuple) or len(A) != 3:
        return False
    return not all(hasattr(x, "__len__") and len(x) == 3 for x in A)


def symmetric_csr(A):
    """_csr(A) for an exactly symmetric A, both triangles stored.  Stored zeros
    are dropped (they change nothing, and their mirrors may be absent); the
    error names the first pair of entries that differ, as for a dense A."""
    n, ptrs, cols, vals = _csr(A)
    rows = np.repeat(np.arange(n, dtype=np.uint64), np.diff(ptrs).astype(np.int64))
    keep = vals != 0
    if not keep.all():
        rows, cols, vals = rows[keep], cols[keep], vals[keep]
        counts = np.bincount(rows.astype(np.int64), minlength=n)
        ptrs = np.r_[0, np.cumsum(counts)].astype(np.uint64)
    nn = np.uint64(n)
    keys = rows * nn + cols
    order = np.argsort(keys, kind="stable")
    sorted_keys, sorted_vals = keys[order], vals[order]

    def value(k):  # the entries at the keys k, 0 where none is stored
        at = np.minimum(np.searchsorted(sorted_keys, k), keys.size - 1)
        return np.where(sorted_keys[at] == k, sorted_vals[at], 0.0)

    mirror_keys = cols * nn + rows
    bad = value(mirror_keys) != vals
    if bad.any():
        k = min(keys[bad].min(), mirror_keys[bad].min())
        i, j = divmod(int(k), n)
        a, b = value(np.array([k, np.uint64(j) * nn + np.uint64(i)], dtype=np.uint64))
        raise ValueError(f"A: not exactly symmetric: entry ({i}, {j}) = {float(a)!r} but "
                         f"({j}, {i}) = {float(b)!r}")
    return n, ptrs, cols, vals


@document
def solve_sparse(A, b, mode=0):
    """Enclose the solution of a sparse system A x = b.

    Two ways, chosen by their cost.  Matrices that a renumbering of the
    unknowns (reverse Cuthill-McKee) turns into a narrow band are solved as
    by solve_band.  Large mesh matrices, whose band stays wide, go to a
    fill-reducing ordering and a sparse Cholesky factorization when the
    library is built with CHOLMOD: of A when A is exactly symmetric, of
    A^T A otherwise or when A is not positive definite.  Either way the
    enclosure is one normwise radius around a refined solution (the same
    width for every component), and the bounds come back in the original
    numbering.  Proven (status 0): lo <= x <= hi componentwise.  Status 1:
    not proven, every bound [-inf, +inf] (also when memory runs out, or
    when, without CHOLMOD, the renumbered band needs more than 2^27
    doubles).

    Parameters
    ----------
    A : scipy.sparse matrix, or (indptr, indices, data)
        A square sparse matrix of any scipy format (duplicate entries are
        added), or compressed sparse rows as three arrays: row i holds the
        columns indices[indptr[i]:indptr[i+1]] (each at most once) with the
        values data[indptr[i]:indptr[i+1]].  Never made dense.
    b : (n,) or (n, k) array_like
        Right-hand side(s); each column is a separate call.
    {modes}

    {result}

    {raises}

    Examples
    --------
    >>> import numpy as np, scipy.sparse as sp, norva
    >>> A = sp.diags([-1.0, 4.0, -1.0], [-1, 0, 1], shape=(5, 5), format="csr")
    >>> x = norva.solve_sparse(A, A @ np.arange(1.0, 6.0))
    >>> x.status, bool(x.contains(np.arange(1.0, 6.0)).all())
    (0, True)

    The same matrix as three arrays of compressed sparse rows:

    >>> y = norva.solve_sparse((A.indptr, A.indices, A.data), [3, 2, 2, 2, 3])
    >>> bool(y.contains(np.ones(5)).all())
    True
    """
    n, ptrs, cols, vals = _csr(A)
    m = _args.mode(mode, 1)

    def one(col, lo, hi):
        status = call("norva_solve_sparse", n, ptr(ptrs), ptr(cols), ptr(vals), ptr(col),
                      ptr(lo), ptr(hi), m)
        if status == -1 and not np.isnan(lo).any():
            return 1  # out of memory or the band too wide: written as unproven
        refused("norva_solve_sparse", status)
        return status

    return _per_column(b, n, one, "the solution of a sparse system")
