"""Finding the mutants of a C++ source file.

A mutant is one small change at one place: a relational, arithmetic or
logical operator swapped, a numeric constant moved by one unit in its last
shown digit or scaled by 1.01, a condition negated, a statement removed, two
adjacent statements swapped, a library call swapped, a boolean or a string
literal changed. The scanner knows just enough C++ to leave comments,
preprocessor lines and the insides of literals alone; the code is written in
one consistent style (binary operators between spaces), which it relies on to
tell a binary operator from a template bracket or a pointer declarator.
"""

from __future__ import annotations

import dataclasses
import re
import struct
from decimal import Decimal

CODE, COMMENT, STRING, PREPROCESSOR = 0, 1, 2, 3


@dataclasses.dataclass(frozen=True)
class Mutant:
    path: str         # relative to the project root, with '/'
    line: int         # 1-based line of the change's start
    start: int        # offset of the replaced text in the file
    end: int
    replacement: str
    kind: str         # relational, arithmetic, logical, constant, negation, removal, swap, call, literal
    change: str       # human-readable description of the change
    line_text: str    # the original line, stripped: identifies the place across edits

    def apply(self, text: str) -> str:
        return text[: self.start] + self.replacement + text[self.end :]

    def key(self) -> tuple[str, str, str]:
        """What the equivalent-mutants file matches on: file, line text, change."""
        return (self.path, self.line_text, self.change)

    def place(self) -> str:
        return f"{self.path}:{self.line}"


