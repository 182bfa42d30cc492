#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and tests every
# configuration this machine can run. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

step() { printf '\n== %s\n' "$*"; }

step "Linux build (GCC) and tests"
cmake --preset dev
cmake --build --preset dev
ctest --preset dev

step "AddressSanitizer and UndefinedBehaviorSanitizer build (clang) and tests"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

for extra in scripts/test-windows.sh scripts/run-fuzzers.sh; do
  if [[ -x $extra ]]; then
    step "$extra"
    "$extra"
  fi
done
