"""Runs the module workload under valgrind memcheck and judges the report.

    python3 hardening/module/memcheck_module.py [ROUNDS]

The interpreter runs with PYTHONMALLOC=malloc so that every object goes
through the C allocator memcheck watches, and with the getrandom shim
preloaded (built here) so that the random-source failure path runs too.
Any invalid read, write or free, any use of undefined memory, and any
definitely or indirectly lost block with a frame in the module fails the
check. Leaks that lie wholly inside the interpreter or other libraries are
listed but are not the module's.
"""

import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import tessarils

HERE = Path(__file__).parent
MODULE = Path(tessarils.__file__).resolve()
LEAKS = {"Leak_DefinitelyLost", "Leak_IndirectlyLost"}


def frames(error):
    for frame in error.iter("frame"):
        yield {field: (frame.findtext(field) or "") for field in ("obj", "fn", "file", "line")}


def describe(error):
    what = error.findtext("what") or error.findtext("xwhat/text") or error.findtext("kind")
    lines = [f"  {error.findtext('kind')}: {what}"]
    for f in list(frames(error))[:12]:
        where = f"{f['file']}:{f['line']}" if f["file"] else Path(f["obj"]).name
        lines.append(f"      {f['fn'] or '???'} ({where})")
    return "\n".join(lines)


def ours(error):
    return any(Path(f["obj"]).resolve() == MODULE for f in frames(error) if f["obj"])


def main(rounds):
    with tempfile.TemporaryDirectory() as work:
        shim = Path(work) / "getrandom.so"
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(shim), str(HERE / "shims" / "getrandom.c")],
                       check=True)
        report = Path(work) / "memcheck.xml"
        env = dict(os.environ, PYTHONMALLOC="malloc", LD_PRELOAD=str(shim),
                   PYTHONPATH=os.pathsep.join([str(MODULE.parent), os.environ.get("PYTHONPATH", "")]))
        command = ["valgrind", "--tool=memcheck", "--xml=yes", f"--xml-file={report}", "--leak-check=full",
                   "--show-leak-kinds=definite,indirect", "--num-callers=40", "--track-origins=yes",
                   sys.executable, str(HERE / "workload.py"), str(rounds)]
        run = subprocess.run(command, env=env, capture_output=True, text=True)
        if run.returncode != 0 or "workload: ok" not in run.stdout:
            print(run.stdout, run.stderr, sep="\n")
            print("memcheck: the workload itself failed")
            return 1
        errors = ElementTree.parse(report).getroot().findall("error")

    memory = [e for e in errors if e.findtext("kind") not in LEAKS]
    leaks = [e for e in errors if e.findtext("kind") in LEAKS]
    module_leaks = [e for e in leaks if ours(e)]
    lost = sum(int(e.findtext("xwhat/leakedbytes") or 0) for e in module_leaks)
    print(f"memcheck: {len(memory)} memory error(s), {len(module_leaks)} leak record(s) in the module "
          f"({lost} bytes), {len(leaks) - len(module_leaks)} outside it")
    for error in memory + module_leaks:
        print(describe(error))
    for error in leaks:
        if error not in module_leaks:
            print("  (not the module's)", describe(error).strip())
    return 1 if memory or module_leaks else 0


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1]) if len(sys.argv) > 1 else 2))
