#!/usr/bin/env bash
# Builds Quarnel.exe for 64-bit and 32-bit Windows with mingw-w64, checks that
# neither needs a DLL beyond the system's, runs the 64-bit tests under wine64
# on a virtual display, and keeps a screenshot of the dialog in
# build/artifacts/quarnel-dialog.png (beside it quarnel-report.png, the report
# of a conversion in front of the dialog, and quarnel-about.png). 32-bit programs cannot run here; that
# build is only compiled and checked.
#
# Build folders are build/mingw-x64 and build/mingw-x86; set
# QUARNEL_MINGW_X64_DIR, QUARNEL_MINGW_X86_DIR or QUARNEL_ARTIFACTS_DIR to use
# others. Every step that runs wine has a time limit, so a hung emulator fails
# the run instead of blocking it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
[[ ${1:-} == --on-display ]] || scripts/install-deps.sh windows

x64_dir=${QUARNEL_MINGW_X64_DIR:-build/mingw-x64}
x86_dir=${QUARNEL_MINGW_X86_DIR:-build/mingw-x86}
artifacts=${QUARNEL_ARTIFACTS_DIR:-build/artifacts}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
desktop=560x360  # wine's desktop window, where the screenshots are taken

step() { printf '\n== %s\n' "$*"; }

export WINEPREFIX=$root/$x64_dir/wine-prefix
export WINEDEBUG=-all
# No prompts to install Mono or Gecko: nothing here needs them; no menu files
# written into the home folder.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Runs inside xvfb-run, which gives it a display of its own.
run_on_display() {
  # A wineserver that stays up spares every test program its start. The
  # helper processes that the first program starts (services, the desktop)
  # would keep that program's output open, and ctest reading it waiting: a
  # first program with its output elsewhere starts them.
  "$wineserver" -p
  trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
  timeout 120 "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
  status=0
  timeout 1200 ctest --test-dir "$x64_dir" --output-on-failure --timeout 300 || status=$?

  # Screenshots in wine's own desktop window, so the dialog has its title bar:
  # the dialog with its paths filled in, the report in front of it, the About box.
  scene=$(mktemp -d "$root/$x64_dir/pose.XXXXXX")
  timeout 240 "$wine" explorer /desktop=Quarnel,$desktop \
    "$x64_dir/tests/win32/pose_dialog.exe" "$root/$x64_dir/ui/win32/Quarnel.exe" "$scene" &
  pose=$!
  for shot in 1:quarnel-dialog 2:quarnel-report 3:quarnel-about; do
    number=${shot%%:*}
    for _ in $(seq 600); do
      [[ -f $scene/scene-$number ]] && break
      kill -0 "$pose" 2>/dev/null || break
      sleep 0.2
    done
    if [[ ! -f $scene/scene-$number ]]; then
      echo "error: scene $number of the dialog was not set for its screenshot" >&2
      status=1
      break
    fi
    sleep 1  # let the last paint land
    import -window root -crop "$desktop+0+0" +repage "$artifacts/${shot#*:}.png"
    echo "screenshot: $artifacts/${shot#*:}.png"
    touch "$scene/shot-$number"
  done
  wait "$pose" || status=1
  rm -rf "$scene"
  return $status
}
if [[ ${1:-} == --on-display ]]; then
  run_on_display
  exit
fi

# From a fresh cache, so that no stale setting reaches these programs:
# scripts/package.sh --windows-from-tests packages them as they are.
step "Windows 64-bit build (mingw-w64)"
cmake --preset mingw-x64 -B "$x64_dir" --fresh
cmake --build "$x64_dir" -j2

# The 32-bit build, which cannot run here, is compiled while the 64-bit tests
# run: those mostly wait for the emulator's windows.
step "Windows 32-bit build (mingw-w64), beside the 64-bit tests"
x86_log=$(mktemp "${TMPDIR:-/tmp}/quarnel-mingw-x86.XXXXXX")
{ cmake --preset mingw-x86 -B "$x86_dir" --fresh && cmake --build "$x86_dir" -j2; } >"$x86_log" 2>&1 &
x86_build=$!

step "64-bit tests under wine64 on a virtual display"
mkdir -p "$artifacts"
status=0
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  timeout 300 "$wine" wineboot --init
  timeout 120 "$wineserver" -w
fi
timeout 1800 xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/test-windows.sh" --on-display || status=$?

step "The Windows 32-bit build's output"
x86_status=0
wait "$x86_build" || x86_status=$?
cat "$x86_log"
rm -f "$x86_log"
if ((x86_status != 0)); then
  echo "error: the Windows 32-bit build failed" >&2
  exit 1
fi

step "Quarnel.exe needs only the system's DLLs"
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|advapi32|msvcrt|version)\.dll$'
for build in "$x64_dir:x86_64" "$x86_dir:i686"; do
  exe=${build%%:*}/ui/win32/Quarnel.exe
  imports=$("${build##*:}-w64-mingw32-objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  echo "$exe: $(echo $imports)"
  if grep -Evq "$allowed" <<<"$imports"; then
    echo "error: $exe imports $(grep -Ev "$allowed" <<<"$imports" | tr '\n' ' ')" >&2
    exit 1
  fi
done
exit $status
