"""Tests of the mutation tool: what it mutates, and on a tiny fixture project
how it classifies mutants and that it leaves the source tree as it was, also
when it is stopped by a signal in the middle of a mutant."""

from __future__ import annotations

import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import mutate  # noqa: E402
from mutants import classify, find_mutants, CODE, COMMENT, STRING, PREPROCESSOR  # noqa: E402


def changes(text, kind=None, path="x/File.cpp"):
    return [(m.line, m.change) for m in find_mutants(path, text) if kind is None or m.kind == kind]


class WhatIsMutated(unittest.TestCase):
    def test_comments_strings_and_preprocessor_lines_are_told_apart(self):
        text = '#include <a.h>\nint x = 1; // y < 2\nconst char *s = "a < b";\n/* 3 */\n'
        mask = classify(text)
        self.assertEqual(mask[text.index("<a.h>")], PREPROCESSOR)
        self.assertEqual(mask[text.index("1;")], CODE)
        self.assertEqual(mask[text.index("y < 2")], COMMENT)
        self.assertEqual(mask[text.index("a < b")], STRING)
        self.assertEqual(mask[text.index("3 */")], COMMENT)

    def test_relational_operators_between_spaces_only(self):
        text = "std::vector<int> v;\nbool f(int a) { return a < 3 && a >= 1; } // a > 2\n"
        found = changes(text, "relational")
        self.assertEqual(found, [(2, "'<' -> '<=' (1st on the line)"), (2, "'>=' -> '>' (1st on the line)")])

    def test_arithmetic_and_pointer_declarators(self):
        text = "double f(Lander *l, double a) { return a * 2.0 - l->x; }\n"
        found = [c for _, c in changes(text, "arithmetic")]
        self.assertEqual(found, ["'*' -> '/' (1st on the line)", "'-' -> '+' (1st on the line)"])

    def test_constants_move_by_their_last_shown_digit_and_by_one_percent(self):
        found = [c for _, c in changes("double a = 0.06;\nint n = 940;\ndouble e = 1e-5;\n", "constant")]
        self.assertIn("0.06 -> 0.07", found)
        self.assertIn("0.06 -> 0.05", found)
        self.assertIn("0.06 -> 0.0606 (x1.01)", found)
        self.assertIn("940 -> 941", found)
        self.assertIn("940 -> 939", found)
        self.assertNotIn("940 -> 949.4 (x1.01)", found)  # an integer stays an integer
        self.assertIn("1e-5 -> 2e-5", found)

    def test_a_constant_that_rounds_to_the_same_double_is_left_out(self):
        found = [c for _, c in changes("const double k = 1.3333333333333333;\n", "constant")]
        self.assertNotIn("1.3333333333333333 -> 1.3333333333333332", found)
        self.assertIn("1.3333333333333333 -> 1.3333333333333334", found)

    def test_conditions_are_negated_as_a_whole(self):
        text = "void f() {\n    if (a(1) && b) g();\n}\n"
        [m] = [m for m in find_mutants("x.cpp", text) if m.kind == "negation"]
        self.assertEqual(m.apply(text), "void f() {\n    if (!(a(1) && b)) g();\n}\n")

    def test_statements_are_removed_and_swapped_but_not_declarations(self):
        text = ("void f() {\n    double x = 1.0;\n    Step(x);\n    state.n = 2;\n"
                "    Call(a,\n         b);\n    return;\n}\n")
        found = {(m.line, m.kind): m for m in find_mutants("x.cpp", text) if m.kind in ("removal", "swap")}
        self.assertEqual(sorted(found), [(3, "removal"), (3, "swap"), (4, "removal"), (4, "swap"), (5, "removal")])
        self.assertEqual(found[(3, "swap")].apply(text).splitlines()[2:4], ["    state.n = 2;", "    Step(x);"])
        self.assertNotIn("Call(a", found[(5, "removal")].apply(text))

    def test_string_literals_change_a_letter_and_keep_format_directives(self):
        found = [c for _, c in changes('f("MANUAL");\ng("%d %s");\nh("%.4f x");\n', "literal")]
        self.assertEqual(found, ['"MANUAL" -> "NANUAL"', '"%d %s" -> "%d %sx"', '"%.4f x" -> "%.4f y"'])

    def test_static_assertions_are_not_mutated(self):
        self.assertEqual(changes('static_assert(k == 0.25, "a quarter");\n'), [])


class EquivalentsFile(unittest.TestCase):
    def test_entries_need_four_fields(self):
        with tempfile.TemporaryDirectory() as d:
            path = Path(d) / "eq.txt"
            path.write_text("# comment\n\na.cpp | x = 1; | 1 -> 2 | only ever compared with 0\n")
            self.assertEqual(mutate.read_equivalents(path),
                             {("a.cpp", "x = 1;", "1 -> 2"): "only ever compared with 0"})
            path.write_text("a.cpp | x = 1; | 1 -> 2\n")
            with self.assertRaises(SystemExit):
                mutate.read_equivalents(path)


