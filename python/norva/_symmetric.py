"""Symmetric matrices: positive definiteness and eigenvalues."""

import numpy as np

from . import _args, _sparse
from ._call import Product, bounds, call, document, ptr, refused
from ._result import Enclosure, SpdResult


@document
def spd(A, mode=0, gemm=None, *, l=None, shift=None):
    """Prove the symmetric matrix A positive definite.

    Proven (status 0): A is positive definite, and lower > 0 (or 0 when the
    bound of a badly scaled A underflows) with lower <= lambda_min(A).
    Whenever lower is not -inf it is a guaranteed lower bound of the
    smallest eigenvalue, also when the proof fails (status 1).

    A sparse A is proven from a shifted sparse Cholesky factorization
    (fill-reducing ordering, with CHOLMOD) or, for narrow bands and without
    CHOLMOD, from a band factorization after a reverse Cuthill-McKee
    renumbering; it is never made dense.  A band too wide for the band path
    (more than 2^27 doubles) without CHOLMOD, or no memory, leaves it
    unproven.

    Parameters
    ----------
    A : (n, n) array_like, scipy.sparse matrix, or (indptr, indices, data)
        Exactly symmetric (A[i, j] == A[j, i] as doubles).  Sparse: any
        scipy.sparse format (duplicate entries are added), or compressed
        sparse rows as for solve_sparse, with both triangles stored; stored
        zeros are ignored.  A tuple of three rows of length 3 is a dense
        3 x 3 matrix.
    {modes}
    {gemm}
        Dense A only.
    l, shift : (n, n) array_like and float, optional
        Verify a factor of your own, A - shift I ~ L L^T, instead of letting
        the library choose the shift and the factor; a proof needs
        shift > 0.  Both or neither; dense A only.

    Returns
    -------
    SpdResult
        proven (also its truth value), lower, status.

    {raises}

    Examples
    --------
    >>> import math, scipy.sparse as sp, norva
    >>> norva.spd([[2, 1], [1, 2]]).proven
    True

    The 5-point Laplacian of a 50 x 50 grid, lambda_min = 2 (2 - 2 cos(pi/51))
    = 0.0076 to two digits, as a sparse matrix:

    >>> T = sp.diags([-1.0, 2.0, -1.0], [-1, 0, 1], shape=(50, 50))
    >>> L = sp.kronsum(T, T, format="csr")
    >>> s = norva.spd(L)
    >>> s.proven, 0 < s.lower <= 2 * (2 - 2 * math.cos(math.pi / 51))
    (True, True)
    >>> norva.spd(L - 0.01 * sp.eye(2500)).proven
    False
    """
    if _sparse.is_sparse(A):
        # The sparse path chooses its own shift and factor and has no use
        # for a dense product.
        if l is not None or shift is not None:
            raise ValueError("l, shift: a factor of your own is verified for a dense A only, "
                             "not for a sparse one")
        if gemm is not None:
            raise ValueError("gemm: a product callback serves a dense A only, not a sparse one")
        n, ptrs, cols, vals = _sparse.symmetric_csr(A)
        m = _args.mode(mode, 1)
        lower = np.full(1, np.nan)
        status = call("norva_spd_sparse", n, ptr(ptrs), ptr(cols), ptr(vals), ptr(lower), m)
        refused("norva_spd_sparse", status)
        return SpdResult(lower[0], status)
    a = _args.symmetric("A", A)
    n = a.shape[0]
    _args.both_or_neither("l, shift", l, shift, "a factor to verify and its shift")
    ll = None if l is None else _args.matrix("l", l, n, n)
    sh = 0.0 if shift is None else _args.real("shift", shift)
    m = _args.mode(mode, 1)
    product = Product(gemm)
    lower = np.full(1, np.nan)
    status = call("norva_spd", n, ptr(a), n, ptr(ll), n, sh, ptr(lower), m, product=product)
    refused("norva_spd", status)
    return SpdResult(lower[0], status)


@document
def eig_sym(A, v=None, d=None, mode=0, gemm=None):
    """Enclose all eigenvalues of the symmetric matrix A.

    Proven (status 0): lo[i] <= lambda_i <= hi[i] for the n eigenvalues in
    ascending order, multiplicities counted; multiple and clustered
    eigenvalues included.  Enclosures that overlap hold eigenvalues that are
    not separated at this precision.  Status 1: nothing proven (every bound
    [-inf, +inf]).

    Parameters
    ----------
    A : (n, n) array_like
        Exactly symmetric.
    v, d : (n, n) and (n,) array_like, optional
        An approximate eigen-decomposition to verify (eigenvectors as the
        columns of v, eigenvalues d in any order), for instance from
        numpy.linalg.eigh; both or neither.  Without them the library
        computes one (Jacobi method).
    {modes}
    {gemm}

    Returns
    -------
    Enclosure
        lo, hi of length n (ascending), mid, rad, proven, status.

    {raises}

    Example
    -------
    >>> import numpy as np
    >>> e = norva.eig_sym([[2, 1], [1, 2]])
    >>> e.ok, e.contains([1, 3]).tolist()
    (True, [True, True])
    >>> d = [1, 1, 1 + 2.0**-40]  # a double eigenvalue and one 2^-40 above it
    >>> e = norva.eig_sym(np.diag(d))
    >>> e.ok, bool(e.hi[1] < e.lo[2])
    (True, True)
    """
    a = _args.symmetric("A", A)
    n = a.shape[0]
    _args.both_or_neither("v, d", v, d, "approximate eigenvectors and eigenvalues")
    vv = None if v is None else _args.matrix("v", v, n, n)
    dd = None if d is None else _args.vector("d", d, n)
    m = _args.mode(mode, 1)
    product = Product(gemm)
    lo, hi = bounds(n)
    status = call("norva_eig_sym", n, ptr(a), n, ptr(vv), n, ptr(dd), ptr(lo), ptr(hi), m,
                  product=product)
    refused("norva_eig_sym", status)
    return Enclosure(lo, hi, status, "the eigenvalues")
