#!/usr/bin/env bash
# Tries the packages in build/packages/ (from scripts/package.sh) as a user
# would, on this machine:
#   - the checksums; the icons as the drawing gives them; lintian on both
#     Debian packages (no errors);
#   - the browser page, the same file in every package, with fflate's licence
#     in its Notices and in every package's licence file;
#   - apt-get installs both .deb files; the installed /usr/bin/quarnel converts
#     the narrow sample exactly, `man quarnel` shows its page, the desktop
#     entry is valid and a .frt file is of the format-file type, which opens
#     with quarnel-gui; then both are removed again;
#   - the x64 installer under wine64 in a fresh WINEPREFIX: it replaces the
#     previous release's installer; the installed quarnel-cli.exe converts the
#     sample exactly and answers `quarnel-cli /?` from a new console through
#     PATH; the Start Menu entries, the entry among the installed programs and
#     "Open with" for .frt files exist; msiexec /x removes it all, PATH entry
#     included; with REMOVE=PathFeature it installs all but the PATH entry;
#   - the x86 installer by its tables, and both zips by their files and the
#     machine type of their programs (this kernel runs no 32-bit programs).
# Needs root (or sudo) for apt-get. Every wine step has a time limit.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

packages=build/packages
version=$(sed -n 's/^project(Quarnel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
sample=samples/narrow-krv330.frt
expected=tests/data/expected/QZ_narrow-krv330.frt
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

step() { printf '\n== %s\n' "$*"; }
fail() { echo "check-packages: $*" >&2; exit 1; }
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-packages.XXXXXX")
cleanup() {
  if [[ -n ${WINEPREFIX:-} ]]; then "$wineserver" -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "Checksums"
[[ -f $packages/SHA256SUMS ]] || fail "$packages/SHA256SUMS is missing: run scripts/package.sh"
(cd "$packages" && sha256sum -c SHA256SUMS)
[[ $(wc -l <"$packages/SHA256SUMS") -eq 7 ]] || fail "SHA256SUMS should list six packages and the page"

step "The browser page and fflate's licence"
release_page=$packages/quarnel-$version.html
[[ -s $release_page ]] || fail "$release_page is missing"
# fflate's own licence file, from the folder scripts/build-web.sh installs it in.
page_license=build/web-deps/node_modules/fflate/LICENSE
fflate_copyright=$(grep -m 1 '^Copyright ' "$page_license") || fail "$page_license names no copyright"
# The holder and year, as a Debian copyright file writes them too.
fflate_copyright=$(sed 's/^Copyright *\(([cC]) *\)\{0,1\}//' <<<"$fflate_copyright")
fflate_grant=$(grep -m 1 '^Permission is hereby granted' "$page_license") || fail "$page_license: not the licence expected"
holds_fflate_licence() {  # FILE: its text, CR LF or LF, holds fflate's holder and grant
  local text
  text=$(tr -d '\r' <"$1")
  [[ $text == *"$fflate_copyright"* && $text == *"$fflate_grant"* ]]
}
holds_fflate_licence "$release_page" || fail "the page's Notices lack fflate's licence"
echo "$(basename "$release_page"): $(wc -c <"$release_page") bytes, fflate's licence in its Notices"

step "Icons: the committed renderings are the drawing's"
scripts/make-icon.sh "$work/icons" >/dev/null
for file in quarnel.ico icons/quarnel-{16,32,48,256}.png; do
  cmp "$work/icons/$file" "res/$file" || fail "res/$file is not what res/quarnel.svg gives: run scripts/make-icon.sh"
done
echo "res/quarnel.ico and res/icons/ match res/quarnel.svg"

cli_deb=$packages/quarnel_${version}_amd64.deb
gui_deb=$packages/quarnel-gui_${version}_amd64.deb

step "Debian packages: contents and lintian"
expect_files() {
  local deb=$1 listing file
  shift
  listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for file in "$@"; do
    grep -qxF "./$file" <<<"$listing" || fail "$deb lacks /$file"
  done
}
expect_files "$cli_deb" usr/bin/quarnel usr/share/man/man1/quarnel.1.gz \
  usr/share/doc/quarnel/copyright usr/share/doc/quarnel/changelog.gz
expect_files "$gui_deb" usr/bin/quarnel-gui usr/share/man/man1/quarnel-gui.1.gz usr/share/quarnel/quarnel.html \
  usr/share/applications/quarnel.desktop usr/share/mime/packages/quarnel.xml \
  usr/share/icons/hicolor/scalable/apps/quarnel.svg \
  usr/share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/quarnel.png \
  usr/share/doc/quarnel-gui/copyright usr/share/doc/quarnel-gui/changelog.gz
[[ $(dpkg-deb -f "$gui_deb" Depends) == *"quarnel (= $version)"* ]] || fail "quarnel-gui does not depend on quarnel $version"
# Their triggers register the type and the entry; no maintainer scripts do.
[[ $(dpkg-deb -f "$gui_deb" Recommends) == *shared-mime-info*desktop-file-utils* ]] ||
  fail "quarnel-gui does not recommend shared-mime-info and desktop-file-utils"
for deb in "$cli_deb" "$gui_deb"; do
  [[ $(dpkg-deb -f "$deb" Maintainer) == "Quarnel developers <quarnel-dev@example.org>" ]] || fail "$deb: maintainer"
  echo "$(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"
done
# Errors fail the check; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$cli_deb" "$gui_deb"

step "Debian packages: installed with apt-get"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -q --reinstall "$root/$cli_deb" "$root/$gui_deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
remove_debs() { "${sudo_cmd[@]}" apt-get purge -y -q quarnel-gui quarnel >/dev/null; }
[[ $(dpkg-query -S /usr/bin/quarnel) == "quarnel: /usr/bin/quarnel" ]] || fail "/usr/bin/quarnel is not the package's"
status=0
/usr/bin/quarnel "$sample" "$work/QZ_deb.frt" >"$work/deb-report.txt" || status=$?
((status == 0)) || { remove_debs; fail "/usr/bin/quarnel exited $status"; }
cmp "$work/QZ_deb.frt" "$expected" || { remove_debs; fail "/usr/bin/quarnel converted the sample differently"; }
head -n 1 "$work/deb-report.txt"
[[ $(/usr/bin/quarnel --version) == *"$version"* ]] || { remove_debs; fail "/usr/bin/quarnel --version does not name $version"; }
for page in quarnel quarnel-gui; do
  MANWIDTH=80 man -P cat "$page" >"$work/$page.man" 2>"$work/man.err" || { remove_debs; cat "$work/man.err" >&2; fail "man $page"; }
  grep -q "Quarnel $version" "$work/$page.man" || { remove_debs; fail "man $page does not show the page"; }
  echo "man $page: $(sed -n '/^NAME/{n;p;q}' "$work/$page.man" | sed 's/^ *//')"
done
[[ -x /usr/bin/quarnel-gui ]] || { remove_debs; fail "/usr/bin/quarnel-gui is missing"; }
cmp /usr/share/quarnel/quarnel.html "$release_page" || { remove_debs; fail "/usr/share/quarnel/quarnel.html is not the release's page"; }
grep -q '/usr/share/quarnel/quarnel\.html' "$work/quarnel-gui.man" || { remove_debs; fail "man quarnel-gui does not name the page"; }
holds_fflate_licence /usr/share/doc/quarnel-gui/copyright || { remove_debs; fail "quarnel-gui's copyright lacks fflate's licence"; }
echo "/usr/share/quarnel/quarnel.html: the release's page, named in man quarnel-gui, fflate's licence in the copyright file"
[[ $(/usr/bin/quarnel-gui --version) == "quarnel-gui $version" ]] || { remove_debs; fail "quarnel-gui --version"; }
desktop-file-validate /usr/share/applications/quarnel.desktop || { remove_debs; fail "the installed desktop entry is not valid"; }
# Without mimetype (libfile-mimeinfo-perl) xdg-mime asks file(1), which knows no format files.
command -v mimetype >/dev/null || { remove_debs; fail "mimetype is missing: scripts/install-deps.sh package"; }
cp "$sample" "$work/job.frt"
filetype=$(XDG_CURRENT_DESKTOP= xdg-mime query filetype "$work/job.frt")
[[ $filetype == application/x-quarnel-frt ]] || { remove_debs; fail "a .frt file is of type '$filetype'"; }
opener=$(XDG_CURRENT_DESKTOP= xdg-mime query default application/x-quarnel-frt)
[[ $opener == quarnel.desktop ]] || { remove_debs; fail "format files open with '$opener', not quarnel.desktop"; }
echo "job.frt: $filetype, opened with $opener"
remove_debs
for file in /usr/bin/quarnel /usr/bin/quarnel-gui /usr/share/man/man1/quarnel.1.gz /usr/share/mime/packages/quarnel.xml \
  /usr/share/quarnel; do
  [[ ! -e $file ]] || fail "$file is still there after removal"
done
echo "installed, tried and removed"

step "Windows installer x64 under wine64, fresh prefix"
export WINEPREFIX=$work/wine
export WINEDEBUG=-all
# No menu files in the machine's home, no prompts for Mono or Gecko.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
timeout 300 "$wine" wineboot --init >/dev/null 2>&1
timeout 120 "$wineserver" -w
msi=$packages/quarnel-$version-x64.msi
registry() { timeout 120 "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }
# wine's reg prints its errors on standard output, so its status tells.
has_key() { timeout 120 "$wine" reg query "$1" >/dev/null 2>&1; }
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
system_path() { registry "$environment" /v PATH | sed -n 's/^ *PATH *REG_[A-Z_]* *//p'; }
path_before=$(system_path)
program_dir="$WINEPREFIX/drive_c/Program Files/Quarnel"
bin_entry='C:\Program Files\Quarnel\bin\'
installed_files=(Quarnel.exe bin/quarnel-cli.exe quarnel.html README.txt LICENSE.txt)
start_menu_entries=(Quarnel "Quarnel in the browser" "Quarnel README")
# The Start Menu entry, among every user's programs or (where wine puts a
# per-machine entry) among the installing user's.
start_menu_entry_count() {
  find "$WINEPREFIX/drive_c" -path "*/Start Menu/Programs/$1.lnk" | wc -l
}
installed_programs() {
  registry 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '/DisplayName/ && /Quarnel/ {n++} END {print n + 0}'
}
installed_version() {  # the DisplayVersion of the key whose DisplayName is Quarnel
  registry 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '/^HKEY/ {key = $0} /DisplayName/ && /Quarnel/ {ours[key] = 1} /DisplayVersion/ {shown[key] = $NF}
         END {for (key in ours) print shown[key]}'
}
path_entries() { tr ';' '\n' <<<"$(system_path)" | grep -cxF "$bin_entry" || true; }
classes='HKLM\Software\Classes'
# Nothing of Quarnel is left: files, entries, registry, the PATH entry.
expect_removed() {
  [[ ! -e $program_dir ]] || fail "$1 left files behind: $(cd "$program_dir" && find . -type f | tr '\n' ' ')"
  local entry
  for entry in "${start_menu_entries[@]}"; do
    [[ $(start_menu_entry_count "$entry") -eq 0 ]] || fail "$1 left the Start Menu entry $entry"
  done
  [[ $(installed_programs) -eq 0 ]] || fail "$1 left the entry among the installed programs"
  ! has_key "$classes\Quarnel.FormatFile" || fail "$1 left the ProgID Quarnel.FormatFile"
  ! grep -q 'Quarnel' <<<"$(registry "$classes\.frt" /s)" || fail "$1 left Quarnel among .frt's ProgIDs"
  ! has_key 'HKLM\Software\Quarnel' || fail "$1 left HKLM\Software\Quarnel"
  # wine takes the entry out of PATH and leaves the separator in front of it.
  local path_after
  path_after=$(system_path | sed 's/;*$//')
  [[ $path_after == "${path_before%;}" ]] ||
    fail "$1 left PATH as '$path_after', not '$path_before'"
}

timeout 300 "$wine" msiexec /i "$root/$msi" /qn
[[ $(installed_programs) -eq 1 && $(installed_version) == "$version" ]] || fail "after msiexec /i: $version is not listed once"

for file in "${installed_files[@]}"; do
  [[ -f $program_dir/$file ]] || fail "after msiexec /i: Program Files/Quarnel/$file is missing"
done
[[ ! -e $program_dir/quarnel-cli.exe ]] || fail "quarnel-cli.exe stands beside Quarnel.exe, where PATH would find the dialog"
cmp "$program_dir/quarnel.html" "$release_page" || fail "the installed quarnel.html is not the release's page"
holds_fflate_licence "$program_dir/LICENSE.txt" || fail "the installed LICENSE.txt lacks fflate's licence"
for entry in "${start_menu_entries[@]}"; do
  [[ $(start_menu_entry_count "$entry") -eq 1 ]] || fail "after msiexec /i: no Start Menu entry $entry.lnk"
done
echo "the files in Program Files/Quarnel, the Start Menu entries ${start_menu_entries[*]}"
# "Open with" for format files: the ProgID and its open verb, listed among
# .frt's ProgIDs without becoming .frt's default program.
grep -qF '"C:\Program Files\Quarnel\Quarnel.exe" "%1"' <<<"$(registry "$classes\Quarnel.FormatFile\shell\open\command" /ve)" ||
  fail "after msiexec /i: no open verb Quarnel.exe \"%1\" for Quarnel.FormatFile"
grep -q 'Quarnel.FormatFile' <<<"$(registry "$classes\.frt\OpenWithProgids")" ||
  fail "after msiexec /i: Quarnel.FormatFile is not among .frt's OpenWithProgids"
! grep -q 'Quarnel' <<<"$(registry "$classes\.frt" /ve)" || fail "after msiexec /i: Quarnel took .frt's default"
echo "Open with Quarnel for .frt files registered"

# The command line on PATH, once, and found by a console started afterwards.
[[ $(path_entries) -eq 1 ]] || fail "after msiexec /i: PATH ('$(system_path)') does not hold $bin_entry once"
timeout 120 "$wine" cmd /c 'quarnel-cli /?' </dev/null >"$work/help.txt" 2>&1 || fail "quarnel-cli /? from a new console: $(cat "$work/help.txt")"
grep -q '^Usage: ' "$work/help.txt" || fail "quarnel-cli /? from a new console printed: $(head -c 300 "$work/help.txt")"
[[ $(timeout 120 "$wine" cmd /c 'quarnel-cli --version' </dev/null | tr -d '\r') == "quarnel-cli $version" ]] ||
  fail "quarnel-cli on PATH is not $version"
echo "PATH holds $bin_entry; quarnel-cli /? answers from a new console"
cp "$sample" "$work/sample.frt"
status=0
timeout 120 "$wine" "C:\\Program Files\\Quarnel\\bin\\quarnel-cli.exe" 'Z:'"${work//\//\\}"'\sample.frt' \
  'Z:'"${work//\//\\}"'\QZ_msi.frt' >"$work/msi-report.txt" || status=$?
((status == 0)) || fail "the installed quarnel-cli.exe exited $status"
cmp "$work/QZ_msi.frt" "$expected" || fail "the installed quarnel-cli.exe converted the sample differently"
head -n 1 "$work/msi-report.txt"

timeout 300 "$wine" msiexec /x "$root/$msi" /qn
expect_removed "msiexec /x"
echo "installed, tried and removed, PATH as before"

# Without PathFeature: everything else, and PATH left alone.
timeout 300 "$wine" msiexec /i "$root/$msi" /qn REMOVE=PathFeature
for file in "${installed_files[@]}"; do
  [[ -f $program_dir/$file ]] || fail "after msiexec /i REMOVE=PathFeature: Program Files/Quarnel/$file is missing"
done
[[ $(path_entries) -eq 0 ]] || fail "msiexec /i REMOVE=PathFeature put $bin_entry on PATH"
timeout 300 "$wine" msiexec /x "$root/$msi" /qn
expect_removed "msiexec /x after REMOVE=PathFeature"
echo "REMOVE=PathFeature: installed without the PATH entry, and removed"

# Over the previous release's installer, as for a user who has it installed:
# its stand-in holds the same files under the version of CHANGELOG.md's
# previous section. Last, since wine leaves an empty entry in PATH where it
# took the stand-in's out, and its cmd stops looking at an empty entry.
previous=$(sed -n 's/^## \[\([0-9.]*\)\] - [0-9-]*$/\1/p' CHANGELOG.md | sed -n 2p)
[[ -n $previous ]] || fail "CHANGELOG.md names no release before $version"
mkdir -p "$work/previous"
(cd "$work/previous" && cmake -E tar xf "$root/$packages/quarnel-$version-windows-x64.zip")
scripts/make-msi.sh x64 "$previous" "$work/previous/quarnel-$version-windows-x64" "$work/previous.msi" >/dev/null
timeout 300 "$wine" msiexec /i "$work/previous.msi" /qn
[[ $(installed_version) == "$previous" ]] || fail "the stand-in for $previous did not install"
timeout 300 "$wine" msiexec /i "$root/$msi" /qn
[[ $(installed_programs) -eq 1 ]] || fail "after installing $version over $previous, Quarnel is not listed exactly once"
[[ $(installed_version) == "$version" ]] || fail "$version did not replace $previous"
echo "$version replaced $previous"
[[ $(path_entries) -eq 1 ]] || fail "after the upgrade, PATH ('$(system_path)') does not hold $bin_entry once"
timeout 300 "$wine" msiexec /x "$root/$msi" /qn
expect_removed "msiexec /x after the upgrade"
echo "upgraded and removed"
"$wineserver" -k >/dev/null 2>&1 || true
unset WINEPREFIX

step "Windows installer x86 by its tables"
msi=$packages/quarnel-$version-x86.msi
# Each table read whole first: grep -q would end a pipe before msiinfo does.
table() { msiinfo export "$1" "$2" | tr -d '\r'; }
suminfo() { msiinfo suminfo "$1"; }
grep -q '^Template: Intel;1033' <<<"$(suminfo "$msi")" || fail "$msi is not for 32-bit Windows"
grep -q '^Template: x64;1033' <<<"$(suminfo "$packages/quarnel-$version-x64.msi")" || fail "the x64 installer is not for x64"
files=$(table "$msi" File)
for file in Quarnel.exe quarnel-cli.exe quarnel.html README.txt LICENSE.txt; do
  grep -qF "	$file	" <<<"$files" || fail "$msi lacks $file"
done
shortcuts=$(table "$msi" Shortcut)
for entry in "${start_menu_entries[@]}"; do
  grep -qP "\tProgramMenuFolder\t\Q$entry\E\t" <<<"$shortcuts" || fail "$msi has no Start Menu entry $entry"
done
grep -qP '^BINDIR\tINSTALLDIR\tbin$' <<<"$(table "$msi" Directory)" || fail "$msi has no bin folder"
grep -qP '^CommandLine\t[^\t]*\tBINDIR\t' <<<"$(table "$msi" Component)" || fail "$msi does not put quarnel-cli.exe into bin"
grep -qP '^PathEntry\t=-\*PATH\t\[~\];\[BINDIR\]\tPathEntry$' <<<"$(table "$msi" Environment)" ||
  fail "$msi does not append bin to the system's PATH"
grep -qP '^PathFeature\tPathEntry$' <<<"$(table "$msi" FeatureComponents)" || fail "$msi has no PathFeature"
sequence=$(table "$msi" InstallExecuteSequence)
for action in WriteEnvironmentStrings RemoveEnvironmentStrings AddEveryFeature; do
  grep -q "^$action	" <<<"$sequence" || fail "$msi does not run $action"
done
registry_rows=$(table "$msi" Registry)
grep -qF 'Software\Classes\Quarnel.FormatFile\shell\open\command		"[INSTALLDIR]Quarnel.exe" "%1"' <<<"$registry_rows" ||
  fail "$msi has no open verb for format files"
grep -qP 'Software\\Classes\\\.frt\\OpenWithProgids\tQuarnel\.FormatFile\t' <<<"$registry_rows" ||
  fail "$msi does not list its ProgID among .frt's"
! grep -q 'Extension\|ProgId' <<<"$(msiinfo tables "$msi")" || fail "$msi takes .frt's default association"
grep -q 'ProgramFilesFolder' <<<"$(table "$msi" Directory)" || fail "$msi does not install into Program Files"
grep -qx 'ALLUSERS	1' <<<"$(table "$msi" Property)" || fail "$msi is not per-machine"
upgrade_code() { table "$1" Property | awk '$1 == "UpgradeCode" {print $2}'; }
[[ -n $(upgrade_code "$msi") && $(upgrade_code "$msi") == $(upgrade_code "$packages/quarnel-$version-x64.msi") ]] ||
  fail "the installers do not share one upgrade code"
grep -q RemoveExistingProducts <<<"$(table "$msi" InstallExecuteSequence)" || fail "$msi has no major-upgrade rule"
echo "$(basename "$msi"): tables as expected"

step "Windows zips"
python3 - "$packages" "$version" "$release_page" "$fflate_copyright" "$fflate_grant" <<'PY'
import struct, sys, zipfile
packages, version, page, *fflate_licence = sys.argv[1:]
with open(page, "rb") as file:
    page = file.read()
# The PE optional header's magic and the COFF machine of each architecture.
machines = {"x64": (0x20B, 0x8664, "PE32+"), "x86": (0x10B, 0x14C, "PE32")}
for arch, (magic, machine, kind) in machines.items():
    name = f"quarnel-{version}-windows-{arch}"
    path = f"{packages}/{name}.zip"
    with zipfile.ZipFile(path) as archive:
        names = sorted(archive.namelist())
        want = sorted(f"{name}/{file}" for file in
                      ("Quarnel.exe", "quarnel-cli.exe", "quarnel.html", "README.txt", "LICENSE.txt"))
        if names != want:
            sys.exit(f"{path}: holds {names}, not {want}")
        for program in ("Quarnel.exe", "quarnel-cli.exe"):
            data = archive.read(f"{name}/{program}")
            pe = struct.unpack_from("<I", data, 0x3C)[0]
            found_machine = struct.unpack_from("<H", data, pe + 4)[0]
            found_magic = struct.unpack_from("<H", data, pe + 24)[0]
            if data[pe:pe + 4] != b"PE\0\0" or (found_magic, found_machine) != (magic, machine):
                sys.exit(f"{path}: {program} is not {kind} for {arch}")
        for text in ("README.txt", "LICENSE.txt"):
            data = archive.read(f"{name}/{text}")
            if data.count(b"\n") != data.count(b"\r\n") or b"\r\n" not in data:
                sys.exit(f"{path}: {text} does not end its lines with CR LF")
        if archive.read(f"{name}/quarnel.html") != page:
            sys.exit(f"{path}: quarnel.html is not the release's page")
        licence = archive.read(f"{name}/LICENSE.txt").decode().replace("\r\n", "\n")
        if not all(line in licence for line in fflate_licence):
            sys.exit(f"{path}: LICENSE.txt lacks fflate's licence")
    print(f"{name}.zip: the five files, {kind} programs, the release's page, fflate's licence")
PY

printf '\nAll packages checked.\n'
