"""The matrix-product callback: NumPy's product or a Python callable passed to
the library as a norva_gemm_fn.

The library calls it on the calling thread only (with the interpreter lock
re-acquired by ctypes for the duration of the call).  The C side has no way
to report an error, so an exception is never let through: the product is
filled with NaN instead, which no verification accepts, later products are
NaN without calling again, and the exception is raised once the library has
returned."""

import ctypes

import numpy as np

from ._lib import GEMM_FN

_F64 = np.dtype(np.float64)


def _view(addr, rows, cols, ld, writeable):
    """The rows x cols row-major matrix at addr with leading dimension ld."""
    size = (rows - 1) * ld + cols
    buf = (ctypes.c_double * size).from_address(addr)
    arr = np.ndarray((rows, cols), dtype=_F64, buffer=buf, strides=(8 * ld, 8))
    arr.flags.writeable = writeable
    return arr


def _numpy_product(a, b, c):
    np.matmul(a, b, out=c)


class Product:
    """Holds the ctypes callback for one library call and the first exception
    raised by the Python side."""

    def __init__(self, gemm):
        if gemm is None:
            self.fn = GEMM_FN()  # NULL: the library's built-in product
            self.error = None
            return
        if isinstance(gemm, str):
            if gemm != "numpy":
                raise ValueError(f"gemm: None, \"numpy\" or a callable expected, got {gemm!r}")
            product = _numpy_product
        elif callable(gemm):
            def product(a, b, c):
                res = np.asarray(gemm(a, b))
                if res.shape != c.shape:
                    raise ValueError(f"gemm: the callable returned shape {res.shape} for a "
                                     f"product of shape {c.shape}")
                c[...] = res
        else:
            raise TypeError(f"gemm: None, \"numpy\" or a callable expected, "
                            f"got {type(gemm).__name__}")
        self.error = None

        def trampoline(m, n, k, a, lda, b, ldb, c, ldc, ctx):
            if m == 0 or n == 0:
                return
            cv = _view(c, m, n, ldc, True)
            if self.error is None:
                try:
                    if k == 0:
                        cv[...] = 0.0
                    else:
                        product(_view(a, m, k, lda, False), _view(b, k, n, ldb, False), cv)
                    return
                except BaseException as err:  # never across the C frames
                    self.error = err
            cv[...] = np.nan

        self.fn = GEMM_FN(trampoline)

    def check(self):
        """Raise the exception the Python product raised during the call."""
        if self.error is not None:
            err, self.error = self.error, None
            raise err
