#!/usr/bin/env python3
"""Runs quarnel on memory-card images as a surveyor's card would be mounted:
an exFAT image through exfat-fuse, a FAT image through fusefat and, where
the kernel has vfat, a FAT image mounted by the kernel. Each row's files are
checked afterwards, and again after the card is unmounted and mounted anew.

  tests/cards/run_cards.py BUILD/cli/quarnel

Needs root (loop devices, mounts) and /dev/fuse; QUARNEL_SKIP_CARDS=1 skips
the whole run. Every image is unmounted and detached again, also when a row
fails or the run is stopped. No check depends on timing.
"""
import errno
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
NARROW = (REPO / "samples/narrow-krv330.frt").read_bytes()
NARROW_DONE = (REPO / "tests/data/expected/QZ_narrow-krv330.frt").read_bytes()
WIDE = (REPO / "samples/wide-krv880.frt").read_bytes()
WIDE_DONE = (REPO / "tests/data/expected/QZ_wide-krv880.frt").read_bytes()
# Text behind an end marker, which a conversion onto the source itself would drop.
TAIL = b"@i1KRV110 Total Station\r\n@t1FRT test\r\n$\"Pt \"010800011;101\r\nnote \xff\r\nthe rest of the card's only copy\r\n"
OLD = b"an earlier target\r\n"
IMAGE_BYTES = 8 << 20

# row: (files on the card before, files on the local disk before, arguments
#       (run in the row's folder on the card; {local} is the local folder),
#       exit status, standard error or None for any, files on the card after)
ROWS = {
    "onto-itself-by-case": (
        {"Job.frt": TAIL}, {}, "Job.frt JOB.FRT", 1,
        "quarnel: Job.frt: line 4: end marker (byte 0xFF) with more text behind it; converting in place "
        "would drop that text: convert to another file\n",
        {"Job.frt": TAIL}),
    "two-sources-one-target-by-case": (
        {"d1/Job.frt": NARROW, "d2/job.frt": WIDE}, {}, "-q -o out d1/Job.frt d2/job.frt", 2,
        "quarnel: d1/Job.frt and d2/job.frt would both be converted into out/QZ_job.frt\n"
        "quarnel: nothing was converted\n",
        {"d1/Job.frt": NARROW, "d2/job.frt": WIDE}),
    # The file system refuses the old target's mode; the one it gives is kept.
    "replace": (
        {"a.frt": NARROW, "QZ_a.frt": OLD}, {}, "-q a.frt QZ_a.frt", 0, "",
        {"a.frt": NARROW, "QZ_a.frt": NARROW_DONE}),
    "in-place": (
        {"a.frt": WIDE}, {}, "-q a.frt a.frt", 0, "", {"a.frt": WIDE_DONE}),
    "beside": (
        {"a.frt": NARROW, "b.frt": WIDE, "QZ_b.frt": OLD}, {}, "-q -b a.frt b.frt", 0, None,
        {"a.frt": NARROW, "b.frt": WIDE, "QZ_a.frt": NARROW_DONE, "QZ_b.frt": WIDE_DONE}),
    # An -o folder not made yet on an empty card folder: the probe of case
    # leaves nothing behind.
    "recursive-onto-card": (
        {}, {"jobs/a.frt": NARROW, "jobs/North/b.frt": WIDE, "jobs/North/east/c.frt": NARROW},
        "-q -r -o out {local}/jobs", 0, None,
        {"out/QZ_a.frt": NARROW_DONE, "out/North/QZ_b.frt": WIDE_DONE, "out/North/east/QZ_c.frt": NARROW_DONE}),
}


class Failed(Exception):
    pass


def run(command, **options):
    return subprocess.run(command, check=True, stdin=subprocess.DEVNULL, capture_output=True, **options)