def classify(text: str) -> list[int]:
    """Marks every character as code, comment, string/char literal or preprocessor."""
    mask = [CODE] * len(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            j = i
            while j < n and text[j] != "\n":
                if text[j] == "\\" and j + 1 < n and text[j + 1] == "\n":
                    j += 2
                    continue
                j += 1
            for k in range(i, j):
                mask[k] = PREPROCESSOR
            i = j
            continue
        line_start = False
        if c == "\n":
            line_start = True
            i += 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                mask[k] = COMMENT
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            for k in range(i, j):
                mask[k] = COMMENT
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            for k in range(i, j):
                mask[k] = STRING
            i = j
        else:
            i += 1
    return mask


class _Source:
    def __init__(self, path: str, text: str):
        self.path = path
        self.text = text
        self.mask = classify(text)
        self.line_starts = [0] + [m.end() for m in re.finditer("\n", text)]
        self.is_header = path.endswith(".h")
        # A line's text names its place in the equivalent-mutants file; the
        # same text on several lines of a file is told apart by its order.
        texts = [self._raw_line(n) for n in range(1, len(self.line_starts) + 1)]
        self.line_names = []
        for n, t in enumerate(texts):
            total = texts.count(t)
            self.line_names.append(t if total == 1 else f"{t} #{texts[: n + 1].count(t)} of {total}")

    def line_of(self, offset: int) -> int:
        lo, hi = 0, len(self.line_starts) - 1
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if self.line_starts[mid] <= offset:
                lo = mid
            else:
                hi = mid - 1
        return lo + 1

    def line_text(self, line: int) -> str:
        return self.line_names[line - 1]

    def _raw_line(self, line: int) -> str:
        start = self.line_starts[line - 1]
        end = self.text.find("\n", start)
        return self.text[start : end if end >= 0 else len(self.text)].strip()

    def code_at(self, start: int, end: int) -> bool:
        return all(self.mask[k] == CODE for k in range(start, end))

    def mutant(self, start, end, replacement, kind, change) -> Mutant:
        line = self.line_of(start)
        return Mutant(self.path, line, start, end, replacement, kind, change, self.line_text(line))


def _ordinal(n: int) -> str:
    return {1: "1st", 2: "2nd", 3: "3rd"}.get(n, f"{n}th")


RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITHMETIC = {"+": "-", "-": "+", "*": "/", "/": "*", "%": "*",
              "+=": "-=", "-=": "+=", "*=": "/=", "/=": "*="}
LOGICAL = {"&&": "||", "||": "&&"}
CALLS = {"std::floor": "std::ceil", "std::ceil": "std::floor", "std::round": "std::trunc",
         "std::min": "std::max", "std::max": "std::min", "std::fabs": "", "std::abs": ""}
DECLARATION_WORDS = {"const", "constexpr", "static", "double", "float", "int", "unsigned", "long",
                     "short", "char", "bool", "auto", "void", "struct", "class", "enum", "using",
                     "typedef", "return", "break", "continue", "case", "default", "namespace",
                     "template", "friend", "extern", "inline", "virtual", "public", "private",
                     "protected", "goto", "throw", "delete", "new", "else", "do", "if", "for", "while",
                     "switch", "sizeof", "alignas", "static_assert"}


def _binary_operators(src: _Source, table: dict, kind: str):
    pattern = re.compile(r"(?<= )(" + "|".join(re.escape(op) for op in sorted(table, key=len, reverse=True)) + r")(?= )")
    seen: dict[tuple[int, str], int] = {}
    for m in pattern.finditer(src.text):
        if not src.code_at(m.start(), m.end()):
            continue
        op = m.group(1)
        line = src.line_of(m.start())
        seen[(line, op)] = seen.get((line, op), 0) + 1
        change = f"'{op}' -> '{table[op]}' ({_ordinal(seen[(line, op)])} on the line)"
        yield src.mutant(m.start(), m.end(), table[op], kind, change)


def _increments(src: _Source):
    seen: dict[tuple[int, str], int] = {}
    for m in re.finditer(r"\+\+|--", src.text):
        if not src.code_at(m.start(), m.end()):
            continue
        op = m.group(0)
        other = "--" if op == "++" else "++"
        line = src.line_of(m.start())
        seen[(line, op)] = seen.get((line, op), 0) + 1
        yield src.mutant(m.start(), m.end(), other, "arithmetic",
                         f"'{op}' -> '{other}' ({_ordinal(seen[(line, op)])} on the line)")


NUMBER = re.compile(r"(?<![\w.])((?:\d+\.\d*|\.\d+|\d+)(?:[eE][-+]?\d+)?)([fFuUlL]*)(?![\w.])")


def _shifted_by_last_digit(literal: str, step: int) -> str | None:
    mantissa, exponent = re.match(r"([^eE]+)([eE].*)?$", literal).groups()
    exponent = exponent or ""
    decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
    value = Decimal(mantissa) + step * Decimal(1).scaleb(-decimals)
    if value < 0:
        return None
    text = f"{value:.{decimals}f}"
    if mantissa.endswith("."):
        text += "."
    if mantissa.startswith(".") and text.startswith("0."):
        text = text[1:]
    return text + exponent


def _constants(src: _Source):
    for m in NUMBER.finditer(src.text):
        if not src.code_at(m.start(), m.end()):
            continue
        literal, suffix = m.group(1), m.group(2)
        before = src.text[: m.start()].rstrip()
        after = src.text[m.end() :].lstrip()
        if src.is_header and before.endswith("[") and after.startswith("]"):
            continue  # an array bound in a declaration
        floating = "." in literal or "e" in literal.lower()
        for step in (1, -1):
            shifted = _shifted_by_last_digit(literal, step)
            if shifted is not None and shifted != literal:
                yield src.mutant(m.start(), m.end(), shifted + suffix, "constant",
                                 f"{literal}{suffix} -> {shifted}{suffix}")
        if floating:
            scaled = repr(float(literal) * 1.01)
            if "." not in scaled and "e" not in scaled:
                scaled += ".0"
            yield src.mutant(m.start(), m.end(), scaled + suffix, "constant",
                             f"{literal}{suffix} -> {scaled}{suffix} (x1.01)")


def _matching_paren(src: _Source, open_at: int) -> int | None:
    depth = 0
    for k in range(open_at, len(src.text)):
        if src.mask[k] != CODE:
            continue
        if src.text[k] == "(":
            depth += 1
        elif src.text[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return None


def _negations(src: _Source):
    for m in re.finditer(r"\b(if|while) \(", src.text):
        if not src.code_at(m.start(), m.end()):
            continue
        open_at = m.end() - 1
        close_at = _matching_paren(src, open_at)
        if close_at is None:
            continue
        condition = src.text[open_at + 1 : close_at]
        yield src.mutant(open_at + 1, close_at, f"!({condition})", "negation",
                         f"{m.group(1)} condition negated")


def _code_lines(src: _Source):
    """(start, end, stripped code) of every line, comments cut off."""
    for idx, start in enumerate(src.line_starts):
        end = src.line_starts[idx + 1] - 1 if idx + 1 < len(src.line_starts) else len(src.text)
        code = "".join(ch if src.mask[start + k] in (CODE, STRING) else " "
                       for k, ch in enumerate(src.text[start:end]))
        yield start, end, code


STATEMENT_START = re.compile(r"^\s*(?:\+\+|--)?[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*|\[[^\]]*\])*\s*"
                             r"(?:\(|=(?!=)|\+=|-=|\*=|/=|\+\+|--)")


def _statements(src: _Source):
    """Whole statements that start a line and are expressions: calls and assignments."""
    lines = list(_code_lines(src))
    found = []
    previous_end = ""
    i = 0
    while i < len(lines):
        start, end, code = lines[i]
        stripped = code.strip()
        if not stripped:
            i += 1
            continue
        first_word = re.match(r"[A-Za-z_]\w*", stripped.lstrip("+-"))
        starts_statement = (previous_end in (";", "{", "}") and STATEMENT_START.match(code)
                            and first_word and first_word.group(0) not in DECLARATION_WORDS
                            and src.mask[start + len(code) - len(code.lstrip())] == CODE)
        if starts_statement:
            # Gather the statement up to its ';' with balanced parentheses.
            j, depth, text_end, ok = i, 0, None, False
            while j < len(lines):
                s, e, c = lines[j]
                for k, ch in enumerate(c):
                    if ch in "({[":
                        depth += 1
                    elif ch in ")}]":
                        depth -= 1
                    elif ch == ";" and depth == 0:
                        text_end, ok = s + k + 1, True
                        break
                if ok or depth < 0:
                    break
                j += 1
            if ok and not src.text[text_end : lines[j][1]].strip():
                stmt_start = start + len(code) - len(code.lstrip())
                found.append((stmt_start, text_end, i, j))
                previous_end = ";"
                i = j + 1
                continue
        previous_end = stripped[-1]
        i += 1
    return found


def _removals_and_swaps(src: _Source):
    statements = _statements(src)
    for start, end, _, _ in statements:
        yield src.mutant(start, end, "", "removal", "statement removed")
    for (s1, e1, _, last1), (s2, e2, first2, _) in zip(statements, statements[1:]):
        if first2 != last1 + 1:
            continue
        indent1 = s1 - src.line_starts[src.line_of(s1) - 1]
        indent2 = s2 - src.line_starts[src.line_of(s2) - 1]
        if indent1 != indent2:
            continue
        between = src.text[e1:s2]
        first, second = src.text[s1:e1], src.text[s2:e2]
        yield src.mutant(s1, e2, second + between + first, "swap", "statement swapped with the next")


def _calls(src: _Source):
    for m in re.finditer(r"std::(floor|ceil|round|min|max|fabs|abs)\b", src.text):
        if not src.code_at(m.start(), m.end()):
            continue
        name = m.group(0)
        replacement = CALLS[name]
        if replacement == "" and not src.text.startswith("(", m.end()):
            continue
        change = f"{name} -> {replacement}" if replacement else f"{name}(x) -> (x)"
        yield src.mutant(m.start(), m.end(), replacement, "call", change)


def _literals(src: _Source):
    for m in re.finditer(r"\btrue\b|\bfalse\b", src.text):
        if src.code_at(m.start(), m.end()):
            other = "false" if m.group(0) == "true" else "true"
            yield src.mutant(m.start(), m.end(), other, "literal", f"{m.group(0)} -> {other}")
    for m in re.finditer(r'"(?:[^"\\\n]|\\.)*"', src.text):
        if src.mask[m.start()] != STRING or (m.start() > 0 and src.mask[m.start() - 1] == STRING):
            continue
        before = src.text[max(0, m.start() - 12) : m.start()]
        if before.endswith("extern ") or "static_assert" in before:
            continue
        body = m.group(0)[1:-1]
        changed = _changed_text(body)
        yield src.mutant(m.start(), m.end(), f'"{changed}"', "literal", f'"{body}" -> "{changed}"')


def _changed_text(body: str) -> str:
    """The string with its first plain letter or digit moved on by one."""
    k = 0
    while k < len(body):
        ch = body[k]
        if ch == "\\":
            k += 2
            continue
        if ch == "%":
            m = re.match(r"%[-+ #0]*\d*(?:\.\d+)?[hlLzjt]*[a-zA-Z%]", body[k:])
            k += len(m.group(0)) if m else 1
            continue
        if ch.isalnum():
            nxt = {"z": "a", "Z": "A", "9": "0"}.get(ch, chr(ord(ch) + 1))
            return body[:k] + nxt + body[k + 1 :]
        k += 1
    return body + "x" if body else "x"


def _same_value(m: Mutant) -> bool:
    """A constant written with more digits than a double holds may not change at all."""
    if m.kind != "constant":
        return False
    old, new = m.change.split(" -> ")[0], m.replacement
    try:
        a, b = float(old.rstrip("fFlLuU")), float(new.rstrip("fFlLuU"))
    except ValueError:
        return False
    if old.endswith(("f", "F")):  # a float literal: compared as the float it becomes
        a, b = struct.unpack("f", struct.pack("f", a))[0], struct.unpack("f", struct.pack("f", b))[0]
    return a == b


def find_mutants(path: str, text: str) -> list[Mutant]:
    src = _Source(path, text)
    found: list[Mutant] = []
    found += _binary_operators(src, RELATIONAL, "relational")
    found += _binary_operators(src, ARITHMETIC, "arithmetic")
    found += _increments(src)
    found += _binary_operators(src, LOGICAL, "logical")
    found += _constants(src)
    found += _negations(src)
    found += _removals_and_swaps(src)
    found += _calls(src)
    found += _literals(src)
    unique = {}
    for m in found:
        if m.line_text.startswith("static_assert") or _same_value(m):
            continue
        unique.setdefault((m.start, m.end, m.replacement), m)
    ordered = sorted(unique.values(), key=lambda m: (m.start, m.end, m.kind, m.replacement))
    # The same change at several places of one line (a 0 that appears three
    # times, say) is told apart by its place among them.
    groups: dict[tuple[int, str], list[Mutant]] = {}
    for m in ordered:
        groups.setdefault((m.line, m.change), []).append(m)
    named = []
    for m in ordered:
        same = groups[(m.line, m.change)]
        if len(same) > 1:
            m = dataclasses.replace(m, change=f"{m.change} [{same.index(m) + 1} of {len(same)}]")
        named.append(m)
    return named
