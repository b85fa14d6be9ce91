"""The code of the C++ sources that this processor cannot run, read from the
sources themselves and /proc/cpuinfo, so that coverage and mutation testing
judge only what the tests here can reach.

Code this processor cannot run is
- a function built for instructions it lacks: one that carries a target
  attribute (__attribute__((target("..."))) or [[gnu::target("...")]]),
  written out or through a macro defined as one (TESSARILS_AVX512), whose
  features /proc/cpuinfo does not all list; and
- whatever only such code names: a helper function, a constant or a type
  that nothing else refers to.
Nothing here depends on file names, function names or line numbers, so the
answer follows the code wherever it moves.

    python3 scripts/processor_reach.py [--root DIR] [--cpuinfo FILE]
                                        lists what this processor cannot run
"""

from __future__ import annotations

import argparse
import bisect
import os
import re
import sys
from collections import defaultdict
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from pathlib import Path

SOURCE_SUFFIXES = frozenset({".c", ".cc", ".cpp", ".h", ".hpp"})
# Folders that hold builds, environments and caches rather than sources.
SKIPPED_FOLDERS = frozenset({"build", "dist", ".git", ".venv", "__pycache__"})

# Target features whose /proc/cpuinfo flag is spelled otherwise; the others
# of KNOWN_FEATURES are spelled alike. Any other feature is an error rather
# than a guess: a wrong flag would leave out code that runs, or count code
# that cannot.
CPUINFO_SPELLING = {
    "sse3": "pni",
    "sse4.1": "sse4_1",
    "sse4.2": "sse4_2",
    "pclmul": "pclmulqdq",
    "sha": "sha_ni",
    "lzcnt": "abm",
    "bmi": "bmi1",
    "rdrnd": "rdrand",
}
KNOWN_FEATURES = frozenset({
    "mmx", "sse", "sse2", "ssse3", "sse4a", "avx", "avx2", "fma", "f16c", "popcnt", "aes", "vaes",
    "vpclmulqdq", "gfni", "bmi2", "movbe", "adx", "rdseed", "xsave", "xsavec", "xsaveopt", "cx16",
    "avx512f", "avx512bw", "avx512vl", "avx512dq", "avx512cd", "avx512vbmi", "avx512vbmi2", "avx512vnni",
    "avx512bitalg", "avx512vpopcntdq", "avx512ifma", "avx512bf16", "avx512fp16", "avxvnni",
}) | frozenset(CPUINFO_SPELLING)

_TARGET = re.compile(r"__attribute__\s*\(\(\s*target\s*\(([^)]*)\)|\[\[\s*gnu::target\s*\(([^)]*)\)")
_STRING_LITERAL = re.compile(r'"([^"]*)"')
_DEFINE = re.compile(r"^[ \t]*#[ \t]*define[ \t]+(\w+)[ \t]+(.*)$", re.MULTILINE)
_IDENTIFIER = re.compile(r"[A-Za-z_]\w*")
_ATTRIBUTE = re.compile(r"\[\[|\b(?:__attribute__|alignas)\s*\(")
_ACCESS = re.compile(r"\b(?:public|private|protected)\s*:(?!:)")
_TEMPLATE = re.compile(r"\s*template\s*<")
_NAMESPACE = re.compile(r'^(?:inline\s+)?namespace\b|^extern\s*"\s*"\s*$')
_CLASS = re.compile(r"^(?:struct|class|union)\b")
_ENUM = re.compile(r"^enum\b")
_INITIALISER = re.compile(r"(?<![=!<>])(?<!operator)=(?!=)")
_DEFAULTED = re.compile(r"\s*(?:default|delete|0)\s*$")
_MEMBER_ACCESS = re.compile(r"(?:\.|->)\s*$")


class UnknownFeature(ValueError):
    """A target feature whose /proc/cpuinfo flag this module does not know."""


def cpuinfo_flag(feature: str) -> str:
    """The /proc/cpuinfo flag that says the processor has |feature| (as GCC and clang spell it)."""
    if feature not in KNOWN_FEATURES:
        raise UnknownFeature(f"no /proc/cpuinfo flag is known for the target feature {feature!r}; "
                             "add it to scripts/processor_reach.py")
    return CPUINFO_SPELLING.get(feature, feature)


