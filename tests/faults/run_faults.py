#!/usr/bin/env python3
"""Fails every file system call of a few quarnel runs in turn, and kills the
run at each, then checks the files against the README's promises: a source
is unchanged, a target is exactly its old bytes or exactly the converted
ones, exit 0 means every target was converted, no other signal ends the run,
a failure is named with its reason (a batch names a file's on standard
output, in the file's line), and nothing is left behind but the one named
temporary file a kill between its link and its rename may leave.

  tests/faults/run_faults.py BUILD/cli/quarnel
  tests/faults/run_faults.py BUILD/cli/quarnel --case batch:renameat:2:EIO

The second form replays one case and keeps its folder. Needs strace. Each
case is a run of its own, in a folder of its own, two at a time; no check
depends on timing.
"""
import argparse
import collections
import concurrent.futures
import errno
import os
import queue
import re
import resource
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SAMPLES = {  # sample: (source, its converted bytes)
    "narrow": ("samples/narrow-krv330.frt", "tests/data/expected/QZ_narrow-krv330.frt"),
    "wide": ("samples/wide-krv880.frt", "tests/data/expected/QZ_wide-krv880.frt"),
}
OLD = b"an earlier target\r\n"
BAD = b"@i1KRV330\r\n@t1XYZ\r\n"  # a kind-t line without its tag: not converted

# run: (the files before it, a sample's name or an earlier target's bytes;
#       its arguments; its targets, each with the sample converted into it)
RUNS = {
    "onto-earlier": ({"a.frt": "narrow", "QZ_a.frt": OLD}, "a.frt QZ_a.frt",
                     {"QZ_a.frt": "narrow"}),
    "new-target": ({"a.frt": "narrow"}, "a.frt", {"QZ_a.frt": "narrow"}),
    "in-place": ({"a.frt": "wide"}, "a.frt a.frt", {"a.frt": "wide"}),
    "batch": ({"a.frt": "narrow", "b.frt": "wide", "c.frt": "narrow",
               "out/QZ_a.frt": OLD, "out/QZ_b.frt": OLD, "out/QZ_c.frt": OLD},
              "-o out -j 1 a.frt b.frt c.frt",
              {"out/QZ_a.frt": "narrow", "out/QZ_b.frt": "wide", "out/QZ_c.frt": "narrow"}),
    # A folder's files into an -o folder that does not exist yet: the
    # listing and the mkdir calls are failed too.
    "folder": ({"jobs/a.frt": "wide"}, "-o new/sub jobs", {"new/sub/QZ_a.frt": "wide"}),
    # Sources opened in the folders the walk listed, -o folders made in the
    # folders above them and one removed again, nothing converted into it.
    "folders-removed": ({"jobs/a.frt": "narrow", "jobs/odd/bad.frt": BAD, "jobs/sub/deeper/b.frt": "wide"},
                        "-j 1 -r -o new jobs",
                        {"new/QZ_a.frt": "narrow", "new/sub/deeper/QZ_b.frt": "wide"}),
}

# The file system calls, with the faults each gets besides EIO and SIGKILL.
# Only those a run makes are tried.
CALLS = {
    "open openat openat2 creat close": (),
    "read pread64 readv preadv preadv2": ("EINTR",),
    "write pwrite64 writev pwritev pwritev2": ("ENOSPC", "EINTR"),
    "fsync fdatasync syncfs sync_file_range": ("ENOSPC",),
    "rename renameat renameat2 link linkat unlink unlinkat mkdir mkdirat rmdir": (),
    "chmod fchmod fchmodat chown fchown fchownat lchown ftruncate fallocate": (),
    "getxattr lgetxattr fgetxattr setxattr lsetxattr fsetxattr listxattr llistxattr"
    " flistxattr removexattr lremovexattr fremovexattr": (),
    "getdents getdents64 stat lstat fstat newfstatat statx access faccessat faccessat2"
    " readlink readlinkat getcwd": (),
}
FAULTS = {call: ("EIO",) + extra + ("KILL",) for calls, extra in CALLS.items()
          for call in calls.split()}

