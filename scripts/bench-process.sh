#!/usr/bin/env bash
# Times the real quarnel command as users run it, next to cat and cp on the
# same files in the same run, and reports its peak memory:
#   1. one 64 MB realistic source: quarnel SRC DST against cat SRC > OUT;
#   2. a folder of 2,000 typical 4 KB files, one process each, against cp,
#      and the same folder in one batch (quarnel -b FOLDER), which must be at
#      least 10 times faster per file than one process each;
#   3. a folder of 4,000 typical 4 KB files converted by one batch into a new
#      folder (quarnel -q -o OUT SRC) against cp -r SRC OUT2 on tmpfs
#      (/dev/shm), where the file system's own cost does not hide ours;
#   4. the system calls per new target: strace -f -c of a batch of 2,000
#      files at a depth of 4 into a new folder at -j 1, less those of 1,000;
#   5. peak resident memory for a 1 MB and a 64 MB source.
# The two commands of a comparison run by turns, and the medians of their CPU
# time (user + system) and wall-clock time are kept; CPU time is what other
# work on the machine disturbs least, and the load average is printed too.
#
# Environment: QUARNEL_BENCH_BUILD_DIR (default build/bench), QUARNEL_BENCH_JOBS
# (default 2), QUARNEL_BENCH_REPETITIONS (pairs, default 9; the folder runs
# QUARNEL_BENCH_FOLDER_REPETITIONS pairs, default 3), QUARNEL_BENCH_FILES
# (default 2000), QUARNEL_BENCH_BATCH_FILES (default 4000), QUARNEL_BENCH_SKIP_BUILD=1
# to use the binaries as built.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=${QUARNEL_BENCH_BUILD_DIR:-build/bench}
jobs=${QUARNEL_BENCH_JOBS:-2}
repetitions=${QUARNEL_BENCH_REPETITIONS:-9}
folder_files=${QUARNEL_BENCH_FILES:-2000}
folder_repetitions=${QUARNEL_BENCH_FOLDER_REPETITIONS:-3}
batch_files=${QUARNEL_BENCH_BATCH_FILES:-4000}
large_bytes=$((64 * 1024 * 1024))
small_bytes=$((1024 * 1024))
typical_bytes=4096

if [[ ${QUARNEL_BENCH_SKIP_BUILD:-0} != 1 ]]; then
  cmake --preset bench -B "$build_dir" >/dev/null
  cmake --build "$build_dir" -j "$jobs" --target quarnel quarnel-generate >/dev/null
fi
quarnel=$build_dir/cli/quarnel
generate=$build_dir/bench/quarnel-generate
for tool in "$quarnel" "$generate" /usr/bin/time; do
  [[ -x $tool ]] || { echo "bench-process: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-bench.XXXXXX")
shm=$(mktemp -d /dev/shm/quarnel-bench.XXXXXX)
trap 'rm -rf "$work" "$shm"' EXIT

# Seconds (three decimals) of wall-clock, user and system time of one command.
TIMEFORMAT='%3R %3U %3S'
timed() {
  local times
  { time "$@" >/dev/null 2>"$work/stderr"; } 2>"$work/time" || {
    echo "bench-process: failed: $*" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  times=$(tail -n 1 "$work/time")
  echo "$times"
}
copy_with_cat() { cat "$1" >"$2"; }
# A copy through user space, read and write with 64 KB blocks: the least any
# program that looks at the text must spend besides its own work.
copy_with_dd() { dd if="$1" of="$2" bs=64k status=none; }
convert_folder() {
  local file
  for file in "$1"/*.frt; do "$quarnel" "$file" "$2/${file##*/}"; done
}
# The batch writes QZ_ files beside the sources; a later batch skips them
# as sources and replaces them as targets, so repetitions do the same work.
batch_folder() { "$quarnel" -b "$1"; }
cp_folder() {
  local file
  for file in "$1"/*.frt; do cp "$file" "$2/${file##*/}"; done
}

# Both copies of a folder gone and the disk synced, untimed, before each run
# of the folder-to-folder pair.
fresh_folders() { rm -rf "$shm/batch-quarnel" "$shm/batch-cp"; sync; }

