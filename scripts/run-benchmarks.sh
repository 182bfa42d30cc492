#!/usr/bin/env bash
# All benchmarks: builds the bench preset, runs the engine's throughput
# benchmark and summarises it against the realistic files, then times the
# quarnel command itself (scripts/bench-process.sh).
#
# Environment: QUARNEL_BENCH_BUILD_DIR (default build/bench), QUARNEL_BENCH_JOBS
# (default 2), QUARNEL_BENCH_ENGINE_REPETITIONS (default 5), and those of
# scripts/bench-process.sh. Extra arguments go to the engine benchmark
# (for example --benchmark_filter=narrow).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh bench

build_dir=${QUARNEL_BENCH_BUILD_DIR:-build/bench}
jobs=${QUARNEL_BENCH_JOBS:-2}
engine_repetitions=${QUARNEL_BENCH_ENGINE_REPETITIONS:-5}

cmake --preset bench -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$jobs" >/dev/null

results=$(mktemp "${TMPDIR:-/tmp}/quarnel-engine-bench.XXXXXX.json")
trap 'rm -f "$results"' EXIT

echo "== Engine throughput (bytes read + written, in-memory conversion)"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build_dir/bench/quarnel_engine_benchmark" --benchmark_repetitions="$engine_repetitions" \
  --benchmark_out="$results" --benchmark_out_format=json "$@" >/dev/null
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The median of each benchmark's repetitions, and each in-memory one's
# throughput against the slower of the two realistic 1 MB files. Rates are per CPU second, which other work on the machine
# disturbs less than wall-clock time. The on-disk conversion measures the
# file system (open, create, rename) and is shown for its time alone.
python3 - "$results" <<'EOF'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
best = {}
for run in runs:
    if run.get("run_type") != "aggregate" or run.get("aggregate_name") != "median":
        continue
    if "bytes_per_second" not in run:
        continue
    best[run["run_name"]] = run

realistic = [run["bytes_per_second"] for name, run in best.items() if name.split("/")[1:2] in (["narrow"], ["wide"])]
baseline = min(realistic) if realistic else None
print()
print("| Benchmark (medians) | MB/s (read + written) | CPU time per conversion | Output/input | vs realistic |")
print("|---|---|---|---|---|")
for name, run in best.items():
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run["time_unit"]]
    seconds = run["cpu_time"] * unit
    shown = f"{seconds * 1e6:.1f} us" if seconds < 1e-3 else f"{seconds * 1e3:.2f} ms"
    in_memory = name.startswith("ConvertInMemory/")
    ratio = f"{run['bytes_per_second'] / baseline:.2f}x" if baseline and in_memory else "-"
    growth = run.get("growth")
    growth = f"{growth:.2f}" if growth is not None else "-"
    print(f"| {name} | {run['bytes_per_second'] / 1e6:.0f} | {shown} | {growth} | {ratio} |")
slowest = min(run["bytes_per_second"] for name, run in best.items() if name.startswith("ConvertInMemory/"))
if baseline:
    verdict = "met" if slowest >= baseline / 2 else "MISSED"
    print(f"\nNo in-memory benchmark below half the realistic files' throughput: {verdict}")
EOF

echo
echo "== The quarnel command"
QUARNEL_BENCH_SKIP_BUILD=1 QUARNEL_BENCH_BUILD_DIR="$build_dir" scripts/bench-process.sh
