#!/usr/bin/env bash
# The whole test suite, in named steps:
#
#   linux     the Debian packages' build (GCC, optimised, hardened, with the Qt dialog)
#             from a fresh cache, with its tests; the page first, which the packages hold
#   asan      AddressSanitizer and UndefinedBehaviorSanitizer build (clang), and its tests
#   faults    every file system call of a few quarnel runs failed in turn, and a kill at
#             each, under strace (tests/faults/run_faults.py), on the linux step's quarnel
#   cards     quarnel on memory-card images: exFAT and FAT through FUSE, FAT through the
#             kernel where it has vfat (tests/cards/run_cards.py, on the linux step's quarnel;
#             needs root and /dev/fuse, QUARNEL_SKIP_CARDS=1 skips it)
#   windows   the Windows programs, built from a fresh cache and tested under wine64
#             (scripts/test-windows.sh)
#   fuzz      every fuzzer for 30 s (scripts/run-fuzzers.sh)
#   packages  every package built from scratch, installed and tried
#             (scripts/package.sh, scripts/check-packages.sh); after the windows
#             and linux steps, from the very programs they tested
#   web       the browser page: the module under Node, the page in Chromium (scripts/test-web.sh)
#
#   scripts/test-all.sh                 every step
#   scripts/test-all.sh asan packages   only those
#
# Installs what the steps need first. A failed step does not stop the others;
# the run closes with each step's outcome and time, one total of the tests,
# and exit status 1 when any step failed. Safe to run again.
#
# A new step: a function step_<name>, its name in `steps` and the
# purposes of scripts/install-deps.sh it needs in `needs`.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

steps=(linux asan faults cards windows fuzz packages web)
declare -A needs=([linux]="test gui web" [asan]="test" [faults]="test" [cards]="cards" [windows]="windows" [fuzz]="fuzz" [packages]="package" [web]="test web")

# The gui package carries the page, so the page comes first.
step_linux() { scripts/build-web.sh && cmake --workflow --preset linux --fresh; }
step_asan() { cmake --workflow --preset asan; }
# The quarnel that the linux step built; built here, without the packages'
# set-up (which needs the page), when that step did not run.
linux_quarnel() {
  { [[ -f build/linux/build.ninja ]] || cmake --preset linux -DQUARNEL_DEB=OFF; } &&
    cmake --build --preset linux --target quarnel
}
step_faults() { linux_quarnel && tests/faults/run_faults.py build/linux/cli/quarnel; }
step_cards() { linux_quarnel && tests/cards/run_cards.py build/linux/cli/quarnel; }
step_windows() { scripts/test-windows.sh; }
# Long enough to run the regression inputs and a fresh search; a longer
# campaign is scripts/run-fuzzers.sh with its own time.
step_fuzz() { scripts/run-fuzzers.sh 30; }
# Each program is built once a run: the packages take the programs that the
# linux and windows steps tested, or build their own where a step did not pass.
linux_tested=false
windows_tested=false
step_packages() {
  local from=()
  ! $linux_tested || from+=(--linux-from-tests)
  ! $windows_tested || from+=(--windows-from-tests)
  scripts/package.sh "${from[@]}" && scripts/check-packages.sh
}
step_web() { scripts/test-web.sh; }

selected=("$@")
((${#selected[@]})) || selected=("${steps[@]}")
purposes=()
for name in "${selected[@]}"; do
  if [[ -z ${needs[$name]+x} ]]; then
    echo "usage: $0 [${steps[*]}]..." >&2
    exit 2
  fi
  read -r -a list <<<"${needs[$name]}"
  purposes+=("${list[@]}")
done
scripts/install-deps.sh "${purposes[@]}"
# Independent tests side by side, a core each.
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

# Each step's output goes to a file and is shown when the step ends, rather
# than through a pipe: a background program of a step (wine's server) may keep
# its output open after the step has ended. The ctest summaries in it ("100%
# tests passed, 0 tests failed out of 88") make the closing total.
log=$(mktemp "${TMPDIR:-/tmp}/quarnel-tests.XXXXXX")
step_log=$(mktemp "${TMPDIR:-/tmp}/quarnel-step.XXXXXX")
trap 'rm -f "$log" "$step_log"' EXIT

results=()
failures=0
for name in "${selected[@]}"; do
  printf '\n==== step %s\n' "$name"
  started=$SECONDS
  status=0
  ("step_$name") >"$step_log" 2>&1 || status=$?
  tee -a "$log" <"$step_log"
  outcome=passed
  if ((status == 0)); then
    [[ $name != linux ]] || linux_tested=true
    [[ $name != windows ]] || windows_tested=true
  fi
  if ((status != 0)); then
    outcome="FAILED (exit status $status)"
    failures=$((failures + 1))
  fi
  results+=("$(printf '%-9s %4d s  %s' "$name" $((SECONDS - started)) "$outcome")")
  printf '==== step %s: %s\n' "$name" "$outcome"
done

printf '\n'
printf '%s\n' "${results[@]}"
summaries=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" || true)
# awk rather than grep reads the summaries: a step without ctest has none.
total=$(awk '{for (i = 1; i < NF; i++) if ($i == "of") n += $(i + 1)} END {print n + 0}' <<<"$summaries")
failed=$(awk '{for (i = 1; i < NF; i++) if ($(i + 1) ~ /^tests?$/ && $(i + 2) == "failed") n += $i} END {print n + 0}' <<<"$summaries")
printf '%d passed, %d failed\n' $((total - failed)) "$failed"
((failures == 0))
