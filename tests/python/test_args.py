"""Argument errors (named, raised before the library is reached), array
layouts and dtypes, inputs left alone."""

import os
import subprocess
import sys

import numpy as np
import pytest

import norva

A3 = np.array([[4.0, 1, 0], [1, 3, 1], [0, 1, 2]])
B3 = np.array([1.0, 2, 3])
NAN_A = A3.copy()
NAN_A[1, 0] = np.nan

ERRORS = [  # (call, exception, text the message must contain)
    (lambda: norva.solve(A3[:2], [1, 2]), ValueError, "A: square"),
    (lambda: norva.solve(A3, [1, 2]), ValueError, "b: length 3"),
    (lambda: norva.solve(A3, np.ones((3, 0))), ValueError, "b: shape"),
    (lambda: norva.solve(np.zeros((0, 0)), []), ValueError, "A: empty"),
    (lambda: norva.solve(NAN_A, B3), ValueError, "A: entry (1, 0) is nan"),
    (lambda: norva.solve(A3, [1, np.inf, 3]), ValueError, "b: entry [1] is inf"),
    (lambda: norva.solve(A3 + 0j, B3), TypeError, "A: real numbers"),
    (lambda: norva.solve([["1", "2"], ["3", "4"]], [1, 2]), TypeError, "A: real numbers"),
    (lambda: norva.solve(np.array([[2**53 + 1, 0], [0, 1]]), [1, 1]), ValueError,
     "not exactly a double"),
    (lambda: norva.solve(np.ones((2, 3, 4)), np.ones((2, 3))), ValueError, "A: square matrices"),
    (lambda: norva.solve(np.ones((2, 3, 3)), np.ones((2, 4))), ValueError, "b: for A of shape"),
    (lambda: norva.solve(np.ones((2, 3, 3)), np.ones((3, 3, 1))), ValueError,
     "A, b: stacks of shapes (2,) and (3,)"),
    (lambda: norva.solve(np.stack([A3, NAN_A]), np.ones((2, 3))), ValueError,
     "A: entry (1, 1, 0) is nan"),
    (lambda: norva.solve(np.stack([A3, A3]), np.ones((2, 3)), r=np.eye(2)), ValueError,
     "r: shape (..., 3, 3)"),
    (lambda: norva.solve(np.stack([A3, A3]), np.ones((2, 3)), r=np.ones((3, 3, 3))),
     ValueError, "r: a stack of shape (3,)"),
    (lambda: norva.solve(A3, B3, mode=3), ValueError, "mode: 0 to 2"),
    (lambda: norva.solve(A3, B3, mode=1.0), TypeError, "mode"),
    (lambda: norva.solve(A3, B3, gemm="blas"), ValueError, "gemm"),
    (lambda: norva.solve(A3, B3, gemm=3), TypeError, "gemm"),
    (lambda: norva.solve_interval(A3, A3 - 1, B3, B3), ValueError, "A_lo, A_hi: lower bound"),
    (lambda: norva.solve_interval(A3, A3, B3, np.c_[B3]), ValueError, "b_lo, b_hi: shapes"),
    (lambda: norva.solve_interval(A3, A3, B3, B3, mode=2), ValueError, "mode: 0 to 1"),
    (lambda: norva.spd([[1, 2], [3, 1]]), ValueError, "A: not exactly symmetric: entry (0, 1)"),
    (lambda: norva.spd(A3, shift=1.0), ValueError, "l, shift"),
    (lambda: norva.spd(A3, l=np.eye(3), shift=np.nan), ValueError, "shift"),
    (lambda: norva.spd(([0, 2, 4, 5], [0, 1, 0, 1, 2], [2, 1, 1.5, 2, 3])), ValueError,
     "A: not exactly symmetric: entry (0, 1) = 1.0 but (1, 0) = 1.5"),
    (lambda: norva.spd(([0, 1, 3, 4], [0, 0, 1, 2], [2, 1, 2, 3])), ValueError,
     "A: not exactly symmetric: entry (0, 1) = 0.0 but (1, 0) = 1.0"),  # lower triangle only
    (lambda: norva.spd(([0, 1, 2, 3], [0, 1, 2], [1, 1, 1]), l=np.eye(3), shift=0.5),
     ValueError, "l, shift: a factor of your own is verified for a dense A only"),
    (lambda: norva.spd(([0, 1, 2, 3], [0, 1, 2], [1, 1, 1]), gemm="numpy"), ValueError,
     "gemm: a product callback serves a dense A only"),
    (lambda: norva.eig_sym(A3, v=np.eye(3)), ValueError, "v, d"),
    (lambda: norva.eig_sym(A3, v=np.eye(3), d=[1, 2]), ValueError, "d: a vector of length 3"),
    (lambda: norva.lstsq(A3, B3, alpha=3), ValueError, "alpha: 0 or a positive power of two"),
    (lambda: norva.lstsq(A3, B3, alpha=-0.5), ValueError, "alpha"),
    (lambda: norva.solve_band((1, 1), np.ones((3, 2)), B3), ValueError, "ab: at least"),
    (lambda: norva.solve_band((1, -1), np.ones((3, 3)), B3), ValueError, "(kl, ku)"),
    (lambda: norva.solve_band((1, 1), np.ones((3, 3)), B3, storage="lapack"), ValueError,
     "storage"),
    (lambda: norva.solve_band((1, 1), [[9, 1, 1], [1, np.nan, 1], [1, 1, 9]], B3), ValueError,
     "ab: entry (1, 1)"),
    (lambda: norva.solve_sparse(A3, B3), TypeError, "A: a scipy.sparse matrix or a tuple"),
    (lambda: norva.solve_sparse(([0, 2, 3, 4], [0, 0, 1, 2], [1, 1, 1, 1]), B3), ValueError,
     "twice in a row"),
    (lambda: norva.solve_sparse(([0, 1, 2, 3], [0, 1, 3], [1, 1, 1]), B3), ValueError,
     "column index"),
    (lambda: norva.solve_sparse(([0, 2, 1, 3], [0, 1, 2], [1, 1, 1]), B3), ValueError,
     "indptr"),
]


