#!/usr/bin/env bash
# Builds the browser page into build/web/: one index.html that holds the
# engine (WebAssembly), its script, its style, the icon and the zip library. Open it from disk
# or put it on any static web server. Safe to run again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh web

# The zip library that the page embeds, as web/package-lock.json pins it; its
# licence goes into the page.
scripts/npm-ci.sh web build/web-deps

cmake --preset wasm >/dev/null
cmake --build --preset wasm --target quarnel_page
echo "build/web/index.html"