TEMPORARY = re.compile(r"\.quarnel-[^/\"]*\.tmp")
TIMEOUT = 60  # a hung run, not a slow one
REPLAYER = "tests/faults/run_faults.py"


def inject(call, number, fault):
    how = "signal=KILL" if fault == "KILL" else f"error={fault}"
    return ["-e", f"inject={call}:{how}:when={number}"]


def strace(binary, run, options, trace="/dev/null"):
    return ["strace", "-f", "-qq", "-o", str(trace), *options, str(binary), *RUNS[run][1].split()]


def set_up(run, folder):
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir()
    for name, content in RUNS[run][0].items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content if isinstance(content, bytes)
                         else (REPO / SAMPLES[content][0]).read_bytes())
    return snapshot(folder)


def snapshot(folder):
    """Every entry below folder: a file's bytes, None for a folder."""
    entries = {}
    for path in sorted(folder.rglob("*")):
        name = str(path.relative_to(folder))
        entries[name] = None if path.is_dir() and not path.is_symlink() else (
            path.read_bytes() if path.is_file() and not path.is_symlink() else b"<link>")
    return entries


def launch(command, folder, out, err):
    def no_core():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    with open(out, "wb") as stdout, open(err, "wb") as stderr:
        process = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=stdout,
                                   stderr=stderr, preexec_fn=no_core, start_new_session=True,
                                   env=dict(os.environ, LC_ALL="C"))
        try:
            return process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return "hung"


class Trace:
    """The calls of a clean run in the order they were entered. strace counts
    a call's occurrences per thread, and when=N fails the N-th one of each
    thread: the earliest of those is the call that fails."""

    def __init__(self, path):
        self.calls = []  # (thread, call, text)
        for line in Path(path).read_text(errors="replace").splitlines():
            match = re.match(r"(\d+) +(\w+)\(", line)
            if match:
                text = re.sub(r" +<unfinished \.\.\.>$| +(?==)", " ", line[match.end(1):].strip())
                self.calls.append((match[1], match[2], text.strip()))
        if not self.calls:
            sys.exit("run_faults.py: strace traced nothing (is ptrace allowed here?)")
        main = self.calls[0][0]
        # The dynamic loader's calls come before the C library sets up the
        # main thread: failing them only stops the program from starting.
        self.start = next((i for i, (thread, call, _) in enumerate(self.calls)
                           if thread == main and call == "set_tid_address"), 0)

    def cases(self):
        """(call, N, the indexes of the calls failed, earliest first), and
        how many occurrences cannot be failed alone: another thread's N-th
        fails first."""
        numbered, shadowed = {}, 0
        for index, (thread, call, _) in enumerate(self.calls):
            if call in FAULTS:
                numbered.setdefault(call, {}).setdefault(thread, []).append(index)
        cases = []
        for call, threads in numbered.items():
            for n in range(1, max(map(len, threads.values())) + 1):
                hit = sorted(indexes[n - 1] for indexes in threads.values() if len(indexes) >= n)
                shadowed += sum(1 for i in hit[1:] if i >= self.start)
                if hit[0] >= self.start:
                    cases.append((call, n, hit))
        return cases, shadowed

    def linked_before(self, index):
        """Temporary files named by a link and not yet renamed when the call
        at index is entered: what a kill there may leave."""
        pending = set()
        for _, call, text in self.calls[:index]:
            names = TEMPORARY.findall(text)
            if call in ("link", "linkat") and names:
                pending.add(names[-1])
            elif call.startswith("rename") and names:
                pending.discard(names[0])
        return len(pending)


