#!/usr/bin/env bash
# Compares the quarnel command of this tree with the one of commit REV: both
# convert the same sources, and their exit status, standard output, standard
# error and target (bytes, or its absence) must be identical.
#
# The sources: the generator's files of every shape, at several sizes and
# seeds; damaged variants of the smaller ones (cut short, bytes replaced by
# NUL, 0xFF, CR, LF, markers and quotes, CR LF turned into LF, lines
# doubled or dropped, headers inserted); the samples and the fuzz corpus.
#
# Usage: scripts/compare-engines.sh REV
# REV's tree is checked out as a git worktree in build/compare/rev and built
# in build/compare/old; this tree is built in build/compare/new.
# QUARNEL_COMPARE_JOBS (default 2) sets the build's parallel jobs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if (($# != 1)); then
  echo "usage: $0 REV" >&2
  exit 2
fi
rev=$(git rev-parse --verify "$1^{commit}")
jobs=${QUARNEL_COMPARE_JOBS:-2}
root=$PWD/build/compare
mkdir -p "$root"

# REV's tree, checked out afresh when REV changes.
if [[ ! -e $root/rev/.git ]] || [[ $(git -C "$root/rev" rev-parse HEAD) != "$rev" ]]; then
  git worktree remove --force "$root/rev" 2>/dev/null || rm -rf "$root/rev"
  git worktree prune
  git worktree add --detach "$root/rev" "$rev" >/dev/null
  rm -rf "$root/old"
fi

configure_and_build() {
  local source=$1 build=$2
  shift 2
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARNEL_QT=OFF \
    -DCMAKE_CXX_COMPILER=g++ "$@" >/dev/null
  cmake --build "$build" --parallel "$jobs" --target quarnel >/dev/null
}
configure_and_build "$root/rev" "$root/old" -DQUARNEL_BUILD_TESTS=OFF
configure_and_build "$PWD" "$root/new" -DQUARNEL_BUILD_TESTS=ON
cmake --build "$root/new" --parallel "$jobs" --target quarnel-generate >/dev/null
old=$root/old/cli/quarnel
new=$root/new/cli/quarnel
generate=$root/new/bench/quarnel-generate

work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
sources=$work/sources
mkdir -p "$sources"

for shape in narrow wide long-other short-kind-l overlong-other; do
  for bytes in 0 1 200 2047 2048 5000 70000 1048576; do
    for seed in 1 2 3; do
      "$generate" "$shape" "$bytes" "$seed" >"$sources/$shape-$bytes-$seed.frt"
    done
  done
  "$generate" "$shape" $((8 * 1024 * 1024)) 9 >"$sources/$shape-8M-9.frt"
done
cp samples/*.frt "$sources/"
find fuzz/corpus/conversion_fuzzer fuzz/regressions/conversion_fuzzer -type f ! -name '.*' \
  -exec cp -t "$sources" {} +

# Damaged variants of the generated files up to 70000 bytes, reproducible.
python3 - "$sources" <<'EOF'
import os, random, sys

folder = sys.argv[1]
bytes_in = [b"\x00", b"\xff", b"\r", b"\n", b"@", b"$", b'"', b";", b"t", b"i", b"l", b"0", b"1", b" "]
inserts = [b"@t1ABC\r\n", b"@t1FRT\r\n", b"@i1KRV880\r\n", b"@i1KRV330\r\n", b"@i1XYZ\r\n", b"@l0\r\n",
           b"$\"P\"123456051;100;120\r\n", b"$\"P\"12345670656;00100;00123\r\n", b"$", b"@", b"\xff", b"\x00"]
names = sorted(n for n in os.listdir(folder) if n.endswith(".frt"))
for name in names:
    data = open(os.path.join(folder, name), "rb").read()
    if not data or len(data) > 70000:
        continue
    rng = random.Random(name)
    stem = name[:-4]
    variants = {}
    variants["lf"] = data.replace(b"\r\n", b"\n")
    for i in range(6):
        variants[f"cut{i}"] = data[: rng.randrange(len(data) + 1)]
    for i in range(14):
        at = rng.randrange(len(data))
        variants[f"byte{i}"] = data[:at] + rng.choice(bytes_in) + data[at + 1 :]
    for i in range(8):
        at = rng.randrange(len(data) + 1)
        variants[f"insert{i}"] = data[:at] + rng.choice(inserts) + data[at:]
    lines = data.split(b"\n")
    if len(lines) > 2:
        at = rng.randrange(len(lines))
        variants["double"] = b"\n".join(lines[:at] + [lines[at]] + lines[at:])
        variants["drop"] = b"\n".join(lines[:at] + lines[at + 1 :])
        variants["joined"] = b"".join(lines[: at + 1]) + b"\n".join([b""] + lines[at + 1 :])
    for key, value in variants.items():
        open(os.path.join(folder, f"{stem}-{key}.frt"), "wb").write(value)
EOF

# Both programs on every source, two sources at a time; each run's exit
# status, standard output and error and its target (or its absence) are
# compared. Differing sources are kept in build/compare/differ.
python3 - "$old" "$new" "$sources" "$work" "$root/differ" "${rev:0:12}" <<'EOF'
import concurrent.futures, os, shutil, subprocess, sys

old, new, sources, work, differ_dir, rev = sys.argv[1:]

def run(program, source, target):
    done = subprocess.run([program, source, target], capture_output=True)
    converted = None
    if os.path.exists(target):
        with open(target, "rb") as file:
            converted = file.read()
        os.remove(target)
    return done.returncode, done.stdout, done.stderr, converted

def compare(index_and_name):
    index, name = index_and_name
    source = os.path.join(sources, name)
    # One target name for both programs, so an error line that names it reads alike.
    target = os.path.join(work, f"target-{index}.frt")
    return name, run(old, source, target) == run(new, source, target)

names = sorted(os.listdir(sources))
with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
    results = list(pool.map(compare, enumerate(names)))
differ = [name for name, same in results if not same]
print(f"Compared {len(names)} sources: quarnel at {rev} against this tree.")
if differ:
    shutil.rmtree(differ_dir, ignore_errors=True)
    os.makedirs(differ_dir)
    for name in differ:
        shutil.copy(os.path.join(sources, name), differ_dir)
    print(f"{len(differ)} differ (copies in {differ_dir}):", file=sys.stderr)
    for name in differ:
        print(f"  {name}", file=sys.stderr)
    sys.exit(1)
print("Every exit status, report, error line and target is identical.")
EOF
