"""What a revocation check and a one-time link cost: calls per second and the
p50/p99 latency of ``is_revoked`` and ``consume_once`` on each store, with 1
and with 4 processes calling at once. A benchmark, not a test: it asserts
nothing and prints a Markdown table (``--json FILE`` also writes the figures).

Redis is measured against ``--redis-url``, or else against a redis-server
that the benchmark starts on loopback in a temporary directory with the
durable persistence (``appendonly yes``, ``appendfsync always``) and stops
again; without either, its rows are left out.

    PYTHONPATH=tessarils_web/src python3.14 bench/revocation.py [--seconds 2] [--markdown FILE] [--json FILE]
"""

from __future__ import annotations

import argparse
import datetime
import json
import multiprocessing
import os
import platform
import shutil
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time
import uuid
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import asdict, dataclass
from multiprocessing.synchronize import Barrier
from pathlib import Path
from typing import Any

from tessarils_web.revocation import MemoryStore, RevocationStore

UNTIL = int(time.time()) + 3600
# Entries revoked before an is_revoked run; half the checks find one.
REVOKED = 1000


@dataclass(frozen=True)
class Row:
    store: str
    processes: int
    operation: str
    calls: int
    calls_per_second: float
    p50_us: float
    p99_us: float


def open_store(settings: dict[str, Any]) -> RevocationStore:
    if settings["kind"] == "memory":
        return MemoryStore()
    if settings["kind"] == "sqlite":
        from tessarils_web.revocation import SQLiteStore

        return SQLiteStore(settings["path"], synchronous=settings["synchronous"])
    from tessarils_web.revocation import RedisStore

    return RedisStore(settings["url"], prefix=settings["prefix"])


def populate(store: RevocationStore, run: str) -> None:
    for index in range(REVOKED):
        store.revoke(f"{run}-revoked-{index}", UNTIL)


def measure(
    settings: dict[str, Any], operation: str, run: str, worker: int, seconds: float, barrier: Barrier
) -> tuple[int, int, list[int]]:
    """One process's calls: (start, end, latency of each call), in nanoseconds."""
    store = open_store(settings)
    if settings["kind"] == "memory":
        populate(store, run)  # each process has a memory of its own
    store.is_revoked(f"{run}-warm-{worker}")  # connected before the clock starts
    latencies: list[int] = []
    barrier.wait()
    start = time.monotonic_ns()
    stop = start + int(seconds * 1e9)
    index = 0
    while True:
        before = time.monotonic_ns()
        if before >= stop:
            break
        if operation == "consume_once":
            store.consume_once(f"{run}-link-{worker}-{index}", UNTIL)
        else:
            store.is_revoked(f"{run}-{'revoked' if index % 2 else 'unknown'}-{index % REVOKED}")
        latencies.append(time.monotonic_ns() - before)
        index += 1
    return start, time.monotonic_ns(), latencies


def _measure_into(
    queue: multiprocessing.Queue[tuple[int, int, list[int]]],
    settings: dict[str, Any], operation: str, run: str, worker: int, seconds: float, barrier: Barrier,
) -> None:
    queue.put(measure(settings, operation, run, worker, seconds, barrier))


def run(label: str, settings: dict[str, Any], processes: int, operation: str, seconds: float) -> Row:
    run_id = uuid.uuid4().hex[:12]
    if settings["kind"] != "memory":
        populate(open_store(settings), run_id)
    context = multiprocessing.get_context("spawn")
    barrier = context.Barrier(processes)
    queue: multiprocessing.Queue[tuple[int, int, list[int]]] = context.Queue()
    workers = [
        context.Process(target=_measure_into, args=(queue, settings, operation, run_id, worker, seconds, barrier))
        for worker in range(processes)
    ]
    for worker in workers:
        worker.start()
    results = [queue.get(timeout=seconds + 120) for _ in workers]
    for worker in workers:
        worker.join()
        if worker.exitcode != 0:
            raise SystemExit(f"bench/revocation.py: a {label} worker failed")
    latencies = sorted(latency for _, _, each in results for latency in each)
    elapsed = (max(end for _, end, _ in results) - min(start for start, _, _ in results)) / 1e9
    quantiles = statistics.quantiles(latencies, n=100, method="inclusive")
    return Row(label, processes, operation, len(latencies), len(latencies) / elapsed,
               quantiles[49] / 1e3, quantiles[98] / 1e3)


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port: int = probe.getsockname()[1]
        return port


