"""A least-squares fit with verified coefficients: a quadratic through eight
points at t = 10000 ... 10007 whose values are exactly 1 + 2 t + 3 t^2.  The
normal equations lose the constant term entirely; norva.lstsq proves the
exact coefficients (1, 2, 3) within a few units in the last place.

    python3 least_squares_fit.py
"""

import numpy as np

import norva

t = np.arange(10000.0, 10008.0)
A = np.c_[np.ones_like(t), t, t * t]  # exact in double
y = 1 + 2 * t + 3 * t * t  # exact: below 2^53
exact = np.array([1.0, 2.0, 3.0])

normal = np.linalg.solve(A.T @ A, A.T @ y)
plain, *_ = np.linalg.lstsq(A, y, rcond=None)
x = norva.lstsq(A, y)
print(x)
print("normal equations:     ", normal)
print("numpy.linalg.lstsq:   ", plain)
print("norva, midpoints:     ", x.mid)
print("norva, radii:         ", x.rad)
if not x.ok or not np.all(x.contains(exact)):
    raise SystemExit("the exact coefficients are not enclosed")
print("the exact coefficients 1, 2, 3 lie inside the proven enclosures")
