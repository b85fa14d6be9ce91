"""Compares tessarils with what its users already have, in one run on one machine.

Measures the median time per call, in microseconds, for payloads of 5 B,
1 KiB and 16 KiB:

* tessarils ``encrypt`` and ``decrypt`` under both backends, with ASCII
  payloads and with non-ASCII ones (accented Latin, CJK and emoji mixed) of
  the same byte size;
* ``cryptography``'s Fernet ``encrypt`` and ``decrypt``;
* a hand-rolled token: ``os.urandom`` nonce, ``AESGCM``, ``base64.urlsafe_b64encode``;
* the bare ``AESGCM`` and ``ChaCha20Poly1305`` calls of ``cryptography``;
* PyNaCl's bare XChaCha20-Poly1305 call.

The bare calls get a fixed nonce and the 17-byte context record that a
default tessarils token authenticates, as associated data, so they do the
same cipher work without the nonce draw or the encoding. Every case is
sampled in turn, round after round, so that a slow spell of the machine hits
all of them alike; a case's figure is the median of its rounds.

It prints a table of microseconds per call, one of ratios against each peer,
and the performance targets with their verdicts; ``--json`` also writes all
of it to build/bench/results.json, or to the file named after it. It only
measures: nothing here passes or fails a build.

    PYTHONPATH=build/bench/python_module python3 bench/compare.py [--json [PATH]]
"""

from __future__ import annotations

import argparse
import base64
import json
import os
import platform
import resource
import statistics
import sys
import time
import timeit
from dataclasses import dataclass

import nacl.bindings
from cryptography.fernet import Fernet
from cryptography.hazmat.primitives.ciphers.aead import AESGCM, ChaCha20Poly1305

import tessarils

SIZES = {"5 B": 5, "1 KiB": 1024, "16 KiB": 16384}

# The context record of a token sealed with the default purpose and no expiry.
CONTEXT = bytes([1, 0, 0, 0, 0, 0, 0, 0, 0, 7]) + b"session"

OURS_AES = "tessarils AES256_GCM"
OURS_XCHACHA = "tessarils XCHACHA20_POLY1305"
OURS_AES_TEXT = "tessarils AES256_GCM, non-ASCII"
OURS_XCHACHA_TEXT = "tessarils XCHACHA20_POLY1305, non-ASCII"
FERNET = "Fernet"
HAND_ROLLED = "AESGCM + urandom + base64"
BARE_AESGCM = "bare AESGCM"
BARE_CHACHA = "bare ChaCha20Poly1305"
BARE_NACL = "bare PyNaCl XChaCha20"

IMPLEMENTATIONS = [OURS_AES, OURS_XCHACHA, OURS_AES_TEXT, OURS_XCHACHA_TEXT, FERNET, HAND_ROLLED, BARE_AESGCM, BARE_CHACHA, BARE_NACL]
OURS = [OURS_AES, OURS_XCHACHA]
PEERS = [FERNET, HAND_ROLLED, BARE_AESGCM, BARE_CHACHA, BARE_NACL]
OPERATIONS = ("encrypt", "decrypt")


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
    Target(OURS_AES, BARE_AESGCM, "5 B", at_most=1.0),
    Target(OURS_AES, FERNET, "5 B", faster_by=20),
    Target(OURS_AES, BARE_AESGCM, "16 KiB", at_most=2.5, operations=("encrypt",)),
    Target(OURS_AES, BARE_AESGCM, "16 KiB", at_most=2.0, operations=("decrypt",)),
    Target(OURS_AES, FERNET, "16 KiB", faster_by=10),
    Target(OURS_XCHACHA, BARE_NACL, "5 B", at_most=0.3),
    Target(OURS_XCHACHA, BARE_NACL, "16 KiB", at_most=0.5),
    # The kind of text must not change the cost (UTF-8 validation).
    Target(OURS_AES_TEXT, OURS_AES, "16 KiB", at_most=1.15),
    Target(OURS_XCHACHA_TEXT, OURS_XCHACHA, "16 KiB", at_most=1.15),
]

# Mixed non-ASCII text: accented Latin (2 bytes a character), CJK (3) and
# emoji (4), with a few ASCII spaces.
TEXT_UNIT = "gr\u00fc\u00dfe \u00e9t\u00e9 \u6f22\u5b57\u304b\u306a \U0001f600\U0001f510 "


def non_ascii_text(size: int) -> bytes:
    """|size| bytes of UTF-8: whole characters of TEXT_UNIT, then spaces."""
    text, length = [], 0
    while True:
        for char in TEXT_UNIT:
            width = len(char.encode())
            if length + width > size:
                return ("".join(text) + " " * (size - length)).encode()
            text.append(char)
            length += width


