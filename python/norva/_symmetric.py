"""Symmetric matrices: positive definiteness and eigenvalues."""

import numpy as np

from . import _args
from ._call import Product, bounds, call, document, ptr, refused
from ._result import Enclosure, SpdResult


@document
def spd(A, mode=0, gemm=None, *, l=None, shift=None):
    """Prove the symmetric matrix A positive definite.

    Proven (status 0): A is positive definite, and lower > 0 (or 0 when the
    bound of a badly scaled A underflows) with lower <= lambda_min(A).
    Whenever lower is not -inf it is a guaranteed lower bound of the
    smallest eigenvalue, also when the proof fails (status 1).

    Parameters
    ----------
    A : (n, n) array_like
        Exactly symmetric (A[i, j] == A[j, i] as doubles).
    {modes}
    {gemm}
    l, shift : (n, n) array_like and float, optional
        Verify a factor of your own, A - shift I ~ L L^T, instead of letting
        the library choose the shift and the factor; a proof needs
        shift > 0.  Both or neither.

    Returns
    -------
    SpdResult
        proven (also its truth value), lower, status.

    {raises}
    """
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
