#!/usr/bin/env python3
"""Runs every command the README and docs/ show and checks what it prints.

Fenced blocks are read by their language:

  ```sh       every command is run and must succeed; what it prints is not
              compared (`# ...` comments and `\\` continuations allowed).
  ```console  lines that start with "$ " are commands; the lines after one,
              up to the next, are what it prints on standard output. In them
              "..." stands for any text within a line, and a line that is
              only "..." for any number of lines.
  ```json     a file, when a marker names it (see below); otherwise not read.

Other blocks (diagrams, file layouts, excerpts) are not commands.

A block may be preceded by marker lines, which a reader of the rendered page
does not see:

  <!-- doc-test: skip REASON -->          not run (the reason is shown)
  <!-- doc-test: replace "A" "B" -->      run with the text A replaced by B
                                          (only to shorten a command that
                                          flies for minutes; the doc says so)
  <!-- doc-test: first-line -->           a server: compare its first line
                                          of output, then end it with Ctrl+C
  <!-- doc-test: file NAME -->            (json block) written as NAME
  <!-- doc-test: exit N -->               its commands end with status N, not 0

Commands run one after another, per document, in a scratch folder where
`build/release` is the build under test, `scripts/` and `tools/` are the
tree's, `docs/` is empty (a command may write there), and the build's `bin/`
is first on the search path, so that `vtal-sim` alone runs it too.

Usage: check_doc_commands.py SOURCE_DIR BUILD_DIR [DOC ...]
       check_doc_commands.py --self-test
"""

import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

COMMAND_TIMEOUT_S = 600  # the longest command shown flies a 4000-run campaign
SERVER_LINE_TIMEOUT_S = 60
MARKER = re.compile(r"^<!--\s*doc-test:\s*(.*?)\s*-->\s*$")
FENCE = re.compile(r"^```(\S*)\s*$")


class Block:
    def __init__(self, path, line, language, body, markers):
        self.path, self.line, self.language, self.body, self.markers = path, line, language, body, markers

    def where(self):
        return f"{self.path}:{self.line}"


def read_blocks(path, text):
    """The fenced blocks of a Markdown text with the markers right above each."""
    blocks, markers = [], []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        marker = MARKER.match(line)
        fence = FENCE.match(line)
        if marker:
            markers.append(marker.group(1))
        elif fence:
            end = i + 1
            while end < len(lines) and not lines[end].startswith("```"):
                end += 1
            if end == len(lines):
                raise ValueError(f"{path}:{i + 1}: a code block that is never closed")
            blocks.append(Block(path, i + 1, fence.group(1), lines[i + 1:end], markers))
            markers = []
            i = end
        elif line.strip():
            if markers:
                raise ValueError(f"{path}:{i + 1}: a doc-test marker that no code block follows")
        i += 1
    if markers:
        raise ValueError(f"{path}: a doc-test marker at the end that no code block follows")
    return blocks


def joined_lines(body):
    """Lines with their backslash continuations joined."""
    out, pending = [], ""
    for line in body:
        if line.rstrip().endswith("\\"):
            pending += line.rstrip()[:-1] + " "
            continue
        out.append(pending + line)
        pending = ""
    if pending:
        out.append(pending)
    return out


def without_comment(line):
    """A shell line without its trailing comment (a # outside quotes)."""
    quote = None
    for at, c in enumerate(line):
        if quote:
            quote = None if c == quote else quote
        elif c in "\"'":
            quote = c
        elif c == "#" and (at == 0 or line[at - 1].isspace()):
            return line[:at].strip()
    return line.strip()


def sh_commands(block):
    return [c for c in (without_comment(l) for l in joined_lines(block.body)) if c]


def console_steps(block):
    """(command, expected lines) pairs of a console block."""
    steps = []
    for line in joined_lines(block.body):
        if line.startswith("$ "):
            steps.append((line[2:].strip(), []))
        elif steps:
            steps[-1][1].append(line)
        elif line.strip():
            raise ValueError(f"{block.where()}: output before any '$ ' command")
    return steps


