#!/usr/bin/env bash
# Times the browser page on a realistic 1 MB file (narrow layout, from the
# seeded generator) and on a batch of 1,000 files of 4 KB. Needs what
# scripts/install-deps.sh web installs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/build-web.sh >/dev/null
scripts/npm-ci.sh tests/web build/web-test
cmake --preset bench >/dev/null
cmake --build --preset bench --target quarnel-generate >/dev/null
file=$(mktemp "${TMPDIR:-/tmp}/quarnel-web-bench.XXXXXX.frt")
small=$(mktemp "${TMPDIR:-/tmp}/quarnel-web-bench.XXXXXX.frt")
trap 'rm -f "$file" "$small"' EXIT
build/bench/bench/quarnel-generate narrow 1048576 1 >"$file"
build/bench/bench/quarnel-generate narrow 4096 2 >"$small"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
node bench/web_benchmark.mjs build/web/index.html build/wasm/web/quarnel.wasm "$file" \
  build/web-test/node_modules "${QUARNEL_BENCH_REPETITIONS:-15}" "$small"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
