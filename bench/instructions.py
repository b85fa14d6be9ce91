"""Instructions per call of encrypt and decrypt, counted under callgrind.

Wall-clock timings on a shared machine wobble by several per cent between
runs; instruction counts for the same binary and the same inputs do not. This
runs the module under ``valgrind --tool=callgrind``, once, and counts each
case (every backend, encrypt and decrypt, payloads of 5 B, 40 B, 1 KiB and
15,000 B) over a fixed number of calls after a warm-up. A call to
``os.getppid`` marks each boundary (callgrind dumps its counters on entry to
the interpreter's function behind it), and an empty loop of the same count, measured the same way, is
subtracted, so what remains is the call itself: the method call, the
binding and the engine.

It prints instructions per call and the engine functions that spend the most
of them. Then it counts the engine's own seal and open of a 5-byte token
with every pair of codec kernels this processor runs made active through the
engine's test support (bench/kernel_calls.cc), so that the portable kernels
are counted on a processor with vector ones too; those counts are printed,
not compared. With ``--check FILE`` it fails when any count is more than 3 % above
the baseline recorded there for the code path in use; with ``--write FILE``
it records the counts as that baseline. Valgrind's virtual processor has no
AVX-512, so a count is of the AVX2 path on a processor with AVX2 and of the
portable path on one without; the baseline is keyed by that path.

    python3 bench/instructions.py [--build build/dev] [--check FILE | --write FILE] [--top N]
"""

from __future__ import annotations

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from peers import backend_names

SIZES = {"5 B": 5, "40 B": 40, "1 KiB": 1024, "15000 B": 15000}
OPERATIONS = ("encrypt", "decrypt")
WARM_UP = 20
TOLERANCE = 0.03


def calls_for(size: int) -> int:
    # Enough calls that the per-call figure is stable to the instruction on
    # short payloads; fewer on long ones, whose cost is all in the engine.
    return 400 if size <= 1024 else 40


def cases() -> list[tuple[str, str, str]]:
    import tessarils

    return [(backend, operation, size) for backend in backend_names(tessarils) for size in SIZES
            for operation in OPERATIONS]


# ---- the child, run under callgrind ---------------------------------------


def child() -> None:
    import tessarils

    mark = os.getppid  # callgrind dumps its counters on entry

    def repeat(call, argument, count: int) -> None:
        for _ in range(count):
            call(argument)

    def empty(count: int) -> None:
        for _ in range(count):
            pass

    boxes = {name: tessarils.Tessaril(getattr(tessarils.Backend, name), key=0x0123456789ABCDEF0123456789ABCDEF)
             for name in backend_names(tessarils)}
    prepared = []
    for backend, operation, size_name in cases():
        box = boxes[backend]
        payload = b"x" * SIZES[size_name]
        token = box.encrypt(payload)
        call, argument = (box.encrypt, payload) if operation == "encrypt" else (box.decrypt, token)
        repeat(call, argument, WARM_UP)
        prepared.append((call, argument, calls_for(SIZES[size_name])))
    for count in sorted({calls_for(size) for size in SIZES.values()}):
        empty(count)

    # Dump 1 is the start-up. Then the empty loops, one per count, then the cases.
    for count in sorted({calls_for(size) for size in SIZES.values()}):
        mark()
        empty(count)
    for call, argument, count in prepared:
        mark()
        repeat(call, argument, count)
    mark()


# ---- the parent -------------------------------------------------------------


def dump_total(path: Path) -> int:
    for line in path.read_text().splitlines():
        if line.startswith(("totals:", "summary:")):
            return int(line.split()[1])
    raise SystemExit(f"instructions: no total in {path}")


def exclusive_costs(path: Path) -> dict[tuple[str, str], int]:
    """Instructions per (object, function) in one dump, not counting callees.

    Reads callgrind's own format, written uncompressed: "ob=" and "fn=" set
    the object and function, a cost line after "calls=" is the callee's
    inclusive cost and belongs to it, every other cost line to the function.
    """
    costs: dict[tuple[str, str], int] = {}
    obj = fn = ""
    call_line = False
    for line in path.read_text().splitlines():
        if line.startswith("ob="):
            obj = line[3:]
        elif line.startswith("fn="):
            fn = line[3:]
        elif line.startswith("calls="):
            call_line = True
        elif line[:1].isdigit() or line[:1] in "+-*":
            if call_line:
                call_line = False
                continue
            fields = line.split()
            if len(fields) >= 2:
                costs[(obj, fn)] = costs.get((obj, fn), 0) + int(fields[1])
    return costs


