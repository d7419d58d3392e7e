"""The product callback (NumPy's product, Python callables, failures) and the
interpreter lock released during a call."""

import threading
import time

import numpy as np
import pytest

import norva
from conftest import assert_encloses, exact_solve

rng = np.random.default_rng(7)
A = np.round(rng.uniform(-8, 8, (40, 40))) + 40 * np.eye(40)  # integers, well conditioned
B = np.round(rng.uniform(-8, 8, (40, 2)))
C = np.round(rng.uniform(-8, 8, (70, 70)))
SYM = C + C.T + 300 * np.eye(70)  # positive definite; n >= 64 for the product paths

CALLS = {  # name: call(gemm, mode)
    "solve": lambda g, m: norva.solve(A, B, mode=m, gemm=g),
    "solve_interval": lambda g, m: norva.solve_interval(A, A, B, B, mode=m, gemm=g),
    "spd": lambda g, m: norva.spd(SYM, mode=m, gemm=g),
    "eig_sym": lambda g, m: norva.eig_sym(SYM[:8, :8], mode=m, gemm=g),
    "lstsq": lambda g, m: norva.lstsq(A[:, :30], B, mode=m, gemm=g),
}


@pytest.mark.parametrize("mode", [0, 1, 2])
def test_numpy_and_callable_products_prove_the_exact_solution(mode):
    exact = exact_solve(A, B)
    calls = []

    def product(a, b):
        calls.append((a.flags.writeable, b.flags.writeable))
        return a @ b

    for gemm in ("numpy", product):
        assert_encloses(norva.solve(A, B, mode=mode, gemm=gemm), exact)
    assert calls and not any(w for pair in calls for w in pair)  # read-only views


class Boom(Exception):
    pass


@pytest.mark.parametrize("name, mode", [(name, m) for name in CALLS
                                        for m in range(3 if name in ("solve", "lstsq") else 2)])
def test_failing_products_never_give_a_proof(name, mode):
    called = []

    def raising(a, b):
        called.append(1)
        raise Boom("product failed")

    def nan_product(a, b):
        called.append(1)
        return np.full((a.shape[0], b.shape[1]), np.nan)

    try:
        CALLS[name](raising, mode)
        assert not called  # some paths make no product through the callback
    except Boom:
        assert len(called) == 1  # not called again after the failure
    if CALLS[name](nan_product, mode).status == 0:
        assert not called
    if called:
        with pytest.raises(ValueError, match="returned shape"):
            CALLS[name](lambda a, b: np.zeros((a.shape[0] + 1, b.shape[1])), mode)
    assert CALLS[name]("numpy", mode).status == 0  # nothing left over from the failures


def test_interpreter_lock_released_during_a_solve():
    n = 600  # long enough (well over 0.05 s) on a quiet machine too
    M = rng.uniform(-1, 1, (n, n))
    ticks = []
    stop = threading.Event()

    def counter():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    t = threading.Thread(target=counter)
    t.start()
    try:
        start = time.perf_counter()
        x = norva.solve(M, np.ones(n), mode=0)
        end = time.perf_counter()
    finally:
        stop.set()
        t.join()
    assert x.status == 0
    inside = sum(start < s < end for s in ticks)
    # With the lock held for the call the counter could not run at all.
    assert end - start > 0.05 and inside >= 10, (end - start, inside)
