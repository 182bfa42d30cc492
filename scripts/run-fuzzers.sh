#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz) and runs each one for a bounded
# time, all at once, starting from a copy of its seed corpus and its
# regression inputs.
# On a finding it prints the reproducer as a hex dump and exits non-zero.
#
# Usage: scripts/run-fuzzers.sh [SECONDS]   SECONDS per fuzzer, default 60
# QUARNEL_FUZZ_BUILD_DIR overrides the build directory (default build/fuzz).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-60}
if [[ ! $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per fuzzer]" >&2
  exit 2
fi
build_dir=${QUARNEL_FUZZ_BUILD_DIR:-build/fuzz}
fuzzers=(chunk_fuzzer conversion_fuzzer)

# Per fuzzer: the longest input worth trying. A chunk is at most 2047 bytes
# behind a few state bytes; a source should span many chunks and reach past
# the 32 KB the driver skips over at once in a long line without markers.
declare -A max_len=([chunk_fuzzer]=2100 [conversion_fuzzer]=40000)

has_fuzz_toolchain() {
  command -v cmake >/dev/null && command -v ninja >/dev/null && command -v clang++ >/dev/null &&
    [[ -e $(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a ]]
}
has_fuzz_toolchain || scripts/install-deps.sh fuzz

cmake --preset fuzz -B "$build_dir"
cmake --build "$build_dir" --parallel 2 --target "${fuzzers[@]}"

hex_dump() {
  if command -v xxd >/dev/null; then xxd "$1"; else od -A x -t x1z -v "$1"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Side by side, one a core: each fuzzer gets the time it would get alone.
declare -A runs
for fuzzer in "${fuzzers[@]}"; do
  corpus=$work/$fuzzer/corpus
  mkdir -p "$corpus" "$work/$fuzzer/artifacts"
  # Copies, so that what the run adds stays out of the source tree.
  find "fuzz/corpus/$fuzzer" "fuzz/regressions/$fuzzer" -maxdepth 1 -type f ! -name '.*' \
    -exec cp -t "$corpus" {} + 2>/dev/null || true
  "$build_dir/fuzz/$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=256 -max_len="${max_len[$fuzzer]}" -dict=fuzz/format_file.dict \
    -print_final_stats=1 -artifact_prefix="$work/$fuzzer/artifacts/" "$corpus" >"$work/$fuzzer.log" 2>&1 &
  runs[$fuzzer]=$!
done

failed=()
for fuzzer in "${fuzzers[@]}"; do
  artifacts=$work/$fuzzer/artifacts
  log=$work/$fuzzer.log
  status=0
  wait "${runs[$fuzzer]}" || status=$?
  printf '\n== %s for %s s\n' "$fuzzer" "$seconds"

  if ((status == 0)); then
    grep -E '^(Done|stat::)' "$log" || tail -n 5 "$log"
    continue
  fi
  failed+=("$fuzzer")
  echo "$fuzzer FAILED (exit status $status); the end of its log:"
  tail -n 80 "$log"
  for reproducer in "$artifacts"/*; do
    [[ -e $reproducer ]] || continue
    printf '\n-- reproducer %s (%s bytes):\n' "$(basename "$reproducer")" "$(wc -c <"$reproducer")"
    hex_dump "$reproducer"
  done
  echo "Replay it with $build_dir/fuzz/$fuzzer FILE; keep it as fuzz/regressions/$fuzzer/<what-it-catches>."
done

if ((${#failed[@]})); then
  printf '\nFuzzers with findings: %s\n' "${failed[*]}" >&2
  exit 1
fi
printf '\nAll fuzzers ran %s s without a finding.\n' "$seconds"