# The system calls of one batch of the files at a depth of 4 below $shm/calls-N
# into a new folder, one job; "-" without strace.
batch_calls() {
  command -v strace >/dev/null || { echo -; return; }
  rm -rf "$shm/calls-out"
  strace -f -c -o "$work/calls" "$quarnel" -q -j 1 -r -o "$shm/calls-out" "$shm/calls-$1" 2>/dev/null
  awk '$NF == "total" { print $4 }' "$work/calls"
}

# Runs two commands by turns, `repetitions` times each, and prints the median
# wall-clock and median CPU (user + system) seconds of each: "wallA cpuA wallB cpuB".
# A third name, of a command, runs untimed before each of them.
side_by_side() {
  local -n first=$1 second=$2
  local before=${3:-true}
  local i a b
  local -a runs=()
  for ((i = 0; i < repetitions; i++)); do
    "$before"
    a=$(timed "${first[@]}")
    "$before"
    b=$(timed "${second[@]}")
    runs+=("$a $b")
  done
  printf '%s\n' "${runs[@]}" | awk '
    function median(values, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && values[j - 1] > values[j]; j--) {
        t = values[j]; values[j] = values[j - 1]; values[j - 1] = t
      }
      return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
    }
    { n++; wa[n] = $1; ca[n] = $2 + $3; wb[n] = $4; cb[n] = $5 + $6 }
    END { printf "%.3f %.3f %.3f %.3f\n", median(wa, n), median(ca, n), median(wb, n), median(cb, n) }'
}

peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}

echo "Machine: $(. /etc/os-release && echo "$PRETTY_NAME"), $(nproc) cores," \
  "$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Pairs: $repetitions (folder: $folder_repetitions), medians kept"
echo

"$generate" narrow "$large_bytes" 1 >"$work/large.frt"
"$generate" narrow "$small_bytes" 1 >"$work/small.frt"
# Read once so that both commands find the source in the page cache.
cat "$work/large.frt" "$work/small.frt" >/dev/null

quarnel_large=("$quarnel" "$work/large.frt" "$work/large-quarnel.frt")
cat_large=(copy_with_cat "$work/large.frt" "$work/large-cat.frt")
read -r q_wall q_cpu c_wall c_cpu < <(side_by_side quarnel_large cat_large)
large_out=$(stat -c %s "$work/large-quarnel.frt")
dd_large=(copy_with_dd "$work/large.frt" "$work/large-dd.frt")
read -r d_wall d_cpu c2_wall c2_cpu < <(side_by_side dd_large cat_large)

