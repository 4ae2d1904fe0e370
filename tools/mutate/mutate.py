#!/usr/bin/env python3
"""Mutation testing of the lander module.

Applies one mutant at a time to the module's sources, rebuilds what changed,
runs the module's unit test programs and the loader test, and reports each
mutant as killed (some test failed, crashed or timed out), survived (every
test passed) or not compiling, with its place, and the score: killed over
killed plus survived.

The source tree is never written to. Each worker copies the project into a
mirror of its own (<work>/w<N>/src, built in <work>/w<N>/build), mutates the
mirror, and puts back the saved original of the mutated file after every
mutant, on errors and on SIGINT/SIGTERM. With --jobs 2 two workers build and
test side by side, each compiling with one job, so both cores stay busy and
a rebuild never waits for the other worker's tests.

Mutants listed in the equivalent-mutants file (one per line: file | line
text | change | reason) are not run: they cannot change behaviour.
"""

from __future__ import annotations

import argparse
import dataclasses
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from mutants import Mutant, find_mutants  # noqa: E402

DEFAULT_DIRS = ["lander", "guidance", "mechanisms", "crew", "scenario", "module"]
# What a mirror needs to configure and build the module and its unit tests.
MIRRORED = ["CMakeLists.txt", "cmake", "host", "hostlib", "recording", "tests/CMakeLists.txt",
            "tests/CheckExports.cmake", "tests/unit", "tests/support", "tests/loader"]
SOURCE_SUFFIXES = (".cpp", ".h")
# lld or gold link the test programs faster than the default linker, and a
# mutant relinks every program that holds the module's objects.
FAST_LINKER = next((name for name, tool in (("lld", "ld.lld"), ("gold", "ld.gold")) if shutil.which(tool)), None)
LINKER_FLAGS = ([f"-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld={FAST_LINKER}",
                 f"-DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld={FAST_LINKER}"] if FAST_LINKER else [])
# Exit status: 1 score below --min-score, 2 bad arguments (argparse), 3 the
# unmutated module fails or the tool failed, 130 stopped by a signal.
EXIT_BASELINE, EXIT_SCORE, EXIT_SIGNAL = 3, 1, 130


class Stop(Exception):
    """A signal asked the run to end."""


@dataclasses.dataclass
class Result:
    mutant: Mutant
    status: str   # killed, survived, not compiling
    detail: str   # the program that failed, or the first error line
    seconds: float


# ---------------------------------------------------------------------------
# The equivalent-mutants file

def read_equivalents(path: Path) -> dict[tuple[str, str, str], str]:
    """Maps (file, line text, change) to the reason; rejects malformed lines."""
    equivalents = {}
    if not path.exists():
        return equivalents
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        fields = [f.strip() for f in line.split(" | ")]
        if len(fields) != 4 or not all(fields):
            raise SystemExit(f"{path}:{number}: expected 'file | line text | change | reason'")
        equivalents[tuple(fields[:3])] = fields[3]
    return equivalents


def equivalent_line(m: Mutant, reason: str) -> str:
    return f"{m.path} | {m.line_text} | {m.change} | {reason}"


# ---------------------------------------------------------------------------
# Processes that can be stopped from the signal handler

class Processes:
    def __init__(self):
        self._lock = threading.Lock()
        self._running: set[subprocess.Popen] = set()
        self.stopping = threading.Event()

    def run(self, args, cwd=None, timeout=None) -> tuple[int | None, str]:
        """Runs a command in a process group of its own; (exit code or None on timeout, output)."""
        if self.stopping.is_set():
            raise Stop()
        proc = subprocess.Popen(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                start_new_session=True, text=True, errors="replace")
        with self._lock:
            self._running.add(proc)
        try:
            out, _ = proc.communicate(timeout=timeout)
            code = proc.returncode
        except subprocess.TimeoutExpired:
            self._kill(proc)
            out, _ = proc.communicate()
            code = None
        finally:
            with self._lock:
                self._running.discard(proc)
        if self.stopping.is_set():
            raise Stop()
        return code, out

    @staticmethod
    def _kill(proc):
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def stop_all(self):
        self.stopping.set()
        with self._lock:
            for proc in list(self._running):
                self._kill(proc)


# ---------------------------------------------------------------------------
# One worker: a mirror of the project, its build directory, its test programs

