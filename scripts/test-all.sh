#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and tests every
# configuration this machine can run. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

step() { printf '\n== %s\n' "$*"; }

# Every ctest summary line ("100% tests passed, 0 tests failed out of 88")
# goes to this log too, so the run can close with one total.
summary=$(mktemp "${TMPDIR:-/tmp}/quarnel-tests.XXXXXX")
trap 'rm -f "$summary"' EXIT
count_tests() { tee >(grep -E 'tests passed, [0-9]+ tests? failed out of' >>"$summary"); }

step "Linux build (GCC) and tests"
cmake --preset dev
cmake --build --preset dev
ctest --preset dev | count_tests

step "AddressSanitizer and UndefinedBehaviorSanitizer build (clang) and tests"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan | count_tests

for extra in scripts/test-windows.sh scripts/run-fuzzers.sh; do
  if [[ -x $extra ]]; then
    step "$extra"
    # Into a file rather than a pipe: a background program of the step (wine's
    # server) may keep its output open after the step has ended.
    log=$(mktemp "${TMPDIR:-/tmp}/quarnel-step.XXXXXX")
    status=0
    "$extra" >"$log" 2>&1 || status=$?
    cat "$log"
    grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" >>"$summary" || true
    rm -f "$log"
    if ((status != 0)); then
      echo "$extra failed with exit status $status" >&2
      exit "$status"
    fi
  fi
done

sleep 1  # let the last tee's grep finish writing
total=$(grep -oE 'out of [0-9]+' "$summary" | awk '{n += $3} END {print n + 0}')
failed=$(grep -oE '[0-9]+ tests? failed' "$summary" | awk '{n += $1} END {print n + 0}')
printf '\n%d passed, %d failed\n' $((total - failed)) "$failed"
