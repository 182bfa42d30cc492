#!/usr/bin/env bash
# Builds the Windows installer of one architecture from a folder that holds
# what it installs (Quarnel.exe, quarnel-cli.exe, quarnel.html, README.txt,
# LICENSE.txt):
#
#   scripts/make-msi.sh x64 1.1.0.0 build/package/zip-x64/quarnel-1.1.0.0-windows-x64 out.msi
#
# wixl builds it from packaging/quarnel.wxs; msibuild then adds what wixl
# cannot write: PathFeature's entry in the Environment table, appended to the
# system's PATH on install and taken out of it again on removal, and the
# actions that write and remove it.
set -euo pipefail

[[ $# -eq 4 ]] || { echo "usage: $0 x64|x86 VERSION FOLDER OUTPUT.msi" >&2; exit 2; }
arch=$1
version=$2
files=$(realpath "$3")
output=$(realpath -m "$4")
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

# wixl reads every path as relative to the folder it runs in.
(cd / && wixl -a "$arch" -D Version="$version" -D Arch="$arch" -D BinDir="${files#/}" \
  -D IconFile="${root#/}/res/quarnel.ico" -o "${output#/}" "$root/packaging/quarnel.wxs")

tables=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-msi.XXXXXX")
trap 'rm -rf "$tables"' EXIT
# "=" sets the variable on install, "-" removes it on removal, "*" makes it
# the system's; "[~];" appends the value to what is there, so removal takes
# out only this entry.
printf '%s\n' $'Environment\tName\tValue\tComponent_' $'s72\tl255\tL255\ts72' $'Environment\tEnvironment' \
  $'PathEntry\t=-*PATH\t[~];[BINDIR]\tPathEntry' >"$tables/Environment.idt"
(cd "$tables" && msibuild "$output" -i Environment.idt)
# Where Windows Installer's standard sequence has them.
msibuild "$output" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
# A feature named in REMOVE on the command line makes Windows Installer keep
# every other feature as it is, which on a first install is absent: so that
# `msiexec /i quarnel.msi REMOVE=PathFeature` installs all the rest, a first
# install given REMOVE alone sets ADDLOCAL=ALL (a type 51 action: a property
# set to a value) before the features' states are settled.
condition='NOT Installed AND REMOVE AND NOT ADDLOCAL'
msibuild "$output" \
  -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('AddEveryFeature', 51, 'ADDLOCAL', 'ALL')" \
  -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('AddEveryFeature', '$condition', 950)" \
  -q "INSERT INTO InstallUISequence (Action, Condition, Sequence) VALUES ('AddEveryFeature', '$condition', 950)"
