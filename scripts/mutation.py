#!/usr/bin/env python3
"""Mutation testing of the engine (tessaril/src) and the module (python_module/).

    python3 scripts/mutation.py list                  the fixed set, one mutant a line
    python3 scripts/mutation.py run [--sample N] [--only ID,...] [--json FILE]

The fixed set: every place where an operator below applies, in a seeded
sample of each file's places (1 plus half the square root of their
number), so the set does not change unless the sources do. `run` copies
the sources to build/mutation/src, builds the `mutation` preset there
once, then for each mutant edits the copy, rebuilds, and runs the tests
that cover the file: the engine GoogleTests (for an engine file), then the
module's pytest suite, then the module's fault, wipe, thread and size tests
(hardening/module). A mutant is killed when a test fails, survives when all
pass (explained when scripts/mutation-equivalent.txt says why no test can
catch it), times out when the tests run past three times their unmutated
time, is stillborn when it does not compile and identical when its object
code is the unmutated one, and is not run when it lies in code this
processor cannot run (scripts/processor_reach.py: built for instructions
/proc/cpuinfo does not list, or used only by such code), which no test
here can reach, so it is neither built nor tested (none of these three is
counted; the `mutation` preset does not make warnings errors, so a mutant
that only draws a warning, such as a dropped wipe leaving a parameter
unused, is still tested). --sample N runs a fixed seeded N of the set (the
CI stage).
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import processor_reach

SEED = 23
UNMUTATED_OBJECTS = {}
PER_FILE_BASE = 1     # plus half the square root of the number of the file's mutation places
REPO = Path(__file__).resolve().parent.parent
WORK = REPO / "build" / "mutation"
COPY = WORK / "src"
BUILD = COPY / "build" / "mutation"

# Not mutated: test support, tests, kernels for another processor (not
# compiled on x86-64) and the processor feature headers.
EXCLUDED = re.compile(r"(_test\.cc$|/testing/|_neon\.cc$|/processor/|arm_features)")

ERROR_KINDS = ["MissingKey", "InvalidKeyEnv", "ConflictingKeySources", "InvalidToken", "Tampered", "Expired",
               "ZeroExpiry", "PurposeMismatch", "EmptyPurpose", "PurposeTooLong", "PlaintextTooLong", "InvalidUtf8",
               "InvalidBase64", "RandomnessUnavailable"]

# (name, pattern, replacement function); patterns need spaces around binary
# operators, which the sources always have, so templates and pointers stay out.
SWAPS = {" == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
         " + ": " - ", " - ": " + ", " * ": " / ", " / ": " * ", " && ": " || ", " || ": " && ",
         " += ": " -= ", " -= ": " += ", " << ": " >> ", " >> ": " << ", " & ": " | ", " | ": " & "}
OPERATOR = re.compile("|".join(re.escape(op) for op in SWAPS))
NUMBER = re.compile(r"(?<![\w.])(0x[0-9a-fA-F]+|\d+)(?=[uUlL]*\b)(?![.\w])")
ERROR_KIND = re.compile(r"ErrorKind::(" + "|".join(ERROR_KINDS) + r")\b")
WIPE = re.compile(r"(?<![\w:.])(?:secure_wipe|sodium_memzero|OPENSSL_cleanse)\([^;]*\);|^\s*wipe\(\);")
CHECK = re.compile(r"^(\s*)(?:\} else )?if \(")
STRING = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'')


def sources():
    found = [p for folder in ("tessaril/src", "python_module") for p in (REPO / folder).rglob("*")
             if p.suffix in (".cc", ".h")]
    return sorted(str(p.relative_to(REPO)) for p in found if not EXCLUDED.search(str(p.relative_to(REPO))))


def code_spans(line):
    """The line with string and character literals blanked, so nothing inside them mutates."""
    return STRING.sub(lambda m: " " * len(m.group()), line)


def matching_paren(line, start):
    depth = 0
    for at in range(start, len(line)):
        depth += {"(": 1, ")": -1}.get(line[at], 0)
        if depth == 0:
            return at
    return None


def places(path, text):
    """Every mutant of one file: (line number, operator, original line, mutated line)."""
    found = []
    in_block_comment = False
    for number, line in enumerate(text.split("\n"), 1):
        stripped = line.strip()
        if in_block_comment:
            in_block_comment = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if (not stripped or stripped.startswith(("//", "#", "static_assert", "template", "namespace", "using "))
                or "operator" in stripped):
            continue
        code = code_spans(line)
        if "//" in code:
            code = code[:code.index("//")]
        for m in OPERATOR.finditer(code):
            mutated = line[:m.start()] + SWAPS[m.group()] + line[m.end():]
            found.append((number, f"'{m.group().strip()}' -> '{SWAPS[m.group()].strip()}'", line, mutated))
        for m in NUMBER.finditer(code):
            value = int(m.group(1), 0)
            for delta in (1, -1) if value > 0 else (1,):
                new = hex(value + delta) if m.group(1).startswith("0x") else str(value + delta)
                found.append((number, f"{m.group(1)} -> {new}", line, line[:m.start(1)] + new + line[m.end(1):]))
        for m in ERROR_KIND.finditer(code):
            other = ERROR_KINDS[(ERROR_KINDS.index(m.group(1)) + 1) % len(ERROR_KINDS)]
            found.append((number, f"ErrorKind::{m.group(1)} -> {other}", line,
                          line[:m.start(1)] + other + line[m.end(1):]))
        for m in WIPE.finditer(code):
            found.append((number, "wipe dropped", line, line[:m.start()] + "(void)0;" + line[m.end():]))
        m = CHECK.match(code)
        if m:
            open_at = code.index("(", m.end() - 1)
            close_at = matching_paren(code, open_at)
            if close_at is not None:
                mutated = line[:open_at + 1] + "false && (" + line[open_at + 1:close_at] + ")" + line[close_at:]
                found.append((number, "check removed", line, mutated))
    return found


def mutant_set():
    mutants = []
    for path in sources():
        text = (REPO / path).read_text()
        candidates = places(path, text)
        rng = random.Random(f"{SEED}:{path}")
        count = min(len(candidates), PER_FILE_BASE + round(len(candidates) ** 0.5 / 2))
        for line, operator, original, mutated in sorted(rng.sample(candidates, count)):
            ident = hashlib.sha256(f"{path}:{line}:{operator}:{mutated}".encode()).hexdigest()[:8]
            mutants.append({"id": ident, "file": path, "line": line, "operator": operator,
                            "original": original, "mutated": mutated})
    return mutants


def explained():
    """Surviving mutants that are equivalent, or that only another stage can catch: id -> reason."""
    listed = {}
    for line in (REPO / "scripts" / "mutation-equivalent.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            ident, reason = line.split(" ", 1)
            listed[ident] = reason.strip()
    return listed


def not_run_here():
    """(file, line) -> why, for the lines of code this processor cannot run."""
    found = processor_reach.unrunnable(processor_reach.source_files(REPO),
                                       processor_reach.processor_flags(Path("/proc/cpuinfo").read_text()))
    why = {}
    for u in processor_reach.outermost(found):
        d = u.definition
        for line in range(d.first_line, d.last_line + 1):
            why[(d.path, line)] = f"{d.name} is {u.reason}"
    return why


def run(command, timeout):
    started = time.monotonic()
    try:
        result = subprocess.run(command, cwd=COPY, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=timeout)
        return result.returncode, time.monotonic() - started
    except subprocess.TimeoutExpired:
        return None, time.monotonic() - started


def module_dir():
    return next(BUILD.glob("python_module/tessarils*.so")).parent


def engine_tests():
    return [str(BUILD / "tessaril" / "tessaril_tests"), "--gtest_brief=1"]


def module_tests():
    return [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", "python_module/tests"]


def hardening_tests():
    return [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", "hardening/module"]


def prepare():
    """The copy of the tracked sources and its build, made or refreshed."""
    COPY.mkdir(parents=True, exist_ok=True)
    # The working tree as it is (inside the root the repository's git
    # directory may be out of reach), without builds and environments.
    for folder, dirs, names in os.walk(REPO):
        dirs[:] = [d for d in dirs if d not in ("build", ".git", ".venv", "__pycache__")]
        for name in names:
            source = Path(folder) / name
            target = COPY / source.relative_to(REPO)
            if not target.exists() or target.read_bytes() != source.read_bytes():
                target.parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(source, target)
    subprocess.run(["cmake", "--preset", "mutation"], cwd=COPY, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "mutation"], cwd=COPY, check=True, stdout=subprocess.DEVNULL)
    os.environ["PYTHONPATH"] = f"{module_dir()}:{COPY / 'testing'}"
    global UNMUTATED_OBJECTS
    UNMUTATED_OBJECTS = object_hashes()
    os.environ["PYTHONDONTWRITEBYTECODE"] = "1"


def object_hashes(newer_than=0.0):
    return {str(o): hashlib.sha256(o.read_bytes()).hexdigest() for o in BUILD.rglob("*.o")
            if o.stat().st_mtime >= newer_than}


def baseline():
    times = {}
    for name, command in (("engine", engine_tests()), ("module", module_tests()), ("hardening", hardening_tests())):
        code, seconds = run(command, 1800)
        if code != 0:
            sys.exit(f"mutation: the unmutated {name} tests fail; nothing to measure")
        times[name] = max(30.0, 3 * seconds)
    return times


def try_mutant(mutant, limits):
    path = COPY / mutant["file"]
    original = path.read_text()
    lines = original.split("\n")
    assert lines[mutant["line"] - 1] == mutant["original"], f"{mutant['id']}: source moved on"
    lines[mutant["line"] - 1] = mutant["mutated"]
    started = time.time()
    path.write_text("\n".join(lines))
    try:
        suites = [("module", "tessarils", module_tests()), ("hardening", "tessarils", hardening_tests())]
        if mutant["file"].startswith("tessaril/"):
            suites.insert(0, ("engine", "tessaril_tests", engine_tests()))
        for name, target, command in suites:
            # Each suite's target alone: an engine mutant killed by the
            # GoogleTests never waits for the module to link.
            build = subprocess.run(["cmake", "--build", "--preset", "mutation", "--target", target], cwd=COPY,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if build.returncode != 0:
                return "stillborn", None
            rebuilt = object_hashes(started)
            if all(UNMUTATED_OBJECTS.get(o) == h for o, h in rebuilt.items()):
                # Same object code: not compiled here (another platform's
                # branch) or folded away by the compiler.
                return "identical", None
            code, _ = run(command, limits[name])
            if code is None:
                return "timed out", name
            if code != 0:
                return "killed", name
        return "survived", None
    finally:
        path.write_text(original)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("action", choices=["list", "run"])
    parser.add_argument("--sample", type=int, help="run a fixed seeded sample of this many mutants")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--json", help="write the outcomes here")
    args = parser.parse_args()
    mutants = mutant_set()
    if args.action == "list":
        for m in mutants:
            print(f"{m['id']} {m['file']}:{m['line']} {m['operator']}")
        print(f"{len(mutants)} mutants", file=sys.stderr)
        return
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m["id"] in wanted]
    elif args.sample:
        mutants = sorted(random.Random(SEED).sample(mutants, min(args.sample, len(mutants))),
                         key=lambda m: (m["file"], m["line"]))
    started = time.monotonic()
    unreachable = not_run_here()
    prepare()
    limits = baseline()
    known = explained()
    outcomes = []
    for index, mutant in enumerate(mutants, 1):
        began = time.monotonic()
        if (mutant["file"], mutant["line"]) in unreachable:
            outcome, suite = "not run", unreachable[(mutant["file"], mutant["line"])]
        else:
            outcome, suite = try_mutant(mutant, limits)
        if outcome == "survived" and mutant["id"] in known:
            outcome, suite = "explained", known[mutant["id"]]
        outcomes.append(dict(mutant, outcome=outcome, suite=suite))
        print(f"[{index}/{len(mutants)}] {outcome:9} {mutant['id']} {mutant['file']}:{mutant['line']} "
              f"{mutant['operator']}" + (f" ({suite})" if suite else "") + f" {time.monotonic() - began:.0f} s", flush=True)
    subprocess.run(["cmake", "--build", "--preset", "mutation"], cwd=COPY, stdout=subprocess.DEVNULL)
    if args.json:
        Path(args.json).write_text(json.dumps(outcomes, indent=1))
    summarise(outcomes, time.monotonic() - started)
    return 1 if any(o["outcome"] == "survived" for o in outcomes) else 0


def summarise(outcomes, seconds):
    files = sorted({o["file"] for o in outcomes})
    print(f"{'file':52} killed survived timed-out explained stillborn identical not-run")
    for name in files:
        mine = [o["outcome"] for o in outcomes if o["file"] == name]
        print(f"{name:52} {mine.count('killed'):6} {mine.count('survived'):8} {mine.count('timed out'):9} "
              f"{mine.count('explained'):9} {mine.count('stillborn'):9} {mine.count('identical'):9} "
              f"{mine.count('not run'):7}")
    every = [o["outcome"] for o in outcomes]
    counted = len(every) - sum(every.count(o) for o in ("stillborn", "explained", "identical", "not run"))
    caught = every.count("killed") + every.count("timed out")
    for o in outcomes:
        if o["outcome"] == "survived":
            print(f"survived {o['id']} {o['file']}:{o['line']} {o['operator']}: {o['mutated'].strip()}")
        elif o["outcome"] == "not run":
            print(f"not run {o['id']} {o['file']}:{o['line']} {o['operator']}: {o['suite']}")
    print(f"mutation: {caught}/{counted} killed or timed out ({100 * caught / max(counted, 1):.1f} %), "
          f"{every.count('survived')} survived, {every.count('explained')} explained, "
          f"{every.count('stillborn')} stillborn, {every.count('identical')} identical, "
          f"{every.count('not run')} not run on this processor ({seconds:.0f} s)")


if __name__ == "__main__":
    sys.exit(main())
