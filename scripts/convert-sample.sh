#!/usr/bin/env bash
# Converts the bundled narrow sample with a freshly built quarnel, prints the
# report and where the converted file went. Installs what is missing first;
# safe to run again (the target is overwritten).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh cli

build=build/convert-sample
log=build/convert-sample.log
mkdir -p build
# The build's chatter goes to a log that is shown only when the build fails.
if ! { cmake --preset release -B "$build" -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_QT=OFF &&
       cmake --build "$build" --target quarnel --parallel 2; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi

source=samples/narrow-krv330.frt
target=$build/QZ_narrow-krv330.frt
printf '== quarnel %s %s\n' "$source" "$target"
status=0
"$build/cli/quarnel" "$source" "$target" || status=$?
printf '== exit status %d; converted file: %s\n' "$status" "$PWD/$target"
exit "$status"