ENGINE_OBJECTS = re.compile(r"tessarils|libcrypto|libsodium")


def short_name(function: str) -> str:
    name = function.replace("(anonymous namespace)::", "").replace("tessaril::", "")
    return re.sub(r"\(.*$", "", name)  # drop the parameter list


def top_functions(path: Path, top: int) -> list[tuple[str, int]]:
    """The functions of the module and its libraries that spent the most."""
    costs = [(short_name(fn), count) for (obj, fn), count in exclusive_costs(path).items()
             if ENGINE_OBJECTS.search(obj)]
    return sorted(costs, key=lambda item: -item[1])[:top]


def code_path(build: Path) -> str:
    """The base64url kernel the engine picks under valgrind's virtual processor."""
    out = subprocess.run(["valgrind", "--tool=none", "-q", str(build / "tessaril/tessaril_code_paths")], check=True,
                         capture_output=True, text=True).stdout
    m = re.search(r"base64url kernel: (\w+)", out)
    if not m:
        raise SystemExit(f"instructions: cannot read the code path from {out!r}")
    return m.group(1)


# What the counts depend on besides our code: the compiler that built the
# module and the libraries and interpreter it calls into. A baseline is
# enforced only on the toolchain it was recorded with, so that a Debian
# update in a freshly provisioned root cannot fail the gate by itself.
TOOLCHAIN_PACKAGES = ("libpython3.14", "libssl3*", "libsodium[0-9]*", "valgrind")


def toolchain() -> dict[str, str]:
    def output(*command: str) -> str:
        return subprocess.run(command, capture_output=True, text=True).stdout

    versions = dict(line.split(" ", 1)
                    for line in output("dpkg-query", "-W", "-f", "${Package} ${Version}\\n", *TOOLCHAIN_PACKAGES)
                    .splitlines() if line.split(" ", 1)[-1] and " " in line)
    versions["c++"] = output("c++", "-dumpfullversion").strip()
    return versions


def measure(build: Path, top: int) -> dict[str, dict[str, object]]:
    counts = sorted({calls_for(size) for size in SIZES.values()})
    with tempfile.TemporaryDirectory(prefix="instructions-") as work:
        out = Path(work) / "callgrind.out"
        # A fixed environment: its size moves the stack, and with it the
        # alignment that some copy loops branch on.
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "PYTHONHASHSEED": "0",
               "PYTHONPATH": str(build.resolve() / "python_module")}
        subprocess.run(["valgrind", "--tool=callgrind", "-q", "--dump-before=os_getppid*", "--dump-instr=no",
                        "--compress-strings=no", "--compress-pos=no", f"--callgrind-out-file={out}",
                        sys.executable, __file__, "--child"],
                       check=True, env=env)
        dumps = sorted(Path(work).glob("callgrind.out.*"), key=lambda p: int(p.suffix[1:]))
        expected = 1 + len(counts) + len(cases())
        if len(dumps) < expected:
            raise SystemExit(f"instructions: {len(dumps)} callgrind dumps, {expected} expected")
        empty = {count: dump_total(dumps[1 + i]) for i, count in enumerate(counts)}
        results = {}
        for (backend, operation, size_name), dump in zip(cases(), dumps[1 + len(counts):]):
            calls = calls_for(SIZES[size_name])
            per_call = (dump_total(dump) - empty[calls]) / calls
            functions = [(name, round(count / calls)) for name, count in top_functions(dump, top)]
            results[f"{backend} {operation} {size_name}"] = {"per_call": round(per_call), "functions": functions}
        return results


# ---- the engine with each codec kernel made active --------------------------

KERNEL_CALLS = 200
KERNEL_PAYLOAD = 5