def target_features(arguments: str) -> frozenset[str]:
    """The features that the arguments of a target attribute ask for: "avx2,avx512f" or "avx2", "fma"."""
    features = set()
    for literal in _STRING_LITERAL.findall(arguments):
        for feature in (part.strip() for part in literal.split(",")):
            if feature.startswith("arch="):
                raise UnknownFeature(f"target({literal!r}): name the features rather than an architecture")
            if feature and not feature.startswith(("no-", "tune=")):
                cpuinfo_flag(feature)
                features.add(feature)
    return frozenset(features)


def processor_flags(cpuinfo: str) -> frozenset[str]:
    """The flags of the first processor that /proc/cpuinfo text lists (none where it lists none)."""
    for line in cpuinfo.splitlines():
        key, _, value = line.partition(":")
        if key.strip() == "flags":
            return frozenset(value.split())
    return frozenset()


def lacking(features: Iterable[str], flags: frozenset[str]) -> list[str]:
    """The features whose flag is not in |flags|, sorted."""
    return sorted(f for f in features if cpuinfo_flag(f) not in flags)


def _digit_separator(text: str, at: int) -> bool:
    """Whether the quote at |at| separates the digits of a number (1'000'000)."""
    start = at
    while start > 0 and (text[start - 1].isalnum() or text[start - 1] in "_'"):
        start -= 1
    return start < at and text[start].isdigit()


def blank_comments_and_literals(text: str) -> tuple[str, str]:
    """|text| with its comments blanked (code), and that with the insides of its
    string and character literals blanked too (shape). Both keep every offset
    and line break of |text|."""
    code, shape = list(text), list(text)
    n = len(text)

    def blank(start: int, end: int, *, in_code: bool) -> None:
        for at in range(start, min(end, n)):
            if text[at] != "\n":
                shape[at] = " "
                if in_code:
                    code[at] = " "

    i = 0
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            blank(i, end, in_code=True)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            blank(i, end, in_code=True)
            i = end
        elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")
                                           or text[i - 1] in "uU8L"):
            opening = text.find("(", i + 2)
            delimiter = text[i + 2:opening]
            closing = text.find(")" + delimiter + '"', opening)
            quote = n if opening < 0 or closing < 0 else closing + 1 + len(delimiter)
            blank(i + 2, quote, in_code=False)
            i = quote + 1
        elif c == '"' or (c == "'" and not _digit_separator(text, i)):
            at = i + 1
            while at < n and text[at] not in (c, "\n"):
                at += 2 if text[at] == "\\" else 1
            blank(i + 1, at, in_code=False)
            i = at + 1
        else:
            i += 1
    return "".join(code), "".join(shape)


def _blank_preprocessor(shape: str) -> str:
    """|shape| with its preprocessor lines, continuations included, blanked."""
    lines = shape.split("\n")
    continued = False
    for number, line in enumerate(lines):
        if continued or line.lstrip().startswith("#"):
            continued = line.rstrip().endswith("\\")
            lines[number] = " " * len(line)
    return "\n".join(lines)


def _blank_attributes(shape: str) -> str:
    """|shape| with its attributes ([[...]], __attribute__((...)), alignas(...)) blanked, offsets kept."""
    out = list(shape)
    for m in _ATTRIBUTE.finditer(shape):
        if out[m.start()] == " ":
            continue  # inside an attribute already blanked
        end = _closing(shape, m.start() if m.group() == "[[" else m.end() - 1) + 1
        out[m.start():end] = (" " if c != "\n" else c for c in shape[m.start():end])
    return "".join(out)


def _closing(text: str, opening: int) -> int:
    """The offset of the bracket that closes the one at |opening|; the end of |text| if none does."""
    pair = {"{": "}", "(": ")", "<": ">", "[": "]"}[text[opening]]
    depth = 0
    for at in range(opening, len(text)):
        if text[at] == text[opening]:
            depth += 1
        elif text[at] == pair:
            depth -= 1
            if depth == 0:
                return at
    return len(text)


