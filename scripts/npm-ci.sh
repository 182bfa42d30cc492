#!/usr/bin/env bash
# Installs what a committed lockfile names, with `npm ci` (every package
# checked against the lockfile's integrity), into a build folder:
#
#   scripts/npm-ci.sh web build/web-deps     web/package{,-lock}.json -> build/web-deps/node_modules
#
# The source tree stays free of node_modules. Runs npm only when the lockfile
# differs from the one last installed there.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

[[ $# -eq 2 ]] || { echo "usage: $0 FOLDER-WITH-LOCKFILE INSTALL-FOLDER" >&2; exit 2; }
source=$1
into=$2
if cmp -s "$source/package-lock.json" "$into/package-lock.json" && [[ -d $into/node_modules ]]; then
  exit 0
fi
mkdir -p "$into"
cp "$source/package.json" "$source/package-lock.json" "$into/"
npm ci --prefix "$into" --no-audit --no-fund --loglevel=error
