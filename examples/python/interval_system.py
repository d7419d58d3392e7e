"""A system with uncertain data: every coefficient of a small circuit is known
only to +-1 %, the sources to +-0.5 %.  solve_interval encloses the currents
of every circuit within those tolerances at once; sampled circuits and the
nominal one land inside.

    python3 interval_system.py
"""

import numpy as np

import norva

# Mesh equations of a three-loop resistor network (ohms) and sources (volts).
R = np.array([[15.0, -5.0, 0.0],
              [-5.0, 20.0, -10.0],
              [0.0, -10.0, 30.0]])
V = np.array([10.0, 0.0, 5.0])

tol_r, tol_v = 0.01, 0.005
x = norva.solve_interval(R - tol_r * abs(R), R + tol_r * abs(R),
                         V - tol_v * abs(V), V + tol_v * abs(V))
print(x)
if not x.ok:
    raise SystemExit("not proven")
for i, (lo, hi) in enumerate(zip(x.lo, x.hi)):
    print(f"current {i + 1}: {lo:.6f} A .. {hi:.6f} A")

# Any circuit inside the tolerances has its currents inside the enclosure.
rng = np.random.default_rng(1)
for _ in range(1000):
    Rs = R * (1 + tol_r * rng.uniform(-1, 1, R.shape))
    Vs = V * (1 + tol_v * rng.uniform(-1, 1, V.shape))
    cur = np.linalg.solve(Rs, Vs)
    assert np.all(x.lo <= cur) and np.all(cur <= x.hi), cur
nominal = norva.solve(R, V)
assert np.all(x.lo <= nominal.lo) and np.all(nominal.hi <= x.hi)
print("1000 sampled circuits and the nominal one lie inside the enclosure")
