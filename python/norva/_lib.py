"""Finding and loading libnorva.so.0, and the signatures of its exports."""

import ctypes
import ctypes.util
import os
import threading

_SONAME = "libnorva.so.0"

_u64 = ctypes.c_uint64
_i32 = ctypes.c_int32
_f64 = ctypes.c_double
_ptr = ctypes.c_void_p

# norva_gemm_fn: C (m x n, ldc) = A (m x k, lda) * B (k x n, ldb), ctx.
GEMM_FN = ctypes.CFUNCTYPE(None, _u64, _u64, _u64, _ptr, _u64, _ptr, _u64, _ptr, _u64, _ptr)

_SIGNATURES = {
    "norva_version": (ctypes.c_char_p, []),
    "norva_solve": (_i32, [_u64, _ptr, _u64, _ptr, _ptr, _u64, _ptr, _ptr, _i32, GEMM_FN, _ptr]),
    "norva_solve_many": (_i32, [_u64, _u64, _ptr, _u64, _ptr, _u64, _ptr, _u64, _ptr, _ptr,
                                _u64, _i32, GEMM_FN, _ptr]),
    "norva_solve_batch": (_i32, [_u64, _u64, _ptr, _u64, _ptr, _u64, _ptr, _ptr, _u64, _i32,
                                 _ptr]),
    "norva_solve_interval": (_i32, [_u64, _u64, _ptr, _ptr, _u64, _ptr, _ptr, _u64, _ptr, _u64,
                                    _ptr, _ptr, _u64, _i32, GEMM_FN, _ptr]),
    "norva_spd": (_i32, [_u64, _ptr, _u64, _ptr, _u64, _f64, _ptr, _i32, GEMM_FN, _ptr]),
    "norva_lstsq": (_i32, [_u64, _u64, _u64, _ptr, _u64, _ptr, _u64, _f64, _ptr, _u64, _ptr,
                           _ptr, _u64, _i32, GEMM_FN, _ptr]),
    "norva_eig_sym": (_i32, [_u64, _ptr, _u64, _ptr, _u64, _ptr, _ptr, _ptr, _i32, GEMM_FN,
                             _ptr]),
    "norva_solve_band": (_i32, [_u64, _u64, _u64, _ptr, _u64, _ptr, _ptr, _ptr, _i32]),
    "norva_solve_sparse": (_i32, [_u64, _ptr, _ptr, _ptr, _ptr, _ptr, _ptr, _i32]),
    "norva_spd_sparse": (_i32, [_u64, _ptr, _ptr, _ptr, _ptr, _i32]),
}


class LibraryNotFoundError(OSError):
    """libnorva.so.0 could not be loaded; the message lists every place tried."""


def _candidates():
    """(description, path) pairs in the order they are tried."""
    env = os.environ.get("NORVA_LIBRARY")
    if env:
        # An explicit choice is final: never fall back to another copy.
        return [("NORVA_LIBRARY", env)]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [("next to the package", os.path.join(here, _SONAME))]
    try:
        from . import _location  # written when the package is installed
        libdir = os.path.normpath(os.path.join(here, _location.LIBDIR_FROM_PACKAGE))
        found.append(("library directory of the installation", os.path.join(libdir, _SONAME)))
    except ImportError:
        pass
    found.append(("system search path", _SONAME))
    system = ctypes.util.find_library("norva")
    if system and system != _SONAME:
        found.append(("ctypes.util.find_library", system))
    return found


def _load():
    tried = []
    for where, path in _candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(f"  {where}: {path} (no such file)")
            continue
        try:
            lib = ctypes.CDLL(path)  # CDLL, not PyDLL: calls release the GIL
            for name, (restype, argtypes) in _SIGNATURES.items():
                fn = getattr(lib, name)
                fn.restype = restype
                fn.argtypes = argtypes
        except (OSError, AttributeError) as err:
            tried.append(f"  {where}: {path} ({err})")
            continue
        return lib, path
    raise LibraryNotFoundError(
        "norva: cannot load " + _SONAME + "; tried\n" + "\n".join(tried) +
        "\nInstall the library (cmake --install), or set NORVA_LIBRARY to the path of "
        + _SONAME + ".")


_lock = threading.Lock()
_loaded = None


def lib():
    """The loaded library (loaded on first use)."""
    global _loaded
    if _loaded is None:
        with _lock:
            if _loaded is None:
                _loaded = _load()
    return _loaded[0]


def library_path():
    """The path libnorva.so.0 was loaded from (loading it if needed).

    >>> import os, norva
    >>> os.path.basename(norva.library_path()).startswith("libnorva.so.0")
    True
    """
    lib()
    path = _loaded[1]
    if os.sep not in path:  # found by the dynamic loader: ask it where
        try:
            with open("/proc/self/maps") as maps:
                for line in maps:
                    if _SONAME in line:
                        return line.split(None, 5)[5].strip()
        except OSError:
            pass
    return os.path.abspath(path) if os.sep in path else path
