#!/usr/bin/env bash
# Tests the browser page: the module under Node and the page in Debian's
# Chromium, both against the command line of the dev build. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# Pinned to a version whose "engines" accept the installed Node (Debian 12's
# own Node is 18); playwright-core drives the system's Chromium and downloads
# no browser of its own.
if (($(node -p 'process.versions.node.split(".")[0]') >= 20)); then
  playwright_version=1.65.2
else
  playwright_version=1.51.1
fi
modules=build/web-test

scripts/install-deps.sh test web
scripts/build-web.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target quarnel

installed=$(node -p "require('./$modules/node_modules/playwright-core/package.json').version" 2>/dev/null || true)
if [[ $installed != "$playwright_version" ]]; then
  mkdir -p "$modules"
  npm install --prefix "$modules" --no-save --no-audit --no-fund --loglevel=error \
    "playwright-core@$playwright_version"
fi

mkdir -p build/artifacts
ctest --preset wasm
