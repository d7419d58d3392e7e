"""solve, solve_interval and lstsq against exact rational solutions."""

import itertools

import numpy as np
import pytest

import norva
from conftest import assert_encloses, exact_solve, fr, matmul, solve_fractions, transpose

HILBERT6 = [[27720 // (i + j + 1) for j in range(6)] for i in range(6)]  # exact integers
SYSTEMS = [
    ([[4, 1, 0], [1, 3, 1], [0, 1, 2]], [1, 2, 3]),
    (HILBERT6, [1, 0, 0, 0, 0, 1]),
    ([[1e-3, 2], [3, 4e5]], [[1, 0], [0, 1]]),  # two right-hand sides
    ([[0, 1], [1, 0]], [0.1, 0.7]),  # needs pivoting
]


@pytest.mark.parametrize("mode", [0, 1, 2])
@pytest.mark.parametrize("A, b", SYSTEMS)
def test_solve_encloses_exact_solution(A, b, mode):
    x = norva.solve(A, b, mode=mode)
    assert x.lo.shape == np.shape(b)
    assert_encloses(x, exact_solve(A, b))
    assert np.all(x.mid - x.rad <= x.lo) and np.all(x.hi <= x.mid + x.rad)


def test_singular_is_unproven_not_an_error():
    x = norva.solve([[1, 2], [2, 4]], [1, 1])
    assert x.status == 1 and not x.proven.any()
    assert np.all(x.lo == -np.inf) and np.all(x.hi == np.inf) and np.isnan(x.mid).all()


def test_approximate_inverse_is_used_as_given():
    A = np.array(HILBERT6, dtype=float)
    assert_encloses(norva.solve(A, np.ones(6), r=np.linalg.inv(A)),
                    exact_solve(A, np.ones(6)))


@pytest.mark.parametrize("mode", [0, 1])
def test_interval_contains_every_corner_system(mode):
    A = np.array([[4.0, 1.0], [-1.0, 3.0]])
    b = np.array([1.0, 2.0])
    ra, rb = 2.0 ** -6, 2.0 ** -5
    x = norva.solve_interval(A - ra, A + ra, b - rb, b + rb, mode=mode)
    assert x.status == 0
    # The solution set of a 2 x 2 interval system is the hull of its corners'.
    for signs in itertools.product((-1, 1), repeat=6):
        Ac = A + ra * np.array(signs[:4]).reshape(2, 2)
        bc = b + rb * np.array(signs[4:])
        for i, xi in enumerate(exact_solve(Ac, bc)):
            assert x.lo[i] <= xi[0] <= x.hi[i]


def test_interval_of_points_matches_solve_bounds():
    A, b = SYSTEMS[0]
    assert_encloses(norva.solve_interval(A, A, b, b), exact_solve(A, b))


def _exact_lstsq(A, b):
    F, B = fr(A), fr(np.reshape(b, (len(A), -1)))
    if len(A) >= len(A[0]):  # normal equations
        return solve_fractions(matmul(transpose(F), F), matmul(transpose(F), B))
    y = solve_fractions(matmul(F, transpose(F)), B)  # x = A^T (A A^T)^-1 b
    return matmul(transpose(F), y)


LSTSQ = [
    ([[1, 0], [1, 1], [1, 2], [1, 5]], [1, 2, 4, 3], 0),  # a line through 4 points
    ([[1, 2, 3], [4, 5, 7]], [[1, 0], [0, 1]], 0),  # minimum norm, 2 right-hand sides
    ([[3, 1], [1, 3], [0, 1]], [1, 1, 1], 0.5),
]


@pytest.mark.parametrize("mode", [0, 1, 2])
@pytest.mark.parametrize("A, b, alpha", LSTSQ)
def test_lstsq_encloses_exact_solution(A, b, alpha, mode):
    x = norva.lstsq(A, b, alpha=alpha, mode=mode)
    assert x.lo.shape == ((len(A[0]),) if np.ndim(b) == 1 else (len(A[0]), np.shape(b)[1]))
    assert_encloses(x, _exact_lstsq(A, b))


def test_lstsq_rank_deficient_is_unproven():
    assert norva.lstsq([[1, 2], [2, 4], [3, 6]], [1, 2, 3]).status == 1
