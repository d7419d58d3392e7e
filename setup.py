"""The norva Python package with its own copy of libnorva.so.0.

build_py configures the project with CMake (library only: no tests, tools,
examples, benchmarks or manual), builds the shared library target `norva`
and copies libnorva.so.0 into the package, where norva._lib looks first.
setuptools' own build directory and the CMake build tree are under
build/pip, apart from the project's build trees in build/.

Environment: CMAKE (the cmake program, default cmake), NORVA_CMAKE_ARGS
(more configure arguments, split on white space), CMAKE_BUILD_PARALLEL_LEVEL
(build jobs, default 2).
"""

import os
import shlex
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_BASE = os.path.join("build", "pip")
SONAME = "libnorva.so.0"


class BuildWithLibrary(build_py):
    """build_py, then the shared library next to the package's modules."""

    def run(self):
        super().run()
        cmake = os.environ.get("CMAKE", "cmake")
        tree = os.path.join(HERE, BUILD_BASE, "cmake")
        configure = [cmake, "-S", HERE, "-B", tree, "-DCMAKE_BUILD_TYPE=Release",
                     "-DNORVA_BUILD_TESTS=OFF", "-DNORVA_BUILD_BENCH=OFF",
                     "-DNORVA_BUILD_TOOLS=OFF", "-DNORVA_BUILD_EXAMPLES=OFF",
                     "-DNORVA_BUILD_DOCS=OFF", "-DNORVA_BUILD_PYTHON=OFF"]
        configure += shlex.split(os.environ.get("NORVA_CMAKE_ARGS", ""))
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run([cmake, "--build", tree, "--target", "norva", "-j", jobs], check=True)
        built = os.path.join(tree, SONAME)
        if not os.path.exists(built):
            raise RuntimeError(f"the CMake build made no {built}")
        target = os.path.join(self.build_lib, "norva", SONAME)
        # The file itself, not the symbolic link of the build tree.
        shutil.copyfile(os.path.realpath(built), target)
        os.chmod(target, 0o755)


class BinaryDistribution(Distribution):
    """The wheel holds a shared library: tagged for this platform."""

    def has_ext_modules(self):
        return True


os.makedirs(os.path.join(HERE, BUILD_BASE), exist_ok=True)
setup(
    distclass=BinaryDistribution,
    cmdclass={"build_py": BuildWithLibrary},
    options={"build": {"build_base": BUILD_BASE},
             "egg_info": {"egg_base": BUILD_BASE}},
)