def tree_digest(root: Path) -> str:
    h = hashlib.sha256()
    for f in sorted(root.rglob("*")):
        if f.is_file() and "build" not in f.relative_to(root).parts:
            h.update(f.relative_to(root).as_posix().encode())
            st = f.stat()
            h.update(f.read_bytes())
            h.update(str(st.st_mtime_ns).encode())
    return h.hexdigest()


@unittest.skipUnless(shutil.which("cmake") and shutil.which("ninja"), "needs cmake and ninja")
class FixtureRuns(unittest.TestCase):
    """The tool run on the fixture project, one worker."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = Path(cls.tmp.name) / "project"
        shutil.copytree(HERE / "fixture", cls.root)
        cls.work = Path(cls.tmp.name) / "work"

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def run_tool(self, *extra, env=None):
        report = Path(self.tmp.name) / "report.json"
        args = [sys.executable, str(HERE / "mutate.py"), "--root", str(self.root), "--dirs", "calc",
                "--work", str(self.work), "--jobs", "1", "--report", str(report),
                "--equivalents", str(Path(self.tmp.name) / "equivalent.txt"), *extra]
        proc = subprocess.run(args, capture_output=True, text=True, timeout=600, env=env)
        data = json.loads(report.read_text()) if report.exists() else None
        if report.exists():
            report.unlink()
        return proc, data

    def test_classifies_killed_and_surviving_mutants_and_leaves_the_tree_alone(self):
        before = tree_digest(self.root)
        proc, data = self.run_tool()
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        status = {(m["line"], m["change"]): m["status"] for m in data["mutants"]}
        self.assertEqual(status[(5, "if condition negated")], "killed")
        self.assertEqual(status[(6, "'>' -> '>=' (1st on the line)")], "survived")  # Clamp(10, 0, 10) is untested
        self.assertEqual(status[(13, "'*' -> '/' (1st on the line)")], "survived")
        self.assertEqual(status[(12, "3 -> 4")], "survived")
        self.assertEqual(status[(12, "1 -> 0")], "not compiling")  # too many initializers
        s = data["summary"]
        self.assertEqual(s["killed"] + s["survived"] + s["not compiling"], len(data["mutants"]))
        self.assertAlmostEqual(s["score"], 100.0 * s["killed"] / (s["killed"] + s["survived"]))
        self.assertEqual(tree_digest(self.root), before)
        mirror = self.work / "w0" / "src" / "calc" / "Calc.cpp"
        self.assertEqual(mirror.read_bytes(), (self.root / "calc" / "Calc.cpp").read_bytes())

    def test_listed_equivalents_are_not_run_again_and_min_score_fails_the_run(self):
        line = "calc/Calc.cpp | if (v > hi) return hi; | '>' -> '>=' (1st on the line) | v == hi returns the same\n"
        (Path(self.tmp.name) / "equivalent.txt").write_text(line)
        try:
            proc, data = self.run_tool("--match", "Calc.cpp:6", "--min-score", "100")
        finally:
            (Path(self.tmp.name) / "equivalent.txt").unlink()
        self.assertEqual([m["change"] for m in data["mutants"]], ["if condition negated"])
        self.assertEqual(data["summary"]["equivalent (not run)"], 1)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        # Nothing kills the mutants of the untested function: below the threshold.
        proc, data = self.run_tool("--match", "Calc.cpp:13", "--min-score", "50")
        self.assertEqual(data["summary"]["killed"], 0)
        self.assertEqual(proc.returncode, 1, proc.stdout)

    def test_a_signal_in_the_middle_of_a_mutant_restores_everything(self):
        before = tree_digest(self.root)
        mirror = self.work / "w0" / "src" / "calc" / "Calc.cpp"
        original = (self.root / "calc" / "Calc.cpp").read_bytes()
        report = Path(self.tmp.name) / "report.json"
        env = dict(os.environ, MUTATE_FIXTURE_SLOW="1")
        proc = subprocess.Popen([sys.executable, str(HERE / "mutate.py"), "--root", str(self.root),
                                 "--dirs", "calc", "--work", str(self.work), "--jobs", "1",
                                 "--match", "Calc.cpp:13", "--report", str(report)],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and not (mirror.exists() and mirror.read_bytes() != original):
                time.sleep(0.005)
            self.assertNotEqual(mirror.read_bytes(), original, "no mutant was applied")
            time.sleep(2.0)  # into the (slow) test program of that mutant
            proc.send_signal(signal.SIGTERM)
            out, _ = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(proc.returncode, mutate.EXIT_SIGNAL, out)
        self.assertIn("interrupted", out)
        self.assertEqual(mirror.read_bytes(), original)
        self.assertEqual(tree_digest(self.root), before)


if __name__ == "__main__":
    unittest.main()
