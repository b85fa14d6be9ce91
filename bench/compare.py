"""Compares tessarils with the token formats its users would otherwise pick, in one run on one machine.

Measures the median time per call, in microseconds, to seal and to open
payloads of 5 B, 40 B of JSON, 1 KiB, 15,000 B and 16 KiB with:

* tessarils under both backends, with ASCII payloads and with non-ASCII ones
  (accented Latin, CJK and emoji mixed) of the same byte size;
* the encrypted token formats: PASETO v4.local (pyseto), JWE compact with
  ``dir`` + ``A256GCM`` (joserfc), Branca (pybranca), Fernet (cryptography)
  and Tink's AEAD from an AES256_GCM keyset, base64url-encoded;
* itsdangerous' ``URLSafeTimedSerializer``, which signs but does not encrypt;
* for scale, a hand-rolled token (``os.urandom`` nonce, ``AESGCM``, base64url)
  and the bare ``AESGCM``, ``ChaCha20Poly1305`` and PyNaCl XChaCha20-Poly1305
  calls, given a fixed nonce and the context record of a default token.

bench/peers.py sets every one of them up. Every case is sampled in turn,
round after round, so that a slow spell of the machine hits all of them
alike; a case's figure is the median of its rounds. Compare the ratios of
one run, not figures of different runs.

It prints the versions, a table of microseconds per call, the ratios of our
fastest backend to the fastest encrypted token format, what each format
does, the length of each token of the 40-byte JSON payload sealed for a
13-character purpose, and the performance targets with their verdicts;
``--json`` also writes all of it to build/bench/results.json, or to the file
named after it. It only measures: nothing here passes or fails a build.

    PYTHONPATH=build/bench/python_module python3 bench/compare.py [--json [PATH]]
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import resource
import statistics
import sys
import time
import timeit
import warnings
from dataclasses import dataclass

import peers
from peers import (
    backend_names,
    BARE_AESGCM,
    BARE_NACL,
    FERNET,
    OURS,
    OURS_AES,
    OURS_AES_TEXT,
    OURS_XCHACHA,
    OURS_XCHACHA_TEXT,
    PAYLOAD_JSON,
    PURPOSE,
    SIGNED,
    TOKEN,
    Implementation,
)

JSON_SIZE = "40 B JSON"
SIZES = {"5 B": 5, JSON_SIZE: len(PAYLOAD_JSON), "1 KiB": 1024, "15,000 B": 15_000, "16 KiB": 16_384}
OPERATIONS = ("seal", "open")


def payload(size_name: str) -> bytes:
    return PAYLOAD_JSON if size_name == JSON_SIZE else peers.ascii_payload(SIZES[size_name])


# Groups that a target takes the fastest of.
OUR_FASTEST = "our fastest backend"
FASTEST_TOKEN = "the fastest encrypted token format"


@dataclass(frozen=True)
class Target:
    """One performance target: ours / peer within a bound, per operation."""

    ours: str
    peer: str
    size: str
    at_most: float | None = None  # ours takes at most this multiple of the peer's time
    faster_by: float | None = None  # the peer takes at least this multiple of ours
    operations: tuple[str, ...] = OPERATIONS

    def describe(self) -> str:
        bound = f"<= {self.at_most:g} x" if self.at_most is not None else f">= {self.faster_by:g} x faster than"
        return f"{self.ours}, {self.size}: {bound} {self.peer}"

    def met(self, ratio: float) -> bool:
        if self.at_most is not None:
            return ratio <= self.at_most
        return 1 / ratio >= self.faster_by


TARGETS = [
    # Against the formats a user weighs against us.
    *(Target(OUR_FASTEST, FASTEST_TOKEN, size, at_most=0.5) for size in ("5 B", JSON_SIZE)),
    *(Target(OUR_FASTEST, FASTEST_TOKEN, size, at_most=1.0) for size in ("15,000 B", "16 KiB")),
    # Against the primitives underneath, and Fernet.
    Target(OURS_AES, BARE_AESGCM, "5 B", at_most=1.0),
    Target(OURS_AES, FERNET, "5 B", faster_by=20),
    Target(OURS_AES, BARE_AESGCM, "16 KiB", at_most=2.5, operations=("seal",)),
    Target(OURS_AES, BARE_AESGCM, "16 KiB", at_most=2.0, operations=("open",)),
    Target(OURS_AES, FERNET, "16 KiB", faster_by=10),
    Target(OURS_XCHACHA, BARE_NACL, "5 B", at_most=0.3),
    Target(OURS_XCHACHA, BARE_NACL, "16 KiB", at_most=0.5),
    # The kind of text must not change the cost (UTF-8 validation).
    Target(OURS_AES_TEXT, OURS_AES, "16 KiB", at_most=1.15),
    Target(OURS_XCHACHA_TEXT, OURS_XCHACHA, "16 KiB", at_most=1.15),
]


def build_cases(implementations: list[Implementation], clock) -> dict[tuple[str, str, str], timeit.Timer]:
    """Returns a timer per (implementation, operation, size) that runs exactly that call.

    The calls are compiled as statements, so that no wrapper adds its own
    call to the time. Each open case opens a token made beforehand, and is
    checked once to give back the payload.
    """
    cases = {}
    for implementation in implementations:
        setup = implementation.setup
        if setup is None:
            continue
        for size_name in SIZES:
            data = setup.argument(payload(size_name))
            names = dict(setup.names, data=data)
            sealed = eval(setup.seal, dict(names))
            own = dict(names, sealed=sealed)
            if eval(setup.open, dict(own)) != data:
                raise SystemExit(f"{implementation.name} does not give the {size_name} payload back")
            cases[(implementation.name, "seal", size_name)] = timeit.Timer(setup.seal, timer=clock, globals=names)
            cases[(implementation.name, "open", size_name)] = timeit.Timer(setup.open, timer=clock, globals=own)
    return cases


def calibrate(timer: timeit.Timer, sample_seconds: float) -> int:
    """The number of calls that makes one sample last about |sample_seconds|."""
    loops = 1
    while True:
        elapsed = timer.timeit(loops)
        if elapsed >= sample_seconds / 4:
            return max(1, round(loops * sample_seconds / elapsed))
        loops *= 4


def measure(implementations, rounds: int, sample_seconds: float, clock) -> dict[tuple[str, str, str], float]:
    """Median microseconds per call for every implementation, operation and size."""
    timers = build_cases(implementations, clock)
    loops = {key: calibrate(timer, sample_seconds) for key, timer in timers.items()}
    samples: dict[tuple[str, str, str], list[float]] = {key: [] for key in timers}
    for round_ in range(rounds):
        for key, timer in timers.items():  # timeit turns the garbage collector off while it times
            if round_ >= SLOW_ROUNDS and samples[key][0] > SLOW_SAMPLES * sample_seconds * 1e6:
                continue
            samples[key].append(timer.timeit(loops[key]) / loops[key] * 1e6)
    return {key: statistics.median(values) for key, values in samples.items()}


# A case whose one call outlasts this many samples (pybranca's quadratic
# base62 codec takes seconds at 15,000 B) is thousands of times slower than
# any other: a few rounds place it well enough.
SLOW_SAMPLES = 20
SLOW_ROUNDS = 3


def peak_rss_growth(calls: int) -> dict[str, dict[str, int]]:
    """Peak RSS (KiB) after a warm-up and after |calls| more seal + open pairs, per backend."""
    import tessarils

    result = {}
    for name in backend_names(tessarils):
        box = tessarils.Tessaril(getattr(tessarils.Backend, name), key=1)
        data = b"x" * 1024
        for _ in range(10_000):
            box.decrypt(box.encrypt(data))
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        for _ in range(calls):
            box.decrypt(box.encrypt(data))
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result[name] = {"calls": calls, "peak_rss_kib_before": before, "peak_rss_kib_after": after}
    return result


def fastest(results, names: list[str], operation: str, size: str) -> tuple[float, str]:
    return min((results[(name, operation, size)], name) for name in names if (name, operation, size) in results)


def ratio_of(results, implementations, target: Target, operation: str) -> tuple[float, str, str]:
    """ours / peer for a target, with the names that stand for each group."""
    groups = {
        OUR_FASTEST: [i.name for i in implementations if i.kind == OURS and i.setup],
        FASTEST_TOKEN: [i.name for i in implementations if i.kind == TOKEN and i.setup],
    }
    ours_time, ours = fastest(results, groups.get(target.ours, [target.ours]), operation, target.size)
    peer_time, peer = fastest(results, groups.get(target.peer, [target.peer]), operation, target.size)
    return ours_time / peer_time, ours, peer


def json_tokens(implementations) -> dict[str, int]:
    """Characters of each token of PAYLOAD_JSON sealed for PURPOSE."""
    return {
        i.name: len(i.setup.json_token())
        for i in implementations
        if i.setup is not None and i.setup.json_token is not None
    }


def cell(microseconds: float) -> str:
    """A column of the time table: three decimals, or whole numbers where they would not fit."""
    return f"{microseconds:11.3f}" if microseconds < 10_000 else f"{microseconds:11,.0f}"


def render(implementations, results, lengths) -> tuple[str, list[dict[str, object]]]:
    lines = []
    names = [i.name for i in implementations]
    width = max(len(name) for name in names) + 2
    header = "".join(f"{size:>11}" for size in SIZES)

    for operation in OPERATIONS:
        lines.append(f"\n{operation}: microseconds per call (median)")
        lines.append(f"{'':{width}}{header}")
        for implementation in implementations:
            if implementation.unavailable:
                lines.append(f"{implementation.name:{width}}{implementation.unavailable}")
                continue
            row = "".join(cell(results[(implementation.name, operation, size)]) for size in SIZES)
            lines.append(f"{implementation.name:{width}}{row}")

    ours_names = [i.name for i in implementations if i.kind == OURS and i.setup]
    for operation in OPERATIONS:
        lines.append(f"\n{operation}: our fastest backend / each format (below 1 is faster)")
        lines.append(f"{'':{width}}{header}")
        for implementation in implementations:
            if implementation.kind not in (TOKEN, SIGNED) or implementation.setup is None:
                continue
            ratios = (
                fastest(results, ours_names, operation, size)[0] / results[(implementation.name, operation, size)]
                for size in SIZES
            )
            row = "".join(f"{ratio:11.3f}" for ratio in ratios)
            lines.append(f"{implementation.name:{width}}{row}")

    lines.append(f"\nwhat each format does; token of the {len(PAYLOAD_JSON)}-byte JSON payload "
                 f"sealed for {PURPOSE!r} (where the format carries a purpose)")
    for implementation in implementations:
        features = implementation.features
        if features is None:
            continue
        length = lengths.get(implementation.name)
        lines.append(f"  {implementation.name}: {length if length else '-'} characters")
        lines.append(f"      encrypts: {features.encrypts}; expiry: {features.expiry}")
        lines.append(f"      purpose or context: {features.context}; key rotation: {features.rotation}")

    verdicts = []
    lines.append("\ntargets")
    for target in TARGETS:
        for operation in target.operations:
            ratio, ours, peer = ratio_of(results, implementations, target, operation)
            met = target.met(ratio)
            shown = f"{ratio:.3f} x" if target.at_most is not None else f"{1 / ratio:.1f} x faster"
            which = f" [{ours} / {peer}]" if (ours, peer) != (target.ours, target.peer) else ""
            lines.append(f"  {'met    ' if met else 'NOT MET'}  {target.describe()} ({operation}): {shown}{which}")
            verdicts.append({
                "target": target.describe(), "operation": operation, "ratio": ratio, "met": met,
                "ours": ours, "peer": peer,
            })
    ours_length, ours = min((lengths[n], n) for n in ours_names)
    encrypted = [i.name for i in implementations if i.kind == TOKEN and i.name in lengths]
    peer_length, peer = min((lengths[n], n) for n in encrypted)
    met = ours_length <= peer_length
    lines.append(f"  {'met    ' if met else 'NOT MET'}  our token of the {len(PAYLOAD_JSON)}-byte JSON payload "
                 f"<= the shortest encrypted peer token: {ours_length} / {peer_length} characters [{ours} / {peer}]")
    verdicts.append({
        "target": "our shortest token <= the shortest encrypted peer token, 40-byte JSON payload",
        "operation": "length", "ratio": ours_length / peer_length, "met": met, "ours": ours, "peer": peer,
    })
    return "\n".join(lines), verdicts


def processor_name() -> str:
    """The processor's model and which of the engine's code paths it can take (they set the speed)."""
    name, flags = platform.processor() or platform.machine(), set()
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    name = value.strip()
                elif key.strip() in ("flags", "Features"):
                    flags = set(value.split())
                    break
    except OSError:
        pass
    features = {"aes": "AES-NI", "avx2": "AVX2", "avx512bw": "AVX-512", "asimd": "NEON"}
    present = [label for flag, label in features.items() if flag in flags]
    return f"{name} ({', '.join(present) or 'no vector extensions'})"


# Results stay in the build tree, out of the sources and the sdist.
DEFAULT_JSON = "build/bench/results.json"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--json", metavar="PATH", nargs="?", const=DEFAULT_JSON,
        help=f"also write the results to PATH (default {DEFAULT_JSON}, inside the build tree)",
    )
    parser.add_argument("--rounds", type=int, default=15, help="samples per case (default 15)")
    parser.add_argument("--sample-ms", type=float, default=10.0, help="length of one sample (default 10 ms)")
    parser.add_argument(
        "--rss-calls", type=int, default=1_000_000,
        help="seal + open pairs for the peak-RSS check, per backend (0 skips it; default 1,000,000)",
    )
    parser.add_argument(
        "--cpu-time", action="store_true",
        help="time with this process's CPU time instead of the wall clock, for a machine that other work shares",
    )
    args = parser.parse_args()
    # pybranca stamps its tokens with datetime.utcnow(), which warns on every call.
    warnings.simplefilter("ignore", DeprecationWarning)

    print(f"Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs; "
          f"{args.rounds} rounds of {args.sample_ms:g} ms per case, "
          f"{'process CPU time' if args.cpu_time else 'wall clock'}")
    # First, while the process's peak is still that of the imports alone.
    rss = peak_rss_growth(args.rss_calls) if args.rss_calls > 0 else {}
    implementations = peers.implementations()
    versions = {name: peers.distribution_version(name) for name in peers.DISTRIBUTIONS}
    print("versions: " + ", ".join(f"{name} {version}" for name, version in versions.items()))
    for implementation in implementations:
        if implementation.unavailable:
            print(f"{implementation.name}: {implementation.unavailable}")
    results = measure(implementations, args.rounds, args.sample_ms / 1000,
                      time.process_time if args.cpu_time else time.perf_counter)
    lengths = json_tokens(implementations)
    text, verdicts = render(implementations, results, lengths)
    print(text)

    for backend, figures in rss.items():
        growth = figures["peak_rss_kib_after"] - figures["peak_rss_kib_before"]
        print(f"\npeak RSS, {backend}: {figures['peak_rss_kib_before']} KiB after warm-up, "
              f"{figures['peak_rss_kib_after']} KiB after {figures['calls']:,} more 1 KiB "
              f"seal + open pairs ({growth:+d} KiB)", end="")
    print()

    if args.json:
        document = {
            # The stamp of the generated documentation: when, on what, by which command.
            "measured": datetime.datetime.now(datetime.UTC).isoformat(timespec="seconds"),
            "processor": processor_name(),
            "command": os.environ.get("TESSARILS_BENCH_COMMAND", " ".join(["bench/compare.py", *sys.argv[1:]])),
            "python": sys.version,
            "machine": platform.machine(),
            "cpus": os.cpu_count(),
            "unit": "microseconds per call, median" + (", process CPU time" if args.cpu_time else ", wall clock"),
            "versions": versions,
            "implementations": [
                {
                    "name": i.name, "kind": i.kind, "unavailable": i.unavailable,
                    "token_characters": lengths.get(i.name),
                    "features": vars(i.features) if i.features else None,
                }
                for i in implementations
            ],
            "results": [
                {"implementation": name, "operation": operation, "size": size, "microseconds": value}
                for (name, operation, size), value in results.items()
            ],
            "targets": verdicts,
            "peak_rss": rss,
        }
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump(document, out, indent=2)
        print(f"results written to {args.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
