"""The package installed by cmake --install into a fresh prefix finds the
library of that installation, with nothing set in the environment."""

import os
import shutil
import subprocess
import sys

import pytest

CMAKE = os.environ.get("NORVA_TEST_CMAKE")
BUILD = os.environ.get("NORVA_TEST_BUILD_DIR")
PYDIR = os.environ.get("NORVA_TEST_PYTHON_DIR")  # relative to the prefix

pytestmark = pytest.mark.skipif(not (CMAKE and BUILD and PYDIR),
                                reason="needs a build tree with the Python package (CTest)")

CODE = """
import norva
x = norva.solve([[2, 1], [1, 3]], [3, 5])
print(norva.library_path())
print(norva.library_version(), x.status, x.lo[0] <= 0.8 <= x.hi[0], x.lo[1] <= 1.4 <= x.hi[1])
"""


def run(prefix, tmp_path):
    env = {k: v for k, v in os.environ.items()
           if k not in ("NORVA_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH")}
    env["PYTHONPATH"] = os.path.join(prefix, PYDIR)
    return subprocess.run([sys.executable, "-c", CODE], env=env, cwd=tmp_path,
                          capture_output=True, text=True)


def test_installed_package_finds_installed_library(tmp_path):
    prefix = str(tmp_path / "prefix")
    subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix], check=True,
                   capture_output=True)
    package = os.path.join(prefix, PYDIR, "norva")
    assert os.path.isfile(os.path.join(package, "_location.py"))
    out = run(prefix, tmp_path)
    assert out.returncode == 0, out.stderr
    path, line = out.stdout.splitlines()
    assert os.path.realpath(path).startswith(os.path.realpath(prefix) + os.sep)
    assert line == "0.7.0 0 True True"
    # Moved elsewhere, the tree still works (the library path is relative).
    moved = str(tmp_path / "moved")
    shutil.move(prefix, moved)
    out = run(moved, tmp_path)
    assert out.returncode == 0 and out.stdout.startswith(moved + os.sep), out.stderr
    # Without the library: an error that lists where it looked.
    libdir = os.path.dirname(out.stdout.splitlines()[0])
    for name in os.listdir(libdir):
        if name.startswith("libnorva.so"):
            os.remove(os.path.join(libdir, name))
    out = run(moved, tmp_path)
    assert out.returncode != 0 and "LibraryNotFoundError" in out.stderr
    assert "library directory of the installation" in out.stderr and "NORVA_LIBRARY" in out.stderr