def expected_pattern(lines):
    while lines and not lines[-1].strip():
        lines = lines[:-1]
    parts = []
    for line in lines:
        if line.strip() == "...":
            parts.append(r"(?:[^\n]*\n)*?")
        else:
            parts.append(".*".join(re.escape(piece) for piece in line.rstrip().split("...")) + r"\n")
    return re.compile("".join(parts), re.DOTALL)


def normalised(output):
    lines = [l.rstrip() for l in output.split("\n")]
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines) + "\n" if lines else ""


def matches(expected_lines, output):
    return expected_pattern(expected_lines).fullmatch(normalised(output)) is not None


def apply_replacements(command, markers, where):
    for marker in markers:
        if not marker.startswith("replace "):
            continue
        words = shlex.split(marker[len("replace "):])
        if len(words) != 2:
            raise ValueError(f"{where}: 'replace' takes two quoted texts: {marker}")
        command = command.replace(words[0], words[1])
    return command


class Runner:
    def __init__(self, source, build, scratch):
        self.source, self.build, self.scratch = source, build, scratch
        self.env = dict(os.environ)
        self.env["PATH"] = os.path.join(build, "bin") + os.pathsep + self.env.get("PATH", "")
        self.env.pop("DISPLAY", None)  # no browser opens from a test
        self.failures, self.ran, self.skipped = [], 0, []

    def prepare(self):
        os.makedirs(os.path.join(self.scratch, "build"), exist_ok=True)
        os.symlink(self.build, os.path.join(self.scratch, "build", "release"))
        for folder in ("scripts", "tools", "scenarios", "tests"):
            os.symlink(os.path.join(self.source, folder), os.path.join(self.scratch, folder))
        os.makedirs(os.path.join(self.scratch, "docs"), exist_ok=True)

    def run(self, command):
        started = time.monotonic()
        done = subprocess.run(["bash", "-c", command], cwd=self.scratch, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", timeout=COMMAND_TIMEOUT_S)
        return done, time.monotonic() - started

    def first_line_of_server(self, command):
        process = subprocess.Popen(["bash", "-c", "exec " + command], cwd=self.scratch, env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True, errors="replace", start_new_session=True)
        try:
            line = read_line_within(process.stdout, SERVER_LINE_TIMEOUT_S)
        finally:
            os.killpg(process.pid, signal.SIGINT)
            try:
                _, err = process.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                _, err = process.communicate()
        return line, process.returncode, err

    def fail(self, block, command, why, done=None):
        text = f"{block.where()}: {command}\n    {why}"
        if done is not None:
            text += f"\n    --- standard output ---\n{indent(done.stdout)}\n    --- standard error ---\n{indent(done.stderr)}"
        self.failures.append(text)

    def check_block(self, block):
        markers = block.markers
        skips = [m for m in markers if m.startswith("skip")]
        if skips:
            reason = skips[0][len("skip"):].strip()
            if not reason:
                raise ValueError(f"{block.where()}: 'skip' needs its reason")
            self.skipped.append(f"{block.where()}: {reason}")
            return
        if block.language == "json":
            for m in markers:
                if m.startswith("file "):
                    with open(os.path.join(self.scratch, m[len("file "):].strip()), "w") as f:
                        f.write("\n".join(block.body) + "\n")
            return
        first_line = "first-line" in markers
        status_expected = 0
        for m in markers:
            if m.startswith("exit "):
                status_expected = int(m[len("exit "):])
        if block.language == "sh":
            steps = [(c, None) for c in sh_commands(block)]
        elif block.language == "console":
            steps = console_steps(block)
        else:
            return
        for command, expected in steps:
            command = apply_replacements(command, markers, block.where())
            self.ran += 1
            if first_line:
                line, status, err = self.first_line_of_server(command)
                print(f"  server  {block.where()}: {command}: {(line or '').rstrip()}", flush=True)
                if expected is not None and not matches(expected[:1], line or ""):
                    self.fail(block, command, f"its first line was {line!r}, not {expected[0]!r}; stderr: {err}")
                elif status not in (0, 128 + signal.SIGINT, -signal.SIGINT):
                    self.fail(block, command, f"ended with {status} on Ctrl+C; stderr: {err}")
                continue
            try:
                done, seconds = self.run(command)
            except subprocess.TimeoutExpired:
                self.fail(block, command, f"still running after {COMMAND_TIMEOUT_S} s")
                continue
            print(f"  {seconds:6.1f} s  {block.where()}: {command}", flush=True)
            if done.returncode != status_expected:
                self.fail(block, command, f"exit status {done.returncode}, not {status_expected}", done)
            elif expected is not None and not matches(expected, done.stdout):
                self.fail(block, command, "printed something else than the doc shows:\n    --- the doc ---\n" +
                          indent("\n".join(expected)), done)


def read_line_within(stream, seconds):
    import selectors
    selector = selectors.DefaultSelector()
    selector.register(stream, selectors.EVENT_READ)
    if not selector.select(timeout=seconds):
        return None
    return stream.readline()


def indent(text):
    return "\n".join("    | " + l for l in text.rstrip("\n").split("\n"))


def documents(source):
    docs = [os.path.join(source, "README.md")]
    folder = os.path.join(source, "docs")
    docs += sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".md"))
    return docs


