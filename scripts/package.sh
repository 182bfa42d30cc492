#!/usr/bin/env bash
# Builds every package of this version from the sources into build/packages/:
#   quarnel_<version>_amd64.deb, quarnel-gui_<version>_amd64.deb   (Debian 12)
#   quarnel-<version>-windows-x64.zip, quarnel-<version>-windows-x86.zip
#   quarnel-<version>-x64.msi, quarnel-<version>-x86.msi
#   quarnel-<version>.html   the browser page, which every package carries too
#   SHA256SUMS
# Installs what is missing first. Each build starts from a fresh cache, so
# stale settings never reach a package:
#
#   scripts/package.sh                      builds every program in build/package/
#   scripts/package.sh --windows-from-tests takes the Windows programs from the
#                                           builds that scripts/test-windows.sh
#                                           just made and tested
#   scripts/package.sh --linux-from-tests   takes the Linux programs from build/linux,
#                                           which the linux step of
#                                           scripts/test-all.sh just made and tested
#
# scripts/check-packages.sh then installs and tries them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

windows_from_tests=false
linux_from_tests=false
for option in "$@"; do
  case $option in
    --windows-from-tests) windows_from_tests=true ;;
    --linux-from-tests) linux_from_tests=true ;;
    *) echo "usage: $0 [--linux-from-tests] [--windows-from-tests]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh package

version=$(sed -n 's/^project(Quarnel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
# Files in the zips carry the release's date, so two builds give the same zip.
release_date=$(sed -n "s/^## \[${version//./\\.}\] - \([0-9-]*\)$/\1/p" CHANGELOG.md)
[[ -n $release_date ]] || { echo "package: CHANGELOG.md has no section for $version" >&2; exit 1; }

out=build/packages
work=build/package
rm -rf "$out" "$work"
mkdir -p "$out" "$work"

step() { printf '\n== %s\n' "$*"; }

step "The browser page"
scripts/build-web.sh
page=build/web/index.html
page_license=build/web-deps/node_modules/fflate/LICENSE
cp "$page" "$out/quarnel-$version.html"

step "Debian packages"
if $linux_from_tests; then
  echo "the programs that the linux step built and tested in build/linux"
  debs=build/linux/debs
  rm -rf "$debs"
  cpack --preset linux
else
  debs=$work/linux/debs
  cmake --workflow --preset package-linux
fi
for deb in "quarnel_${version}_amd64.deb" "quarnel-gui_${version}_amd64.deb"; do
  cp "$debs/$deb" "$out/"
done

# CR LF line ends for the texts Windows users open in Notepad.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }
# Ours, then that of fflate, which the page holds.
licences() {
  cat LICENSE
  printf '\n\nquarnel.html, the browser page, holds fflate, which writes its zip files, under this licence:\n\n'
  cat "$page_license"
}

for arch in x64 x86; do
  step "Windows $arch"
  case $arch in
    x64) triple=x86_64-w64-mingw32 ;;
    x86) triple=i686-w64-mingw32 ;;
  esac
  if $windows_from_tests; then
    case $arch in
      x64) build=${QUARNEL_MINGW_X64_DIR:-build/mingw-x64} ;;
      x86) build=${QUARNEL_MINGW_X86_DIR:-build/mingw-x86} ;;
    esac
    echo "the programs that scripts/test-windows.sh built in $build"
  else
    build=$work/mingw-$arch
    cmake --preset "package-mingw-$arch" --fresh
    cmake --build --preset "package-mingw-$arch"
  fi

  name=quarnel-$version-windows-$arch
  stage=$work/zip-$arch/$name
  mkdir -p "$stage"
  "$triple-strip" -o "$stage/Quarnel.exe" "$build/ui/win32/Quarnel.exe"
  "$triple-strip" -o "$stage/quarnel-cli.exe" "$build/cli/quarnel-cli.exe"
  cp "$page" "$stage/quarnel.html"
  crlf packaging/README-windows.txt | sed "s/@VERSION@/$version/g" >"$stage/README.txt"
  licences | crlf >"$stage/LICENSE.txt"
  touch -d "$release_date 00:00:00Z" "$stage" "$stage"/*
  (cd "$work/zip-$arch" && cmake -E tar cf "$root/$out/$name.zip" --format=zip \
    --mtime="$release_date 00:00:00Z" "$name/Quarnel.exe" "$name/quarnel-cli.exe" "$name/quarnel.html" \
    "$name/README.txt" "$name/LICENSE.txt")

  scripts/make-msi.sh "$arch" "$version" "$stage" "$out/quarnel-$version-$arch.msi"
done

step "SHA256SUMS"
(cd "$out" && sha256sum -- *.deb *.zip *.msi *.html >SHA256SUMS && cat SHA256SUMS)
printf '\nPackages of Quarnel %s in %s/\n' "$version" "$out"
