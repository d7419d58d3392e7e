"""Exact rational oracles for the tests of the Python package."""

from fractions import Fraction

import numpy as np


def solve_fractions(M, B):
    """The exact solution of M X = B for matrices of Fractions (Gauss-Jordan)."""
    n = len(M)
    m = [list(M[i]) + list(B[i]) for i in range(n)]
    for c in range(n):
        p = next(r for r in range(c, n) if m[r][c] != 0)
        m[c], m[p] = m[p], m[c]
        for r in range(n):
            if r != c and m[r][c] != 0:
                f = m[r][c] / m[c][c]
                m[r] = [x - f * y for x, y in zip(m[r], m[c])]
    return [[m[i][n + j] / m[i][i] for j in range(len(B[0]))] for i in range(n)]


def exact_solve(A, B):
    """The exact solution of A X = B for doubles taken at their exact values
    (B a vector or n x k)."""
    return solve_fractions(fr(A), fr(np.reshape(np.asarray(B, dtype=float), (len(A), -1))))


def fr(M):
    return [[Fraction(float(v)) for v in row] for row in np.asarray(M, dtype=float)]


def matmul(X, Y):
    return [[sum(a * b for a, b in zip(row, col)) for col in zip(*Y)] for row in X]


def transpose(X):
    return [list(c) for c in zip(*X)]


def assert_encloses(enc, exact):
    """Status 0 and lo <= exact <= hi, compared exactly."""
    assert enc.status == 0 and enc.proven.all()
    lo, hi = enc.lo.reshape(len(exact), -1), enc.hi.reshape(len(exact), -1)
    for i, row in enumerate(exact):
        for j, x in enumerate(row):
            assert Fraction(lo[i, j]) <= x <= Fraction(hi[i, j]), (i, j, lo[i, j], x, hi[i, j])
