#!/usr/bin/env bash
# The Qt dialog's batch against the command line's: a folder of 2,000 typical
# 4 KB files converted beside themselves, from Convert to the full results
# window (bench/qt_batch_benchmark.cc, offscreen), against quarnel -q -b -r on
# the same folder. Targets: the dialog within 1.5 times the command's time,
# and a 20 ms timer on its event loop never more than 100 ms late meanwhile.
# The two run by turns, the targets removed before each run; the medians are
# kept. Exits 1 when a target is missed.
#
# Environment: QUARNEL_BENCH_QT_BUILD_DIR (default build/bench-qt),
# QUARNEL_BENCH_JOBS (default 2), QUARNEL_BENCH_FILES (default 2000),
# QUARNEL_BENCH_REPETITIONS (pairs, default 3).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=${QUARNEL_BENCH_QT_BUILD_DIR:-build/bench-qt}
jobs=${QUARNEL_BENCH_JOBS:-2}
files=${QUARNEL_BENCH_FILES:-2000}
repetitions=${QUARNEL_BENCH_REPETITIONS:-3}

cmake --preset bench -B "$build_dir" -DQUARNEL_QT=ON >/dev/null
cmake --build "$build_dir" -j "$jobs" --target quarnel quarnel-generate quarnel_qt_batch_benchmark >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-qt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build_dir/bench/quarnel-generate" narrow 4096 1 "$files" "$work/card"
clear_targets() { find "$work/card" -name 'QZ_*' -delete; }

export QT_QPA_PLATFORM=offscreen
# Qt's settings and caches in the scratch folder, never the real home's.
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache

command_times=()
dialog_times=()
lateness=()
for ((i = 0; i < repetitions; i++)); do
  clear_targets
  start=$(date +%s.%N)
  "$build_dir/cli/quarnel" -q -b -r "$work/card" 2>/dev/null
  command_times+=("$(printf '%.3f' "$(echo "$(date +%s.%N) - $start" | bc)")")
  clear_targets
  result=$("$build_dir/bench/quarnel_qt_batch_benchmark" "$work/card")
  [[ $(awk '/^files/ {print $2}' <<<"$result") == "$files" ]] || { echo "bench-qt-batch: not every file shown" >&2; exit 1; }
  dialog_times+=("$(awk '/^convert-to-results-s/ {print $2}' <<<"$result")")
  lateness+=("$(awk '/^worst-timer-lateness-ms/ {print $2}' <<<"$result")")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
command_median=$(median "${command_times[@]}")
dialog_median=$(median "${dialog_times[@]}")
worst_lateness=$(printf '%s\n' "${lateness[@]}" | sort -g | tail -1)
ratio=$(echo "scale=2; $dialog_median / $command_median" | bc)
echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| $files files | median s |"
echo "|---|---|"
echo "| quarnel -q -b -r | $command_median |"
echo "| Qt dialog, Convert to results | $dialog_median (${ratio}x, target 1.5x) |"
echo "| worst lateness of a 20 ms timer | ${worst_lateness} ms (target 100 ms) |"
status=0
(($(echo "$ratio > 1.5" | bc))) && { echo "bench-qt-batch: the dialog is more than 1.5 times slower" >&2; status=1; }
(($(echo "$worst_lateness > 100" | bc))) && { echo "bench-qt-batch: the event loop was late by more than 100 ms" >&2; status=1; }
exit $status
