"""Calling an export: pointers, the product callback, and the status."""

import numpy as np

from . import _lib
from ._callback import Product
from ._result import Enclosure

# Shared pieces of the docstrings.
DOC = {
    "modes": """mode : int
        0: error bounds from exactly rounded products (tightest, slowest).
        1: floating-point products with a priori rounding-error bounds
        (faster, somewhat wider).{mode2}""",
    "mode2": """
        2: a double-length solve, for ill-conditioned systems that defeat
        modes 0 and 1.""",
    "gemm": """gemm : None, "numpy" or callable
        The dense matrix product used for the heavy work.  None: the
        library's own.  "numpy": NumPy's matmul, i.e. the BLAS NumPy was
        built with.  A callable f(A, B) must return the product A @ B of two
        float64 matrices, rounded to nearest (any summation order), as an
        array; A and B are read-only views valid during the call only.  The
        proofs rest on products that meet this contract.  An exception in
        the callable is raised once the library has returned, and no result
        is proven meanwhile.""",
    "result": """Returns
    -------
    Enclosure
        lo, hi (shaped like b: a vector, or n x k for k right-hand sides),
        mid, rad, the per-component mask proven, and status: 0 every
        component proven, 1 some not proven (those are [-inf, +inf]).  A
        failed proof is not an exception.""",
    "raises": """Raises
    ------
    ValueError, TypeError
        Invalid arguments (wrong shape, an infinite or NaN entry, a dtype
        that is not real, a mode out of range), before the library is
        called; the message names the argument.""",
}


def document(fn):
    fn.__doc__ = fn.__doc__.format(**{k: v.format(mode2="") for k, v in DOC.items()},
                                   modes2=DOC["modes"].format(mode2=DOC["mode2"]))
    return fn


def ptr(arr):
    return None if arr is None else arr.ctypes.data


def call(name, *args, product=None):
    """Run the export name with the product callback appended (when given)
    and return its status; -1 means an argument check was missed here."""
    fn = getattr(_lib.lib(), name)
    if product is not None:
        status = fn(*args, product.fn, None)
        product.check()
    else:
        status = fn(*args)
    return status


def refused(name, status):
    if status == -1:
        raise ValueError(f"{name} refused its arguments (status -1)")


def bounds(shape):
    """Output arrays, NaN until the library writes them."""
    lo, hi = np.empty(shape), np.empty(shape)
    lo.fill(np.nan)
    hi.fill(np.nan)
    return lo, hi


def enclosure(lo, hi, status, what, vector):
    if vector:
        lo, hi = lo.reshape(-1), hi.reshape(-1)
    return Enclosure(lo, hi, status, what)


__all__ = ["Product", "call", "ptr", "bounds", "enclosure", "refused", "document"]
