"""Compares two builds of tessarils side by side, in one run on one machine.

Each build is a directory holding an installed copy of the module (a wheel
unpacked, say). Two copies of one extension cannot share a process, so each
round times every case in a child process per build, the builds taking turns,
and a case's figure is the median over its rounds: a slow spell of the machine
hits both builds alike. Prints microseconds per call for encrypt and decrypt
under both backends at 5 B, 1 KiB and 16 KiB, and the change from the first
build to the second. It only measures.

    python3 bench/compare_builds.py BASELINE_DIR NEW_DIR [--rounds N]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys

# Run in the child: one round of every case, microseconds per call.
ROUND = r"""
import json, sys, timeit
from tessarils import Backend, Tessaril
out = {}
for name, backend in (("AES256_GCM", Backend.AES256_GCM), ("XCHACHA20_POLY1305", Backend.XCHACHA20_POLY1305)):
    box = Tessaril(backend, key=12345)
    for label, size in (("5 B", 5), ("1 KiB", 1024), ("16 KiB", 16384)):
        data = b"x" * size
        token = box.encrypt(data)
        calls = max(1000, 1_000_000 // (size + 64))
        for op, call in (("encrypt", lambda: box.encrypt(data)), ("decrypt", lambda: box.decrypt(token))):
            best = min(timeit.repeat(call, number=calls, repeat=3))
            out[f"{name} {op} {label}"] = best / calls * 1e6
json.dump(out, sys.stdout)
"""


def one_round(directory: str) -> dict[str, float]:
    env = dict(os.environ, PYTHONPATH=directory)
    result = subprocess.run([sys.executable, "-c", ROUND], env=env, check=True, capture_output=True, text=True)
    return json.loads(result.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("baseline")
    parser.add_argument("new")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    samples: dict[str, dict[str, list[float]]] = {args.baseline: {}, args.new: {}}
    for _ in range(args.rounds):
        for directory in (args.baseline, args.new):
            for case, micros in one_round(directory).items():
                samples[directory].setdefault(case, []).append(micros)

    print("| case | baseline µs | new µs | change |")
    print("|---|---:|---:|---:|")
    for case in samples[args.baseline]:
        old = statistics.median(samples[args.baseline][case])
        new = statistics.median(samples[args.new][case])
        print(f"| {case} | {old:.2f} | {new:.2f} | {(new / old - 1) * 100:+.1f} % |")


if __name__ == "__main__":
    main()
