"""The cost of calling the library from Python.

norva.solve against the same norva_solve call from C (bench/solve_timer.c,
same data, same shared library), for n = 10 and n = 1000, and a mode-1
solve with gemm="numpy" against the command-line tool with --blas at
n = 1000 (its own reported solve time; the file is read outside it) and
against C with a cblas_dgemm callback.  Medians of wall-clock times,
rounds of C and Python interleaved; ratios within one run.

A stack of 10,000 systems of order 4 (one right-hand side each) goes to
norva_solve_batch in one call: norva.solve on the stack against the same
norva_solve_batch call made directly through ctypes (the library's own
time), a Python loop of norva.solve over the systems and the C call of
norva_solve on one of them; times per system.

    NORVA_LIBRARY=build/libnorva.so.0 PYTHONPATH=python /usr/bin/python3 \\
        bench/python_overhead.py build/bench/solve_timer [build/tools/norva] [--small]

--small: only n = 10 and the stack (no n = 1000).
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

small = "--small" in sys.argv[1:]
args = [a for a in sys.argv[1:] if a != "--small"]
timer, tool = args[0], (args[1] if len(args) > 1 else None)
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


def stack_compare(count, n, reps, rounds, mode):
    """Times per system of a stack through norva_solve_batch, against the
    same batch call without the Python layer, one norva.solve per system
    and one norva_solve from C.  The batch calls are timed whole (wall
    clock and the process's CPU time, which a loaded machine inflates
    less), the single calls one by one (medians, as above)."""
    own = np.random.default_rng(n)  # leaves the other cases' data as they were
    A = own.uniform(-1, 1, (count, n, n)) + n * np.eye(n)  # diagonally dominant
    b = own.uniform(-1, 1, (count, n))
    path = os.path.join(work, f"stack{n}.bin")
    np.concatenate([A[0].ravel(), b[0]]).tofile(path)
    fn = norva._lib.lib().norva_solve_batch
    lo, hi, status = np.empty((count, n)), np.empty((count, n)), np.empty(count, np.int32)

    def raw():
        return fn(count, n, A.ctypes.data, n * n, b.ctypes.data, n, lo.ctypes.data,
                  hi.ctypes.data, n, mode, status.ctypes.data)

    def whole(f):
        f()  # untimed
        wall, cpu = [], []
        for _ in range(reps):
            w0, c0 = time.perf_counter(), time.process_time()
            f()
            cpu.append(time.process_time() - c0)
            wall.append(time.perf_counter() - w0)
        return statistics.median(wall) / count, statistics.median(cpu) / count

    x = norva.solve(A, b, mode=mode)
    assert raw() == 0 and x.ok, "stack not proven"
    assert lo.tobytes() == x.lo.tobytes() and hi.tobytes() == x.hi.tobytes()
    rs, ps, ls, cs = [], [], [], []
    for _ in range(rounds):
        rs.append(whole(raw))
        ps.append(whole(lambda: norva.solve(A, b, mode=mode)))
        ls.append(py_time(A[0], b[0], 2000, mode, None))
        cs.append(c_time(path, n, 2000, mode, False))
    (rw, rc), (pw, pc) = (tuple(statistics.median(v) for v in zip(*t)) for t in (rs, ps))
    lp, c = statistics.median(ls), statistics.median(cs)
    us = 1e6
    print(f"{count} x n = {n}, mode {mode}, per system: batch via ctypes {rw * us:.3f} us "
          f"(CPU {rc * us:.3f})  norva.solve(stack) {pw * us:.3f} us (CPU {pc * us:.3f}; "
          f"{(pw - rw) * us:+.3f} us, ratio {pw / rw:.3f})  one norva.solve per system "
          f"{lp * us:.3f} us  C norva_solve {c * us:.3f} us")


A10, b10, p10 = system(10)
A1k, b1k, p1k = system(1000)
print(f"norva {norva.library_version()} from {norva.library_path()}, NumPy {np.__version__}, "
      f"OMP_NUM_THREADS={os.environ.get('OMP_NUM_THREADS', '(unset)')}")
compare("n = 10, mode 0", A10, b10, p10, 2000, 5, 0)
compare("n = 10, mode 1", A10, b10, p10, 2000, 5, 1)
stack_compare(10000, 4, 5, 5, 0)
stack_compare(10000, 4, 5, 5, 1)
if small:
    sys.exit(0)
compare("n = 1000, mode 1, built-in product", A1k, b1k, p1k, 3, 3, 1)
compare("n = 1000, mode 0, built-in product", A1k, b1k, p1k, 1, 2, 0)
p = compare("n = 1000, mode 1, numpy / cblas_dgemm product", A1k, b1k, p1k, 3, 3, 1,
            gemm="numpy", blas=True)
if tool:
    t = statistics.median(tool_time(A1k, b1k, 1) for _ in range(3))
    print(f"{'n = 1000, mode 1, norva solve --blas (tool)':44} tool {t * 1e3:7.4f} ms  "
          f"Python gemm=\"numpy\" / tool {p / t:6.3f}")
