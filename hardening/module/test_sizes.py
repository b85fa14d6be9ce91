"""Hostile sizes: floods of garbage at and just over the token size limit."""

import random
import sys

from tessarils import Tessaril
from tessarils_testing import INVALID_TOKEN, run_python

LIMIT = 32768


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def garbage(rng, size):
    """Token-shaped garbage: three fields of base64url characters that get
    past the size and shape checks into decoding, or none at all."""
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_=+/. \u00e9"
    text = "".join(rng.choices(alphabet, k=size))
    while len(text.encode()) > size:
        text = text[:-1]
    return text + "A" * (size - len(text.encode()))


def test_flood_at_and_over_the_limit_keeps_memory_flat(backend):
    box = Tessaril(backend, key=5)
    rng = random.Random(1)
    shaped = "A" * 16 + "." + "A" * 24 + "." + "A" * (LIMIT - 44) + "=="  # decodes every field, then fails
    assert len(shaped) == LIMIT
    pool = [garbage(rng, LIMIT) for _ in range(32)] + [shaped, shaped.replace("A", "\u00e9", 1)[: LIMIT - 1]]
    over = [garbage(rng, LIMIT + 1) for _ in range(32)] + ["A" * 16 + "." + "A" * 24 + "." + "A" * (LIMIT - 41)]

    def flood(rounds):
        for _ in range(rounds):
            for token in over:
                try:
                    box.decrypt(token)
                except ValueError as error:
                    assert str(error) == INVALID_TOKEN
                else:
                    raise AssertionError("an oversized token opened")
            for token in pool:
                try:
                    box.decrypt_for(token, "session")
                except ValueError:
                    pass
                else:
                    raise AssertionError("garbage opened")

    flood(20)  # warm-up: allocator pools, caches
    rss, blocks = resident_bytes(), sys.getallocatedblocks()
    flood(300)
    grown = resident_bytes() - rss
    # A decoded field kept per call would grow by gigabytes over these 20,000 calls.
    assert grown < 4 * 1024 * 1024, f"resident memory grew by {grown} bytes"
    assert abs(sys.getallocatedblocks() - blocks) < 64


def test_oversized_token_is_refused_before_any_allocation(shims, backend):
    name = str(backend).split(".")[1]
    counts = run_python(f"""
        import ctypes, json
        from tessarils import Backend, Tessaril
        shim = ctypes.CDLL(None)
        shim.tessarils_shim_count_end.restype = ctypes.c_long
        box = Tessaril(Backend.{name}, key=5)
        tokens = {{
            "over": "A" * 16 + "." + "A" * 24 + "." + "A" * ({LIMIT} - 41),
            "at": "A" * 16 + "." + "A" * 24 + "." + "A" * ({LIMIT} - 42),
            "none": None,
        }}
        def allocations(token):
            counts = []
            for _ in range(50):
                shim.tessarils_shim_count_begin()
                try:
                    box.decrypt(token)
                except (ValueError, TypeError):
                    pass
                counts.append(shim.tessarils_shim_count_end())
            return min(counts[10:]), max(counts[10:])
        print(json.dumps({{name: allocations(token) for name, token in tokens.items()}}))
    """, preload=shims["count_allocations"])
    # "none" fails in argument conversion, before the engine: the cost of the
    # call and the exception alone. The oversized token costs no more; the
    # one at the limit is split and decoded, which allocates.
    assert counts["over"] == counts["none"] == [0, 0], counts
    assert counts["at"][0] > counts["none"][1], counts
