#!/usr/bin/env bash
# `pip install .` from a copy of the source checkout (as Debian's pip does it,
# without a package index: --no-build-isolation) into a virtual environment
# on Debian's Python: the package then solves a system with the library it
# carries, and the build left nothing in the checkout outside build/pip.
#
# usage: pip_install.sh SOURCE_DIR PYTHON
set -euo pipefail

src=$1 python=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/norva-pip.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A checkout without build trees (tracked and untracked files alike).
mkdir "$work/src"
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/src" -xf -
listing() { (cd "$work/src" && find . -path ./build -prune -o -print | LC_ALL=C sort); }
listing >"$work/before"

# The environment's own pip is not needed: Debian's pip installs into it.
"$python" -m venv --without-pip --system-site-packages "$work/venv"
(cd "$work/src" && env -u NORVA_LIBRARY -u PYTHONPATH CMAKE_BUILD_PARALLEL_LEVEL=2 \
   "$python" -m pip --python "$work/venv/bin/python" install --no-build-isolation \
   --no-index --disable-pip-version-check . ) >"$work/pip.log" 2>&1 ||
  { tail -n 40 "$work/pip.log" >&2; fail "pip install . failed"; }

listing >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "pip install . left files in the checkout"

site=$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
out=$(cd "$work" && env -i HOME="$work" PATH=/usr/bin:/bin "$work/venv/bin/python" -c '
import norva
x = norva.solve([[2, 1], [1, 3]], [3, 5])
print(norva.library_path())
print(norva.library_version(), x.status, x.lo[0] <= 0.8 <= x.hi[0], x.lo[1] <= 1.4 <= x.hi[1])
') || fail "the installed package failed"
mapfile -t lines <<<"$out"
[[ ${lines[0]} == "$site/norva/libnorva.so.0" ]] ||
  fail "the package loaded ${lines[0]}, not its own $site/norva/libnorva.so.0"
[[ ${lines[1]} == "0.7.0 0 True True" ]] || fail "the package solved: ${lines[1]}"
echo "pip install . into $site: the package and its libnorva.so.0 solve a 2 x 2 system"