def check(run, before, after, status, output, fault=None, failed=(), pending=0, clean=0):
    files, _, targets = RUNS[run]
    converted = {t: (REPO / SAMPLES[s][1]).read_bytes() for t, s in targets.items()}
    problems = []
    for name in files:
        if name not in targets and after.get(name) != before[name]:
            problems.append(f"source {name} changed")
    for name, bytes_ in converted.items():
        if after.get(name) not in (before.get(name), bytes_):
            problems.append(f"target {name} is neither its old bytes nor the converted ones")
    complete = all(after.get(t) == b for t, b in converted.items())
    if status == "hung":
        problems.append(f"no end within {TIMEOUT} s")
    elif status < 0 or status > 128:
        if not (fault == "KILL" and status == -signal.SIGKILL):
            problems.append(f"ended by signal {-status if status < 0 else status - 128}")
    elif status == 0 and not complete:
        problems.append("exit 0 though a target was not converted")
    elif fault == "EINTR" and (status != clean or not complete):
        problems.append(f"EINTR not retried: exit {status}")
    # A batch names a failed file on standard output, the rest on standard
    # error; a failed write to standard error cannot name itself.
    if (fault in ("EIO", "ENOSPC", "EINTR") and status not in (clean, "hung")
            and not any(re.match(r"writev?\(2,", call) for call in failed)):
        reason = os.strerror(getattr(errno, fault))
        if reason not in output:
            problems.append(f"no message says \"{reason}\": {output.strip()[-200:]!r}")
    # A kill may leave the folders made for a target, empty; so may a failed
    # call on the way to removing one.
    made = {str(p) for t in targets for p in Path(t).parents if str(p) != "."}
    if fault != "KILL":
        made = {d for d in made if any(after.get(t) == b and t.startswith(d + "/")
                                        for t, b in converted.items())}
    if fault is not None:
        made |= {n for n in set(after) - set(before) if after[n] is None
                 and not any(k.startswith(n + "/") and after[k] is not None for k in after)}
    left = sorted(set(after) - set(before) - set(targets) - made)
    temporary = [n for n in left if TEMPORARY.fullmatch(Path(n).name)]
    if len(temporary) > (pending if fault == "KILL" else 0):
        problems.append("temporary files left: " + " ".join(temporary))
    if len(left) > len(temporary):
        problems.append("left behind: " + " ".join(n for n in left if n not in temporary))
    return problems


class Runner:
    """Runs a case in root/run, its outputs in root/out and root/err."""

    def __init__(self, binary, root):
        self.binary, self.root, self.folder = binary, root, root / "run"

    def execute(self, run, options, trace="/dev/null"):
        """The run under strace with options: (status, stdout + stderr, the
        folder's entries before it)."""
        before = set_up(run, self.folder)
        command = strace(self.binary, run, options, trace)
        out, err = self.root / "out", self.root / "err"
        status = launch(command, self.folder, out, err)
        output = out.read_text(errors="replace") + err.read_text(errors="replace")
        return status, output, before

    def record(self, run):
        """The run without faults: its trace, its exit status and its problems."""
        status, output, before = self.execute(run, [], self.root / "trace")
        problems = check(run, before, snapshot(self.folder), status, output)
        return Trace(self.root / "trace"), status, problems

    def fault(self, run, trace, clean, call, n, hit, fault):
        # The calls the fault hit in this run, which may differ from the clean
        # run's where threads interleave otherwise (strace counts per thread).
        status, output, before = self.execute(run, inject(call, n, fault), self.root / "fault-trace")
        injected = (self.root / "fault-trace").read_text(errors="replace").splitlines()
        texts = [trace.calls[i][2] for i in hit]
        texts += [line.split(" ", 1)[-1] for line in injected if line.endswith("(INJECTED)")]
        return check(run, before, snapshot(self.folder), status, output, fault, texts,
                     trace.linked_before(hit[0]), clean), status, output


PARALLEL = 2  # cases at a time; each has its own folder and outputs


