#!/usr/bin/env bash
# Compares the quarnel command of this tree with the one of commit REV: both
# convert the same sources, and their exit status, standard output, standard
# error and target (bytes, or its absence) must be identical for every source
# that holds no line whose conversion the line mends change (a header or
# format line ending before its kind's fields, a number cut by a line end, a
# NUL behind the end marker, ...). Each differing source is listed with the
# kinds of mended line it holds and both outcomes.
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
# Lines that end before their kind's fields: a marker alone, kinds i, l and t
# ending at position 3 or 4, numbers cut by the line end, and a NUL behind
# the end marker.
short_inserts = [b"@l\r\n", b"@i\r\n", b"@\r\n", b"$\r\n", b"@i1\r\n", b"@l0\n", b"@t\r\n", b"@t1\r\n",
                 b"@l\xff", b"@\xff", b"$\xff", b"@i\r\nKRV330\r\n", b"$\"A\"01100000011; \r\n120 plain\r\n",
                 b"$\"\"1234567 \r\n58\r\n", b"x\xff" + b"y" * 100 + b"\x00"]
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
    # Short lines at line starts, and blanks at a line's end.
    starts = [0] + [i + 1 for i, c in enumerate(data) if c == 10]
    for i in range(6):
        at = rng.choice(starts)
        variants[f"short{i}"] = data[:at] + rng.choice(short_inserts) + data[at:]
    for i in range(3):
        at = rng.randrange(len(lines))
        variants[f"blank{i}"] = b"\n".join(lines[:at] + [lines[at].rstrip(b"\r") + b" \r"] + lines[at + 1 :])
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
    before, after = run(old, source, target), run(new, source, target)
    return name, before == after, before, after

def as_lf(data):
    out = bytearray()
    for i, c in enumerate(data):
        if c != 13:
            out.append(c)
        elif i + 1 < len(data) and data[i + 1] == 13:
            out.append(13)
        elif i + 1 == len(data) or data[i + 1] != 10:
            out.append(10)
    return bytes(out)

def mended_lines(data):
    """The kinds of line in `data` whose outcome the line mends change: the
    only sources whose conversion may differ from REV's."""
    kinds = set()
    text = as_lf(data)
    marker, nul = text.find(b"\xff"), text.find(b"\x00")
    if marker >= 0 and nul > marker:
        kinds.add("NUL behind the end marker")
    if marker >= 0:
        text = text[:marker + 1]
    other_model = False
    for line in text.split(b"\n"):
        at = next((i for i, c in enumerate(line) if c in b"@$\xff"), None)
        if at is None or line[at] == 0xFF:
            continue
        part = line[at:].split(b"\xff")[0]
        ended_by_marker = line[at:].find(b"\xff") >= 0
        if b"\x00" in part:
            kinds.add("NUL in a header or format line")
            part = part.split(b"\x00")[0]
        if len(part) == 1:
            kinds.add("marker alone")
        elif part[:1] == b"@" and part[1:2] in (b"i", b"l", b"t") and len(part) <= 3:
            kinds.add("kind i, l or t ending at position 3 or 4")
        if part[:2] == b"@i" and (len(part) < 9 or part[3:9] not in (b"KRV110", b"KRV330", b"KRV440", b"KRV880")):
            other_model = True
        if part[:1] == b"$" and part.count(b'"') >= 2 and not ended_by_marker and part[-1:] in (b" ", b"\t", b"\x0b", b"\x0c", b"\r"):
            kinds.add("format line ending in white space")
        if len(part) >= 2040:
            kinds.add("header or format line of 2040 characters or more")
    if other_model and marker >= 0:
        kinds.add("another model's model line in front of an end marker")
    return kinds

def summary(result):
    status, stdout, stderr, target = result
    lines = (stderr + stdout).decode("latin-1").splitlines()
    return f"exit {status}, {lines[0] if lines else 'no output'}, target {'none' if target is None else str(len(target)) + ' bytes'}"

names = sorted(os.listdir(sources))
with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
    results = list(pool.map(compare, enumerate(names)))
differ = [(name, before, after) for name, same, before, after in results if not same]
print(f"Compared {len(names)} sources: quarnel at {rev} against this tree.")
unexplained = []
if differ:
    shutil.rmtree(differ_dir, ignore_errors=True)
    os.makedirs(differ_dir)
    print(f"{len(differ)} differ (copies in {differ_dir}):")
    for name, before, after in differ:
        shutil.copy(os.path.join(sources, name), differ_dir)
        kinds = mended_lines(open(os.path.join(sources, name), "rb").read())
        if not kinds:
            unexplained.append(name)
        print(f"  {name}: {'; '.join(sorted(kinds)) or 'NO MENDED LINE'}")
        print(f"    {rev}: {summary(before)}")
        print(f"    now: {summary(after)}")
if unexplained:
    print(f"{len(unexplained)} sources differ without a line the mends name:", file=sys.stderr)
    for name in unexplained:
        print(f"  {name}", file=sys.stderr)
    sys.exit(1)
print("Every source without a line the mends name converts identically.")
EOF