def build_cases(size: int, clock) -> dict[tuple[str, str], timeit.Timer]:
    """Returns a timer per (implementation, operation) that runs exactly that call.

    The calls are compiled as statements, so that no wrapper adds its own
    call to the time. Each decrypt case opens a token or ciphertext made
    beforehand, and is checked once to give back the payload.
    """
    data = b"x" * size
    text = non_ascii_text(size)
    key128 = int.from_bytes(os.urandom(16), "big")
    aesgcm = AESGCM(AESGCM.generate_key(256))
    urandom, b64encode, b64decode = os.urandom, base64.urlsafe_b64encode, base64.urlsafe_b64decode

    def hand_rolled_encrypt(data: bytes) -> bytes:
        nonce = urandom(12)
        return b64encode(nonce + aesgcm.encrypt(nonce, data, None))

    def hand_rolled_decrypt(token: bytes) -> bytes:
        raw = b64decode(token)
        return aesgcm.decrypt(raw[:12], raw[12:], None)

    names = {
        "data": data,
        "text": text,
        "context": CONTEXT,
        "nonce12": os.urandom(12),
        "nonce24": os.urandom(24),
        "ours_aes": tessarils.Tessaril(tessarils.Backend.AES256_GCM, key=key128),
        "ours_xchacha": tessarils.Tessaril(tessarils.Backend.XCHACHA20_POLY1305, key=key128),
        "fernet": Fernet(Fernet.generate_key()),
        "aesgcm": aesgcm,
        "chacha": ChaCha20Poly1305(ChaCha20Poly1305.generate_key()),
        "nacl_key": os.urandom(32),
        "nacl_encrypt": nacl.bindings.crypto_aead_xchacha20poly1305_ietf_encrypt,
        "nacl_decrypt": nacl.bindings.crypto_aead_xchacha20poly1305_ietf_decrypt,
        "hand_rolled_encrypt": hand_rolled_encrypt,
        "hand_rolled_decrypt": hand_rolled_decrypt,
    }
    encrypt = {
        OURS_AES: "ours_aes.encrypt(data)",
        OURS_XCHACHA: "ours_xchacha.encrypt(data)",
        OURS_AES_TEXT: "ours_aes.encrypt(text)",
        OURS_XCHACHA_TEXT: "ours_xchacha.encrypt(text)",
        FERNET: "fernet.encrypt(data)",
        HAND_ROLLED: "hand_rolled_encrypt(data)",
        BARE_AESGCM: "aesgcm.encrypt(nonce12, data, context)",
        BARE_CHACHA: "chacha.encrypt(nonce12, data, context)",
        BARE_NACL: "nacl_encrypt(data, context, nonce24, nacl_key)",
    }
    decrypt = {
        OURS_AES: "ours_aes.decrypt(sealed)",
        OURS_XCHACHA: "ours_xchacha.decrypt(sealed)",
        OURS_AES_TEXT: "ours_aes.decrypt(sealed)",
        OURS_XCHACHA_TEXT: "ours_xchacha.decrypt(sealed)",
        FERNET: "fernet.decrypt(sealed)",
        HAND_ROLLED: "hand_rolled_decrypt(sealed)",
        BARE_AESGCM: "aesgcm.decrypt(nonce12, sealed, context)",
        BARE_CHACHA: "chacha.decrypt(nonce12, sealed, context)",
        BARE_NACL: "nacl_decrypt(sealed, context, nonce24, nacl_key)",
    }
    cases = {}
    for name in IMPLEMENTATIONS:
        own = dict(names, sealed=eval(encrypt[name], dict(names)))
        if eval(decrypt[name], dict(own)) != (text if name in (OURS_AES_TEXT, OURS_XCHACHA_TEXT) else data):
            raise SystemExit(f"{name} decrypt does not give the payload back")
        cases[(name, "encrypt")] = timeit.Timer(encrypt[name], timer=clock, globals=dict(names))
        cases[(name, "decrypt")] = timeit.Timer(decrypt[name], timer=clock, globals=own)
    return cases


def calibrate(timer: timeit.Timer, sample_seconds: float) -> int:
    """The number of calls that makes one sample last about |sample_seconds|."""
    loops = 1
    while True:
        elapsed = timer.timeit(loops)
        if elapsed >= sample_seconds / 4:
            return max(1, round(loops * sample_seconds / elapsed))
        loops *= 4