def kernel_counts(build: Path) -> list[tuple[str, str, str, int, int]]:
    """Instructions per seal and per open of a 5-byte token in the engine,
    for every pair of base64url and UTF-8 kernels this processor runs (the
    engine's test support makes them active), every backend."""
    program = str(build / "bench/tessaril_kernel_calls")
    listing = subprocess.run([program, "--list"], check=True, capture_output=True, text=True).stdout.split()
    kernels = {"base64url": listing[1::2][:listing[0::2].count("base64url")],
               "utf8": listing[1::2][listing[0::2].count("base64url"):]}
    import tessarils

    rows = []
    with tempfile.TemporaryDirectory(prefix="kernel-instructions-") as work:
        for base64url in kernels["base64url"]:
            for utf8 in kernels["utf8"]:
                for index, backend in enumerate(backend_names(tessarils)):
                    counts = []
                    for function in ("measured_seal", "measured_open"):
                        out = Path(work) / f"{base64url}-{utf8}-{index}-{function}"
                        subprocess.run(["valgrind", "--tool=callgrind", "-q", "--collect-atstart=no",
                                        f"--toggle-collect=*{function}*", f"--callgrind-out-file={out}", program,
                                        base64url, utf8, str(index), str(KERNEL_PAYLOAD), str(KERNEL_CALLS)],
                                       check=True)
                        counts.append(round(dump_total(out) / KERNEL_CALLS))
                    rows.append((base64url, utf8, backend, counts[0], counts[1]))
    return rows


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--build", type=Path, default=Path("build/dev"), help="the built tree (default build/dev)")
    parser.add_argument("--check", type=Path, help="fail if a count is over 3 %% above this baseline")
    parser.add_argument("--write", type=Path, help="record the counts as the baseline for this code path")
    parser.add_argument("--top", type=int, default=6, help="engine functions listed per case (0: none)")
    args = parser.parse_args()
    if args.child:
        child()
        return 0

    sys.path.insert(0, str(args.build.resolve() / "python_module"))  # cases() reads the backends from the module
    path = code_path(args.build)
    results = measure(args.build, args.top)
    recorded_baseline = json.loads(args.check.read_text()) if args.check else {}
    baseline = recorded_baseline.get(path, {})
    current = toolchain()
    enforced = not args.check or recorded_baseline.get("toolchain") == current
    print(f"instructions per call, {path} path (callgrind, interpreter loop subtracted)")
    failures = []
    for case, result in results.items():
        count = result["per_call"]
        verdict = ""
        if case in baseline:
            limit = baseline[case] * (1 + TOLERANCE)
            verdict = f"  baseline {baseline[case]:>9,}  {count / baseline[case] - 1:+6.1%}"
            if count > limit:
                verdict += "  FAIL"
                failures.append(case)
        elif args.check:
            verdict = "  (no baseline)"
        print(f"  {case:<40} {count:>9,}{verdict}")
        for name, spent in result["functions"]:
            print(f"      {spent:>9,}  {name}")
    print(f"engine seal and open of a {KERNEL_PAYLOAD} B token per codec kernel (callgrind, not compared)")
    for base64url, utf8, backend, seal, opening in kernel_counts(args.build):
        print(f"  base64url {base64url:<9} utf8 {utf8:<9} {backend:<20} seal {seal:>7,}  open {opening:>7,}")
    if args.write:
        recorded = json.loads(args.write.read_text()) if args.write.exists() else {}
        if recorded.get("toolchain", current) != current:
            recorded = {}  # counts from another toolchain cannot stand beside these
        recorded["toolchain"] = current
        recorded[path] = {case: result["per_call"] for case, result in results.items()}
        args.write.write_text(json.dumps(recorded, indent=2, sort_keys=True) + "\n")
        print(f"baseline for the {path} path written to {args.write}")
    if args.check and not baseline:
        print(f"no baseline for the {path} path in {args.check}: nothing to compare")
    if baseline and not enforced:
        print(f"baseline recorded with {recorded_baseline.get('toolchain')}, this root has {current}: "
              f"not enforced until it is recorded again (--write {args.check})")
        return 0
    if failures:
        print(f"{len(failures)} count(s) more than {TOLERANCE:.0%} above the baseline: {', '.join(failures)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