mkdir -p "$work/folder" "$work/folder-quarnel" "$work/folder-cp"
"$generate" narrow "$typical_bytes" 1 "$folder_files" "$work/folder"
folder_quarnel=(convert_folder "$work/folder" "$work/folder-quarnel")
folder_cp=(cp_folder "$work/folder" "$work/folder-cp")
read -r fq_wall fq_cpu fc_wall fc_cpu < <(repetitions=$folder_repetitions side_by_side folder_quarnel folder_cp)
mkdir -p "$work/folder-batch"
cp "$work/folder"/*.frt "$work/folder-batch/"
folder_batch=(batch_folder "$work/folder-batch")
nothing=(true)
read -r fb_wall fb_cpu _ _ < <(side_by_side folder_batch nothing)

mkdir -p "$shm/batch"
"$generate" narrow "$typical_bytes" 2 "$batch_files" "$shm/batch"
batch_new=("$quarnel" -q -o "$shm/batch-quarnel" "$shm/batch")
cp_recursive=(cp -r "$shm/batch" "$shm/batch-cp")
read -r bn_wall bn_cpu br_wall br_cpu < <(repetitions=$((repetitions < 7 ? 7 : repetitions)) \
  side_by_side batch_new cp_recursive fresh_folders)

for count in 1000 2000; do
  mkdir -p "$shm/calls-$count/d1/d2/d3/d4"
  "$generate" narrow "$typical_bytes" 3 "$count" "$shm/calls-$count/d1/d2/d3/d4"
done
calls_1000=$(batch_calls 1000)
calls_2000=$(batch_calls 2000)
rm -rf "$shm/calls-1000" "$shm/calls-2000" "$shm/calls-out"

mem_small=$(peak_kb "$quarnel" "$work/small.frt" "$work/small-quarnel.frt")
mem_large=$(peak_kb "$quarnel" "$work/large.frt" "$work/large-quarnel.frt")
mem_cat=$(peak_kb cat "$work/large.frt")

awk -v qw="$q_wall" -v qc="$q_cpu" -v cw="$c_wall" -v cc="$c_cpu" -v source="$large_bytes" -v out="$large_out" \
    -v dw="$d_wall" -v dc="$d_cpu" -v c2w="$c2_wall" -v c2c="$c2_cpu" \
    -v fqw="$fq_wall" -v fqc="$fq_cpu" -v fcw="$fc_wall" -v fcc="$fc_cpu" -v files="$folder_files" \
    -v fbw="$fb_wall" -v fbc="$fb_cpu" \
    -v bnw="$bn_wall" -v bnc="$bn_cpu" -v brw="$br_wall" -v brc="$br_cpu" -v batchfiles="$batch_files" \
    -v calls1="$calls_1000" -v calls2="$calls_2000" \
    -v ms="$mem_small" -v ml="$mem_large" -v mc="$mem_cat" 'BEGIN {
  ratio = qc / cc
  printf "| Measurement (medians) | quarnel | cat / cp | Ratio | Target |\n"
  printf "|---|---|---|---|---|\n"
  printf "| 64 MB narrow source, CPU user+sys | %.3f s | %.3f s (cat) | %.2fx | within 3x: %s |\n",
         qc, cc, ratio, (ratio <= 3 ? "met" : "MISSED")
  printf "| 64 MB narrow source, wall-clock | %.3f s (%.0f MB/s read) | %.3f s (cat) | %.2fx | |\n",
         qw, source / qw / 1e6, cw, qw / cw
  printf "| 64 MB through user space (dd bs=64k), CPU / wall-clock | %.3f s / %.3f s (dd) | %.3f s / %.3f s (cat) | %.2fx / %.2fx | |\n",
         dc, dw, c2c, c2w, dc / c2c, dw / c2w
  printf "| %d typical 4 KB files, one process each, CPU per process | %.2f ms | %.2f ms (cp) | %.2fx | no more than cp: %s |\n",
         files, fqc / files * 1000, fcc / files * 1000, fqc / fcc, (fqc <= fcc ? "met" : "MISSED")
  printf "| %d typical 4 KB files, one process each, wall-clock | %.0f files/s | %.0f files/s (cp) | %.2fx | |\n",
         files, files / fqw, files / fcw, fqw / fcw
  speedup = fqw / fbw
  printf "| %d typical 4 KB files, one batch (quarnel -b), wall-clock / CPU | %.0f files/s / %.3f s | %.0f files/s one process each | %.1fx faster | at least 10x: %s |\n",
         files, files / fbw, fbc, files / fqw, speedup, (speedup >= 10 ? "met" : "MISSED")
  printf "| %d typical 4 KB files, one batch into a new folder on tmpfs (quarnel -q -o), CPU / wall-clock | %.3f s / %.3f s | %.3f s / %.3f s (cp -r) | %.2fx / %.2fx | within 2x CPU: %s |\n",
         batchfiles, bnc, bnw, brc, brw, bnc / brc, bnw / brw, (bnc <= 2 * brc ? "met" : "MISSED")
  if (calls1 != "-") {
    perfile = (calls2 - calls1) / 1000
    printf "| New targets at a depth of 4, -j 1, system calls per file (2,000 files less 1,000) | %.1f | | | at most 15: %s |\n",
           perfile, (perfile <= 15 ? "met" : "MISSED")
  }
  growth = (ml - ms) / ms
  printf "| Peak resident memory, 1 MB / 64 MB source | %d KB / %d KB | %d KB (cat, 64 MB) | %+.1f%% | within 10%%: %s |\n",
         ms, ml, mc, growth * 100, (growth <= 0.10 && growth >= -0.10 ? "met" : "MISSED")
  printf "\nThe 64 MB source became %d bytes.\n", out
}'
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