@contextmanager
def redis_server(directory: Path) -> Iterator[str | None]:
    """The URL of a redis-server started for the benchmark, or None without one."""
    if shutil.which("redis-server") is None:
        yield None
        return
    port = free_port()
    server = subprocess.Popen(
        ["redis-server", "--bind", "127.0.0.1", "--port", str(port), "--dir", str(directory),
         "--logfile", "redis.log", "--appendonly", "yes", "--appendfsync", "always", "--save", ""],
        stdin=subprocess.DEVNULL,
    )
    try:
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if server.poll() is not None or time.monotonic() > deadline:
                    raise SystemExit("bench/revocation.py: redis-server did not start") from None
                time.sleep(0.05)
        yield f"redis://127.0.0.1:{port}/0"
    finally:
        server.terminate()
        server.wait(timeout=20)


def machine() -> str:
    model = platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} logical processors, {platform.system()} {platform.release()}"


def table(rows: list[Row]) -> str:
    lines = ["| store | processes | operation | calls/s | p50 µs | p99 µs |", "|---|--:|---|--:|--:|--:|"]
    for row in rows:
        lines.append(f"| {row.store} | {row.processes} | `{row.operation}` | {row.calls_per_second:,.0f} "
                     f"| {row.p50_us:,.1f} | {row.p99_us:,.1f} |")
    return "\n".join(lines)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0] if __doc__ else None)
    parser.add_argument("--seconds", type=float, default=2.0, help="how long each process calls, per row")
    parser.add_argument("--redis-url", help="a Redis server to measure (else one is started, if installed)")
    parser.add_argument("--markdown", type=Path, help="also write the stamped table to this file")
    parser.add_argument("--json", type=Path, help="also write the rows and their conditions to this file")
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="revocation-bench-") as scratch:
        directory = Path(scratch)
        with redis_server(directory) if arguments.redis_url is None else _given(arguments.redis_url) as redis_url:
            stores: list[tuple[str, dict[str, Any]]] = [
                ("memory", {"kind": "memory"}),
                ("SQLite, synchronous=FULL", {"kind": "sqlite", "path": str(directory / "full.sqlite3"),
                                              "synchronous": "FULL"}),
                ("SQLite, synchronous=NORMAL", {"kind": "sqlite", "path": str(directory / "normal.sqlite3"),
                                                "synchronous": "NORMAL"}),
            ]
            if redis_url is not None:
                stores.append(("Redis, appendfsync always" if arguments.redis_url is None else "Redis",
                               {"kind": "redis", "url": redis_url, "prefix": f"bench:{uuid.uuid4().hex}:"}))
            rows = [
                run(label, settings, processes, operation, arguments.seconds)
                for label, settings in stores
                for processes in (1, 4)
                for operation in ("is_revoked", "consume_once")
            ]

    conditions = {
        "date": datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%d %H:%M UTC"),
        "machine": machine(),
        "python": platform.python_version(),
        "sqlite": sqlite3.sqlite_version,
        "command": " ".join([Path(sys.argv[0]).as_posix(), *sys.argv[1:]]),
        "seconds_per_row": arguments.seconds,
    }
    stamped = (f"Measured {conditions['date']} on {conditions['machine']}; Python {conditions['python']}, "
               f"SQLite {conditions['sqlite']}; `{conditions['command']}`; each row {arguments.seconds:g} s.\n\n"
               f"{table(rows)}\n")
    print(stamped, end="")
    if arguments.markdown is not None:
        arguments.markdown.write_text(stamped)
    if arguments.json is not None:
        arguments.json.write_text(json.dumps({"conditions": conditions, "rows": [asdict(row) for row in rows]},
                                             indent=2) + "\n")


@contextmanager
def _given(url: str) -> Iterator[str | None]:
    yield url


if __name__ == "__main__":
    main()