@pytest.mark.parametrize("call, exc, text", ERRORS)
def test_argument_errors_name_the_argument(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert text in str(info.value)


def test_errors_come_before_the_library_is_loaded():
    code = ("import norva\n"
            "try:\n    norva.solve([[1, 2]], [1])\nexcept ValueError: print('checked')\n"
            "try:\n    norva.solve([[1]], [1])\n"
            "except norva.LibraryNotFoundError as e: print(e)\n")
    env = dict(os.environ, NORVA_LIBRARY="/nonexistent/libnorva.so.0")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         check=True).stdout
    assert out.startswith("checked\n") and "NORVA_LIBRARY: /nonexistent/libnorva.so.0" in out


BIG = np.arange(36.0).reshape(6, 6) % 7 + 7 * np.eye(6)
LAYOUTS = [  # the same matrix, as the caller might hold it
    np.asfortranarray(BIG),
    np.kron(BIG, np.ones((2, 2)))[::2, ::2],  # strided view
    BIG.T.copy().T,
    BIG.astype(np.int32),
    BIG.astype(np.int64),
    BIG.astype(np.float32),
    BIG.astype(np.longdouble),
    BIG.tolist(),
]


@pytest.mark.parametrize("layout", range(len(LAYOUTS)))
def test_layouts_and_dtypes_give_identical_bits(layout):
    A = LAYOUTS[layout]
    b = np.arange(6, dtype=np.int16)
    before = np.array(A, copy=True)
    ref = norva.solve(BIG, b.astype(float), mode=1)
    x = norva.solve(A, b, mode=1)
    assert np.array_equal(x.lo, ref.lo) and np.array_equal(x.hi, ref.hi)
    assert np.array_equal(np.asarray(A), before)  # the caller's data untouched


def test_read_only_inputs_and_results():
    A = BIG.copy()
    A.flags.writeable = False
    x = norva.solve(A, np.ones(6))
    with pytest.raises(ValueError):
        x.lo[0] = 0.0