class Worker:
    def __init__(self, index: int, root: Path, work: Path, dirs: list[str], processes: Processes,
                 compiler_jobs: int):
        self.index = index
        self.root = root
        self.src = work / f"w{index}" / "src"
        self.build = work / f"w{index}" / "build"
        self.dirs = dirs
        self.processes = processes
        self.compiler_jobs = compiler_jobs
        self.saved: dict[Path, bytes] = {}  # mirror file -> original bytes, while mutated
        self.lock = threading.Lock()
        self.programs: list[tuple[str, Path]] = []
        self.test_timeout = 60.0

    # ----- mirror
    def sync_mirror(self):
        """Makes the mirror equal to the tree; unchanged files keep their times."""
        wanted = set()
        for entry in MIRRORED + DEFAULT_DIRS + [d for d in self.dirs if d not in DEFAULT_DIRS]:
            source = self.root / entry
            if source.is_file():
                wanted.add(Path(entry))
            elif source.is_dir():
                for f in source.rglob("*"):
                    if f.is_file():
                        wanted.add(f.relative_to(self.root))
        for rel in sorted(wanted):
            data = (self.root / rel).read_bytes()
            target = self.src / rel
            if target.exists() and target.read_bytes() == data:
                continue
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        if self.src.exists():
            for f in self.src.rglob("*"):
                if f.is_file() and f.relative_to(self.src) not in wanted:
                    f.unlink()

    def apply(self, m: Mutant):
        target = self.src / m.path
        original = target.read_bytes()
        with self.lock:
            self.saved[target] = original
        target.write_text(m.apply(original.decode()))

    def restore(self):
        with self.lock:
            for target, original in list(self.saved.items()):
                target.write_bytes(original)
                del self.saved[target]

    # ----- build and test
    def configure(self):
        self.build.mkdir(parents=True, exist_ok=True)
        code, out = self.processes.run([
            "cmake", "-S", str(self.src), "-B", str(self.build), "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O0",
            "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST"] + LINKER_FLAGS)
        if code != 0:
            raise RuntimeError(f"configuring the mirror failed:\n{out[-3000:]}")
        areas = sorted(p.name for p in (self.src / "tests" / "unit").iterdir() if p.is_dir())
        targets = [f"vtal_{a}_tests" for a in areas]
        if (self.src / "tests" / "loader").is_dir():
            targets.append("vtal_loader_tests")
        self.programs = [(t, self.build / "tests" / t) for t in targets]

    def build_targets(self, targets: list[str]) -> tuple[bool, str]:
        code, out = self.processes.run(["ninja", "-C", str(self.build), f"-j{self.compiler_jobs}"] + targets,
                                       timeout=1800)
        if code == 0:
            return True, ""
        errors = [l.strip() for l in out.splitlines() if "error:" in l or "Error " in l]
        return False, (errors[0] if errors else out.strip().splitlines()[-1] if out.strip() else "build failed")

    def run_tests(self, programs: list[tuple[str, Path]]) -> tuple[bool, str]:
        """(all passed, name of the first failing program)."""
        for name, program in programs:
            code, _ = self.processes.run([str(program), "--gtest_fail_fast", "--gtest_brief=1"],
                                         cwd=program.parent, timeout=self.test_timeout)
            if code is None:
                return False, f"{name} (timed out)"
            if code != 0:
                return False, name
        return True, ""

    def split_programs(self, area: str | None):
        """The mutated folder's own program, and the others."""
        own = [p for p in self.programs if p[0] == f"vtal_{area}_tests"]
        return own, [p for p in self.programs if p not in own]

    def baseline(self):
        self.sync_mirror()
        self.configure()
        ok, detail = self.build_targets([t for t, _ in self.programs])
        if not ok:
            raise RuntimeError(f"the unmutated module does not build: {detail}")
        start = time.monotonic()
        passed, failing = self.run_tests(self.programs)
        if not passed:
            raise RuntimeError(f"the unmutated module fails its tests: {failing}")
        self.test_timeout = max(30.0, 10 * (time.monotonic() - start))

    def run_mutant(self, m: Mutant) -> Result:
        """Builds and runs the mutated folder's own tests first: most mutants die
        there, and the other programs need not even be linked for them."""
        start = time.monotonic()
        try:
            self.apply(m)
            for programs in self.split_programs(m.path.split("/")[0]):
                if not programs:
                    continue
                built, error = self.build_targets([t for t, _ in programs])
                if not built:
                    return Result(m, "not compiling", error, time.monotonic() - start)
                passed, failing = self.run_tests(programs)
                if not passed:
                    return Result(m, "killed", failing, time.monotonic() - start)
            return Result(m, "survived", "", time.monotonic() - start)
        finally:
            self.restore()