def _flatten(head: str, pairs: str) -> str:
    """|head| with the insides of its outermost bracket pairs blanked, offsets kept."""
    out, depth = list(head), 0
    opening, closing = pairs[0], pairs[1]
    for at, c in enumerate(head):
        if c == closing:
            depth -= 1
        if depth > 0:
            out[at] = " "
        if c == opening:
            depth += 1
    return "".join(out)


@dataclass(frozen=True)
class Definition:
    """A function, variable or type that a file defines outside function
    bodies, or a declaration (whose name is no use of it)."""
    path: str
    name: str
    kind: str                      # "function", "variable", "type" or "declaration"
    start: int                     # offsets of the whole definition in its file
    end: int
    name_offset: int
    first_line: int
    last_line: int
    features: frozenset[str] = frozenset()  # the target features a function is built for
    member: bool = False           # defined in a class, where uses are found by member access


@dataclass
class SourceFile:
    path: str
    text: str
    code: str = field(init=False)
    shape: str = field(init=False)
    line_starts: list[int] = field(init=False)

    def __post_init__(self) -> None:
        self.code, self.shape = blank_comments_and_literals(self.text)
        self.line_starts = [0] + [m.end() for m in re.finditer("\n", self.text)]

    def line_of(self, offset: int) -> int:
        return bisect.bisect_right(self.line_starts, offset)


def target_macros(files: Iterable[SourceFile]) -> dict[str, frozenset[str]]:
    """Macros defined as a target attribute, with the features each asks for."""
    macros = {}
    for source in files:
        for m in _DEFINE.finditer(source.code):
            if attribute := _TARGET.search(m.group(2)):
                macros[m.group(1)] = target_features(attribute.group(1) or attribute.group(2))
    return macros


