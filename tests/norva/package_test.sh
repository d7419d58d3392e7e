#!/usr/bin/env bash
# Installs the build tree into a fresh prefix, moves it elsewhere (the
# package must not depend on where it was installed), and builds a CMake
# project against it with find_package(norva CONFIG): the version the
# package reports, the imported target norva::norva, and the examples built
# as a user builds them, run against the installed library.
#
# usage: package_test.sh CMAKE BUILD_DIR LIBDIR SOURCE_DIR C_COMPILER CXX_COMPILER
#                        [EXTRA_FLAGS]
# EXTRA_FLAGS (one word list) is added to the consumer's compile and link
# lines, for instance the sanitizer flags the library itself was built with.
set -euo pipefail

cmake=$1 build=$2 libdir=$3 src=$4 cc=$5 cxx=$6 extra=${7:-}

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/norva-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/installed" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
mv "$work/installed" "$work/prefix"
prefix=$work/prefix
pkg=$prefix/$libdir/cmake/norva

for f in norva-config.cmake norva-config-version.cmake norva-targets.cmake; do
  [[ -f $pkg/$f ]] || fail "$libdir/cmake/norva/$f is missing"
done
# Nothing of the build tree, and no dependency a consumer cannot resolve:
# OpenMP and the internal archive are linked into the shared library.
if grep -rlF -e "$build" -e "$src" -e "$work/installed" "$pkg"; then
  fail "the package names a path of the build or install tree"
fi
if grep -rlE 'OpenMP|norva_core|gomp' "$pkg"; then
  fail "the package leaks a private dependency of the library"
fi

# The examples find norva by themselves; the consumer checks the version.
"$cmake" -S "$src/tests/norva/package_consumer" -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DNORVA_EXAMPLES_DIR="$src/examples" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS="$extra" -DCMAKE_CXX_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; fail "configure failed"; }
grep -qF "found norva 0.7.0 in $pkg" "$work/configure.log" ||
  { cat "$work/configure.log" >&2; fail "find_package did not report norva 0.7.0 from $pkg"; }
"$cmake" --build "$work/consumer" -j 2 >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; fail "the consumer and the examples do not build"; }

out=$("$work/consumer/consumer") || fail "the consumer failed"
[[ $out == "installed norva 0.7.0" ]] || fail "unexpected output from the consumer: $out"
loaded=$(ldd "$work/consumer/consumer" | awk '/libnorva/ {print $3}')
[[ $(readlink -f "$loaded") == "$(readlink -f "$prefix/$libdir/libnorva.so.0.7.0")" ]] ||
  fail "the consumer loaded $loaded instead of the installed library"
"$work/consumer/example_c/hilbert_openblas" >"$work/c.log" ||
  { cat "$work/c.log" >&2; fail "examples/c failed against the installed library"; }
"$work/consumer/example_cpp/eigenvalues" >"$work/cpp.log" ||
  { cat "$work/cpp.log" >&2; fail "examples/cpp failed against the installed library"; }

# A request for another major version is refused.
mkdir "$work/newer"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(newer NONE)\nfind_package(norva 1.0 CONFIG REQUIRED)\n' \
  >"$work/newer/CMakeLists.txt"
if "$cmake" -S "$work/newer" -B "$work/newer/build" -DCMAKE_PREFIX_PATH="$prefix" \
     >"$work/newer.log" 2>&1; then
  fail "find_package(norva 1.0) accepted version 0.7.0"
fi

echo "package test passed: norva 0.7.0 from $pkg, consumer and examples built and run"