class Card:
    """An image attached and mounted; `close` undoes whatever was done."""

    def __init__(self, kind, folder):
        self.kind, self.image, self.mount = kind, folder / f"{kind}.img", folder / kind
        self.loop = None
        self.mounted = False

    def make(self):
        with open(self.image, "wb") as image:
            image.truncate(IMAGE_BYTES)
        run(["mkfs.exfat" if self.kind == "exfat" else "mkfs.vfat", str(self.image)])
        self.mount.mkdir()
        if self.kind != "fusefat":
            self.loop = run(["losetup", "--find", "--show", str(self.image)], text=True).stdout.strip()
        self.attach()

    def attach(self):
        if self.kind == "exfat":
            run(["mount.exfat-fuse", self.loop, str(self.mount)])
        elif self.kind == "fusefat":
            run(["fusefat", "-o", "rw+", str(self.image), str(self.mount)])
        else:
            run(["mount", "-t", "vfat", self.loop, str(self.mount)])
        self.mounted = True

    def detach(self):
        if self.mounted:
            command = ["umount", str(self.mount)] if self.kind == "vfat" else ["fusermount", "-u", str(self.mount)]
            subprocess.run(command, check=False, capture_output=True)
            self.mounted = os.path.ismount(self.mount)
            if self.mounted:
                # Busy: detached from the tree now, freed once its last user goes.
                subprocess.run(["umount", "-l", str(self.mount)], check=False, capture_output=True)
                self.mounted = False

    def close(self):
        self.detach()
        if self.loop:
            subprocess.run(["losetup", "-d", self.loop], check=False, capture_output=True)
            self.loop = None


def write_files(folder, files):
    for name, content in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)


def files_below(folder):
    return {str(path.relative_to(folder)): path.read_bytes()
            for path in sorted(folder.rglob("*")) if path.is_file()}


def entries_below(folder):
    return sorted(str(path.relative_to(folder)) for path in folder.rglob("*"))


def check_row(binary, card, name, local_root):
    before, local, arguments, status, err, after = ROWS[name]
    folder = card.mount / name
    folder.mkdir()
    write_files(folder, before)
    local_folder = local_root / name
    write_files(local_folder, local)
    command = [str(binary), *arguments.replace("{local}", str(local_folder)).split()]
    result = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                            env=dict(os.environ, LC_ALL="C"), timeout=120)
    problems = []
    if result.returncode != status:
        problems.append(f"exit status {result.returncode}, not {status}")
    text = result.stderr.decode(errors="replace")
    expected_err = None if err is None else err.replace("{local}", str(local_folder))
    if expected_err is not None and text != expected_err:
        problems.append(f"standard error {text!r}, not {expected_err!r}")
    if files_below(folder) != after:
        problems.append(f"files {sorted(files_below(folder))}, not {sorted(after)} with their bytes")
    leftovers = [entry for entry in entries_below(folder) if ".quarnel-" in entry]
    if leftovers:
        problems.append(f"left behind: {leftovers}")
    if problems:
        raise Failed(f"{card.kind} {name}: " + "; ".join(problems) + f"\n  stderr: {text}")
    return after


def check_full_card(binary, card, local_root):
    """A card with no room left: the earlier target stays, nothing is left behind."""
    folder = card.mount / "full"
    folder.mkdir()
    write_files(folder, {"QZ_a.frt": OLD})
    source = local_root / "full" / "a.frt"
    write_files(source.parent, {"a.frt": NARROW})
    filler = os.open(folder / "filler", os.O_WRONLY | os.O_CREAT, 0o600)
    full = None
    try:
        # Down to the last byte: the rest of a cluster must not take the target.
        for size in (65536, 4096, 1):
            try:
                while os.write(filler, b"\0" * size) == size:
                    pass
            except OSError as error:
                full = error.errno
    finally:
        os.close(filler)
    result = subprocess.run([str(binary), "-q", str(source), "QZ_a.frt"], cwd=folder,
                            stdin=subprocess.DEVNULL, capture_output=True, env=dict(os.environ, LC_ALL="C"),
                            timeout=120)
    text = result.stderr.decode(errors="replace")
    # fusefat says EPERM where a card is full; the others say ENOSPC.
    reason = os.strerror(full if card.kind == "fusefat" else errno.ENOSPC)
    expected = f"quarnel: QZ_a.frt: cannot write the target: {reason}\n"
    problems = []
    if full is None or (card.kind != "fusefat" and full != errno.ENOSPC):
        problems.append(f"filling the card gave {full}, not ENOSPC")
    if result.returncode != 1 or text != expected:
        problems.append(f"exit status {result.returncode} with {text!r}, not 1 with {expected!r}")
    if (folder / "QZ_a.frt").read_bytes() != OLD:
        problems.append("the earlier target changed")
    leftovers = [entry for entry in entries_below(folder) if ".quarnel-" in entry]
    if leftovers:
        problems.append(f"left behind: {leftovers}")
    if problems:
        raise Failed(f"{card.kind} full card: " + "; ".join(problems))
    (folder / "filler").unlink()
    return {"QZ_a.frt": OLD}