class _Scanner:
    """Reads one file's scopes declaration by declaration."""

    def __init__(self, source: SourceFile, macros: Mapping[str, frozenset[str]]) -> None:
        self.source = source
        self.macros = macros
        # The structure is read with attributes blanked (their parentheses
        # are no parameter lists); the start of a definition and its target
        # attributes, with them.
        self.with_attributes = _blank_preprocessor(source.shape)
        self.shape = _blank_attributes(self.with_attributes)
        self.code = _blank_preprocessor(source.code)
        self.found: list[Definition] = []
        self.classes = 0  # how many class bodies the scanner is in

    def add(self, kind: str, start: int, end: int, name: tuple[str, int] | None,
            features: frozenset[str] = frozenset()) -> None:
        if name is None or not name[0]:
            return
        self.found.append(Definition(self.source.path, name[0], kind, start, end, name[1],
                                     self.source.line_of(start), self.source.line_of(end - 1), features,
                                     self.classes > 0))

    def name_before(self, start: int, end: int) -> tuple[str, int] | None:
        """The last identifier in [start, end), and its offset."""
        found = None
        for m in _IDENTIFIER.finditer(self.shape, start, end):
            found = (m.group(), m.start())
        return found

    def features(self, start: int, end: int) -> frozenset[str]:
        head = self.code[start:end]
        features: set[str] = set()
        for m in _TARGET.finditer(head):
            features |= target_features(m.group(1) or m.group(2))
        for m in _IDENTIFIER.finditer(head):
            features |= self.macros.get(m.group(), frozenset())
        return frozenset(features)

    def scope(self, start: int, end: int) -> None:
        """Every declaration in [start, end): a namespace's or a class's body."""
        at = start
        while at < end:
            at = self.declaration(at, end)

    def declaration(self, start: int, end: int) -> int:
        """Reads the declaration that begins at or after |start|; returns where the next one may begin."""
        shape = self.shape
        # Leading whitespace, access labels and a template header are not the head.
        at = start
        while at < end:
            if self.with_attributes[at].isspace():
                at += 1
            elif m := _ACCESS.match(self.with_attributes, at):
                at = m.end()
            else:
                break
        if at >= end:
            return end
        head_start = at
        if _TEMPLATE.match(shape, at):
            at = _closing(shape, shape.index("<", at)) + 1
        words_start = at  # the head after any template header
        parens = 0
        braced_initialiser = False
        while at < end:
            c = shape[at]
            if c == "(":
                parens += 1
            elif c == ")":
                parens -= 1
            elif parens == 0 and c == ";":
                self.statement(head_start, words_start, at + 1, braced_initialiser)
                return at + 1
            elif parens == 0 and c == "}":
                return at + 1  # a stray closing brace: the scope ends early
            elif parens == 0 and c == "{":
                body = _closing(shape, at)
                head = shape[words_start:at].strip()
                flat = _flatten(head, "()")
                if _NAMESPACE.match(head):
                    self.scope(at + 1, body)
                    return body + 1
                if _CLASS.match(head) and "(" not in flat and not _INITIALISER.search(flat):
                    self.classes += 1
                    self.scope(at + 1, body)
                    self.classes -= 1
                    tail = body + 1
                    while tail < end and shape[tail].isspace():
                        tail += 1
                    if shape.startswith(";", tail):
                        tail += 1
                    self.add("type", head_start, tail, self.class_name(words_start, at))
                    return tail
                if "(" in flat and not _INITIALISER.search(flat) and not _ENUM.match(head):
                    paren = shape.index("(", words_start, at)
                    self.add("function", head_start, body + 1, self.name_before(words_start, paren),
                             self.features(head_start, at))
                    return body + 1
                # A brace initialiser or an enum's body: the declaration
                # goes on to its semicolon.
                braced_initialiser = braced_initialiser or not _ENUM.match(head)
                at = body
            at += 1
        return end

    def class_name(self, start: int, brace: int) -> tuple[str, int] | None:
        """The name of the class whose head is [start, brace): the identifier before any base list."""
        head = _flatten(self.shape[start:brace], "<>")
        if m := re.match(r"\s*template\s*<\s*>", head):
            head = " " * m.end() + head[m.end():]
        cut = re.search(r"(?<!:):(?!:)", head)
        found = None
        for m in _IDENTIFIER.finditer(head, 0, cut.start() if cut else len(head)):
            if m.group() not in ("struct", "class", "union", "enum", "final", "template"):
                found = (m.group(), start + m.start())
        return found

    def statement(self, start: int, words_start: int, end: int, braced_initialiser: bool) -> None:
        """A declaration that ends in a semicolon: a variable, or a declaration only."""
        head = self.shape[words_start:end - 1]
        stripped = head.strip()
        flat = _flatten(_flatten(head, "{}"), "()")
        initialiser = _INITIALISER.search(flat)
        if re.match(r"(?:static_assert|friend)\b", stripped):
            return
        if _ENUM.match(stripped):
            brace = head.find("{")
            self.add("type" if brace >= 0 else "declaration", start, end,
                     self.class_name(words_start, words_start + brace if brace >= 0 else end - 1))
            return
        if re.match(r"(?:using|typedef)\b", stripped):
            cut = words_start + initialiser.start() if initialiser else end - 1
            self.add("declaration", start, end, self.name_before(words_start, cut))
        elif initialiser and _DEFAULTED.match(flat, initialiser.end()) and "(" in flat:
            # A defaulted, deleted or pure virtual function.
            self.add("declaration", start, end, self.name_before(words_start, words_start + flat.index("(")))
        elif initialiser:
            self.add("variable", start, end, self.name_before(words_start, words_start + initialiser.start()))
        elif braced_initialiser:
            self.add("variable", start, end, self.name_before(words_start, words_start + head.index("{")))
        elif "(" in flat:
            # A function's declaration: the name before its parameter list.
            self.add("declaration", start, end, self.name_before(words_start, words_start + flat.index("(")))
        else:
            kind = "declaration" if _CLASS.match(stripped) or stripped.startswith("extern") else "variable"
            self.add(kind, start, end, self.name_before(words_start, end - 1))


def definitions(source: SourceFile, macros: Mapping[str, frozenset[str]]) -> list[Definition]:
    """The functions, variables and types that |source| defines outside function bodies, and its declarations."""
    scanner = _Scanner(source, macros)
    scanner.scope(0, len(scanner.shape))
    return scanner.found


@dataclass(frozen=True)
class Unrunnable:
    """A definition this processor cannot run, and why."""
    definition: Definition
    lacks: tuple[str, ...]     # the features it is built for that the processor lacks
    used_by: tuple[str, ...]   # else: the names of the code it is used by, all of which cannot run

    @property
    def reason(self) -> str:
        if self.lacks:
            return "built for " + ", ".join(self.lacks) + ", which this processor lacks"
        return "used only by " + ", ".join(self.used_by)


