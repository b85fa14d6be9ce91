"""Compares two builds of tessarils side by side, in one process on one machine.

Each build is a directory holding an installed copy of the module (a wheel
unpacked, say). Both extensions are loaded into this process (each carries
its own hidden copies of its libraries), and every case is timed on one build
and then the other, round after round, so that a slow spell of the shared
machine hits both alike; a case's figure is the median over its rounds of the
best of three timings. Prints microseconds per call for encrypt and decrypt
under both backends at 5 B, 1 KiB and 16 KiB, and the change from the first
build to the second. It only measures.

    python3 bench/compare_builds.py BASELINE_DIR NEW_DIR [--rounds N]
"""

from __future__ import annotations

import argparse
import glob
import importlib.machinery
import importlib.util
import os
import statistics
import timeit

from peers import backend_names

SIZES = {"5 B": 5, "1 KiB": 1024, "16 KiB": 16384}


def load(directory: str):
    path = glob.glob(os.path.join(directory, "tessarils.*.so"))[0]
    loader = importlib.machinery.ExtensionFileLoader("tessarils", path)
    spec = importlib.util.spec_from_file_location("tessarils", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def cases(module):
    for name in backend_names(module):
        box = module.Tessaril(getattr(module.Backend, name), key=12345)
        for label, size in SIZES.items():
            data = b"x" * size
            token = box.encrypt(data)
            yield f"{name} encrypt {label}", size, lambda box=box, data=data: box.encrypt(data)
            yield f"{name} decrypt {label}", size, lambda box=box, token=token: box.decrypt(token)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("baseline")
    parser.add_argument("new")
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()

    builds = [list(cases(load(args.baseline))), list(cases(load(args.new)))]
    samples: list[dict[str, list[float]]] = [{}, {}]
    for _ in range(args.rounds):
        for index in range(len(builds[0])):
            for build, found in zip(builds, samples):
                case, size, call = build[index]
                calls = max(500, 500_000 // (size + 64))
                best = min(timeit.repeat(call, number=calls, repeat=3))
                found.setdefault(case, []).append(best / calls * 1e6)

    print("| case | baseline µs | new µs | change |")
    print("|---|---:|---:|---:|")
    for case in samples[0]:
        old = statistics.median(samples[0][case])
        new = statistics.median(samples[1][case])
        print(f"| {case} | {old:.2f} | {new:.2f} | {(new / old - 1) * 100:+.1f} % |")


if __name__ == "__main__":
    main()
