"""A proof of positive definiteness.  The Fibonacci matrix
[[F(k+1), F(k)], [F(k), F(k-1)]] has determinant (-1)^k (Cassini's identity):
positive definite for even k, indefinite for odd k, with the smallest
eigenvalue near +-1/(F(k+1) + F(k-1)).  For large k a floating-point Cholesky
accepts some indefinite ones (k = 45) and rejects some positive definite ones
(k = 42); norva.spd proves only what is true, up to k = 36 here.

    python3 positive_definite.py
"""

import numpy as np

import norva


def fib(k):
    a, b = 0, 1
    for _ in range(k):
        a, b = b, a + b
    return a


for k in (10, 11, 36, 37, 42, 45):
    A = np.array([[fib(k + 1), fib(k)], [fib(k), fib(k - 1)]], dtype=float)  # exact below 2^53
    try:
        np.linalg.cholesky(A)
        plain = "Cholesky succeeds"
    except np.linalg.LinAlgError:
        plain = "Cholesky fails"
    s = norva.spd(A)
    verdict = f"proven positive definite, lambda_min >= {s.lower:.3g}" if s else "not proven"
    print(f"k = {k:2}, det = {(-1) ** k:+d}: {plain:17} | norva: {verdict}")
    # Odd k: indefinite, so no proof may ever be claimed.
    assert not (s.proven and k % 2 == 1)
    # Even k up to 36: proven, with lower <= 1 / trace < lambda_min (det = 1).
    if k <= 36 and k % 2 == 0:
        assert s.proven and 0 < s.lower <= 1 / (A[0, 0] + A[1, 1])