def run_all(binary, root):
    # A runner per slot: a case takes a free one and gives it back.
    runners = queue.Queue()
    for slot in range(PARALLEL):
        (root / f"slot-{slot}").mkdir()
        runners.put(Runner(binary, root / f"slot-{slot}"))

    def on_runner(work, *args):
        runner = runners.get()
        try:
            return work(runner, *args)
        finally:
            runners.put(runner)

    with concurrent.futures.ThreadPoolExecutor(PARALLEL) as pool:
        records = [pool.submit(on_runner, Runner.record, run) for run in RUNS]
        # run: its problems without faults (a list), or (trace, its cases,
        # shadowed, [(call, n, hit, fault, the case's future)])
        planned = {}
        for run, record in zip(RUNS, records):
            trace, clean, problems = record.result()
            if problems:
                planned[run] = problems
                continue
            cases, shadowed = trace.cases()
            planned[run] = (trace, cases, shadowed, [
                (call, n, hit, fault, pool.submit(on_runner, Runner.fault, run, trace, clean, call, n, hit, fault))
                for call, n, hit in cases for fault in FAULTS[call]])

        # Reported in the order of the runs and their calls, as they were tried one by one.
        total = violations = 0
        failed_runs, kinds = [], collections.Counter()
        for run, plan in planned.items():
            if isinstance(plan, list):
                print(f"FAIL {run}: without faults: {'; '.join(plan)}")
                failed_runs.append(run)
                continue
            trace, cases, shadowed, tried = plan
            bad = 0
            for call, n, hit, fault, future in tried:
                problems = future.result()[0]
                if problems:
                    bad += 1
                    kinds.update(p.split(":")[0] for p in problems)
                    failed = " | ".join(trace.calls[i][2][:90] for i in hit)
                    print(f"FAIL {run}: {call} #{n} {fault} [{failed}]: {'; '.join(problems)}")
                    command = shlex.join(strace(binary, run, inject(call, n, fault)))
                    case = f"{run}:{call}:{n}:{fault}"
                    print(f"     {command}\n"
                          f"     (its files: {REPLAYER} {shlex.quote(str(binary))} --case {case})")
            print(f"{run}: {len(cases)} calls, {len(tried)} runs, {bad} with violations"
                  + (f"; {shadowed} calls of a second thread not failed alone" if shadowed else ""))
            total += len(tried)
            violations += bad
            if bad:
                failed_runs.append(run)
    # One test per run, as ctest counts them, for scripts/test-all.sh's total.
    passed = len(RUNS) - len(failed_runs)
    print(f"{total} runs with a fault, {violations} with violations"
          + "".join(f"\n  {count:4} {kind}" for kind, count in kinds.most_common()))
    print(f"{100 * passed // len(RUNS)}% tests passed, {len(failed_runs)} tests failed"
          f" out of {len(RUNS)}")
    return 1 if failed_runs else 0


def replay(binary, root, case):
    run, call, n, fault = case.split(":")
    runner = Runner(binary, root)
    trace, clean, _ = runner.record(run)
    hit = next((h for c, m, h in trace.cases()[0] if c == call and m == int(n)), None)
    if hit is None:
        sys.exit(f"run_faults.py: the run {run} makes no call {call} #{n}")
    problems, status, output = runner.fault(run, trace, clean, call, int(n), hit, fault)
    print(f"failed: {' | '.join(trace.calls[i][2] for i in hit)}\n"
          f"in {runner.folder}: {shlex.join(strace(binary, run, inject(call, int(n), fault)))}\n"
          f"exit status {status}; its output:\n{output}")
    print("\n".join(problems) or "no violation")
    print(f"the trace without faults: {root / 'trace'}")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binary", type=Path)
    parser.add_argument("--case", help="RUN:CALL:N:FAULT, replayed in a folder that is kept")
    args = parser.parse_args()
    if not shutil.which("strace"):
        sys.exit("run_faults.py: strace is missing (scripts/install-deps.sh test)")
    binary = args.binary.resolve()
    root = Path(tempfile.mkdtemp(prefix="quarnel-faults."))
    if args.case:
        return replay(binary, root, args.case)
    try:
        return run_all(binary, root)
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    sys.exit(main())
