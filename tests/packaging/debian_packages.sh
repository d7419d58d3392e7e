#!/usr/bin/env bash
# Builds the Debian packages of a build tree with cpack and checks them:
# lintian (no error; no warning outside the list below), the fields a
# package manager relies on, and that apt can satisfy their dependencies
# (a simulation: nothing is installed).  Unless --lint-only (foreign
# architectures), the packages are then unpacked with dpkg -x into a scratch
# root and used from there as their user would, with nothing of the build
# tree but the .deb files: the C example built with pkg-config and with
# CMake's find_package, `norva demo`, and the Python module in Debian's
# /usr/bin/python3.  Every program must load the scratch root's library.
#
# usage: debian_packages.sh [--lint-only] CPACK BUILD_DIR SOURCE_DIR DEB_ARCH TRIPLET MAN
#                           [CC CMAKE]
# MAN (ON or OFF): whether the build makes the man pages (NORVA_BUILD_DOCS).
set -euo pipefail

lint_only=0
if [[ ${1:-} == --lint-only ]]; then lint_only=1; shift; fi
cpack=$1 build=$2 src=$3 arch=$4 triplet=$5 man=$6 cc=${7:-cc} cmake=${8:-cmake}
version=0.7.0 revision=1

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/norva-debs.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Lintian warnings that stay, and why (docs/start/packages.rst says the same):
#   initial-upload-closes-no-bugs  the packages are not uploaded to Debian, so
#                                  there is no bug that asks for them to close
#   no-manual-page                 only for a build without the manual (MAN=OFF):
#                                  norva(1) comes from Sphinx
allowed_warnings=(initial-upload-closes-no-bugs)
[[ $man == ON ]] || allowed_warnings+=(no-manual-page)

(cd "$build" && "$cpack" -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
declare -A deb
for pkg in libnorva0 libnorva-dev norva-tools python3-norva; do
  a=$arch
  [[ $pkg == python3-norva ]] && a=all
  deb[$pkg]=$work/out/${pkg}_${version}-${revision}_${a}.deb
  [[ -f ${deb[$pkg]} ]] || { cat "$work/cpack.log" >&2; fail "no ${deb[$pkg]##*/}"; }
done

# lintian: E: fails, W: fails unless allowed.
lintian --fail-on none "${deb[@]}" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian did not run"; }
bad=$(grep -E '^[EW]: ' "$work/lintian.log" | while read -r level pkg tag rest; do
        if [[ $level == W: ]] && printf '%s\n' "${allowed_warnings[@]}" | grep -qxF "$tag"; then
          continue
        fi
        echo "$level $pkg $tag $rest"
      done)
[[ -z $bad ]] || fail "lintian:"$'\n'"$bad"

# The relations between the packages (the rest come from dpkg-shlibdeps).
field() { dpkg-deb -f "${deb[$1]}" "$2"; }
[[ $(field libnorva0 Multi-Arch) == same ]] || fail "libnorva0 is not Multi-Arch: same"
[[ $(field libnorva-dev Depends) == *"libnorva0 (= $version-$revision)"* ]] ||
  fail "libnorva-dev does not depend on libnorva0 (= $version-$revision)"
for d in python3 python3-numpy "libnorva0 (= $version-$revision)"; do
  [[ ", $(field python3-norva Depends), " == *", $d, "* ]] || fail "python3-norva lacks $d"
done
dpkg-deb --ctrl-tarfile "${deb[libnorva0]}" | tar -xO ./shlibs >"$work/shlibs" 2>/dev/null ||
  fail "libnorva0 has no shlibs file"
grep -qx "libnorva 0 libnorva0 (>= $version-$revision)" "$work/shlibs" ||
  fail "libnorva0's shlibs file: $(cat "$work/shlibs")"
for pkg in libnorva0 norva-tools; do
  [[ $(field $pkg Architecture) == "$arch" ]] || fail "$pkg is not for $arch"
done

if ((lint_only)); then
  echo "packages for $arch built, lintian clean (allowed: ${allowed_warnings[*]})"
  exit 0
fi

# apt can install the four with what the system has or can get.
apt-get install -s --no-download "${deb[@]}" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt cannot satisfy the packages' dependencies"; }

root=$work/root
for pkg in "${!deb[@]}"; do dpkg -x "${deb[$pkg]}" "$root"; done
libdir=$root/usr/lib/$triplet
[[ -e $libdir/libnorva.so.0 ]] || fail "no usr/lib/$triplet/libnorva.so.0 in the packages"
if grep -rlF "$build" "$root"; then fail "an installed file names the build tree"; fi
for f in "$libdir/libnorva.so.0" "$root/usr/bin/norva"; do
  if readelf -d "$f" | grep -qE 'R(UN)?PATH'; then fail "${f#"$root"} has a run path"; fi
done

# The user's environment: the scratch root, the system, nothing else.
run() {
  env -i HOME="$work" PATH="$root/usr/bin:/usr/bin:/bin" LD_LIBRARY_PATH="$libdir" \
    PYTHONPATH="$root/usr/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
    PKG_CONFIG_PATH="$libdir/pkgconfig" CMAKE_PREFIX_PATH="$root/usr" "$@"
}
loads_root_library() {  # program
  local loaded
  loaded=$(run ldd "$1" | awk '/libnorva\.so/ {print $3}')
  [[ $(readlink -f "$loaded") == "$(readlink -f "$libdir/libnorva.so.0")" ]] ||
    fail "$1 loads libnorva from '$loaded', not from the scratch root"
}

# The C example with pkg-config.
[[ $(run pkg-config --modversion norva) == "$version" ]] || fail "pkg-config does not find norva"
[[ $(run pkg-config --variable=includedir norva) -ef $root/usr/include ]] ||
  fail "norva.pc does not point into the scratch root"
# shellcheck disable=SC2046  # the flags are meant to split into words
run "$cc" -std=c11 -O2 "$src/examples/c/hilbert_openblas.c" \
  $(run pkg-config --cflags --libs norva openblas) -o "$work/hilbert_pc" ||
  fail "the C example does not build with pkg-config"
loads_root_library "$work/hilbert_pc"
run "$work/hilbert_pc" >"$work/hilbert_pc.log" ||
  { cat "$work/hilbert_pc.log" >&2; fail "the C example built with pkg-config failed"; }

# The C example with CMake.
run "$cmake" -S "$src/examples/c" -B "$work/example" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" 2>&1 &&
  run "$cmake" --build "$work/example" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "the C example does not build with CMake"; }
