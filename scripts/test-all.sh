#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and tests every
# configuration this machine can run. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

step() { printf '\n== %s\n' "$*"; }

# Each suite's output is kept so the run can close with one total of the
# ctest summaries ("100% tests passed, 0 tests failed out of 88"). It goes to
# a file rather than a pipe: a background program of a step (wine's server)
# may keep its output open after the step has ended.
log=$(mktemp "${TMPDIR:-/tmp}/quarnel-tests.XXXXXX")
step_log=$(mktemp "${TMPDIR:-/tmp}/quarnel-step.XXXXXX")
trap 'rm -f "$log" "$step_log"' EXIT
run_suite() {
  local status=0
  "$@" >"$step_log" 2>&1 || status=$?
  tee -a "$log" <"$step_log"
  if ((status != 0)); then
    echo "$* failed with exit status $status" >&2
    exit "$status"
  fi
}

step "Linux build (GCC) and tests"
cmake --preset dev
cmake --build --preset dev
run_suite ctest --preset dev

step "AddressSanitizer and UndefinedBehaviorSanitizer build (clang) and tests"
cmake --preset asan
cmake --build --preset asan
run_suite ctest --preset asan

for extra in scripts/test-windows.sh scripts/run-fuzzers.sh; do
  if [[ -x $extra ]]; then
    step "$extra"
    run_suite "$extra"
  fi
done

summaries=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" || true)
total=$(grep -oE 'out of [0-9]+' <<<"$summaries" | awk '{n += $3} END {print n + 0}')
failed=$(grep -oE '[0-9]+ tests? failed' <<<"$summaries" | awk '{n += $1} END {print n + 0}')
printf '\n%d passed, %d failed\n' $((total - failed)) "$failed"
