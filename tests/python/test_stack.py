"""solve on stacks: the shape numpy.linalg.solve gives, and per system the
bits and status of a call of solve on that system alone."""

import doctest

import numpy as np
import pytest

import norva

NUMPY2 = int(np.__version__.split(".")[0]) >= 2
SAME = lambda A: A  # noqa: E731

STACKS = [  # A's shape, b's shape, mode, the stack entry of A made singular, options, A's layout
    ((2, 3, 4, 4), (2, 3, 4), 0, (1, 2), {}, SAME),
    ((1, 4, 4), (5, 4), 1, (0,), {}, SAME),  # A broadcast: every system singular
    ((5, 4, 4), (4,), 0, (2,), {}, SAME),  # vectors with NumPy 2, an error before
    ((4, 4), (3, 4, 1), 2, None, {}, SAME),
    ((3, 4, 4), (3, 4, 2), 0, (0,), {}, SAME),
    ((2, 1, 3, 3), (3, 3), 1, (1, 0), {}, SAME),
    ((2, 3, 3), (3, 3), 0, None, {}, SAME),  # a matrix b with NumPy 2, an error before
    ((3, 4, 4), (3, 4), 1, (1,), {"gemm": "numpy"}, SAME),
    ((3, 4, 4), (3, 4), 0, None, {"r": True}, SAME),
    ((6, 5, 5), (6, 5), 1, (4,), {}, lambda A: np.repeat(A, 2, axis=0)[::2]),  # read in place
    ((6, 5, 5), (6, 5), 0, (0,), {}, np.asfortranarray),
    ((0, 4, 4), (0, 4), 0, None, {}, SAME),
]


@pytest.mark.parametrize("a_shape, b_shape, mode, singular, options, layout", STACKS)
def test_stack_matches_solve_per_system(a_shape, b_shape, mode, singular, options, layout):
    rng = np.random.default_rng(7)
    n = a_shape[-1]
    A = rng.uniform(-1, 1, a_shape) + n * np.eye(n)  # diagonally dominant
    if singular is not None:
        A[singular] = 1.0
    A, b = layout(A), rng.uniform(-1, 1, b_shape)
    if options.get("r"):
        options = {"r": np.linalg.inv(A)}
    try:  # NumPy's shape (on identities: NumPy refuses singular matrices)
        shape = np.linalg.solve(np.broadcast_to(np.eye(n), a_shape), b).shape
    except ValueError:
        with pytest.raises(ValueError):
            norva.solve(A, b, mode=mode, **options)
        return
    x = norva.solve(A, b, mode=mode, **options)
    vector = b.ndim == 1 if NUMPY2 else b.ndim == A.ndim - 1
    stack = shape[:-1] if vector else shape[:-2]
    assert x.lo.shape == x.hi.shape == shape and x.status.shape == stack
    assert x.status.dtype.kind == "i" and x.ok == (x.status == 0).all()
    As, bs = np.broadcast_to(A, stack + (n, n)), np.broadcast_to(b, shape)
    rs = np.broadcast_to(options["r"], As.shape) if "r" in options else None
    for at in np.ndindex(*stack):
        one = dict(options, r=rs[at]) if "r" in options else options
        ref = norva.solve(As[at], bs[at], mode=mode, **one)
        assert isinstance(ref.status, int) and x.status[at] == ref.status
        assert x.lo[at].tobytes() == ref.lo.tobytes() and x.hi[at].tobytes() == ref.hi.tobytes()
        if (As[at] == 1).all():
            assert ref.status == 1 and (x.lo[at] == -np.inf).all() and (x.hi[at] == np.inf).all()
        else:
            assert ref.status == 0 and x.proven[at].all()


def test_docstring_examples_run():
    tests = doctest.DocTestFinder().find(norva.solve, globs={"norva": norva})
    result = doctest.DocTestRunner().run(tests[0])
    assert result.attempted > 0 and result.failed == 0