def folds_case(card):
    """Whether the card takes names that differ in case for one file."""
    probe = card.mount / "Case-Probe"
    probe.write_bytes(b"")
    folds = (card.mount / "case-probe").exists()
    probe.unlink()
    return folds


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    binary = Path(sys.argv[1]).resolve()
    if os.environ.get("QUARNEL_SKIP_CARDS") == "1":
        print("run_cards.py: skipped (QUARNEL_SKIP_CARDS=1)")
        return 0
    if not os.path.exists("/dev/fuse"):
        sys.exit("run_cards.py: no /dev/fuse: the card tests need FUSE (QUARNEL_SKIP_CARDS=1 skips them)")
    if os.geteuid() != 0:
        sys.exit("run_cards.py: needs root to attach and mount the card images")
    for tool in ("mkfs.exfat", "mount.exfat-fuse", "mkfs.vfat", "fusefat", "fusermount", "losetup"):
        if shutil.which(tool) is None:
            sys.exit(f"run_cards.py: {tool} is missing (scripts/install-deps.sh cards)")
    kinds = ["exfat", "fusefat"]
    with open("/proc/filesystems") as systems:
        if any(line.split()[-1] == "vfat" for line in systems if line.strip()):
            kinds.append("vfat")
        else:
            print("run_cards.py: this kernel has no vfat; FAT is tried through fusefat only")

    folder = Path(tempfile.mkdtemp(prefix="quarnel-cards."))
    cards = []
    # A stop by signal still unmounts and detaches every image.
    for stop in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(stop, lambda number, frame: sys.exit(128 + number))
    failures = 0
    try:
        for kind in kinds:
            card = Card(kind, folder)
            cards.append(card)
            try:
                card.make()
            except subprocess.CalledProcessError as failure:
                failures += 1
                print(f"FAILED {kind}: {' '.join(failure.cmd)}: {failure.stderr.decode(errors='replace').strip()}")
                continue
            local_root = folder / f"{kind}-local"
            local_root.mkdir()
            if not folds_case(card):
                failures += 1
                print(f"FAILED {kind}: the card keeps names that differ in case apart")
            expected = {}
            rows = [(name, lambda name=name: check_row(binary, card, name, local_root)) for name in ROWS]
            rows.append(("full", lambda: check_full_card(binary, card, local_root)))
            for name, check in rows:
                try:
                    expected[name] = check()
                    print(f"ok     {kind} {name}")
                except (Failed, subprocess.SubprocessError, OSError) as failure:
                    failures += 1
                    print(f"FAILED {failure}")
            # What the card holds once it is mounted anew: on its medium, not only in a cache.
            card.detach()
            card.attach()
            for name, files in expected.items():
                if files_below(card.mount / name) != files:
                    failures += 1
                    print(f"FAILED {kind} {name}: the files differ once the card is mounted anew")
    finally:
        for card in reversed(cards):
            card.close()
        shutil.rmtree(folder, ignore_errors=True)
    print(f"run_cards.py: {'no failures' if failures == 0 else f'{failures} failed'} on {', '.join(kinds)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
