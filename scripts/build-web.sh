#!/usr/bin/env bash
# Builds the browser page into build/web/: one index.html that holds the
# engine (WebAssembly), its script, its style, the icon and the zip library. Open it from disk
# or put it on any static web server. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh web

# The zip library that the page embeds, pinned; its licence goes into the page.
fflate_version=0.8.2
modules=build/web-deps
installed=$(node -p "require('./$modules/node_modules/fflate/package.json').version" 2>/dev/null || true)
if [[ $installed != "$fflate_version" ]]; then
  mkdir -p "$modules"
  npm install --prefix "$modules" --no-save --no-audit --no-fund --loglevel=error "fflate@$fflate_version"
fi

cmake --preset wasm >/dev/null
cmake --build --preset wasm --target quarnel_page
echo "build/web/index.html"
