"""spd and eig_sym on matrices with exactly known spectra."""

import numpy as np
import pytest

import norva

# (matrix, its eigenvalues in ascending order)
SPECTRA = [
    ([[2, 1], [1, 2]], [1, 3]),
    ([[2, 0, 0], [0, 3, 4], [0, 4, -3]], [-5, 2, 5]),
    ([[5, 0, 0], [0, 5, 0], [0, 0, 1]], [1, 5, 5]),  # a double eigenvalue
    ([[2, -1, 0, 0], [-1, 2, -1, 0], [0, -1, 2, -1], [0, 0, -1, 2]],
     [2 - 2 * np.cos(k * np.pi / 5) for k in range(1, 5)]),  # irrational: checked with margin
]


@pytest.mark.parametrize("mode", [0, 1])
@pytest.mark.parametrize("A, lam", SPECTRA)
def test_eig_sym_encloses_the_spectrum(A, lam, mode):
    e = norva.eig_sym(A, mode=mode)
    assert e.status == 0 and e.proven.all()
    slack = 1e-15 if len(A) == 4 else 0.0  # cos in double is off by an ulp or so
    assert np.all(e.lo <= np.asarray(lam) + slack) and np.all(np.asarray(lam) - slack <= e.hi)
    assert np.all(e.hi - e.lo < 1e-8)
    # The caller's decomposition, verified as given.
    d, v = np.linalg.eigh(np.asarray(A, dtype=float))
    ev = norva.eig_sym(A, v=v, d=d, mode=mode)
    assert ev.status == 0 and np.all(ev.lo <= np.asarray(lam) + slack)
    assert np.all(np.asarray(lam) - slack <= ev.hi)


@pytest.mark.parametrize("mode", [0, 1])
@pytest.mark.parametrize("A, lam", SPECTRA)
def test_spd_proves_exactly_the_positive_definite(A, lam, mode):
    s = norva.spd(A, mode=mode)
    assert bool(s) == (lam[0] > 0) and s.proven == (s.status == 0)
    assert s.lower == -np.inf or s.lower <= lam[0]
    if lam[0] > 0:
        assert 0 < s.lower


def test_spd_verifies_the_callers_factor():
    A = np.array([[4.0, 2.0], [2.0, 3.0]])  # eigenvalues (7 -+ sqrt 17) / 2, min 1.438
    L = np.linalg.cholesky(A - np.eye(2))
    s = norva.spd(A, l=L, shift=1.0)
    assert s.proven and 0 < s.lower <= (7 - 17 ** 0.5) / 2
    bad = norva.spd(A, l=np.eye(2), shift=1.0)  # not a factor of A - I: no proof
    assert not bad.proven


# (dim, k, added to the diagonal) for the finite-difference Laplacian of a
# k^dim grid; the last one, 10^6 x 10^6, would need 8 TB as a dense matrix.
LAPLACIANS = [(2, 30, 0.0), (3, 10, 0.0), (1, 10**6, 2.0)]


@pytest.mark.parametrize("mode", [0, 1])
@pytest.mark.parametrize("dim, k, plus", LAPLACIANS)
def test_spd_sparse_laplacian(dim, k, plus, mode):
    sparse = pytest.importorskip("scipy.sparse")
    T = sparse.diags([-1.0, 2.0, -1.0], [-1, 0, 1], shape=(k, k))
    L = T
    for _ in range(dim - 1):
        L = sparse.kronsum(L, T)
    n = k**dim
    A = (L + plus * sparse.identity(n)).tocsr()
    lam = dim * (2 - 2 * np.cos(np.pi / (k + 1))) + plus  # lambda_min, to an ulp or so
    s = norva.spd(A, mode=mode)
    assert s.proven and 0 < s.lower <= lam + 1e-15
    # Other formats, and CSR arrays with a stored zero whose mirror is
    # absent: the same matrix, the same bits.
    indptr, indices, data = A.indptr.copy(), A.indices, A.data
    indices, data = np.insert(indices, indptr[1], n - 1), np.insert(data, indptr[1], 0.0)
    indptr[1:] += 1
    for same in (A.tocoo(), A.tocsc(), (indptr, indices, data)):
        assert norva.spd(same, mode=mode).lower == s.lower
    # Shifted just past lambda_min: indefinite, never proven.
    shift = lam * (1 + 1e-6)
    t = norva.spd(A - shift * sparse.identity(n), mode=mode)
    assert not t.proven and t.lower <= lam - shift