def main(argv):
    if argv[1:2] == ["--self-test"]:
        return self_test()
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, build = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    docs = [os.path.abspath(d) for d in argv[3:]] or documents(source)
    failures, ran, skipped = [], 0, []
    for doc in docs:
        with open(doc, encoding="utf-8") as f:
            blocks = read_blocks(os.path.relpath(doc, source), f.read())
        scratch = tempfile.mkdtemp(prefix="vtal-doc-commands-")
        try:
            runner = Runner(source, build, scratch)
            runner.prepare()
            for block in blocks:  # files first: a doc may show a file after the command that reads it
                if block.language == "json":
                    runner.check_block(block)
            for block in blocks:
                if block.language != "json":
                    runner.check_block(block)
            failures += runner.failures
            ran += runner.ran
            skipped += runner.skipped
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    for s in skipped:
        print(f"skipped {s}")
    for f in failures:
        print(f"FAILED {f}", file=sys.stderr)
    print(f"{ran} commands run from {len(docs)} documents, {len(failures)} failed, {len(skipped)} blocks skipped")
    return 1 if failures else 0


def self_test():
    """The reading and matching rules on made-up documents."""
    problems = []

    def expect(condition, what):
        if not condition:
            problems.append(what)

    text = "\n".join([
        "Intro", "<!-- doc-test: replace \"--runs 4000\" \"--runs 40\" -->", "", "```console",
        "$ vtal-sim montecarlo --runs 4000 \\", "    --seed 1", "line one", "...", "last ... here", "```",
        "```sh", "a --x '#not' # comment", "# only a comment", "b", "```", "```", "not a command", "```"])
    blocks = read_blocks("t.md", text)
    expect(len(blocks) == 3, f"three blocks, got {len(blocks)}")
    steps = console_steps(blocks[0])
    expect(steps[0][0] == "vtal-sim montecarlo --runs 4000      --seed 1", f"continuation joined: {steps[0][0]!r}")
    expect(apply_replacements(steps[0][0], blocks[0].markers, "t") .startswith("vtal-sim montecarlo --runs 40 "),
           "replace marker applied")
    expect(sh_commands(blocks[1]) == ["a --x '#not'", "b"], f"comments dropped: {sh_commands(blocks[1])}")
    expected = steps[0][1]
    expect(matches(expected, "line one\nlast thing here\n"), "'...' line matches no lines")
    expect(matches(expected, "line one\na\nb\nlast x here\n\n"), "'...' line matches lines; trailing blank ignored")
    expect(not matches(expected, "line one\nlast thing there\n"), "text outside '...' must match")
    expect(not matches(expected, "line one\nlast here\nmore\n"), "nothing after the last line")
    expect(not matches(["a"], "a b\n"), "a line matches whole")
    for bad in ["<!-- doc-test: skip x -->\nprose\n```sh\na\n```", "```sh\nnever closed",
                "```console\noutput first\n$ a\n```"]:
        try:
            for b in read_blocks("bad.md", bad):
                if b.language == "console":
                    console_steps(b)
            problems.append(f"accepted: {bad!r}")
        except ValueError:
            pass
    for p in problems:
        print("self-test: " + p, file=sys.stderr)
    print(f"self-test: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
