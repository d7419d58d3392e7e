"""Checking and converting the caller's arguments before anything reaches the
library.  Every error names the argument; nothing the caller passed is
modified (the library gets C-ordered float64 copies where needed)."""

import operator

import numpy as np

_F64 = np.dtype(np.float64)


def _where(index):
    return "(" + ", ".join(str(int(i)) for i in index) + ")" if len(index) > 1 else \
        f"[{int(index[0])}]"


def _to_float64(name, value, copy=True):
    try:
        arr = np.asarray(value)
    except Exception as err:  # ragged lists and the like
        raise ValueError(f"{name}: not convertible to an array of numbers ({err})") from None
    if arr.dtype.kind not in "biuf":
        raise TypeError(f"{name}: real numbers expected, got an array of dtype {arr.dtype}")
    if copy is None:  # C-ordered float64, the caller's own array when it is one
        out = np.ascontiguousarray(arr, dtype=_F64)
    elif copy:
        out = np.array(arr, dtype=_F64, order="C", copy=True)
    else:
        out = np.asarray(arr, dtype=_F64)
    # Integers beyond 2^53 and long doubles may not be doubles: solving the
    # rounded problem instead would prove a result about other data.
    if arr.dtype.kind in "iu" and arr.dtype.itemsize >= 8 or \
            arr.dtype.kind == "f" and arr.dtype.itemsize > 8:
        if arr.dtype.kind in "iu":
            limit = 2.0 ** (64 if arr.dtype.kind == "u" else 63)
            inside = np.abs(out) < limit
            exact = inside & (np.where(inside, out, 0).astype(arr.dtype) == arr)
        else:
            exact = out.astype(arr.dtype) == arr
        if not exact.all():
            bad = np.argwhere(~exact)[0]
            raise ValueError(f"{name}: entry {_where(bad)} = {arr[tuple(bad)]} is not exactly "
                             "a double")
    return out


def float64(name, value):
    """value as a float64 array of any layout, checked like matrix() checks its
    entries; the caller's own array when it is float64 already (read, never
    written)."""
    return _to_float64(name, value, copy=False)


def check_finite(name, arr, mask=None):
    bad = ~np.isfinite(arr)
    if mask is not None:
        bad &= mask
    if bad.any():
        at = np.argwhere(bad)[0]
        raise ValueError(f"{name}: entry {_where(at)} is {arr[tuple(at)]}; every entry must be "
                         "finite")


def matrix(name, value, rows=None, cols=None, square=False, finite=True, copy=True):
    """A 2-D C-ordered float64 copy of value with the shape asked for (with
    copy=None the caller's array itself when it is one, for reading only)."""
    arr = _to_float64(name, value, copy)
    if arr.ndim != 2:
        raise ValueError(f"{name}: a matrix (2-D array) expected, got {arr.ndim}-D")
    m, n = arr.shape
    if m == 0 or n == 0:
        raise ValueError(f"{name}: empty matrix (shape {arr.shape})")
    if square and m != n:
        raise ValueError(f"{name}: square matrix expected, got shape {arr.shape}")
    if rows is not None and m != rows or cols is not None and n != cols:
        raise ValueError(f"{name}: shape ({rows}, {cols}) expected, got {arr.shape}")
    if finite:
        check_finite(name, arr)
    return arr


def rhs(name, value, n, finite=True, copy=True):
    """Right-hand sides: a vector of length n or an n x k matrix.  Returns the
    n x k C-ordered copy (copy as in matrix()) and whether the caller gave a
    vector."""
    arr = _to_float64(name, value, copy)
    if arr.ndim == 1:
        if arr.shape[0] != n:
            raise ValueError(f"{name}: length {n} expected, got {arr.shape[0]}")
        if finite:
            check_finite(name, arr)
        return arr.reshape(n, 1), True
    if arr.ndim != 2:
        raise ValueError(f"{name}: a vector or a matrix of right-hand sides expected, "
                         f"got {arr.ndim}-D")
    if arr.shape[0] != n or arr.shape[1] == 0:
        raise ValueError(f"{name}: shape ({n}, k) with k >= 1 expected, got {arr.shape}")
    if finite:
        check_finite(name, arr)
    return arr, False


def vector(name, value, n, finite=True):
    arr = _to_float64(name, value)
    if arr.ndim != 1 or arr.shape[0] != n:
        raise ValueError(f"{name}: a vector of length {n} expected, got shape {arr.shape}")
    if finite:
        check_finite(name, arr)
    return arr


def mode(value, largest):
    if isinstance(value, bool):
        raise TypeError(f"mode: an integer from 0 to {largest} expected, got {value!r}")
    try:
        m = operator.index(value)
    except TypeError:
        raise TypeError(f"mode: an integer from 0 to {largest} expected, "
                        f"got {type(value).__name__}") from None
    if not 0 <= m <= largest:
        raise ValueError(f"mode: 0 to {largest} expected, got {m}")
    return m


def real(name, value):
    if isinstance(value, (bool, np.bool_)) or not np.isscalar(value) or \
            np.asarray(value).dtype.kind not in "iuf":
        raise TypeError(f"{name}: a real number expected, got {type(value).__name__}")
    x = float(value)
    if x != value:
        raise ValueError(f"{name}: {value} is not exactly a double")
    if not np.isfinite(x):
        raise ValueError(f"{name}: {x} is not finite")
    return x


def symmetric(name, value):
    """A square, exactly symmetric matrix, as the library requires; the error
    names the first pair of entries that differ."""
    arr = matrix(name, value, square=True)
    diff = arr != arr.T
    if diff.any():
        i, j = np.argwhere(diff)[0]
        raise ValueError(f"{name}: not exactly symmetric: entry ({i}, {j}) = {arr[i, j]!r} but "
                         f"({j}, {i}) = {arr[j, i]!r}")
    return arr


def both_or_neither(names, x, y, what):
    if (x is None) != (y is None):
        raise ValueError(f"{names}: give both ({what}) or neither")