def source_files(root: Path) -> list[SourceFile]:
    """The repository's C and C++ sources, by path relative to |root|."""
    found = []
    for folder, folders, names in os.walk(root):
        folders[:] = sorted(f for f in folders if f not in SKIPPED_FOLDERS)
        for name in sorted(names):
            path = Path(folder) / name
            if path.suffix in SOURCE_SUFFIXES and path.is_file():
                found.append(SourceFile(str(path.relative_to(root)), path.read_text(errors="replace")))
    return sorted(found, key=lambda f: f.path)


def unrunnable(files: list[SourceFile], flags: frozenset[str]) -> list[Unrunnable]:
    """The definitions of |files| that a processor with |flags| cannot run, in file and line order.

    A helper, constant or type counts only when it is named at least once and
    every place that names it (outside its own definition, a declaration of
    it, or a member access) lies in code that cannot run; a use through a
    macro counts as a use from code that runs."""
    macros = target_macros(files)
    by_file = {source.path: definitions(source, macros) for source in files}
    everything = [d for found in by_file.values() for d in found]
    entities = [d for d in everything if d.kind != "declaration"]
    not_uses = {(d.path, d.name_offset) for d in everything}

    uses: dict[str, list[tuple[str, int]]] = defaultdict(list)
    # Members are used through objects, which this reading cannot follow:
    # they leave out only with their class.
    candidates = [d for d in entities if not d.member]
    wanted = {d.name for d in candidates}
    for source in files:
        for m in _IDENTIFIER.finditer(source.shape):
            name = m.group()
            if name not in wanted or (source.path, m.start()) in not_uses:
                continue
            if _MEMBER_ACCESS.search(source.shape, max(0, m.start() - 8), m.start()):
                continue
            uses[name].append((source.path, m.start()))

    found: dict[Definition, Unrunnable] = {}
    for d in entities:
        if d.features and (missing := lacking(d.features, flags)):
            found[d] = Unrunnable(d, tuple(missing), ())

    def enclosing(path: str, offset: int) -> list[Definition]:
        return [d for d in by_file[path] if d.kind != "declaration" and d.start <= offset < d.end]

    changed = True
    while changed:
        changed = False
        for d in candidates:
            if d in found:
                continue
            places = [(path, offset) for path, offset in uses[d.name]
                      if not (path == d.path and d.start <= offset < d.end)]
            users: set[str] = set()
            for path, offset in places:
                around = [e for e in enclosing(path, offset) if e in found]
                if not around:
                    break
                users.add(around[0].name)
            else:
                if places:
                    found[d] = Unrunnable(d, (), tuple(sorted(users)))
                    changed = True
    return sorted(found.values(), key=lambda u: (u.definition.path, u.definition.start))


def outermost(found: list[Unrunnable]) -> list[Unrunnable]:
    """|found| without what lies inside another of them (a member of a type left out whole)."""
    return [u for u in found if not any(o is not u and o.definition.path == u.definition.path
                                        and o.definition.start <= u.definition.start
                                        and u.definition.end <= o.definition.end for o in found)]


def unrunnable_lines(found: list[Unrunnable]) -> dict[str, set[int]]:
    """The lines of |found|, by file."""
    lines: dict[str, set[int]] = defaultdict(set)
    for u in found:
        lines[u.definition.path].update(range(u.definition.first_line, u.definition.last_line + 1))
    return lines


def describe(u: Unrunnable) -> str:
    d = u.definition
    return f"{d.path}:{d.first_line}-{d.last_line} {d.kind} {d.name}: {u.reason}"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Lists the code of the sources that this processor cannot run.")
    parser.add_argument("--root", type=Path, default=Path(__file__).resolve().parent.parent,
                        help="the sources' top folder (default: this repository)")
    parser.add_argument("--cpuinfo", type=Path, default=Path("/proc/cpuinfo"),
                        help="the processor's description (default: /proc/cpuinfo)")
    args = parser.parse_args(argv[1:])
    found = outermost(unrunnable(source_files(args.root), processor_flags(args.cpuinfo.read_text())))
    for u in found:
        print(describe(u))
    print(f"{len(found)} definitions this processor cannot run")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
