"""solve_band and solve_sparse: integer solutions, both band layouts, CSR
from scipy and from plain arrays, all bit for bit the same."""

import numpy as np
import pytest

import norva
from conftest import assert_encloses, exact_solve

N = 7
X = np.arange(1, N + 1) * (-1.0) ** np.arange(N)  # the known solution


def dense_band(kl, ku):
    i, j = np.indices((N, N))
    A = np.where((j - i <= ku) & (i - j <= kl), (i * 3 + j * 5) % 7 - 3.0, 0.0)
    return A + np.diag(np.full(N, 8.0))


def rows_storage(A, kl, ku):
    ab = np.full((N, kl + ku + 1), np.nan)  # positions outside A are never read
    for i in range(N):
        for j in range(max(0, i - kl), min(N, i + ku + 1)):
            ab[i, kl + j - i] = A[i, j]
    return ab


def diagonals_storage(A, kl, ku):
    ab = np.full((kl + ku + 1, N), np.nan)
    for i in range(N):
        for j in range(max(0, i - kl), min(N, i + ku + 1)):
            ab[ku + i - j, j] = A[i, j]
    return ab


@pytest.mark.parametrize("mode", [0, 1])
@pytest.mark.parametrize("kl, ku", [(1, 1), (0, 2), (2, 1), (0, 0)])
def test_band_layouts_agree_and_enclose(kl, ku, mode):
    A = dense_band(kl, ku)
    b = A @ X  # exact: small integers
    x = norva.solve_band((kl, ku), rows_storage(A, kl, ku), b, mode=mode)
    assert_encloses(x, [[v] for v in X])
    y = norva.solve_band((kl, ku), diagonals_storage(A, kl, ku), b, mode=mode,
                         storage="diagonals")
    assert np.array_equal(x.lo, y.lo) and np.array_equal(x.hi, y.hi)
    two = norva.solve_band((kl, ku), rows_storage(A, kl, ku), np.c_[b, 2 * b], mode=mode)
    assert np.array_equal(two.lo[:, 0], x.lo) and two.lo.shape == (N, 2)


def csr_arrays(A):
    indptr, indices, data = [0], [], []
    for row in A:
        nz = np.flatnonzero(row)
        indices += list(nz)
        data += list(row[nz])
        indptr.append(len(indices))
    return indptr, indices, data


@pytest.mark.parametrize("mode", [0, 1])
def test_sparse_from_arrays_and_scipy(mode):
    A = dense_band(2, 1)[::-1].copy()  # rows reversed: not a band until renumbered
    b = A @ X
    x = norva.solve_sparse(csr_arrays(A), b, mode=mode)
    assert_encloses(x, exact_solve(A, b))
    sparse = pytest.importorskip("scipy.sparse")
    coo = sparse.coo_matrix(A)
    # The same matrix as a COO with one entry split in two: duplicates add up.
    r, c, v = coo.row, coo.col, coo.data
    split = sparse.coo_matrix((np.r_[v, 0.5], (np.r_[r, r[0]], np.r_[c, c[0]])), shape=A.shape)
    split.data[0] -= 0.5
    for M in (sparse.csr_matrix(A), coo, split):
        y = norva.solve_sparse(M, b, mode=mode)
        assert np.array_equal(x.lo, y.lo) and np.array_equal(x.hi, y.hi)


def test_sparse_band_too_wide_is_proven_or_unproven_not_an_error():
    # An arrow matrix keeps a band of at least n + 1 diagonals in any
    # numbering: n (n + 1) doubles exceed the library's 2^27 for its band
    # path.  A library with the sparse Cholesky path proves it (x = 1);
    # one without returns it unproven.
    n = 12000
    indptr = np.r_[0, n + 2 * np.arange(n)]
    indices = np.r_[np.arange(n), np.c_[np.zeros(n - 1, int), np.arange(1, n)].ravel()]
    data = np.where(indices == np.repeat(np.arange(n), np.diff(indptr)), float(n), 1.0)
    b = np.r_[2.0 * n - 1, np.full(n - 1, n + 1.0)]
    x = norva.solve_sparse((indptr, indices, data), b)
    assert (x.status == 0 and x.contains(np.ones(n)).all()) or (
        x.status == 1 and not x.proven.any())