# ---------------------------------------------------------------------------

def unnumbered(change: str) -> str:
    return re.sub(r" \[\d+ of \d+\]$", "", change)


def collect_mutants(root: Path, dirs: list[str]) -> list[Mutant]:
    found = []
    for d in dirs:
        base = root / d
        if not base.is_dir():
            raise SystemExit(f"no folder {d} in {root}")
        for f in sorted(base.rglob("*")):
            if f.suffix in SOURCE_SUFFIXES and f.is_file():
                rel = f.relative_to(root).as_posix()
                found += find_mutants(rel, f.read_text())
    return found


def format_result(r: Result) -> str:
    detail = f"  [{r.detail}]" if r.detail else ""
    return f"{r.status.upper():14} {r.mutant.place():36} {r.mutant.kind:10} {r.mutant.change}{detail}"


def summarise(results: list[Result], skipped_equivalent: int, not_run: int) -> dict:
    counts = {s: sum(1 for r in results if r.status == s) for s in ("killed", "survived", "not compiling")}
    judged = counts["killed"] + counts["survived"]
    score = 100.0 * counts["killed"] / judged if judged else None
    return {**counts, "equivalent (not run)": skipped_equivalent, "not run": not_run,
            "score": score}


def summary_lines(s: dict) -> list[str]:
    score = "n/a" if s["score"] is None else f"{s['score']:.1f} %"
    return [f"killed {s['killed']}, survived {s['survived']}, not compiling {s['not compiling']}, "
            f"equivalent (not run) {s['equivalent (not run)']}, not run {s['not run']}",
            f"mutation score (killed / (killed + survived)): {score}"]


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--root", type=Path, default=Path(__file__).resolve().parents[2],
                   help="project root (default: this checkout)")
    p.add_argument("--dirs", nargs="+", default=None, metavar="DIR",
                   help="module folders to mutate (default: " + " ".join(DEFAULT_DIRS) + ")")
    p.add_argument("--work", type=Path, default=None,
                   help="mirrors and build directories (default: <root>/build/mutate)")
    p.add_argument("--equivalents", type=Path, default=None,
                   help="equivalent-mutants file (default: tools/mutate/equivalent.txt of the root)")
    p.add_argument("--budget", type=float, default=None, metavar="MINUTES",
                   help="start no mutant after this many minutes of mutant runs")
    p.add_argument("--sample", type=int, default=None, metavar="N", help="run N mutants drawn at random")
    p.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    p.add_argument("--jobs", type=int, default=2, help="workers building and testing side by side")
    p.add_argument("--match", default=None, metavar="TEXT",
                   help="only mutants whose 'file:line kind change' contains TEXT")
    p.add_argument("--survivors-of", type=Path, default=None, metavar="REPORT",
                   help="only the mutants that survived in this earlier --report")
    p.add_argument("--list", action="store_true", help="list the mutants and stop")
    p.add_argument("--report", type=Path, default=None, help="also write the report as JSON here")
    p.add_argument("--min-score", type=float, default=None, metavar="PERCENT",
                   help="exit with status 1 if the score is below this")
    args = p.parse_args(argv)
    if args.jobs < 1 or (args.sample is not None and args.sample < 1) or (args.budget is not None and args.budget <= 0):
        p.error("--jobs and --sample must be at least 1, --budget above 0")
    return args


