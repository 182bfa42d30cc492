#!/usr/bin/env bash
# Installs the Debian 12 packages that Quarnel needs for the purposes named:
#
#   cli      build the quarnel command (what scripts/convert-sample.sh needs)
#   test     the Linux tests, with the sanitizers (clang) and the injected faults (strace)
#   gui      build and test quarnel-gui (Qt 6 Widgets)
#   windows  cross-compile the Windows programs and test them under wine64
#   fuzz     the libFuzzer targets (clang)
#   bench    the benchmarks
#   cards    the tests on memory-card images (exFAT and FAT through FUSE)
#   package  build and check the Debian packages, Windows zips and installers, and the page they carry
#   web      build and test the page that converts in the browser
#   all      every purpose above (the default)
#
#   scripts/install-deps.sh cli gui
#
# Installs only what is missing, so it is quick and safe to run again.
set -euo pipefail

usage() {
  echo "usage: $0 [cli|test|gui|windows|fuzz|bench|cards|package|web|all]..." >&2
  exit 2
}

declare -A needs=(
  [cli]="build-essential cmake ninja-build"
  [test]="googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev strace python3"
  [gui]="qt6-base-dev qt6-base-dev-tools libgl-dev desktop-file-utils"
  [windows]="g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64 xvfb xauth imagemagick"
  [fuzz]="clang libclang-rt-14-dev libfuzzer-14-dev"
  [bench]="libbenchmark-dev time python3"
  [cards]="exfat-fuse exfatprogs fusefat dosfstools fuse3 python3"
  [package]="dpkg-dev lintian man-db wixl msitools librsvg2-bin imagemagick python3 shared-mime-info xdg-utils libfile-mimeinfo-perl"
  [web]="clang lld-14 wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32 chromium"
)
# Purposes that stand on others: the packages are built from every program.
declare -A includes=([test]="cli" [gui]="cli" [windows]="cli" [fuzz]="cli" [bench]="cli" [cards]="cli"
                     [package]="cli gui windows web" [web]="cli")
all_purposes=(cli test gui windows fuzz bench cards package web)

(($#)) || set -- all
wanted=()
add_purpose() {
  local purpose=$1 other
  [[ -n ${needs[$purpose]+x} ]] || usage
  for other in ${includes[$purpose]:-}; do add_purpose "$other"; done
  wanted+=("$purpose")
}
for purpose in "$@"; do
  case $purpose in
    all) for other in "${all_purposes[@]}"; do add_purpose "$other"; done ;;
    -h | --help) usage ;;
    *) add_purpose "$purpose" ;;
  esac
done

packages=()
for purpose in "${wanted[@]}"; do
  read -r -a list <<<"${needs[$purpose]}"
  packages+=("${list[@]}")
done
# The web tests need Node and npm. A Node that came from elsewhere (nvm, a
# vendor's package) is used as it is: Debian's npm would replace it.
if [[ " ${wanted[*]} " == *" web "* ]] && ! command -v node >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