grep -qF "$root/usr/lib/$triplet/cmake/norva" "$work/example/CMakeCache.txt" ||
  fail "CMake found norva elsewhere than in the scratch root"
loads_root_library "$work/example/hilbert_openblas"
run "$work/example/hilbert_openblas" >"$work/hilbert_cmake.log" ||
  { cat "$work/hilbert_cmake.log" >&2; fail "the C example built with CMake failed"; }

# The tool.
[[ $(run sh -c 'command -v norva') == "$root/usr/bin/norva" ]] || fail "norva is not the scratch root's"
run norva demo sums >"$work/demo.log" 2>&1 ||
  { cat "$work/demo.log" >&2; fail "norva demo sums failed"; }
[[ -s $work/demo.log ]] || fail "norva demo sums printed nothing"

# The Python module, through the system's loader (no NORVA_LIBRARY).
out=$(cd "$work" && run /usr/bin/python3 -c '
import norva
x = norva.solve([[2, 1], [1, 3]], [3, 5])
print(norva.__file__)
print(norva.library_path())
print(norva.library_version(), x.status, x.lo[0] <= 0.8 <= x.hi[0], x.lo[1] <= 1.4 <= x.hi[1])
') || fail "the Python module failed"
mapfile -t lines <<<"$out"
[[ ${lines[0]} == "$root/usr/lib/python3/dist-packages/norva/"* ]] ||
  fail "Python imported norva from ${lines[0]}"
[[ $(readlink -f "${lines[1]}") == "$(readlink -f "$libdir/libnorva.so.0")" ]] ||
  fail "the Python module loaded ${lines[1]}"
[[ ${lines[2]} == "$version 0 True True" ]] || fail "the Python module solved: ${lines[2]}"

echo "packages for $arch: lintian clean (allowed: ${allowed_warnings[*]}), installed into a" \
     "scratch root; C example (pkg-config, CMake), norva demo and Python ran from it"
