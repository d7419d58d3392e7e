#!/usr/bin/env bash
# Builds the command-line tool natively (build/native) and runs its demo.
# NORVA_SKIP_DEPS=1 skips the package check.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if [[ ${NORVA_SKIP_DEPS:-0} != 1 ]]; then
  bash scripts/deps.sh
fi
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release
cmake --build build/native -j "${NORVA_JOBS:-2}" --target norva_tool
exec build/native/tools/norva demo "$@"
