"""norva: verified linear algebra in IEEE double precision.

Every solver returns guaranteed enclosures: for each component of a
solution, or each eigenvalue, bounds lo <= exact <= hi that are proven for
the exact mathematical value of the problem given by the doubles passed in.
When a proof fails (a singular or too ill-conditioned matrix, say) the
component comes back as [-inf, +inf] and the status says so: a failed proof
is a result, not an exception.

The functions::

    solve(A, b)                       dense system A x = b (modes 0, 1, 2), or
                                      a stack of them as numpy.linalg.solve
    solve_interval(A_lo, A_hi, b_lo, b_hi)
                                      every solution for data within intervals
    spd(A)                            positive definiteness, lower bound of
                                      lambda_min (dense, scipy.sparse or CSR
                                      arrays)
    lstsq(A, b)                       least squares / minimum norm
    eig_sym(A)                        all eigenvalues of a symmetric matrix
    solve_band((kl, ku), ab, b)       band system
    solve_sparse(A, b)                sparse system (scipy.sparse or CSR arrays)
    library_version(), library_path() the loaded libnorva.so.0

Modes: 0 exactly rounded products (tightest bounds), 1 floating-point
products with a priori error bounds (faster), 2 (solve, lstsq) a
double-length solve for ill-conditioned systems.

Statuses: 0 every component proven; 1 some (or, for spd, eig_sym, the band
and sparse solvers, every) component not proven, shown as [-inf, +inf].
Invalid arguments raise ValueError or TypeError naming the argument before
the library is called.

Inputs may have any real dtype and layout NumPy converts (integers must be
exact doubles); they are read, never modified, and copied where the library
needs another layout (solve reads a float64 stack in place when it can).
The library computes with the interpreter lock released, on OpenMP
threads.

The shared library is looked up in this order: the file named by the
environment variable NORVA_LIBRARY (only there, when set); next to this
package and in the library directory of its installation; the system's
search path (LD_LIBRARY_PATH, ldconfig).
"""

from ._dense import lstsq, solve, solve_interval
from ._lib import LibraryNotFoundError, library_path
from ._result import Enclosure, SpdResult
from ._sparse import solve_band, solve_sparse
from ._symmetric import eig_sym, spd

__version__ = "0.7.0"


def library_version():
    """The version string of the loaded libnorva.so.0.

    >>> norva.library_version()
    '0.7.0'
    """
    from ._lib import lib
    return lib().norva_version().decode()


__all__ = ["solve", "solve_interval", "spd", "lstsq", "eig_sym", "solve_band", "solve_sparse",
           "Enclosure", "SpdResult", "LibraryNotFoundError", "library_path", "library_version",
           "__version__"]