def main(argv=None) -> int:
    args = parse_args(argv)
    root = args.root.resolve()
    dirs = args.dirs or DEFAULT_DIRS
    work = (args.work or root / "build" / "mutate").resolve()
    equivalents_file = args.equivalents or root / "tools" / "mutate" / "equivalent.txt"
    equivalents = read_equivalents(equivalents_file)

    everything = collect_mutants(root, dirs)
    candidates = [m for m in everything if m.key() not in equivalents]
    skipped = len(everything) - len(candidates)
    if args.survivors_of:
        # By place and change, ordinals left aside: the sources are those of the earlier run.
        earlier = json.loads(args.survivors_of.read_text())["mutants"]
        keep = {(m["file"], m["line"], unnumbered(m["change"])) for m in earlier if m["status"] == "survived"}
        candidates = [m for m in candidates if (m.path, m.line, unnumbered(m.change)) in keep]
    if args.match:
        candidates = [m for m in candidates if args.match in f"{m.place()} {m.kind} {m.change}"]
    if args.sample is not None and args.sample < len(candidates):
        chosen = sorted(random.Random(args.seed).sample(range(len(candidates)), args.sample))
        candidates = [candidates[i] for i in chosen]
    if args.list:
        for m in candidates:
            print(f"{m.place():36} {m.kind:10} {m.change}")
        print(f"{len(candidates)} mutants ({skipped} equivalent left out)")
        return 0

    processes = Processes()
    workers = [Worker(i, root, work, dirs, processes, compiler_jobs=1 if args.jobs > 1 else 2)
               for i in range(args.jobs)]

    def on_signal(signum, _frame):
        processes.stop_all()
        raise Stop()

    old = {s: signal.signal(s, on_signal) for s in (signal.SIGINT, signal.SIGTERM)}
    results: list[Result] = []
    lock = threading.Lock()
    next_index = [0]
    errors: list[str] = []
    deadline = [None]

    def take() -> Mutant | None:
        with lock:
            if next_index[0] >= len(candidates) or errors or processes.stopping.is_set():
                return None
            if deadline[0] is not None and time.monotonic() > deadline[0]:
                return None
            m = candidates[next_index[0]]
            next_index[0] += 1
            return m

    def work_on(worker: Worker, phase: str):
        try:
            if phase == "baseline":
                worker.baseline()
                return
            while (m := take()) is not None:
                r = worker.run_mutant(m)
                with lock:
                    results.append(r)
                    print(f"[{len(results)}/{len(candidates)}] {format_result(r)}", flush=True)
        except Stop:
            pass
        except Exception as e:  # an error of the tool or the machine, not of a mutant
            with lock:
                errors.append(f"worker {worker.index}: {e}")
            processes.stopping.set()
        finally:
            worker.restore()

    threads: list[threading.Thread] = []

    def run_phase(phase: str):
        threads[:] = [threading.Thread(target=work_on, args=(w, phase), daemon=True) for w in workers]
        for t in threads:
            t.start()
        for t in threads:
            while t.is_alive():
                t.join(0.2)

    status = 0
    interrupted = False
    started = time.monotonic()
    try:
        print(f"mutate: {len(candidates)} mutants over {' '.join(dirs)} "
              f"({skipped} equivalent left out), {args.jobs} worker(s) in {work}", flush=True)
        run_phase("baseline")
        if errors:
            print("mutate: " + "\n".join(errors), file=sys.stderr)
            return EXIT_BASELINE
        if args.budget is not None:
            deadline[0] = time.monotonic() + 60.0 * args.budget
        run_phase("mutants")
    except Stop:
        interrupted = True
    finally:
        for s, h in old.items():
            signal.signal(s, h)
        if interrupted:
            processes.stop_all()
            for t in threads:
                t.join()
        for w in workers:
            w.restore()

    if errors:
        print("mutate: " + "\n".join(errors), file=sys.stderr)
        status = EXIT_BASELINE
    results.sort(key=lambda r: (r.mutant.path, r.mutant.start, r.mutant.change))
    summary = summarise(results, skipped, len(candidates) - len(results))
    survivors = [r for r in results if r.status == "survived"]
    print(f"\n== Report ({time.monotonic() - started:.0f} s{', interrupted' if interrupted else ''})")
    for r in results:
        print(format_result(r))
    if survivors:
        print(f"\n== Survivors ({len(survivors)}): kill them with a test, or list them in "
              f"{equivalents_file.name} with the reason they cannot change behaviour")
        for r in survivors:
            print("  " + equivalent_line(r.mutant, "<reason>"))
    for line in summary_lines(summary):
        print(line)
    if args.report:
        args.report.write_text(json.dumps({
            "summary": summary,
            "mutants": [{"file": r.mutant.path, "line": r.mutant.line, "kind": r.mutant.kind,
                         "change": r.mutant.change, "line_text": r.mutant.line_text,
                         "status": r.status, "detail": r.detail, "seconds": round(r.seconds, 2)}
                        for r in results]}, indent=1))
    if interrupted:
        return EXIT_SIGNAL
    if status:
        return status
    if args.min_score is not None and (summary["score"] is None or summary["score"] < args.min_score):
        print(f"mutate: score below {args.min_score} %", file=sys.stderr)
        return EXIT_SCORE
    return 0


if __name__ == "__main__":
    sys.exit(main())
