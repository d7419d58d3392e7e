#!/usr/bin/env bash
# Installs everything the builds and tests need on Debian 12 (bookworm):
# the native toolchain and test libraries, the AArch64 cross toolchain,
# qemu-user to run its tests, the arm64 MPFR/GMP for the cross tests, NumPy,
# SciPy, pytest and matplotlib for the Python module, clang with its fuzzing
# runtime and OpenMP runtime for the fuzz harnesses; CLI11 and nlohmann-json
# for the tool, Sphinx, Breathe and Doxygen for the manual, and dpkg-dev,
# fakeroot, lintian and pip for the packages.
# Safe to run again: when every package is present it changes nothing.
# Set NORVA_FORCE_DEPS=1 to run apt-get even then.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

native=(cmake make g++ binutils pkg-config libgtest-dev googletest libbenchmark-dev
        libmpfr-dev libgmp-dev libopenblas-dev liblapacke-dev libflint-arb-dev
        libsuitesparse-dev python3-numpy python3-scipy python3-pytest python3-matplotlib
        clang libclang-rt-14-dev libomp-14-dev
        libcli11-dev nlohmann-json3-dev
        python3-sphinx python3-breathe python3-sphinx-rtd-theme doxygen
        dpkg-dev fakeroot lintian python3-pip python3-setuptools)
cross=(crossbuild-essential-arm64 qemu-user libgomp1-arm64-cross)
arm64=(libmpfr-dev:arm64 libgmp-dev:arm64)

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "deps.sh: needs root (or sudo) to install packages" >&2
    exit 1
  fi
}

# installed NAME[:ARCH]: an unqualified name must be installed for the host
# architecture (or be architecture-independent), not only for arm64.
host_arch=$(dpkg --print-architecture)
installed() {
  local name=${1%%:*} want=${1#*:}
  [[ $want == "$1" ]] && want=$host_arch
  dpkg-query -W -f='${Status} ${Architecture}\n' "$name" 2>/dev/null |
    grep -qE "^install ok installed ($want|all)\$"
}

missing=()
for p in "${native[@]}" "${cross[@]}" "${arm64[@]}"; do
  installed "$p" || missing+=("$p")
done
if [[ ${#missing[@]} -eq 0 && ${NORVA_FORCE_DEPS:-0} != 1 ]]; then
  echo "deps: all packages present"
  exit 0
fi
echo "deps: installing (missing: ${missing[*]:-none})"

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  as_root dpkg --add-architecture arm64
fi
as_root apt-get update
# Recommends stay on for the cross toolchain: they bring its C library.
as_root apt-get install -y "${native[@]}" "${cross[@]}"
# The arm64 libraries must never replace host packages.
as_root apt-get install -y --no-remove "${arm64[@]}"
echo "deps: done"
