#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and checks what a user gets:
# the library with its soname and development links, the header, the
# pkg-config file, and a C program built with nothing but
# `pkg-config --cflags --libs norva` that runs against the installed copy.
#
# usage: install_test.sh CMAKE BUILD_DIR LIBDIR INCLUDEDIR C_COMPILER CONSUMER_SOURCE
#                        HEADER_SOURCE [EXTRA_C_FLAGS]
# EXTRA_C_FLAGS (one word list) is added to the consumer's command line, for
# instance the sanitizer flags the library itself was built with.
set -euo pipefail

cmake=$1 build=$2 libdir=$3 includedir=$4 cc=$5 consumer=$6 header=$7 extra=${8:-}

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/norva-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

lib=$prefix/$libdir
inc=$prefix/$includedir

[[ -f $lib/libnorva.so.0.7.0 && ! -L $lib/libnorva.so.0.7.0 ]] ||
  fail "$libdir/libnorva.so.0.7.0 is missing or not a regular file"
[[ -L $lib/libnorva.so.0 ]] || fail "$libdir/libnorva.so.0 is not a symbolic link"
[[ $(readlink "$lib/libnorva.so.0") == libnorva.so.0.7.0 ]] ||
  fail "$libdir/libnorva.so.0 points to $(readlink "$lib/libnorva.so.0")"
[[ -L $lib/libnorva.so ]] || fail "$libdir/libnorva.so is not a symbolic link"
[[ $(readlink -f "$lib/libnorva.so") == "$(readlink -f "$lib/libnorva.so.0.7.0")" ]] ||
  fail "$libdir/libnorva.so does not resolve to libnorva.so.0.7.0"
[[ -f $inc/norva.h ]] || fail "$includedir/norva.h is missing"
cmp -s "$inc/norva.h" "$header" || fail "installed norva.h differs from the source header"
[[ -f $lib/pkgconfig/norva.pc ]] || fail "$libdir/pkgconfig/norva.pc is missing"

# The installed library must not keep a run path into the build tree.
if readelf -d "$lib/libnorva.so.0.7.0" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
  fail "installed library still has a run path into the build tree"
fi

# Only the installed pkg-config file is visible.
export PKG_CONFIG_LIBDIR=$lib/pkgconfig
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
version=$(pkg-config --modversion norva) || fail "pkg-config does not find norva"
[[ $version == 0.7.0 ]] || fail "pkg-config reports version $version"
flags=$(pkg-config --cflags --libs norva)
echo "pkg-config --cflags --libs norva: $flags"

# shellcheck disable=SC2086  # the flags are meant to split into words
"$cc" -std=c11 -Wall -Wextra -Werror -pedantic $extra "$consumer" $flags -o "$work/consumer" ||
  fail "a C program does not build with the flags from pkg-config"

# Run it against the installed copy only (the program has no run path).
out=$(LD_LIBRARY_PATH=$lib "$work/consumer") || fail "the installed consumer failed"
echo "$out"
[[ $out == "installed norva 0.7.0" ]] || fail "unexpected output from the consumer"
loaded=$(LD_LIBRARY_PATH=$lib ldd "$work/consumer" | awk '/libnorva/ {print $3}')
[[ $(readlink -f "$loaded") == "$(readlink -f "$lib/libnorva.so.0.7.0")" ]] ||
  fail "the consumer loaded $loaded instead of the installed library"

echo "install test passed"