def measure(rounds: int, sample_seconds: float, clock) -> dict[tuple[str, str, str], float]:
    """Median microseconds per call for every implementation, operation and size."""
    timers = {
        (name, operation, size_name): timer
        for size_name, size in SIZES.items()
        for (name, operation), timer in build_cases(size, clock).items()
    }
    loops = {key: calibrate(timer, sample_seconds) for key, timer in timers.items()}
    samples: dict[tuple[str, str, str], list[float]] = {key: [] for key in timers}
    for _ in range(rounds):
        for key, timer in timers.items():  # timeit turns the garbage collector off while it times
            samples[key].append(timer.timeit(loops[key]) / loops[key] * 1e6)
    return {key: statistics.median(values) for key, values in samples.items()}


def peak_rss_growth(calls: int) -> dict[str, dict[str, int]]:
    """Peak RSS (KiB) after a warm-up and after |calls| more encrypt + decrypt pairs, per backend."""
    result = {}
    for name in ("AES256_GCM", "XCHACHA20_POLY1305"):
        box = tessarils.Tessaril(getattr(tessarils.Backend, name), key=1)
        payload = b"x" * 1024
        for _ in range(10_000):
            box.decrypt(box.encrypt(payload))
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        for _ in range(calls):
            box.decrypt(box.encrypt(payload))
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result[name] = {"calls": calls, "peak_rss_kib_before": before, "peak_rss_kib_after": after}
    return result


def render(results: dict[tuple[str, str, str], float]) -> tuple[str, list[dict[str, object]]]:
    lines = []
    width = max(len(name) for name in IMPLEMENTATIONS) + 2
    header = "".join(f"{size:>12}" for size in SIZES)

    for operation in OPERATIONS:
        lines.append(f"\n{operation}: microseconds per call (median)")
        lines.append(f"{'':{width}}{header}")
        for name in IMPLEMENTATIONS:
            row = "".join(f"{results[(name, operation, size)]:12.3f}" for size in SIZES)
            lines.append(f"{name:{width}}{row}")

    for operation in OPERATIONS:
        for ours in OURS:
            lines.append(f"\n{operation}, {ours}: ours / peer (below 1 is faster)")
            lines.append(f"{'':{width}}{header}")
            for peer in PEERS:
                row = "".join(
                    f"{results[(ours, operation, size)] / results[(peer, operation, size)]:12.3f}" for size in SIZES
                )
                lines.append(f"{peer:{width}}{row}")

    verdicts = []
    lines.append("\ntargets")
    for target in TARGETS:
        for operation in target.operations:
            ratio = results[(target.ours, operation, target.size)] / results[(target.peer, operation, target.size)]
            met = target.met(ratio)
            shown = f"{ratio:.3f} x" if target.at_most is not None else f"{1 / ratio:.1f} x faster"
            lines.append(f"  {'met    ' if met else 'NOT MET'}  {target.describe()} ({operation}): {shown}")
            verdicts.append(
                {"target": target.describe(), "operation": operation, "ratio": ratio, "met": met}
            )
    return "\n".join(lines), verdicts


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
        help="encrypt + decrypt pairs for the peak-RSS check, per backend (0 skips it; default 1,000,000)",
    )
    parser.add_argument(
        "--cpu-time", action="store_true",
        help="time with this process's CPU time instead of the wall clock, for a machine that other work shares",
    )
    args = parser.parse_args()

    print(f"Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs; "
          f"{args.rounds} rounds of {args.sample_ms:g} ms per case, "
          f"{'process CPU time' if args.cpu_time else 'wall clock'}")
    # First, while the process's peak is still that of the imports alone.
    rss = peak_rss_growth(args.rss_calls) if args.rss_calls > 0 else {}
    results = measure(args.rounds, args.sample_ms / 1000, time.process_time if args.cpu_time else time.perf_counter)
    text, verdicts = render(results)
    print(text)

    for backend, figures in rss.items():
        growth = figures["peak_rss_kib_after"] - figures["peak_rss_kib_before"]
        print(f"\npeak RSS, {backend}: {figures['peak_rss_kib_before']} KiB after warm-up, "
              f"{figures['peak_rss_kib_after']} KiB after {figures['calls']:,} more 1 KiB "
              f"encrypt + decrypt pairs ({growth:+d} KiB)", end="")
    print()

    if args.json:
        document = {
            "python": sys.version,
            "machine": platform.machine(),
            "cpus": os.cpu_count(),
            "unit": "microseconds per call, median" + (", process CPU time" if args.cpu_time else ", wall clock"),
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
