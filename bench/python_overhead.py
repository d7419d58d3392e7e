"""The cost of calling the library from Python.

norva.solve against the same norva_solve call from C (bench/solve_timer.c,
same data, same shared library), for n = 10 and n = 1000, and a mode-1
solve with gemm="numpy" against the command-line tool with --blas at
n = 1000 (its own reported solve time; the file is read outside it) and
against C with a cblas_dgemm callback.  Medians of wall-clock times,
rounds of C and Python interleaved; ratios within one run.

    NORVA_LIBRARY=build/libnorva.so.0 PYTHONPATH=python /usr/bin/python3 \\
        bench/python_overhead.py build/bench/solve_timer build/tools/norva
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import norva

timer, tool = sys.argv[1], (sys.argv[2] if len(sys.argv) > 2 else None)
work = tempfile.mkdtemp(prefix="norva-overhead.")
rng = np.random.default_rng(2024)


def system(n):
    A = rng.uniform(-1, 1, (n, n))
    b = rng.uniform(-1, 1, n)
    path = os.path.join(work, f"sys{n}.bin")
    np.concatenate([A.ravel(), b]).tofile(path)
    return A, b, path


def c_time(path, n, reps, mode, blas):
    out = subprocess.run([timer, path, str(n), str(reps), str(mode), str(int(blas))],
                         check=True, capture_output=True, text=True).stdout.split()
    assert out[2] == "0", "C call not proven"
    return float(out[0])


def py_time(A, b, reps, mode, gemm):
    norva.solve(A, b, mode=mode, gemm=gemm)  # untimed, as in solve_timer
    t = []
    for _ in range(reps):
        t0 = time.perf_counter()
        x = norva.solve(A, b, mode=mode, gemm=gemm)
        t.append(time.perf_counter() - t0)
    assert x.ok, "Python call not proven"
    return statistics.median(t)


def tool_time(A, b, mode):
    mtx = os.path.join(work, "A.mtx")
    with open(mtx, "w") as f:
        f.write(f"%%MatrixMarket matrix array real general\n{A.shape[0]} {A.shape[1]}\n")
        np.savetxt(f, A.T.reshape(-1), fmt="%.17g")  # array format: column by column
    rhs = os.path.join(work, "b.mtx")
    with open(rhs, "w") as f:
        f.write(f"%%MatrixMarket matrix array real general\n{b.shape[0]} 1\n")
        np.savetxt(f, b, fmt="%.17g")
    out = subprocess.run([tool, "solve", mtx, rhs, "--mode", str(mode), "--blas"], check=True,
                         capture_output=True, text=True).stdout
    return float(re.search(r"^time ([0-9.e+-]+) s", out, re.M).group(1))


def compare(label, A, b, path, reps, rounds, mode, gemm=None, blas=False):
    n = A.shape[0]
    cs, ps = [], []
    for _ in range(rounds):
        cs.append(c_time(path, n, reps, mode, blas))
        ps.append(py_time(A, b, reps, mode, gemm))
    c, p = statistics.median(cs), statistics.median(ps)
    print(f"{label:44} C {c * 1e3:10.4f} ms  Python {p * 1e3:10.4f} ms  "
          f"ratio {p / c:6.3f}  (+{(p - c) * 1e6:.1f} us)")
    return p


A10, b10, p10 = system(10)
A1k, b1k, p1k = system(1000)
print(f"norva {norva.library_version()} from {norva.library_path()}, NumPy {np.__version__}")
compare("n = 10, mode 0", A10, b10, p10, 2000, 5, 0)
compare("n = 10, mode 1", A10, b10, p10, 2000, 5, 1)
compare("n = 1000, mode 1, built-in product", A1k, b1k, p1k, 3, 3, 1)
compare("n = 1000, mode 0, built-in product", A1k, b1k, p1k, 1, 2, 0)
p = compare("n = 1000, mode 1, numpy / cblas_dgemm product", A1k, b1k, p1k, 3, 3, 1,
            gemm="numpy", blas=True)
if tool:
    t = statistics.median(tool_time(A1k, b1k, 1) for _ in range(3))
    print(f"{'n = 1000, mode 1, norva solve --blas (tool)':44} tool {t * 1e3:7.4f} ms  "
          f"Python gemm=\"numpy\" / tool {p / t:6.3f}")
