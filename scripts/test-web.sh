#!/usr/bin/env bash
# Tests the browser page: the module under Node and the page in Debian's
# Chromium, both against the command line of the linux build (scripts/test-all.sh's). Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh test web
scripts/build-web.sh
{ [[ -f build/linux/build.ninja ]] || cmake --preset linux >/dev/null; }
cmake --build --preset linux --target quarnel

# playwright-core as tests/web/package-lock.json pins it: one version whose
# "engines" take Debian 12's own Node (18) and newer ones. It drives the
# system's Chromium and downloads no browser of its own.
scripts/npm-ci.sh tests/web build/web-test

mkdir -p build/artifacts
ctest --preset wasm
